// The socket-address work both socket backends share: WinSock and POSIX sockets spell the
// resolver and the address structures alike, only their headers differ.
#pragma once

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/socket.h"

namespace kolvy::platform::sockaddr_util {

inline int familyOf(NetFamily f) {
    return f == NetFamily::V4 ? AF_INET : AF_INET6;
}

// The host's stream addresses: its IPv4 ones, or its IPv6 ones when it has no IPv4 address;
// `out` stays empty when it has neither. Returns getaddrinfo's code.
inline int lookUpStream(std::string_view host, uint16_t port, std::vector<NetAddress>& out) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_family = AF_UNSPEC;
    addrinfo* list = nullptr;
    const std::string name(host);
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(name.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) return rc;
    std::vector<NetAddress> v4, v6;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        NetAddress addr;
        addr.raw.assign(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen);
        if (a->ai_family == AF_INET) {
            addr.family = NetFamily::V4;
            v4.push_back(std::move(addr));
        } else if (a->ai_family == AF_INET6) {
            addr.family = NetFamily::V6;
            v6.push_back(std::move(addr));
        }
    }
    if (list) freeaddrinfo(list);
    out = !v4.empty() ? std::move(v4) : std::move(v6);
    return 0;
}

// The loopback address of the family at `port` in `ss`; returns its length.
inline int loopbackAddress(NetFamily family, uint16_t port, sockaddr_storage& ss) {
    ss = sockaddr_storage{};
    if (family == NetFamily::V4) {
        auto* a = reinterpret_cast<sockaddr_in*>(&ss);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return sizeof(sockaddr_in);
    }
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(port);
    a->sin6_addr = in6addr_loopback;
    return sizeof(sockaddr_in6);
}

inline uint16_t portOf(NetFamily family, const sockaddr_storage& ss) {
    return family == NetFamily::V4 ? ntohs(reinterpret_cast<const sockaddr_in*>(&ss)->sin_port)
                                   : ntohs(reinterpret_cast<const sockaddr_in6*>(&ss)->sin6_port);
}

}  // namespace kolvy::platform::sockaddr_util
