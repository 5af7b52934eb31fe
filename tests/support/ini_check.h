// One-line checks of several ini entries, for tests whose outcome is what a run left in the ini.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kolvy::test {

// Entries joined by "|": "section/key=value" holds that value, "section/key!" is absent and
// "section!" has no keys. A failure lists each entry that differs with what the ini holds.
inline ::testing::AssertionResult iniHolds(platform::Profile& ini, std::string_view entries) {
    std::string wrong;
    for (size_t at = 0; at <= entries.size();) {
        size_t bar = entries.find('|', at);
        if (bar == std::string_view::npos) bar = entries.size();
        const std::string_view e = entries.substr(at, bar - at);
        at = bar + 1;
        const size_t eq = e.find('='), slash = e.find('/');
        const bool absent = eq == std::string_view::npos;
        const std::string_view name = absent ? e.substr(0, e.size() - 1) : e.substr(0, eq);
        std::string got;
        if (slash == std::string_view::npos || slash > eq) {
            got = ini.keys(name).empty() ? "!" : "=(keys)";
        } else {
            const auto v = ini.read(name.substr(0, slash), name.substr(slash + 1));
            got = v ? "=" + *v : "!";
        }
        if (got != (absent ? std::string("!") : std::string(e.substr(eq))))
            wrong += "\n  " + std::string(e) + " but " + std::string(name) + got;
    }
    if (wrong.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong;
}

}  // namespace kolvy::test
