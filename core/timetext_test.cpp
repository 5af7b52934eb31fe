#include "core/timetext.h"

#include <gtest/gtest.h>

namespace kolvy {
namespace {

TEST(TimeText, CivilTimeOfKnownMoments) {
    // 2000-12-05 03:34:56 UTC was a Tuesday; at UTC+9 it is 12:34:56 the same day.
    auto t = civilTime(975987296);
    EXPECT_EQ(t.year, 2000);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 5);
    EXPECT_EQ(t.hour, 3);
    EXPECT_EQ(t.minute, 34);
    EXPECT_EQ(t.second, 56);
    EXPECT_EQ(t.weekday, 2);
    EXPECT_EQ(civilTime(975987296, 9 * 3600).hour, 12);
    // Leap day, and the last second before 1970.
    t = civilTime(951782400);  // 2000-02-29 00:00:00
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    t = civilTime(-1);
    EXPECT_EQ(t.year, 1969);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 31);
    EXPECT_EQ(t.second, 59);
    EXPECT_EQ(t.weekday, 3);
}

TEST(TimeText, TwoDigitYearsStayTwoDigits) {
    LocalTime t;
    t.year = 2005;
    t.month = 12;
    t.day = 3;
    t.hour = 7;
    t.minute = 9;
    EXPECT_EQ(tenDigitTime(t), "0512030709");
    EXPECT_EQ(yearMonth(t), "0512");
    t.year = 2100;
    EXPECT_EQ(yearMonth(t), "0012");
    t.year = 1999;  // never negative
    EXPECT_EQ(tenDigitTime(t).substr(0, 2), "99");
}

}  // namespace
}  // namespace kolvy
