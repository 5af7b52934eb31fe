#include "pop/connection.h"

#include <gtest/gtest.h>

#include "pop/md5.h"
#include "pop/testsupport/fake_server.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

using test::FakeServer;

class Conn : public ::testing::Test {
  protected:
    void SetUp() override { t.clock.setLocal(2025, 1, 2); }
    ConnectionSettings local(uint16_t port, unsigned timeoutMs = 5000) {
        ConnectionSettings s;
        s.host = "127.0.0.1";
        s.port = port;
        s.timeoutMs = timeoutMs;
        s.user = "taro";
        s.password = "0";
        return s;
    }
    std::string commLog() { return t.read("_Log\\通信ログ2501.txt"); }
    std::vector<std::string> boxes() {
        std::vector<std::string> v;
        for (const auto& b : t.reporter.shown())
            v.push_back(b.text);
        return v;
    }
    test::TestEnv t;
};

TEST_F(Conn, OneByteWritesNeverDesynchroniseTheDialogue) {
    FakeServer server;
    server.sendBytewise("+OK ready\r\n")
        .readLine()
        .sendBytewise("+OK\r\nTOP\r\nUIDL\r\n.\r\n")  // CAPA: multi-line
        .readLine()
        .sendBytewise("+OK taro\r\n")
        .readLine()
        .sendBytewise("+OK 2 300\r\n");
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    EXPECT_EQ(c.greeting(), "+OK ready\r\n");
    std::string reply;
    ASSERT_EQ(SendCommand(c, reply, "CAPA", std::nullopt), 0);
    EXPECT_EQ(reply, "+OK\r\nTOP\r\nUIDL\r\n.\r\n");
    ASSERT_EQ(SendCommand(c, reply, "USER", "taro"), 0);
    EXPECT_EQ(reply, "+OK taro\r\n");
    ASSERT_EQ(SendCommand(c, reply, "STAT", std::nullopt), 0);
    EXPECT_EQ(reply, "+OK 2 300\r\n");
    c.close();
    server.finish();
    EXPECT_EQ(server.transcript(),
              (std::vector<std::string>{"CAPA\r\n", "USER taro\r\n", "STAT\r\n"}));
    EXPECT_EQ(server.ending(), FakeServer::Ending::ClientClosed);
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(Conn, ArgumentZeroIsSentAndNoArgumentIsItsOwnCase) {
    FakeServer server;
    server.send("+OK\r\n").readLine().send("+OK\r\n").readLine().send("-ERR no\r\n").readLine();
    server.send("+OK\r\n");
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    std::string reply;
    EXPECT_EQ(SendCommand(c, reply, "USER", "0"), 0);
    EXPECT_EQ(SendCommand(c, reply, "TOP", "0 0"), 0);  // refused in one line
    EXPECT_EQ(reply, "-ERR no\r\n");
    EXPECT_FALSE(c.broken());
    EXPECT_EQ(SendCommand(c, reply, "NOOP", std::nullopt), 0);
    c.close();
    server.finish();
    EXPECT_EQ(server.transcript(),
              (std::vector<std::string>{"USER 0\r\n", "TOP 0 0\r\n", "NOOP\r\n"}));
}

TEST_F(Conn, CredentialsNeverReachTheLog) {
    t.env.logOut = true;
    FakeServer server;
    server.send("+OK <1.2@host>\r\n").readLine().send("+OK\r\n");
    server.readLine().send("+OK\r\n").readLine().send("+OK\r\n").readLine().send("+OK\r\n");
    server.start();
    Connection c(t.env);
    ConnectionSettings s = local(server.port());
    s.password = "secret1";
    ASSERT_EQ(OpenServer(c, s, Protocol::Pop3), 0);
    std::string reply;
    ASSERT_EQ(SendCommand(c, reply, "PASS", "secret1"), 0);
    ASSERT_EQ(SendCommand(c, reply, "AUTH", "PLAIN c2VjcmV0MQ=="), 0);
    ASSERT_EQ(SendCommand(c, reply, "APOP", "taro " + md5Hex("<1.2@host>secret1")), 0);
    CommandOptions secret;
    secret.secret = true;
    ASSERT_EQ(SendCommand(c, reply, "c2VjcmV0MQ==", std::nullopt, secret), 0);
    c.close();
    server.finish();
    ASSERT_EQ(server.transcript().size(), 4u);
    EXPECT_EQ(server.transcript()[0], "PASS secret1\r\n");  // the wire is unchanged
    const std::string log = commLog();
    EXPECT_NE(log.find("PASS -----\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("AUTH PLAIN -----\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("APOP taro -----\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("secret1"), std::string::npos) << log;
    EXPECT_EQ(log.find("c2VjcmV0MQ"), std::string::npos) << log;
    EXPECT_EQ(log.find(md5Hex("<1.2@host>secret1")), std::string::npos) << log;
}

TEST_F(Conn, RefusedListingIsRecognisedAtItsFirstLine) {
    FakeServer server;
    // "-ERR" and then nothing for longer than the time-out: waiting for "." would fail.
    server.send("+OK\r\n").readLine().send("-ERR mailbox locked\r\n").stall(1500);
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port(), 700), Protocol::Pop3), 0);
    std::string reply;
    CommandOptions list;
    list.capacity = kListReplyCapacity;
    EXPECT_EQ(SendCommand(c, reply, "LIST", std::nullopt, list), 0);
    EXPECT_EQ(reply, "-ERR mailbox locked\r\n");
    EXPECT_FALSE(c.broken());
    c.close();
    server.finish();
}

TEST_F(Conn, StallLongerThanTheTimeOutFailsWithTheSocketError) {
    t.env.logOut = true;
    FakeServer server;
    server.send("+OK\r\n").readLine().send("+OK 1 2").stall(1500);
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port(), 500), Protocol::Pop3), 0);
    std::string reply;
    EXPECT_EQ(SendCommand(c, reply, "STAT", std::nullopt), 1);
    EXPECT_TRUE(c.broken());
    EXPECT_EQ(boxes(), std::vector<std::string>{kTextSocketErrorOnReply});
    const std::string code = "エラーコード: " + std::to_string(platform::timeoutErrorCode());
    EXPECT_NE(commLog().find(std::string(kTextSocketErrorOnReply) + code), std::string::npos)
        << commLog();
    c.close();
    server.finish();
}

