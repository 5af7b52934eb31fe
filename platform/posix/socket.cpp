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
#include "platform/socket_addr.h"

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
    std::vector<NetAddress> found;
    const int rc = sockaddr_util::lookUpStream(host, port, found);
    if (rc == 0 && !found.empty()) return found;
    if (errorCode) *errorCode = rc != 0 ? rc : EAI_NONAME;
    return Err::NotFound;
}

std::unique_ptr<Socket> borrowSocket(intptr_t handle) {
    return std::make_unique<PosixSocket>(static_cast<int>(handle), false);
}

Result<std::unique_ptr<Socket>> openStreamSocket(NetFamily family, int* errorCode) {
    const int fd =
        ::socket(sockaddr_util::familyOf(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        if (errorCode) *errorCode = errno;
        return Err::Io;
    }
    return std::unique_ptr<Socket>(new PosixSocket(fd));
}

Result<std::unique_ptr<Listener>> listenLoopback(NetFamily family, uint16_t port) {
    const int fd =
        ::socket(sockaddr_util::familyOf(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return Err::Io;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage ss;
    socklen_t len = sockaddr_util::loopbackAddress(family, port, ss);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        ::close(fd);
        return Err::Io;
    }
    const uint16_t bound = sockaddr_util::portOf(family, ss);
    return std::unique_ptr<Listener>(new PosixListener(fd, bound));
}

int timeoutErrorCode() {
    return ETIMEDOUT;
}

}  // namespace kolvy::platform
