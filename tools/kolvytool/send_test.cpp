// kolvytool draft and send on a real program folder against a scripted SMTP server: after every
// fault the store is sound, what was delivered is recorded as sent, what was not is still
// waiting, and the next run sends exactly the rest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/list.h"
#include "pop/testsupport/fake_server.h"
#include "store/index.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool_test_util.h"

namespace kolvy::tool {
namespace {

using test::FakeServer;
using test::runTool;

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

// A session from the greeting to QUIT: the drafts from `first` on, each with its fault (none
// where `faults` is null), until one stops the client.
void script(FakeServer& s, int first = 0, const Fault* faults = nullptr) {
    s.send("220 mx\r\n").readLine().send("250 mx\r\n");
    for (int i = first; i < 3 && transaction(s, kRecipients[i], faults ? faults[i] : Fault::None);)
        ++i;
    s.readLine().send("221 bye\r\n");  // QUIT, when the connection still carries it
    s.start();
}

class ToolSend : public ::testing::Test {
  protected:
    std::string home() const { return test::home(e->env); }
    void account(uint16_t port, int sendSsl = 0, int smtpAuth = 0) {
        test::writeIni(e->env.ini,
                       "[TagList]\nTagAcount=自宅\n[自宅]\nTagNo=0\n"
                       "SMTPServer=127.0.0.1\nMailAddress=me@example.jp\nUserID=me\n"
                       "CertSSL=0\nPassword=" +
                           config::scramblePassword("pw") + "\nSMTPPort=" + std::to_string(port) +
                           "\nSendSSL=" + std::to_string(sendSsl) +
                           "\nSMTPAuth=" + std::to_string(smtpAuth) + "\n[Option]\nTimeOut=1000\n");
    }
    // The drafts queued in an account on `server`.
    void queueAll(FakeServer& server) {
        account(server.port());
        for (int i = 0; i < 3; ++i) {
            const std::string name = "d" + std::to_string(i) + ".txt";
            e->write(name, kDrafts[i]);
            const test::ToolRun r = runTool({"draft", home(), toTerminal(e->folder / name)});
            ASSERT_EQ(r.code, 0) << r.err;
        }
    }
    // kolvytool send against `server`, with the account pointing at it.
    test::ToolRun send(FakeServer& server, int sendSsl = 0, int smtpAuth = 0) {
        account(server.port(), sendSsl, smtpAuth);
        test::ToolRun r = runTool({"send", home()});
        server.finish(3000);
        return r;
    }
    Tab* sendTab(store::TabRegistry& tabs) {
        EXPECT_TRUE(tabs.load(e->env));
        return tabs.basicTab(1);
    }
    // Mail states of the send tab in index order.
    std::vector<int> indexStates() {
        store::TabRegistry tabs;
        Tab* tab = sendTab(tabs);
        std::vector<int> v;
        if (!tab || store::readWholeIndex(e->env, *tab, {}) != Err::None) return {-1};
        for (const MailItem* item : listRange(tab->items))
            v.push_back(item->state);
        store::freeItems(*tab);
        return v;
    }
    // WaitMailCount of the send tab, as the ini holds it.
    int64_t waitCount() {
        store::TabRegistry tabs;
        const Tab* tab = sendTab(tabs);
        return tab ? platform::readInt(e->env.ini, std::to_string(tab->id), "WaitMailCount", -9)
                   : -9;
    }
    // The state digit of each message file.
    std::vector<int> fileStates() {
        std::vector<int> v;
        for (int i = 0; i < 3; ++i) {
            const std::string f = e->read("MailData\\送信\\000" + std::to_string(i) + ".txt");
            v.push_back(f.size() > 7 ? 16 + f[7] - '0' : -1);
        }
        return v;
    }
    std::unique_ptr<test::TestEnv> e = std::make_unique<test::TestEnv>();
};

TEST_F(ToolSend, AfterEveryFaultTheNextRunSendsExactlyTheRest) {
    const struct {
        const char* name;
        Fault faults[3];
        int sent;  // messages recorded as sent by the first run
    } cases[] = {
        {"all delivered", {Fault::None, Fault::None, Fault::None}, 3},
        {"MAIL refused", {Fault::MailRefused}, 0},
        {"one recipient of three refused", {Fault::OneRecipientRefused}, 3},
        {"all recipients refused", {Fault::AllRecipientsRefused}, 0},
        {"DATA refused on the second", {Fault::None, Fault::DataRefused}, 1},
        {"end of data refused", {Fault::None, Fault::None, Fault::EndRefused}, 2},
        {"closed during DATA", {Fault::None, Fault::ClosedInData}, 1},
        {"end of data stalls past the time-out", {Fault::EndStalls}, 0},
        {"end-of-data reply in two reads", {Fault::EndSplit, Fault::EndSplit}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        e = std::make_unique<test::TestEnv>();
        FakeServer first;
        script(first, 0, c.faults);
        queueAll(first);
        const test::ToolRun r1 = send(first);
        EXPECT_EQ(r1.out, "sent " + std::to_string(c.sent) + "\n");
        EXPECT_EQ(r1.code, c.sent == 3 ? 0 : 1) << r1.err;
        std::vector<int> want;
        for (int i = 0; i < 3; ++i)
            want.push_back(i < c.sent ? 20 : 16);
        EXPECT_EQ(indexStates(), want);
        EXPECT_EQ(fileStates(), want);
        EXPECT_EQ(waitCount(), 3 - c.sent);
        test::expectSound(e->env);

        // The second run: a server that takes everything gets exactly the rest.
        FakeServer second;
        script(second, c.sent);
        const test::ToolRun r2 = send(second);
        EXPECT_EQ(r2.out, "sent " + std::to_string(3 - c.sent) + "\n") << r2.err;
        EXPECT_EQ(r2.code, 0) << r2.err;
        const std::vector<std::string> lines = second.transcript();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "DATA\r\n"), 3 - c.sent);
        EXPECT_EQ(second.afterScript(), std::vector<std::string>{});
        EXPECT_EQ(indexStates(), (std::vector<int>{20, 20, 20}));
        test::expectSound(e->env);
    }
}

TEST_F(ToolSend, SessionRefusalsSendNothing) {
    const struct {
        const char* name;
        int sendSsl, smtpAuth;
        const char* authReply;  // null: no AUTH expected
    } cases[] = {
        {"STARTTLS not offered", 2, 1, nullptr},
        {"AUTH refused", 0, 1, "535 5.7.8 no\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        e = std::make_unique<test::TestEnv>();
        FakeServer server;
        server.send("220 mx\r\n").readLine().send("250-mx\r\n250 AUTH PLAIN\r\n");
        if (c.authReply) server.readLine().send(c.authReply).readLine().send("221\r\n");
        server.start();
        queueAll(server);
        const test::ToolRun r = send(server, c.sendSsl, c.smtpAuth);
        EXPECT_EQ(r.out, "sent 0\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(indexStates(), (std::vector<int>{16, 16, 16}));
        test::expectSound(e->env);
        for (const std::string& line : server.transcript())
            EXPECT_NE(line.substr(0, 4), "MAIL");
    }
}

TEST_F(ToolSend, AMessageWhoseFileSaysSentIsNeverSentAgain) {
    FakeServer first;
    script(first);
    queueAll(first);
    ASSERT_EQ(send(first).out, "sent 3\n");
    {
        // A kill between the file and the index: the second record still says waiting.
        store::TabRegistry tabs;
        Tab* tab = sendTab(tabs);
        ASSERT_EQ(store::readWholeIndex(e->env, *tab, {}), Err::None);
        MailItem* second = tab->items.next->next;
        ASSERT_EQ(store::updateRecordByte(e->env, *tab, *second, store::RecordByte::State, 16),
                  Err::None);
        ++tab->waitMailCount;
        ASSERT_EQ(store::writeCounters(e->env, *tab), Err::None);
        store::freeItems(*tab);
    }
    EXPECT_EQ(indexStates(), (std::vector<int>{20, 16, 20}));
    EXPECT_EQ(waitCount(), 1);
    FakeServer second;
    second.send("220 mx\r\n").readLine().send("250 mx\r\n").readLine().send("221 bye\r\n");
    second.start();
    const test::ToolRun r = send(second);
    EXPECT_EQ(r.out, "sent 0\n") << r.err;
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(second.transcript(), (std::vector<std::string>{"HELO 127.0.0.1\r\n", "QUIT\r\n"}));
    EXPECT_EQ(indexStates(), (std::vector<int>{20, 20, 20}));
    EXPECT_EQ(waitCount(), 0);
    test::expectSound(e->env);
}

// The value of the header line `name` ("Message-ID: ") in a text, up to its line end.
std::string headerLine(std::string_view text, std::string_view name) {
    const size_t at = text.find(name);
    if (at == std::string_view::npos) return {};
    const size_t start = at + name.size();
    return std::string(text.substr(start, text.find("\r\n", start) - start));
}

TEST_F(ToolSend, SentCopyKeepsTheWireIdAndTheAfterSendRulesApply) {
    // After sending, "two" gets a mark.
    test::addRule(e->env, rules::RuleKind::Send, [](Rule& r, store::TabRegistry&) {
        test::matchSubject(r, "two");
        r.setMark = 1;
    });
    FakeServer server;
    script(server);
    queueAll(server);
    ASSERT_EQ(send(server).out, "sent 3\n");
    std::vector<std::string> wireIds;
    for (const std::string& line : server.transcript()) {
        if (line.find("Subject: ") != std::string::npos)
            wireIds.push_back(headerLine(line, "\r\nMessage-ID: "));
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
    test::expectSound(e->env);
}

}  // namespace
}  // namespace kolvy::tool
