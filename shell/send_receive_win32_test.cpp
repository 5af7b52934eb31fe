// "送受信" and the abort of a send in the real Kolvy.exe under Wine: the send run against
// aiosmtpd, then the receive run against the dovecot of the pop-servers fixture; a send stopped by
// "送受信の中断" finishes the message under way and sends no more.
#include <gtest/gtest.h>

#include <string>

#include "config/password.h"
#include "pop/testsupport/real_servers.h"
#include "shell/send_win32_test_util.h"

namespace {

using namespace kolvy;
using namespace kolvy::test::send;

constexpr int kSendReceiveCommand = 40005;
constexpr int kAbortCommand = 40018;

class SendReceiveUnderWine : public SendUnderWine {
  protected:
    void SetUp() override {
        SendUnderWine::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        pop = test::popServers();
        if (!pop) GTEST_SKIP() << "the pop-servers fixture has not run";
        pop->emptyDovecot();
        auto ini = platform::makeProfile(folder / "Kolvy.ini");
        for (const auto& [k, v] : {std::pair<std::string, std::string>{"POP3Server", "127.0.0.1"},
                                   {"POPPort", std::to_string(pop->dovecotPop3)},
                                   {"UserID", pop->user},
                                   {"Password", config::scramblePassword(pop->password)}})
            ASSERT_EQ(ini->write("自宅", k, v), Err::None);
        // One receive order for the account: the one the receive command takes.
        ASSERT_EQ(ini->write("TagList", "TagOrder", "100"), Err::None);
        ASSERT_EQ(ini->write("100", "TagNo", "0"), Err::None);
        ASSERT_EQ(ini->write("100", "OrderName", "受信注文"), Err::None);
        ASSERT_EQ(ini->write("100", "Nokosu", "0"), Err::None);
        ASSERT_EQ(ini->write("100", "SelectPain", "1"), Err::None);  // chosen in the account pane
    }
    void incoming(const std::string& subject) {
        ASSERT_TRUE(pop->deliverToDovecot(
            subject + ".kolvy", "From: s@example.jp\r\nTo: me@example.jp\r\nSubject: " + subject +
                                    "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\nhello\r\n"));
    }
    // Waits until a stored message of the receive tab carries the subject.
    bool waitReceived(const std::string& subject, DWORD timeout = 60000) {
        const DWORD start = GetTickCount();
        for (;;) {
            if (auto l = fs->list(folder / "MailData\\受信")) {
                for (const platform::DirEntry& e : *l) {
                    if (e.isDir) continue;
                    if (read("MailData\\受信\\" + e.name).find("Subject: " + subject) !=
                        std::string::npos)
                        return true;
                }
            }
            if (GetTickCount() - start > timeout) return false;
            Sleep(200);
        }
    }
    std::optional<test::PopServers> pop;
};

TEST_F(SendReceiveUnderWine, SendsTheWaitingMailThenReceives) {
    option("SendAction", "2");
    option("SendConfirmDlg", "0");
    queue("w4-sr-out");
    incoming("w4-sr-in");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSendReceiveCommand, 0);
    ASSERT_TRUE(waitSent(0));
    EXPECT_EQ(deliveredSubjects(), std::vector<std::string>{"w4-sr-out"});
    EXPECT_TRUE(waitReceived("w4-sr-in"));
    Sleep(2000);
    close(k, main);
    EXPECT_EQ(indexStates(), (std::map<int, int>{{-1, 0}, {0, kSent}}));
}

TEST_F(SendReceiveUnderWine, NothingToSendIsToldAndTheMailIsStillReceived) {
    option("SendAction", "2");
    incoming("w4-sr-only-in");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSendReceiveCommand, 0);
    HWND none = box(k);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(boxText(none), "１通も送信するメールがありません。    ");
    press(none, IDOK);
    EXPECT_TRUE(waitReceived("w4-sr-only-in"));
    Sleep(2000);
    close(k, main);
}

TEST_F(SendReceiveUnderWine, QuietSendAndReceiveAsksNothingAndReceives) {
    option("SendAction", "0");  // the choice dialog is not shown in a quiet send-and-receive
    option("SendConfirmDlg", "1");
    option("NoSendDlg_SendRecive", "1");
    queue("w4-quiet-out");
    incoming("w4-quiet-in");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSendReceiveCommand, 0);
    ASSERT_TRUE(waitSent(0));
    EXPECT_TRUE(waitReceived("w4-quiet-in"));
    EXPECT_EQ(deliveredSubjects(), std::vector<std::string>{"w4-quiet-out"});
    Sleep(2000);
    close(k, main);
}

TEST_F(SendReceiveUnderWine, AbortFinishesTheMessageUnderWayAndSendsNoMore) {
    option("SendAction", "2");
    option("SendConfirmDlg", "0");
    // aiosmtpd answers the end of data for "slow" recipients only after a few seconds.
    queue("w4-abort-0", false, "slow@example.jp");
    queue("w4-abort-1", false, "slow@example.jp");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSendCommand, 0);
    Sleep(1500);  // the first message is under way
    PostMessageA(main, WM_COMMAND, kAbortCommand, 0);
    ASSERT_TRUE(waitSent(0));
    Sleep(5000);
    EXPECT_EQ(deliveredSubjects(), std::vector<std::string>{"w4-abort-0"});
    close(k, main);
    EXPECT_EQ(indexStates(), (std::map<int, int>{{-1, 1}, {0, kSent}, {1, kWaiting}}));
}

}  // namespace
