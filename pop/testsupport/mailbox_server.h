// A POP3 server on 127.0.0.1 for the session tests that answers whatever the client asks from a
// mailbox of its own, as a real server does: numbers from 1 in each session, dot-stuffing,
// deletions kept only when QUIT is answered, a roll-back when the connection ends otherwise.
// Faults are injected per command and message number: a refusal, a connection closed or stalled
// in the middle of a reply, one-byte writes, listed sizes that lie, listings that differ.
// Sessions are served one after the other until the object is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace kolvy::test {

class MailboxServer {
  public:
    struct Message {
        std::string text;                    // CR LF lines, not stuffed, without the "." line
        std::string uid;                     // empty: the UIDL listing leaves it out
        std::optional<uint64_t> listedSize;  // what LIST says; by default the text's size
        bool unlisted = false;               // LIST leaves it out
    };
    static Message message(std::string text, std::string uid,
                           std::optional<uint64_t> listedSize = std::nullopt) {
        return {std::move(text), std::move(uid), listedSize};
    }
    struct Fault {
        enum Kind {
            Refuse,       // "-ERR" instead of the reply (DELE: not marked; QUIT: not kept)
            CloseDuring,  // `afterBytes` bytes of the reply, then the connection closes
            StallDuring,  // `afterBytes` bytes, a pause of `ms`, then the connection closes
        } kind = Refuse;
        std::string command;  // upper case: "RETR", "LIST", "USER", ..., "GREETING"
        int number = 0;       // message number the command names; 0 = any
        size_t afterBytes = 0;
        unsigned ms = 0;
        int times = 1;  // how many sessions meet it
    };
    static Fault fault(Fault::Kind kind, std::string command, int number = 0, size_t afterBytes = 0,
                       unsigned ms = 0) {
        return {kind, std::move(command), number, afterBytes, ms};
    }

    MailboxServer();
    ~MailboxServer();
    MailboxServer(const MailboxServer&) = delete;
    MailboxServer& operator=(const MailboxServer&) = delete;

    uint16_t port() const { return port_; }
    void add(Message m) {
        locked([&] { box_.push_back(std::move(m)); });
    }
    void setCredentials(std::string user, std::string password) {
        locked([&] { user_ = std::move(user), password_ = std::move(password); });
    }
    // Default: "+OK <1896.697170952@fake> ready".
    void setGreeting(std::string greeting) {
        locked([&] { greeting_ = std::move(greeting); });
    }
    void setBytewise(bool on) {
        locked([&] { bytewise_ = on; });
    }  // replies one byte per write
    void inject(Fault f) {
        locked([&] { faults_.push_back(std::move(f)); });
    }

    // The mailbox after the sessions so far (committed state).
    std::vector<Message> messages() {
        return locked([&] { return box_; });
    }
    // Client lines of each session, line ends removed.
    std::vector<std::vector<std::string>> sessions() {
        return locked([&] { return sessions_; });
    }
    std::vector<std::string> lastSession() {
        return locked(
            [&] { return sessions_.empty() ? std::vector<std::string>() : sessions_.back(); });
    }
    // Messages (by uid, or text when without uid) sent whole by RETR in all sessions.
    std::vector<std::string> retrieved() {
        return locked([&] { return retrieved_; });
    }

  private:
    struct Dialogue;
    template <class F>
    auto locked(F f) -> decltype(f()) {
        std::lock_guard lock(mutex_);
        return f();
    }
    void serve();
    bool write(platform::Socket& s, const std::string& reply, const std::optional<Fault>& fault);
    std::optional<Fault> takeFault(const std::string& command, int number);

    std::unique_ptr<platform::Listener> listener_;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Message> box_;
    std::vector<Fault> faults_;
    std::vector<std::vector<std::string>> sessions_;
    std::vector<std::string> retrieved_;
    std::string user_ = "taro", password_ = "secret";
    std::string greeting_ = "+OK <1896.697170952@fake> ready";
    bool bytewise_ = false;
};

}  // namespace kolvy::test
