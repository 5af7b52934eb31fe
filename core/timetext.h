// Small time texts shared by the logs and the message files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kolvy {

// A calendar date and clock time (the platform's clock fills it).
struct LocalTime {
    int year = 1970;  // full year
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int hour = 0, minute = 0, second = 0;
    int weekday = 4;  // 0 Sunday .. 6 Saturday
};

// Two digits of the year (the year within its century; never negative or three digits).
inline int twoDigitYear(int year) {
    return ((year % 100) + 100) % 100;
}

// "YYMMDDhhmm": the stamp of the status line and of the index error log.
inline std::string tenDigitTime(const LocalTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d", twoDigitYear(t.year), t.month % 100,
                  t.day % 100, t.hour % 100, t.minute % 100);
    return buf;
}

// "YYMM": the month of a monthly log file name.
inline std::string yearMonth(const LocalTime& t) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d%02d", twoDigitYear(t.year), t.month % 100);
    return buf;
}

// The calendar date and clock time of a count of seconds since 1970 in a zone `offset` seconds
// east of UTC (proleptic Gregorian calendar, any 64-bit count).
inline LocalTime civilTime(int64_t seconds, int64_t offset = 0) {
    const int64_t t = seconds + offset;
    int64_t days = t / 86400;
    int64_t rem = t % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    LocalTime out;
    out.hour = static_cast<int>(rem / 3600);
    out.minute = static_cast<int>(rem / 60 % 60);
    out.second = static_cast<int>(rem % 60);
    out.weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    // Days to civil date (era-based, exact for negative counts too).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    out.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    out.year = static_cast<int>(yoe + era * 400 + (out.month <= 2 ? 1 : 0));
    return out;
}

}  // namespace kolvy
