// The real Kolvy.exe under Wine at work: shortcut keys typed into it, the tray, a second start
// while in the tray, the hot key, posts during a modal loop, the window's dialogs.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/timetext.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_env.h"

namespace {

using namespace kolvy;

constexpr DWORD kStartTimeout = 30000;
constexpr char kHotKeyTaken[] =
    "ホットキーが他のプログラムで使われているため登録できません。\n"
    "ホットキーなしで起動します。   ";

struct FindArgs {
    DWORD pid;
    const char* cls;
    const char* title;
    HWND found;
};

BOOL CALLBACK findWindowOf(HWND h, LPARAM lp) {
    auto* a = reinterpret_cast<FindArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[64] = {}, title[256] = {};
    GetClassNameA(h, cls, sizeof cls);
    GetWindowTextA(h, title, sizeof title);
    if (pid == a->pid && lstrcmpA(cls, a->cls) == 0 && IsWindowVisible(h) &&
        (!a->title || lstrcmpA(title, a->title) == 0)) {
        a->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND windowOf(DWORD pid, const char* cls, const char* title = nullptr) {
    FindArgs a{pid, cls, title, nullptr};
    EnumWindows(findWindowOf, reinterpret_cast<LPARAM>(&a));
    return a.found;
}

HWND waitWindow(DWORD pid, const char* cls, DWORD timeout, const char* title = nullptr) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND h = windowOf(pid, cls, title)) return h;
        if (GetTickCount() - start > timeout) return nullptr;
        Sleep(50);
    }
}

template <class Pred>
bool waitFor(Pred done, DWORD timeout = 5000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeout) return false;
        Sleep(50);
    }
    return true;
}

