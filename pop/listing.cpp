#include "pop/listing.h"

#include <limits>
#include <unordered_set>

#include "pop/reply.h"

namespace kolvy::pop {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Walks the data lines of a multi-line reply: fn(line without its line end) for each line
// before the "." line; false from fn stops. Returns the status of the frame.
template <class Fn>
ListingStatus eachLine(std::string_view reply, Fn fn) {
    if (!popAccepted(reply)) return ListingStatus::Refused;
    size_t pos = reply.find('\n');
    if (pos == std::string_view::npos) return ListingStatus::Malformed;
    ++pos;
    bool any = false;
    while (pos < reply.size()) {
        size_t lf = reply.find('\n', pos);
        if (lf == std::string_view::npos) return ListingStatus::Malformed;
        std::string_view line = reply.substr(pos, lf - pos);
        pos = lf + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == ".") return any ? ListingStatus::Ok : ListingStatus::Empty;
        any = true;
        if (!fn(line)) return ListingStatus::Malformed;
    }
    return ListingStatus::Malformed;
}

// "<number> " at the start of a line: the number and the rest after the first blank.
bool splitNumber(std::string_view line, int32_t& number, std::string_view& rest) {
    size_t i = 0;
    int64_t n = 0;
    while (i < line.size() && isDigit(line[i])) {
        if (i == kMaxNumberDigits) return false;
        n = n * 10 + (line[i] - '0');
        ++i;
    }
    if (i == 0 || n == 0 || i >= line.size() || line[i] != ' ') return false;
    number = static_cast<int32_t>(n);
    rest = line.substr(i + 1);
    return true;
}

// Walks the data lines as "<number> <rest>": fn(number, rest) for each; a line without its number,
// or with a number listed before, makes the listing malformed.
template <class Fn>
ListingStatus eachNumberedLine(std::string_view reply, Fn fn) {
    std::unordered_set<int32_t> seen;
    return eachLine(reply, [&](std::string_view line) {
        int32_t number = 0;
        std::string_view rest;
        if (!splitNumber(line, number, rest) || !seen.insert(number).second) return false;
        return fn(number, rest);
    });
}

}  // namespace

ListingStatus parseList(std::string_view reply, std::vector<ListedSize>& out) {
    out.clear();
    return eachNumberedLine(reply, [&](int32_t number, std::string_view rest) {
        while (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        size_t i = 0;
        uint64_t size = 0;
        constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
        while (i < rest.size() && isDigit(rest[i])) {
            const auto d = static_cast<uint64_t>(rest[i] - '0');
            size = size > (kMax - d) / 10 ? kMax : size * 10 + d;
            ++i;
        }
        if (i == 0) return false;
        out.push_back({number, size});
        return true;
    });
}

ListingStatus parseUidl(std::string_view reply, std::vector<ListedId>& out) {
    out.clear();
    return eachNumberedLine(reply, [&](int32_t number, std::string_view rest) {
        // The id ends at the first CR, also when more follows before the LF.
        out.push_back({number, rest.substr(0, rest.find('\r'))});
        return true;
    });
}

}  // namespace kolvy::pop
