#include <cstring>

#include "core/calendar.h"
#include "mime/header.h"

namespace kolvy::mime {
namespace {

// A token of at most `maxLen` bytes ending at `sep`; false at the text's end (CR, NUL) or when
// the separator does not come in time.
bool token(std::string_view v, size_t& i, char sep, size_t maxLen, int64_t& value, bool& digits) {
    size_t j = i;
    while (j < v.size() && v[j] != sep && j - i < maxLen)
        ++j;
    if (j >= v.size() || v[j] != sep) return false;
    value = 0;
    digits = false;
    for (size_t k = i; k < j && v[k] >= '0' && v[k] <= '9'; ++k) {
        value = value * 10 + (v[k] - '0');
        digits = true;
    }
    i = j + 1;
    return true;
}

// The clock time of a date is taken as Japan's, whatever zone it names.
constexpr int64_t kZoneSeconds = 9 * 3600;
constexpr int64_t kFirstYear = 1970, kLastYear = 2105;
constexpr size_t kNumberBytes = 7;

}  // namespace

std::optional<uint32_t> makeGmt(std::string_view date) {
    // The value ends at the line's end.
    size_t n = 0;
    while (n < date.size() && date[n] != '\r' && date[n] != '\0')
        ++n;
    const std::string_view v = date.substr(0, n);
    size_t i = 0;
    if (!v.empty() && v[0] >= 'A' && v[0] <= 'Z') {  // a weekday
        i = std::min<size_t>(3, v.size());
        while (i < v.size() && (v[i] == ',' || v[i] == ' '))
            ++i;
    }
    int64_t day, year, hour, minute, second;
    bool digits;
    if (!token(v, i, ' ', kNumberBytes, day, digits) || day == 0) return std::nullopt;
    const size_t m = i;
    auto ch = [&](size_t k) { return m + k < v.size() ? v[m + k] : '\0'; };
    int month;
    switch (ch(0)) {
        case 'J':
            month = ch(1) == 'a' ? 1 : ch(2) == 'n' ? 6 : 7;
            break;
        case 'F':
            month = 2;
            break;
        case 'M':
            month = ch(2) == 'r' ? 3 : 5;
            break;
        case 'A':
            month = ch(1) == 'p' ? 4 : 8;
            break;
        case 'S':
            month = 9;
            break;
        case 'O':
            month = 10;
            break;
        case 'N':
            month = 11;
            break;
        case 'D':
            month = 12;
            break;
        default:
            return std::nullopt;
    }
    i = m + 4;
    if (i > v.size() || !token(v, i, ' ', 4, year, digits) || !digits) return std::nullopt;
    if (year < 50) {
        year += 2000;  // two-digit years as RFC 5322 reads them
    } else if (year < 1000) {
        year += 1900;  // two and three digits count from 1900
    }
    auto clock = [&](char sep, int64_t& value) {
        if (i < v.size() && v[i] == '0') ++i;
        return token(v, i, sep, kNumberBytes, value, digits);
    };
    if (!clock(':', hour) || !clock(':', minute) || !clock(' ', second)) return std::nullopt;
    if (year < kFirstYear || year > kLastYear) return 0u;
    const int64_t t = daysFromCivil(year, month, 1) + (day - 1);
    const int64_t seconds = t * 86400 + hour * 3600 + minute * 60 + second - kZoneSeconds;
    if (seconds < 0 || seconds > static_cast<int64_t>(UINT32_MAX)) return 0u;
    return static_cast<uint32_t>(seconds);
}

}  // namespace kolvy::mime

extern "C" {

void KOLVY_STDCALL MakeGMT(const char* date, uint32_t* seconds) {
    if (!date || !seconds) return;
    size_t n = 0;  // the value ends at the line's end, not at the end of the message
    while (date[n] != '\0' && date[n] != '\r')
        ++n;
    if (const auto t = kolvy::mime::makeGmt(std::string_view(date, n))) *seconds = *t;
}

}  // extern "C"