TEST_F(Conn, ServerClosingMidReplyBreaksTheConnection) {
    FakeServer server;
    server.send("+OK\r\n").readLine().send("+OK 12 octets\r\nSubject: x\r\n").closeNow();
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    std::string reply;
    ASSERT_EQ(SendCommand(c, reply, "RETR", "1", {}), 1);
    EXPECT_TRUE(c.broken());
    EXPECT_EQ(boxes(), std::vector<std::string>{kTextSocketErrorOnReply});
    c.close();
    server.finish();
}

TEST_F(Conn, ReplyLongerThanItsBufferIsRefused) {
    FakeServer server;
    server.send("+OK\r\n").readLine().send("+OK " + std::string(5000, 'x') + "\r\n");
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    std::string reply;
    EXPECT_EQ(SendCommand(c, reply, "STAT", std::nullopt), 1);
    EXPECT_LE(reply.size(), kLineReplyCapacity);
    EXPECT_TRUE(c.broken());
    EXPECT_EQ(boxes(), std::vector<std::string>{kTextNoReply});
    c.close();
    server.finish();
}

TEST_F(Conn, LineBreakInAnArgumentIsNeverSent) {
    FakeServer server;
    server.send("+OK\r\n");
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    std::string reply;
    EXPECT_EQ(SendCommand(c, reply, "PASS", "x\r\nDELE 1"), 1);
    EXPECT_FALSE(c.broken());
    c.close();
    server.finish();
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_TRUE(server.afterScript().empty());
}

