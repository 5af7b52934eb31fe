// The rules' view of a message file: its header record from the stored header reader, and its
// body after the empty line as one text piece (stored text parts are Shift_JIS already).
#pragma once

#include <string>

#include "core/records.h"
#include "rules/stored_message.h"

namespace kolvy::mime {

class StoredReader final : public rules::StoredMessageReader {
  public:
    bool read(std::string& text, rules::StoredView& out) override;

  private:
    HeaderInfo header_{};
};

}  // namespace kolvy::mime
