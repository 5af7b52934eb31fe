// The POP3 session against a server that answers from a mailbox of its own, with faults injected:
// each fault is reported, and a second run fetches exactly what the first did not store.
#include "pop/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "config/accounts.h"
#include "config/orders.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "pop/exports.h"
#include "pop/md5.h"
#include "pop/testsupport/mailbox_server.h"
#include "pop/testsupport/recording_sink.h"
#include "pop/uidl_store.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

using test::MailboxServer;
using Fault = MailboxServer::Fault;

std::string messageText(int i) {
    return "Subject: m" + std::to_string(i) + "\r\n\r\nbody " + std::to_string(i) + "\r\n";
}

bool has(const std::vector<std::string>& v, std::string_view s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

size_t countPrefix(const std::vector<std::string>& v, std::string_view prefix) {
    return static_cast<size_t>(std::count_if(v.begin(), v.end(), [&](const std::string& s) {
        return s.compare(0, prefix.size(), prefix) == 0;
    }));
}

class Receive : public ::testing::Test {
  protected:
    void SetUp() override {
        t.clock.setLocal(2025, 1, 2);
        account = config::blankAccount();
        sjis::copyField(account.name, "テスト");
        sjis::copyField(account.pop3Server, "127.0.0.1");
        sjis::copyField(account.userId, "taro");
        sjis::copyField(account.password, "secret");
        account.popPort = server.port();
        order = config::blankOrder();
        order.accountNumber = 0;
    }
    void addMessages(int from, int to) {
        for (int i = from; i <= to; ++i)
            server.add(MailboxServer::message(messageText(i), "U" + std::to_string(i)));
    }
    int receive(const ReceiveOrder* o, CheckerItem* items = nullptr) {
        ReceiveContext c(t.env, sink, rules);
        c.options = options;
        c.abortRequested = &abortFlag;
        c.progress = &progress;
        c.statusChanged = [this] { states.push_back(progress.state); };
        c.progressChanged = [this] {
            percents.push_back(progress.percent);
            if (onProgress) onProgress();
        };
        c.receivedLog = receivedLog;
        return ReceiveAccount(c, account, o, items);
    }
    int receive() { return receive(&order); }
    std::string uidlFile() { return t.read("_UIDL\\テスト.txt"); }
    std::vector<std::string> boxes() {
        std::vector<std::string> v;
        for (const auto& b : t.reporter.shown())
            v.push_back(b.text);
        return v;
    }
    std::string commLog() { return t.read("_Log\\通信ログ2501.txt"); }
    // Every message of 1..n stored exactly once over all runs so far.
    void expectEachStoredOnce(int n) {
        std::map<std::string, int> seen;
        for (const std::string& b : sink.bodies())
            ++seen[b];
        for (int i = 1; i <= n; ++i)
            EXPECT_EQ(seen[messageText(i)], 1) << "message " << i;
        EXPECT_EQ(sink.stored.size(), static_cast<size_t>(n));
    }

    test::TestEnv t;
    MailboxServer server;
    test::RecordingSink sink;
    test::ScriptedSizeRules rules;
    SessionOptions options{false, true, true, 5000};
    std::atomic<int32_t> abortFlag{0};
    ReceiveProgress progress;
    std::vector<int> states, percents;
    std::function<void()> onProgress;
    report::RunLog* receivedLog = nullptr;
    Account account;
    ReceiveOrder order;
};

TEST_F(Receive, DeleteModeStoresEachMessageThenDeletesIt) {
    addMessages(1, 3);
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(sink.bodies(),
              (std::vector<std::string>{messageText(1), messageText(2), messageText(3)}));
    EXPECT_EQ(sink.uidls(), (std::vector<std::string>{"U1", "U2", "U3"}));
    EXPECT_EQ(sink.stored[1].number, 2);
    EXPECT_EQ(sink.stored[1].size, messageText(2).size());
    EXPECT_EQ(sink.stored[0].text.front(), '\n');
    EXPECT_EQ(server.lastSession(),
              (std::vector<std::string>{"USER taro", "PASS secret", "LIST", "UIDL", "RETR 1",
                                        "DELE 1", "RETR 2", "DELE 2", "RETR 3", "DELE 3", "QUIT"}));
    EXPECT_TRUE(server.messages().empty());
    // Written before QUIT with the three stored ids, emptied once QUIT confirmed the deletions;
    // the journal that named them is gone.
    EXPECT_EQ(uidlFile(), "");
    EXPECT_EQ(t.read("_UIDL\\テスト.jnl"), "<missing>");
    EXPECT_EQ(sink.begins, 1);
    EXPECT_EQ(sink.ends, 1);
    EXPECT_EQ(sink.lastResult, kReceiveDone);
    EXPECT_TRUE(t.reporter.shown().empty());
    // Connecting, account, password, receiving, done; the last percent step is 100.
    for (int s : {2, 12, 3, 4, 5, 6})
        EXPECT_NE(std::find(states.begin(), states.end(), s), states.end()) << s;
    EXPECT_EQ(states.back(), 6);
    EXPECT_EQ(progress.received, 3);
    EXPECT_EQ(progress.total, 3);
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
}

TEST_F(Receive, EmptyMailboxReturnsNoMailAfterQuit) {
    EXPECT_EQ(receive(), kReceiveNoMail);
    EXPECT_EQ(server.lastSession(),
              (std::vector<std::string>{"USER taro", "PASS secret", "LIST", "QUIT"}));
    EXPECT_EQ(sink.begins, 0);
}

TEST_F(Receive, LeaveOnServerFetchesOnlyNewMailAndDeletesNothing) {
    order.leaveOnServer = 1;
    addMessages(1, 2);
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(uidlFile(), " U1\r\n U2\r\n");
    addMessages(3, 3);
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(countPrefix(server.lastSession(), "RETR"), 1u);
    EXPECT_TRUE(has(server.lastSession(), "RETR 3"));
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(countPrefix(server.lastSession(), "RETR"), 0u);
    for (const auto& session : server.sessions())
        EXPECT_EQ(countPrefix(session, "DELE"), 0u);
    expectEachStoredOnce(3);
    EXPECT_EQ(server.messages().size(), 3u);
    EXPECT_EQ(uidlFile(), " U3\r\n U1\r\n U2\r\n");

    // Another program deletes message 1: its id leaves the file at the next write.
    MailboxServer::Message m2 = server.messages()[1], m3 = server.messages()[2];
    MailboxServer fresh;
    fresh.add(m2);
    fresh.add(m3);
    fresh.add(MailboxServer::message(messageText(4), "U4"));
    account.popPort = fresh.port();
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(fresh.retrieved(), std::vector<std::string>{"U4"});
    EXPECT_EQ(uidlFile(), " U4\r\n U3\r\n U2\r\n");
}

// Mail a leave-on-server order stored whole is deleted, not fetched again, once the order
// deletes; mail a rule kept, or of which only the header was fetched, stays.
TEST_F(Receive, DeleteModeTakesWhatTheOrderLeftWithoutFetchingItAgain) {
    order.leaveOnServer = 1;
    addMessages(1, 2);
    sink.decide = [](const std::string&, const ServerEntry& e) {
        StoreOutcome out;
        out.keepOnServer = e.number == 2;  // a rule keeps this one
        return out;
    };
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(uidlFile(), " U1\r\nU2\r\n");
    order.leaveOnServer = 0;
    order.headerLinesOnly = 1;
    order.headerLines = 0;
    addMessages(3, 3);
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_TRUE(has(server.lastSession(), "TOP 3 0"));
    EXPECT_EQ(countPrefix(server.lastSession(), "DELE"), 0u);

    order.headerLinesOnly = 0;
    sink.decide = nullptr;
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(countPrefix(server.lastSession(), "RETR"), 0u);
    EXPECT_EQ(countPrefix(server.lastSession(), "TOP"), 0u);
    EXPECT_EQ(countPrefix(server.lastSession(), "DELE"), 1u);
    EXPECT_TRUE(has(server.lastSession(), "DELE 1"));
    ASSERT_EQ(server.messages().size(), 2u);
    EXPECT_EQ(server.messages()[0].uid, "U2");
    EXPECT_EQ(server.messages()[1].uid, "U3");
    EXPECT_EQ(sink.stored.size(), 3u);  // each stored once
    const std::string ids = uidlFile();
    EXPECT_EQ(ids, "U3\r\nU2\r\n");  // both kept on purpose: never deleted
    // And the next run in delete mode leaves them alone as well.
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(countPrefix(server.lastSession(), "DELE"), 0u);
    EXPECT_EQ(countPrefix(server.lastSession(), "RETR"), 0u);
}

TEST_F(Receive, DeleteModeNeverTakesIdsOfAnOlderFile) {
    // Files written before order-kept ids were marked cannot tell them from mail a rule kept or
    // that was fetched in part: such ids stay on the server.
    addMessages(1, 2);
    t.write("_UIDL\\テスト.txt", "U1\r\n");
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_FALSE(has(server.lastSession(), "RETR 1"));
    EXPECT_FALSE(has(server.lastSession(), "DELE 1"));
    EXPECT_TRUE(has(server.lastSession(), "DELE 2"));
    ASSERT_EQ(server.messages().size(), 1u);
    EXPECT_EQ(server.messages()[0].uid, "U1");
}

TEST_F(Receive, HeaderAndLinesOnlyIsNeverDeleted) {
    order.headerLinesOnly = 1;
    order.headerLines = 1;  // leave-on-server is off: the header alone must not cost the mail
    server.add(MailboxServer::message("Subject: top\r\n\r\nline 1\r\nline 2\r\n", "T1"));
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.lastSession(), (std::vector<std::string>{"USER taro", "PASS secret", "LIST",
                                                              "UIDL", "TOP 1 1", "QUIT"}));
    EXPECT_EQ(sink.bodies(), std::vector<std::string>{"Subject: top\r\n\r\nline 1\r\n"});
    EXPECT_EQ(server.messages().size(), 1u);
    EXPECT_EQ(uidlFile(), "T1\r\n");
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(countPrefix(server.lastSession(), "TOP"), 0u);

    order.headerLines = 0;
    server.add(MailboxServer::message("Subject: second\r\n\r\nbody\r\n", "T2"));
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_TRUE(has(server.lastSession(), "TOP 2 0"));
    EXPECT_EQ(sink.bodies().back(), "Subject: second\r\n\r\n");
}

