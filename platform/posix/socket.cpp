#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/socket.h"

namespace kolvy::platform {
namespace {

class PosixSocket final : public Socket {
  public:
    explicit PosixSocket(int fd, bool owned = true) : fd_(fd), owned_(owned) {}
    ~PosixSocket() override { close(); }

    Err setTimeouts(unsigned milliseconds) override {
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
        tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
        if (setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return fail();
        if (setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) return fail();
        return Err::None;
    }

    Err connect(const NetAddress& address) override {
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(address.raw.data()),
                      static_cast<socklen_t>(address.raw.size())) != 0) {
            return fail();
        }
        // Commands are small and answered one by one: do not hold them back.
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return Err::None;
    }

    Result<size_t> receive(std::span<char> out) override {
        for (;;) {
            const ssize_t n = ::recv(fd_, out.data(), out.size(), 0);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno == EINTR) continue;
            return fail();
        }
    }

    Err send(std::string_view data) override {
        while (!data.empty()) {
            // MSG_NOSIGNAL: a peer that went away is an error value, not a signal.
            const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR) continue;
                return fail();
            }
            data.remove_prefix(static_cast<size_t>(n));
        }
        return Err::None;
    }

    int lastError() const override { return error_; }
    bool timedOut() const override { return timedOut_; }
    intptr_t handle() const override { return fd_; }
    void close() override {
        if (fd_ >= 0 && owned_) ::close(fd_);
        fd_ = -1;
    }

  private:
    Err fail() {
        const int e = errno;
        // A blocking socket whose time-out expired says "would block".
        timedOut_ = e == EAGAIN || e == EWOULDBLOCK || e == ETIMEDOUT;
        error_ = timedOut_ ? ETIMEDOUT : e;
        return Err::Io;
    }
    int fd_;
    bool owned_;
    int error_ = 0;
    bool timedOut_ = false;
};

int familyOf(NetFamily f) {
    return f == NetFamily::V4 ? AF_INET : AF_INET6;
}

class PosixListener final : public Listener {
  public:
    PosixListener(int fd, uint16_t port) : fd_(fd), port_(port) {}
    ~PosixListener() override { close(); }
    uint16_t port() const override { return port_; }
    Result<std::unique_ptr<Socket>> accept(unsigned milliseconds) override {
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(milliseconds));
        if (r <= 0) return Err::Io;
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return Err::Io;
        const int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return std::unique_ptr<Socket>(new PosixSocket(c));
    }
    void close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
    uint16_t port_;
};

}  // namespace

Result<std::vector<NetAddress>> resolveHost(std::string_view host, uint16_t port, int* errorCode) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_family = AF_UNSPEC;
    addrinfo* list = nullptr;
    const std::string name(host);
    const std::string service = std::to_string(port);
    const int rc = getaddrinfo(name.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        if (errorCode) *errorCode = rc;
        return Err::NotFound;
    }
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
    freeaddrinfo(list);
    if (!v4.empty()) return v4;
    if (!v6.empty()) return v6;
    if (errorCode) *errorCode = EAI_NONAME;
    return Err::NotFound;
}

std::unique_ptr<Socket> borrowSocket(intptr_t handle) {
    return std::make_unique<PosixSocket>(static_cast<int>(handle), false);
}

Result<std::unique_ptr<Socket>> openStreamSocket(NetFamily family, int* errorCode) {
    const int fd = ::socket(familyOf(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        if (errorCode) *errorCode = errno;
        return Err::Io;
    }
    return std::unique_ptr<Socket>(new PosixSocket(fd));
}

Result<std::unique_ptr<Listener>> listenLoopback(NetFamily family, uint16_t port) {
    const int fd = ::socket(familyOf(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return Err::Io;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (family == NetFamily::V4) {
        auto* a = reinterpret_cast<sockaddr_in*>(&ss);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof(sockaddr_in);
    } else {
        auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        a->sin6_addr = in6addr_loopback;
        len = sizeof(sockaddr_in6);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        ::close(fd);
        return Err::Io;
    }
    const uint16_t bound = family == NetFamily::V4
                               ? ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port)
                               : ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    return std::unique_ptr<Listener>(new PosixListener(fd, bound));
}

int timeoutErrorCode() {
    return ETIMEDOUT;
}

}  // namespace kolvy::platform
