// Measuring Kolvy against a peer in the same run and printing one comparable line:
//   BENCH <name> kolvy=<value><unit> peer=<value><unit> ratio=<r>
// ratio > 1 means Kolvy is ahead (throughput kolvy/peer, or time peer/kolvy).
#pragma once

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kolvy::bench {

// A monotonic clock in seconds. (<chrono> cannot be compiled to the CP932 execution character
// set: it spells the microsecond suffix with a character CP932 lacks.)
inline double monotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Best of `runs` wall-clock timings of fn, in seconds (the best run is the least disturbed).
inline double bestSeconds(const std::function<void()>& fn, int runs = 5) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const double t0 = monotonicSeconds();
        fn();
        best = std::min(best, monotonicSeconds() - t0);
    }
    return best;
}

inline void printLine(const std::string& name, double kolvy, double peer, const char* unit,
                      double ratio) {
    std::printf("BENCH %s kolvy=%.4g%s peer=%.4g%s ratio=%.3f\n", name.c_str(), kolvy, unit, peer,
                unit, ratio);
    std::fflush(stdout);
}

// Both functions process `bytes` bytes; reported as MB/s.
inline void compareThroughput(const std::string& name, double bytes,
                              const std::function<void()>& kolvy, const std::function<void()>& peer,
                              int runs = 5) {
    const double k = bytes / bestSeconds(kolvy, runs) / 1e6;
    const double p = bytes / bestSeconds(peer, runs) / 1e6;
    printLine(name, k, p, "MB/s", k / p);
}

// Reported as milliseconds per run.
inline void compareTime(const std::string& name, const std::function<void()>& kolvy,
                        const std::function<void()>& peer, int runs = 5) {
    const double k = bestSeconds(kolvy, runs) * 1e3;
    const double p = bestSeconds(peer, runs) * 1e3;
    printLine(name, k, p, "ms", p / k);
}

// The measurements a run asks for: all of them without an argument; with one, those whose name
// contains it.
class Selection {
  public:
    Selection(int argc, char** argv) : only_(argc > 1 ? argv[1] : "") {}
    bool wanted(const std::string& name) const { return name.find(only_) != std::string::npos; }

  private:
    std::string only_;
};

}  // namespace kolvy::bench
