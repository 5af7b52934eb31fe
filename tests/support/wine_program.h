// Windows tests of the real Kolvy.exe: a fresh program folder holding a copy of the program, the
// program started there, its windows found and waited for, and every process the test started
// ended by its own handle.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "tests/support/test_env.h"

namespace kolvy::test {

constexpr DWORD kWineStartTimeout = 30000;

// True once `done` holds, false after the time-out.
bool waitFor(const std::function<bool()>& done, DWORD timeout = kWineStartTimeout);
// A visible top-level window of the process (any process for pid 0) of the class, whose title
// begins with `title`; null when there is none (yet).
HWND findWindow(DWORD pid, const char* cls, std::string_view title = {});
HWND waitWindow(DWORD pid, const char* cls, DWORD timeout, std::string_view title = {});
// A visible child window of the class.
HWND childOfClass(HWND parent, const char* cls);
std::string textOf(HWND h);
// The text of a message box.
inline std::string boxText(HWND box) {
    return textOf(GetDlgItem(box, 0xFFFF));
}
// A button of a dialog, pressed as a click would.
inline void press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

// A process of the test; one still running at the end is ended by its own handle.
class TestProcess {
  public:
    TestProcess(const std::string& exe, const std::string& args, const std::string& folder);
    ~TestProcess();
    TestProcess(const TestProcess&) = delete;
    TestProcess& operator=(const TestProcess&) = delete;
    bool started() const { return started_; }
    DWORD pid() const { return pi_.dwProcessId; }
    HANDLE handle() const { return pi_.hProcess; }
    // The exit code, or STILL_ACTIVE after the time-out.
    DWORD waitExit(DWORD timeout = 20000);

  private:
    PROCESS_INFORMATION pi_{};
    bool started_ = false;
};

// Kolvy.exe started in its program folder.
class Kolvy : public TestProcess {
  public:
    explicit Kolvy(const std::string& folder);
    // The main window, waited for at the first call.
    HWND main();
    // The next box or dialog of the program (whose title begins with `title`); null when none
    // comes.
    HWND box(DWORD timeout = 10000, std::string_view title = {}) {
        return waitWindow(pid(), "#32770", timeout, title);
    }
    void command(int id) { PostMessageA(main(), WM_COMMAND, static_cast<WPARAM>(id), 0); }

  private:
    HWND main_ = nullptr;
};

// A test on a fresh program folder holding a copy of Kolvy.exe.
class WineProgramTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // The ini value as the program left it, or "<none>".
    std::string setting(std::string_view section, std::string_view key) const;
    void set(std::string_view section, std::string_view key, std::string_view value) const;
    void writeIni(std::string_view text) const { t.write("Kolvy.ini", text); }
    // Closes the main window; the program ends cleanly and marks its end in the ini.
    void closeCleanly(Kolvy& k) const;
    // Waits until the file is there and returns it ("<missing>" after the time-out).
    std::string readWhenThere(std::string_view rel, DWORD timeout = 10000) const;

    TestEnv t;
};

}  // namespace kolvy::test
