#include <atomic>
#include <string>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace kolvy::platform {
namespace win32 {
namespace {
std::atomic<HWND> g_owner{nullptr};
std::atomic<HWND> g_postWindow{nullptr};
}  // namespace
void setPostWindow(HWND hwnd) {
    g_postWindow = hwnd;
}
void setOwnerWindow(HWND hwnd) {
    g_owner = hwnd;
}
HWND ownerWindow() {
    return g_owner;
}
}  // namespace win32

namespace {

constexpr int64_t kEpochDiff = 11644473600LL;  // seconds from 1601 to 1970

class Win32Clock final : public Clock {
  public:
    int64_t now() override {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        const uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        return static_cast<int64_t>(t / 10000000ULL) - kEpochDiff;
    }
    bool toLocal(int64_t seconds, LocalTime& out) override {
        if (seconds < -kEpochDiff) return false;
        const uint64_t t = static_cast<uint64_t>(seconds + kEpochDiff) * 10000000ULL;
        FILETIME ft{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
        SYSTEMTIME utc, local;
        if (!FileTimeToSystemTime(&ft, &utc)) return false;
        // The zone rules of that date, not of today.
        if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
        out.year = local.wYear;
        out.month = local.wMonth;
        out.day = local.wDay;
        out.hour = local.wHour;
        out.minute = local.wMinute;
        out.second = local.wSecond;
        out.weekday = local.wDayOfWeek;
        return true;
    }
};

class MessageBoxReporter final : public Reporter {
  public:
    Answer show(std::string_view text, std::string_view caption, Icon icon,
                Buttons buttons) override {
        UINT flags = MB_SETFOREGROUND;
        switch (icon) {
            case Icon::Exclamation:
                flags |= MB_ICONEXCLAMATION;
                break;
            case Icon::Information:
                flags |= MB_ICONINFORMATION;
                break;
            case Icon::Question:
                flags |= MB_ICONQUESTION;
                break;
        }
        flags |= buttons == Buttons::OkCancel ? (MB_OKCANCEL | MB_DEFBUTTON2) : MB_OK;
        const std::string t(text), c(caption);
        const int r = MessageBoxA(win32::ownerWindow(), t.c_str(), c.c_str(), flags);
        return r == IDOK ? Answer::Ok : Answer::Cancel;
    }
};

class Win32MainThread final : public MainThread {
  public:
    Win32MainThread() : id_(GetCurrentThreadId()) {}
    bool post(ThreadMessage msg) override {
        // A window's posts survive modal loops; a thread message would be lost in them.
        if (HWND w = win32::g_postWindow.load())
            return PostMessageA(w, msg.message, msg.wParam, msg.lParam) != 0;
        return PostThreadMessageA(id_, msg.message, msg.wParam, msg.lParam) != 0;
    }

  private:
    DWORD id_;
};

}  // namespace

Clock& systemClock() {
    static Win32Clock clock;
    return clock;
}

std::unique_ptr<Reporter> makeReporter() {
    return std::make_unique<MessageBoxReporter>();
}

std::string executablePath() {
    std::string buf(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.assign(buf.size() * 2, '\0');
    }
}

std::string tempFolder() {
    char buf[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buf, buf);
    if (n == 0 || n > MAX_PATH) return "C:\\";
    std::string s(buf, n);
    while (s.size() > 3 && (s.back() == '\\' || s.back() == '/'))
        s.pop_back();
    return s;
}

void sleepMs(unsigned ms) {
    Sleep(ms);
}

unsigned activeCodePage() {
    return GetACP();
}

MainThread& mainThread() {
    static Win32MainThread t;
    return t;
}

std::vector<ThreadMessage> drainPosted() {
    return {};
}

}  // namespace kolvy::platform
