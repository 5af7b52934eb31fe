// The POP3 session against the real servers of the pop-servers fixture, dovecot and mailutils
// pop3d: every transport and login, leave-on-server over several runs, header and N lines,
// deletion, and lines that begin with ".".
#include <gtest/gtest.h>

#include "config/accounts.h"
#include "config/orders.h"
#include "core/sjis.h"
#include "pop/session.h"
#include "pop/testsupport/real_servers.h"
#include "pop/testsupport/recording_sink.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

enum class Server { Dovecot, Mailutils };

std::string message(int i, std::string_view extra = {}) {
    return "From: a@example.jp\r\nSubject: real " + std::to_string(i) + "\r\n\r\nline one\r\n" +
           std::string(extra) + "line two\r\nline three\r\n";
}
// The body part of a message: what follows its first empty line.
std::string bodyOf(std::string_view text) {
    const size_t blank = text.find("\r\n\r\n");
    return blank == std::string_view::npos ? std::string() : std::string(text.substr(blank + 4));
}

class RealReceive : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        auto s = test::popServers();
        ASSERT_TRUE(s.has_value()) << "the pop-servers fixture has not run";
        servers = *s;
        mailutils = GetParam() == Server::Mailutils;
        ASSERT_TRUE(!mailutils || servers.mailutilsPop3 != 0) << "no mailutils in the fixture";
        t.clock.setLocal(2025, 1, 2);
        empty();
    }
    void TearDown() override { empty(); }
    void empty() {
        if (mailutils) {
            servers.emptyMailutils();
        } else {
            servers.emptyDovecot();
        }
    }
    void deliver(int i, std::string_view extra = {}) {
        const std::string text = message(i, extra);
        if (mailutils) {
            ASSERT_TRUE(servers.deliverToMailutils(text));
        } else {
            ASSERT_TRUE(servers.deliverToDovecot(std::to_string(i) + ".kolvy", text));
        }
    }
    Account account(const char* name, int sslMode, bool apop) {
        return servers.account(name, sslMode, apop, mailutils);
    }
    int receive(const Account& a, const ReceiveOrder& order) {
        ReceiveContext c(t.env, sink, rules);
        c.options.timeoutMs = 20000;
        return ReceiveAccount(c, a, &order, nullptr);
    }
    test::PopServers servers;
    bool mailutils = false;
    test::TestEnv t;
    test::RecordingSink sink;
    NoSizeRules rules;
};

TEST_P(RealReceive, EveryTransportAndLogin) {
    struct Case {
        int sslMode;
        bool apop;
    };
    const Case cases[] = {{0, false}, {0, true}, {2, false}, {1, true}};
    int i = 0;
    for (const Case& c : cases) {
        ++i;
        deliver(i);
        ReceiveOrder order = config::blankOrder();
        const Account a = account("経路", c.sslMode, c.apop);
        ASSERT_EQ(receive(a, order), kReceiveDone)
            << "mode " << c.sslMode << " apop " << c.apop << ": " << t.reporter.lastText();
        ASSERT_EQ(sink.stored.size(), static_cast<size_t>(i));
        EXPECT_EQ(bodyOf(sink.stored.back().text), bodyOf(message(i)) + ".\r\n");
        EXPECT_NE(sink.stored.back().text.find("Subject: real " + std::to_string(i)),
                  std::string::npos);
        EXPECT_FALSE(sink.stored.back().uidl.empty());
        // Deleted: the next run finds an empty mailbox.
        ReceiveOrder again = config::blankOrder();
        if (c.sslMode == 0) {
            EXPECT_EQ(receive(a, again), kReceiveNoMail);
        }
    }
    EXPECT_TRUE(t.reporter.shown().empty()) << t.reporter.lastText();
}

TEST_P(RealReceive, LeaveOnServerOverTlsFetchesOnlyNewMail) {
    deliver(1, ".\r\n..two dots\r\n.leading\r\n");
    deliver(2);
    const Account a = account("残す", 1, false);
    ReceiveOrder leave = config::blankOrder();
    leave.leaveOnServer = 1;
    ASSERT_EQ(receive(a, leave), kReceiveDone) << t.reporter.lastText();
    ASSERT_EQ(sink.stored.size(), 2u);
    EXPECT_EQ(bodyOf(sink.stored[0].text),
              "line one\r\n.\r\n..two dots\r\n.leading\r\nline two\r\nline three\r\n.\r\n");
    ASSERT_EQ(receive(a, leave), kReceiveDone);
    EXPECT_EQ(sink.stored.size(), 2u);
    deliver(3);
    ASSERT_EQ(receive(a, leave), kReceiveDone);
    ASSERT_EQ(sink.stored.size(), 3u);
    EXPECT_NE(sink.stored[2].text.find("Subject: real 3"), std::string::npos);
    const std::string ids = t.read("_UIDL\\残す.txt");
    EXPECT_EQ(std::count(ids.begin(), ids.end(), '\n'), 3) << ids;
    EXPECT_TRUE(t.reporter.shown().empty()) << t.reporter.lastText();
}

TEST_P(RealReceive, HeaderAndLinesStayThenDeleteModeTakesThem) {
    deliver(1);
    deliver(2);
    ReceiveOrder top = config::blankOrder();
    top.headerLinesOnly = 1;
    top.headerLines = 1;
    const Account a = account("ヘッダ", 0, false);
    ASSERT_EQ(receive(a, top), kReceiveDone) << t.reporter.lastText();
    ASSERT_EQ(sink.stored.size(), 2u);
    for (const auto& stored : sink.stored) {
        // The header and one line (mailutils puts an empty line of its own before the lines).
        const std::string_view tail = "\r\nline one\r\n.\r\n";
        const size_t line = stored.text.find(tail);
        EXPECT_NE(line, std::string::npos) << stored.text;
        EXPECT_EQ(line + tail.size(), stored.text.size()) << stored.text;
        EXPECT_EQ(stored.text.find("line two"), std::string::npos) << stored.text;
    }

    // Another account name has its own, empty id list: it fetches both whole, then deletes.
    ReceiveOrder whole = config::blankOrder();
    const Account b = account("全部", 0, true);
    ASSERT_EQ(receive(b, whole), kReceiveDone) << t.reporter.lastText();
    ASSERT_EQ(sink.stored.size(), 4u);
    EXPECT_EQ(bodyOf(sink.stored[3].text), bodyOf(message(2)) + ".\r\n");
    EXPECT_EQ(receive(b, whole), kReceiveNoMail);
    EXPECT_TRUE(t.reporter.shown().empty()) << t.reporter.lastText();
}

INSTANTIATE_TEST_SUITE_P(Servers, RealReceive,
                         ::testing::Values(Server::Dovecot, Server::Mailutils),
                         [](const ::testing::TestParamInfo<Server>& i) {
                             return i.param == Server::Dovecot ? "Dovecot" : "Mailutils";
                         });

}  // namespace
}  // namespace kolvy::pop
