#include "pop/testsupport/mailbox_server.h"

#include <algorithm>

#include "platform/platform.h"
#include "pop/md5.h"

namespace kolvy::test {
namespace {

// Accept waits are short so that destruction is quick; a session line may take long (tests of
// time-outs stall on purpose).
constexpr unsigned kAcceptPollMs = 100;
constexpr unsigned kLineWaitMs = 20000;

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

std::string stuffed(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 8);
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && c == '.') out.push_back('.');
        out.push_back(c);
        lineStart = c == '\n';
    }
    if (!lineStart) out += "\r\n";
    return out;
}

// The header and the first `lines` lines of the body.
std::string topOf(const std::string& text, long lines) {
    size_t end = text.find("\r\n\r\n");
    if (end == std::string::npos) return text;
    end += 4;
    for (long i = 0; i < lines && end < text.size(); ++i) {
        const size_t lf = text.find('\n', end);
        end = lf == std::string::npos ? text.size() : lf + 1;
    }
    return text.substr(0, end);
}

}  // namespace

MailboxServer::MailboxServer() {
    auto l = platform::listenLoopback();
    if (l) {
        listener_ = l.take();
        port_ = listener_->port();
        thread_ = std::thread([this] { serve(); });
    }
}

MailboxServer::~MailboxServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void MailboxServer::add(Message m) {
    std::lock_guard lock(mutex_);
    box_.push_back(std::move(m));
}
void MailboxServer::setCredentials(std::string user, std::string password) {
    std::lock_guard lock(mutex_);
    user_ = std::move(user);
    password_ = std::move(password);
}
void MailboxServer::setGreeting(std::string greeting) {
    std::lock_guard lock(mutex_);
    greeting_ = std::move(greeting);
}
void MailboxServer::setBytewise(bool on) {
    std::lock_guard lock(mutex_);
    bytewise_ = on;
}
void MailboxServer::inject(Fault f) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(f));
}
std::vector<MailboxServer::Message> MailboxServer::messages() {
    std::lock_guard lock(mutex_);
    return box_;
}
std::vector<std::vector<std::string>> MailboxServer::sessions() {
    std::lock_guard lock(mutex_);
    return sessions_;
}
std::vector<std::string> MailboxServer::lastSession() {
    std::lock_guard lock(mutex_);
    return sessions_.empty() ? std::vector<std::string>() : sessions_.back();
}
std::vector<std::string> MailboxServer::retrieved() {
    std::lock_guard lock(mutex_);
    return retrieved_;
}

std::optional<MailboxServer::Fault> MailboxServer::takeFault(const std::string& command,
                                                             int number) {
    std::lock_guard lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->command == command && (it->number == 0 || it->number == number)) {
            Fault f = *it;
            if (--it->times <= 0) faults_.erase(it);
            return f;
        }
    }
    return std::nullopt;
}

void MailboxServer::serve() {
    while (!stop_) {
        auto accepted = listener_->accept(kAcceptPollMs);
        if (!accepted) continue;
        std::unique_ptr<platform::Socket> s = accepted.take();
        s->setTimeouts(kLineWaitMs);
        {
            std::lock_guard lock(mutex_);
            sessions_.emplace_back();
        }
        session(*s);
        s->close();
    }
}

// Writes a reply, or what the fault leaves of it; false when the connection is to end.
bool MailboxServer::write(platform::Socket& s, const std::string& reply,
                          const std::optional<Fault>& fault) {
    std::string bytes = reply;
    if (fault && fault->kind == Fault::Refuse) bytes = "-ERR injected fault\r\n";
    if (fault && fault->kind != Fault::Refuse) {
        bytes.resize(std::min(bytes.size(), fault->afterBytes));
    }
    bool bytewise;
    {
        std::lock_guard lock(mutex_);
        bytewise = bytewise_;
    }
    if (bytewise) {
        for (char c : bytes) {
            if (s.send(std::string_view(&c, 1)) != Err::None) return false;
            platform::sleepMs(1);
        }
    } else if (!bytes.empty() && s.send(bytes) != Err::None) {
        return false;
    }
    if (fault && fault->kind == Fault::StallDuring) platform::sleepMs(fault->ms);
    return !(fault && fault->kind != Fault::Refuse);
}

