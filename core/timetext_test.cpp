#include "core/timetext.h"

#include <gtest/gtest.h>

#include <tuple>

namespace kolvy {
namespace {

auto fields(const LocalTime& t) {
    return std::tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.weekday);
}

TEST(TimeText, CivilTimeOfKnownMoments) {
    const struct Case {
        int64_t seconds, offset;
        std::tuple<int, int, int, int, int, int, int> local;  // weekday 0 is Sunday
    } cases[] = {
        {975987296, 0, {2000, 12, 5, 3, 34, 56, 2}},
        {975987296, 9 * 3600, {2000, 12, 5, 12, 34, 56, 2}},
        {951782400, 0, {2000, 2, 29, 0, 0, 0, 2}},  // a leap day
        {-1, 0, {1969, 12, 31, 23, 59, 59, 3}},     // the last second before 1970
    };
    for (const Case& c : cases)
        EXPECT_EQ(fields(civilTime(c.seconds, c.offset)), c.local) << c.seconds;
}

TEST(TimeText, TwoDigitYearsStayTwoDigits) {
    // Never negative, never three digits.
    for (const auto& [year, ten, month] : {std::tuple{2005, "0512030709", "0512"},
                                           {2100, "0012030709", "0012"},
                                           {1999, "9912030709", "9912"}}) {
        const LocalTime t{year, 12, 3, 7, 9, 0, 4};
        EXPECT_EQ(tenDigitTime(t), ten) << year;
        EXPECT_EQ(yearMonth(t), month) << year;
    }
}

}  // namespace
}  // namespace kolvy
