// Brellin.dll in the stand-in viewer Skelda.exe under Wine: both dialogs driven through their
// controls, with "Ombrel.ini", "ViewScript.txt" and the viewer's records read back afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fileutil.h"
#include "platform/platform.h"
#include "plugins/viewer-settings/control_ids.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_env.h"

namespace {

using namespace kolvy;
using namespace kolvy::viewer;

// Polls `done` every 100 ms, at most `tries` times; its last answer.
template <class Done>
bool waitUntil(Done done, int tries = 50) {
    for (int i = 0; i < tries && !done(); ++i)
        Sleep(100);
    return done();
}

struct Find {
    DWORD pid;
    const char* cls;
    const char* title;
    HWND owner;
    HWND found;
};

std::string textOf(HWND h) {
    char buf[4096] = {};
    SendMessageA(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return buf;
}

BOOL CALLBACK match(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<Find*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (pid != f->pid || lstrcmpA(cls, f->cls) != 0 || !IsWindowVisible(h)) return TRUE;
    if (f->title && textOf(h) != f->title) return TRUE;
    if (f->owner && GetWindow(h, GW_OWNER) != f->owner) return TRUE;
    f->found = h;
    return FALSE;
}

// The stand-in viewer started with `args`; its windows found by class, caption and owner.
class Skelda {
  public:
    Skelda(const std::string& folder, const std::string& args, const char* program = "Skelda.exe") {
        const std::string exe = folder + "\\" + program;
        std::string cmd = "\"" + exe + "\" " + args;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                       &si, &pi_);
    }
    ~Skelda() {
        if (!pi_.hProcess) return;
        if (!exited(0)) TerminateProcess(pi_.hProcess, 99);  // this test's own, by its handle
        WaitForSingleObject(pi_.hProcess, 5000);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    bool exited(DWORD timeout = 20000) {
        return WaitForSingleObject(pi_.hProcess, timeout) == WAIT_OBJECT_0;
    }
    HWND wait(const char* cls, const char* title, HWND owner = nullptr) {
        Find f{};
        waitUntil(
            [&] {
                f = Find{pi_.dwProcessId, cls, title, owner, nullptr};
                EnumWindows(match, reinterpret_cast<LPARAM>(&f));
                return f.found != nullptr;
            },
            300);
        return f.found;
    }
    HWND box(const char* caption) { return wait("#32770", caption); }

  private:
    PROCESS_INFORMATION pi_{};
};

void select(HWND dlg, int id, int index) {
    HWND c = GetDlgItem(dlg, id);
    SendMessageA(c, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
}
void click(HWND dlg, int id) {
    SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}
// A click that may open a modal box: posted, so the test is not held until the box closes.
void press(HWND dlg, int id) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}
void setText(HWND dlg, int id, const char* text) {
    SendMessageA(GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
bool checked(HWND dlg, int id) {
    return SendMessageA(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Real key strokes, as a user types them into the focused window.
void keys(std::initializer_list<WORD> down) {
    std::vector<INPUT> in(2 * down.size());
    size_t n = 0;
    for (WORD vk : down) {  // pressed in order, released in reverse
        INPUT &press = in[n], &release = in[in.size() - 1 - n++];
        press.type = release.type = INPUT_KEYBOARD;
        press.ki.wVk = release.ki.wVk = vk;
        release.ki.dwFlags = KEYEVENTF_KEYUP;
    }
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
    Sleep(300);
}

// The box's text, after which it is answered.
std::string answer(HWND box, int button) {
    std::string text = box ? textOf(GetDlgItem(box, 0xFFFF)) : "<no box>";
    if (box) PostMessageA(box, WM_COMMAND, button, 0);
    waitUntil([&] { return !box || !IsWindow(box); });
    return text;
}

// The installed Shift_JIS families, without the vertical ("@") faces.
void expectNoVerticalFaces(HWND faces) {
    const LRESULT count = SendMessageA(faces, CB_GETCOUNT, 0, 0);
    EXPECT_GT(count, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char name[256] = {};
        SendMessageA(faces, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
        EXPECT_NE(name[0], '\0');
        EXPECT_NE(name[0], '@') << name;
    }
}

// Every control of the full dialog set away from what the stand-in viewer starts with.
void changeEveryControl(HWND d) {
    select(d, kFontSize, 4);  // "10.5"
    select(d, kSpaceBar, 5);
    select(d, kLineDown, 2);
    for (int id : std::initializer_list<int>{kReadOnJump, kReadAfterTime, kReadOnOpen})
        click(d, id);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, kReadSeconds)));
    select(d, kReadSeconds, 9);
    for (int i = 0; i < 5; ++i)
        click(d, kGeneral0 + i);
    for (int i = 0; i < 10; ++i)
        click(d, kTitle0 + i);
    // Typed over the whole text, as a user edits it.
    SendMessageA(GetDlgItem(d, kHeaderBox), EM_SETSEL, 0, -1);
    SendMessageA(GetDlgItem(d, kHeaderBox), EM_REPLACESEL, TRUE,
                 reinterpret_cast<LPARAM>("Date:\r\nFrom:\r\n\r\nX-Mailer:"));
}

class ViewerHost : public ::testing::Test {
  protected:
    test::TempFolder folder;
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
    void SetUp() override {
        ASSERT_TRUE(CopyFileA(KOLVY_SKELDA_PATH, (folder / "Skelda.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(KOLVY_BRELLIN_PATH, (folder / "Brellin.dll").c_str(), FALSE));
    }
    std::string read(std::string_view rel) {
        auto d = platform::readWholeFile(*fs, folder / rel);
        return d ? *d : "<missing>";
    }
    void write(std::string_view rel, std::string_view data) {
        platform::makeDirs(*fs, std::string(folder / "_ViewScript"));
        platform::writeWholeFile(*fs, folder / rel, data);
    }
    // What the viewer wrote of its records after the dialog, "<none>" for an absent key.
    std::string state(std::string_view key) {
        const std::string s = read("host-state.txt");
        const std::string k = std::string(key) + "=";
        const size_t at = s.find(k);
        if (at == std::string::npos) return "<none>";
        return s.substr(at + k.size(), s.find("\r\n", at) - at - k.size());
    }
    std::vector<std::string> states(std::initializer_list<const char*> keys) {
        std::vector<std::string> v;
        for (const char* k : keys)
            v.push_back(state(k));
        return v;
    }
    // Enters a key for the selected shortcut row as a user does: "変更(&R)", then the keys.
    static void enterKey(HWND dlg, std::initializer_list<WORD> stroke) {
        SetForegroundWindow(dlg);
        Sleep(300);
        press(dlg, kShortcutChange);
        Sleep(300);
        keys(stroke);
    }
};

TEST_F(ViewerHost, FullDialogWritesEveryControlAndTheNextOpeningShowsIt) {
    std::string face;
    {
        Skelda s(folder.path(), "settings 0");
        HWND d = s.wait("#32770", "設定");
        ASSERT_NE(d, nullptr);
        expectNoVerticalFaces(GetDlgItem(d, kFontType));
        EXPECT_EQ(textOf(GetDlgItem(d, kFontSize)), "12");
        EXPECT_EQ(textOf(GetDlgItem(d, kHeaderBox)), "From:\r\nTo:\r\nSubject:");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, kReadSeconds)));
        Sleep(500);
        test::saveScreenshot(d, "viewer-settings-full");

        select(d, kFontType, 0);
        face = textOf(GetDlgItem(d, kFontType));
        ASSERT_FALSE(face.empty());
        changeEveryControl(d);
        enterKey(d, {VK_SHIFT, VK_CONTROL, 'K'});  // row 1: Ctrl wins
        keys({VK_DOWN});
        enterKey(d, {VK_F5});  // row 2
        keys({VK_DOWN});
        enterKey(d, {VK_INSERT});  // no shortcut key: ignored until Esc
        keys({VK_ESCAPE});
        press(d, IDOK);
        ASSERT_TRUE(s.exited());
    }
    const std::string written =
        "[Option]\r\nShortCut=C75;116;78;80;S78;S80;114;113;72;83;46;S46\r\n"
        "CustomHeaderStr=Date:;From:;X-Mailer:\r\nSpaceBar=5\r\nLineDown=3\r\nFontSize=10\r\n"
        "FontType=" +
        face +
        "\r\nStatusChangeTiming1=0\r\nStatusChangeTiming2=1\r\nStatusChangeTime=10\r\n"
        "StatusChangeTiming3=1\r\nHtmlDispy=1\r\nPositionFix=1\r\nNoDoubleWindow=1\r\n"
        "FixHeaderView=1\r\nAutoReturn=1\r\nT_MailNo=0\r\nT_AllMailCount=0\r\n"
        "T_NoReadMailCount=0\r\nT_NewMailCount=0\r\nT_WaitMailCount=0\r\nT_EditMailCount=0\r\n"
        "T_NewMark=0\r\nT_NoRead_Read=0\r\nT_TabName=0\r\nT_Title=0\r\n";
    EXPECT_EQ(read("Ombrel.ini"), written);
    EXPECT_EQ(states({"result", "font", "read", "general", "title", "keys", "pending", "headers"}),
              (std::vector<std::string>{"1", "10 " + face, "011 10", "11111", "0000000000",
                                        "C75;116;78;80;S78;S80;114;113;72;83;46;S46",
                                        "0;0;0;0;0;0;0;0;0;0;0;0", "Date:;From:;X-Mailer:"}));

    // The half size comes back as the whole one; Cancel changes nothing.
    Skelda again(folder.path(), "settings 0");
    HWND d = again.wait("#32770", "設定");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(d, kFontSize)), "10");
    EXPECT_EQ(textOf(GetDlgItem(d, kFontType)), face);
    EXPECT_EQ(textOf(GetDlgItem(d, kHeaderBox)), "Date:\r\nFrom:\r\nX-Mailer:");
    EXPECT_FALSE(checked(d, kTitle0));
    EXPECT_TRUE(checked(d, kGeneral0 + 4));
    click(d, kShortcutStandard);
    select(d, kSpaceBar, 0);
    press(d, IDCANCEL);
    ASSERT_TRUE(again.exited());
    EXPECT_EQ(read("Ombrel.ini"), written);
    // The standard keys were dropped.
    EXPECT_EQ(states({"result", "keys", "pending"}),
              (std::vector<std::string>{"2", "C75;116;78;80;S78;S80;114;113;72;83;46;S46",
                                        "0;0;0;0;0;0;0;0;0;0;0;0"}));
}

TEST_F(ViewerHost, DuplicateKeyIsNamedAndCancelKeepsWhatWasSaved) {
    Skelda s(folder.path(), "settings 0");
    HWND d = s.wait("#32770", "設定");
    ASSERT_NE(d, nullptr);
    enterKey(d, {'N'});  // "ショートカット表示" on the key of "次のメール"
    press(d, IDOK);
    HWND box = s.box("ビューア");
    ASSERT_NE(box, nullptr);
    test::saveScreenshot(box, "viewer-settings-duplicate-key");
    EXPECT_EQ(answer(box, IDCANCEL),
              "キーが重複している場合、並び順の上のキーが優先され    \n下のキーは無視されます\n\n"
              "重複しているキー「 N 」");
    ASSERT_TRUE(IsWindow(d));  // back at the list
    const auto ini = platform::makeProfile(folder / "Ombrel.ini");
    EXPECT_EQ(ini->read("Option", "ShortCut"), "78;112;78;80;S78;S80;114;113;72;83;46;S46");
    EXPECT_EQ(ini->read("Option", "FontSize"), "12");
    click(d, kShortcutStandard);
    click(d, kHeaderStandard);
    press(d, IDOK);  // no duplicate left: the dialog ends
    ASSERT_TRUE(s.exited());
    EXPECT_EQ(state("result"), "1");
    const auto after = platform::makeProfile(folder / "Ombrel.ini");
    EXPECT_EQ(after->read("Option", "ShortCut"), "81;112;78;80;S78;S80;114;113;72;83;46;S46");
    EXPECT_EQ(after->read("Option", "CustomHeaderStr"), "From:;To:;Subject:");
}

TEST_F(ViewerHost, ReducedModeLeavesTheViewersOwnKeysUntouched) {
    const std::string own =
        "ShortCut=C75;112;78;80;S78;S80;114;113;72;83;46;S46\r\nPositionFix=0\r\n"
        "NoDoubleWindow=1\r\nT_MailNo=1\r\nT_AllMailCount=0\r\nT_NoReadMailCount=1\r\n"
        "T_NewMailCount=0\r\nT_WaitMailCount=1\r\nT_EditMailCount=0\r\nT_NewMark=1\r\n"
        "T_NoRead_Read=0\r\nT_TabName=1\r\nT_Title=0\r\n";
    write("Ombrel.ini", "[Option]\r\n" + own);
    Skelda s(folder.path(), "settings 1");
    HWND d = s.wait("#32770", "設定－ビュー環境");
    ASSERT_NE(d, nullptr);
    for (int id : std::initializer_list<int>{kShortcutList, kShortcutChange, kShortcutStandard,
                                             kGeneral0 + 1, kGeneral0 + 2, kTitle0, kTitle0 + 9})
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, id))) << id;
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, kGeneral0 + 4)));
    Sleep(500);
    test::saveScreenshot(d, "viewer-settings-reduced");
    // Even controls set behind the user's back are not written in this mode.
    for (int i = 0; i < 10; ++i)
        SendMessageA(GetDlgItem(d, kTitle0 + i), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(GetDlgItem(d, kGeneral0 + 1), BM_SETCHECK, BST_CHECKED, 0);
    click(d, kGeneral0 + 4);
    select(d, kFontSize, 4);
    press(d, IDOK);
    ASSERT_TRUE(s.exited());
    const std::string ini = read("Ombrel.ini");
    EXPECT_EQ(ini.substr(0, 10 + own.size()), "[Option]\r\n" + own);
    EXPECT_NE(ini.find("AutoReturn=1\r\n"), std::string::npos);
    EXPECT_NE(ini.find("FontSize=10\r\n"), std::string::npos);
    EXPECT_EQ(state("general"), "00101");
    EXPECT_EQ(state("title"), "1010101010");
}

