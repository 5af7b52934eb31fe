// kolvytool draft and send on a real program folder against a scripted SMTP server: after every
// fault the store is sound, what was delivered is recorded as sent, what was not is still
// waiting, and the next run sends exactly the rest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/password.h"
#include "core/list.h"
#include "core/sjis.h"
#include "pop/testsupport/fake_server.h"
#include "rules/rule_book.h"
#include "rules/rule_file.h"
#include "rules/rule_tables.h"
#include "rules/sort.h"
#include "store/index.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {
namespace {

using test::FakeServer;

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

// What the server does with one message of the run.
enum class Fault {
    None,
    MailRefused,
    OneRecipientRefused,
    AllRecipientsRefused,
    DataRefused,
    EndRefused,
    ClosedInData,
    EndStalls,
    EndSplit,
};

// Plays one transaction; false when the client is expected to stop after it.
bool transaction(FakeServer& s, int recipients, Fault f) {
    if (f == Fault::MailRefused) {
        s.readLine().send("550 5.7.1 no\r\n");
        return false;
    }
    s.readLine().send("250 ok\r\n");
    for (int i = 0; i < recipients; ++i) {
        const bool refuse =
            f == Fault::AllRecipientsRefused || (f == Fault::OneRecipientRefused && i == 1);
        s.readLine().send(refuse ? "550 5.1.1 unknown\r\n" : "250 ok\r\n");
    }
    if (f == Fault::AllRecipientsRefused) {
        s.readLine().send("250 reset\r\n");  // RSET
        return false;
    }
    if (f == Fault::DataRefused) {
        s.readLine().send("554 no\r\n");
        return false;
    }
    s.readLine().send("354 go\r\n");
    switch (f) {
        case Fault::ClosedInData:
            s.readLine().closeNow();
            return false;
        case Fault::EndStalls:
            s.readData().stall(2500);
            return false;
        case Fault::EndRefused:
            s.readData().send("552 too much\r\n");
            return false;
        case Fault::EndSplit:
            s.readData().send("25").stall(200).send("0 ok\r\n");
            return true;
        default:
            s.readData().send("250 ok\r\n");
            return true;
    }
}

// The three drafts: the first to three recipients.
const char* const kDrafts[] = {
    "From: me@example.jp\nTo: a@x.jp\nCc: b@x.jp, c@x.jp\nSubject: one\n\nfirst\n.\n",
    "From: Me <me@example.jp>\nTo: d@x.jp\nSubject: two\n\nsecond\n",
    "From: me@example.jp\nTo: e@x.jp\nSubject: three\n\nthird\n",
};
const int kRecipients[] = {3, 1, 1};

class ToolSend : public ::testing::Test {
  protected:
    std::string home() const { return toTerminal(e->env.programFolder); }
    void account(uint16_t port, int sendSsl = 0, int smtpAuth = 0) {
        platform::Profile& ini = e->env.ini;
        ASSERT_EQ(ini.write("TagList", "TagAcount", "自宅"), Err::None);
        ASSERT_EQ(ini.write("自宅", "TagNo", "0"), Err::None);
        ASSERT_EQ(ini.write("自宅", "SMTPServer", "127.0.0.1"), Err::None);
        ASSERT_EQ(ini.write("自宅", "SMTPPort", std::to_string(port)), Err::None);
        ASSERT_EQ(ini.write("自宅", "MailAddress", "me@example.jp"), Err::None);
        ASSERT_EQ(ini.write("自宅", "UserID", "me"), Err::None);
        ASSERT_EQ(ini.write("自宅", "Password", config::scramblePassword("pw")), Err::None);
        ASSERT_EQ(ini.write("自宅", "SendSSL", std::to_string(sendSsl)), Err::None);
        ASSERT_EQ(ini.write("自宅", "SMTPAuth", std::to_string(smtpAuth)), Err::None);
        ASSERT_EQ(ini.write("自宅", "CertSSL", "0"), Err::None);
        ASSERT_EQ(ini.write("Option", "TimeOut", "1000"), Err::None);
    }
    void queueAll() {
        for (int i = 0; i < 3; ++i) {
            const std::string file = e->folder / ("d" + std::to_string(i) + ".txt");
            e->write("d" + std::to_string(i) + ".txt", kDrafts[i]);
            const ToolRun r = run({"draft", home(), toTerminal(file)});
            ASSERT_EQ(r.code, 0) << r.err;
        }
    }
    // Mail states of the send tab in index order, and the state digit of each file.
    std::vector<int> indexStates() {
        store::TabRegistry tabs;
        EXPECT_TRUE(tabs.load(e->env));
        Tab* tab = tabs.basicTab(1);
        EXPECT_NE(tab, nullptr);
        std::vector<int> v;
        if (!tab || store::readWholeIndex(e->env, *tab, {}) != Err::None) return v;
        for (const MailItem* item : listRange(tab->items))
            v.push_back(item->state);
        return v;
    }
    // WaitMailCount of the send tab, as the ini holds it.
    int64_t waitCount() {
        store::TabRegistry tabs;
        EXPECT_TRUE(tabs.load(e->env));
        const Tab* tab = tabs.basicTab(1);
        return tab ? platform::readInt(e->env.ini, std::to_string(tab->id), "WaitMailCount", -9)
                   : -9;
    }
    std::vector<int> fileStates() {
        std::vector<int> v;
        for (int i = 0; i < 3; ++i) {
            const std::string f = e->read("MailData\\送信\\000" + std::to_string(i) + ".txt");
            v.push_back(f.size() > 7 ? 16 + f[7] - '0' : -1);
        }
        return v;
    }
    void expectSound() {
        const ToolRun c = run({"check", home()});
        EXPECT_EQ(c.code, 0) << c.out << c.err;
    }
    std::unique_ptr<test::TestEnv> e = std::make_unique<test::TestEnv>();
};

struct FaultCase {
    const char* name;
    Fault faults[3];
    int sent;  // messages recorded as sent by the first run
};

const FaultCase kFaults[] = {
    {"all delivered", {Fault::None, Fault::None, Fault::None}, 3},
    {"MAIL refused", {Fault::MailRefused}, 0},
    {"one recipient of three refused", {Fault::OneRecipientRefused, Fault::None, Fault::None}, 3},
    {"all recipients refused", {Fault::AllRecipientsRefused}, 0},
    {"DATA refused on the second", {Fault::None, Fault::DataRefused}, 1},
    {"end of data refused", {Fault::None, Fault::None, Fault::EndRefused}, 2},
    {"closed during DATA", {Fault::None, Fault::ClosedInData}, 1},
    {"end of data stalls past the time-out", {Fault::EndStalls}, 0},
    {"end-of-data reply in two reads", {Fault::EndSplit, Fault::EndSplit, Fault::None}, 3},
};

TEST_F(ToolSend, AfterEveryFaultTheNextRunSendsExactlyTheRest) {
    for (const FaultCase& c : kFaults) {
        SCOPED_TRACE(c.name);
        e = std::make_unique<test::TestEnv>();
        FakeServer first;
        first.send("220 mx\r\n").readLine().send("250 mx\r\n");
        bool going = true;
        for (int i = 0; i < 3 && going; ++i)
            going = transaction(first, kRecipients[i], c.faults[i]);
        first.readLine().send("221 bye\r\n");  // QUIT, when the connection still carries it
        first.start();
        account(first.port());
        queueAll();
        const ToolRun r1 = run({"send", home()});
        first.finish(3000);
        EXPECT_EQ(r1.out, "sent " + std::to_string(c.sent) + "\n");
        EXPECT_EQ(r1.code, c.sent == 3 ? 0 : 1) << r1.err;
        std::vector<int> want;
        for (int i = 0; i < 3; ++i)
            want.push_back(i < c.sent ? 20 : 16);
        EXPECT_EQ(indexStates(), want);
        EXPECT_EQ(fileStates(), want);
        EXPECT_EQ(waitCount(), 3 - c.sent);
        expectSound();

        // The second run: a server that takes everything gets exactly the rest.
        FakeServer second;
        second.send("220 mx\r\n").readLine().send("250 mx\r\n");
        for (int i = c.sent; i < 3; ++i)
            transaction(second, kRecipients[i], Fault::None);
        second.readLine().send("221 bye\r\n");
        second.start();
        account(second.port());
        const ToolRun r2 = run({"send", home()});
        second.finish(3000);
        EXPECT_EQ(r2.out, "sent " + std::to_string(3 - c.sent) + "\n") << r2.err;
        EXPECT_EQ(r2.code, 0) << r2.err;
        int data = 0;
        for (const std::string& line : second.transcript())
            data += line == "DATA\r\n";
        EXPECT_EQ(data, 3 - c.sent);
        EXPECT_EQ(second.afterScript(), std::vector<std::string>{});
        EXPECT_EQ(indexStates(), (std::vector<int>{20, 20, 20}));
        expectSound();
    }
}

TEST_F(ToolSend, SessionRefusalsSendNothing) {
    struct Case {
        const char* name;
        int sendSsl, smtpAuth;
        const char* ehlo;
        const char* authReply;  // null: no AUTH expected
    } cases[] = {
        {"STARTTLS not offered", 2, 1, "250-mx\r\n250 AUTH PLAIN\r\n", nullptr},
        {"AUTH refused", 0, 1, "250-mx\r\n250 AUTH PLAIN\r\n", "535 5.7.8 no\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        e = std::make_unique<test::TestEnv>();
        FakeServer server;
        server.send("220 mx\r\n").readLine().send(c.ehlo);
        if (c.authReply) server.readLine().send(c.authReply).readLine().send("221\r\n");
        server.start();
        account(server.port(), c.sendSsl, c.smtpAuth);
        queueAll();
        const ToolRun r = run({"send", home()});
        server.finish(3000);
        EXPECT_EQ(r.out, "sent 0\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(indexStates(), (std::vector<int>{16, 16, 16}));
        expectSound();
        for (const std::string& line : server.transcript())
            EXPECT_NE(line.substr(0, 4), "MAIL");
    }
}

TEST_F(ToolSend, AMessageWhoseFileSaysSentIsNeverSentAgain) {
    int tabId = -1;
    FakeServer first;
    first.send("220 mx\r\n").readLine().send("250 mx\r\n");
    for (int i = 0; i < 3; ++i)
        transaction(first, kRecipients[i], Fault::None);
    first.readLine().send("221 bye\r\n");
    first.start();
    account(first.port());
    queueAll();
    ASSERT_EQ(run({"send", home()}).out, "sent 3\n");
    first.finish(3000);
    {
        // A kill between the file and the index: the second record still says waiting.
        store::TabRegistry tabs;
        ASSERT_TRUE(tabs.load(e->env));
        Tab* tab = tabs.basicTab(1);
        ASSERT_EQ(store::readWholeIndex(e->env, *tab, {}), Err::None);
        MailItem* second = tab->items.next->next;
        ASSERT_EQ(store::updateRecordByte(e->env, *tab, *second, store::RecordByte::State, 16),
                  Err::None);
        ++tab->waitMailCount;
        ASSERT_EQ(store::writeCounters(e->env, *tab), Err::None);
        tabId = tab->id;
        store::freeItems(*tab);
    }
    EXPECT_EQ(indexStates(), (std::vector<int>{20, 16, 20}));
    EXPECT_EQ(platform::readInt(e->env.ini, std::to_string(tabId), "WaitMailCount", -9), 1);
    FakeServer second;
    second.send("220 mx\r\n").readLine().send("250 mx\r\n").readLine().send("221 bye\r\n");
    second.start();
    account(second.port());
    const ToolRun r = run({"send", home()});
    second.finish(3000);
    EXPECT_EQ(r.out, "sent 0\n") << r.err;
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(second.transcript(), (std::vector<std::string>{"HELO 127.0.0.1\r\n", "QUIT\r\n"}));
    EXPECT_EQ(indexStates(), (std::vector<int>{20, 20, 20}));
    EXPECT_EQ(platform::readInt(e->env.ini, std::to_string(tabId), "WaitMailCount", -9), 0);
    expectSound();
}

int32_t itemNamed(std::string_view name) {
    for (int32_t i = 1; i <= rules::kItemCount; ++i) {
        if (rules::itemName(i) == name) return i;
    }
    return 0;
}

// The value of the header line `name` ("Message-ID: ") in a text, up to its line end.
std::string headerLine(std::string_view text, std::string_view name) {
    const size_t at = text.find(name);
    if (at == std::string_view::npos) return {};
    const size_t start = at + name.size();
    return std::string(text.substr(start, text.find("\r\n", start) - start));
}

TEST_F(ToolSend, SentCopyKeepsTheWireIdAndTheAfterSendRulesApply) {
    {
        // After sending, "two" gets a mark.
        store::TabRegistry tabs;
        ASSERT_TRUE(tabs.load(e->env));
        rules::RegistryTabs directory(tabs);
        rules::RuleBook book;
        ASSERT_EQ(book.load(e->env, rules::RuleKind::Send, directory, 3), Err::None);
        auto* mark = new Rule;
        rules::clearRule(*mark);
        mark->item1 = itemNamed("Subject:");
        ASSERT_NE(mark->item1, 0);
        sjis::copyField(mark->keyword1, "two");
        mark->mode1 = 1;
        mark->setMark = 1;
        book.addAtFileEnd(rules::RuleKind::Send, mark);
        ASSERT_EQ(book.save(e->env, rules::RuleKind::Send, directory), Err::None);
    }
    FakeServer server;
    server.send("220 mx\r\n").readLine().send("250 mx\r\n");
    for (int i = 0; i < 3; ++i)
        transaction(server, kRecipients[i], Fault::None);
    server.readLine().send("221 bye\r\n");
    server.start();
    account(server.port());
    queueAll();
    const ToolRun r = run({"send", home()});
    server.finish(3000);
    ASSERT_EQ(r.out, "sent 3\n") << r.err;
    std::vector<std::string> wireIds;
    for (const std::string& line : server.transcript()) {
        if (line.find("Subject: ") != std::string::npos) {
            wireIds.push_back(headerLine(line, "\r\nMessage-ID: "));
        }
    }
    ASSERT_EQ(wireIds.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const std::string file = e->read("MailData\\送信\\000" + std::to_string(i) + ".txt");
        EXPECT_FALSE(wireIds[i].empty());
        EXPECT_EQ(headerLine(file, "\r\nX-Message-ID: "), wireIds[i]) << file;
        ASSERT_GT(file.size(), 9u);
        EXPECT_EQ(file[9], i == 1 ? '1' : '0') << "mark digit of message " << i;
    }
    EXPECT_NE(wireIds[0], wireIds[1]);
    expectSound();
}

}  // namespace
}  // namespace kolvy::tool
