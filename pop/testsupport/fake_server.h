// A scripted POP3/SMTP server on 127.0.0.1 for the tests: it plays a list of steps against one
// client — replies written whole or one byte per write, reads of the client's lines, stalls,
// a close in the middle of a reply — and records what the client sent and how the session
// ended.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace kolvy::test {

class FakeServer {
  public:
    explicit FakeServer(platform::NetFamily family = platform::NetFamily::V4);
    ~FakeServer();  // waits for the script to end
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    // Building the script (before start()).
    FakeServer& send(std::string bytes) { return add(Step::Send, std::move(bytes)); }
    // One write per byte.
    FakeServer& sendBytewise(std::string bytes) {
        return add(Step::SendBytewise, std::move(bytes));
    }
    FakeServer& readLine() { return add(Step::Read); }  // one client line into the transcript
    FakeServer& readLines(int n) {
        for (int i = 0; i < n; ++i)
            readLine();
        return *this;
    }
    // The text after an SMTP DATA: lines up to and including ".\r\n", one transcript entry.
    FakeServer& readData() { return add(Step::ReadData); }
    FakeServer& stall(unsigned milliseconds) { return add(Step::Stall, {}, milliseconds); }
    FakeServer& closeNow() { return add(Step::Close); }  // ends the connection where it stands

    // Accepts one client and plays the script on its own thread.
    void start();
    uint16_t port() const { return port_; }
    // Waits for the end: the script played and the client closed (or `milliseconds` passed).
    void finish(unsigned milliseconds = 10000);

    // The client's lines, each with its line end as sent.
    std::vector<std::string> transcript() { return locked(transcript_); }
    enum class Ending {
        Running,
        ClientClosed,    // after the script the client closed the connection
        ServerClosed,    // the script closed it
        ClientSilent,    // the client kept the connection open past the wait
        ClientVanished,  // the client closed while the script still expected a line
        NoClient,        // nobody connected
    };
    Ending ending() { return locked(ending_); }
    // Lines the client sent after the script had ended (should usually be none or "QUIT").
    std::vector<std::string> afterScript() { return locked(after_); }

  private:
    struct Step {
        enum Kind { Send, SendBytewise, Read, ReadData, Stall, Close } kind;
        std::string bytes;
        unsigned ms = 0;
    };
    FakeServer& add(Step::Kind kind, std::string bytes = {}, unsigned ms = 0) {
        steps_.push_back({kind, std::move(bytes), ms});
        return *this;
    }
    template <class T>
    T locked(const T& value) {
        std::lock_guard lock(mutex_);
        return value;
    }
    void run();
    bool readOneLine(platform::Socket& s, std::string& line);

    std::vector<Step> steps_;
    std::unique_ptr<platform::Listener> listener_;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> transcript_, after_;
    Ending ending_ = Ending::Running;
    std::string pending_;
    unsigned finishWait_ = 10000;
};

}  // namespace kolvy::test
