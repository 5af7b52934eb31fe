// The receive commands of the real Kolvy.exe under Wine against the real dovecot: 受信 stores the
// mail, a second start is refused while a run works, an abort in a long fetch loses and doubles
// nothing, the periodic timer receives on its grid with the program's clock set by the test, and
// the tests' own mail checker gets its calls and has mail fetched and deleted through
// KVA_Recieve.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "config/password.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "pop/testsupport/real_servers.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_env.h"

namespace {

using namespace kolvy;

constexpr DWORD kStartTimeout = 30000;
constexpr UINT kReceive = 40003, kAbort = 40018, kChecker = 40017;

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

HWND waitWindow(DWORD pid, const char* cls, DWORD timeout) {
    const DWORD start = GetTickCount();
    for (;;) {
        FindArgs a{pid, cls, nullptr};
        EnumWindows(findWindowOf, reinterpret_cast<LPARAM>(&a));
        if (a.found) return a.found;
        if (GetTickCount() - start > timeout) return nullptr;
        Sleep(50);
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
    DWORD waitExit(DWORD timeout = 20000) {
        WaitForSingleObject(pi_.hProcess, timeout);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    HWND main() { return waitWindow(pi_.dwProcessId, "MainWindow", kStartTimeout); }
    HWND box(DWORD timeout) { return waitWindow(pi_.dwProcessId, "#32770", timeout); }

  private:
    PROCESS_INFORMATION pi_{};
    bool started_ = false;
};

// The unique ids dovecot lists now, in message order.
std::vector<std::string> serverUidls(const test::PopServers& s) {
    std::vector<std::string> ids;
    SOCKET so = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(s.dovecotPop3);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(so, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return ids;
    std::string in;
    auto readUntil = [&](const char* end) {
        char buf[4096];
        while (in.find(end) == std::string::npos) {
            const int n = recv(so, buf, sizeof buf, 0);
            if (n <= 0) return;
            in.append(buf, static_cast<size_t>(n));
        }
    };
    auto say = [&](const std::string& line, const char* end) {
        in.clear();
        const std::string l = line + "\r\n";
        send(so, l.data(), static_cast<int>(l.size()), 0);
        readUntil(end);
    };
    readUntil("\r\n");
    say("USER " + s.user, "\r\n");
    say("PASS " + s.password, "\r\n");
    say("UIDL", "\r\n.\r\n");
    size_t at = in.find("\r\n") + 2;
    while (at < in.size() && in.compare(at, 3, ".\r\n") != 0) {
        const size_t end = in.find("\r\n", at);
        const std::string line = in.substr(at, end - at);
        ids.push_back(line.substr(line.find(' ') + 1));
        at = end + 2;
    }
    say("QUIT", "\r\n");
    closesocket(so);
    return ids;
}

class ReceiveUnderWine : public ::testing::Test {
  protected:
    void SetUp() override {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
        auto s = test::popServers();
        ASSERT_TRUE(s) << "the pop-servers fixture has not run";
        servers = *s;
        servers.emptyDovecot();
        ASSERT_TRUE(CopyFileA(KOLVY_EXE_PATH, (folder / "Kolvy.exe").c_str(), FALSE));
        auto ini = platform::makeProfile(folder / "Kolvy.ini");
        write(*ini, "TagList", "TagAcount", "自宅");
        write(*ini, "自宅", "TagNo", "0");
        write(*ini, "自宅", "POP3Server", "127.0.0.1");
        write(*ini, "自宅", "UserID", servers.user);
        write(*ini, "自宅", "Password", config::scramblePassword(servers.password));
        write(*ini, "自宅", "POPPort", std::to_string(servers.dovecotPop3));
        write(*ini, "自宅", "MailAddress", "me@example.jp");
        write(*ini, "TagList", "TagOrder", "100");
        write(*ini, "100", "TagNo", "0");
        write(*ini, "100", "OrderName", "受信注文");
        write(*ini, "100", "SelectPain", "1");
        write(*ini, "Option", "TimeOut", "20000");
        write(*ini, "Option", "SinchakuDlg", "0");
    }
    void TearDown() override {
        servers.emptyDovecot();
        SetEnvironmentVariableA("KOLVY_TEST_CLOCK", nullptr);
    }
    static void write(platform::Profile& ini, std::string_view s, std::string_view k,
                      std::string_view v) {
        ASSERT_EQ(ini.write(s, k, v), Err::None);
    }
    // Replaced whole, so the program never reads it half written (and tried again while the
    // program has it open for its tick).
    void setClock(int hour, int minute) {
        const std::string at = std::to_string(20000LL * 1440 + hour * 60 + minute);
        Err e = Err::Io;
        for (int i = 0; i < 40 && e != Err::None; ++i) {
            e = platform::replaceFileContents(*fs, folder / "clock.txt", folder / "clock.tmp", at,
                                              platform::Flush::ToCache);
            if (e != Err::None) Sleep(50);
        }
        ASSERT_EQ(e, Err::None);
    }
    void setIni(std::string_view s, std::string_view k, std::string_view v) {
        write(*platform::makeProfile(folder / "Kolvy.ini"), s, k, v);
    }
    std::string ini(std::string_view section, std::string_view key) {
        return platform::makeProfile(folder / "Kolvy.ini")->read(section, key).value_or("<none>");
    }
    std::string read(std::string_view rel) {
        auto d = platform::readWholeFile(*fs, folder / rel);
        return d ? *d : "<missing>";
    }
    void deliver(int count, size_t bodyBytes, int first = 0) {
        for (int i = first; i < first + count; ++i) {
            std::string m = "From: sender@example.jp\r\nTo: me@example.jp\r\nSubject: message " +
                            std::to_string(i) + "\r\nMessage-ID: <m" + std::to_string(i) +
                            "@example.jp>\r\n\r\n";
            std::string line = "message " + std::to_string(i) + " body line\r\n";
            while (m.size() < bodyBytes)
                m += line;
            ASSERT_TRUE(servers.deliverToDovecot("m" + std::to_string(i), m));
        }
    }
    // Message files of the basic receive tab, and each stored message's number from its
    // subject (to find doubles).
    std::vector<int> stored() {
        std::vector<int> numbers;
        auto list = fs->list(folder / "MailData\\受信");
        if (!list) return numbers;
        for (const auto& e : *list) {
            if (e.isDir || e.name.size() != 8 || e.name.substr(4) != ".txt") continue;
            const std::string text = read("MailData\\受信\\" + e.name);
            const size_t at = text.find("Subject: message ");
            numbers.push_back(at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 17));
        }
        return numbers;
    }
    bool waitFor(const std::function<bool()>& done, DWORD timeout = 60000) {
        const DWORD start = GetTickCount();
        while (!done()) {
            if (GetTickCount() - start > timeout) return false;
            Sleep(100);
        }
        return true;
    }
    bool runEnded() { return ini("Option", "ErrorLogOut") != "1"; }
    // The run marks its start and end in ErrorLogOut ("1", then "0"): a mark of the test's own
    // tells this run's end from the last one's.
    void receiveAndWait(HWND main, size_t expected) {
        setIni("Option", "ErrorLogOut", "idle");
        PostMessageA(main, WM_COMMAND, kReceive, 0);
        ASSERT_TRUE(waitFor([&] {
            return stored().size() >= expected && ini("Option", "ErrorLogOut") == "0";
        })) << stored().size();
    }
    void closeCleanly(Kolvy& k, HWND main) {
        PostMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(k.waitExit(), 0u);
    }

    test::PopServers servers;
    test::TempFolder folder;
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
};

TEST_F(ReceiveUnderWine, ReceiveCommandStoresTheMailAndEmptiesTheServer) {
    deliver(3, 300);
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    receiveAndWait(main, 3);
    std::vector<int> got = stored();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(serverUidls(servers).empty());
    EXPECT_EQ(k.box(0), nullptr);
    Sleep(500);
    test::saveScreenshot(main, "receive-after-run");
    // Nothing new: a second run stores nothing more.
    receiveAndWait(main, 3);
    EXPECT_EQ(stored().size(), 3u);
    closeCleanly(k, main);
}

TEST_F(ReceiveUnderWine, SecondStartIsRefusedAndAnAbortLosesNothing) {
    constexpr int kCount = 600;
    deliver(kCount, 40000);
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kReceive, 0);
    ASSERT_TRUE(waitFor([&] { return stored().size() >= 5; }));
    test::saveScreenshot(main, "receive-during-run");
    // The second start shows its box; the abort waits behind it in the queue.
    PostMessageA(main, WM_COMMAND, kReceive, 0);
    PostMessageA(main, WM_COMMAND, kAbort, 0);
    HWND box = k.box(10000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(box, 0xFFFF)), "受信中です。    ");
    test::saveScreenshot(nullptr, "receive-busy-box");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(waitFor([&] { return runEnded(); }));
    const std::vector<int> first = stored();
    const std::vector<std::string> left = serverUidls(servers);
    EXPECT_LT(first.size(), static_cast<size_t>(kCount));
    // Stored here or still on the server, never both and never lost (the run ended with QUIT).
    EXPECT_EQ(first.size() + left.size(), static_cast<size_t>(kCount));
    // The run flag was given back: a second receive fetches the rest.
    receiveAndWait(main, kCount);
    std::vector<int> all = stored();
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(all[static_cast<size_t>(i)], i);
    EXPECT_TRUE(serverUidls(servers).empty());
    closeCleanly(k, main);
}

TEST_F(ReceiveUnderWine, StartupReceiveRunsAfterItsWaitWithoutACommand) {
    setIni("100", "Kidou", "1");
    setIni("100", "SelectPain", "0");
    setIni("Option", "BootWaitTime", "2");
    deliver(2, 300);
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    const DWORD shown = GetTickCount();
    ASSERT_TRUE(
        waitFor([&] { return stored().size() == 2 && ini("Option", "ErrorLogOut") == "0"; }));
    EXPECT_GE(GetTickCount() - shown, 1500u);
    EXPECT_TRUE(serverUidls(servers).empty());
    EXPECT_EQ(k.box(0), nullptr);
    closeCleanly(k, main);
}

TEST_F(ReceiveUnderWine, PeriodicReceiveFollowsTheGridOfItsBaseTime) {
    setIni("100", "Timer", "1");
    setIni("100", "StartJikoku", "8");
    setIni("100", "StartFunn", "10");
    setIni("100", "Jikoku", "2");
    setIni("100", "SelectPain", "0");
    SetEnvironmentVariableA("KOLVY_TEST_CLOCK", (folder / "clock.txt").c_str());
    setClock(9, 10);
    deliver(1, 300);
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    struct Step {
        int hour, minute;
        size_t storedAfter;
    } steps[] = {{9, 10, 0}, {10, 9, 0}, {10, 10, 1}, {10, 11, 1}, {12, 10, 2}};
    size_t before = 0;
    for (const Step& s : steps) {
        setClock(s.hour, s.minute);
        PostMessageA(main, WM_TIMER, 2, 0);
        if (s.storedAfter == before) Sleep(2000);
        EXPECT_TRUE(waitFor([&] { return stored().size() == s.storedAfter && runEnded(); }, 20000))
            << s.hour << ":" << s.minute << " stored " << stored().size();
        if (s.storedAfter != before) deliver(1, 300, static_cast<int>(s.storedAfter));
        before = s.storedAfter;
    }
    // Timer runs are unattended: their start goes to the communication log.
    auto logs = fs->list(folder / "_Log");
    ASSERT_TRUE(logs);
    std::string log;
    for (const auto& e : *logs)
        if (!e.isDir) log += read("_Log\\" + e.name);
    EXPECT_NE(log.find("受信注文を受信"), std::string::npos);
    EXPECT_EQ(k.box(0), nullptr);
    closeCleanly(k, main);
}

TEST_F(ReceiveUnderWine, MailCheckerGetsItsCallsAndReceivesThroughTheExport) {
    ASSERT_TRUE(CopyFileA(KOLVY_CHECKER_PATH, (folder / "TestChecker.dll").c_str(), FALSE));
    setIni("Option", "MailChecker", "TestChecker.dll");
    setIni("100", "MailChecker", "1");
    deliver(3, 300);
    Kolvy k(folder.path());
    HWND main = k.main();
    ASSERT_NE(main, nullptr);
    // A check-only order: the run has the main thread open the checker, then calls MailCheck.
    PostMessageA(main, WM_COMMAND, kReceive, 0);
    ASSERT_TRUE(waitFor([&] { return read("checker_mailcheck.txt") != "<missing>"; }, 20000));
    EXPECT_EQ(read("checker_mailcheck.txt"), "0 0\n");
    ASSERT_TRUE(waitFor([&] { return runEnded(); }));
    EXPECT_EQ(read("checker_window.txt"), "0 1 0 0\n");
    EXPECT_TRUE(stored().empty());

    // Stand-alone: the user chose to fetch-and-delete one, delete another, leave the third.
    const std::vector<std::string> ids = serverUidls(servers);
    ASSERT_EQ(ids.size(), 3u);
    ASSERT_EQ(platform::writeWholeFile(
                  *fs, folder / "checker_items.txt",
                  "0\n" + ids[0] + " 1\n" + ids[1] + " 2\n" + "gone-from-server 1\n"),
              Err::None);
    PostMessageA(main, WM_COMMAND, kChecker, 0);
    ASSERT_TRUE(waitFor([&] { return read("checker_results.txt") != "<missing>"; }, 30000));
    EXPECT_EQ(read("checker_results.txt"),
              "0\n" + ids[0] + " 1\n" + ids[1] + " 1\n" + "gone-from-server 1\n");
    EXPECT_EQ(stored(), std::vector<int>{0});
    EXPECT_EQ(serverUidls(servers), std::vector<std::string>{ids[2]});
    EXPECT_TRUE(runEnded());
    // The flag went back: 受信 of a plain order works afterwards.
    setIni("100", "MailChecker", "0");
    closeCleanly(k, main);
}

}  // namespace