TEST_F(Receive, SizeRulesDecideBeforeFetching) {
    addMessages(1, 5);
    rules.answer = [](const ServerEntry& e) {
        FetchAdvice a;
        if (e.number == 1) a.kind = FetchAdvice::NoDownload;
        if (e.number == 2) a.kind = FetchAdvice::DeleteUnread;
        if (e.number == 3) {
            a.kind = FetchAdvice::HeaderAndLines;
            a.lines = 0;
        }
        if (e.number == 4) a.keepOnServer = true;
        return a;
    };
    ASSERT_EQ(receive(), kReceiveDone);
    const auto s = server.lastSession();
    EXPECT_FALSE(has(s, "RETR 1"));  // do not download: left alone
    EXPECT_FALSE(has(s, "DELE 1"));
    EXPECT_FALSE(has(s, "RETR 2"));  // delete unread: gone unfetched
    EXPECT_TRUE(has(s, "DELE 2"));
    EXPECT_TRUE(has(s, "TOP 3 0"));  // header only: kept
    EXPECT_FALSE(has(s, "DELE 3"));
    EXPECT_TRUE(has(s, "RETR 4"));  // fetched and kept
    EXPECT_FALSE(has(s, "DELE 4"));
    EXPECT_TRUE(has(s, "RETR 5"));
    EXPECT_TRUE(has(s, "DELE 5"));
    EXPECT_EQ(rules.asked, (std::vector<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(uidlFile(), "U3\r\nU4\r\n");

    // Next run: the rules are asked again only about the one they kept unfetched.
    rules.asked.clear();
    rules.answer = {};
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(rules.asked, std::vector<int32_t>{1});
    EXPECT_EQ(server.retrieved(), (std::vector<std::string>{"U4", "U5", "U1"}));
}

TEST_F(Receive, ReceiveRulesKeepDiscardOrStop) {
    addMessages(1, 4);
    sink.decide = [](const std::string& text, const ServerEntry&) {
        StoreOutcome o;
        if (text.find("body 1") != std::string::npos) o.keepOnServer = true;
        if (text.find("body 2") != std::string::npos) o.kind = StoreOutcome::Discarded;
        if (text.find("body 3") != std::string::npos) o.kind = StoreOutcome::FailedStop;
        return o;
    };
    EXPECT_EQ(receive(), kReceiveFailed);
    const auto s = server.lastSession();
    EXPECT_FALSE(has(s, "DELE 1"));
    EXPECT_TRUE(has(s, "DELE 2"));
    EXPECT_FALSE(has(s, "DELE 3"));
    EXPECT_FALSE(has(s, "RETR 4"));
    EXPECT_EQ(s.back(), "QUIT");  // a local failure still lets the server keep DELE 2
    EXPECT_EQ(server.messages().size(), 3u);
    EXPECT_EQ(uidlFile(), "U1\r\n");
    EXPECT_EQ(sink.lastResult, kReceiveFailed);

    sink.decide = {};
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved(), (std::vector<std::string>{"U1", "U2", "U3", "U3", "U4"}));
    EXPECT_EQ(server.messages().size(), 1u);  // the one the rule keeps
}

TEST_F(Receive, AbortFinishesTheCurrentMessageAndQuits) {
    addMessages(1, 5);
    sink.decide = [this](const std::string& text, const ServerEntry&) {
        if (text.find("body 3") != std::string::npos) abortFlag = true;
        return StoreOutcome{};
    };
    t.env.logOut = true;
    EXPECT_EQ(receive(), kReceiveAborted);
    const auto s = server.lastSession();
    EXPECT_TRUE(has(s, "DELE 3"));
    EXPECT_FALSE(has(s, "RETR 4"));
    EXPECT_EQ(s.back(), "QUIT");
    EXPECT_NE(commLog().find(kTextAborted), std::string::npos);
    EXPECT_EQ(server.messages().size(), 2u);

    abortFlag = false;
    sink.decide = {};
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved(), (std::vector<std::string>{"U1", "U2", "U3", "U4", "U5"}));
    expectEachStoredOnce(5);
}

