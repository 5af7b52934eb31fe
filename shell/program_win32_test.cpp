// The real Kolvy.exe under Wine, copied into a fresh program folder: first start, clean close,
// second start, second instance, crash report.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/sjis.h"
#include "core/timetext.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "store/store_test_util.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_env.h"

namespace {

using namespace kolvy;

constexpr DWORD kStartTimeout = 30000;
constexpr char kCrashNotice[] =
    "前回起動中に、エラーで終了したようです。お手数ですが、\n"
    "ホームページの掲示板にご連絡いただけるとありがたいです。   \n"
    "メニューの「ヘルプ」－「バージョン情報」ダイアログのアドレス部分    \n"
    "をクリックしていただくとホームページが開けます。 ";

struct FindArgs {
    DWORD pid;
    const char* cls;
    HWND found;
};

BOOL CALLBACK findWindowOf(HWND h, LPARAM lp) {
    auto* a = reinterpret_cast<FindArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (pid == a->pid && lstrcmpA(cls, a->cls) == 0 && IsWindowVisible(h)) {
        a->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND windowOf(DWORD pid, const char* cls) {
    FindArgs a{pid, cls, nullptr};
    EnumWindows(findWindowOf, reinterpret_cast<LPARAM>(&a));
    return a.found;
}

HWND waitWindow(DWORD pid, const char* cls, DWORD timeout = kStartTimeout) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND h = windowOf(pid, cls)) return h;
        if (GetTickCount() - start > timeout) return nullptr;
        Sleep(100);
    }
}

