// The connection layer against real servers: dovecot on loopback (started by the pop-servers
// fixture), plain, STLS and implicit TLS, with the certificate checks.
#include <gtest/gtest.h>

#include "pop/connection.h"
#include "pop/testsupport/fake_server.h"
#include "pop/testsupport/real_servers.h"
#include "tests/support/test_env.h"
#if !defined(_WIN32)
#include "external/zorvan2/zorvan2_testing.h"
#endif

namespace kolvy::pop {
namespace {

class Dovecot : public ::testing::Test {
  protected:
    void SetUp() override {
        auto s = test::popServers();
        ASSERT_TRUE(s.has_value()) << "the pop-servers fixture has not run";
        servers = *s;
        t.clock.setLocal(2025, 1, 2);
    }
    void TearDown() override {
#if !defined(_WIN32)
        ZvTest_SetExtraTrustFile(nullptr);
#endif
    }
    ConnectionSettings settings(int sslMode, uint16_t port, const char* host = "localhost") {
        ConnectionSettings s;
        s.host = host;
        s.port = port;
        s.sslMode = sslModeOf(sslMode);
        s.timeoutMs = 10000;
        s.user = servers.user;
        s.password = servers.password;
        return s;
    }
    // USER/PASS and STAT; returns the STAT reply.
    std::string login(Connection& c) {
        std::string reply;
        EXPECT_EQ(SendCommand(c, reply, "USER", servers.user), 0);
        EXPECT_EQ(SendCommand(c, reply, "PASS", servers.password), 0);
        EXPECT_EQ(reply.substr(0, 3), "+OK") << reply;
        EXPECT_EQ(SendCommand(c, reply, "STAT", std::nullopt), 0);
        return reply;
    }
    test::PopServers servers;
    test::TestEnv t;
};

const char kDottedMessage[] =
    "Subject: dots\r\n"
    "\r\n"
    ".starts with a dot\r\n"
    ".\r\n"
    "..two\r\n"
    "end\r\n";

TEST_F(Dovecot, PlainRetrieveUndoesTheServersDotStuffing) {
    servers.emptyDovecot();
    ASSERT_TRUE(servers.deliverToDovecot("1.kolvy", kDottedMessage));
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, settings(0, servers.dovecotPop3), Protocol::Pop3), 0);
    EXPECT_EQ(c.greeting().substr(0, 3), "+OK");
    EXPECT_EQ(login(c).substr(0, 5), "+OK 1");
    std::string why;
    ASSERT_TRUE(c.writeLine("RETR 1\r\n", why));
    MultiLineDecoder d;
    std::string text;
    ASSERT_EQ(ReceiveMultiLine(c, d, text, 10000), ReceiveFailure::None);
    EXPECT_FALSE(d.negative());
    EXPECT_EQ(text, std::string("\n") + kDottedMessage + ".\r\n");
    std::string reply;
    ASSERT_EQ(SendCommand(c, reply, "RETR", "9"), 0);  // no such message: one line
    EXPECT_EQ(reply.substr(0, 4), "-ERR");
    ASSERT_EQ(SendCommand(c, reply, "QUIT", std::nullopt), 0);
    EXPECT_EQ(reply.substr(0, 3), "+OK");
}

TEST_F(Dovecot, ApopLogsInWhileOpening) {
    Connection c(t.env);
    ConnectionSettings s = settings(0, servers.dovecotPop3);
    s.apop = true;
    ASSERT_EQ(OpenServer(c, s, Protocol::Pop3), 0);
    std::string reply;
    ASSERT_EQ(SendCommand(c, reply, "STAT", std::nullopt), 0);
    EXPECT_EQ(reply.substr(0, 3), "+OK") << reply;
    EXPECT_TRUE(t.reporter.shown().empty());

    s.password = "wrong";
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_NE(t.reporter.lastText().find("認証エラーです。"), std::string::npos);
}

TEST_F(Dovecot, UnverifiableCertificateRefusedUnlessTheAccountAcceptsIt) {
    // Nothing trusts the test authority: with the setting 1 the server is refused.
    Connection c(t.env);
    ConnectionSettings s = settings(2, servers.dovecotPop3);
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    EXPECT_FALSE(c.isOpen());
    EXPECT_FALSE(SslActive());
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_NE(t.reporter.lastText().find("サーバ証明書を検証できない"), std::string::npos)
        << t.reporter.lastText();

    // With 0 the user has accepted such a server.
    t.reporter.clear();
    s.certSsl = 0;
    ASSERT_EQ(OpenServer(c, s, Protocol::Pop3), 0);
    EXPECT_TRUE(c.tlsActive());
    EXPECT_TRUE(SslActive());
    EXPECT_EQ(login(c).substr(0, 3), "+OK");
    EXPECT_TRUE(t.reporter.shown().empty());
    c.close();
    EXPECT_FALSE(SslActive());
}

