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
#include <string>
#include <vector>

#include "config/password.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "pop/testsupport/real_servers.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_program.h"

namespace {

using namespace kolvy;
using namespace kolvy::test;

constexpr DWORD kRun = 60000;
constexpr UINT kReceive = 40003, kAbort = 40018, kChecker = 40017;

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

class ReceiveUnderWine : public WineProgramTest {
  protected:
    void SetUp() override {
        WineProgramTest::SetUp();
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
        auto s = popServers();
        ASSERT_TRUE(s) << "the pop-servers fixture has not run";
        servers = *s;
        servers.emptyDovecot();
        writeIni(
            "[TagList]\r\nTagAcount=自宅\r\nTagOrder=100\r\n"
            "[自宅]\r\nTagNo=0\r\nPOP3Server=127.0.0.1\r\nUserID=" +
            servers.user + "\r\nPassword=" + config::scramblePassword(servers.password) +
            "\r\nPOPPort=" + std::to_string(servers.dovecotPop3) +
            "\r\nMailAddress=me@example.jp\r\n"
            "[100]\r\nTagNo=0\r\nOrderName=受信注文\r\nSelectPain=1\r\n"
            "[Option]\r\nTimeOut=20000\r\nSinchakuDlg=0\r\n");
    }
    void TearDown() override {
        servers.emptyDovecot();
        SetEnvironmentVariableA("KOLVY_TEST_CLOCK", nullptr);
    }
    // Replaced whole, so the program never reads it half written (and tried again while the
    // program has it open for its tick).
    void setClock(int hour, int minute) {
        const std::string at = std::to_string(20000LL * 1440 + hour * 60 + minute);
        EXPECT_TRUE(waitFor(
            [&] {
                return platform::replaceFileContents(*t.fs, t.path("clock.txt"),
                                                     t.path("clock.tmp"), at,
                                                     platform::Flush::ToCache) == Err::None;
            },
            2000));
    }
    void deliver(int count, size_t bodyBytes, int first = 0) {
        for (int i = first; i < first + count; ++i) {
            const std::string n = std::to_string(i);
            std::string m = "From: sender@example.jp\r\nTo: me@example.jp\r\nSubject: message " +
                            n + "\r\nMessage-ID: <m" + n + "@example.jp>\r\n\r\n";
            while (m.size() < bodyBytes)
                m += "message " + n + " body line\r\n";
            ASSERT_TRUE(servers.deliverToDovecot("m" + n, m));
        }
    }
    // Each stored message's number from its subject (to find doubles), in file order.
    std::vector<int> stored() {
        std::vector<int> numbers;
        auto list = t.fs->list(t.path("MailData\\受信"));
        for (const auto& e : list ? *list : std::vector<platform::DirEntry>{}) {
            if (e.isDir || e.name.size() != 8 || e.name.substr(4) != ".txt") continue;
            const std::string text = t.read("MailData\\受信\\" + e.name);
            const size_t at = text.find("Subject: message ");
            numbers.push_back(at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 17));
        }
        return numbers;
    }
    // The run marks its start and end in ErrorLogOut ("1", then "0"): a mark of the test's own
    // tells this run's end from the last one's.
    bool runEnded() { return setting("Option", "ErrorLogOut") != "1"; }
    void receiveAndWait(Kolvy& k, size_t expected) {
        set("Option", "ErrorLogOut", "idle");
        k.command(kReceive);
        ASSERT_TRUE(waitFor(
            [&] { return stored().size() >= expected && setting("Option", "ErrorLogOut") == "0"; },
            kRun))
            << stored().size();
    }

    PopServers servers;
};

TEST_F(ReceiveUnderWine, ReceiveCommandStoresTheMailAndEmptiesTheServer) {
    deliver(3, 300);
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    receiveAndWait(k, 3);
    std::vector<int> got = stored();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(serverUidls(servers).empty());
    EXPECT_EQ(k.box(0), nullptr);
    Sleep(500);
    saveScreenshot(k.main(), "receive-after-run");
    receiveAndWait(k, 3);  // nothing new: a second run stores nothing more
    EXPECT_EQ(stored().size(), 3u);
    closeCleanly(k);
}

TEST_F(ReceiveUnderWine, SecondStartIsRefusedAndAnAbortLosesNothing) {
    constexpr int kCount = 600;
    deliver(kCount, 40000);
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    k.command(kReceive);
    ASSERT_TRUE(waitFor([&] { return stored().size() >= 5; }, kRun));
    saveScreenshot(k.main(), "receive-during-run");
    // The second start shows its box; the abort waits behind it in the queue.
    k.command(kReceive);
    k.command(kAbort);
    HWND box = k.box();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(boxText(box), "受信中です。    ");
    saveScreenshot(nullptr, "receive-busy-box");
    press(box, IDOK);
    ASSERT_TRUE(waitFor([&] { return runEnded(); }, kRun));
    const size_t first = stored().size();
    EXPECT_LT(first, static_cast<size_t>(kCount));
    // Stored here or still on the server, never both and never lost (the run ended with QUIT).
    EXPECT_EQ(first + serverUidls(servers).size(), static_cast<size_t>(kCount));
    // The run flag was given back: a second receive fetches the rest.
    receiveAndWait(k, kCount);
    std::vector<int> all = stored(), expected(kCount);
    std::sort(all.begin(), all.end());
    for (int i = 0; i < kCount; ++i)
        expected[static_cast<size_t>(i)] = i;
    EXPECT_EQ(all, expected);
    EXPECT_TRUE(serverUidls(servers).empty());
    closeCleanly(k);
}

