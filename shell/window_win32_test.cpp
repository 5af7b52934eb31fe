// The real Kolvy.exe under Wine at work: shortcut keys typed into it, the tray, a second start
// while in the tray, the hot key, posts during a modal loop, the window's dialogs.
#include <windows.h>
// The common controls need windows.h first.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/timetext.h"
#include "platform/fileutil.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_program.h"

namespace {

using namespace kolvy;
using namespace kolvy::test;

constexpr DWORD kShort = 5000;
constexpr char kHotKeyTaken[] =
    "ホットキーが他のプログラムで使われているため登録できません。\n"
    "ホットキーなしで起動します。   ";

// Types one key, with Shift, Ctrl and Alt as asked, into whatever window has the focus.
void type(WORD vk, bool shift = false, bool ctrl = false, bool alt = false) {
    std::vector<INPUT> in;
    auto key = [&](WORD k, bool up) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = k;
        i.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (k == VK_DELETE ? KEYEVENTF_EXTENDEDKEY : 0);
        in.push_back(i);
    };
    const std::pair<bool, WORD> mods[] = {{alt, VK_MENU}, {ctrl, VK_CONTROL}, {shift, VK_SHIFT}};
    for (const auto& [on, k] : mods)
        if (on) key(k, false);
    key(vk, false);
    key(vk, true);
    for (const auto& [on, k] : mods)
        if (on) key(k, true);
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

class WindowUnderWine : public WineProgramTest {
  protected:
    void SetUp() override {
        WineProgramTest::SetUp();
        SetEnvironmentVariableA("KOLVY_TRACE_COMMANDS", "1");
    }
    void TearDown() override { SetEnvironmentVariableA("KOLVY_TRACE_COMMANDS", nullptr); }
    // The lines the program traced to its communication log.
    std::vector<std::string> traced() {
        const std::string text =
            t.read("_Log\\通信ログ" + yearMonth(platform::systemClock().localNow()) + ".txt");
        std::vector<std::string> lines;
        if (text == "<missing>") return lines;
        for (size_t at = 0; at < text.size();) {
            const size_t end = std::min(text.find("\r\n", at), text.size());
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }
    // Back to the main window in front with nothing else open.
    void recover(Kolvy& k) {
        // A command may open a box that leads to the next one (send-and-receive receives).
        for (int i = 0; i < 5; ++i) {
            HWND box = k.box(150);
            if (!box) break;
            PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            waitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, kShort);
        }
        if (HWND list = findWindow(k.pid(), "KolvyShortcutList"))
            PostMessageA(list, WM_CLOSE, 0, 0);
        if (!IsWindowVisible(k.main())) {
            k.command(40081);
            waitFor([&] { return IsWindowVisible(k.main()) != FALSE; }, kShort);
        }
        SetForegroundWindow(k.main());
        waitFor([&] { return GetForegroundWindow() == k.main(); }, kShort);
        Sleep(100);
    }
    bool hidden(HWND h) {
        return waitFor([&] { return !IsWindowVisible(h); }, kShort);
    }
    bool shown(HWND h) {
        return waitFor([&] { return IsWindowVisible(h) != FALSE; }, kShort);
    }
};

// The 37 shortcut actions in their order, with the keys the program comes with (modifiers:
// Shift 1, Ctrl 2) and the command each one reaches (0: the action is no command).
struct ShortcutRow {
    WORD vk;
    int mods;
    const char* name;
    int command;
};
// clang-format off
const ShortcutRow kShortcutRows[] = {
    {'Q', 0, "Q", 40038}, {VK_F1, 0, "F1", 40034}, {'J', 0, "J", 40003}, {'S', 0, "S", 40004},
    {'Z', 0, "Z", 40005}, {'N', 0, "N", 40007}, {'R', 0, "R", 40008}, {'T', 0, "T", 40006},
    {'B', 0, "B", 40037}, {'F', 0, "F", 40010}, {'K', 0, "K", 40009}, {'E', 0, "E", 40011},
    {VK_F4, 0, "F4", 40017}, {'Y', 0, "Y", 40019}, {'A', 0, "A", 40036}, {'W', 2, "Ctrl+W", 40080},
    {'M', 0, "M", 40056}, {'C', 0, "C", 40057}, {VK_DELETE, 0, "Delete", 40058},
    {VK_DELETE, 1, "Shift+Delete", 40059},
    {'U', 0, "U", 40060}, {'X', 0, "X", 40061}, {'W', 0, "W", 40062}, {'G', 0, "G", 40063},
    {'L', 0, "L", 40023}, {VK_F3, 0, "F3", 0}, {VK_F2, 0, "F2", 0}, {'V', 0, "V", 0},
    {'V', 1, "Shift+V", 0}, {VK_F5, 0, "F5", 40087}, {'O', 0, "O", 40096}, {'1', 2, "Ctrl+1", 0},
    {'2', 2, "Ctrl+2", 0}, {'3', 2, "Ctrl+3", 0}, {VK_F6, 0, "F6", 40084}, {VK_F7, 1, "Shift+F7", 0},
    {VK_F8, 1, "Shift+F8", 0},
};
// clang-format on

TEST_F(WindowUnderWine, EveryDefaultShortcutReachesItsCommandAndOnlyThat) {
    // The compose keys start the editor: one that cannot start ends them with a box.
    writeIni("[Option]\r\nEditor=C:\\no-such-folder\\editor.exe\r\n");
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    recover(k);
    auto currentTab = [&] { return SendMessageA(GetDlgItem(k.main(), 11), TCM_GETCURSEL, 0, 0); };
    LRESULT beforeNextTab = -1;
    for (int action = 0; action < static_cast<int>(std::size(kShortcutRows)); ++action) {
        const ShortcutRow& r = kShortcutRows[action];
        SCOPED_TRACE(r.name);
        const size_t before = traced().size();
        const LRESULT tabBefore = currentTab();
        const size_t expected = r.command ? 2 : 1;
        type(r.vk, r.mods & 1, r.mods & 2);
        EXPECT_TRUE(waitFor([&] { return traced().size() >= before + expected; }, kShort));
        Sleep(300);  // no second shortcut may follow
        const std::vector<std::string> lines = traced();
        ASSERT_GE(lines.size(), before + expected);
        EXPECT_EQ(lines[before], "shortcut " + std::to_string(action) + " " + r.name);
        if (r.command) {
            EXPECT_EQ(lines[before + 1].substr(0, 13), "command " + std::to_string(r.command));
        }
        // Only commands that this one started may follow.
        for (size_t i = before + expected; i < lines.size(); ++i)
            EXPECT_EQ(lines[i].substr(0, 8), "command ") << lines[i];
        if (action == 25) {  // next tab
            EXPECT_NE(currentTab(), tabBefore);
            beforeNextTab = tabBefore;
        }
        if (action == 26) {
            EXPECT_EQ(currentTab(), beforeNextTab);  // and back
        }
        recover(k);
    }
    // Keys below Delete are no shortcuts: after them the next shortcut's line comes first.
    const size_t before = traced().size();
    for (const WORD vk : {VK_RETURN, VK_SPACE, VK_INSERT, VK_HOME}) {
        type(vk);
        type(vk, true);
    }
    type('J');
    ASSERT_TRUE(waitFor([&] { return traced().size() >= before + 2; }, kShort));
    EXPECT_EQ(traced()[before], "shortcut 2 J");
    closeCleanly(k);
}

TEST_F(WindowUnderWine, TheAccountPaneListsTheOrdersAndItsKeysChooseOne) {
    {
        Kolvy first(t.folder.path());  // makes the tabs
        ASSERT_NE(first.main(), nullptr);
        closeCleanly(first);
    }
    set("TagList", "TagOrder", "100;101;102");
    const char* names[] = {"仕事", "自宅", "携帯"};
    for (int i = 0; i < 3; ++i) {
        set(std::to_string(100 + i), "OrderName", names[i]);
        set(std::to_string(100 + i), "SelectPain", i == 1 ? "1" : "0");
    }
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    HWND pane = FindWindowExA(GetDlgItem(k.main(), 180), nullptr, "AcountView", nullptr);
    ASSERT_NE(pane, nullptr);
    RECT r;
    GetWindowRect(pane, &r);
    EXPECT_EQ(r.right - r.left, 111);
    EXPECT_EQ(r.bottom - r.top, 21);
    HWND orders = GetWindow(pane, GW_CHILD);
    ASSERT_EQ(SendMessageA(orders, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageA(orders, CB_GETCURSEL, 0, 0), 1);  // the one marked in the ini
    recover(k);
    // V and Shift+V, and the order whose SelectPain is 1 afterwards.
    const std::pair<bool, const char*> steps[] = {
        {false, "102"}, {false, "100"}, {true, "102"}, {true, "101"}};
    for (const auto& [shift, selected] : steps) {
        type('V', shift);
        EXPECT_TRUE(waitFor([&] { return setting(selected, "SelectPain") == "1"; }, kShort))
            << selected;
        for (const char* other : {"100", "101", "102"})
            EXPECT_EQ(setting(other, "SelectPain") == "1", lstrcmpA(other, selected) == 0) << other;
    }
    closeCleanly(k);
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
        Kolvy k(t.folder.path());
        ASSERT_NE(k.main(), nullptr);
        HWND bar = GetDlgItem(k.main(), 180);
        EXPECT_EQ(SendMessageA(bar, TB_BUTTONCOUNT, 0, 0), c.count);
        for (const auto& [command, index] : c.at)
            EXPECT_EQ(SendMessageA(bar, TB_COMMANDTOINDEX, command, 0), index) << command;
        // The shortcut list is the window's own: enabled whenever it is on the bar.
        if (c.count > 16) {
            EXPECT_EQ(SendMessageA(bar, TB_ISBUTTONENABLED, 40038, 0) != 0,
                      SendMessageA(bar, TB_COMMANDTOINDEX, 40038, 0) >= 0);
        }
        closeCleanly(k);
        DeleteFileA(t.path("Kolvy.ini").c_str());
    }
}

TEST_F(WindowUnderWine, TheToolBarDialogPutsTheDefaultBack) {
    writeIni("[Option]\r\nToolBarIcon=100\r\n");
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    HWND bar = GetDlgItem(k.main(), 180);
    ASSERT_EQ(SendMessageA(bar, TB_BUTTONCOUNT, 0, 0), 16);
    recover(k);
    k.command(40079);
    HWND dialog = k.box(kShort, "設定－ツールバー");
    ASSERT_NE(dialog, nullptr);
    Sleep(300);
    type('R', false, false, true);  // 標準に戻す(&R)
    Sleep(300);
    press(dialog, IDOK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(dialog); }, kShort));
    EXPECT_EQ(setting("Option", "ToolBarIcon"),
              "1;2;3;0;4;5;0;9;11;12;100;6;7;8;10;13;14;15;16;17;18;19;0");
    EXPECT_TRUE(waitFor([&] { return SendMessageA(bar, TB_BUTTONCOUNT, 0, 0) == 26; }, kShort));
    closeCleanly(k);
}

