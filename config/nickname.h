// The nickname table of "Nickname.txt": lines "address;nickname" ending in CR LF, read once at
// start-up. The list shows a nickname in place of the sender or recipient when the option asks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"

namespace kolvy::config {

// Field limits of the table: an address key of 126 bytes and a nickname of 63.
inline constexpr size_t kNicknameAddressMax = 126;
inline constexpr size_t kNicknameMax = 63;

struct NicknameEntry {
    std::string nickname;
    std::string address;
};

class Nicknames {
  public:
    // A missing file leaves the table empty.
    void load(Env& env);
    void parse(std::string_view text);
    // The nickname of the first entry with exactly this address; null when there is none.
    const std::string* find(std::string_view address) const;
    const std::vector<NicknameEntry>& entries() const { return entries_; }

  private:
    std::vector<NicknameEntry> entries_;
};

}  // namespace kolvy::config