TEST_F(Receive, AbortDuringAMessageShowsItsStateAndStillReceivesIt) {
    server.add(
        MailboxServer::message("Subject: big\r\n\r\n" + std::string(200000, 'x') + "\r\n", "B1"));
    addMessages(2, 2);
    onProgress = [this] {
        if (progress.percent > 0 && progress.percent < 100) abortFlag = true;
    };
    EXPECT_EQ(receive(), kReceiveAborted);
    EXPECT_NE(std::find(states.begin(), states.end(), 16), states.end());
    ASSERT_EQ(sink.stored.size(), 1u);
    EXPECT_EQ(sink.stored[0].uidl, "B1");
    EXPECT_FALSE(has(server.lastSession(), "RETR 2"));
}

TEST_F(Receive, AbortRightAfterConnectingStillQuits) {
    addMessages(1, 1);
    abortFlag = true;
    EXPECT_EQ(receive(), kReceiveAborted);
    EXPECT_EQ(server.lastSession(), std::vector<std::string>{"QUIT"});
}

// A fault in the first run; what the second run must fetch.
struct FaultCase {
    const char* name;
    Fault fault;
    int firstResult;
    std::string reported;  // the box of the first run
    std::vector<std::string> secondRetrieves;
    unsigned timeoutMs = 5000;
};

