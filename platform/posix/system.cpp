#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/posix.h"

namespace kolvy::platform {
namespace {

class PosixClock final : public Clock {
  public:
    int64_t now() override { return static_cast<int64_t>(std::time(nullptr)); }
    bool toLocal(int64_t seconds, LocalTime& out) override {
        const auto t = static_cast<time_t>(seconds);
        struct tm tm {};
        if (!localtime_r(&t, &tm)) return false;
        out.year = tm.tm_year + 1900;
        out.month = tm.tm_mon + 1;
        out.day = tm.tm_mday;
        out.hour = tm.tm_hour;
        out.minute = tm.tm_min;
        out.second = tm.tm_sec;
        out.weekday = tm.tm_wday;
        return true;
    }
};

// Nobody can answer a box on the native build: the text goes to stderr and questions get Cancel,
// the answer that never deletes anything.
class StderrReporter final : public Reporter {
  public:
    Answer show(std::string_view text, std::string_view caption, Icon, Buttons buttons) override {
        const auto t = sjisToUtf8(text), c = sjisToUtf8(caption);
        std::fprintf(stderr, "[%s] %s\n", c ? c->c_str() : "", t ? t->c_str() : "");
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
};

class QueueMainThread final : public MainThread {
  public:
    bool post(ThreadMessage msg) override {
        std::lock_guard lock(mutex);
        queue.push_back(msg);
        return true;
    }
    std::mutex mutex;
    std::deque<ThreadMessage> queue;
};

QueueMainThread& queueThread() {
    static QueueMainThread q;
    return q;
}

}  // namespace

Clock& systemClock() {
    static PosixClock clock;
    return clock;
}

std::unique_ptr<Reporter> makeReporter() {
    return std::make_unique<StderrReporter>();
}

std::string executablePath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return posix::programName(std::string_view(buf, static_cast<size_t>(n))).value_or("");
}

std::string tempFolder() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && *t) ? t : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return posix::programName(dir).value_or("/tmp");
}

void sleepMs(unsigned ms) {
    ::usleep(static_cast<useconds_t>(ms) * 1000);
}

unsigned activeCodePage() {
    return 932;
}

MainThread& mainThread() {
    return queueThread();
}

std::vector<ThreadMessage> drainPosted() {
    auto& q = queueThread();
    std::lock_guard lock(q.mutex);
    std::vector<ThreadMessage> out(q.queue.begin(), q.queue.end());
    q.queue.clear();
    return out;
}

}  // namespace kolvy::platform
