// Schannel's two certificate checks, told apart by their texts: the chain (the test authority is
// trusted by nobody) and the host name (the certificate names "localhost" only).
#include <gtest/gtest.h>

#include "pop/connection.h"
#include "pop/testsupport/real_servers.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

TEST(SchannelChecks, UntrustedIssuerAndWrongHostNameAreRefusedEachForItsReason) {
    auto servers = test::popServers();
    ASSERT_TRUE(servers.has_value());
    test::TestEnv t;
    ConnectionSettings s;
    s.port = servers->dovecotPop3s;
    s.sslMode = SslMode::OnConnect;
    s.timeoutMs = 10000;
    Connection c(t.env);

    s.host = "localhost";
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_NE(t.reporter.lastText().find("issuer not trusted"), std::string::npos);

    s.host = "127.0.0.1";
    EXPECT_EQ(OpenServer(c, s, Protocol::Pop3), 1);
    ASSERT_EQ(t.reporter.shown().size(), 2u);
    EXPECT_NE(t.reporter.lastText().find("host name mismatch"), std::string::npos);
    EXPECT_FALSE(SslActive());
}

}  // namespace
}  // namespace kolvy::pop
