// kolvytool receive and sort on a real program folder: mail from the real dovecot of the
// pop-servers fixture and from a fake mailbox with injected faults goes through analysis into
// the store; the receive rules file it, and every fault leaves a sound store from which the next
// run goes on without losing or doubling a message.
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <string>
#include <vector>

#include "config/password.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "pop/testsupport/mailbox_server.h"
#include "pop/testsupport/real_servers.h"
#include "rules/rule_book.h"
#include "rules/rule_file.h"
#include "rules/rule_tables.h"
#include "rules/sort.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {
namespace {

struct ToolRun {
    int code = 0;
    std::string out, err;
};

ToolRun run(std::vector<std::string> args) {
    std::vector<std::string_view> v(args.begin(), args.end());
    ToolRun r;
    r.code = runTool(
        v, [&](std::string_view s) { r.out += s; }, [&](std::string_view s) { r.err += s; });
    return r;
}

int32_t itemNamed(std::string_view name) {
    for (int32_t i = 1; i <= rules::kItemCount; ++i) {
        if (rules::itemName(i) == name) return i;
    }
    return 0;
}

class ToolReceive : public ::testing::Test {
  protected:
    std::string home() const { return toTerminal(e->env.programFolder); }
    // Account 0 and order 100 named "受信注文" (leave on server or not) on a server.
    void setUp(uint16_t port, std::string_view user, std::string_view password, bool leave,
               int timeoutMs = 3000) {
        platform::Profile& ini = e->env.ini;
        ASSERT_EQ(ini.write("TagList", "TagAcount", "自宅"), Err::None);
        ASSERT_EQ(ini.write("自宅", "TagNo", "0"), Err::None);
        ASSERT_EQ(ini.write("自宅", "POP3Server", "127.0.0.1"), Err::None);
        ASSERT_EQ(ini.write("自宅", "UserID", user), Err::None);
        ASSERT_EQ(ini.write("自宅", "Password", config::scramblePassword(password)), Err::None);
        ASSERT_EQ(ini.write("自宅", "POPPort", std::to_string(port)), Err::None);
        ASSERT_EQ(ini.write("自宅", "MailAddress", "me@example.jp"), Err::None);
        ASSERT_EQ(ini.write("TagList", "TagOrder", "100"), Err::None);
        ASSERT_EQ(ini.write("100", "TagNo", "0"), Err::None);
        ASSERT_EQ(ini.write("100", "OrderName", "受信注文"), Err::None);
        ASSERT_EQ(ini.write("100", "Nokosu", leave ? "1" : "0"), Err::None);
        ASSERT_EQ(ini.write("Option", "TimeOut", std::to_string(timeoutMs)), Err::None);
    }
    ToolRun receive() { return run({"receive", home(), toTerminal("受信注文")}); }
    // Subjects of a tab's messages as `list --utf8` prints them (the 13th column).
    std::vector<std::string> subjects(std::string_view tab = "受信") {
        const ToolRun r = run({"list", home(), toTerminal(tab)});
        EXPECT_EQ(r.code, 0) << r.err;
        std::vector<std::string> v;
        size_t at = 0;
        while (at < r.out.size()) {
            size_t end = r.out.find('\n', at);
            if (end == std::string::npos) end = r.out.size();
            std::string_view line(r.out.data() + at, end - at);
            for (int col = 0; col < 12 && !line.empty(); ++col) {
                const size_t tabAt = line.find('\t');
                line =
                    tabAt == std::string_view::npos ? std::string_view() : line.substr(tabAt + 1);
            }
            v.emplace_back(line.substr(0, line.find('\t')));
            at = end + 1;
        }
        std::sort(v.begin(), v.end());
        return v;
    }
    void expectSound() {
        const ToolRun c = run({"check", home()});
        EXPECT_EQ(c.code, 0) << c.out << c.err;
    }
    test::TestEnv own;
    test::TestEnv* e = &own;  // the program folder in use
};

std::string mail(const std::string& subject, std::string_view body = "本文です。\r\n") {
    return "From: Sender <s@example.jp>\r\nTo: me@example.jp\r\nSubject: " + subject +
           "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\n" + std::string(body);
}

TEST_F(ToolReceive, DovecotMailIsStoredDecodedAndLeaveOnServerFetchesOnlyNewMail) {
    auto s = test::popServers();
    ASSERT_TRUE(s.has_value()) << "the pop-servers fixture has not run";
    s->emptyDovecot();
    // A test of what is stored, not of time-outs: a loaded machine must not fail it.
    setUp(s->dovecotPop3, s->user, s->password, true, 30000);
    ASSERT_TRUE(s->deliverToDovecot("1.kolvy", mail("=?ISO-2022-JP?B?GyRCNEEbKEI=?=")));
    ASSERT_TRUE(s->deliverToDovecot("2.kolvy", mail("dots", ".first\r\n..second\r\n")));
    ASSERT_TRUE(s->deliverToDovecot(
        "3.kolvy",
        "From: s@example.jp\r\nTo: me@example.jp\r\nSubject: attached\r\n"
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nsee attached\r\n"
        "--b\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n--b--\r\n"));

    ToolRun r = receive();
    ASSERT_EQ(r.code, 0) << r.out << r.err << e->read("_Log\\通信ログ2612.txt");
    EXPECT_EQ(r.out, "stored 3\n");
    EXPECT_EQ(subjects(), (std::vector<std::string>{"attached", "dots", "漢"}));
    expectSound();
    // The body as sent: the server's dot-stuffing is undone.
    bool found = false;
    for (int n = 1; n <= 3; ++n) {
        const std::string text = e->read("MailData\\受信\\000" + std::to_string(n) + ".txt");
        if (text.find("Subject: dots") != std::string::npos) {
            found = true;
            EXPECT_NE(text.find("\r\n\r\n.first\r\n..second\r\n"), std::string::npos) << text;
        }
    }
    EXPECT_TRUE(found);

    r = receive();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored 0\n");
    ASSERT_TRUE(s->deliverToDovecot("4.kolvy", mail("fourth")));
    r = receive();
    EXPECT_EQ(r.out, "stored 1\n");
    EXPECT_EQ(subjects().size(), 4u);
    s->emptyDovecot();
}

TEST_F(ToolReceive, ReceiveRulesFileMailAndSizeRulesDecideBeforeTheFetch) {
    test::MailboxServer server;
    server.setCredentials("taro", "secret");
    server.add(test::MailboxServer::message(mail("move me"), "A"));
    server.add(test::MailboxServer::message(mail("big", std::string(60000, 'x') + "\r\n"), "B"));
    server.add(test::MailboxServer::message(mail("stays"), "C"));
    setUp(server.port(), "taro", "secret", false);
    {
        store::TabRegistry tabs;
        ASSERT_TRUE(tabs.load(e->env));
        ASSERT_TRUE(tabs.create(e->env, store::CreateMode::NewTab, "仕分け").ok());
        rules::RegistryTabs directory(tabs);
        rules::RuleBook book;
        ASSERT_EQ(book.load(e->env, rules::RuleKind::Receive, directory, 3), Err::None);
        auto* move = new Rule;
        rules::clearRule(*move);
        move->item1 = itemNamed("Subject:");
        ASSERT_NE(move->item1, 0);
        sjis::copyField(move->keyword1, "move");
        move->mode1 = 1;
        move->targetTab = tabs.findByName("仕分け");
        book.addAtFileEnd(rules::RuleKind::Receive, move);
        // Size alone: left on the server, never fetched, never deleted.
        auto* big = new Rule;
        rules::clearRule(*big);
        big->sizeKB = 50;
        big->noDownload = 1;
        book.addAtFileEnd(rules::RuleKind::Receive, big);
        ASSERT_EQ(book.save(e->env, rules::RuleKind::Receive, directory), Err::None);
        for (Tab* tab = tabs.first(); tab && tab != tabs.listHead(); tab = tab->next)
            store::freeItems(*tab);
    }

    const ToolRun r = receive();
    ASSERT_EQ(r.code, 0) << r.err << e->read("_Log\\通信ログ2612.txt");
    EXPECT_EQ(r.out, "stored 2\n");
    EXPECT_EQ(subjects("仕分け"), std::vector<std::string>{"move me"});
    EXPECT_EQ(subjects(), std::vector<std::string>{"stays"});
    // The big message was neither fetched nor deleted; the others were deleted.
    const std::vector<std::string> retrieved = server.retrieved();
    EXPECT_EQ(std::count(retrieved.begin(), retrieved.end(), "B"), 0);
    const auto left = server.messages();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].uid, "B");
    // The winning rule was counted in the rule file.
    const std::string rulesFile = e->read("Filter_Receive.txt");
    EXPECT_NE(rulesFile.find("move"), std::string::npos);
    expectSound();
}