TEST_F(WindowUnderWine, TrayAndBackAndASecondStartWhileInTheTray) {
    Kolvy k(t.folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    k.command(40019);
    ASSERT_TRUE(hidden(main));
    PostMessageA(main, 0x8002, 170, WM_LBUTTONDOWN);  // the icon's click brings it back
    ASSERT_TRUE(shown(main));
    k.command(40019);
    ASSERT_TRUE(hidden(main));
    EXPECT_EQ(FindWindowA("MainWindow", "Kolvyメール"), main);
    {
        Kolvy second(t.folder.path());
        ASSERT_TRUE(second.started());
        EXPECT_EQ(second.waitExit(), 0u);
    }
    EXPECT_TRUE(shown(main));
    // The tray menu's exit while idle ends the program cleanly.
    k.command(40019);
    ASSERT_TRUE(hidden(main));
    k.command(40082);
    EXPECT_EQ(k.waitExit(), 0u);
    EXPECT_EQ(setting("Option", "ErrorLogOut"), "0");
}

TEST_F(WindowUnderWine, AStartToTheTrayWaitsThereUntilTheIconIsClicked) {
    writeIni("[Option]\r\nStartTaskTray=1\r\n");
    Kolvy k(t.folder.path());
    HWND main = nullptr;
    ASSERT_TRUE(
        waitFor([&] { return (main = FindWindowA("MainWindow", "Kolvyメール")) != nullptr; }));
    Sleep(1000);
    EXPECT_FALSE(IsWindowVisible(main));
    PostMessageA(main, 0x8002, 170, WM_LBUTTONDOWN);
    EXPECT_TRUE(shown(main));
    closeCleanly(k);
}

TEST_F(WindowUnderWine, AHotKeyHeldElsewhereIsReportedOnceAndStartUpGoesOn) {
    // Ctrl+Alt as the hot-key control stores them (Ctrl 2, Alt 4).
    writeIni("[Option]\r\nHotkey=123\r\nHotkeyModifi=6\r\n");
    ASSERT_TRUE(RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT, VK_F12));
    {
        Kolvy k(t.folder.path());
        HWND box = k.box(kWineStartTimeout);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(boxText(box), kHotKeyTaken);
        press(box, IDOK);
        ASSERT_NE(k.main(), nullptr);
        EXPECT_EQ(k.box(1000), nullptr);  // once
        closeCleanly(k);
    }
    UnregisterHotKey(nullptr, 1);
}