std::string textOf(HWND h) {
    char buf[2048] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

// Types one key, with Shift and Ctrl as asked, into whatever window has the focus.
void press(WORD vk, bool shift = false, bool ctrl = false, bool alt = false) {
    std::vector<INPUT> in;
    auto key = [&](WORD k, bool up) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = k;
        i.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (k == VK_DELETE ? KEYEVENTF_EXTENDEDKEY : 0);
        in.push_back(i);
    };
    if (alt) key(VK_MENU, false);
    if (ctrl) key(VK_CONTROL, false);
    if (shift) key(VK_SHIFT, false);
    key(vk, false);
    key(vk, true);
    if (shift) key(VK_SHIFT, true);
    if (ctrl) key(VK_CONTROL, true);
    if (alt) key(VK_MENU, true);
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

class Kolvy {
  public:
    explicit Kolvy(const std::string& folder) {
        const std::string exe = folder + "\\Kolvy.exe";
        std::string cmd = "\"" + exe + "\"";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        started_ = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  folder.c_str(), &si, &pi_) != 0;
    }
    ~Kolvy() {
        if (!started_) return;
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(pi_.hProcess, 99);  // only this test's own process, by its handle
            WaitForSingleObject(pi_.hProcess, 5000);
        }
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    bool started() const { return started_; }
    DWORD pid() const { return pi_.dwProcessId; }
    DWORD waitExit(DWORD timeout = 20000) {
        WaitForSingleObject(pi_.hProcess, timeout);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    HWND main() {
        if (!main_) main_ = waitWindow(pid(), "MainWindow", kStartTimeout);
        return main_;
    }
    HWND box(DWORD timeout, const char* title = nullptr) {
        return waitWindow(pid(), "#32770", timeout, title);
    }
    void command(int id) { PostMessageA(main(), WM_COMMAND, static_cast<WPARAM>(id), 0); }

  private:
    PROCESS_INFORMATION pi_{};
    HWND main_ = nullptr;
    bool started_ = false;
};

class WindowUnderWine : public ::testing::Test {
  protected:
    test::TempFolder folder;
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
    void SetUp() override {
        ASSERT_TRUE(CopyFileA(KOLVY_EXE_PATH, (folder / "Kolvy.exe").c_str(), FALSE));
        SetEnvironmentVariableA("KOLVY_TRACE_COMMANDS", "1");
    }
    void TearDown() override { SetEnvironmentVariableA("KOLVY_TRACE_COMMANDS", nullptr); }
    void writeIni(const std::string& text) {
        platform::writeWholeFile(*fs, folder / "Kolvy.ini", text);
    }
    std::string ini(std::string_view section, std::string_view key) {
        return platform::makeProfile(folder / "Kolvy.ini")->read(section, key).value_or("<none>");
    }
    // The lines the program traced to its communication log.
    std::vector<std::string> traced() {
        const std::string log =
            "_Log\\通信ログ" + yearMonth(platform::systemClock().localNow()) + ".txt";
        std::vector<std::string> lines;
        auto text = platform::readWholeFile(*fs, folder / log);
        if (!text) return lines;
        size_t at = 0;
        while (at < text->size()) {
            size_t end = text->find("\r\n", at);
            if (end == std::string::npos) end = text->size();
            lines.push_back(text->substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    void closeAndExpectCleanEnd(Kolvy& k) {
        PostMessageA(k.main(), WM_CLOSE, 0, 0);
        EXPECT_EQ(k.waitExit(), 0u);
        EXPECT_EQ(ini("Option", "ErrorLogOut"), "0");
    }
    // Back to the main window in front with nothing else open.
    void recover(Kolvy& k) {
        // A command may open a box that leads to the next one (send-and-receive receives).
        for (int i = 0; i < 5; ++i) {
            HWND box = k.box(150);
            if (!box) break;
            PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            waitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); });
        }
        if (HWND list = windowOf(k.pid(), "KolvyShortcutList")) PostMessageA(list, WM_CLOSE, 0, 0);
        if (!IsWindowVisible(k.main())) {
            k.command(40081);
            waitFor([&] { return IsWindowVisible(k.main()) != FALSE; });
        }
        SetForegroundWindow(k.main());
        waitFor([&] { return GetForegroundWindow() == k.main(); });
        Sleep(100);
    }
};

// The 37 shortcut actions with the keys the program comes with, and the command each one
// reaches (0: the action is no command).
struct ShortcutRow {
    int action;
    WORD vk;
    bool shift, ctrl;
    const char* name;
    int command;
};
const ShortcutRow kShortcutRows[] = {
    {0, 'Q', false, false, "Q", 40038},
    {1, VK_F1, false, false, "F1", 40034},
    {2, 'J', false, false, "J", 40003},
    {3, 'S', false, false, "S", 40004},
    {4, 'Z', false, false, "Z", 40005},
    {5, 'N', false, false, "N", 40007},
    {6, 'R', false, false, "R", 40008},
    {7, 'T', false, false, "T", 40006},
    {8, 'B', false, false, "B", 40037},
    {9, 'F', false, false, "F", 40010},
    {10, 'K', false, false, "K", 40009},
    {11, 'E', false, false, "E", 40011},
    {12, VK_F4, false, false, "F4", 40017},
    {13, 'Y', false, false, "Y", 40019},
    {14, 'A', false, false, "A", 40036},
    {15, 'W', false, true, "Ctrl+W", 40080},
    {16, 'M', false, false, "M", 40056},
    {17, 'C', false, false, "C", 40057},
    {18, VK_DELETE, false, false, "Delete", 40058},
    {19, VK_DELETE, true, false, "Shift+Delete", 40059},
    {20, 'U', false, false, "U", 40060},
    {21, 'X', false, false, "X", 40061},
    {22, 'W', false, false, "W", 40062},
    {23, 'G', false, false, "G", 40063},
    {24, 'L', false, false, "L", 40023},
    {25, VK_F3, false, false, "F3", 0},
    {26, VK_F2, false, false, "F2", 0},
    {27, 'V', false, false, "V", 0},
    {28, 'V', true, false, "Shift+V", 0},
    {29, VK_F5, false, false, "F5", 40087},
    {30, 'O', false, false, "O", 40096},
    {31, '1', false, true, "Ctrl+1", 0},
    {32, '2', false, true, "Ctrl+2", 0},
    {33, '3', false, true, "Ctrl+3", 0},
    {34, VK_F6, false, false, "F6", 40084},
    {35, VK_F7, true, false, "Shift+F7", 0},
    {36, VK_F8, true, false, "Shift+F8", 0},
};

TEST_F(WindowUnderWine, EveryDefaultShortcutReachesItsCommandAndOnlyThat) {
    // The compose keys start the editor: one that cannot start ends them with a box.
    writeIni("[Option]\r\nEditor=C:\\no-such-folder\\editor.exe\r\n");
    Kolvy k(folder.path());
    ASSERT_NE(k.main(), nullptr);
    recover(k);
    auto currentTab = [&] { return SendMessageA(GetDlgItem(k.main(), 11), TCM_GETCURSEL, 0, 0); };
    LRESULT beforeNextTab = -1;
    for (const ShortcutRow& r : kShortcutRows) {
        SCOPED_TRACE(r.name);
        const size_t before = traced().size();
        const LRESULT tabBefore = currentTab();
        const size_t expected = r.command ? 2 : 1;
        press(r.vk, r.shift, r.ctrl);
        EXPECT_TRUE(waitFor([&] { return traced().size() >= before + expected; }));
        Sleep(300);  // no second shortcut may follow
        const std::vector<std::string> lines = traced();
        ASSERT_GE(lines.size(), before + expected);
        EXPECT_EQ(lines[before], "shortcut " + std::to_string(r.action) + " " + r.name);
        if (r.command) {
            EXPECT_EQ(lines[before + 1].substr(0, 13), "command " + std::to_string(r.command));
        }
        // Only commands that this one started may follow.
        for (size_t i = before + expected; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].substr(0, 8), "command ") << lines[i];
        }
        if (r.action == 25) {  // next tab
            EXPECT_NE(currentTab(), tabBefore);
            beforeNextTab = tabBefore;
        }
        if (r.action == 26) {  // and back
            EXPECT_EQ(currentTab(), beforeNextTab);
        }
        recover(k);
    }
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, TheAccountPaneListsTheOrdersAndItsKeysChooseOne) {
    {
        Kolvy first(folder.path());  // makes the tabs
        ASSERT_NE(first.main(), nullptr);
        closeAndExpectCleanEnd(first);
    }
    auto profile = platform::makeProfile(folder / "Kolvy.ini");
    profile->write("TagList", "TagOrder", "100;101;102");
    const char* names[] = {"仕事", "自宅", "携帯"};
    for (int i = 0; i < 3; ++i) {
        const std::string section = std::to_string(100 + i);
        profile->write(section, "OrderName", names[i]);
        profile->write(section, "SelectPain", i == 1 ? "1" : "0");
    }
    Kolvy k(folder.path());
    ASSERT_NE(k.main(), nullptr);
    HWND toolBar = GetDlgItem(k.main(), 180);
    ASSERT_NE(toolBar, nullptr);
    HWND pane = FindWindowExA(toolBar, nullptr, "AcountView", nullptr);
    ASSERT_NE(pane, nullptr);
    RECT r;
    GetWindowRect(pane, &r);
    EXPECT_EQ(r.right - r.left, 111);
    EXPECT_EQ(r.bottom - r.top, 21);
    HWND orders = GetWindow(pane, GW_CHILD);
    ASSERT_EQ(SendMessageA(orders, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageA(orders, CB_GETCURSEL, 0, 0), 1);  // the one marked in the ini
    recover(k);
    struct Step {
        WORD vk;
        bool shift;
        const char* selected;  // the order whose SelectPain is 1 afterwards
    };
    const Step steps[] = {
        {'V', false, "102"}, {'V', false, "100"}, {'V', true, "102"}, {'V', true, "101"}};
    for (const Step& s : steps) {
        press(s.vk, s.shift);
        EXPECT_TRUE(waitFor([&] { return ini(s.selected, "SelectPain") == "1"; })) << s.selected;
        for (const char* other : {"100", "101", "102"}) {
            if (lstrcmpA(other, s.selected) == 0) continue;
            EXPECT_NE(ini(other, "SelectPain"), "1") << other;
        }
    }
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, TheToolBarFollowsItsStoredLayout) {
    struct Case {
        const char* stored;  // "" for none
        int count;           // buttons and separators, the 16 leading ones included
        std::vector<std::pair<int, int>> at;  // command, index (-1: not on the bar)
    };
    const Case cases[] = {
        {"", 26, {{40003, 16}, {40004, 17}, {40005, 18}, {40007, 20}, {40038, 25}, {40006, -1}}},
        {"100", 16, {{40003, -1}, {40038, -1}}},
        {"12;1;1;99;100;2", 18, {{40038, 16}, {40003, 17}, {40004, -1}}},
        {"garbage", 26, {{40003, 16}, {40038, 25}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        writeIni(*c.stored ? std::string("[Option]\r\nToolBarIcon=") + c.stored + "\r\n" : "");
        Kolvy k(folder.path());
        ASSERT_NE(k.main(), nullptr);
        HWND bar = GetDlgItem(k.main(), 180);
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(SendMessageA(bar, TB_BUTTONCOUNT, 0, 0), c.count);
        for (const auto& [command, index] : c.at)
            EXPECT_EQ(SendMessageA(bar, TB_COMMANDTOINDEX, command, 0), index) << command;
        // Nobody answers 受信 in this build of the window alone; the shortcut list is the
        // window's own.
        if (c.count > 16) {
            EXPECT_EQ(SendMessageA(bar, TB_ISBUTTONENABLED, 40038, 0) != 0,
                      SendMessageA(bar, TB_COMMANDTOINDEX, 40038, 0) >= 0);
        }
        closeAndExpectCleanEnd(k);
        DeleteFileA((folder / "Kolvy.ini").c_str());
    }
}

TEST_F(WindowUnderWine, TheToolBarDialogPutsTheDefaultBack) {
    writeIni("[Option]\r\nToolBarIcon=100\r\n");
    Kolvy k(folder.path());
    ASSERT_NE(k.main(), nullptr);
    HWND bar = GetDlgItem(k.main(), 180);
    ASSERT_EQ(SendMessageA(bar, TB_BUTTONCOUNT, 0, 0), 16);
    recover(k);
    k.command(40079);
    HWND dialog = k.box(5000, "設定－ツールバー");
    ASSERT_NE(dialog, nullptr);
    Sleep(300);
    press('R', false, false, true);  // 標準に戻す(&R)
    Sleep(300);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(dialog); }));
    EXPECT_EQ(ini("Option", "ToolBarIcon"),
              "1;2;3;0;4;5;0;9;11;12;100;6;7;8;10;13;14;15;16;17;18;19;0");
    EXPECT_TRUE(waitFor([&] { return SendMessageA(bar, TB_BUTTONCOUNT, 0, 0) == 26; }));
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, ClosingTheOtherTabsLeavesTheBasicOnes) {
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    HWND tabs = GetDlgItem(main, 11);
    // A temporary receive tab takes over as the basic one: the old one is closable now.
    PostMessageA(main, 0x8001, 0, 0);
    ASSERT_TRUE(
        waitFor([&] { return SendMessageA(tabs, 0x1304 /* TCM_GETITEMCOUNT */, 0, 0) == 4; }));
    ASSERT_EQ(ini("0", "Default"), "0");
    k.command(40080);
    EXPECT_TRUE(waitFor([&] { return SendMessageA(tabs, 0x1304, 0, 0) == 3; }));
    EXPECT_EQ(ini("0", "CloseFlag"), "1");
    EXPECT_NE(ini("3", "CloseFlag"), "1");
    EXPECT_GE(SendMessageA(tabs, 0x130B /* TCM_GETCURSEL */, 0, 0), 0);
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, KeysBelowDeleteAreNoShortcuts) {
    Kolvy k(folder.path());
    ASSERT_NE(k.main(), nullptr);
    recover(k);
    const size_t before = traced().size();
    for (const WORD vk : {VK_RETURN, VK_SPACE, VK_INSERT, VK_HOME}) {
        press(vk);
        press(vk, true);
    }
    press('J');  // a shortcut after them: the keys before it left no line
    ASSERT_TRUE(waitFor([&] { return traced().size() >= before + 2; }));
    EXPECT_EQ(traced()[before], "shortcut 2 J");
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, TrayAndBackAndASecondStartWhileInTheTray) {
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    k.command(40019);
    ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(main); }));
    // The icon's click (its callback message) brings it back.
    PostMessageA(main, 0x8002, 170, WM_LBUTTONDOWN);
    ASSERT_TRUE(waitFor([&] { return IsWindowVisible(main) != FALSE; }));
    k.command(40019);
    ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(main); }));
    EXPECT_EQ(FindWindowA("MainWindow", "Kolvyメール"), main);
    {
        Kolvy second(folder.path());
        ASSERT_TRUE(second.started());
        EXPECT_EQ(second.waitExit(), 0u);
    }
    EXPECT_TRUE(waitFor([&] { return IsWindowVisible(main) != FALSE; }));
    // The tray menu's exit while idle ends the program cleanly.
    k.command(40019);
    ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(main); }));
    k.command(40082);
    EXPECT_EQ(k.waitExit(), 0u);
    EXPECT_EQ(ini("Option", "ErrorLogOut"), "0");
}