TEST_F(ViewerHost, AnUnwritableSettingsFileIsReported) {
    // A folder where the settings file should be: no key can be written.
    ASSERT_EQ(platform::makeDirs(*fs, folder / "Ombrel.ini"), Err::None);
    Skelda s(folder.path(), "settings 0");
    HWND d = s.wait("#32770", "設定");
    ASSERT_NE(d, nullptr);
    select(d, kFontSize, 10);
    press(d, IDOK);
    EXPECT_EQ(answer(s.box("ビューア"), IDOK), "書き込みに失敗しました。   ");
    ASSERT_TRUE(s.exited());
    EXPECT_EQ(state("result"), "1");
    EXPECT_EQ(state("font").substr(0, 3), "20 ");  // the viewer has the values all the same
    EXPECT_TRUE(fs->isDir(folder / "Ombrel.ini"));
}

// --------------------------------------------------------------------------- view scripts

constexpr char kOldScript[] =
    "Address:old@example.jp\r\n\r\nViewBkColor:0xffffff\r\n\r\n"
    "BeginLine:-----\r\nEndLine:=====\r\nString:\r\nSize:12\r\nBold:0\r\nItalic:1\r\n"
    "TextColor:0xff\r\nTxtBkColor:0xffffff\r\nEdgeType:RoundRectangle\r\n"
    "Top_BottomPad:2\r\nLeft_RightPad:3\r\n\r\n";

