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
using Lines = std::vector<std::string>;

std::string messageText(int i) {
    return "Subject: m" + std::to_string(i) + "\r\n\r\nbody " + std::to_string(i) + "\r\n";
}
size_t countPrefix(const Lines& v, std::string_view prefix) {
    return static_cast<size_t>(std::count_if(
        v.begin(), v.end(), [&](const std::string& s) { return s.starts_with(prefix); }));
}
// The lines in `sent` were sent, those in `unsent` were not.
void expectSent(const Lines& session, Lines sent, Lines unsent = {}) {
    for (const std::string& l : sent)
        EXPECT_NE(std::find(session.begin(), session.end(), l), session.end()) << l;
    for (const std::string& l : unsent)
        EXPECT_EQ(std::find(session.begin(), session.end(), l), session.end()) << l;
}
const Lines kLogin = {"USER taro", "PASS secret", "LIST", "UIDL"};
Lines login(Lines rest) {
    Lines v = kLogin;
    v.insert(v.end(), rest.begin(), rest.end());
    return v;
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
    Lines boxes() {
        Lines v;
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
    EXPECT_EQ(sink.bodies(), (Lines{messageText(1), messageText(2), messageText(3)}));
    EXPECT_EQ(sink.uidls(), (Lines{"U1", "U2", "U3"}));
    EXPECT_EQ(sink.stored[1].number, 2);
    EXPECT_EQ(sink.stored[1].size, messageText(2).size());
    EXPECT_EQ(sink.stored[0].text.front(), '\n');
    EXPECT_EQ(server.lastSession(),
              login({"RETR 1", "DELE 1", "RETR 2", "DELE 2", "RETR 3", "DELE 3", "QUIT"}));
    EXPECT_TRUE(server.messages().empty());
    // Emptied once QUIT confirmed the deletions; the journal that named them is gone.
    EXPECT_EQ(uidlFile(), "");
    EXPECT_EQ(t.read("_UIDL\\テスト.jnl"), "<missing>");
    EXPECT_EQ(std::tuple(sink.begins, sink.ends, sink.lastResult), std::tuple(1, 1, kReceiveDone));
    EXPECT_TRUE(t.reporter.shown().empty());
    // Connecting, account, password, receiving, done; the last percent step is 100.
    for (int s : {2, 12, 3, 4, 5, 6})
        EXPECT_NE(std::find(states.begin(), states.end(), s), states.end()) << s;
    EXPECT_EQ(states.back(), 6);
    EXPECT_EQ(std::pair(progress.received.load(), progress.total.load()), std::pair(3, 3));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    // Nothing left: no mail, after QUIT.
    EXPECT_EQ(receive(), kReceiveNoMail);
    EXPECT_EQ(server.lastSession(), (Lines{"USER taro", "PASS secret", "LIST", "QUIT"}));
    EXPECT_EQ(sink.begins, 1);
}

TEST_F(Receive, LeaveOnServerFetchesOnlyNewMailAndDeletesNothing) {
    order.leaveOnServer = 1;
    addMessages(1, 2);
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(uidlFile(), " U1\r\n U2\r\n");
    addMessages(3, 3);
    ASSERT_EQ(receive(), kReceiveDone);
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved(), (Lines{"U1", "U2", "U3"}));
    for (const auto& session : server.sessions())
        EXPECT_EQ(countPrefix(session, "DELE"), 0u);
    expectEachStoredOnce(3);
    EXPECT_EQ(uidlFile(), " U3\r\n U1\r\n U2\r\n");

    // Another program deletes message 1: its id leaves the file at the next write.
    MailboxServer fresh;
    fresh.add(server.messages()[1]);
    fresh.add(server.messages()[2]);
    fresh.add(MailboxServer::message(messageText(4), "U4"));
    account.popPort = fresh.port();
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(fresh.retrieved(), Lines{"U4"});
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
    EXPECT_EQ(server.lastSession(), login({"TOP 3 0", "QUIT"}));

    order.headerLinesOnly = 0;
    sink.decide = nullptr;
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(server.lastSession(), login({"DELE 1", "QUIT"}));
    ASSERT_EQ(server.messages().size(), 2u);
    EXPECT_EQ(server.messages()[0].uid, "U2");
    EXPECT_EQ(server.messages()[1].uid, "U3");
    EXPECT_EQ(sink.stored.size(), 3u);      // each stored once
    EXPECT_EQ(uidlFile(), "U3\r\nU2\r\n");  // both kept on purpose: never deleted
    // And the next run in delete mode leaves them alone as well.
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.lastSession(), login({"QUIT"}));
}

