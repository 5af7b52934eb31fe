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
using namespace kolvy::test;
using namespace kolvy::test::send;

constexpr int kSendReceiveCommand = 40005;
constexpr int kAbortCommand = 40018;

class SendReceiveUnderWine : public SendUnderWine {
  protected:
    void SetUp() override {
        SendUnderWine::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        pop = popServers();
        if (!pop) GTEST_SKIP() << "the pop-servers fixture has not run";
        pop->emptyDovecot();
        for (const auto& [key, v] : {std::pair<std::string, std::string>{"POP3Server", "127.0.0.1"},
                                     {"POPPort", std::to_string(pop->dovecotPop3)},
                                     {"UserID", pop->user},
                                     {"Password", config::scramblePassword(pop->password)}})
            set("自宅", key, v);
        // One receive order for the account, chosen in the account pane: the one the receive
        // command takes.
        set("TagList", "TagOrder", "100");
        for (const auto& [key, v] : {std::pair{"TagNo", "0"},
                                     {"OrderName", "受信注文"},
                                     {"Nokosu", "0"},
                                     {"SelectPain", "1"}})
            set("100", key, v);
    }
    void incoming(const std::string& subject) {
        ASSERT_TRUE(pop->deliverToDovecot(
            subject + ".kolvy", "From: s@example.jp\r\nTo: me@example.jp\r\nSubject: " + subject +
                                    "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\nhello\r\n"));
    }
    // Waits until a stored message of the receive tab carries the subject.
    bool waitReceived(const std::string& subject) {
        return waitFor(
            [&] {
                auto l = t.fs->list(t.path("MailData\\受信"));
                for (const platform::DirEntry& e : l ? *l : std::vector<platform::DirEntry>{})
                    if (!e.isDir &&
                        t.read("MailData\\受信\\" + e.name).find("Subject: " + subject) !=
                            std::string::npos)
                        return true;
                return false;
            },
            60000);
    }
    std::optional<PopServers> pop;
};

TEST_F(SendReceiveUnderWine, SendsTheWaitingMailThenReceives) {
    option("SendAction", "2");
    option("SendConfirmDlg", "0");
    queue("w4-sr-out");
    incoming("w4-sr-in");
    ASSERT_TRUE(start());
    k->command(kSendReceiveCommand);
    ASSERT_TRUE(waitSent(0));
    EXPECT_EQ(deliveredSubjects(), Subjects{"w4-sr-out"});
    EXPECT_TRUE(waitReceived("w4-sr-in"));
    Sleep(2000);
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 0}, {0, kSent}}));
}

TEST_F(SendReceiveUnderWine, NothingToSendIsToldAndTheMailIsStillReceived) {
    option("SendAction", "2");
    incoming("w4-sr-only-in");
    ASSERT_TRUE(start());
    k->command(kSendReceiveCommand);
    HWND none = k->box();
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(boxText(none), kNothingToSend);
    press(none, IDOK);
    EXPECT_TRUE(waitReceived("w4-sr-only-in"));
    Sleep(2000);
    closeCleanly(*k);
}

TEST_F(SendReceiveUnderWine, QuietSendAndReceiveAsksNothingAndReceives) {
    option("SendAction", "0");  // the choice dialog is not shown in a quiet send-and-receive
    option("SendConfirmDlg", "1");
    option("NoSendDlg_SendRecive", "1");
    queue("w4-quiet-out");
    incoming("w4-quiet-in");
    ASSERT_TRUE(start());
    k->command(kSendReceiveCommand);
    ASSERT_TRUE(waitSent(0));
    EXPECT_TRUE(waitReceived("w4-quiet-in"));
    EXPECT_EQ(deliveredSubjects(), Subjects{"w4-quiet-out"});
    Sleep(2000);
    closeCleanly(*k);
}

TEST_F(SendReceiveUnderWine, AbortFinishesTheMessageUnderWayAndSendsNoMore) {
    option("SendAction", "2");
    option("SendConfirmDlg", "0");
    // aiosmtpd answers the end of data for "slow" recipients only after a few seconds.
    queue("w4-abort-0", false, "slow@example.jp");
    queue("w4-abort-1", false, "slow@example.jp");
    ASSERT_TRUE(start());
    k->command(kSendCommand);
    Sleep(1500);  // the first message is under way
    k->command(kAbortCommand);
    ASSERT_TRUE(waitSent(0));
    Sleep(5000);
    EXPECT_EQ(deliveredSubjects(), Subjects{"w4-abort-0"});
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 1}, {0, kSent}, {1, kWaiting}}));
}

}  // namespace