TEST_F(WindowUnderWine, TheHotKeyBringsTheWindowOutOfTheTray) {
    writeIni("[Option]\r\nHotkey=123\r\nHotkeyModifi=6\r\nHotkeyActive_Out=0\r\n");
    Kolvy k(t.folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(k.box(1000), nullptr);  // free here: registered without a word
    // Registered with Ctrl+Alt: this process cannot take the same key now.
    EXPECT_FALSE(RegisterHotKey(nullptr, 2, MOD_CONTROL | MOD_ALT, VK_F12));
    k.command(40019);
    ASSERT_TRUE(hidden(main));
    PostMessageA(main, WM_HOTKEY, 22, MAKELPARAM(MOD_CONTROL | MOD_ALT, VK_F12));
    EXPECT_TRUE(shown(main));
    closeCleanly(k);
}

TEST_F(WindowUnderWine, TheHotKeyTogglesBetweenTheWindowAndTheOneBefore) {
    writeIni("[Option]\r\nHotkey=123\r\nHotkeyModifi=6\r\nHotkeyActive_Out=1\r\n");
    Kolvy k(t.folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 300,
                                 200, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    auto front = [&](HWND want) {
        return waitFor(
            [&] {
                MSG m;
                while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageA(&m);
                return GetForegroundWindow() == want;
            },
            kShort);
    };
    SetForegroundWindow(other);
    ASSERT_TRUE(front(other));
    PostMessageA(main, WM_HOTKEY, 22, 0);
    EXPECT_TRUE(front(main));
    PostMessageA(main, WM_HOTKEY, 22, 0);
    EXPECT_TRUE(front(other));  // back to the window it came from
    DestroyWindow(other);
    closeCleanly(k);
}

// A post of a worker arrives while a modal box is open: the full basic receive tab gets a
// temporary one, which takes over as the basic tab; then the old one can be closed.
TEST_F(WindowUnderWine, PostsArriveDuringAModalBoxAndTheOtherTabsCloseLeavingTheBasicOnes) {
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    k.command(40035);
    HWND about = k.box(kShort, "バージョン情報");
    ASSERT_NE(about, nullptr);
    HWND post = FindWindowExA(HWND_MESSAGE, nullptr, "KolvyPost", nullptr);
    ASSERT_NE(post, nullptr);
    HWND tabs = GetDlgItem(k.main(), 11);
    ASSERT_TRUE(PostMessageA(post, 0x8001, 0, 0));
    EXPECT_TRUE(waitFor([&] { return SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0) == 4; }, kShort));
    EXPECT_TRUE(IsWindowVisible(about));
    saveScreenshot(about, "about-box");
    press(about, IDOK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(about); }, kShort));
    ASSERT_EQ(setting("0", "Default"), "0");
    k.command(40080);
    EXPECT_TRUE(waitFor([&] { return SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0) == 3; }, kShort));
    EXPECT_EQ(setting("0", "CloseFlag"), "1");
    EXPECT_NE(setting("3", "CloseFlag"), "1");
    EXPECT_GE(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0);
    closeCleanly(k);
}