TEST_F(Receive, DeleteModeNeverTakesIdsOfAnOlderFile) {
    // Files written before order-kept ids were marked cannot tell them from mail a rule kept or
    // that was fetched in part: such ids stay on the server.
    addMessages(1, 2);
    t.write("_UIDL\\テスト.txt", "U1\r\n");
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(server.lastSession(), login({"RETR 2", "DELE 2", "QUIT"}));
    ASSERT_EQ(server.messages().size(), 1u);
    EXPECT_EQ(server.messages()[0].uid, "U1");
}

TEST_F(Receive, HeaderAndLinesOnlyIsNeverDeleted) {
    order.headerLinesOnly = 1;
    order.headerLines = 1;  // leave-on-server is off: the header alone must not cost the mail
    server.add(MailboxServer::message("Subject: top\r\n\r\nline 1\r\nline 2\r\n", "T1"));
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.lastSession(), login({"TOP 1 1", "QUIT"}));
    EXPECT_EQ(sink.bodies(), Lines{"Subject: top\r\n\r\nline 1\r\n"});
    EXPECT_EQ(server.messages().size(), 1u);
    EXPECT_EQ(uidlFile(), "T1\r\n");
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(countPrefix(server.lastSession(), "TOP"), 0u);

    order.headerLines = 0;
    server.add(MailboxServer::message("Subject: second\r\n\r\nbody\r\n", "T2"));
    ASSERT_EQ(receive(), kReceiveDone);
    expectSent(server.lastSession(), {"TOP 2 0"});
    EXPECT_EQ(sink.bodies().back(), "Subject: second\r\n\r\n");
}

TEST_F(Receive, SizeRulesDecideBeforeFetching) {
    addMessages(1, 5);
    rules.answer = [](const ServerEntry& e) {
        FetchAdvice a;
        if (e.number == 1) a.kind = FetchAdvice::NoDownload;
        if (e.number == 2) a.kind = FetchAdvice::DeleteUnread;
        if (e.number == 3) a.kind = FetchAdvice::HeaderAndLines;  // with 0 lines: kept
        if (e.number == 4) a.keepOnServer = true;                 // fetched and kept
        return a;
    };
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.lastSession(),
              login({"DELE 2", "TOP 3 0", "RETR 4", "RETR 5", "DELE 5", "QUIT"}));
    EXPECT_EQ(rules.asked, (std::vector<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(uidlFile(), "U3\r\nU4\r\n");

    // Next run: the rules are asked again only about the one they kept unfetched.
    rules.asked.clear();
    rules.answer = {};
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(rules.asked, std::vector<int32_t>{1});
    EXPECT_EQ(server.retrieved(), (Lines{"U4", "U5", "U1"}));
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
    // A local failure still lets the server keep DELE 2.
    EXPECT_EQ(server.lastSession(), login({"RETR 1", "RETR 2", "DELE 2", "RETR 3", "QUIT"}));
    EXPECT_EQ(server.messages().size(), 3u);
    EXPECT_EQ(uidlFile(), "U1\r\n");
    EXPECT_EQ(sink.lastResult, kReceiveFailed);

    sink.decide = {};
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved(), (Lines{"U1", "U2", "U3", "U3", "U4"}));
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
    EXPECT_EQ(server.lastSession(),
              login({"RETR 1", "DELE 1", "RETR 2", "DELE 2", "RETR 3", "DELE 3", "QUIT"}));
    EXPECT_NE(commLog().find(kTextAborted), std::string::npos);

    abortFlag = false;
    sink.decide = {};
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved(), (Lines{"U1", "U2", "U3", "U4", "U5"}));
    expectEachStoredOnce(5);

    // Right after connecting: QUIT and nothing else.
    addMessages(1, 1);
    abortFlag = true;
    EXPECT_EQ(receive(), kReceiveAborted);
    EXPECT_EQ(server.lastSession(), Lines{"QUIT"});
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
    EXPECT_EQ(sink.uidls(), Lines{"B1"});
    expectSent(server.lastSession(), {"QUIT"}, {"RETR 2"});
}

