#include "pop/connection.h"

#include <gtest/gtest.h>

#include "pop/md5.h"
#include "pop/testsupport/fake_server.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

using test::FakeServer;
using Lines = std::vector<std::string>;

// One scripted server and one connection to it, closed and finished after each test.
class Conn : public ::testing::Test {
  protected:
    void SetUp() override { t.clock.setLocal(2025, 1, 2); }
    void TearDown() override {
        c.close();
        server->finish();
    }
    ConnectionSettings local(unsigned timeoutMs = 5000) {
        ConnectionSettings s;
        s.host = "127.0.0.1";
        s.port = server->port();
        s.timeoutMs = timeoutMs;
        s.user = "taro";
        s.password = "0";
        return s;
    }
    int open(const ConnectionSettings& s, Protocol p = Protocol::Pop3) {
        server->start();
        return OpenServer(c, s, p);
    }
    int open() { return open(local()); }
    int command(std::string_view name, std::optional<std::string_view> arg = std::nullopt,
                size_t capacity = 0) {
        CommandOptions o;
        if (capacity) o.capacity = capacity;
        return SendCommand(c, reply, name, arg, o);
    }
    std::string commLog() { return t.read("_Log\\通信ログ2501.txt"); }
    Lines boxes() {
        Lines v;
        for (const auto& b : t.reporter.shown())
            v.push_back(b.text);
        return v;
    }
    Lines transcript() {
        c.close();
        server->finish();
        return server->transcript();
    }
    // A whole multi-line reply after `line`, reported through the chunk hook.
    ReceiveFailure multiLine(const char* line, size_t room, std::string& text,
                             std::function<bool(const ReceivedChunk&)> hook = {}) {
        std::string why;
        EXPECT_TRUE(c.writeLine(line, why));
        MultiLineDecoder d;
        const ReceiveFailure f =
            hook ? ReceiveMultiLine(c, d, text, room, hook) : ReceiveMultiLine(c, d, text, room);
        status = d.statusLine();
        return f;
    }
    test::TestEnv t;
    std::unique_ptr<FakeServer> server = std::make_unique<FakeServer>();
    Connection c{t.env};
    std::string reply, status;
};

TEST_F(Conn, OneByteWritesNeverDesynchroniseTheDialogue) {
    server->sendBytewise("+OK ready\r\n").readLine();
    server->sendBytewise("+OK\r\nTOP\r\nUIDL\r\n.\r\n").readLine();  // CAPA: multi-line
    server->sendBytewise("+OK taro\r\n").readLine().sendBytewise("+OK 2 300\r\n");
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(c.greeting(), "+OK ready\r\n");
    const std::pair<const char*, const char*> steps[] = {{"CAPA", "+OK\r\nTOP\r\nUIDL\r\n.\r\n"},
                                                         {"USER", "+OK taro\r\n"},
                                                         {"STAT", "+OK 2 300\r\n"}};
    for (auto [name, want] : steps) {
        ASSERT_EQ(command(name, name[0] == 'U' ? std::optional("taro") : std::nullopt), 0);
        EXPECT_EQ(reply, want);
    }
    EXPECT_EQ(transcript(), (Lines{"CAPA\r\n", "USER taro\r\n", "STAT\r\n"}));
    EXPECT_EQ(server->ending(), FakeServer::Ending::ClientClosed);
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(Conn, ArgumentZeroIsSentAndNoArgumentIsItsOwnCase) {
    server->send("+OK\r\n").readLine().send("+OK\r\n").readLine().send("-ERR no\r\n").readLine();
    server->send("+OK\r\n");
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(command("USER", "0"), 0);
    EXPECT_EQ(command("TOP", "0 0"), 0);  // refused in one line
    EXPECT_EQ(reply, "-ERR no\r\n");
    EXPECT_FALSE(c.broken());
    EXPECT_EQ(command("NOOP"), 0);
    EXPECT_EQ(transcript(), (Lines{"USER 0\r\n", "TOP 0 0\r\n", "NOOP\r\n"}));
}

TEST_F(Conn, CredentialsNeverReachTheLog) {
    t.env.logOut = true;
    server->send("+OK <1.2@host>\r\n");
    for (int i = 0; i < 4; ++i)
        server->readLine().send("+OK\r\n");
    ConnectionSettings s = local();
    s.password = "secret1";
    ASSERT_EQ(open(s), 0);
    const std::string digest = md5Hex("<1.2@host>secret1");
    ASSERT_EQ(command("PASS", "secret1"), 0);
    ASSERT_EQ(command("AUTH", "PLAIN c2VjcmV0MQ=="), 0);
    ASSERT_EQ(command("APOP", "taro " + digest), 0);
    CommandOptions secret;
    secret.secret = true;
    ASSERT_EQ(SendCommand(c, reply, "c2VjcmV0MQ==", std::nullopt, secret), 0);
    const Lines sent = transcript();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], "PASS secret1\r\n");  // the wire is unchanged
    const std::string log = commLog();
    for (const char* masked : {"PASS -----\r\n", "AUTH PLAIN -----\r\n", "APOP taro -----\r\n"})
        EXPECT_NE(log.find(masked), std::string::npos) << log;
    for (const std::string& secretText :
         {std::string("secret1"), std::string("c2VjcmV0MQ"), digest})
        EXPECT_EQ(log.find(secretText), std::string::npos) << log;
}