TEST_F(Conn, MultiLineMessageIsUnstuffedAndTheNextReplyStaysInStep) {
    FakeServer server;
    // The message and the reply to the next command arrive in one write.
    server.send("+OK\r\n").readLine();
    server.sendBytewise("+OK 30 octets\r\n..a\r\n..\r\nb\r\n.\r\n");
    server.send("+OK next\r\n").readLine();
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    std::string why;
    ASSERT_TRUE(c.writeLine("RETR 1\r\n", why));
    MultiLineDecoder d;
    std::string text;
    uint64_t progress = 0;
    ASSERT_EQ(ReceiveMultiLine(c, d, text, 1000,
                               [&](const ReceivedChunk& k) {
                                   progress = k.received;
                                   return true;
                               }),
              ReceiveFailure::None);
    EXPECT_EQ(text, "\n.a\r\n.\r\nb\r\n.\r\n");
    EXPECT_EQ(d.statusLine(), "+OK 30 octets");
    EXPECT_EQ(progress, 30u);  // every byte of the reply, counted as received
    std::string reply;
    ASSERT_EQ(SendCommand(c, reply, "NOOP", std::nullopt), 0);
    // The reply was sent before the command; it is still this command's reply.
    EXPECT_EQ(reply, "+OK next\r\n");
    c.close();
    server.finish();
}

TEST_F(Conn, TheChunkHookStopsAReplyOnlyWhileItIsUnderWay) {
    // The session bounds the raw bytes of a message through the hook: a "no" before the end
    // stops the reply; a "no" on the chunk that ends it changes nothing.
    const std::string whole = "+OK\r\nabc\r\n.\r\n";
    for (const bool stopEarly : {true, false}) {
        FakeServer server;
        server.send("+OK\r\n").readLine();
        if (stopEarly) {
            server.send("+OK\r\nfirst\r\n").stall(300).send("rest\r\n.\r\n");
        } else {
            server.send(whole);
        }
        server.start();
        Connection c(t.env);
        ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
        std::string why;
        ASSERT_TRUE(c.writeLine("RETR 1\r\n", why));
        MultiLineDecoder d;
        std::string text;
        int calls = 0;
        const ReceiveFailure got = ReceiveMultiLine(c, d, text, 1000, [&](const ReceivedChunk& k) {
            ++calls;
            return !stopEarly && k.received < whole.size();
        });
        if (stopEarly) {
            EXPECT_EQ(got, ReceiveFailure::TooLong);
            EXPECT_EQ(calls, 1);
            EXPECT_TRUE(c.broken());
        } else {
            EXPECT_EQ(got, ReceiveFailure::None);
            EXPECT_EQ(text, "\nabc\r\n.\r\n");
        }
        c.close();
        server.finish();
    }
}

TEST_F(Conn, MessageLongerThanItsRoomFailsWithoutOverrunning) {
    FakeServer server;
    server.send("+OK\r\n").readLine().send("+OK\r\n" + std::string(500, 'z') + "\r\n.\r\n");
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    std::string why;
    ASSERT_TRUE(c.writeLine("RETR 1\r\n", why));
    MultiLineDecoder d;
    std::string text;
    EXPECT_EQ(ReceiveMultiLine(c, d, text, 100), ReceiveFailure::TooLong);
    EXPECT_LE(text.size(), 100u);
    EXPECT_TRUE(c.broken());
    c.close();
    server.finish();
}

TEST_F(Conn, ReceiveChunkTakesNoMoreThanTheRoomLeft) {
    FakeServer server;
    server.send("+OK\r\n").send(std::string(100, 'q'));
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    std::string buffer;
    uint64_t count = 0;
    while (buffer.size() < 10)
        ASSERT_EQ(ReceiveChunk(c, buffer, 10, count), 0);
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(ReceiveChunk(c, buffer, 10, count), 1);  // full
    std::string rest;
    while (rest.size() < 90)
        ASSERT_EQ(ReceiveChunk(c, rest, 1000, count), 0);
    EXPECT_EQ(rest, std::string(90, 'q'));
    EXPECT_EQ(count, 100u);
    c.close();
    server.finish();
}

TEST_F(Conn, LargeListingIsCollectedWhole) {
    std::string listing = "+OK\r\n";
    for (int i = 1; i <= 100000; ++i) {
        listing += std::to_string(i) + " " + std::string(70, 'u') + std::to_string(i) + "\r\n";
    }
    listing += ".\r\n";
    FakeServer server;
    server.send("+OK\r\n").readLine().send(listing).readLine().send("+OK bye\r\n");
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Pop3), 0);
    std::string reply;
    CommandOptions list;
    list.capacity = kListReplyCapacity;
    ASSERT_EQ(SendCommand(c, reply, "UIDL", std::nullopt, list), 0);
    EXPECT_EQ(reply, listing);
    ASSERT_EQ(SendCommand(c, reply, "QUIT", std::nullopt), 0);
    EXPECT_EQ(reply, "+OK bye\r\n");
    c.close();
    server.finish();
}

