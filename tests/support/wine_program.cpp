#include "tests/support/wine_program.h"

namespace kolvy::test {

bool waitFor(const std::function<bool()>& done, DWORD timeout) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeout) return false;
        Sleep(50);
    }
    return true;
}

namespace {

struct Search {
    DWORD pid;
    const char* cls;
    std::string_view title;
    HWND found;
};

BOOL CALLBACK matches(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if ((s->pid == 0 || pid == s->pid) && lstrcmpA(cls, s->cls) == 0 && IsWindowVisible(h) &&
        textOf(h).starts_with(s->title)) {
        s->found = h;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND findWindow(DWORD pid, const char* cls, std::string_view title) {
    Search s{pid, cls, title, nullptr};
    EnumWindows(matches, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND waitWindow(DWORD pid, const char* cls, DWORD timeout, std::string_view title) {
    HWND found = nullptr;
    waitFor([&] { return (found = findWindow(pid, cls, title)) != nullptr; }, timeout);
    return found;
}

HWND childOfClass(HWND parent, const char* cls) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char name[64] = {};
        GetClassNameA(c, name, sizeof name);
        if (lstrcmpA(name, cls) == 0 && IsWindowVisible(c)) return c;
    }
    return nullptr;
}

std::string textOf(HWND h) {
    char buf[2048] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

TestProcess::TestProcess(const std::string& exe, const std::string& args,
                         const std::string& folder) {
    std::string cmd = "\"" + exe + "\"" + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    started_ = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.c_str(), &si, &pi_) != 0;
}

TestProcess::~TestProcess() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(pi_.hProcess, 99);  // only this test's own process, by its handle
        WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
}

DWORD TestProcess::waitExit(DWORD timeout) {
    WaitForSingleObject(pi_.hProcess, timeout);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

Kolvy::Kolvy(const std::string& folder) : TestProcess(folder + "\\Kolvy.exe", "", folder) {}

HWND Kolvy::main() {
    if (!main_ && started()) main_ = waitWindow(pid(), "MainWindow", kWineStartTimeout);
    return main_;
}

void WineProgramTest::SetUp() {
    ASSERT_TRUE(CopyFileA(KOLVY_EXE_PATH, t.path("Kolvy.exe").c_str(), FALSE)) << KOLVY_EXE_PATH;
}

std::string WineProgramTest::setting(std::string_view section, std::string_view key) const {
    return t.ini->read(section, key).value_or("<none>");
}

void WineProgramTest::set(std::string_view section, std::string_view key,
                          std::string_view value) const {
    ASSERT_EQ(t.ini->write(section, key, value), Err::None);
}

void WineProgramTest::closeCleanly(Kolvy& k) const {
    // A box just answered goes first: a close inside its loop would end nothing.
    waitFor([&] { return k.box(0) == nullptr; }, 5000);
    PostMessageA(k.main(), WM_CLOSE, 0, 0);
    // A close refused while a composer finishes its draft is answered and tried again.
    for (int i = 0; i < 5 && k.waitExit(4000) == STILL_ACTIVE; ++i) {
        if (HWND refusal = k.box(0)) {
            press(refusal, IDOK);
            waitFor([&] { return !IsWindow(refusal); }, 5000);
            Sleep(500);
            PostMessageA(k.main(), WM_CLOSE, 0, 0);
        }
    }
    EXPECT_EQ(k.waitExit(0), 0u);
    EXPECT_EQ(setting("Option", "ErrorLogOut"), "0");
}

std::string WineProgramTest::readWhenThere(std::string_view rel, DWORD timeout) const {
    waitFor([&] { return t.fs->exists(t.path(rel)); }, timeout);
    return t.read(rel);
}

}  // namespace kolvy::test