TEST_F(ReceiveUnderWine, StartupReceiveRunsAfterItsWaitWithoutACommand) {
    set("100", "Kidou", "1");
    set("100", "SelectPain", "0");
    set("Option", "BootWaitTime", "2");
    deliver(2, 300);
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    const DWORD shown = GetTickCount();
    ASSERT_TRUE(waitFor(
        [&] { return stored().size() == 2 && setting("Option", "ErrorLogOut") == "0"; }, kRun));
    EXPECT_GE(GetTickCount() - shown, 1500u);
    EXPECT_TRUE(serverUidls(servers).empty());
    EXPECT_EQ(k.box(0), nullptr);
    closeCleanly(k);
}

TEST_F(ReceiveUnderWine, PeriodicReceiveFollowsTheGridOfItsBaseTime) {
    for (const auto& [key, value] : {std::pair{"Timer", "1"},
                                     {"StartJikoku", "8"},
                                     {"StartFunn", "10"},
                                     {"Jikoku", "2"},
                                     {"SelectPain", "0"}})
        set("100", key, value);
    SetEnvironmentVariableA("KOLVY_TEST_CLOCK", t.path("clock.txt").c_str());
    setClock(9, 10);
    deliver(1, 300);
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    struct Step {
        int hour, minute;
        size_t storedAfter;
    } steps[] = {{9, 10, 0}, {10, 9, 0}, {10, 10, 1}, {10, 11, 1}, {12, 10, 2}};
    size_t before = 0;
    for (const Step& s : steps) {
        setClock(s.hour, s.minute);
        PostMessageA(k.main(), WM_TIMER, 2, 0);
        if (s.storedAfter == before) Sleep(2000);
        EXPECT_TRUE(waitFor([&] { return stored().size() == s.storedAfter && runEnded(); }, 20000))
            << s.hour << ":" << s.minute << " stored " << stored().size();
        if (s.storedAfter != before) deliver(1, 300, static_cast<int>(s.storedAfter));
        before = s.storedAfter;
    }
    // Timer runs are unattended: their start goes to the communication log.
    auto logs = t.fs->list(t.path("_Log"));
    ASSERT_TRUE(logs);
    std::string log;
    for (const auto& e : *logs)
        if (!e.isDir) log += t.read("_Log\\" + e.name);
    EXPECT_NE(log.find("受信注文を受信"), std::string::npos);
    EXPECT_EQ(k.box(0), nullptr);
    closeCleanly(k);
}

TEST_F(ReceiveUnderWine, MailCheckerGetsItsCallsAndReceivesThroughTheExport) {
    ASSERT_TRUE(CopyFileA(KOLVY_CHECKER_PATH, t.path("TestChecker.dll").c_str(), FALSE));
    set("Option", "MailChecker", "TestChecker.dll");
    set("100", "MailChecker", "1");
    deliver(3, 300);
    Kolvy k(t.folder.path());
    ASSERT_NE(k.main(), nullptr);
    // A check-only order: the run has the main thread open the checker, then calls MailCheck.
    k.command(kReceive);
    EXPECT_EQ(readWhenThere("checker_mailcheck.txt", 20000), "0 0\n");
    ASSERT_TRUE(waitFor([&] { return runEnded(); }, kRun));
    EXPECT_EQ(t.read("checker_window.txt"), "0 1 0 0\n");
    EXPECT_TRUE(stored().empty());

    // Stand-alone: the user chose to fetch-and-delete one, delete another, leave the third.
    const std::vector<std::string> ids = serverUidls(servers);
    ASSERT_EQ(ids.size(), 3u);
    t.write("checker_items.txt", "0\n" + ids[0] + " 1\n" + ids[1] + " 2\ngone-from-server 1\n");
    k.command(kChecker);
    EXPECT_EQ(readWhenThere("checker_results.txt", 30000),
              "0\n" + ids[0] + " 1\n" + ids[1] + " 1\ngone-from-server 1\n");
    EXPECT_EQ(stored(), std::vector<int>{0});
    EXPECT_EQ(serverUidls(servers), std::vector<std::string>{ids[2]});
    EXPECT_TRUE(runEnded());
    closeCleanly(k);
}

}  // namespace