TEST_F(Conn, ApopUsesTheBracketedTimestampWhereverItStands) {
    EXPECT_EQ(apopTimestamp("+OK <1896.697170952@dbc.mtview.ca.us> POP3 ready\r\n"),
              "<1896.697170952@dbc.mtview.ca.us>");
    EXPECT_EQ(apopTimestamp("+OK POP3 server ready <1.2@x>\r\n"), "<1.2@x>");
    EXPECT_EQ(apopTimestamp("+OK ready last\r\n"), "last");

    FakeServer server;
    server.sendBytewise("+OK <1896.697170952@dbc.mtview.ca.us> POP3 ready\r\n")
        .readLine()
        .send("+OK maildrop has 1 message\r\n");
    server.start();
    Connection c(t.env);
    ConnectionSettings s = local(server.port());
    s.user = "mrose";
    s.password = "tanstaaf";
    s.apop = true;
    ASSERT_EQ(OpenServer(c, s, Protocol::Pop3), 0);
    c.close();
    server.finish();
    EXPECT_EQ(server.transcript(),
              std::vector<std::string>{"APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n"});
}

TEST_F(Conn, ApopRefusedClosesWithTheAuthenticationText) {
    FakeServer server;
    server.send("+OK <a@b>\r\n").readLine().send("-ERR [AUTH] failed\r\n");
    server.start();
    Connection c(t.env);
    ConnectionSettings s = local(server.port());
    s.apop = true;
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    EXPECT_FALSE(c.isOpen());
    EXPECT_EQ(boxes(),
              std::vector<std::string>{"認証エラーです。サーバがAPOPに対応していないか    \n"
                                       "IDかパスワードが間違っている可能性があります。    "});
    c.close();
    server.finish();
    EXPECT_EQ(server.ending(), FakeServer::Ending::ClientClosed);
}

TEST_F(Conn, StlsMissingFromTheCapabilitiesStops) {
    FakeServer server;
    server.send("+OK\r\n").readLine().sendBytewise("+OK\r\nUSER\r\nX-STLS-LIKE\r\n.\r\n");
    server.start();
    Connection c(t.env);
    ConnectionSettings s = local(server.port());
    s.sslMode = SslMode::StartTls;
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    EXPECT_EQ(boxes(),
              std::vector<std::string>{"サーバがSTLSコマンドに対応していないようです。    "});
    c.close();
    server.finish();
    EXPECT_EQ(server.transcript(), std::vector<std::string>{"CAPA\r\n"});
}

TEST_F(Conn, BytesBeforeTheHandshakeAreRefused) {
    // A reply to STLS followed by bytes that would be taken for protected ones.
    FakeServer server;
    server.send("+OK\r\n").readLine().send("+OK\r\nSTLS\r\n.\r\n").readLine();
    server.send("+OK begin\r\n+OK injected\r\n");
    server.start();
    Connection c(t.env);
    ConnectionSettings s = local(server.port());
    s.sslMode = SslMode::StartTls;
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    EXPECT_FALSE(c.isOpen());
    EXPECT_FALSE(SslActive());
    c.close();
    server.finish();
}

TEST_F(Conn, UnknownHostAndRefusedConnectionAreReported) {
    t.env.logOut = true;
    Connection c(t.env);
    ConnectionSettings s = local(110);
    s.host = "no-such-host.invalid";
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    uint16_t closedPort = 0;
    {
        auto l = platform::listenLoopback();
        ASSERT_TRUE(l.ok());
        closedPort = (*l)->port();
    }
    EXPECT_EQ(OpenServer(c, local(closedPort), Protocol::Pop3), 1);
    EXPECT_EQ(boxes(), (std::vector<std::string>{"no-such-host.invalidが見つかりませんでした。   ",
                                                 "サーバーに接続できません。   "}));
    EXPECT_NE(commLog().find("サーバーに接続できませんでした。WSAGetLastError="),
              std::string::npos);
}

