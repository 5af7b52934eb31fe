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

// Writes a reply, or what the fault leaves of it; false when the connection is to end.
bool MailboxServer::write(platform::Socket& s, const std::string& reply,
                          const std::optional<Fault>& fault) {
    std::string bytes = reply;
    if (fault && fault->kind == Fault::Refuse) bytes = "-ERR injected fault\r\n";
    if (fault && fault->kind != Fault::Refuse)
        bytes.resize(std::min(bytes.size(), fault->afterBytes));
    if (locked([&] { return bytewise_; })) {
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

// One client's session: its copy of the mailbox, the deletion marks and the login; one function
// per command.
struct MailboxServer::Dialogue {
    MailboxServer& server;
    platform::Socket& s;
    std::vector<Message> box;
    std::vector<bool> deleted;
    std::string user, password, greeting, givenUser;
    bool authorised = false;
    // The command being answered.
    std::string args;
    long n = 0;
    bool refused = false;
    std::optional<std::string> fetched;  // what a RETR sent whole, once written

    Dialogue(MailboxServer& m, platform::Socket& socket) : server(m), s(socket) {
        std::lock_guard lock(m.mutex_);
        box = m.box_;
        user = m.user_;
        password = m.password_;
        greeting = m.greeting_;
        deleted.assign(box.size(), false);
    }
    uint64_t sizeOf(size_t i) const {
        return box[i].listedSize ? *box[i].listedSize : static_cast<uint64_t>(box[i].text.size());
    }
    bool valid() const { return n >= 1 && static_cast<size_t>(n) <= box.size() && !deleted[n - 1]; }
    void commit() {
        std::lock_guard lock(server.mutex_);
        std::vector<Message> kept;
        for (size_t i = 0; i < box.size(); ++i)
            if (!deleted[i]) kept.push_back(box[i]);
        // Mail that arrived meanwhile stays.
        for (size_t i = box.size(); i < server.box_.size(); ++i)
            kept.push_back(server.box_[i]);
        server.box_ = std::move(kept);
    }

    std::string ok() { return "+OK\r\n"; }
    std::string capa() { return "+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.\r\n"; }
    std::string userName() {
        givenUser = args;
        return ok();
    }
    std::string loggedIn(bool right) {
        authorised = !refused && right;
        return authorised ? "+OK logged in\r\n" : "-ERR [AUTH] wrong\r\n";
    }
    std::string pass() { return loggedIn(givenUser == user && args == password); }
    std::string apop() {
        const size_t b = args.find(' ');
        const size_t open = greeting.find('<'), close = greeting.find('>');
        const std::string stamp = greeting.substr(open, close - open + 1);
        return loggedIn(b != std::string::npos && args.substr(0, b) == user &&
                        args.substr(b + 1) == pop::md5Hex(stamp + password));
    }
    std::string stat() {
        size_t count = 0;
        uint64_t octets = 0;
        for (size_t i = 0; i < box.size(); ++i) {
            if (deleted[i]) continue;
            ++count;
            octets += sizeOf(i);
        }
        return "+OK " + std::to_string(count) + " " + std::to_string(octets) + "\r\n";
    }
    std::string listing(bool list) {
        auto value = [&](size_t i) { return list ? std::to_string(sizeOf(i)) : box[i].uid; };
        if (!args.empty()) {
            if (!valid()) return "-ERR no such message\r\n";
            return "+OK " + std::to_string(n) + " " + value(n - 1) + "\r\n";
        }
        std::string reply = "+OK\r\n";
        for (size_t i = 0; i < box.size(); ++i) {
            if (deleted[i] || (list ? box[i].unlisted : box[i].uid.empty())) continue;
            reply += std::to_string(i + 1) + " " + value(i) + "\r\n";
        }
        return reply + ".\r\n";
    }
    std::string list() { return listing(true); }
    std::string uidl() { return listing(false); }
    std::string message(bool top) {
        if (!valid()) return "-ERR no such message\r\n";
        const Message& m = box[n - 1];
        std::string text = m.text;
        if (top) {
            const size_t b = args.find(' ');
            text = topOf(text, b == std::string::npos ? 0 : std::atol(args.c_str() + b + 1));
        } else if (!refused) {
            fetched = m.uid.empty() ? m.text : m.uid;
        }
        return "+OK " + std::to_string(sizeOf(n - 1)) + " octets\r\n" + stuffed(text) + ".\r\n";
    }
    std::string retr() { return message(false); }
    std::string top() { return message(true); }
    std::string dele() {
        if (!valid()) return "-ERR no such message\r\n";
        if (!refused) deleted[n - 1] = true;
        return "+OK deleted\r\n";
    }
    std::string rset() {
        std::fill(deleted.begin(), deleted.end(), false);
        return ok();
    }

    std::string answer(const std::string& command) {
        enum When { Always, BeforeLogin, AfterLogin };
        struct Entry {
            const char* name;
            When when;
            std::string (Dialogue::*handler)();
        };
        static const Entry table[] = {
            {"CAPA", Always, &Dialogue::capa},      {"USER", BeforeLogin, &Dialogue::userName},
            {"PASS", BeforeLogin, &Dialogue::pass}, {"APOP", BeforeLogin, &Dialogue::apop},
            {"STAT", AfterLogin, &Dialogue::stat},  {"LIST", AfterLogin, &Dialogue::list},
            {"UIDL", AfterLogin, &Dialogue::uidl},  {"RETR", AfterLogin, &Dialogue::retr},
            {"TOP", AfterLogin, &Dialogue::top},    {"DELE", AfterLogin, &Dialogue::dele},
            {"NOOP", AfterLogin, &Dialogue::ok},    {"RSET", AfterLogin, &Dialogue::rset},
        };
        for (const Entry& e : table) {
            if (command != e.name || (e.when == BeforeLogin && authorised)) continue;
            if (e.when == AfterLogin && !authorised) break;
            return (this->*e.handler)();
        }
        return authorised ? "-ERR unknown command\r\n" : "-ERR log in first\r\n";
    }

    // The next client line, line end removed; false when the client has gone.
    bool readLine(std::string& pending, std::string& line) {
        size_t lf;
        while ((lf = pending.find('\n')) == std::string::npos) {
            char buf[4096];
            auto got = s.receive(buf);
            if (!got || *got == 0) return false;
            pending.append(buf, *got);
        }
        line = pending.substr(0, lf);
        pending.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::lock_guard lock(server.mutex_);
        server.sessions_.back().push_back(line);
        return true;
    }

    void run() {
        if (!server.write(s, greeting + "\r\n", server.takeFault("GREETING", 0))) return;
        std::string pending, line;
        // Gone without QUIT: nothing is committed.
        while (readLine(pending, line)) {
            const size_t blank = line.find(' ');
            const std::string command = upper(line.substr(0, blank));
            args = blank == std::string::npos ? "" : line.substr(blank + 1);
            n = std::atol(args.c_str());
            const std::optional<Fault> fault = server.takeFault(command, static_cast<int>(n));
            refused = fault && fault->kind == Fault::Refuse;
            if (command == "QUIT") {
                // The server enters its update state as soon as QUIT arrives, whether or not the
                // answer reaches the client; a refusal keeps everything.
                if (authorised && !refused) commit();
                server.write(s, "+OK bye\r\n", fault);
                return;
            }
            fetched.reset();
            if (!server.write(s, answer(command), fault)) return;
            if (fetched) {
                std::lock_guard lock(server.mutex_);
                server.retrieved_.push_back(*fetched);
            }
        }
    }
};

void MailboxServer::serve() {
    while (!stop_) {
        auto accepted = listener_->accept(kAcceptPollMs);
        if (!accepted) continue;
        std::unique_ptr<platform::Socket> s = accepted.take();
        s->setTimeouts(kLineWaitMs);
        locked([&] { sessions_.emplace_back(); });
        Dialogue(*this, *s).run();
        s->close();
    }
}

}  // namespace kolvy::test