class Faults : public Receive, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(Faults, ReportedAndTheSecondRunFetchesExactlyTheRest) {
    const FaultCase& c = GetParam();
    addMessages(1, 3);
    options.timeoutMs = c.timeoutMs;
    server.inject(c.fault);
    EXPECT_EQ(receive(), c.firstResult);
    ASSERT_FALSE(t.reporter.shown().empty()) << "the run must report the fault";
    EXPECT_EQ(t.reporter.shown().front().text, c.reported);

    t.reporter.clear();
    options.timeoutMs = 5000;
    const size_t before = server.retrieved().size();
    EXPECT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    const auto all = server.retrieved();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(before), all.end()),
              c.secondRetrieves);
    expectEachStoredOnce(3);
    EXPECT_TRUE(server.messages().empty()) << "every stored message deleted in the end";
    EXPECT_TRUE(t.reporter.shown().empty()) << t.reporter.lastText();
}

const std::string kRefusedFetch = std::string(kTextFetchRefused) + "    ";

INSTANTIATE_TEST_SUITE_P(
    EveryStep, Faults,
    ::testing::Values(FaultCase{"GreetingRefused",
                                MailboxServer::fault(Fault::Refuse, "GREETING"),
                                kReceiveFailed,
                                std::string(kTextGreetingRefused) + "    ",
                                {"U1", "U2", "U3"},
                                5000},
                      FaultCase{"UserRefused",
                                MailboxServer::fault(Fault::Refuse, "USER"),
                                kReceiveFailed,
                                kTextAuthFailedBox,
                                {"U1", "U2", "U3"},
                                5000},
                      FaultCase{"PassRefused",
                                MailboxServer::fault(Fault::Refuse, "PASS"),
                                kReceiveFailed,
                                kTextAuthFailedBox,
                                {"U1", "U2", "U3"},
                                5000},
                      FaultCase{"ListRefused",
                                MailboxServer::fault(Fault::Refuse, "LIST"),
                                kReceiveFailed,
                                "サーバがLISTコマンドを拒否しました。    ",
                                {"U1", "U2", "U3"},
                                5000},
                      FaultCase{"UidlRefused",
                                MailboxServer::fault(Fault::Refuse, "UIDL"),
                                kReceiveFailed,
                                "サーバがUIDLコマンドを拒否しました。    ",
                                {"U1", "U2", "U3"},
                                5000},
                      FaultCase{"RetrRefused",
                                MailboxServer::fault(Fault::Refuse, "RETR", 2),
                                kReceiveFailed,
                                kRefusedFetch,
                                {"U2"},
                                5000},
                      FaultCase{"DeleRefused",
                                MailboxServer::fault(Fault::Refuse, "DELE", 2),
                                kReceiveFailed,
                                std::string(kTextDeleteRefused) + "    ",
                                {},
                                5000},
                      FaultCase{"QuitRefused",
                                MailboxServer::fault(Fault::Refuse, "QUIT"),
                                kReceiveFailed,
                                std::string(kTextQuitRefused) + "    ",
                                {},
                                5000},
                      FaultCase{"ClosedInTheMiddleOfAMessage",
                                MailboxServer::fault(Fault::CloseDuring, "RETR", 2, 30),
                                kReceiveFailed,
                                std::string(kTextReceiveEnded) + "    ",
                                {"U2", "U3"},
                                5000},
                      FaultCase{"ClosedInTheMiddleOfTheListing",
                                MailboxServer::fault(Fault::CloseDuring, "UIDL", 0, 9),
                                kReceiveListFailed,
                                kTextSocketErrorOnReply,
                                {"U1", "U2", "U3"},
                                5000},
                      FaultCase{"ClosedBeforeDeleIsAnswered",
                                MailboxServer::fault(Fault::CloseDuring, "DELE", 2, 0),
                                kReceiveFailed,
                                kTextSocketErrorOnReply,
                                {"U3"},
                                5000},
                      FaultCase{"StallLongerThanTheTimeOut",
                                MailboxServer::fault(Fault::StallDuring, "RETR", 2, 40, 2000),
                                kReceiveFailed,
                                std::string(kTextReceiveSocketError) + "    ",
                                {"U2", "U3"},
                                700}),
    [](const ::testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

TEST_F(Receive, ClosedBeforeQuitIsAnsweredForgetsNothingThatStayed) {
    // The server deleted on QUIT but its answer never came: the ids stay as deletion pending,
    // and leave the file once the server no longer lists them.
    addMessages(1, 2);
    server.inject(MailboxServer::fault(Fault::CloseDuring, "QUIT", 0, 0));
    EXPECT_EQ(receive(), kReceiveDone);
    EXPECT_TRUE(server.messages().empty());
    EXPECT_EQ(uidlFile(), "\tU1\r\n\tU2\r\n");
    addMessages(3, 3);
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved(), (std::vector<std::string>{"U1", "U2", "U3"}));
    EXPECT_EQ(uidlFile(), "");
}

TEST_F(Receive, BrokenConnectionClosesWithoutQuitAndKeepsStoredIds) {
    t.env.unattended = true;
    addMessages(1, 3);
    server.inject(MailboxServer::fault(Fault::CloseDuring, "RETR", 3, 20));
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_FALSE(has(server.lastSession(), "QUIT"));
    EXPECT_TRUE(t.reporter.shown().empty());  // unattended: the log only
    EXPECT_NE(commLog().find(std::string(kTextReceiveEnded) + "\r\nRETR 3\r\n"), std::string::npos)
        << commLog();
    // The server rolled DELE 1 and DELE 2 back; the file knows both are stored here.
    EXPECT_EQ(server.messages().size(), 3u);
    EXPECT_EQ(uidlFile(), "\tU1\r\n\tU2\r\n");
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.lastSession(),
              (std::vector<std::string>{"USER taro", "PASS secret", "LIST", "UIDL", "DELE 1",
                                        "DELE 2", "RETR 3", "DELE 3", "QUIT"}));
    expectEachStoredOnce(3);
}