TEST_F(Conn, RefusedListingIsRecognisedAtItsFirstLine) {
    // "-ERR" and then nothing for longer than the time-out: waiting for "." would fail.
    server->send("+OK\r\n").readLine().send("-ERR mailbox locked\r\n").stall(1500);
    ASSERT_EQ(open(local(700)), 0);
    EXPECT_EQ(command("LIST", std::nullopt, kListReplyCapacity), 0);
    EXPECT_EQ(reply, "-ERR mailbox locked\r\n");
    EXPECT_FALSE(c.broken());
}

// A command that fails: what it returns, whether the connection can go on, the box.
TEST_F(Conn, ReplyLongerThanItsBufferIsRefused) {
    struct Case {
        const char* name;
        std::function<void(FakeServer&)> script;  // after the greeting
        unsigned timeoutMs;
        const char* command;
        const char* arg;
        bool broken;
        const char* box;
    } const cases[] = {
        {"longer than its buffer",
         [](FakeServer& s) { s.readLine().send("+OK " + std::string(5000, 'x') + "\r\n"); }, 5000,
         "STAT", nullptr, true, kTextNoReply},
        {"stall longer than the time-out",
         [](FakeServer& s) { s.readLine().send("+OK 1 2").stall(1500); }, 500, "STAT", nullptr,
         true, kTextSocketErrorOnReply},
        {"server closes in the middle of the reply",
         [](FakeServer& s) { s.readLine().send("+OK 12 octets\r\nSubject: x\r\n").closeNow(); },
         5000, "RETR", "1", true, kTextSocketErrorOnReply},
        {"line break in an argument is never sent", [](FakeServer&) {}, 5000, "PASS", "x\r\nDELE 1",
         false, "送信できない文字がコマンドに含まれています。   "},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        server = std::make_unique<FakeServer>();
        t.reporter.clear();
        t.env.logOut = true;
        server->send("+OK\r\n");
        k.script(*server);
        ASSERT_EQ(open(local(k.timeoutMs)), 0);
        EXPECT_EQ(command(k.command, k.arg ? std::optional<std::string_view>(k.arg) : std::nullopt),
                  1);
        EXPECT_LE(reply.size(), kLineReplyCapacity);
        EXPECT_EQ(c.broken(), k.broken);
        EXPECT_EQ(boxes(), Lines{k.box});
        if (!k.broken) {
            EXPECT_TRUE(transcript().empty());
            EXPECT_TRUE(server->afterScript().empty());
        }
        c.close();
        server->finish();
    }
    // The time-out is logged with its code.
    const std::string code = "エラーコード: " + std::to_string(platform::timeoutErrorCode());
    EXPECT_NE(commLog().find(std::string(kTextSocketErrorOnReply) + code), std::string::npos)
        << commLog();
}

TEST_F(Conn, MultiLineMessageIsUnstuffedAndTheNextReplyStaysInStep) {
    // The message and the reply to the next command arrive in one write.
    server->send("+OK\r\n").readLine();
    server->sendBytewise("+OK 30 octets\r\n..a\r\n..\r\nb\r\n.\r\n");
    server->send("+OK next\r\n").readLine();
    ASSERT_EQ(open(), 0);
    std::string text;
    uint64_t progress = 0;
    ASSERT_EQ(multiLine("RETR 1\r\n", 1000, text,
                        [&](const ReceivedChunk& k) {
                            progress = k.received;
                            return true;
                        }),
              ReceiveFailure::None);
    EXPECT_EQ(text, "\n.a\r\n.\r\nb\r\n.\r\n");
    EXPECT_EQ(status, "+OK 30 octets");
    EXPECT_EQ(progress, 30u);  // every byte of the reply, counted as received
    // The reply was sent before the command; it is still this command's reply.
    ASSERT_EQ(command("NOOP"), 0);
    EXPECT_EQ(reply, "+OK next\r\n");
}