// What the editor test below makes of a new address: a highlight changed to size 20, then a box
// with only a background colour.
constexpr char kNewsScript[] =
    "Address:news@example.jp\r\n\r\nViewBkColor:0xffffff\r\n\r\n"
    "BeginLine:\r\nEndLine:\r\nString:重要\r\nSize:20\r\nBold:1\r\nItalic:0\r\n"
    "TextColor:0x563412\r\nTxtBkColor:0xffffff\r\nEdgeType:Rectangle\r\n"
    "Top_BottomPad:2\r\nLeft_RightPad:3\r\n\r\n"
    "BeginLine:開始\r\nEndLine:\r\nString:\r\nSize:14\r\nBold:0\r\nItalic:0\r\n"
    "TextColor:0x0\r\nTxtBkColor:0xff0000\r\nEdgeType:Rectangle\r\n"
    "Top_BottomPad:2\r\nLeft_RightPad:3\r\n\r\n";

class ScriptEditor : public ViewerHost {
  protected:
    HWND open(Skelda& s) {
        HWND e = s.wait("ViewScriptClass", "設定－ビュースクリプト");
        if (e) SetForegroundWindow(e);
        return e;
    }
    void closeAll(Skelda& s, HWND editor) {
        press(editor, kClose);
        EXPECT_TRUE(waitUntil([&] { return !IsWindow(editor); }));
        PostMessageA(s.wait("SkeldaViewer", "Skelda"), WM_CLOSE, 0, 0);
        ASSERT_TRUE(s.exited());
    }
    // Picks a colour in the colour chooser: the red, green and blue fields, then OK.
    void chooseColour(Skelda& s, HWND editor, int button, int r, int g, int b) {
        press(editor, button);
        HWND cc = s.wait("#32770", nullptr, editor);
        ASSERT_NE(cc, nullptr);
        const int values[3] = {r, g, b};
        for (int i = 0; i < 3; ++i)
            setText(cc, 706 + i, std::to_string(values[i]).c_str());
        PostMessageA(cc, WM_COMMAND, IDOK, 0);
        waitUntil([&] { return !IsWindow(cc); });
    }
};

