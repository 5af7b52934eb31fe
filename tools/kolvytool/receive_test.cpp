// kolvytool receive and sort on a real program folder: mail from the real dovecot of the
// pop-servers fixture and from a fake mailbox with injected faults goes through analysis into
// the store; the receive rules file it, and every fault leaves a sound store from which the next
// run goes on without losing or doubling a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "pop/testsupport/mailbox_server.h"
#include "pop/testsupport/real_servers.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool_test_util.h"

namespace kolvy::tool {
namespace {

using test::MailboxServer;
using test::runTool;

std::string mail(const std::string& subject, std::string_view body = "本文です。\r\n") {
    return "From: Sender <s@example.jp>\r\nTo: me@example.jp\r\nSubject: " + subject +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\n" + std::string(body);
}

class ToolReceive : public ::testing::Test {
  protected:
    std::string home() const { return test::home(e->env); }
    // The mailbox of user "taro" holding `mails` under the ids A, B, C, ... and the order on it.
    void serve(const std::vector<std::string>& mails) {
        server.setCredentials("taro", "secret");
        for (size_t i = 0; i < mails.size(); ++i)
            server.add(MailboxServer::message(mails[i], std::string(1, char('A' + i))));
        test::writePopOrder(e->env.ini, server.port(), "taro", "secret", false, 3000);
    }
    test::ToolRun receive() { return runTool({"receive", home(), toTerminal("受信注文")}); }
    // Subjects of a tab's messages, sorted (the 13th column of `list`).
    std::vector<std::string> subjects(std::string_view tab = "受信") {
        const test::ToolRun r = runTool({"list", home(), toTerminal(tab)});
        EXPECT_EQ(r.code, 0) << r.err;
        std::vector<std::string> v;
        for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
            size_t col = at;
            for (int n = 0; n < 12; ++n)
                col = r.out.find('\t', col) + 1;
            v.push_back(r.out.substr(col, r.out.find('\t', col) - col));
        }
        std::sort(v.begin(), v.end());
        return v;
    }
    // The last stored message of the receive tab holding `text`.
    std::string storedWith(std::string_view text) {
        std::string found = "<none>";
        for (int n = 0; n < 5; ++n) {
            const std::string m = e->read("MailData\\受信\\000" + std::to_string(n) + ".txt");
            if (m.find(text) != std::string::npos) found = m;
        }
        return found;
    }
    size_t retrievals(const std::string& uid) {
        const std::vector<std::string> got = server.retrieved();
        return static_cast<size_t>(std::count(got.begin(), got.end(), uid));
    }
    test::TestEnv own;
    test::TestEnv* e = &own;  // the program folder in use
    MailboxServer server;
};

TEST_F(ToolReceive, DovecotMailIsStoredDecodedAndLeaveOnServerFetchesOnlyNewMail) {
    auto s = test::popServers();
    ASSERT_TRUE(s.has_value()) << "the pop-servers fixture has not run";
    s->emptyDovecot();
    // A test of what is stored, not of time-outs: a loaded machine must not fail it.
    test::writePopOrder(e->env.ini, s->dovecotPop3, s->user, s->password, true, 30000);
    ASSERT_TRUE(s->deliverToDovecot("1.kolvy", mail("=?ISO-2022-JP?B?GyRCNEEbKEI=?=")));
    ASSERT_TRUE(s->deliverToDovecot("2.kolvy", mail("dots", ".first\r\n..second\r\n")));
    ASSERT_TRUE(s->deliverToDovecot(
        "3.kolvy",
        "From: s@example.jp\r\nTo: me@example.jp\r\nSubject: attached\r\n"
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nsee attached\r\n"
        "--b\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n--b--\r\n"));

    test::ToolRun r = receive();
    ASSERT_EQ(r.code, 0) << r.out << r.err << e->read("_Log\\通信ログ2612.txt");
    EXPECT_EQ(r.out, "stored 3\n");
    EXPECT_EQ(subjects(), (std::vector<std::string>{"attached", "dots", "漢"}));
    test::expectSound(e->env);
    // The body as sent: the server's dot-stuffing is undone.
    EXPECT_NE(storedWith("Subject: dots").find("\r\n\r\n.first\r\n..second\r\n"),
              std::string::npos);
    EXPECT_EQ(receive().out, "stored 0\n");
    ASSERT_TRUE(s->deliverToDovecot("4.kolvy", mail("fourth")));
    EXPECT_EQ(receive().out, "stored 1\n");
    EXPECT_EQ(subjects().size(), 4u);
    s->emptyDovecot();
}

TEST_F(ToolReceive, ReceiveRulesFileMailAndSizeRulesDecideBeforeTheFetch) {
    serve({mail("move me"), mail("big", std::string(60000, 'x') + "\r\n"), mail("stays")});
    test::addRule(
        e->env, rules::RuleKind::Receive,
        [](Rule& r, store::TabRegistry& tabs) {
            test::matchSubject(r, "move");
            r.targetTab = tabs.findByName("仕分け");
        },
        "仕分け");
    // Size alone: left on the server, never fetched, never deleted.
    test::addRule(e->env, rules::RuleKind::Receive, [](Rule& r, store::TabRegistry&) {
        r.sizeKB = 50;
        r.noDownload = 1;
    });

    const test::ToolRun r = receive();
    ASSERT_EQ(r.code, 0) << r.err << e->read("_Log\\通信ログ2612.txt");
    EXPECT_EQ(r.out, "stored 2\n");
    EXPECT_EQ(subjects("仕分け"), std::vector<std::string>{"move me"});
    EXPECT_EQ(subjects(), std::vector<std::string>{"stays"});
    EXPECT_EQ(retrievals("B"), 0u);
    ASSERT_EQ(server.messages().size(), 1u);
    EXPECT_EQ(server.messages()[0].uid, "B");
    EXPECT_NE(e->read("Filter_Receive.txt").find("move"), std::string::npos);
    test::expectSound(e->env);
}

// A size rule below a rule that keeps mail never deletes what that rule keeps: the header is read
// first (TOP n 0), and the rule nearest the top decides. The size rule that acted before the fetch
// is counted and dated like any other.
TEST_F(ToolReceive, ARuleAboveASizeRuleDecidesFirst) {
    const std::string big = std::string(120000, 'x') + "\r\n";
    serve({mail("KEEPBIG report", big), mail("other", big), mail("small")});
    test::addRule(e->env, rules::RuleKind::Receive, [](Rule& r, store::TabRegistry&) {
        test::matchSubject(r, "KEEPBIG");
        r.leaveOnServer = 1;
    });
    test::addRule(e->env, rules::RuleKind::Receive, [](Rule& r, store::TabRegistry&) {
        r.sizeKB = 100;
        r.deleteUnread = 1;
    });
    const test::ToolRun r = receive();
    ASSERT_EQ(r.code, 0) << r.err << e->read("_Log\\通信ログ2612.txt");
    EXPECT_EQ(r.out, "stored 2\n");
    EXPECT_EQ(subjects(), (std::vector<std::string>{"KEEPBIG report", "small"}));
    EXPECT_EQ(retrievals("A"), 1u);
    EXPECT_EQ(retrievals("B"), 0u);  // deleted unread
    ASSERT_EQ(server.messages().size(), 1u);
    EXPECT_EQ(server.messages()[0].uid, "A");
    // Both rules decided a message: both counted once and dated today (the tool's clock).
    std::string rulesFile = e->read("Filter_Receive.txt");
    std::erase(rulesFile, '\r');
    const platform::LocalTime now = platform::systemClock().localNow();
    char today[16];
    std::snprintf(today, sizeof today, "\n%02d%02d%02d1\n", now.year % 100, now.month, now.day);
    size_t dated = 0;
    for (size_t p = rulesFile.find(today); p != std::string::npos; p = rulesFile.find(today, p + 1))
        ++dated;
    EXPECT_EQ(dated, 2u) << rulesFile;
    test::expectSound(e->env);
}

TEST_F(ToolReceive, AfterEveryFaultTheStoreIsSoundAndTheNextRunFetchesExactlyTheRest) {
    using Fault = MailboxServer::Fault;
    const struct {
        const char* what;
        Fault fault;
    } cases[] = {
        {"refused RETR", MailboxServer::fault(Fault::Refuse, "RETR", 3)},
        {"closed in the middle of a message",
         MailboxServer::fault(Fault::CloseDuring, "RETR", 3, 60)},
        {"stalled longer than the time-out",
         MailboxServer::fault(Fault::StallDuring, "RETR", 2, 40, 5000)},
        {"refused DELE", MailboxServer::fault(Fault::Refuse, "DELE", 2)},
        {"QUIT never answered", MailboxServer::fault(Fault::CloseDuring, "QUIT", 0, 0)},
    };
    const std::vector<std::string> sent{"m1", "m2", "m3", "m4", "m5"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TestEnv fresh;
        e = &fresh;
        MailboxServer box;
        box.setCredentials("taro", "secret");
        for (const std::string& s : sent)
            box.add(MailboxServer::message(mail(s), "U" + s));
        test::writePopOrder(e->env.ini, box.port(), "taro", "secret", false, 3000);
        box.inject(c.fault);
        const test::ToolRun first = receive();
        test::expectSound(e->env);
        const test::ToolRun second = receive();
        EXPECT_EQ(second.code, 0) << second.err;
        test::expectSound(e->env);
        // Every message once, none twice, and the server emptied.
        EXPECT_EQ(subjects(), sent) << first.out << second.out;
        EXPECT_TRUE(box.messages().empty());
        e = &own;
    }
}

TEST_F(ToolReceive, SplitMessageIsJoinedAtTheEndOfTheRunThatBroughtItsLastPiece) {
    const auto piece = [](int n, std::string_view body) {
        return "From: s@example.jp\r\nTo: me@example.jp\r\nSubject: piece " + std::to_string(n) +
               "\r\nMIME-Version: 1.0\r\nContent-Type: Message/Partial; total=2;\r\n"
               " id=\"split@example.jp\"; number=" +
               std::to_string(n) + "\r\n\r\n" + std::string(body);
    };
    serve({piece(1, "Subject: whole\r\nContent-Type: text/plain\r\n\r\nfirst half\r\n.\r\n")});
    EXPECT_EQ(receive().out, "stored 1\n") << "one piece alone is not joined";
    server.add(MailboxServer::message(piece(2, "second half.\r\n"), "P2"));
    const test::ToolRun r = receive();
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored 1\njoined 1\n");
    EXPECT_EQ(subjects(), (std::vector<std::string>{"piece 1", "piece 2", "whole"}));
    EXPECT_NE(storedWith("Subject: whole").find("\r\n\r\nfirst half\r\n.\r\nsecond half.\r\n"),
              std::string::npos);
    test::expectSound(e->env);
}

TEST_F(ToolReceive, SortMovesWhatTheCommandRulesSelect) {
    serve({mail("invoice 1"), mail("hello"), mail("invoice 2")});
    ASSERT_EQ(receive().code, 0);
    test::addRule(
        e->env, rules::RuleKind::Command,
        [](Rule& r, store::TabRegistry& tabs) {
            test::matchSubject(r, "invoice");
            r.targetTab = tabs.findByName("請求");
        },
        "請求");
    const test::ToolRun s = runTool({"sort", home()});
    EXPECT_EQ(s.code, 0) << s.out << s.err;
    EXPECT_EQ(subjects("請求"), (std::vector<std::string>{"invoice 1", "invoice 2"}));
    EXPECT_EQ(subjects(), std::vector<std::string>{"hello"});
    test::expectSound(e->env);
    EXPECT_EQ(runTool({"sort", home(), toTerminal("ない")}).code, 2);
}

}  // namespace
}  // namespace kolvy::tool
