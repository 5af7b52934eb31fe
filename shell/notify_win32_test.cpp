// The new-mail notice in the real Kolvy.exe under Wine. A stand-in plug-in (notify_probe_win32.cpp,
// loaded by the search command as "Fandor.dll") marks the receive tab's entries as arrived, as
// storing received mail does; the test then posts what the receive run posts and reads the
// dialog from its window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/fileutil.h"
#include "store/store_test_util.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_program.h"

namespace {

using namespace kolvy;
using namespace kolvy::test;

constexpr UINT kSearchCommand = 40009;
constexpr UINT kMsgCloseNotice = 0x8003;
constexpr UINT kMsgOpenNotice = 0x8004;
constexpr int kTextId = 10301, kBoxId = 10302, kCloseId = 10300, kToggleId = 10303;
constexpr char kUnreadable[] = "ビットマップファイルが開けませんでした。   ";

bool gone(HWND h) {
    return waitFor([&] { return !IsWindow(h) || !IsWindowVisible(h); }, 5000);
}

// An 8-bit animation of `frames` square frames of `size` pixels: a ball that moves down.
std::string ballAnimation(int size, int frames) {
    const int rows = size * frames;
    const int stride = (size + 3) / 4 * 4;
    const uint32_t at = 54 + 256 * 4;
    std::string s(at + static_cast<size_t>(stride) * rows, '\0');
    auto put32 = [&](size_t o, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s[o + i] = static_cast<char>(v >> (8 * i));
    };
    s[0] = 'B';
    s[1] = 'M';
    put32(2, static_cast<uint32_t>(s.size()));
    put32(10, at);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(size));
    put32(22, static_cast<uint32_t>(rows));
    s[26] = 1;
    s[28] = 8;
    // Colour 0 a pale yellow background, colour 1 orange, colour 2 dark brown.
    const unsigned char table[3][4] = {
        {0xd0, 0xf8, 0xff, 0}, {0x20, 0x90, 0xff, 0}, {0, 0x30, 0x60, 0}};
    for (int c = 0; c < 3; ++c)
        for (int b = 0; b < 4; ++b)
            s[54 + c * 4 + b] = static_cast<char>(table[c][b]);
    for (int y = 0; y < rows; ++y) {
        const int f = y / size, fy = y % size;
        const double r = size * 0.2, cx = size / 2.0,
                     cy = r + 1 + (size - 2 * r - 2) * f / (frames > 1 ? frames - 1 : 1);
        for (int x = 0; x < size; ++x) {
            const double d = std::hypot(x - cx, fy - cy);
            const char colour = d < r - 2 ? 1 : (d < r ? 2 : 0);
            s[at + static_cast<size_t>(rows - 1 - y) * stride + x] = colour;
        }
    }
    return s;
}

// The animation box's side, or -1 when it is not square.
int boxSize(HWND dlg) {
    RECT r{};
    GetClientRect(GetDlgItem(dlg, kBoxId), &r);
    return r.right == r.bottom ? r.right : -1;
}