// The session bounds the raw bytes of a message through the hook: a "no" before the end stops
// the reply; a "no" on the chunk that ends it changes nothing. Too little room stops it as well.
TEST_F(Conn, TheChunkHookStopsAReplyOnlyWhileItIsUnderWay) {
    const std::string whole = "+OK\r\nabc\r\n.\r\n";
    struct Case {
        const char* name;
        std::function<void(FakeServer&)> script;
        size_t room;
        bool hooked, hookSaysNo;
        ReceiveFailure want;
    } const cases[] = {
        {"no before the end",
         [](FakeServer& s) { s.send("+OK\r\nfirst\r\n").stall(300).send("rest\r\n.\r\n"); }, 1000,
         true, true, ReceiveFailure::TooLong},
        {"no on the last chunk", [&](FakeServer& s) { s.send(whole); }, 1000, true, false,
         ReceiveFailure::None},
        {"longer than its room",
         [](FakeServer& s) { s.send("+OK\r\n" + std::string(500, 'z') + "\r\n.\r\n"); }, 100, false,
         false, ReceiveFailure::TooLong},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        server = std::make_unique<FakeServer>();
        server->send("+OK\r\n").readLine();
        k.script(*server);
        ASSERT_EQ(open(), 0);
        std::string text;
        int calls = 0;
        auto hook = [&](const ReceivedChunk& r) {
            ++calls;
            return !k.hookSaysNo && r.received < whole.size();
        };
        const ReceiveFailure got = k.hooked ? multiLine("RETR 1\r\n", k.room, text, hook)
                                            : multiLine("RETR 1\r\n", k.room, text);
        EXPECT_EQ(got, k.want);
        EXPECT_EQ(c.broken(), got != ReceiveFailure::None);
        EXPECT_LE(text.size(), k.room);
        if (k.hookSaysNo) {
            EXPECT_EQ(calls, 1);
        }
        if (got == ReceiveFailure::None) {
            EXPECT_EQ(text, "\nabc\r\n.\r\n");
        }
        c.close();
        server->finish();
    }
}

TEST_F(Conn, ReceiveChunkTakesNoMoreThanTheRoomLeft) {
    server->send("+OK\r\n").send(std::string(100, 'q'));
    ASSERT_EQ(open(), 0);
    std::string buffer, rest;
    uint64_t count = 0;
    while (buffer.size() < 10)
        ASSERT_EQ(ReceiveChunk(c, buffer, 10, count), 0);
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(ReceiveChunk(c, buffer, 10, count), 1);  // full
    while (rest.size() < 90)
        ASSERT_EQ(ReceiveChunk(c, rest, 1000, count), 0);
    EXPECT_EQ(rest, std::string(90, 'q'));
    EXPECT_EQ(count, 100u);
}

TEST_F(Conn, LargeListingIsCollectedWhole) {
    std::string listing = "+OK\r\n";
    for (int i = 1; i <= 100000; ++i)
        listing += std::to_string(i) + " " + std::string(70, 'u') + std::to_string(i) + "\r\n";
    listing += ".\r\n";
    server->send("+OK\r\n").readLine().send(listing).readLine().send("+OK bye\r\n");
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(command("UIDL", std::nullopt, kListReplyCapacity), 0);
    EXPECT_EQ(reply, listing);
    ASSERT_EQ(command("QUIT"), 0);
    EXPECT_EQ(reply, "+OK bye\r\n");
}

TEST_F(Conn, ApopUsesTheBracketedTimestampWhereverItStands) {
    EXPECT_EQ(apopTimestamp("+OK <1896.697170952@dbc.mtview.ca.us> POP3 ready\r\n"),
              "<1896.697170952@dbc.mtview.ca.us>");
    EXPECT_EQ(apopTimestamp("+OK POP3 server ready <1.2@x>\r\n"), "<1.2@x>");
    EXPECT_EQ(apopTimestamp("+OK ready last\r\n"), "last");

    server->sendBytewise("+OK <1896.697170952@dbc.mtview.ca.us> POP3 ready\r\n").readLine();
    server->send("+OK maildrop has 1 message\r\n");
    ConnectionSettings s = local();
    s.user = "mrose";
    s.password = "tanstaaf";
    s.apop = true;
    ASSERT_EQ(open(s), 0);
    EXPECT_EQ(transcript(), Lines{"APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n"});
}

