// Calendar arithmetic shared by the date parser and the store's stored times.
#pragma once

#include <cstdint>

namespace kolvy {

// Days since 1970-01-01 of a proleptic Gregorian date (the day may run past the month's end).
constexpr int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = month > 2 ? month - 3 : month + 9;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace kolvy