TEST_F(WindowUnderWine, AKeyChangedInTheDialogIsStoredAndARepeatedKeyLeavesTheEarlierAction) {
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    recover(k);
    k.command(40033);
    HWND dialog = k.box(kShort, "設定－ショートカット");
    ASSERT_NE(dialog, nullptr);
    Sleep(300);
    for (int i = 0; i < 4; ++i)
        type(VK_DOWN);              // the fourth row: 送信 (S)
    type('R', false, false, true);  // 変更(&R)
    Sleep(300);
    type('J');  // the key of 受信 already
    HWND repeated = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, "#32770", nullptr));) {
                DWORD pid = 0;
                GetWindowThreadProcessId(h, &pid);
                if (pid == k.pid() && h != dialog && IsWindowVisible(h)) repeated = h;
            }
            return repeated != nullptr;
        },
        kShort));
    EXPECT_EQ(boxText(repeated),
              "キーが重複している場合、並び順の上のキーが優先され    \n下のキーは無視されます。"
              "\n\n重複しているキー「 J 」");
    press(repeated, IDOK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(repeated); }, kShort));
    press(dialog, IDOK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(dialog); }, kShort));
    EXPECT_EQ(setting("Option", "ShortCut").substr(0, 13), "81;112;74;74;");
    recover(k);
    const size_t before = traced().size();
    type('J');
    ASSERT_TRUE(waitFor([&] { return traced().size() >= before + 2; }, kShort));
    EXPECT_EQ(traced()[before], "shortcut 2 J");  // the earlier action wins
    type('S');                                    // S is free now
    Sleep(500);
    EXPECT_EQ(traced().size(), before + 2);
    closeCleanly(k);
}