TEST_F(Receive, OneByteWritesGiveTheSameSession) {
    server.setBytewise(true);
    server.add(MailboxServer::message("Subject: a\r\n\r\n.dot\r\n..\r\n.\r\nend\r\n", "X1"));
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(sink.bodies(),
              std::vector<std::string>{"Subject: a\r\n\r\n.dot\r\n..\r\n.\r\nend\r\n"});
    EXPECT_TRUE(server.messages().empty());
}

TEST_F(Receive, DotLinesAreUnstuffedAndTheLogKeepsTheWireText) {
    auto log = report::RunLog::open(t.env, report::RunLogKind::Receive);
    ASSERT_TRUE(log.isOpen());
    receivedLog = &log;
    const std::string text = "Subject: dots\r\n\r\n.\r\n..\r\n.leading\r\nlast\r\n";
    server.add(MailboxServer::message(text, "D1"));
    ASSERT_EQ(receive(), kReceiveDone);
    log.close();
    ASSERT_EQ(sink.stored.size(), 1u);
    EXPECT_EQ(sink.stored[0].text, "\n" + text + ".\r\n");
    auto logged =
        platform::readWholeFile(t.env.fs, report::runLogPath(t.env, report::RunLogKind::Receive));
    ASSERT_TRUE(logged.ok());
    EXPECT_EQ(*logged, "\nSubject: dots\r\n\r\n..\r\n...\r\n..leading\r\nlast\r\n.\r\n");
}