class Notice : public WineProgramTest {
  protected:
    void SetUp() override {
        WineProgramTest::SetUp();
        ASSERT_TRUE(CopyFileA(KOLVY_NOTIFY_PROBE_PATH, t.path("Fandor.dll").c_str(), FALSE));
        for (const char* tab : {"受信", "送信", "ごみ箱"}) {
            platform::makeDirs(*t.fs, t.path(std::string("MailData\\") + tab + "\\添付"));
            t.write(std::string("MailData\\") + tab + "\\mokuji.bin", store::newIndexHeader());
        }
        std::vector<store::IndexRecord> records;
        for (int n = 0; n < 3; ++n)
            records.push_back(store::testing::record(n, 0, "お知らせ" + std::to_string(n)));
        t.write("MailData\\受信\\mokuji.bin", store::testing::indexImage(records));
    }
    void TearDown() override {
        if (k && main) closeCleanly(*k);
    }
    // The tabs of the index images, and the options.
    void options(const std::string& text) {
        writeIni("[Option]\r\n" + text +
                 "[TagList]\r\nTagTab=0;1;2\r\n"
                 "[0]\r\nTabName=受信\r\nDefault=1\r\nNextFileNo=3\r\n"
                 "AllMailCount=3\r\nNoReadMailCount=3\r\nTabCursor=1\r\n"
                 "[1]\r\nTabName=送信\r\nPropaty=1\r\nDefault=1\r\n"
                 "[2]\r\nTabName=ごみ箱\r\nPropaty=2\r\nDefault=1\r\n");
    }
    void start() {
        k.emplace(t.folder.path());
        main = k->main();
        ASSERT_NE(main, nullptr);
    }
    // Runs the stand-in plug-in with `word`; its answer, once written (or "<missing>").
    void probe(const std::string& word) {
        DeleteFileA(t.path("notify-probe-done.txt").c_str());
        t.write("notify-probe.txt", word);
        k->command(kSearchCommand);
    }
    std::string probeAnswer() { return readWhenThere("notify-probe-done.txt"); }
    // Starts the program, marks the receive tab's three entries as arrived and posts what the
    // receive run posts at its end.
    void startWithArrivals() {
        ASSERT_NO_FATAL_FAILURE(start());
        probe("mark");
        ASSERT_EQ(probeAnswer(), "marked 3");
        PostMessageA(main, kMsgOpenNotice, 0, 0);
    }
    HWND notice(DWORD timeout = 10000) { return k->box(timeout, "新着通知"); }
    HWND box(DWORD timeout = 10000) { return k->box(timeout, "Kolvyメール"); }

    std::optional<Kolvy> k;
    HWND main = nullptr;
};

TEST_F(Notice, ArrivalsOpenTheNoticeWithItsCountAndAnimationAndTheRunClosesIt) {
    options("");
    // Eight frames: 500 ms and seven times 200 ms, still running when the run closes it.
    t.write("sinchaku.bmp", ballAnimation(60, 8));
    ASSERT_NO_FATAL_FAILURE(startWithArrivals());
    HWND dlg = notice();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(box(0), nullptr);  // the bitmap was read
    EXPECT_EQ(textOf(dlg), "新着通知");
    EXPECT_EQ(textOf(GetDlgItem(dlg, kTextId)), "3通の新着メールがあります");
    EXPECT_EQ(boxSize(dlg), 76);
    Sleep(1000);  // a few frames on
    saveScreenshot(dlg, "new-mail-notice-small");
    // A second notice while one is open does not stack a second dialog.
    PostMessageA(main, kMsgOpenNotice, 0, 0);
    Sleep(500);
    EXPECT_EQ(notice(0), dlg);
    // A new receive run starts by closing it, animation running; the next run's notice opens.
    PostMessageA(main, kMsgCloseNotice, 0, 0);
    EXPECT_TRUE(gone(dlg));
    EXPECT_TRUE(IsWindow(main));
    PostMessageA(main, kMsgOpenNotice, 0, 0);
    HWND again = notice();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(again, kTextId)), "3通の新着メールがあります");
    PostMessageA(again, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(gone(again));
    // OK brings the main window forward.
    EXPECT_TRUE(waitFor([&] { return GetForegroundWindow() == main; }, 3000));
}

TEST_F(Notice, LargeBoxCountsAllNewMail) {
    options("SinchakuDlg=2\r\nSinchakuDlg1=1\r\nSinchakuAnimeFile=neko_1.bmp\r\n");
    t.write("neko_1.bmp", ballAnimation(110, 3));
    ASSERT_NO_FATAL_FAILURE(startWithArrivals());
    HWND dlg = notice();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(dlg, kTextId)), "3通の新着メールがあります");
    EXPECT_EQ(boxSize(dlg), 124);
    // Three frames at 100 ms after 500 ms: by now the last one stands, its ball low in the box.
    Sleep(1500);
    saveScreenshot(dlg, "new-mail-notice-large");
    POINT low{62, 94}, high{62, 30};
    ClientToScreen(GetDlgItem(dlg, kBoxId), &low);
    ClientToScreen(GetDlgItem(dlg, kBoxId), &high);
    HDC screen = GetDC(nullptr);
    const COLORREF lowPixel = GetPixel(screen, low.x, low.y);
    const COLORREF highPixel = GetPixel(screen, high.x, high.y);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(lowPixel, RGB(255, 144, 32));
    EXPECT_EQ(highPixel, RGB(255, 248, 208));
    PostMessageA(dlg, WM_COMMAND, kCloseId, 0);
    EXPECT_TRUE(gone(dlg));
}