// Pictures for a person to look at: each is opened, photographed and closed again.
TEST_F(WindowUnderWine, TheWindowsDialogsForAPersonToLookAt) {
    Kolvy k(t.folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    recover(k);
    saveScreenshot(main, "main-window-tool-bar");
    type(VK_MENU);  // the first menu, opened from the keyboard
    type('F');
    Sleep(800);
    saveScreenshot(nullptr, "main-window-file-menu");
    type(VK_ESCAPE);
    type(VK_ESCAPE);
    recover(k);
    PostMessageA(main, 0x8002, 170, WM_RBUTTONDOWN);  // as a right click on the icon opens it
    Sleep(800);
    saveScreenshot(nullptr, "tray-menu");
    type(VK_ESCAPE);
    recover(k);
    const std::pair<int, const char*> dialogs[] = {{40033, "設定－ショートカット"},
                                                   {40079, "設定－ツールバー"}};
    for (const auto& [command, title] : dialogs) {
        k.command(command);
        HWND dialog = k.box(kShort, title);
        ASSERT_NE(dialog, nullptr) << title;
        Sleep(500);
        saveScreenshot(dialog, command == 40033 ? "shortcut-dialog" : "tool-bar-dialog");
        press(dialog, IDCANCEL);
        recover(k);
    }
    k.command(40038);
    HWND list = waitWindow(k.pid(), "KolvyShortcutList", kShort);
    ASSERT_NE(list, nullptr);
    Sleep(500);
    saveScreenshot(list, "shortcut-list");
    recover(k);
    closeCleanly(k);
}

}  // namespace
