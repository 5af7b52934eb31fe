// A reporter that shows no box and answers every question Cancel: for callers that take failures
// as results only (exported functions asked for silence, fuzzing, benchmarks).
#pragma once

#include "platform/platform.h"

namespace kolvy::platform {

class SilentReporter final : public Reporter {
  public:
    Answer show(std::string_view, std::string_view, Icon, Buttons) override {
        return Answer::Cancel;
    }
};

}  // namespace kolvy::platform
