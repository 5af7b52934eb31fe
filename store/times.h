// Calendar arithmetic of the store: the stored times of index records are seconds since 1970 UTC,
// converted from Japanese local time (UTC+9) where they come from the status line's digits.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kolvy::store {

inline constexpr int64_t kJapanOffset = 9 * 3600;

// Days since 1970-01-01 of a proleptic Gregorian date.
constexpr int64_t daysFromCivil(int64_t year, int month, int day) {
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = month > 2 ? month - 3 : month + 9;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The local time read as if it were UTC, in seconds since 1970.
constexpr int64_t civilSeconds(const platform::LocalTime& t) {
    return daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

}  // namespace kolvy::store