// A size rule below a rule that keeps mail never deletes what that rule keeps: the header is read
// first (TOP n 0), and the rule nearest the top decides. The size rule that acted before the fetch
// is counted and dated like any other.
TEST_F(ToolReceive, ARuleAboveASizeRuleDecidesFirst) {
    test::MailboxServer server;
    server.setCredentials("taro", "secret");
    const std::string big = std::string(120000, 'x') + "\r\n";
    server.add(test::MailboxServer::message(mail("KEEPBIG report", big), "A"));
    server.add(test::MailboxServer::message(mail("other", big), "B"));
    server.add(test::MailboxServer::message(mail("small"), "C"));
    setUp(server.port(), "taro", "secret", false);
    {
        store::TabRegistry tabs;
        ASSERT_TRUE(tabs.load(e->env));
        rules::RegistryTabs directory(tabs);
        rules::RuleBook book;
        ASSERT_EQ(book.load(e->env, rules::RuleKind::Receive, directory, 3), Err::None);
        auto* keep = new Rule;
        rules::clearRule(*keep);
        keep->item1 = itemNamed("Subject:");
        sjis::copyField(keep->keyword1, "KEEPBIG");
        keep->mode1 = 1;
        keep->leaveOnServer = 1;
        book.addAtFileEnd(rules::RuleKind::Receive, keep);
        auto* drop = new Rule;
        rules::clearRule(*drop);
        drop->sizeKB = 100;
        drop->deleteUnread = 1;
        book.addAtFileEnd(rules::RuleKind::Receive, drop);
        ASSERT_EQ(book.save(e->env, rules::RuleKind::Receive, directory), Err::None);
        for (Tab* tab = tabs.first(); tab && tab != tabs.listHead(); tab = tab->next)
            store::freeItems(*tab);
    }
    const ToolRun r = receive();
    ASSERT_EQ(r.code, 0) << r.err << e->read("_Log\\通信ログ2612.txt");
    EXPECT_EQ(r.out, "stored 2\n");
    EXPECT_EQ(subjects(), (std::vector<std::string>{"KEEPBIG report", "small"}));
    const std::vector<std::string> retrieved = server.retrieved();
    EXPECT_EQ(std::count(retrieved.begin(), retrieved.end(), "A"), 1);
    EXPECT_EQ(std::count(retrieved.begin(), retrieved.end(), "B"), 0);  // deleted unread
    const auto left = server.messages();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].uid, "A");
    // Both rules decided a message: both counted once and dated today.
    std::string rulesFile = e->read("Filter_Receive.txt");
    rulesFile.erase(std::remove(rulesFile.begin(), rulesFile.end(), '\r'), rulesFile.end());
    const platform::LocalTime now = platform::systemClock().localNow();  // the tool's clock
    char today[16];
    std::snprintf(today, sizeof today, "\n%02d%02d%02d1\n", now.year % 100, now.month, now.day);
    size_t dated = 0;
    for (size_t p = rulesFile.find(today); p != std::string::npos; p = rulesFile.find(today, p + 1))
        ++dated;
    EXPECT_EQ(dated, 2u) << rulesFile;
    expectSound();
}