TEST_F(ScriptEditor, AddsAndChangesEffectsOfANewAddress) {
    write("_ViewScript\\ViewScript.txt", kOldScript);
    write("_ViewScript\\stray.txt", "left over");
    write("Ombrel.ini", "[CustColors]\r\n0=0x123456\r\n1=junk\r\n");
    Skelda s(folder.path(), "script news@example.jp");
    HWND e = open(s);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(e, kAddress)), "news@example.jp");
    EXPECT_EQ(SendMessageA(GetDlgItem(e, kAddress), CB_GETCOUNT, 0, 0), 2);
    EXPECT_TRUE(checked(e, kBox));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(e, kHighlight)));
    EXPECT_EQ(textOf(GetDlgItem(e, kSize)), "14");
    Sleep(500);
    test::saveScreenshot(e, "view-script-editor-new-address");

    click(e, kHighlightChoice);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(e, kHighlight)));
    setText(e, kHighlight, "重要");
    select(e, kSize, 4);  // "10.5"
    click(e, kBold);
    chooseColour(s, e, kTextColour, 0x12, 0x34, 0x56);
    press(e, kRegister);
    const std::string added = std::string(kOldScript) +
                              "Address:news@example.jp\r\n\r\nViewBkColor:0xffffff\r\n\r\n"
                              "BeginLine:\r\nEndLine:\r\nString:重要\r\nSize:10\r\nBold:1\r\n"
                              "Italic:0\r\nTextColor:0x563412\r\nTxtBkColor:0xffffff\r\n"
                              "EdgeType:Rectangle\r\nTop_BottomPad:2\r\nLeft_RightPad:3\r\n\r\n";
    EXPECT_TRUE(waitUntil([&] { return read("_ViewScript\\ViewScript.txt") == added; }))
        << read("_ViewScript\\ViewScript.txt");
    EXPECT_EQ(read("_ViewScript\\stray.txt"), "<missing>");
    EXPECT_EQ(read("reread.txt"), "reread news@example.jp\r\n");
    const auto ini = platform::makeProfile(folder / "Ombrel.ini");
    EXPECT_EQ(ini->read("CustColors", "0"), "0x123456");
    EXPECT_EQ(ini->read("CustColors", "1"), "0x0");
    EXPECT_EQ(ini->read("CustColors", "15"), "0xffffff");
    Sleep(300);
    test::saveScreenshot(e, "view-script-editor-highlight");

    // A second effect for the same address, then the first one changed.
    select(e, kEffect, 1);
    EXPECT_EQ(textOf(GetDlgItem(e, kHighlight)), "");
    click(e, kBox);
    setText(e, kBeginLine, "開始");
    chooseColour(s, e, kBackColour, 0, 0, 255);
    press(e, kRegister);
    Sleep(800);
    select(e, kEffect, 0);
    EXPECT_EQ(textOf(GetDlgItem(e, kHighlight)), "重要");
    select(e, kSize, 10);
    press(e, kRegister);
    Sleep(800);
    EXPECT_EQ(read("_ViewScript\\ViewScript.txt"), std::string(kOldScript) + kNewsScript);
    EXPECT_EQ(read("reread.txt"),
              "reread news@example.jp\r\nreread news@example.jp\r\nreread news@example.jp\r\n");
    closeAll(s, e);
    EXPECT_NE(read("host-state.txt").find(std::string(kOldScript) + kNewsScript),
              std::string::npos);
}

