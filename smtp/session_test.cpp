#include "smtp/session.h"

#include <gtest/gtest.h>

#include <functional>

#include "config/accounts.h"
#include "core/sjis.h"
#include "mime/encode.h"
#include "pop/testsupport/fake_server.h"
#include "tests/support/test_env.h"

namespace kolvy::smtp {
namespace {

using test::FakeServer;

TEST(CramMd5, AnswersTheRfc2195Vector) {
    EXPECT_EQ(cramMd5Answer({"tim", "tanstaaftanstaaf"},
                            "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+"),
              "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
}

TEST(Plain, AuthorisesAsTheUser) {
    EXPECT_EQ(plainAnswer({"taro", "pw"}), mime::encodeBase64(std::string("taro\0taro\0pw", 12)));
}

TEST(ChooseMechanism, FollowsSmtpAuthAndTheOfferedWords) {
    const std::string loginPlain = "250-mx\r\n250-AUTH LOGIN PLAIN\r\n250 SIZE 1000\r\n";
    const std::string all = "250-mx\r\n250-AUTH=PLAIN\r\n250 AUTH cram-md5 LOGIN PLAIN\r\n";
    const std::string named = "250-mx offers CRAM-MD5 PLAIN LOGIN in its name\r\n250 8BITMIME\r\n";
    struct Case {
        const std::string& reply;
        int smtpAuth;
        Mechanism want;
    } cases[] = {
        {loginPlain, 1, Mechanism::Plain}, {loginPlain, 4, Mechanism::Login},
        {loginPlain, 2, Mechanism::None},  {loginPlain, 3, Mechanism::Plain},
        {loginPlain, 0, Mechanism::Plain}, {all, 1, Mechanism::CramMd5},
        {all, 3, Mechanism::Plain},        {all, 4, Mechanism::Login},
        {named, 1, Mechanism::None},  // words outside an AUTH line offer nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(chooseMechanism(c.reply, c.smtpAuth), c.want) << c.reply << " / " << c.smtpAuth;
    }
}

TEST(DataText, NormalisesLineEndsBeforeStuffing) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\r\n.b\r\n", "a\r\n..b\r\n"},
        {".\r\n", "..\r\n"},
        {"a\n.\nMAIL FROM:<x>\n", "a\r\n..\r\nMAIL FROM:<x>\r\n"},  // no early end of data
        {"a\r.\rb", "a\r\n..\r\nb\r\n"},
        {"a\r\n\r\nb\r\n", "a\r\n\r\nb\r\n"},
        {"a\r\r\nb", "a\r\n\r\nb\r\n"},
        {std::string("x\0y\r\n", 5), "xy\r\n"},
        {"", ""},
        {"no end", "no end\r\n"},
        {"a. b\r\n..\r\n", "a. b\r\n...\r\n"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(dataText(in), out) << in;
}

// One scripted server dialogue for one account.
class Smtp : public ::testing::Test {
  protected:
    void SetUp() override {
        t.clock.setLocal(2025, 1, 2);
        t.env.unattended = true;
        account = config::blankAccount();
        sjis::copyField(account.smtpServer, "127.0.0.1");
        sjis::copyField(account.mailAddress, "taro@example.jp");
        sjis::copyField(account.userId, "taro");
        sjis::copyField(account.password, "secret1");
        account.certSsl = 0;
    }
    std::string log() { return t.read("_Log\\通信ログ2501.txt"); }
    // Whether the log holds one of the texts separated by "|".
    bool loggedOneOf(std::string_view texts) {
        const std::string l = log();
        for (size_t at = 0; at <= texts.size();) {
            const size_t bar = std::min(texts.find('|', at), texts.size());
            if (l.find(texts.substr(at, bar - at)) != std::string::npos) return true;
            at = bar + 1;
        }
        return false;
    }
    // Starts the server, opens a session (and sends when `message` is given), quits, waits.
    int run(FakeServer& server, const std::string* message = nullptr,
            const std::vector<std::string>& to = {}, unsigned timeoutMs = 3000) {
        server.start();
        account.smtpPort = server.port();
        int r = 0;
        {
            Session s(t.env, account, observer, timeoutMs);
            r = s.open();
            if (r == 0 && message) r = s.send(*message, to) == 0 ? 0 : 2;
            if (r == 0 || message) s.quit();
        }
        server.finish(3000);
        return r;
    }
    test::TestEnv t;
    Account account{};
    SendObserver observer;
};

const std::string kMessage = "Subject: hi\r\n\r\nline\r\n.dot\r\n";
const std::string kData = "Subject: hi\r\n\r\nline\r\n..dot\r\n.\r\n";

// The client's lines after HELO, one letter each: M MAIL, a b c the RCPTs, D DATA, d the data,
// s the data's first line only, X RSET, Q QUIT.
std::vector<std::string> clientLines(std::string_view letters) {
    std::vector<std::string> out;
    for (const char l : letters)
        out.push_back(l == 'M'   ? "MAIL FROM:<taro@example.jp>\r\n"
                      : l == 'D' ? "DATA\r\n"
                      : l == 'd' ? kData
                      : l == 's' ? "Subject: hi\r\n"
                      : l == 'X' ? "RSET\r\n"
                      : l == 'Q' ? "QUIT\r\n"
                                 : std::string("RCPT TO:<") + l + "@x.jp>\r\n");
    return out;
}

FakeServer& rcpts(FakeServer& s, const char* a, const char* b, const char* c) {
    return s.send("250 ok\r\n").readLine().send(a).readLine().send(b).readLine().send(c);
}
// Every recipient taken and the data read.
FakeServer& toData(FakeServer& s) {
    return rcpts(s, "250 ok\r\n", "250 ok\r\n", "250 ok\r\n")
        .readLine()
        .send("354 go\r\n")
        .readData();
}
void quit(FakeServer& s) {
    s.readLine().send("221\r\n");
}

const struct TransactionCase {
    const char* name;
    std::function<void(FakeServer&)> afterMail;  // from the MAIL reply on
    int result;                                  // 0 delivered, 2 not delivered
    const char* sent;                            // clientLines() after HELO
    const char* logged;                          // a text the log must hold
} kTransactions[] = {
    {"delivered",
     [](FakeServer& s) {
         rcpts(s, "250 ok\r\n", "250 ok\r\n", "251 forwarded\r\n").readLine().send("354 go\r\n");
         quit(s.readData().send("250 queued as 1\r\n"));
     },
     0, "MabcDdQ", "送信完了\r\n250 queued as 1"},
    {"MAIL refused", [](FakeServer& s) { quit(s.send("550 5.7.1 sender 250 refused\r\n")); }, 2,
     "MQ",
     "taro@example.jpで送信時、MAIL FROM:コマンドに対してエラーが発生しました。\r\n550 5.7.1"},
    {"one recipient of three refused",
     [](FakeServer& s) {
         rcpts(s, "250 ok\r\n", "550 no such user\r\n", "250 ok\r\n").readLine().send("354 go\r\n");
         quit(s.readData().send("250 ok\r\n"));
     },
     0, "MabcDdQ", "b@x.jpがサーバにより拒否されました。\r\n550 no such user"},
    {"all recipients refused: no DATA",
     [](FakeServer& s) {
         quit(rcpts(s, "550 a\r\n", "553 b\r\n", "450 c\r\n").readLine().send("250 reset\r\n"));
     },
     2, "MabcXQ", "c@x.jpがサーバにより拒否されました。\r\n450 c"},
    {"DATA refused",
     [](FakeServer& s) {
         quit(rcpts(s, "250 ok\r\n", "250 ok\r\n", "250 ok\r\n")
                  .readLine()
                  .send("554 no data 354\r\n"));
     },
     2, "MabcDQ", "DATAコマンドに対してエラーが発生しました。\r\n554 no data"},
    {"end of data refused although 250 is named",
     [](FakeServer& s) { quit(toData(s).send("550 spam, not 250 ok\r\n")); }, 2, "MabcDdQ",
     "送信に対しサーバがエラーを返しました。   \r\n550 spam"},
    {"end-of-data reply split in two reads",
     [](FakeServer& s) { quit(toData(s).send("25").stall(300).send("0 ok\r\n")); }, 0, "MabcDdQ",
     "送信完了\r\n250 ok"},
    {"multi-line end-of-data reply",
     [](FakeServer& s) { quit(toData(s).sendBytewise("250-queued\r\n250 ok\r\n")); }, 0, "MabcDdQ",
     "送信完了\r\n250-queued\r\n250 ok"},
    // The end-of-data line may still fit the socket buffer, or meet the closed peer.
    {"connection closed during DATA",
     [](FakeServer& s) {
         rcpts(s, "250 ok\r\n", "250 ok\r\n", "250 ok\r\n").readLine().send("354 go\r\n");
         s.readLine().closeNow();
     },
     2, "MabcDs",
     "送信終了に対するサーバの返事を受信中、ソケットエラーが発生しました。|"
     "エラーが発生し、送信が中断されました。"},
    {"end-of-data reply stalls past the time-out",
     [](FakeServer& s) { toData(s).stall(2000).send("250 late\r\n"); }, 2, "MabcDd",
     "送信終了に対するサーバの返事を受信中、ソケットエラーが発生しました。"},
    {"end-of-data reply longer than its bound",
     [](FakeServer& s) { toData(s).send("250-" + std::string(600, 'x') + "\r\n"); }, 2, "MabcDd",
     "送信終了に対するサーバからの返事が返ってきません。"},
};

TEST_F(Smtp, TransactionsEndAsTheServerSaid) {
    for (const TransactionCase& c : kTransactions) {
        SCOPED_TRACE(c.name);
        FakeServer server;
        server.send("220 mx ready\r\n").readLine().send("250 mx\r\n").readLine();
        c.afterMail(server);
        EXPECT_EQ(run(server, &kMessage, {"a@x.jp", "b@x.jp", "c@x.jp"}, 1000), c.result);
        std::vector<std::string> sent = clientLines(c.sent);
        sent.insert(sent.begin(), "HELO 127.0.0.1\r\n");
        EXPECT_EQ(server.transcript(), sent);
        EXPECT_TRUE(loggedOneOf(c.logged)) << log();
        EXPECT_TRUE(t.reporter.shown().empty()) << "an unattended run showed a box";
        t.write("_Log\\通信ログ2501.txt", "");
    }
}

TEST_F(Smtp, SmugglingAttemptStaysInsideTheData) {
    FakeServer server;
    server.send("220 mx\r\n").readLine().send("250 mx\r\n").readLine().send("250 ok\r\n");
    quit(server.readLine()
             .send("250 ok\r\n")
             .readLine()
             .send("354 go\r\n")
             .readData()
             .send("250 ok\r\n"));
    const std::string evil = "Subject: x\r\n\r\nhi\n.\nMAIL FROM:<evil@x>\nRCPT TO:<v@x>\n";
    EXPECT_EQ(run(server, &evil, {"a@x.jp"}), 0);
    const auto transcript = server.transcript();
    ASSERT_EQ(transcript.size(), 6u);
    EXPECT_EQ(transcript[4],
              "Subject: x\r\n\r\nhi\r\n..\r\nMAIL FROM:<evil@x>\r\nRCPT TO:<v@x>\r\n.\r\n");
    EXPECT_EQ(transcript[5], "QUIT\r\n");
}

FakeServer& ehlo(FakeServer& s, const char* auth) {
    return s.readLine().send(std::string("250-mx\r\n250-") + auth + "\r\n250 8BITMIME\r\n");
}

// The client's lines of an opening, one letter each: E EHLO, H HELO, P AUTH PLAIN with its
// answer, L AUTH LOGIN, u and p the LOGIN user and password, C AUTH CRAM-MD5, c its answer, Q QUIT.
std::vector<std::string> openingLines(std::string_view letters) {
    std::vector<std::string> out;
    for (const char l : letters)
        out.push_back(l == 'E'   ? "EHLO 127.0.0.1\r\n"
                      : l == 'H' ? "HELO 127.0.0.1\r\n"
                      : l == 'P' ? "AUTH PLAIN " + plainAnswer({"taro", "secret1"}) + "\r\n"
                      : l == 'L' ? "AUTH LOGIN\r\n"
                      : l == 'u' ? "dGFybw==\r\n"
                      : l == 'p' ? "c2VjcmV0MQ==\r\n"
                      : l == 'C' ? "AUTH CRAM-MD5\r\n"
                      : l == 'c' ? cramMd5Answer({"taro", "secret1"}, "PDEyMzQ1QG14Pg==") + "\r\n"
                                 : "QUIT\r\n");
    return out;
}

const struct OpenCase {
    const char* name;
    int smtpAuth;
    std::function<void(FakeServer&)> script;  // after the greeting
    int result;                               // of open()
    const char* sent;                         // openingLines()
    const char* logged;
} kOpens[] = {
    {"PLAIN", 1,
     [](FakeServer& s) { quit(ehlo(s, "AUTH LOGIN PLAIN").readLine().send("235 ok\r\n")); }, 0,
     "EPQ", "認証完了"},
    {"LOGIN", 4,
     [](FakeServer& s) {
         ehlo(s, "AUTH LOGIN PLAIN").readLine().send("334 VXNlcm5hbWU6\r\n").readLine();
         quit(s.send("334 UGFzc3dvcmQ6\r\n").readLine().send("235 ok\r\n"));
     },
     0, "ELupQ", "AUTH LOGIN\r\n"},
    {"CRAM-MD5", 1,
     [](FakeServer& s) {
         ehlo(s, "AUTH PLAIN CRAM-MD5").readLine().send("334 PDEyMzQ1QG14Pg==\r\n");
         quit(s.readLine().send("235 ok\r\n"));
     },
     0, "ECcQ", "認証完了"},
    {"only CRAM-MD5 allowed, not offered: goes on", 2,
     [](FakeServer& s) { quit(ehlo(s, "AUTH LOGIN PLAIN")); }, 0, "EQ",
     "含まれていないのでスルーします。"},
    {"AUTH refused", 1,
     [](FakeServer& s) {
         quit(ehlo(s, "AUTH PLAIN").readLine().send("535 5.7.8 bad credentials\r\n"));
     },
     1, "EPQ", "SMTP認証に失敗しました。\r\n535 5.7.8 bad credentials"},
    {"LOGIN refused at the user", 4,
     [](FakeServer& s) {
         quit(ehlo(s, "AUTH LOGIN")
                  .readLine()
                  .send("334 VXNlcm5hbWU6\r\n")
                  .readLine()
                  .send("535 no\r\n"));
     },
     1, "ELuQ", "SMTP認証に失敗しました。\r\n535 no"},
    {"EHLO refused", 1, [](FakeServer& s) { quit(s.readLine().send("502 no\r\n")); }, 1, "EQ",
     "サーバがSMTP-AUTHに対応していないようです。"},
    {"HELO refused", 0, [](FakeServer& s) { quit(s.readLine().send("501 who\r\n")); }, 1, "HQ",
     "HELOコマンドに対して接続エラーが発生しました。\r\n501"},
};

TEST_F(Smtp, GreetingAndAuthentication) {
    for (const OpenCase& c : kOpens) {
        SCOPED_TRACE(c.name);
        t.write("_Log\\通信ログ2501.txt", "");
        FakeServer server;
        c.script(server.send("220 mx ready\r\n"));
        account.smtpAuth = c.smtpAuth;
        EXPECT_EQ(run(server), c.result);
        EXPECT_EQ(server.transcript(), openingLines(c.sent));
        const std::string l = log();
        EXPECT_NE(l.find(c.logged), std::string::npos) << l;
        // Credentials never reach the log, in any encoding.
        for (const std::string& secret : {std::string("secret1"), mime::encodeBase64("secret1"),
                                          plainAnswer(smtpCredentials(account))})
            EXPECT_EQ(l.find(secret), std::string::npos) << secret << "\n" << l;
        EXPECT_TRUE(t.reporter.shown().empty());
    }
}

TEST_F(Smtp, RefusedGreetingEndsWithTheServersWords) {
    t.env.unattended = false;
    FakeServer server;
    quit(server.send("554 5.3.2 not now\r\n"));
    EXPECT_EQ(run(server), 1);
    EXPECT_EQ(server.transcript(), (std::vector<std::string>{"QUIT\r\n"}));
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_NE(t.reporter.lastText().find("554 5.3.2 not now"), std::string::npos);
}

TEST_F(Smtp, StartTlsNotOfferedOrRefusedStopsBeforeAnyCredential) {
    const std::pair<std::string, const char*> cases[] = {
        {"250-mx\r\n250 AUTH PLAIN\r\n", "サーバがSTARTTLSコマンドに対応していないようです。"},
        {"250-mx\r\n250 STARTTLS\r\n",
         "サーバがSTARTTLSコマンドを拒否しました。\r\n454 4.7.0 later"}};
    account.sendSsl = 2;
    account.smtpAuth = 1;
    for (const auto& [ehloReply, logged] : cases) {
        t.write("_Log\\通信ログ2501.txt", "");
        FakeServer server;
        server.send("220 mx\r\n").readLine().send(ehloReply);
        const bool offered = ehloReply.find("STARTTLS") != std::string::npos;
        if (offered) server.readLine().send("454 4.7.0 later\r\n");
        EXPECT_EQ(run(server), 1);
        std::vector<std::string> sent{"EHLO 127.0.0.1\r\n"};
        if (offered) sent.push_back("STARTTLS\r\n");
        EXPECT_EQ(server.transcript(), sent);
        EXPECT_TRUE(server.afterScript().empty());
        EXPECT_NE(log().find(logged), std::string::npos) << log();
    }
}

TEST_F(Smtp, PopBeforeSmtpLogsInThroughPop3AndClosesItFirst) {
    FakeServer pop;
    pop.send("+OK pop\r\n").readLine().send("+OK\r\n").readLine().send("+OK in\r\n");
    pop.readLine().send("-ERR no message 0\r\n").readLine().send("+OK bye\r\n");
    pop.start();
    FakeServer smtp;
    quit(smtp.send("220 mx\r\n").readLine().send("250 mx\r\n"));
    smtp.start();
    sjis::copyField(account.pop3Server, "127.0.0.1");
    account.popPort = pop.port();
    account.smtpPort = smtp.port();
    account.popBeforeSmtp = 1;
    {
        Session s(t.env, account, observer, 3000);
        ASSERT_EQ(s.open(), 0);
        // The POP3 dialogue is over and its connection closed before SMTP is opened.
        pop.finish(100);
        EXPECT_EQ(pop.ending(), FakeServer::Ending::ClientClosed);
        s.quit();
    }
    smtp.finish(3000);
    EXPECT_EQ(pop.transcript(), (std::vector<std::string>{"USER taro\r\n", "PASS secret1\r\n",
                                                          "TOP 0 0\r\n", "QUIT\r\n"}));
    EXPECT_EQ(smtp.transcript(), (std::vector<std::string>{"HELO 127.0.0.1\r\n", "QUIT\r\n"}));
    EXPECT_NE(log().find("POPBeforeSMTP"), std::string::npos);
    EXPECT_EQ(log().find("secret1"), std::string::npos) << log();
}

TEST_F(Smtp, PopBeforeSmtpRefusedEndsBeforeSmtp) {
    FakeServer pop;
    pop.send("+OK pop\r\n").readLine().send("+OK\r\n").readLine().send("-ERR bad password\r\n");
    pop.readLine().send("+OK bye\r\n");
    sjis::copyField(account.pop3Server, "127.0.0.1");
    account.popBeforeSmtp = 1;
    pop.start();
    account.popPort = pop.port();
    account.smtpPort = 1;  // never reached
    {
        Session s(t.env, account, observer, 3000);
        EXPECT_EQ(s.open(), 1);
    }
    pop.finish(3000);
    EXPECT_EQ(pop.transcript(),
              (std::vector<std::string>{"USER taro\r\n", "PASS secret1\r\n", "QUIT\r\n"}));
    EXPECT_NE(log().find("-ERR bad password"), std::string::npos) << log();
    EXPECT_EQ(log().find("サーバーに接続できませんでした"), std::string::npos) << log();
}

}  // namespace
}  // namespace kolvy::smtp