TEST_F(Conn, NameWithOnlyAnIpv6AddressIsReachedOverIpv6) {
    FakeServer server(platform::NetFamily::V6);
    if (server.port() == 0) GTEST_SKIP() << "no IPv6 loopback on this machine";
    server.send("+OK over IPv6\r\n").readLine().send("+OK\r\n");
    server.start();
    Connection c(t.env);
    ConnectionSettings s = local(server.port());
    s.host = "::1";
    ASSERT_EQ(OpenServer(c, s, Protocol::Pop3), 0) << t.reporter.lastText();
    EXPECT_EQ(c.greeting(), "+OK over IPv6\r\n");
    std::string reply;
    EXPECT_EQ(SendCommand(c, reply, "NOOP", std::nullopt), 0);
    c.close();
    server.finish();
    EXPECT_EQ(server.transcript(), std::vector<std::string>{"NOOP\r\n"});
}

TEST_F(Conn, UnattendedFailuresGoOnlyToTheLog) {
    t.env.unattended = true;
    Connection c(t.env);
    ConnectionSettings s = local(110);
    s.host = "no-such-host.invalid";
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_EQ(commLog(), "no-such-host.invalidが見つかりませんでした。   \r\n");
}

TEST_F(Conn, SmtpMultiLineGreetingAndEhloWithoutStarttls) {
    FakeServer server;
    server.sendBytewise("220-mail.example ESMTP\r\n220 ready\r\n")
        .readLine()
        .sendBytewise("250-mail.example\r\n250-AUTH PLAIN\r\n250 SIZE 100\r\n");
    server.start();
    Connection c(t.env);
    ConnectionSettings s = local(server.port());
    s.sslMode = SslMode::StartTls;
    EXPECT_EQ(OpenServer(c, s, Protocol::Smtp), 1);
    EXPECT_EQ(c.greeting(), "220-mail.example ESMTP\r\n220 ready\r\n");
    EXPECT_EQ(boxes(),
              std::vector<std::string>{"サーバがSTARTTLSコマンドに対応していないようです。    "});
    c.close();
    server.finish();
    EXPECT_EQ(server.transcript(), std::vector<std::string>{"EHLO 127.0.0.1\r\n"});
}

TEST_F(Conn, SmtpRepliesEndAtTheCodeAndBlank) {
    FakeServer server;
    server.send("220 hi\r\n").readLine().sendBytewise("250-a\r\n250-b\r\n250 c\r\n");
    server.readLine().send("334 PDEyMzQ+\r\n");
    server.start();
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, local(server.port()), Protocol::Smtp), 0);
    std::string reply;
    ASSERT_EQ(SendCommand(c, reply, "EHLO", "me"), 0);
    EXPECT_EQ(reply, "250-a\r\n250-b\r\n250 c\r\n");
    ASSERT_EQ(SendCommand(c, reply, "AUTH", "CRAM-MD5"), 0);
    EXPECT_EQ(reply, "334 PDEyMzQ+\r\n");
    c.close();
    server.finish();
}

TEST(LogMask, CommandLinesAsTheLogShowsThem) {
    struct Case {
        std::string line, logged;
        bool secret;
    };
    const Case cases[] = {
        {"PASS 0\r\n", "PASS -----\r\n", false},
        {"PASS a b c\r\n", "PASS -----\r\n", false},
        {"pass x\r\n", "pass -----\r\n", false},
        {"APOP taro 0123\r\n", "APOP taro -----\r\n", false},
        {"AUTH PLAIN AGEAYg==\r\n", "AUTH PLAIN -----\r\n", false},
        {"AUTH LOGIN\r\n", "AUTH LOGIN\r\n", false},
        {"USER taro\r\n", "USER taro\r\n", false},
        {"dGFybw==\r\n", "-----\r\n", true},
        {"PASSWORD x\r\n", "PASSWORD x\r\n", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(maskedForLog(c.line, c.secret), c.logged) << c.line;
}

}  // namespace
}  // namespace kolvy::pop