TEST_F(WindowUnderWine, AStartToTheTrayWaitsThereUntilTheIconIsClicked) {
    writeIni("[Option]\r\nStartTaskTray=1\r\n");
    Kolvy k(folder.path());
    HWND main = nullptr;
    ASSERT_TRUE(
        waitFor([&] { return (main = FindWindowA("MainWindow", "Kolvyメール")) != nullptr; },
                kStartTimeout));
    Sleep(1000);
    EXPECT_FALSE(IsWindowVisible(main));
    PostMessageA(main, 0x8002, 170, WM_LBUTTONDOWN);
    EXPECT_TRUE(waitFor([&] { return IsWindowVisible(main) != FALSE; }));
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, AHotKeyHeldElsewhereIsReportedOnceAndStartUpGoesOn) {
    // Ctrl+Alt as the hot-key control stores them (Ctrl 2, Alt 4).
    writeIni("[Option]\r\nHotkey=123\r\nHotkeyModifi=6\r\n");
    ASSERT_TRUE(RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT, VK_F12));
    {
        Kolvy k(folder.path());
        HWND box = k.box(kStartTimeout);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(textOf(GetDlgItem(box, 0xFFFF)), kHotKeyTaken);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ASSERT_NE(k.main(), nullptr);
        EXPECT_EQ(k.box(1000), nullptr);  // once
        closeAndExpectCleanEnd(k);
    }
    UnregisterHotKey(nullptr, 1);
}

