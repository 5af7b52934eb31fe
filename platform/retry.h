// The one retry policy: an operation on a file that another program may hold for a moment (a
// virus scanner, an editor that has just ended, a second reader) is tried again after a pause
// that grows, a fixed number of times. Callers say which failures are worth another try and how
// a retry is logged; everything else fails at once.
#pragma once

#include <functional>

#include "core/result.h"
#include "platform/platform.h"

namespace kolvy::platform {

struct RetryPolicy {
    int tries = 3;                // the first try included
    unsigned firstPauseMs = 100;  // before the second try
    unsigned growth = 2;          // each later pause is this many times the one before
};

// A file held by another program: three tries, 100 ms and then 200 ms apart.
inline constexpr RetryPolicy kBusyFileRetry{};

// Told before each new try: the number of the try that failed (from 1) and why.
using RetryNote = std::function<void(int failedTry, Err why)>;

inline Err errorOf(Err e) {
    return e;
}
template <class T>
Err errorOf(const Result<T>& r) {
    return r ? Err::None : r.error();
}

// Calls `attempt` until it succeeds, fails with an error that `worthRetry` refuses, or the
// tries are used up; returns what the last call returned.
template <class Attempt, class WorthRetry>
auto retry(const RetryPolicy& policy, Attempt&& attempt, WorthRetry&& worthRetry,
           const RetryNote& note = {}) -> decltype(attempt()) {
    auto outcome = attempt();
    unsigned pause = policy.firstPauseMs;
    for (int failed = 1; failed < policy.tries; ++failed) {
        const Err e = errorOf(outcome);
        if (e == Err::None || !worthRetry(e)) break;
        if (note) note(failed, e);
        sleepMs(pause);
        pause *= policy.growth;
        outcome = attempt();
    }
    return outcome;
}

// The usual case: only a sharing or permission refusal (Err::Access) is worth another try.
template <class Attempt>
auto retryWhileBusy(Attempt&& attempt, const RetryNote& note = {}) -> decltype(attempt()) {
    return retry(
        kBusyFileRetry, std::forward<Attempt>(attempt), [](Err e) { return e == Err::Access; },
        note);
}

}  // namespace kolvy::platform