TEST_F(Receive, ListingsThatDifferAreMatchedByNumber) {
    order.leaveOnServer = 1;
    server.add(MailboxServer::message(messageText(1), "A"));
    server.add(MailboxServer::message(messageText(2), ""));  // left out of UIDL
    server.add(MailboxServer::message(messageText(3), "C"));
    MailboxServer::Message hidden = MailboxServer::message(messageText(4), "D");
    hidden.unlisted = true;  // left out of LIST
    server.add(hidden);
    ASSERT_EQ(receive(), kReceiveDone);
    ASSERT_EQ(sink.stored.size(), 3u);
    EXPECT_EQ(sink.uidls(), (std::vector<std::string>{"A", "", "C"}));
    EXPECT_EQ(sink.bodies()[2], messageText(3));
    EXPECT_EQ(uidlFile(), " A\r\n C\r\n");
    ASSERT_EQ(receive(), kReceiveDone);
    // Only the message without id comes again; message 3 kept its own id.
    EXPECT_EQ(server.retrieved(),
              (std::vector<std::string>{"A", messageText(2), "C", messageText(2)}));
}

TEST_F(Receive, IdsOfSeventyEightToEightyCharacters) {
    order.leaveOnServer = 1;
    const std::string base(78, 'i');
    server.add(MailboxServer::message(messageText(1), base));
    server.add(MailboxServer::message(messageText(2), base + "9"));
    server.add(MailboxServer::message(messageText(3), base + "99"));
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    ASSERT_EQ(sink.stored.size(), 3u);
    EXPECT_EQ(sink.stored[0].uidl, base);
    EXPECT_NE(sink.stored[1].uidl, sink.stored[2].uidl);
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved().size(), 3u);
    const std::string file = uidlFile();
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 3);
}

TEST_F(Receive, SizesZeroAndAboveTwoGigabytes) {
    MailboxServer::Message zero = MailboxServer::message(messageText(1), "Z1", 0);
    MailboxServer::Message huge = MailboxServer::message(messageText(2), "H2", 3000000000u);
    MailboxServer::Message huger = MailboxServer::message(messageText(3), "H3", 5000000000u);
    server.add(zero);
    server.add(huge);
    server.add(huger);
    addMessages(4, 4);
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_EQ(boxes(), std::vector<std::string>{std::string(kTextTooLarge) + "    "});
    EXPECT_EQ(sink.uidls(), (std::vector<std::string>{"Z1", "U4"}));
    const auto s = server.lastSession();
    EXPECT_FALSE(has(s, "RETR 2"));
    EXPECT_FALSE(has(s, "DELE 2"));
    EXPECT_FALSE(has(s, "DELE 3"));
    EXPECT_EQ(server.messages().size(), 2u);  // too large: left on the server
}

TEST_F(Receive, MessageLongerThanTwiceItsListedSizeFails) {
    MailboxServer::Message liar = MailboxServer::message(
        "Subject: x\r\n\r\n" + std::string(300000, 'y') + "\r\n", "L1", 100000);
    server.add(liar);
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_EQ(boxes(), std::vector<std::string>{std::string(kTextSizeMismatch) + "    "});
    EXPECT_TRUE(sink.stored.empty());
    EXPECT_EQ(server.messages().size(), 1u);
}

TEST_F(Receive, HundredThousandMessagesOfWhichTwoAreNew) {
    order.leaveOnServer = 1;
    std::string file;
    for (int i = 1; i <= 100000; ++i) {
        server.add(MailboxServer::message("x\r\n", std::string(60, 'k') + std::to_string(i)));
        file += std::string(60, 'k') + std::to_string(i) + "\r\n";
    }
    server.add(MailboxServer::message(messageText(100001), "new-1"));
    server.add(MailboxServer::message(messageText(100002), "new-2"));
    t.write("_UIDL\\テスト.txt", file);
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(server.retrieved(), (std::vector<std::string>{"new-1", "new-2"}));
    // The stored ids are plain: they stay so; the new ones are kept by the order alone.
    EXPECT_TRUE(uidlFile() == " new-1\r\n new-2\r\n" + file);  // no diff of 100,000 lines
}

TEST_F(Receive, MailCheckerActionsAreCarriedOut) {
    addMessages(1, 4);
    CheckerItem items[4] = {};
    sjis::copyField(items[0].uidl, "U1");
    items[0].action = 1;  // fetch and delete
    sjis::copyField(items[1].uidl, "U2");
    items[1].action = 2;  // delete only
    sjis::copyField(items[2].uidl, "U3");
    items[2].action = 3;  // fetch and leave
    sjis::copyField(items[3].uidl, "gone");
    items[3].action = 1;
    for (int i = 0; i < 3; ++i)
        items[i].next = &items[i + 1];
    ASSERT_EQ(receive(nullptr, items), kReceiveDone);
    EXPECT_EQ(server.lastSession(),
              (std::vector<std::string>{"USER taro", "PASS secret", "LIST", "UIDL", "RETR 1",
                                        "DELE 1", "DELE 2", "RETR 3", "QUIT"}));
    EXPECT_EQ(items[0].result, 1);
    EXPECT_EQ(items[1].result, 1);
    EXPECT_EQ(items[2].result, 2);
    EXPECT_EQ(items[3].result, 1);  // no longer on the server
    EXPECT_TRUE(rules.asked.empty());
    EXPECT_EQ(uidlFile(), "U3\r\n");
}