TEST_F(WindowUnderWine, TheHotKeyBringsTheWindowOutOfTheTray) {
    writeIni("[Option]\r\nHotkey=123\r\nHotkeyModifi=6\r\nHotkeyActive_Out=0\r\n");
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(k.box(1000), nullptr);  // free here: registered without a word
    // Registered with Ctrl+Alt: this process cannot take the same key now.
    EXPECT_FALSE(RegisterHotKey(nullptr, 2, MOD_CONTROL | MOD_ALT, VK_F12));
    k.command(40019);
    ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(main); }));
    PostMessageA(main, WM_HOTKEY, 22, MAKELPARAM(MOD_CONTROL | MOD_ALT, VK_F12));
    EXPECT_TRUE(waitFor([&] { return IsWindowVisible(main) != FALSE; }));
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, TheHotKeyTogglesBetweenTheWindowAndTheOneBefore) {
    writeIni("[Option]\r\nHotkey=123\r\nHotkeyModifi=6\r\nHotkeyActive_Out=1\r\n");
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 300,
                                 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    auto front = [&](HWND want) {
        return waitFor([&] {
            MSG m;
            while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&m);
            return GetForegroundWindow() == want;
        });
    };
    SetForegroundWindow(other);
    ASSERT_TRUE(front(other));
    PostMessageA(main, WM_HOTKEY, 22, 0);
    EXPECT_TRUE(front(main));
    PostMessageA(main, WM_HOTKEY, 22, 0);
    EXPECT_TRUE(front(other));  // back to the window it came from
    DestroyWindow(other);
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, PostsOfTheWorkersArriveWhileAModalBoxIsOpen) {
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    k.command(40035);
    HWND about = k.box(5000, "バージョン情報");
    ASSERT_NE(about, nullptr);
    HWND post = FindWindowExA(HWND_MESSAGE, nullptr, "KolvyPost", nullptr);
    ASSERT_NE(post, nullptr);
    HWND tabs = GetDlgItem(main, 11);
    ASSERT_TRUE(PostMessageA(post, 0x8001, 0, 0));  // the basic receive tab is full
    EXPECT_TRUE(
        waitFor([&] { return SendMessageA(tabs, 0x1304 /* TCM_GETITEMCOUNT */, 0, 0) == 4; }));
    EXPECT_TRUE(IsWindowVisible(about));
    test::saveScreenshot(about, "about-box");
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, AKeyChangedInTheDialogIsStoredAndARepeatedKeyLeavesTheEarlierAction) {
    Kolvy k(folder.path());
    ASSERT_NE(k.main(), nullptr);
    recover(k);
    k.command(40033);
    HWND dialog = k.box(5000, "設定－ショートカット");
    ASSERT_NE(dialog, nullptr);
    Sleep(300);
    for (int i = 0; i < 4; ++i)
        press(VK_DOWN);              // the fourth row: 送信 (S)
    press('R', false, false, true);  // 変更(&R)
    Sleep(300);
    press('J');  // the key of 受信 already
    HWND repeated = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, "#32770", nullptr));) {
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == k.pid() && h != dialog && IsWindowVisible(h)) repeated = h;
        }
        return repeated != nullptr;
    }));
    EXPECT_EQ(textOf(GetDlgItem(repeated, 0xFFFF)),
              "キーが重複している場合、並び順の上のキーが優先され    \n下のキーは無視されます。"
              "\n\n重複しているキー「 J 」");
    PostMessageA(repeated, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(repeated); }));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(dialog); }));
    EXPECT_EQ(ini("Option", "ShortCut").substr(0, 13), "81;112;74;74;");
    recover(k);
    const size_t before = traced().size();
    press('J');
    ASSERT_TRUE(waitFor([&] { return traced().size() >= before + 2; }));
    EXPECT_EQ(traced()[before], "shortcut 2 J");  // the earlier action wins
    press('S');                                   // S is free now
    Sleep(500);
    EXPECT_EQ(traced().size(), before + 2);
    closeAndExpectCleanEnd(k);
}