// TLS on connect reads the greeting inside TLS; the next plain connection is plain.
TEST_F(Dovecot, AfterTlsAPlainConnectionWritesToItsOwnSocket) {
    t.env.logOut = true;
    {
        Connection c(t.env);
        ConnectionSettings s = settings(1, servers.dovecotPop3s);
        s.certSsl = 0;
        ASSERT_EQ(OpenServer(c, s, Protocol::Pop3), 0);
        ASSERT_TRUE(SslActive());
        EXPECT_EQ(c.greeting().substr(0, 3), "+OK");
        EXPECT_EQ(login(c).substr(0, 3), "+OK");
        // Leaves without QUIT and without close(): the destructor ends the session.
    }
    EXPECT_FALSE(SslActive());
    const std::string log = t.read("_Log\\通信ログ2501.txt");
    for (const char* text : {"SSLネゴシエーション", "SSL開始", "PASS -----"})
        EXPECT_NE(log.find(text), std::string::npos) << text;
    EXPECT_EQ(log.find(servers.password), std::string::npos);
    test::FakeServer plain;
    plain.send("+OK plain\r\n").readLine().send("+OK\r\n");
    plain.start();
    Connection c(t.env);
    ConnectionSettings s;
    s.host = "127.0.0.1";
    s.port = plain.port();
    ASSERT_EQ(OpenServer(c, s, Protocol::Pop3), 0);
    std::string reply;
    ASSERT_EQ(SendCommand(c, reply, "NOOP", std::nullopt), 0);
    c.close();
    plain.finish();
    EXPECT_EQ(plain.transcript(), std::vector<std::string>{"NOOP\r\n"});
}

// The handshake alone, on a socket connected here.
int handshakeWith(uint16_t port, int32_t selector, std::string& message) {
    auto addrs = platform::resolveHost("127.0.0.1", port);
    if (!addrs) return -2;
    auto sock = platform::openStreamSocket(platform::NetFamily::V4);
    if (!sock || (*sock)->setTimeouts(10000) != Err::None ||
        (*sock)->connect((*addrs)[0]) != Err::None) {
        return -3;
    }
    external::SslFunctions f = external::sslFunctions();
    ZvSocket handle = static_cast<ZvSocket>((*sock)->handle());
    char text[kZvMessageSize] = "localhost";
    const int rc = f.handShake(&handle, selector | kZvAcceptUnverified, text);
    message = text;
    char ignored[kZvMessageSize];
    if (rc != 1) f.shutdown(ignored);
    return rc;
}

TEST_F(Dovecot, NoVersionBelowTls12UnlessTheAccountAsksForIt) {
    ASSERT_NE(servers.tls11Only, 0);
    ASSERT_EQ(external::BindSslFunctions(t.env), 0);
    std::string message;
    EXPECT_EQ(handshakeWith(servers.tls11Only, kZvTlsDefault, message), 1) << message;
    EXPECT_EQ(handshakeWith(servers.tls11Only, kZvTls12, message), 1) << message;
#if !defined(_WIN32)
    // Wine's TLS stack may leave TLS 1.1 out whatever is asked; OpenSSL does as it is told.
    EXPECT_NE(handshakeWith(servers.tls11Only, kZvTls11, message), 1) << message;
#endif
}

#if !defined(_WIN32)
TEST_F(Dovecot, TrustedAuthorityVerifiesAndTheHostNameMustMatch) {
    ZvTest_SetExtraTrustFile(servers.caFile.c_str());
    t.env.logOut = true;
    Connection c(t.env);
    ASSERT_EQ(OpenServer(c, settings(1, servers.dovecotPop3s, "localhost"), Protocol::Pop3), 0);
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_NE(t.read("_Log\\通信ログ2501.txt").find("SSL接続しました。"), std::string::npos);
    c.close();

    // The certificate names "localhost" only.
    EXPECT_EQ(OpenServer(c, settings(1, servers.dovecotPop3s, "127.0.0.1"), Protocol::Pop3), 1);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_NE(t.reporter.lastText().find("サーバ証明書を検証できない"), std::string::npos);

    // STLS with the lowest version set to TLS 1.3.
    t.reporter.clear();
    ConnectionSettings s = settings(2, servers.dovecotPop3, "localhost");
    s.sslProtocol = kZvTls13;
    ASSERT_EQ(OpenServer(c, s, Protocol::Pop3), 0);
    EXPECT_EQ(login(c).substr(0, 3), "+OK");
}
#endif

}  // namespace
}  // namespace kolvy::pop