TEST_F(Notice, AHostileBitmapIsRefusedAndTheNoticeStaysWithoutAnimation) {
    options("");
    std::string hostile = ballAnimation(60, 2);
    hostile[22] = '\xff';  // rows far beyond the file
    hostile[23] = '\xff';
    hostile[24] = '\x00';
    t.write("sinchaku.bmp", hostile);
    ASSERT_NO_FATAL_FAILURE(startWithArrivals());
    HWND refusal = box();
    ASSERT_NE(refusal, nullptr);
    EXPECT_EQ(boxText(refusal), kUnreadable);
    saveScreenshot(nullptr, "new-mail-notice-bitmap-refused");
    PostMessageA(refusal, WM_COMMAND, IDOK, 0);
    HWND dlg = notice();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(dlg, kTextId)), "3通の新着メールがあります");
    PostMessageA(main, kMsgCloseNotice, 0, 0);
    EXPECT_TRUE(gone(dlg));
    EXPECT_TRUE(IsWindow(main));
}

int heightOf(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    return r.bottom - r.top;
}

TEST_F(Notice, TheUtilityLibrarysListIsShownAndHiddenByTheToggle) {
    options("");
    t.write("sinchaku.bmp", ballAnimation(60, 2));
    ASSERT_TRUE(CopyFileA(KOLVY_NOTIFY_ZORVAN_PATH, t.path("Zorvan.dll").c_str(), FALSE));
    start();
    probe("zorvan");
    ASSERT_EQ(probeAnswer(), "loaded");
    probe("mark");
    ASSERT_EQ(probeAnswer(), "marked 3");
    PostMessageA(main, kMsgOpenNotice, 0, 0);
    HWND dlg = notice();
    ASSERT_NE(dlg, nullptr);
    ASSERT_NE(GetDlgItem(dlg, kToggleId), nullptr);
    const int shown = heightOf(dlg);
    Sleep(700);
    saveScreenshot(dlg, "new-mail-notice-with-list");
    auto info = [&] { return setting("Option", "SinchakuInfo0"); };
    // One line of 13 pixels: the one tab with new mail.
    PostMessageA(dlg, WM_COMMAND, kToggleId, 0);
    waitFor([&] { return info() == "0" && heightOf(dlg) != shown; }, 5000);
    EXPECT_EQ(info(), "0");
    EXPECT_EQ(heightOf(dlg), shown - 13);
    PostMessageA(dlg, WM_COMMAND, kToggleId, 0);
    waitFor([&] { return info() == "1" && heightOf(dlg) == shown; }, 5000);
    EXPECT_EQ(info(), "1");
    EXPECT_EQ(heightOf(dlg), shown);
    PostMessageA(dlg, WM_COMMAND, kCloseId, 0);
    EXPECT_TRUE(gone(dlg));
}

TEST_F(Notice, AFailedRunWithNothingArrivedShowsNothing) {
    options("");
    start();
    PostMessageA(main, kMsgOpenNotice, 1, 0);
    EXPECT_EQ(notice(1500), nullptr);
    EXPECT_EQ(box(0), nullptr);
}

TEST_F(Notice, PluginsOpenTheNoticeByName) {
    options("");
    t.write("sinchaku.bmp", ballAnimation(60, 2));
    start();
    probe("open");
    HWND dlg = notice();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(dlg, kTextId)), "新着メールはありません");
    PostMessageA(dlg, WM_COMMAND, kCloseId, 0);
    EXPECT_TRUE(gone(dlg));
    EXPECT_EQ(probeAnswer(), "result 2");  // IDCANCEL: closed
}

}  // namespace