TEST_F(ScriptEditor, DeletesEffectsAndAddressesAndFollowsTheViewer) {
    write("_ViewScript\\ViewScript.txt", std::string(kOldScript) + kNewsScript);
    Skelda s(folder.path(), "script news@example.jp");
    HWND e = open(s);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(e, kHighlight)), "重要");
    EXPECT_EQ(textOf(GetDlgItem(e, kSize)), "20");
    EXPECT_TRUE(checked(e, kHighlightChoice));
    std::string file;
    // Delete the first effect, then the whole address.
    press(e, kDeleteEffect);
    EXPECT_EQ(answer(s.box("ビュースクリプト"), IDOK), "この設定を削除しますか？    ");
    Sleep(500);
    file = read("_ViewScript\\ViewScript.txt");
    EXPECT_EQ(file.find("重要"), std::string::npos);
    EXPECT_NE(file.find("開始"), std::string::npos);
    EXPECT_EQ(textOf(GetDlgItem(e, kBeginLine)), "開始");
    press(e, kDeleteAddress);
    EXPECT_EQ(answer(s.box("ビュースクリプト"), IDOK),
              "このアドレスについての設定をすべて削除しますか？    ");
    EXPECT_TRUE(waitUntil([&] { return read("_ViewScript\\ViewScript.txt") == kOldScript; }))
        << read("_ViewScript\\ViewScript.txt");
    EXPECT_EQ(read("reread.txt"), "reread news@example.jp\r\n");

    // The viewer moves on to a message of the old address.
    const auto show = [&](std::string address) {
        COPYDATASTRUCT cd{0, static_cast<DWORD>(address.size()), address.data()};
        SendMessageA(s.wait("SkeldaViewer", "Skelda"), WM_COPYDATA, 0,
                     reinterpret_cast<LPARAM>(&cd));
    };
    show("old@example.jp");
    EXPECT_EQ(textOf(GetDlgItem(e, kAddress)), "old@example.jp");
    EXPECT_EQ(textOf(GetDlgItem(e, kBeginLine)), "-----");
    EXPECT_EQ(textOf(GetDlgItem(e, kSize)), "12");
    EXPECT_TRUE(checked(e, kItalic));
    // And to one without a script: its address takes the unsaved entry's place.
    show("other@example.jp");
    EXPECT_EQ(textOf(GetDlgItem(e, kAddress)), "other@example.jp");
    EXPECT_EQ(SendMessageA(GetDlgItem(e, kAddress), CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(textOf(GetDlgItem(e, kBeginLine)), "");
    EXPECT_TRUE(checked(e, kBox));
    closeAll(s, e);
    EXPECT_NE(read("host-state.txt").find(kOldScript), std::string::npos);
}

TEST_F(ScriptEditor, RefusalsComeInOrderAndChangeNothing) {
    write("_ViewScript\\ViewScript.txt", kOldScript);
    Skelda s(folder.path(), "script ");
    HWND e = open(s);
    ASSERT_NE(e, nullptr);
    struct Case {
        const char* address;
        bool box;
        const char* begin;
        const char* end;
        const char* highlight;
        const char* message;
    } cases[] = {
        {"", true, "a", "", "", "「アドレス」が記入されていません。   "},
        {"n@example.jp", true, "", "e", "", "「終了行文字列」のみの設定はできません。   "},
        {"n@example.jp", true, "", "", "", "記入されていない項目があります。   "},
        {"n@example.jp", false, "", "", "h", "色が設定されていません。   "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        setText(e, kAddress, c.address);
        click(e, c.box ? kBox : kHighlightChoice);
        setText(e, kBeginLine, c.begin);
        setText(e, kEndLine, c.end);
        setText(e, kHighlight, c.highlight);
        press(e, kRegister);
        EXPECT_EQ(answer(s.box("ビュースクリプト"), IDOK), c.message);
    }
    // An address another script has (letters compare without case).
    chooseColour(s, e, kTextColour, 1, 2, 3);
    setText(e, kAddress, "OLD@example.jp");
    press(e, kRegister);
    EXPECT_EQ(answer(s.box("ビュースクリプト"), IDOK), "同一のアドレスが存在します。    ");
    // Nothing to delete for an address without a script.
    for (const char* address : {"", "n@example.jp"}) {
        setText(e, kAddress, address);
        press(e, kDeleteAddress);
        EXPECT_EQ(answer(s.box("ビュースクリプト"), IDOK),
                  *address ? "このアドレスについてのビュースクリプトはまだ作成されていません。   "
                           : "削除するアドレスがありません。   ");
    }
    press(e, kDeleteEffect);
    EXPECT_EQ(answer(s.box("ビュースクリプト"), IDOK),
              "登録された設定がないか、選択されていません。   ");
    // Renaming a script is asked first; Cancel keeps the old name.
    select(e, kAddress, 0);
    EXPECT_EQ(textOf(GetDlgItem(e, kBeginLine)), "-----");
    setText(e, kAddress, "renamed@example.jp");
    press(e, kRegister);
    EXPECT_EQ(answer(s.box("ビュースクリプト"), IDCANCEL),
              "アドレスが変更されています。よろしいですか？    ");
    closeAll(s, e);
    EXPECT_EQ(read("_ViewScript\\ViewScript.txt"), kOldScript);
    EXPECT_EQ(read("reread.txt"), "<missing>");
}

TEST_F(ScriptEditor, AFileThatCannotBeWrittenIsReportedAndTheViewerNotCalled) {
    // A folder where the file should be: it can be neither created nor replaced.
    ASSERT_EQ(platform::makeDirs(*fs, folder / "_ViewScript\\ViewScript.txt"), Err::None);
    write("_ViewScript\\keep.txt", "keep");
    Skelda s(folder.path(), "script a@example.jp");
    HWND e = open(s);
    ASSERT_NE(e, nullptr);
    setText(e, kBeginLine, "----");
    chooseColour(s, e, kTextColour, 9, 9, 9);
    press(e, kRegister);
    EXPECT_EQ(answer(s.box("ビュースクリプト"), IDOK),
              "ビュースクリプトファイルが開けませんでした。   ");
    EXPECT_EQ(read("_ViewScript\\keep.txt"), "keep");
    EXPECT_EQ(read("reread.txt"), "<missing>");
    closeAll(s, e);
}

TEST_F(ScriptEditor, AViewerOfAnotherNameIsServedBesideItsOwnProgram) {
    ASSERT_TRUE(MoveFileA((folder / "Skelda.exe").c_str(), (folder / "Mailview.exe").c_str()));
    Skelda s(folder.path(), "script a@example.jp", "Mailview.exe");
    HWND e = open(s);
    ASSERT_NE(e, nullptr);
    setText(e, kBeginLine, "----");
    chooseColour(s, e, kTextColour, 0, 0, 0);
    press(e, kRegister);
    waitUntil([&] { return read("reread.txt") != "<missing>"; });
    EXPECT_EQ(read("reread.txt"), "reread a@example.jp\r\n");
    EXPECT_EQ(read("_ViewScript\\ViewScript.txt").substr(0, 21), "Address:a@example.jp\r");
    closeAll(s, e);
}

TEST_F(ScriptEditor, DamagedFilesAreReadSafely) {
    std::string junk = "BeginLine:before any address\r\n\x81\r\nAddress:";
    junk += std::string(126, 'a') + "字字\r\nBeginLine:" + std::string(5000, 'b');
    junk += "\r\nSize:-99999999999\r\nEdgeType:Triangle\r\nTextColor:0xfffffffffff\r\n";
    junk += std::string("\0\0\0Address\0:\r\n", 14);
    write("_ViewScript\\ViewScript.txt", junk);
    write("Ombrel.ini",
          "[Option]\r\nShortCut=;;C;S99999;x\r\nCustomHeaderStr=" + std::string(400, 'h') +
              ";;;\r\nFontSize=-5\r\nSpaceBar=99999\r\nFontType=" + std::string(100, 'F') +
              "\r\n[CustColors]\r\n3=0x\r\n");
    {
        Skelda s(folder.path(), "settings 0");
        HWND d = s.wait("#32770", "設定");
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(textOf(GetDlgItem(d, kSpaceBar)), "49行");
        press(d, IDCANCEL);
        ASSERT_TRUE(s.exited());
        EXPECT_EQ(state("result"), "2");
    }
    Skelda s(folder.path(), "script x@example.jp");
    HWND e = open(s);
    ASSERT_NE(e, nullptr);
    select(e, kAddress, 0);
    EXPECT_EQ(textOf(GetDlgItem(e, kAddress)), std::string(126, 'a'));
    EXPECT_EQ(textOf(GetDlgItem(e, kBeginLine)), std::string(127, 'b'));
    EXPECT_EQ(textOf(GetDlgItem(e, kSize)), "14");
    press(e, kRegister);  // the read effect saves as it stands, in the file's format
    waitUntil([&] { return read("reread.txt") != "<missing>"; });
    const std::string file = read("_ViewScript\\ViewScript.txt");
    EXPECT_EQ(file.substr(0, 8 + 126 + 2), "Address:" + std::string(126, 'a') + "\r\n");
    EXPECT_NE(file.find("BeginLine:" + std::string(127, 'b') + "\r\nEndLine:\r\n"),
              std::string::npos);
    EXPECT_NE(file.find("TextColor:0xffffff\r\n"), std::string::npos);
    closeAll(s, e);
}

}  // namespace