std::string textOf(HWND h) {
    char buf[2048] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
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
    // The exit code, or STILL_ACTIVE after the time-out.
    DWORD waitExit(DWORD timeout = 20000) {
        WaitForSingleObject(pi_.hProcess, timeout);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    HWND main() { return waitWindow(pid(), "MainWindow"); }
    HWND box(DWORD timeout) { return waitWindow(pid(), "#32770", timeout); }

  private:
    PROCESS_INFORMATION pi_{};
    bool started_ = false;
};

class ProgramUnderWine : public ::testing::Test {
  protected:
    test::TempFolder folder;
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
    void SetUp() override {
        ASSERT_TRUE(CopyFileA(KOLVY_EXE_PATH, (folder / "Kolvy.exe").c_str(), FALSE))
            << KOLVY_EXE_PATH;
    }
    std::string ini(std::string_view section, std::string_view key) {
        return platform::makeProfile(folder / "Kolvy.ini")->read(section, key).value_or("<none>");
    }
    std::string read(std::string_view rel) {
        auto d = platform::readWholeFile(*fs, folder / rel);
        return d ? *d : "<missing>";
    }
    // The report is written once the notice has been answered.
    std::string readWhenThere(std::string_view rel) {
        for (int i = 0; i < 100 && !fs->exists(folder / rel); ++i)
            Sleep(100);
        return read(rel);
    }
    void closeAndExpectCleanEnd(Kolvy& k, HWND main) {
        PostMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(k.waitExit(), 0u);
        EXPECT_EQ(ini("Option", "ErrorLogOut"), "0");
    }
};

TEST_F(ProgramUnderWine, FirstStartSecondStartAndCleanClose) {
    {
        Kolvy k(folder.path());
        ASSERT_TRUE(k.started());
        HWND main = k.main();
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(textOf(main), "Kolvyメール");
        for (const char* tab : {"受信", "送信", "ごみ箱"}) {
            const std::string index = std::string("MailData\\") + tab + "\\mokuji.bin";
            auto size = fs->fileSize(folder / index);
            ASSERT_TRUE(size) << tab;
            EXPECT_EQ(*size, 256u) << tab;
            EXPECT_TRUE(fs->isDir(folder / (std::string("MailData\\") + tab + "\\添付")));
        }
        HWND tabs = GetDlgItem(main, 11);
        ASSERT_NE(tabs, nullptr);
        EXPECT_EQ(SendMessageA(tabs, 0x1304 /* TCM_GETITEMCOUNT */, 0, 0), 3);
        EXPECT_EQ(SendMessageA(tabs, 0x130B /* TCM_GETCURSEL */, 0, 0), 0);
        Sleep(1000);  // let it paint
        test::saveScreenshot(main, "main-window-default-tabs");
        EXPECT_EQ(k.box(0), nullptr);
        closeAndExpectCleanEnd(k, main);
        EXPECT_EQ(ini("0", "TabCursor"), "1");
    }
    {
        Kolvy k(folder.path());
        HWND main = k.main();
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(k.box(1500), nullptr);  // a clean end reports nothing
        EXPECT_EQ(read("ErrorLog.txt"), "<missing>");
        closeAndExpectCleanEnd(k, main);
    }
}

TEST_F(ProgramUnderWine, SecondInstanceBringsTheFirstToTheFront) {
    Kolvy first(folder.path());
    HWND main = first.main();
    ASSERT_NE(main, nullptr);
    ShowWindow(main, SW_MINIMIZE);
    for (int i = 0; i < 50 && !IsIconic(main); ++i)
        Sleep(100);
    ASSERT_TRUE(IsIconic(main));
    {
        Kolvy second(folder.path());
        ASSERT_TRUE(second.started());
        EXPECT_EQ(second.waitExit(), 0u);
    }
    for (int i = 0; i < 50 && IsIconic(main); ++i)
        Sleep(100);
    EXPECT_FALSE(IsIconic(main));
    EXPECT_EQ(GetForegroundWindow(), main);
    closeAndExpectCleanEnd(first, main);
}

TEST_F(ProgramUnderWine, StartAfterAnUncleanShutdownReportsIt) {
    platform::writeWholeFile(*fs, folder / "Kolvy.ini", "[Option]\r\nErrorLogOut=5\r\n");
    Kolvy k(folder.path());
    HWND box = k.box(kStartTimeout);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(textOf(box), "Kolvyメール");
    EXPECT_EQ(textOf(GetDlgItem(box, 0xFFFF)), kCrashNotice);
    test::saveScreenshot(nullptr, "crash-notice");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(readWhenThere("ErrorLog.txt"), "終了時エラー　レベル＝5");
    closeAndExpectCleanEnd(k, main);
}

TEST_F(ProgramUnderWine, StartAfterAReceiveRunStoppedReportsTheEndOfItsLog) {
    platform::writeWholeFile(*fs, folder / "Kolvy.ini", "[Option]\r\nErrorLogOut=1\r\n");
    const platform::LocalTime now = platform::systemClock().localNow();
    const std::string log = "_Log\\受信ログ\\受信ログ" + yearMonth(now) + ".txt";
    platform::makeDirs(*fs, std::string(sjis::parentPath(folder / log)));
    platform::writeWholeFile(*fs, folder / log,
                             "RETR 1\r\n+OK\r\nbody\r\n.\r\nRETR 2\r\n+OK\r\nSubject: cut");
    Kolvy k(folder.path());
    HWND box = k.box(kStartTimeout);
    ASSERT_NE(box, nullptr);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(readWhenThere("ErrorLog.txt"), "RETR 2\r\n+OK\r\nSubject: cut");
    closeAndExpectCleanEnd(k, main);
}

TEST_F(ProgramUnderWine, ThreadMessagesForATemporaryTabAndADeferredExit) {
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    HWND tabs = GetDlgItem(main, 11);
    ASSERT_TRUE(PostThreadMessageA(thread, 0x8001, 0, 0));
    for (int i = 0; i < 50 && SendMessageA(tabs, 0x1304 /* TCM_GETITEMCOUNT */, 0, 0) < 4; ++i)
        Sleep(100);
    EXPECT_EQ(SendMessageA(tabs, 0x1304, 0, 0), 4);
    EXPECT_TRUE(fs->isDir(folder / "MailData\\臨時タブ1"));
    EXPECT_EQ(ini("3", "Default"), "1");
    EXPECT_EQ(ini("0", "Default"), "0");
    EXPECT_EQ(ini("TagList", "TagTab"), "0;1;2;3");
    ASSERT_TRUE(PostThreadMessageA(thread, 0x8009, 0, 0));
    EXPECT_EQ(k.waitExit(), 0u);
    EXPECT_EQ(ini("Option", "ErrorLogOut"), "0");
}

TEST_F(ProgramUnderWine, ShowsTheCurrentTabsListFromItsIndex) {
    platform::writeWholeFile(*fs, folder / "Kolvy.ini",
                             "[TagList]\r\nTagTab=0;1;2\r\n"
                             "[0]\r\nTabName=受信\r\nDefault=1\r\nColor=0xffaa55\r\n"
                             "TabTxtColor=0x8c3f00\r\nNextFileNo=3\r\nAllMailCount=3\r\n"
                             "NoReadMailCount=2\r\nTabCursor=1\r\n"
                             "[1]\r\nTabName=送信\r\nPropaty=1\r\nDefault=1\r\n"
                             "[2]\r\nTabName=ごみ箱\r\nPropaty=2\r\nDefault=1\r\n");
    for (const char* tab : {"受信", "送信", "ごみ箱"}) {
        platform::makeDirs(*fs, folder / (std::string("MailData\\") + tab + "\\添付"));
        platform::writeWholeFile(*fs, folder / (std::string("MailData\\") + tab + "\\mokuji.bin"),
                                 store::newIndexHeader());
    }
    std::vector<store::IndexRecord> records;
    for (int n = 0; n < 3; ++n)
        records.push_back(store::testing::record(n, n == 2 ? 3 : 0));
    records[0].texts[2] = "会議の議事録について";
    records[1].texts[2] = "Re: 表計算ソフトの件";
    platform::writeWholeFile(*fs, folder / "MailData\\受信\\mokuji.bin",
                             store::testing::indexImage(records));
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    HWND list = nullptr;
    for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[64] = {};
        GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpA(cls, "SysListView32") == 0 && IsWindowVisible(c)) list = c;
    }
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(SendMessageA(list, 0x1004 /* LVM_GETITEMCOUNT */, 0, 0), 3);
    Sleep(1000);
    test::saveScreenshot(main, "main-window-with-mail");
    EXPECT_EQ(k.box(0), nullptr);
    closeAndExpectCleanEnd(k, main);
    EXPECT_EQ(read("MailData\\受信\\mokuji.bin"), store::testing::indexImage(records));
}

}  // namespace
