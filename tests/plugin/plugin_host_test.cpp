// The search plug-in's side of the host exports, in the real Kolvy.exe: a stand-in plug-in
// (probe_fandor.cpp) is loaded by the search command as "Fandor.dll", binds AllMokujiRead,
// GetCurrentPath and TabStatus by name and walks the tab records and index entries by pointer.
// What it saw must be what this test wrote into the program folder. Built for 32 bits, this is
// the layout and calling convention a 32-bit plug-in meets.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "store/store_test_util.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_env.h"
#include "tests/support/wine_program.h"

namespace {

using namespace kolvy;

constexpr UINT kSearchCommand = 40009;  // "メール検索(&K)"
constexpr int kMessages = 40;

HWND visibleList(HWND main) {
    for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[64] = {};
        GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpA(cls, "SysListView32") == 0 && IsWindowVisible(c)) return c;
    }
    return nullptr;
}

std::vector<std::vector<std::string>> lines(const std::string& text) {
    std::vector<std::vector<std::string>> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        size_t at = 0;
        for (size_t bar; (bar = line.find('|', at)) != std::string::npos; at = bar + 1)
            cols.push_back(line.substr(at, bar - at));
        cols.push_back(line.substr(at));
        out.push_back(cols);
    }
    return out;
}

// Kolvy.exe started in its program folder; closed through its window, it must end cleanly.
struct Program {
    explicit Program(const std::string& folder) {
        const std::string exe = folder + "\\Kolvy.exe";
        std::string cmd = "\"" + exe + "\"";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           folder.c_str(), &si, &pi))
            main = test::waitWindow(pi.dwProcessId, "MainWindow", 30000);
    }
    void close() {
        PostMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(code, 0u);
    }
    ~Program() {
        if (!pi.hProcess) return;
        TerminateProcess(pi.hProcess, 99);  // this test's own, by its handle; no-op once ended
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    PROCESS_INFORMATION pi{};
    HWND main = nullptr;
};

class PluginHost : public ::testing::Test {
  protected:
    test::TempFolder folder;
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
    std::vector<store::IndexRecord> records;

    void SetUp() override {
        ASSERT_TRUE(CopyFileA(KOLVY_EXE_PATH, (folder / "Kolvy.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(KOLVY_PROBE_PATH, (folder / "Fandor.dll").c_str(), FALSE));
        // Only the tail of the index is read at start-up: the plug-in must ask for the rest.
        platform::writeWholeFile(*fs, folder / "Kolvy.ini",
                                 "[Option]\r\nReadByte=1000\r\n[TagList]\r\nTagTab=0;1;2\r\n"
                                 "[0]\r\nTabName=受信\r\nDefault=1\r\nColor=0xffaa55\r\n"
                                 "NextFileNo=40\r\n"
                                 "AllMailCount=40\r\nNoReadMailCount=40\r\nTabCursor=1\r\n"
                                 "[1]\r\nTabName=送信\r\nPropaty=1\r\nDefault=1\r\n"
                                 "[2]\r\nTabName=ごみ箱\r\nPropaty=2\r\nDefault=1\r\n");
        for (const char* tab : {"受信", "送信", "ごみ箱"}) {
            platform::makeDirs(*fs, folder / (std::string("MailData\\") + tab + "\\添付"));
            platform::writeWholeFile(*fs,
                                     folder / (std::string("MailData\\") + tab + "\\mokuji.bin"),
                                     store::newIndexHeader());
        }
        for (int n = 0; n < kMessages; ++n)
            records.push_back(store::testing::record(n, 0, "件名その" + std::to_string(n)));
        const std::string image = store::testing::indexImage(records);
        platform::writeWholeFile(*fs, folder / "MailData\\受信\\mokuji.bin", image);
        // The offsets the index gives each record, as the entries must carry them.
        size_t at = store::newIndexHeader().size();
        for (auto& r : records) {
            r.offset = static_cast<uint32_t>(at);
            at += store::encodeRecord(r).size();
        }
    }
};

TEST_F(PluginHost, StandInPluginWalksTheHostsTabsAndEntriesByPointer) {
    Program program(folder.path());
    HWND main = program.main;
    ASSERT_NE(main, nullptr);
    HWND list = visibleList(main);
    ASSERT_NE(list, nullptr);
    const LRESULT shownAtStart = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    EXPECT_GT(shownAtStart, 0);
    EXPECT_LT(shownAtStart, kMessages);  // the tail only

    PostMessageA(main, WM_COMMAND, kSearchCommand, 0);
    std::string probe = "<missing>";
    for (int i = 0; i < 300; ++i, Sleep(100)) {
        auto d = platform::readWholeFile(*fs, folder / "plugin-probe.txt");
        if (d) {
            probe = *d;
            break;
        }
    }
    const auto rows = lines(probe);
    ASSERT_GE(rows.size(), 4u) << probe;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"pointer", std::to_string(sizeof(void*))}));
    const std::string dataFolder = folder / "MailData";
    // tab|name|kind|before|AllMokujiRead|after|allMailCount|path|entries
    EXPECT_EQ(rows[1], (std::vector<std::string>{"tab", "受信", "0", "1", "1", "2", "40",
                                                 dataFolder, std::to_string(kMessages)}));
    ASSERT_GE(rows.size(), 2u + kMessages + 2u) << probe;
    for (int n = 0; n < kMessages; ++n) {
        const store::IndexRecord& r = records[static_cast<size_t>(n)];
        char number[8];
        std::snprintf(number, sizeof number, " %04d", n);
        EXPECT_EQ(rows[2 + n],
                  (std::vector<std::string>{"item", number, "0", std::to_string(r.storedTime),
                                            std::to_string(r.offset), r.texts[2]}))
            << n;
    }
    // The other tabs were never shown: AllMokujiRead reads them whole; they are empty.
    EXPECT_EQ(rows[2 + kMessages],
              (std::vector<std::string>{"tab", "送信", "1", "0", "0", "2", "0", dataFolder, "0"}));
    EXPECT_EQ(rows[3 + kMessages], (std::vector<std::string>{"tab", "ごみ箱", "2", "0", "0", "2",
                                                             "0", dataFolder, "0"}));
    // The list in the window shows what the plug-in had read in.
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), kMessages);
    test::saveScreenshot(main, "main-window-after-plugin-read-all");

    program.close();
    EXPECT_EQ(platform::makeProfile(folder / "Kolvy.ini")->read("Option", "ErrorLogOut"), "0");
}

TEST_F(PluginHost, SearchWithoutThePluginSaysSoAndGoesOn) {
    ASSERT_TRUE(DeleteFileA((folder / "Fandor.dll").c_str()));
    Program program(folder.path());
    HWND main = program.main;
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSearchCommand, 0);
    HWND box = test::waitWindow(program.pi.dwProcessId, "#32770", 30000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(test::textOf(box), "Kolvyメール");
    EXPECT_EQ(test::textOf(GetDlgItem(box, 0xFFFF)), "Fandor.dllが読み込めません。   ");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    program.close();
}

}  // namespace
