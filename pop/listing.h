// The two listings of a POP3 mailbox, LIST (number and size of every message) and UIDL (number
// and unique id), read from their complete replies. Lines are matched to messages by the number
// each line names (RFC 1939), not by their position, so a server whose two listings differ can
// never lend one message another's id.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kolvy::pop {

enum class ListingStatus {
    Ok,
    Empty,      // "+OK" and the "." line at once: no messages
    Refused,    // the reply does not begin with "+"
    Malformed,  // a line without number, blank or size, a number listed twice, no "." line
};

struct ListedSize {
    int32_t number;
    uint64_t size;  // a size of more digits than fit reads as UINT64_MAX
};

struct ListedId {
    int32_t number;
    std::string_view id;  // into the reply; may be empty ("3 " with nothing after the blank)
};

// Message numbers run from 1; a number of more digits than this is no message number.
inline constexpr size_t kMaxNumberDigits = 9;

ListingStatus parseList(std::string_view reply, std::vector<ListedSize>& out);
ListingStatus parseUidl(std::string_view reply, std::vector<ListedId>& out);

}  // namespace kolvy::pop