TEST_F(Receive, NoCheckUidlSendsNoUidlAndKnowsNothing) {
    options.noCheckUidl = true;
    order.leaveOnServer = 1;
    addMessages(1, 1);
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_FALSE(has(server.lastSession(), "UIDL"));
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved(), (std::vector<std::string>{"U1", "U1"}));
    EXPECT_EQ(uidlFile(), "<missing>");
}

TEST_F(Receive, WrongPasswordNeverReachesTheLog) {
    t.env.logOut = true;
    sjis::copyField(account.password, "wrong-pw");
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_EQ(boxes(), std::vector<std::string>{kTextAuthFailedBox});
    EXPECT_EQ(server.lastSession().back(), "QUIT");
    const std::string log = commLog();
    EXPECT_NE(log.find("ユーザID:taro パスワード:-----で認証エラーです。"), std::string::npos)
        << log;
    EXPECT_NE(log.find("PASS -----"), std::string::npos);
    EXPECT_EQ(log.find("wrong-pw"), std::string::npos);
}

TEST_F(Receive, ApopLogsInWithoutUserAndPass) {
    account.apop = 1;
    addMessages(1, 1);
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(server.lastSession().front(), "APOP taro " + md5Hex("<1896.697170952@fake>secret"));
    EXPECT_EQ(countPrefix(server.lastSession(), "USER"), 0u);
}

TEST_F(Receive, UserAndPasswordZeroAreSentAsZero) {
    server.setCredentials("0", "0");
    sjis::copyField(account.userId, "0");
    sjis::copyField(account.password, "0");
    addMessages(1, 1);
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    const auto s = server.lastSession();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s[0], "USER 0");
    EXPECT_EQ(s[1], "PASS 0");
}

TEST_F(Receive, RefusedTopIsReportedAtOnceAndTriedAgainNextRun) {
    order.headerLinesOnly = 1;
    order.headerLines = 2;
    addMessages(1, 2);
    // Waiting for a "." after the refusal would run into this time-out and break the session.
    options.timeoutMs = 1000;
    server.inject(MailboxServer::fault(Fault::Refuse, "TOP", 1));
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_EQ(boxes(), std::vector<std::string>{std::string(kTextFetchRefused) + "    "});
    EXPECT_EQ(sink.uidls(), std::vector<std::string>{"U2"});
    EXPECT_EQ(server.lastSession().back(), "QUIT");
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(sink.uidls(), (std::vector<std::string>{"U2", "U1"}));
    EXPECT_EQ(countPrefix(server.lastSession(), "TOP"), 1u);
    EXPECT_EQ(server.messages().size(), 2u);
}

TEST_F(Receive, DoubleByteScanOnlyWhenJapaneseIsNotChecked) {
    server.add(MailboxServer::message("Subject: j\r\n\r\n日本語\r\n", "J1"));
    ASSERT_EQ(receive(), kReceiveDone);
    ASSERT_EQ(sink.stored.size(), 1u);
    EXPECT_TRUE(sink.stored[0].asciiOnly);  // left to the decoders

    options.checkJapanese = false;
    server.add(MailboxServer::message("Subject: j\r\n\r\n日本語\r\n", "J2"));
    server.add(MailboxServer::message("Subject: a\r\n\r\nascii\r\n", "J3"));
    ASSERT_EQ(receive(), kReceiveDone);
    ASSERT_EQ(sink.stored.size(), 3u);
    EXPECT_FALSE(sink.stored[1].asciiOnly);
    EXPECT_TRUE(sink.stored[2].asciiOnly);
}

TEST_F(Receive, OptionsAndSettingsFromTheIniAndTheAccount) {
    SessionOptions d = readSessionOptions(t.env.ini);
    EXPECT_FALSE(d.noCheckUidl);
    EXPECT_TRUE(d.logOutReceive);
    EXPECT_TRUE(d.checkJapanese);
    EXPECT_EQ(d.timeoutMs, 60000u);
    t.env.ini.write("Option", "NoCheckUIDL", "1");
    t.env.ini.write("Option", "LogOutReceive", "0");
    t.env.ini.write("Option", "CheckJapanese", "0");
    t.env.ini.write("Option", "TimeOut", "1500");
    SessionOptions o = readSessionOptions(t.env.ini);
    EXPECT_TRUE(o.noCheckUidl);
    EXPECT_FALSE(o.logOutReceive);
    EXPECT_FALSE(o.checkJapanese);
    EXPECT_EQ(o.timeoutMs, 1500u);

    account.recvSsl = 2;
    account.recvSslProtocol = 4;
    account.certSsl = 0;
    account.apop = 1;
    sjis::copyField(account.password, "0");
    const ConnectionSettings s = pop3Settings(account, 1500);
    EXPECT_EQ(s.host, "127.0.0.1");
    EXPECT_EQ(s.port, server.port());
    EXPECT_EQ(s.sslMode, SslMode::StartTls);
    EXPECT_EQ(s.sslProtocol, 4);
    EXPECT_EQ(s.certSsl, 0);
    EXPECT_TRUE(s.apop);
    EXPECT_EQ(s.password, "0");
    EXPECT_EQ(s.timeoutMs, 1500u);
}

