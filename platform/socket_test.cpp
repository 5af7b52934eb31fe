#include "platform/socket.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"

namespace kolvy::platform {
namespace {

struct Pair {
    std::unique_ptr<Listener> listener;
    std::unique_ptr<Socket> client, server;
};

Pair connectedPair(unsigned timeoutMs) {
    Pair p;
    auto l = listenLoopback();
    EXPECT_TRUE(l.ok());
    if (!l) return p;
    p.listener = l.take();
    auto addrs = resolveHost("127.0.0.1", p.listener->port());
    EXPECT_TRUE(addrs.ok());
    if (!addrs) return p;
    auto s = openStreamSocket((*addrs)[0].family);
    EXPECT_TRUE(s.ok());
    if (!s) return p;
    p.client = s.take();
    EXPECT_EQ(p.client->setTimeouts(timeoutMs), Err::None);
    EXPECT_EQ(p.client->connect((*addrs)[0]), Err::None);
    auto a = p.listener->accept(5000);
    EXPECT_TRUE(a.ok());
    if (a) p.server = a.take();
    return p;
}

// What one side sends, as the other receives it.
std::string passed(Socket& from, Socket& to, std::string_view text) {
    EXPECT_EQ(from.send(text), Err::None);
    std::string got;
    char buf[64];
    while (got.size() < text.size()) {
        auto n = to.receive(buf);
        if (!n || *n == 0) break;
        got.append(buf, *n);
    }
    return got;
}

TEST(Sockets, LoopbackRoundTripAndEndOfStream) {
    Pair p = connectedPair(5000);
    ASSERT_TRUE(p.server && p.client);
    EXPECT_EQ(passed(*p.server, *p.client, "+OK ready\r\n"), "+OK ready\r\n");
    EXPECT_EQ(passed(*p.client, *p.server, "QUIT\r\n"), "QUIT\r\n");
    p.server->close();
    char buf[16];
    auto end = p.client->receive(buf);
    ASSERT_TRUE(end.ok());
    EXPECT_EQ(*end, 0u);  // the peer closed: end of stream, not an error
}

TEST(Sockets, ReceiveTimeOutIsReportedAsSuch) {
    Pair p = connectedPair(300);
    ASSERT_TRUE(p.server && p.client);
    char buf[16];
    auto n = p.client->receive(buf);  // the server says nothing
    EXPECT_FALSE(n.ok());
    EXPECT_TRUE(p.client->timedOut());
    EXPECT_EQ(p.client->lastError(), timeoutErrorCode());
}

TEST(Sockets, UnknownHostAndRefusedConnection) {
    int code = 0;
    EXPECT_EQ(resolveHost("no-such-host.invalid", 110, &code).error(), Err::NotFound);
    EXPECT_NE(code, 0);

    // A port nobody listens on: the listener is closed again before the connect.
    uint16_t port = 0;
    {
        auto l = listenLoopback();
        ASSERT_TRUE(l.ok());
        port = (*l)->port();
    }
    auto addrs = resolveHost("127.0.0.1", port);
    ASSERT_TRUE(addrs.ok());
    auto s = openStreamSocket(NetFamily::V4);
    ASSERT_TRUE(s.ok());
    EXPECT_EQ((*s)->connect((*addrs)[0]), Err::Io);
    EXPECT_NE((*s)->lastError(), 0);
}

TEST(Sockets, NamesWithAnIpv4AddressResolveToIt) {
    auto v4 = resolveHost("127.0.0.1", 110);
    ASSERT_TRUE(v4.ok());
    for (const NetAddress& a : *v4)
        EXPECT_EQ(a.family, NetFamily::V4);
    // A literal IPv6 address has only an IPv6 form: that is what is used.
    auto v6 = resolveHost("::1", 110);
    ASSERT_TRUE(v6.ok());
    EXPECT_EQ((*v6)[0].family, NetFamily::V6);
}

}  // namespace
}  // namespace kolvy::platform
