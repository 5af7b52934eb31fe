#include "pop/testsupport/fake_server.h"

#include "platform/platform.h"

namespace kolvy::test {
namespace {
// How long the server waits for a client to connect, or for a client line.
constexpr unsigned kAcceptWaitMs = 10000;
constexpr unsigned kLineWaitMs = 10000;
}  // namespace

FakeServer::FakeServer(platform::NetFamily family) {
    auto l = platform::listenLoopback(family);
    if (l) {
        listener_ = l.take();
        port_ = listener_->port();
    }
}

FakeServer::~FakeServer() {
    if (thread_.joinable()) thread_.join();
}

void FakeServer::start() {
    thread_ = std::thread([this] { run(); });
}

void FakeServer::finish(unsigned milliseconds) {
    finishWait_ = milliseconds;
    if (thread_.joinable()) thread_.join();
}

bool FakeServer::readOneLine(platform::Socket& s, std::string& line) {
    for (;;) {
        const size_t lf = pending_.find('\n');
        if (lf != std::string::npos) {
            line = pending_.substr(0, lf + 1);
            pending_.erase(0, lf + 1);
            return true;
        }
        char buf[4096];
        auto n = s.receive(buf);
        if (!n || *n == 0) return false;
        pending_.append(buf, *n);
    }
}

void FakeServer::run() {
    if (!listener_) {
        std::lock_guard lock(mutex_);
        ending_ = Ending::NoClient;
        return;
    }
    auto accepted = listener_->accept(kAcceptWaitMs);
    if (!accepted) {
        std::lock_guard lock(mutex_);
        ending_ = Ending::NoClient;
        return;
    }
    std::unique_ptr<platform::Socket> s = accepted.take();
    s->setTimeouts(kLineWaitMs);
    for (const Step& step : steps_) {
        switch (step.kind) {
            case Step::Send:
                s->send(step.bytes);
                break;
            case Step::SendBytewise:
                for (char c : step.bytes) {
                    if (s->send(std::string_view(&c, 1)) != Err::None) break;
                    platform::sleepMs(1);  // each byte its own segment
                }
                break;
            case Step::Read: {
                std::string line;
                if (!readOneLine(*s, line)) {
                    std::lock_guard lock(mutex_);
                    ending_ = Ending::ClientVanished;
                    return;
                }
                std::lock_guard lock(mutex_);
                transcript_.push_back(line);
                break;
            }
            case Step::ReadData: {
                std::string data, line;
                while (line != ".\r\n") {
                    if (!readOneLine(*s, line)) {
                        std::lock_guard lock(mutex_);
                        if (!data.empty()) transcript_.push_back(data);
                        ending_ = Ending::ClientVanished;
                        return;
                    }
                    data += line;
                }
                std::lock_guard lock(mutex_);
                transcript_.push_back(data);
                break;
            }
            case Step::Stall:
                platform::sleepMs(step.ms);
                break;
            case Step::Close: {
                s->close();
                std::lock_guard lock(mutex_);
                ending_ = Ending::ServerClosed;
                return;
            }
        }
    }
    // The script is over: note what else comes until the client closes.
    s->setTimeouts(finishWait_);
    std::string line;
    while (readOneLine(*s, line)) {
        std::lock_guard lock(mutex_);
        after_.push_back(line);
    }
    std::lock_guard lock(mutex_);
    ending_ = s->timedOut() ? Ending::ClientSilent : Ending::ClientClosed;
}

}  // namespace kolvy::test