// --- exports for plug-ins that connect themselves

class PluginLogin : public Receive {
  protected:
    void SetUp() override {
        Receive::SetUp();
        account.number = 3;
        accounts.append(new Account(account));
        Account other = config::blankAccount();
        other.number = 7;
        sjis::copyField(other.name, "最後");
        accounts.append(new Account(other));
        setExportHost(&t.env, &accounts);
    }
    void TearDown() override { setExportHost(nullptr, nullptr); }
    // A socket connected to the server, as a plug-in holds it.
    std::unique_ptr<platform::Socket> connect() {
        auto addrs = platform::resolveHost("127.0.0.1", server.port());
        auto sock = platform::openStreamSocket(platform::NetFamily::V4);
        if (!addrs || !sock) return nullptr;
        (*sock)->setTimeouts(5000);
        if ((*sock)->connect((*addrs)[0]) != Err::None) return nullptr;
        return sock.take();
    }
    static std::string readLine(platform::Socket& s) {
        std::string line;
        char c;
        while (line.empty() || line.back() != '\n') {
            auto n = s.receive(std::span<char>(&c, 1));
            if (!n || *n == 0) break;
            line.push_back(c);
        }
        return line;
    }
    config::AccountList accounts;
};

TEST_F(PluginLogin, LogsInOnTheCallersSocketAndLeavesItOpen) {
    addMessages(1, 2);
    auto s = connect();
    ASSERT_TRUE(s);
    EXPECT_EQ(KVA_CheckPassword(static_cast<uintptr_t>(s->handle()), 3), kLoginOk);
    ASSERT_EQ(s->send("STAT\r\n"), Err::None);
    EXPECT_EQ(readLine(*s).substr(0, 5), "+OK 2");
    ASSERT_EQ(s->send("QUIT\r\n"), Err::None);
    readLine(*s);
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(PluginLogin, RefusalsComeBackAsResultsWithoutBoxes) {
    struct Case {
        const char* user;
        const char* password;
        int apop;
        int result;
    };
    const Case cases[] = {
        {"taro", "bad", 0, kLoginRefused},
        {"taro", "secret", 1, kLoginOk},
        {"taro", "bad", 1, kLoginApopRefused},
    };
    for (const Case& c : cases) {
        Account* a = accounts.byNumber(3);
        sjis::copyField(a->userId, c.user);
        sjis::copyField(a->password, c.password);
        a->apop = c.apop;
        auto s = connect();
        ASSERT_TRUE(s);
        EXPECT_EQ(KVA_CheckPassword(static_cast<uintptr_t>(s->handle()), 3), c.result)
            << c.password << " " << c.apop;
    }
    // A refused user name: no password is offered.
    Account* a = accounts.byNumber(3);
    sjis::copyField(a->password, "secret");
    a->apop = 0;
    server.inject(MailboxServer::fault(Fault::Refuse, "USER"));
    auto s = connect();
    ASSERT_TRUE(s);
    EXPECT_EQ(KVA_CheckPassword(static_cast<uintptr_t>(s->handle()), 3), kLoginRefused);
    EXPECT_EQ(server.sessions().back(), std::vector<std::string>{"USER taro"});
    s->close();
    // The server hangs up at once: no greeting.
    server.inject(MailboxServer::fault(Fault::CloseDuring, "GREETING", 0, 0));
    s = connect();
    ASSERT_TRUE(s);
    EXPECT_EQ(KVA_CheckPassword(static_cast<uintptr_t>(s->handle()), 3), kLoginNoGreeting);
    EXPECT_EQ(KVA_CheckPassword(static_cast<uintptr_t>(s->handle()), 99), kLoginCommandFailed);
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(PluginLogin, AccountNameByNumberOrTheLastOne) {
    EXPECT_STREQ(KVA_GetAcountName(3), "テスト");
    EXPECT_STREQ(KVA_GetAcountName(7), "最後");
    EXPECT_STREQ(KVA_GetAcountName(5), "最後");
    config::AccountList none;
    setExportHost(&t.env, &none);
    EXPECT_STREQ(KVA_GetAcountName(3), "");
}

}  // namespace
}  // namespace kolvy::pop
