// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <mutex>

#include "platform/socket.h"
#include "platform/socket_addr.h"

namespace kolvy::platform {
namespace {

// WinSock 2.2, started once for the process and kept until it ends.
bool startWinsock() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return ok;
}

class WinSocket final : public Socket {
  public:
    explicit WinSocket(SOCKET s, bool owned = true) : s_(s), owned_(owned) {}
    ~WinSocket() override { close(); }

    Err setTimeouts(unsigned milliseconds) override {
        const DWORD ms = milliseconds;
        const char* p = reinterpret_cast<const char*>(&ms);
        if (setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, p, sizeof ms) != 0) return fail();
        if (setsockopt(s_, SOL_SOCKET, SO_SNDTIMEO, p, sizeof ms) != 0) return fail();
        return Err::None;
    }

    Err connect(const NetAddress& address) override {
        if (::connect(s_, reinterpret_cast<const sockaddr*>(address.raw.data()),
                      static_cast<int>(address.raw.size())) != 0) {
            return fail();
        }
        // Commands are small and answered one by one: do not hold them back.
        const BOOL one = TRUE;
        setsockopt(s_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        return Err::None;
    }

    Result<size_t> receive(std::span<char> out) override {
        const int want = out.size() > 0x7fffffff ? 0x7fffffff : static_cast<int>(out.size());
        const int n = ::recv(s_, out.data(), want, 0);
        if (n == SOCKET_ERROR) return fail();
        return static_cast<size_t>(n);
    }

    Err send(std::string_view data) override {
        while (!data.empty()) {
            const int want = data.size() > 0x7fffffff ? 0x7fffffff : static_cast<int>(data.size());
            const int n = ::send(s_, data.data(), want, 0);
            if (n == SOCKET_ERROR) return fail();
            data.remove_prefix(static_cast<size_t>(n));
        }
        return Err::None;
    }

    int lastError() const override { return error_; }
    bool timedOut() const override { return error_ == WSAETIMEDOUT; }
    intptr_t handle() const override { return static_cast<intptr_t>(s_); }
    void close() override {
        if (s_ != INVALID_SOCKET && owned_) closesocket(s_);
        s_ = INVALID_SOCKET;
    }

  private:
    Err fail() {
        error_ = WSAGetLastError();
        return Err::Io;
    }
    SOCKET s_;
    bool owned_;
    int error_ = 0;
};

class WinListener final : public Listener {
  public:
    WinListener(SOCKET s, uint16_t port) : s_(s), port_(port) {}
    ~WinListener() override { close(); }
    uint16_t port() const override { return port_; }
    Result<std::unique_ptr<Socket>> accept(unsigned milliseconds) override {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s_, &set);
        timeval tv{static_cast<long>(milliseconds / 1000),
                   static_cast<long>((milliseconds % 1000) * 1000)};
        if (select(0, &set, nullptr, nullptr, &tv) <= 0) return Err::Io;
        const SOCKET c = ::accept(s_, nullptr, nullptr);
        if (c == INVALID_SOCKET) return Err::Io;
        const BOOL one = TRUE;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        return std::unique_ptr<Socket>(new WinSocket(c));
    }
    void close() override {
        if (s_ != INVALID_SOCKET) closesocket(s_);
        s_ = INVALID_SOCKET;
    }

  private:
    SOCKET s_;
    uint16_t port_;
};

}  // namespace

Result<std::vector<NetAddress>> resolveHost(std::string_view host, uint16_t port, int* errorCode) {
    if (!startWinsock()) {
        if (errorCode) *errorCode = WSANOTINITIALISED;
        return Err::Io;
    }
    std::vector<NetAddress> found;
    const int rc = sockaddr_util::lookUpStream(host, port, found);
    if (rc == 0 && !found.empty()) return found;
    if (errorCode) *errorCode = rc != 0 ? rc : WSAHOST_NOT_FOUND;
    return Err::NotFound;
}

std::unique_ptr<Socket> borrowSocket(intptr_t handle) {
    return std::make_unique<WinSocket>(static_cast<SOCKET>(handle), false);
}

Result<std::unique_ptr<Socket>> openStreamSocket(NetFamily family, int* errorCode) {
    if (!startWinsock()) {
        if (errorCode) *errorCode = WSANOTINITIALISED;
        return Err::Io;
    }
    const SOCKET s = ::socket(sockaddr_util::familyOf(family), SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        if (errorCode) *errorCode = WSAGetLastError();
        return Err::Io;
    }
    return std::unique_ptr<Socket>(new WinSocket(s));
}

Result<std::unique_ptr<Listener>> listenLoopback(NetFamily family, uint16_t port) {
    if (!startWinsock()) return Err::Io;
    const SOCKET s = ::socket(sockaddr_util::familyOf(family), SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return Err::Io;
    sockaddr_storage ss;
    int len = sockaddr_util::loopbackAddress(family, port, ss);
    if (::bind(s, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        closesocket(s);
        return Err::Io;
    }
    const uint16_t bound = sockaddr_util::portOf(family, ss);
    return std::unique_ptr<Listener>(new WinListener(s, bound));
}

int timeoutErrorCode() {
    return WSAETIMEDOUT;
}

}  // namespace kolvy::platform
