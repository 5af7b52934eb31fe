// Blocking TCP sockets: WinSock 2.2 on Win32, POSIX sockets natively. The dialogue code above
// sees only this interface; the TLS layer gets the native handle.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace kolvy::platform {

enum class NetFamily { V4, V6 };

// One address of a resolved host, in the platform's own socket-address form.
struct NetAddress {
    NetFamily family = NetFamily::V4;
    std::string raw;  // the sockaddr bytes
};

// The host's IPv4 addresses, or its IPv6 ones when it has no IPv4 address. `errorCode` gets
// the resolver's code on failure (Err::NotFound: no such host).
Result<std::vector<NetAddress>> resolveHost(std::string_view host, uint16_t port,
                                            int* errorCode = nullptr);

class Socket {
  public:
    virtual ~Socket() = default;  // closes
    // Receive time-out, then send time-out, both in milliseconds.
    virtual Err setTimeouts(unsigned milliseconds) = 0;
    virtual Err connect(const NetAddress& address) = 0;
    // Up to out.size() bytes; 0 = the peer closed the stream. Err::Io on an error or time-out.
    virtual Result<size_t> receive(std::span<char> out) = 0;
    // All the bytes or Err::Io.
    virtual Err send(std::string_view data) = 0;
    // The platform's code of the last failure (WSAGetLastError / errno).
    virtual int lastError() const = 0;
    // Whether the last failure was a receive or send time-out.
    virtual bool timedOut() const = 0;
    // The handle the TLS layer works on (SOCKET / file descriptor).
    virtual intptr_t handle() const = 0;
    virtual void close() = 0;
};

// A new stream socket of the family; `errorCode` gets the platform's code on failure.
Result<std::unique_ptr<Socket>> openStreamSocket(NetFamily family, int* errorCode = nullptr);

// A socket that another module connected (a plug-in holding its own connection), used without
// taking it over: closing or destroying the object leaves the socket open for its owner.
std::unique_ptr<Socket> borrowSocket(intptr_t handle);

// A listening socket on a loopback address, for the servers of the tests.
class Listener {
  public:
    virtual ~Listener() = default;
    virtual uint16_t port() const = 0;
    // Waits at most `milliseconds` for the next connection.
    virtual Result<std::unique_ptr<Socket>> accept(unsigned milliseconds) = 0;
    virtual void close() = 0;
};
// port 0 = any free port.
Result<std::unique_ptr<Listener>> listenLoopback(NetFamily family = NetFamily::V4,
                                                 uint16_t port = 0);

// The platform's code for a time-out (WSAETIMEDOUT = 10060 on Win32, ETIMEDOUT natively).
int timeoutErrorCode();

}  // namespace kolvy::platform