void MailboxServer::session(platform::Socket& s) {
    std::vector<Message> box;
    std::string user, password, greeting;
    {
        std::lock_guard lock(mutex_);
        box = box_;
        user = user_;
        password = password_;
        greeting = greeting_;
    }
    std::vector<bool> deleted(box.size(), false);
    bool authorised = false;
    std::string givenUser;
    std::string pending;
    if (!write(s, greeting + "\r\n", takeFault("GREETING", 0))) return;

    auto sizeOf = [&](size_t i) {
        return box[i].listedSize ? *box[i].listedSize : static_cast<uint64_t>(box[i].text.size());
    };
    auto valid = [&](long n) {
        return n >= 1 && static_cast<size_t>(n) <= box.size() && !deleted[n - 1];
    };
    auto commit = [&] {
        std::lock_guard lock(mutex_);
        std::vector<Message> kept;
        for (size_t i = 0; i < box.size(); ++i)
            if (!deleted[i]) kept.push_back(box[i]);
        // Mail that arrived meanwhile stays.
        for (size_t i = box.size(); i < box_.size(); ++i)
            kept.push_back(box_[i]);
        box_ = std::move(kept);
    };
    for (;;) {
        size_t lf;
        while ((lf = pending.find('\n')) == std::string::npos) {
            char buf[4096];
            auto got = s.receive(buf);
            if (!got || *got == 0) return;  // gone without QUIT: nothing is committed
            pending.append(buf, *got);
        }
        std::string line = pending.substr(0, lf);
        pending.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        {
            std::lock_guard lock(mutex_);
            sessions_.back().push_back(line);
        }
        const size_t blank = line.find(' ');
        const std::string command = upper(line.substr(0, blank));
        const std::string args = blank == std::string::npos ? "" : line.substr(blank + 1);
        const long n = std::atol(args.c_str());
        const std::optional<Fault> fault = takeFault(command, static_cast<int>(n));
        const bool refused = fault && fault->kind == Fault::Refuse;
        std::string reply;
        if (command == "QUIT") {
            // The server enters its update state as soon as QUIT arrives, whether or not the
            // answer reaches the client; a refusal keeps everything.
            if (authorised && !refused) commit();
            write(s, "+OK bye\r\n", fault);
            return;
        }
        if (command == "CAPA") {
            reply = "+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.\r\n";
        } else if (!authorised) {
            if (command == "USER") {
                givenUser = args;
                reply = "+OK\r\n";
            } else if (command == "PASS") {
                authorised = !refused && givenUser == user && args == password;
                reply = authorised ? "+OK logged in\r\n" : "-ERR [AUTH] wrong\r\n";
            } else if (command == "APOP") {
                const size_t b = args.find(' ');
                const size_t open = greeting.find('<'), close = greeting.find('>');
                const std::string stamp = greeting.substr(open, close - open + 1);
                authorised = !refused && b != std::string::npos && args.substr(0, b) == user &&
                             args.substr(b + 1) == pop::md5Hex(stamp + password);
                reply = authorised ? "+OK logged in\r\n" : "-ERR [AUTH] wrong\r\n";
            } else {
                reply = "-ERR log in first\r\n";
            }
        } else if (command == "STAT") {
            size_t count = 0;
            uint64_t octets = 0;
            for (size_t i = 0; i < box.size(); ++i) {
                if (deleted[i]) continue;
                ++count;
                octets += sizeOf(i);
            }
            reply = "+OK " + std::to_string(count) + " " + std::to_string(octets) + "\r\n";
        } else if (command == "LIST" || command == "UIDL") {
            const bool list = command == "LIST";
            if (!args.empty()) {
                if (!valid(n)) {
                    reply = "-ERR no such message\r\n";
                } else {
                    reply = "+OK " + std::to_string(n) + " " +
                            (list ? std::to_string(sizeOf(n - 1)) : box[n - 1].uid) + "\r\n";
                }
            } else {
                reply = "+OK\r\n";
                for (size_t i = 0; i < box.size(); ++i) {
                    if (deleted[i]) continue;
                    if (list && box[i].unlisted) continue;
                    if (!list && box[i].uid.empty()) continue;
                    reply += std::to_string(i + 1) + " " +
                             (list ? std::to_string(sizeOf(i)) : box[i].uid) + "\r\n";
                }
                reply += ".\r\n";
            }
        } else if (command == "RETR" || command == "TOP") {
            if (!valid(n)) {
                reply = "-ERR no such message\r\n";
            } else {
                const Message& m = box[n - 1];
                std::string text = m.text;
                if (command == "TOP") {
                    const size_t b = args.find(' ');
                    text =
                        topOf(text, b == std::string::npos ? 0 : std::atol(args.c_str() + b + 1));
                }
                reply = "+OK " + std::to_string(sizeOf(n - 1)) + " octets\r\n" + stuffed(text) +
                        ".\r\n";
                if (!write(s, reply, fault)) return;
                if (command == "RETR" && !refused) {
                    std::lock_guard lock(mutex_);
                    retrieved_.push_back(m.uid.empty() ? m.text : m.uid);
                }
                continue;
            }
        } else if (command == "DELE") {
            if (!valid(n)) {
                reply = "-ERR no such message\r\n";
            } else {
                if (!refused) deleted[n - 1] = true;
                reply = "+OK deleted\r\n";
            }
        } else if (command == "NOOP") {
            reply = "+OK\r\n";
        } else if (command == "RSET") {
            std::fill(deleted.begin(), deleted.end(), false);
            reply = "+OK\r\n";
        } else {
            reply = "-ERR unknown command\r\n";
        }
        if (!write(s, reply, fault)) return;
    }
}

}  // namespace kolvy::test
