#include "core/schedule.h"

#include <gtest/gtest.h>

#include <vector>

namespace kolvy {
namespace {

constexpr int at(int h, int m) {
    return h * 60 + m;
}

TEST(PeriodicGrid, StartSetsThePhaseIntervalTheStep) {
    struct Case {
        int now, start, interval;
        bool due;
    };
    const Case cases[] = {
        {at(1, 0), at(23, 0), 120, true},   // start later in the day: from yesterday
        {at(0, 10), at(8, 10), 120, true},  // the grid runs through midnight
        {at(22, 10), at(8, 10), 120, true},
        {at(8, 10), at(8, 10), 120, true},  // exactly the start: a whole day elapsed
        {at(9, 10), at(8, 10), 120, false},
        {at(8, 11), at(8, 10), 120, false},
        {at(8, 10), at(8, 10), 0, true},  // 0: once a day at the start
        {at(8, 15), at(8, 10), 0, false},
        {at(12, 0), at(8, 10), 0, false},
        {at(8, 15), at(8, 10), 5, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.now << " " << c.start << " " << c.interval);
        EXPECT_EQ(periodDue(c.now, c.start, c.interval), c.due);
    }
}

TEST(MinuteGate, EachMinuteExactlyOnce) {
    MinuteGate g;
    std::vector<int> seen;
    auto note = [&](int m) { seen.push_back(m); };
    const int64_t day = 20000 * 1440;
    g.advance(day + 100, note);
    g.advance(day + 100, note);  // fired twice in one minute
    g.advance(day + 103, note);  // skipped two minutes
    EXPECT_EQ(seen, (std::vector<int>{100, 101, 102, 103}));
    seen.clear();
    g.advance(day + 1439, note);
    g.advance(day + 1440, note);  // midnight
    EXPECT_EQ(seen.front(), 104);
    EXPECT_EQ(seen.back(), 0);
    EXPECT_EQ(seen.size(), 1337u);
    seen.clear();
    g.advance(day + 100, note);  // the clock went back: only now
    EXPECT_EQ(seen, (std::vector<int>{100}));
}

}  // namespace
}  // namespace kolvy