TEST_F(ToolReceive, AfterEveryFaultTheStoreIsSoundAndTheNextRunFetchesExactlyTheRest) {
    using Fault = test::MailboxServer::Fault;
    struct Case {
        const char* what;
        Fault fault;
    };
    const Case cases[] = {
        {"refused RETR", test::MailboxServer::fault(Fault::Refuse, "RETR", 3)},
        {"closed in the middle of a message",
         test::MailboxServer::fault(Fault::CloseDuring, "RETR", 3, 60)},
        {"stalled longer than the time-out",
         test::MailboxServer::fault(Fault::StallDuring, "RETR", 2, 40, 5000)},
        {"refused DELE", test::MailboxServer::fault(Fault::Refuse, "DELE", 2)},
        {"QUIT never answered", test::MailboxServer::fault(Fault::CloseDuring, "QUIT", 0, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TestEnv fresh;
        e = &fresh;
        test::MailboxServer server;
        server.setCredentials("taro", "secret");
        std::vector<std::string> sent;
        for (int i = 1; i <= 5; ++i) {
            sent.push_back("m" + std::to_string(i));
            server.add(test::MailboxServer::message(mail(sent.back()), "U" + std::to_string(i)));
        }
        setUp(server.port(), "taro", "secret", false);
        server.inject(c.fault);
        const ToolRun first = receive();
        expectSound();
        const ToolRun second = receive();
        EXPECT_EQ(second.code, 0) << second.err;
        expectSound();
        // Every message once, none twice, and the server emptied.
        EXPECT_EQ(subjects(), sent) << first.out << second.out;
        EXPECT_TRUE(server.messages().empty());
        e = &own;
    }
}

TEST_F(ToolReceive, SplitMessageIsJoinedAtTheEndOfTheRunThatBroughtItsLastPiece) {
    test::MailboxServer server;
    server.setCredentials("taro", "secret");
    const auto piece = [](int n, std::string_view body) {
        return "From: s@example.jp\r\nTo: me@example.jp\r\nSubject: piece " + std::to_string(n) +
               "\r\nMIME-Version: 1.0\r\nContent-Type: Message/Partial; total=2;\r\n"
               " id=\"split@example.jp\"; number=" +
               std::to_string(n) + "\r\n\r\n" + std::string(body);
    };
    server.add(test::MailboxServer::message(
        piece(1, "Subject: whole\r\nContent-Type: text/plain\r\n\r\nfirst half\r\n.\r\n"), "P1"));
    setUp(server.port(), "taro", "secret", false);
    ToolRun r = receive();
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored 1\n") << "one piece alone is not joined";
    server.add(test::MailboxServer::message(piece(2, "second half.\r\n"), "P2"));
    r = receive();
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored 1\njoined 1\n");
    EXPECT_EQ(subjects(), (std::vector<std::string>{"piece 1", "piece 2", "whole"}));
    std::string joined;
    for (int n = 0; n < 5; ++n) {
        const std::string text = e->read("MailData\\受信\\000" + std::to_string(n) + ".txt");
        if (text.find("Subject: whole") != std::string::npos) joined = text;
    }
    EXPECT_NE(joined.find("\r\n\r\nfirst half\r\n.\r\nsecond half.\r\n"), std::string::npos)
        << joined;
    expectSound();
}

TEST_F(ToolReceive, SortMovesWhatTheCommandRulesSelect) {
    test::MailboxServer server;
    server.setCredentials("taro", "secret");
    server.add(test::MailboxServer::message(mail("invoice 1"), "A"));
    server.add(test::MailboxServer::message(mail("hello"), "B"));
    server.add(test::MailboxServer::message(mail("invoice 2"), "C"));
    setUp(server.port(), "taro", "secret", false);
    ASSERT_EQ(receive().code, 0);
    {
        store::TabRegistry tabs;
        ASSERT_TRUE(tabs.load(e->env));
        ASSERT_TRUE(tabs.create(e->env, store::CreateMode::NewTab, "請求").ok());
        rules::RegistryTabs directory(tabs);
        rules::RuleBook book;
        ASSERT_EQ(book.load(e->env, rules::RuleKind::Command, directory, 3), Err::None);
        auto* r = new Rule;
        rules::clearRule(*r);
        r->item1 = itemNamed("Subject:");
        sjis::copyField(r->keyword1, "invoice");
        r->mode1 = 1;
        r->targetTab = tabs.findByName("請求");
        book.addAtFileEnd(rules::RuleKind::Command, r);
        ASSERT_EQ(book.save(e->env, rules::RuleKind::Command, directory), Err::None);
        for (Tab* tab = tabs.first(); tab && tab != tabs.listHead(); tab = tab->next)
            store::freeItems(*tab);
    }
    const ToolRun s = run({"sort", home()});
    EXPECT_EQ(s.code, 0) << s.out << s.err;
    EXPECT_EQ(subjects("請求"), (std::vector<std::string>{"invoice 1", "invoice 2"}));
    EXPECT_EQ(subjects(), std::vector<std::string>{"hello"});
    expectSound();
    EXPECT_EQ(run({"sort", home(), toTerminal("ない")}).code, 2);
}

}  // namespace
}  // namespace kolvy::tool