// Opening fails: the box, and the server has heard only what it says.
TEST_F(Conn, OpeningFailuresAreToldWithTheirTexts) {
    struct Case {
        const char* name;
        std::function<void(FakeServer&)> script;
        Protocol protocol;
        SslMode ssl;
        bool apop;
        Lines sent;
        const char* box;
    } const cases[] = {
        {"APOP refused",
         [](FakeServer& s) { s.send("+OK <a@b>\r\n").readLine().send("-ERR [AUTH] failed\r\n"); },
         Protocol::Pop3,
         SslMode::Plain,
         true,
         {"APOP taro 5a01c65eadf103e6fd048eba6b1b6785\r\n"},
         "認証エラーです。サーバがAPOPに対応していないか    \n"
         "IDかパスワードが間違っている可能性があります。    "},
        {"STLS missing from the capabilities",
         [](FakeServer& s) {
             s.send("+OK\r\n").readLine().sendBytewise("+OK\r\nUSER\r\nX-STLS-LIKE\r\n.\r\n");
         },
         Protocol::Pop3,
         SslMode::StartTls,
         false,
         {"CAPA\r\n"},
         "サーバがSTLSコマンドに対応していないようです。    "},
        {"SMTP: multi-line greeting, EHLO without STARTTLS",
         [](FakeServer& s) {
             s.sendBytewise("220-mail.example ESMTP\r\n220 ready\r\n").readLine();
             s.sendBytewise("250-mail.example\r\n250-AUTH PLAIN\r\n250 SIZE 100\r\n");
         },
         Protocol::Smtp,
         SslMode::StartTls,
         false,
         {"EHLO 127.0.0.1\r\n"},
         "サーバがSTARTTLSコマンドに対応していないようです。    "},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        server = std::make_unique<FakeServer>();
        t.reporter.clear();
        k.script(*server);
        ConnectionSettings s = local();
        s.sslMode = k.ssl;
        s.apop = k.apop;
        EXPECT_EQ(open(s, k.protocol), 1);
        EXPECT_FALSE(c.isOpen());
        EXPECT_EQ(boxes(), Lines{k.box});
        if (k.protocol == Protocol::Smtp) {
            EXPECT_EQ(c.greeting(), "220-mail.example ESMTP\r\n220 ready\r\n");
        }
        EXPECT_EQ(transcript(), k.sent);
        EXPECT_EQ(server->ending(), FakeServer::Ending::ClientClosed);
    }
}

TEST_F(Conn, BytesBeforeTheHandshakeAreRefused) {
    // A reply to STLS followed by bytes that would be taken for protected ones.
    server->send("+OK\r\n").readLine().send("+OK\r\nSTLS\r\n.\r\n").readLine();
    server->send("+OK begin\r\n+OK injected\r\n");
    ConnectionSettings s = local();
    s.sslMode = SslMode::StartTls;
    EXPECT_EQ(open(s), 1);
    EXPECT_FALSE(c.isOpen());
    EXPECT_FALSE(SslActive());
}

// Reported in a box and the log, or only in the log when nobody watches.
TEST_F(Conn, UnknownHostAndRefusedConnectionAreReported) {
    t.env.logOut = true;
    ConnectionSettings s = local();
    s.host = "no-such-host.invalid";
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    s.host = "127.0.0.1";
    {
        auto l = platform::listenLoopback();
        ASSERT_TRUE(l.ok());
        s.port = (*l)->port();
    }
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    EXPECT_EQ(boxes(), (Lines{"no-such-host.invalidが見つかりませんでした。   ",
                              "サーバーに接続できません。   "}));
    EXPECT_NE(commLog().find("サーバーに接続できませんでした。WSAGetLastError="),
              std::string::npos);
    // Unattended: the log only.
    t.env.unattended = true;
    t.fs->remove(t.path("_Log\\通信ログ2501.txt"));
    s.host = "no-such-host.invalid";
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    EXPECT_EQ(boxes().size(), 2u);
    EXPECT_EQ(commLog(), "no-such-host.invalidが見つかりませんでした。   \r\n");
}

TEST_F(Conn, NameWithOnlyAnIpv6AddressIsReachedOverIpv6) {
    server = std::make_unique<FakeServer>(platform::NetFamily::V6);
    if (server->port() == 0) GTEST_SKIP() << "no IPv6 loopback on this machine";
    server->send("+OK over IPv6\r\n").readLine().send("+OK\r\n");
    ConnectionSettings s = local();
    s.host = "::1";
    ASSERT_EQ(open(s), 0) << t.reporter.lastText();
    EXPECT_EQ(c.greeting(), "+OK over IPv6\r\n");
    EXPECT_EQ(command("NOOP"), 0);
    EXPECT_EQ(transcript(), Lines{"NOOP\r\n"});
}

TEST(LogMask, CommandLinesAsTheLogShowsThem) {
    struct Case {
        std::string line, logged;
        bool secret;
    } const cases[] = {
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