// A fault in the first run; what the second run must fetch.
struct FaultCase {
    const char* name;
    Fault fault;
    int firstResult;
    std::string reported;  // the box of the first run
    Lines secondRetrieves;
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
    EXPECT_EQ(Lines(all.begin() + static_cast<long>(before), all.end()), c.secondRetrieves);
    expectEachStoredOnce(3);
    EXPECT_TRUE(server.messages().empty()) << "every stored message deleted in the end";
    EXPECT_TRUE(t.reporter.shown().empty()) << t.reporter.lastText();
}

const std::string kBlanks = "    ";
const Lines kAll = {"U1", "U2", "U3"};
using F = Fault;
constexpr auto fault = MailboxServer::fault;

INSTANTIATE_TEST_SUITE_P(
    EveryStep, Faults,
    ::testing::Values(FaultCase{"GreetingRefused", fault(F::Refuse, "GREETING", 0, 0, 0),
                                kReceiveFailed, kTextGreetingRefused + kBlanks, kAll},
                      FaultCase{"UserRefused", fault(F::Refuse, "USER", 0, 0, 0), kReceiveFailed,
                                kTextAuthFailedBox, kAll},
                      FaultCase{"PassRefused", fault(F::Refuse, "PASS", 0, 0, 0), kReceiveFailed,
                                kTextAuthFailedBox, kAll},
                      FaultCase{"ListRefused", fault(F::Refuse, "LIST", 0, 0, 0), kReceiveFailed,
                                "サーバがLISTコマンドを拒否しました。" + kBlanks, kAll},
                      FaultCase{"UidlRefused", fault(F::Refuse, "UIDL", 0, 0, 0), kReceiveFailed,
                                "サーバがUIDLコマンドを拒否しました。" + kBlanks, kAll},
                      FaultCase{"RetrRefused",
                                fault(F::Refuse, "RETR", 2, 0, 0),
                                kReceiveFailed,
                                kTextFetchRefused + kBlanks,
                                {"U2"}},
                      FaultCase{"DeleRefused",
                                fault(F::Refuse, "DELE", 2, 0, 0),
                                kReceiveFailed,
                                kTextDeleteRefused + kBlanks,
                                {}},
                      FaultCase{"QuitRefused",
                                fault(F::Refuse, "QUIT", 0, 0, 0),
                                kReceiveFailed,
                                kTextQuitRefused + kBlanks,
                                {}},
                      FaultCase{"ClosedInTheMiddleOfAMessage",
                                fault(F::CloseDuring, "RETR", 2, 30, 0),
                                kReceiveFailed,
                                kTextReceiveEnded + kBlanks,
                                {"U2", "U3"}},
                      FaultCase{"ClosedInTheMiddleOfTheListing",
                                fault(F::CloseDuring, "UIDL", 0, 9, 0), kReceiveListFailed,
                                kTextSocketErrorOnReply, kAll},
                      FaultCase{"ClosedBeforeDeleIsAnswered",
                                fault(F::CloseDuring, "DELE", 2, 0, 0),
                                kReceiveFailed,
                                kTextSocketErrorOnReply,
                                {"U3"}},
                      FaultCase{"StallLongerThanTheTimeOut",
                                fault(F::StallDuring, "RETR", 2, 40, 2000),
                                kReceiveFailed,
                                kTextReceiveSocketError + kBlanks,
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
    EXPECT_EQ(server.retrieved(), (Lines{"U1", "U2", "U3"}));
    EXPECT_EQ(uidlFile(), "");
}

TEST_F(Receive, BrokenConnectionClosesWithoutQuitAndKeepsStoredIds) {
    t.env.unattended = true;
    addMessages(1, 3);
    server.inject(MailboxServer::fault(Fault::CloseDuring, "RETR", 3, 20));
    EXPECT_EQ(receive(), kReceiveFailed);
    expectSent(server.lastSession(), {}, {"QUIT"});
    EXPECT_TRUE(t.reporter.shown().empty());  // unattended: the log only
    EXPECT_NE(commLog().find(std::string(kTextReceiveEnded) + "\r\nRETR 3\r\n"), std::string::npos)
        << commLog();
    // The server rolled DELE 1 and DELE 2 back; the file knows both are stored here.
    EXPECT_EQ(server.messages().size(), 3u);
    EXPECT_EQ(uidlFile(), "\tU1\r\n\tU2\r\n");
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.lastSession(), login({"DELE 1", "DELE 2", "RETR 3", "DELE 3", "QUIT"}));
    expectEachStoredOnce(3);
}

TEST_F(Receive, OneByteWritesGiveTheSameSession) {
    server.setBytewise(true);
    server.add(MailboxServer::message("Subject: a\r\n\r\n.dot\r\n..\r\n.\r\nend\r\n", "X1"));
    ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(sink.bodies(), Lines{"Subject: a\r\n\r\n.dot\r\n..\r\n.\r\nend\r\n"});
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
    EXPECT_EQ(sink.uidls(), (Lines{"A", "", "C"}));
    EXPECT_EQ(sink.bodies()[2], messageText(3));
    EXPECT_EQ(uidlFile(), " A\r\n C\r\n");
    ASSERT_EQ(receive(), kReceiveDone);
    // Only the message without id comes again; message 3 kept its own id.
    EXPECT_EQ(server.retrieved(), (Lines{"A", messageText(2), "C", messageText(2)}));
}

TEST_F(Receive, IdsOfSeventyEightToEightyCharacters) {
    order.leaveOnServer = 1;
    const std::string base(78, 'i');
    for (const std::string& id : {base, base + "9", base + "99"})
        server.add(MailboxServer::message(messageText(static_cast<int>(id.size())), id));
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
    server.add(MailboxServer::message(messageText(1), "Z1", 0));
    server.add(MailboxServer::message(messageText(2), "H2", 3000000000u));
    server.add(MailboxServer::message(messageText(3), "H3", 5000000000u));
    addMessages(4, 4);
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_EQ(boxes(), Lines{kTextTooLarge + kBlanks});
    EXPECT_EQ(sink.uidls(), (Lines{"Z1", "U4"}));
    expectSent(server.lastSession(), {}, {"RETR 2", "DELE 2", "DELE 3"});
    EXPECT_EQ(server.messages().size(), 2u);  // too large: left on the server
}

TEST_F(Receive, MessageLongerThanTwiceItsListedSizeFails) {
    server.add(MailboxServer::message("Subject: x\r\n\r\n" + std::string(300000, 'y') + "\r\n",
                                      "L1", 100000));
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_EQ(boxes(), Lines{kTextSizeMismatch + kBlanks});
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
    EXPECT_EQ(server.retrieved(), (Lines{"new-1", "new-2"}));
    // The stored ids are plain: they stay so; the new ones are kept by the order alone.
    EXPECT_TRUE(uidlFile() == " new-1\r\n new-2\r\n" + file);  // no diff of 100,000 lines
}

TEST_F(Receive, MailCheckerActionsAreCarriedOut) {
    addMessages(1, 4);
    // Fetch and delete, delete only, fetch and leave, and one no longer on the server.
    const std::pair<const char*, int32_t> asked[] = {{"U1", 1}, {"U2", 2}, {"U3", 3}, {"gone", 1}};
    CheckerItem items[4] = {};
    for (int i = 0; i < 4; ++i) {
        sjis::copyField(items[i].uidl, asked[i].first);
        items[i].action = asked[i].second;
        items[i].next = i < 3 ? &items[i + 1] : nullptr;
    }
    ASSERT_EQ(receive(nullptr, items), kReceiveDone);
    EXPECT_EQ(server.lastSession(), login({"RETR 1", "DELE 1", "DELE 2", "RETR 3", "QUIT"}));
    EXPECT_EQ(
        (std::vector<int32_t>{items[0].result, items[1].result, items[2].result, items[3].result}),
        (std::vector<int32_t>{1, 1, 2, 1}));
    EXPECT_TRUE(rules.asked.empty());
    EXPECT_EQ(uidlFile(), "U3\r\n");
}

TEST_F(Receive, NoCheckUidlSendsNoUidlAndKnowsNothing) {
    options.noCheckUidl = true;
    order.leaveOnServer = 1;
    addMessages(1, 1);
    ASSERT_EQ(receive(), kReceiveDone);
    expectSent(server.lastSession(), {}, {"UIDL"});
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(server.retrieved(), (Lines{"U1", "U1"}));
    EXPECT_EQ(uidlFile(), "<missing>");
}

TEST_F(Receive, WrongPasswordNeverReachesTheLog) {
    t.env.logOut = true;
    sjis::copyField(account.password, "wrong-pw");
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_EQ(boxes(), Lines{kTextAuthFailedBox});
    EXPECT_EQ(server.lastSession().back(), "QUIT");
    const std::string log = commLog();
    EXPECT_NE(log.find("ユーザID:taro パスワード:-----で認証エラーです。"), std::string::npos)
        << log;
    EXPECT_NE(log.find("PASS -----"), std::string::npos);
    EXPECT_EQ(log.find("wrong-pw"), std::string::npos);
}

// "0" is a user name and a password like any other; APOP sends neither.
TEST_F(Receive, UserAndPasswordZeroAreSentAsZero) {
    struct Case {
        const char *user, *password;
        int apop;
        Lines first;
    } const cases[] = {
        {"0", "0", 0, {"USER 0", "PASS 0", "LIST"}},
        {"taro", "secret", 1, {"APOP taro " + md5Hex("<1896.697170952@fake>secret"), "LIST"}},
    };
    for (const Case& c : cases) {
        addMessages(1, 1);
        server.setCredentials(c.user, c.password);
        sjis::copyField(account.userId, c.user);
        sjis::copyField(account.password, c.password);
        account.apop = c.apop;
        ASSERT_EQ(receive(), kReceiveDone) << t.reporter.lastText();
        const Lines s = server.lastSession();
        EXPECT_EQ(Lines(s.begin(), s.begin() + std::min(s.size(), c.first.size())), c.first);
    }
}

TEST_F(Receive, RefusedTopIsReportedAtOnceAndTriedAgainNextRun) {
    order.headerLinesOnly = 1;
    order.headerLines = 2;
    addMessages(1, 2);
    // Waiting for a "." after the refusal would run into this time-out and break the session.
    options.timeoutMs = 1000;
    server.inject(MailboxServer::fault(Fault::Refuse, "TOP", 1));
    EXPECT_EQ(receive(), kReceiveFailed);
    EXPECT_EQ(boxes(), Lines{kTextFetchRefused + kBlanks});
    EXPECT_EQ(sink.uidls(), Lines{"U2"});
    EXPECT_EQ(server.lastSession().back(), "QUIT");
    ASSERT_EQ(receive(), kReceiveDone);
    EXPECT_EQ(sink.uidls(), (Lines{"U2", "U1"}));
    EXPECT_EQ(countPrefix(server.lastSession(), "TOP"), 1u);
    EXPECT_EQ(server.messages().size(), 2u);
}

TEST_F(Receive, DoubleByteScanOnlyWhenJapaneseIsNotChecked) {
    server.add(MailboxServer::message("Subject: j\r\n\r\n日本語\r\n", "J1"));
    ASSERT_EQ(receive(), kReceiveDone);
    options.checkJapanese = false;
    server.add(MailboxServer::message("Subject: j\r\n\r\n日本語\r\n", "J2"));
    server.add(MailboxServer::message("Subject: a\r\n\r\nascii\r\n", "J3"));
    ASSERT_EQ(receive(), kReceiveDone);
    ASSERT_EQ(sink.stored.size(), 3u);
    // The first left to the decoders; then scanned.
    EXPECT_EQ((std::vector<bool>{sink.stored[0].asciiOnly, sink.stored[1].asciiOnly,
                                 sink.stored[2].asciiOnly}),
              (std::vector<bool>{true, false, true}));
}

TEST_F(Receive, OptionsAndSettingsFromTheIniAndTheAccount) {
    auto fields = [](const SessionOptions& o) {
        return std::tuple(o.noCheckUidl, o.logOutReceive, o.checkJapanese, o.timeoutMs);
    };
    EXPECT_EQ(fields(readSessionOptions(t.env.ini)), std::tuple(false, true, true, 60000u));
    for (auto [key, value] : {std::pair{"NoCheckUIDL", "1"},
                              {"LogOutReceive", "0"},
                              {"CheckJapanese", "0"},
                              {"TimeOut", "1500"}})
        t.env.ini.write("Option", key, value);
    EXPECT_EQ(fields(readSessionOptions(t.env.ini)), std::tuple(true, false, false, 1500u));

    account.recvSsl = 2;
    account.recvSslProtocol = 4;
    account.certSsl = 0;
    account.apop = 1;
    sjis::copyField(account.password, "0");
    const ConnectionSettings s = pop3Settings(account, 1500);
    EXPECT_EQ(std::tuple(s.host, s.port, s.sslMode, s.sslProtocol, s.certSsl, s.apop, s.password,
                         s.timeoutMs),
              std::tuple("127.0.0.1", server.port(), SslMode::StartTls, 4, 0, true, "0", 1500u));
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
    int check(platform::Socket& s, int number = 3) {
        return KVA_CheckPassword(static_cast<uintptr_t>(s.handle()), number);
    }
    config::AccountList accounts;
};

// A plug-in's login on its own socket: refusals come back as results, never as boxes; a login
// leaves the socket open for the plug-in.
TEST_F(PluginLogin, RefusalsComeBackAsResultsWithoutBoxes) {
    struct Case {
        const char* password;
        int apop;
        const char* refuse;  // a command the server refuses
        int result;
    } const cases[] = {
        {"secret", 0, nullptr, kLoginOk},     {"bad", 0, nullptr, kLoginRefused},
        {"secret", 1, nullptr, kLoginOk},     {"bad", 1, nullptr, kLoginApopRefused},
        {"secret", 0, "USER", kLoginRefused},  // no password is offered
    };
    addMessages(1, 2);
    Account* a = accounts.byNumber(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.password) + " " + std::to_string(c.apop));
        sjis::copyField(a->password, c.password);
        a->apop = c.apop;
        if (c.refuse) server.inject(MailboxServer::fault(Fault::Refuse, c.refuse));
        auto s = connect();
        ASSERT_TRUE(s);
        EXPECT_EQ(check(*s), c.result);
        if (c.result != kLoginOk) continue;
        // Logged in on the caller's socket, which stays open.
        ASSERT_EQ(s->send("STAT\r\n"), Err::None);
        std::string reply;
        char ch;
        while (reply.empty() || reply.back() != '\n') {
            auto n = s->receive(std::span<char>(&ch, 1));
            if (!n || *n == 0) break;
            reply.push_back(ch);
        }
        EXPECT_EQ(reply.substr(0, 5), "+OK 2");
    }
    EXPECT_EQ(server.sessions().back(), Lines{"USER taro"});
    // The server hangs up at once: no greeting.
    server.inject(MailboxServer::fault(Fault::CloseDuring, "GREETING", 0, 0));
    auto s = connect();
    ASSERT_TRUE(s);
    EXPECT_EQ(check(*s), kLoginNoGreeting);
    EXPECT_EQ(check(*s, 99), kLoginCommandFailed);
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
