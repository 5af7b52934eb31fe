// The real Kolvy.exe under Wine, copied into a fresh program folder: first start, clean close,
// second start, second instance, crash report.
#include <windows.h>
// The common controls need windows.h first.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "core/sjis.h"
#include "core/timetext.h"
#include "platform/fileutil.h"
#include "store/store_test_util.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_program.h"

namespace {

using namespace kolvy;
using namespace kolvy::test;

constexpr char kCrashNotice[] =
    "前回起動中に、エラーで終了したようです。お手数ですが、\n"
    "ホームページの掲示板にご連絡いただけるとありがたいです。   \n"
    "メニューの「ヘルプ」－「バージョン情報」ダイアログのアドレス部分    \n"
    "をクリックしていただくとホームページが開けます。 ";
const char* const kTabs[] = {"受信", "送信", "ごみ箱"};

using ProgramUnderWine = WineProgramTest;

TEST_F(ProgramUnderWine, FirstStartSecondStartAndCleanClose) {
    {
        Kolvy k(t.folder.path());
        HWND main = k.main();
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(textOf(main), "Kolvyメール");
        for (const char* tab : kTabs) {
            const std::string dir = std::string("MailData\\") + tab;
            EXPECT_EQ(t.read(dir + "\\mokuji.bin").size(), 256u) << tab;
            EXPECT_TRUE(t.fs->isDir(t.path(dir + "\\添付"))) << tab;
        }
        HWND tabs = GetDlgItem(main, 11);
        EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
        EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0);
        Sleep(1000);  // let it paint
        saveScreenshot(main, "main-window-default-tabs");
        EXPECT_EQ(k.box(0), nullptr);
        closeCleanly(k);
        EXPECT_EQ(setting("0", "TabCursor"), "1");
    }
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    EXPECT_EQ(k.box(1500), nullptr);  // a clean end reports nothing
    EXPECT_EQ(t.read("ErrorLog.txt"), "<missing>");
    closeCleanly(k);
}

TEST_F(ProgramUnderWine, SecondInstanceBringsTheFirstToTheFront) {
    Kolvy first(t.folder.path());
    HWND main = first.main();
    ASSERT_NE(main, nullptr);
    ShowWindow(main, SW_MINIMIZE);
    ASSERT_TRUE(waitFor([&] { return IsIconic(main) != FALSE; }, 5000));
    {
        Kolvy second(t.folder.path());
        ASSERT_TRUE(second.started());
        EXPECT_EQ(second.waitExit(), 0u);
    }
    EXPECT_TRUE(waitFor([&] { return !IsIconic(main); }, 5000));
    EXPECT_EQ(GetForegroundWindow(), main);
    closeCleanly(first);
}

// After an unclean end the notice comes before the window, and the report is written once it
// has been answered: the shutdown level, or the end of the receive log a receive run left.
TEST_F(ProgramUnderWine, StartAfterAnUncleanEndReportsWhereItStopped) {
    const std::string log =
        "_Log\\受信ログ\\受信ログ" + yearMonth(platform::systemClock().localNow()) + ".txt";
    t.write(log, "RETR 1\r\n+OK\r\nbody\r\n.\r\nRETR 2\r\n+OK\r\nSubject: cut");
    const std::pair<const char*, const char*> cases[] = {{"5", "終了時エラー　レベル＝5"},
                                                         {"1", "RETR 2\r\n+OK\r\nSubject: cut"}};
    for (const auto& [level, report] : cases) {
        SCOPED_TRACE(level);
        DeleteFileA(t.path("ErrorLog.txt").c_str());
        writeIni(std::string("[Option]\r\nErrorLogOut=") + level + "\r\n");
        Kolvy k(t.folder.path());
        HWND box = k.box(kWineStartTimeout);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(textOf(box), "Kolvyメール");
        EXPECT_EQ(boxText(box), kCrashNotice);
        if (*level == '5') saveScreenshot(nullptr, "crash-notice");
        press(box, IDOK);
        ASSERT_NE(k.main(), nullptr);
        EXPECT_EQ(readWhenThere("ErrorLog.txt"), report);
        closeCleanly(k);
    }
}

TEST_F(ProgramUnderWine, ThreadMessagesForATemporaryTabAndADeferredExit) {
    Kolvy k(t.folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    HWND tabs = GetDlgItem(main, 11);
    ASSERT_TRUE(PostThreadMessageA(thread, 0x8001, 0, 0));
    EXPECT_TRUE(waitFor([&] { return SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0) == 4; }, 5000));
    EXPECT_TRUE(t.fs->isDir(t.path("MailData\\臨時タブ1")));
    EXPECT_EQ(setting("3", "Default"), "1");
    EXPECT_EQ(setting("0", "Default"), "0");
    EXPECT_EQ(setting("TagList", "TagTab"), "0;1;2;3");
    ASSERT_TRUE(PostThreadMessageA(thread, 0x8009, 0, 0));
    EXPECT_EQ(k.waitExit(), 0u);
    EXPECT_EQ(setting("Option", "ErrorLogOut"), "0");
}

TEST_F(ProgramUnderWine, ShowsTheCurrentTabsListFromItsIndex) {
    writeIni(
        "[TagList]\r\nTagTab=0;1;2\r\n"
        "[0]\r\nTabName=受信\r\nDefault=1\r\nColor=0xffaa55\r\nTabTxtColor=0x8c3f00\r\n"
        "NextFileNo=3\r\nAllMailCount=3\r\nNoReadMailCount=2\r\nTabCursor=1\r\n"
        "[1]\r\nTabName=送信\r\nPropaty=1\r\nDefault=1\r\n"
        "[2]\r\nTabName=ごみ箱\r\nPropaty=2\r\nDefault=1\r\n");
    for (const char* tab : kTabs) {
        platform::makeDirs(*t.fs, t.path(std::string("MailData\\") + tab + "\\添付"));
        t.write(std::string("MailData\\") + tab + "\\mokuji.bin", store::newIndexHeader());
    }
    std::vector<store::IndexRecord> records;
    for (int n = 0; n < 3; ++n)
        records.push_back(store::testing::record(n, n == 2 ? 3 : 0));
    records[0].texts[2] = "会議の議事録について";
    records[1].texts[2] = "Re: 表計算ソフトの件";
    t.write("MailData\\受信\\mokuji.bin", store::testing::indexImage(records));
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    HWND list = childOfClass(k.main(), "SysListView32");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 3);
    Sleep(1000);
    saveScreenshot(k.main(), "main-window-with-mail");
    EXPECT_EQ(k.box(0), nullptr);
    closeCleanly(k);
    EXPECT_EQ(t.read("MailData\\受信\\mokuji.bin"), store::testing::indexImage(records));
}

}  // namespace
