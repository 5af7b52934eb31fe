// The periodic grid of timed receive orders and timed send tabs: a start time sets the phase,
// the interval the step, in minutes of the day.
#pragma once

#include <cstdint>

namespace kolvy {

// Due when the minutes elapsed since the start (a start later in the day counts from yesterday,
// exactly now counts as a whole day) are at least the interval and a multiple of it. An interval
// of 0 means once a day.
constexpr bool periodDue(int nowMinute, int startMinute, int intervalMinutes) {
    int elapsed = nowMinute - startMinute;
    if (elapsed < 0) elapsed += 1440;
    if (elapsed == 0) elapsed = 1440;
    const int interval = intervalMinutes > 0 ? intervalMinutes : 1440;
    return elapsed >= interval && elapsed % interval == 0;
}

// A timer that fires about once a minute may skip a minute or fire twice in one: every minute
// between the last one evaluated and now is evaluated exactly once (at most a day's worth).
class MinuteGate {
  public:
    // Calls f(minuteOfDay) for each minute not yet evaluated up to `absoluteMinute` (minutes
    // since 1970, local time).
    template <class F>
    void advance(int64_t absoluteMinute, F&& f) {
        if (last_ < 0 || absoluteMinute - last_ > 1440 || absoluteMinute < last_) {
            last_ = absoluteMinute - 1;
        }
        for (int64_t m = last_ + 1; m <= absoluteMinute; ++m)
            f(static_cast<int>(m % 1440));
        last_ = absoluteMinute;
    }

  private:
    int64_t last_ = -1;
};

}  // namespace kolvy