TEST_F(WindowUnderWine, TheWindowsDialogsForAPersonToLookAt) {
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    recover(k);
    test::saveScreenshot(main, "main-window-tool-bar");
    // The first menu, opened from the keyboard.
    press(VK_MENU);
    press('F');
    Sleep(800);
    test::saveScreenshot(nullptr, "main-window-file-menu");
    press(VK_ESCAPE);
    press(VK_ESCAPE);
    recover(k);

    // The tray menu, as a right click on the icon opens it.
    PostMessageA(main, 0x8002, 170, WM_RBUTTONDOWN);
    Sleep(800);
    test::saveScreenshot(nullptr, "tray-menu");
    press(VK_ESCAPE);
    recover(k);

    k.command(40033);
    HWND shortcuts = k.box(5000, "設定－ショートカット");
    ASSERT_NE(shortcuts, nullptr);
    Sleep(500);
    test::saveScreenshot(shortcuts, "shortcut-dialog");
    PostMessageA(shortcuts, WM_COMMAND, IDCANCEL, 0);
    recover(k);

    k.command(40079);
    HWND toolBar = k.box(5000, "設定－ツールバー");
    ASSERT_NE(toolBar, nullptr);
    Sleep(500);
    test::saveScreenshot(toolBar, "tool-bar-dialog");
    PostMessageA(toolBar, WM_COMMAND, IDCANCEL, 0);
    recover(k);

    k.command(40038);
    HWND list = waitWindow(k.pid(), "KolvyShortcutList", 5000);
    ASSERT_NE(list, nullptr);
    Sleep(500);
    test::saveScreenshot(list, "shortcut-list");
    recover(k);
    closeAndExpectCleanEnd(k);
}

}  // namespace
