// One connection to a POP3 or SMTP server: connect with time-outs, read the greeting, bring up
// TLS (on connect, or after STLS / STARTTLS), log in with APOP, and the primitives every
// dialogue uses — send a command and collect its complete reply, receive a chunk, receive a
// whole multi-line reply. Blocking; runs on the receive or send thread, one connection at a
// time (the SSL library holds a single TLS session for the process).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "external/ssl_binding.h"
#include "platform/env.h"
#include "platform/socket.h"
#include "pop/reply.h"

namespace kolvy::pop {

enum class Protocol { Pop3 = 0, Smtp = 1 };

// How TLS comes up: the account's RecvSSL / SendSSL value.
enum class SslMode {
    Plain = 0,
    OnConnect = 1,  // TLS from the first byte; the greeting comes through it
    StartTls = 2,   // greeting, then STLS (POP3) or EHLO and STARTTLS (SMTP), then TLS
};
// The mode an account's setting names; values it does not know mean plain.
SslMode sslModeOf(int32_t setting);

// What a connection needs of an account (the account record fills it).
struct ConnectionSettings {
    std::string host;  // POP3 or SMTP server name
    uint16_t port = 0;
    SslMode sslMode = SslMode::Plain;
    int32_t sslProtocol = 0;  // lowest TLS version allowed (kZvTls…; 0 = TLS 1.2)
    int certSsl = 1;          // 1 verify the certificate; 0 accept one that cannot be verified
    unsigned timeoutMs = 60000;
    std::string user, password;
    bool apop = false;  // POP3: log in with APOP while opening
};

// Single-line replies are collected into buffers of this size; a longer one is a broken server.
inline constexpr size_t kLineReplyCapacity = 2048;
// LIST and UIDL replies of large mailboxes are collected whole, up to this size.
inline constexpr size_t kListReplyCapacity = 10'000'000;
// One receive from the socket: what a busy server sends in one go.
inline constexpr size_t kPlainReceiveSize = 32768;
// One read through the SSL library: one TLS record.
inline constexpr size_t kTlsReceiveSize = 16384;

// 1 around each blocking look-up, connect and receive, 0 otherwise; the main window's timer
// counts it up while it is non-zero to show that the line is busy.
extern std::atomic<int> BlockingSeconds;
// Whether a TLS session of the SSL library is up in this process.
bool SslActive();

// The status number the connection gives while it connects.
inline constexpr int kConnectingStatus = 12;

// The fixed texts of the connection layer.
inline constexpr char kTextSocketErrorOnReply[] =
    "コマンドに対する返信の取得中にソケットエラーが発生しました。    ";
inline constexpr char kTextNoReply[] = "サーバからコマンドに対する返信が返ってきません。    ";
inline constexpr char kTextStartTlsRefused[] = "サーバがSTARTTLSコマンドを拒否しました。";

class Connection {
  public:
    explicit Connection(Env& env);
    ~Connection();  // close()
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isOpen() const { return socket_ != nullptr; }
    // The dialogue cannot go on (read or write failed, reply cut short or out of step): close
    // without QUIT. A refused command ("-ERR", a wrong code) leaves the connection usable.
    bool broken() const { return broken_ || !socket_; }
    bool tlsActive() const { return tls_; }
    Protocol protocol() const { return protocol_; }
    const std::string& greeting() const { return greeting_; }
    // The platform's code of the last socket failure.
    int lastSocketError() const { return lastError_; }
    Env& env() { return env_; }

    // Where commands and replies are written; by default the communication log when the run is
    // unattended or LogOut is on.
    void setConversationLog(std::function<void(std::string_view)> log) { log_ = std::move(log); }
    // Status numbers of the run's status line (kConnectingStatus).
    void setStatusHook(std::function<void(int)> hook) { status_ = std::move(hook); }

    // Ends the connection: TLS session shut down, then the socket closed, then the flag
    // cleared, on every path. Safe to call twice. A borrowed connection is only let go: its
    // owner keeps the socket and the TLS session.
    void close();

    // Works on a socket that someone else connected (and, with `tls`, on the process's TLS
    // session over it, whose functions must be bound); nothing has been read from it yet.
    void borrow(std::unique_ptr<platform::Socket> socket, Protocol which, bool tls);

    // --- used by the primitives below
    void conversation(std::string_view text);
    void status(int state) {
        if (status_) status_(state);
    }
    // Next bytes of the stream: what was read ahead, or one receive of at most `max` bytes.
    // Failure (error, time-out, end of stream) marks the connection broken.
    Result<std::string_view> nextBytes(size_t max);
    // Gives back the last `n` bytes of what nextBytes returned: they belong to the next reply.
    void unread(size_t n) { pos_ -= n; }
    bool hasReadAhead() const { return pos_ < inEnd_; }
    size_t receiveSize() const { return tls_ ? kTlsReceiveSize : kPlainReceiveSize; }
    // Sends the line (no NUL inside). On failure the connection is broken and `why` holds the
    // SSL library's text (empty for a plain socket failure).
    bool writeLine(const std::string& line, std::string& why);
    bool lastReadWasEnd() const { return endOfStream_; }

  private:
    friend int OpenServer(Connection&, const ConnectionSettings&, Protocol);
    friend struct OpenSteps;
    bool handshake(const ConnectionSettings& s);

    Env& env_;
    Protocol protocol_ = Protocol::Pop3;
    std::unique_ptr<platform::Socket> socket_;
    bool tls_ = false;
    external::SslFunctions ssl_;  // bound before the handshake
    bool broken_ = false;
    bool borrowed_ = false;
    bool endOfStream_ = false;
    int lastError_ = 0;
    std::string greeting_;
    std::string in_;  // the last receive: [pos_, inEnd_) is not yet taken
    size_t pos_ = 0, inEnd_ = 0;
    std::function<void(std::string_view)> log_;
    std::function<void(int)> status_;
};

struct CommandOptions {
    // The frame of the reply; by default from the protocol and the command.
    std::optional<ReplyKind> kind;
    // Bytes the reply may take.
    size_t capacity = kLineReplyCapacity;
    // The whole line is a credential (an SMTP AUTH response): logged as "-----".
    bool secret = false;
};

// Connects to the server of `which`, applies the time-out, reads the greeting, brings up TLS as
// the mode says and (POP3 with APOP) logs in. 0 ok, 1 failure (reported).
int OpenServer(Connection& conn, const ConnectionSettings& settings, Protocol which);

// Sends "command\r\n", or "command argument\r\n" when an argument is given (an argument "0" is
// sent as "0"), and collects the complete reply into `reply`. 0 ok (the reply may still be a
// refusal), 1 failure (reported; see Connection::broken()).
int SendCommand(Connection& conn, std::string& reply, std::string_view command,
                std::optional<std::string_view> argument, const CommandOptions& options = {});

enum class ReceiveFailure { None, Socket, EndOfStream, TooLong };

// Collects one reply of the given frame into `reply` (never beyond `capacity` bytes), without
// reporting: the caller words the failure. Bytes after the reply stay for the next one.
ReceiveFailure ReadReply(Connection& conn, std::string& reply, ReplyKind kind, size_t capacity);

// Reads one reply line (POP3) or one complete reply (SMTP, whose greeting may have several
// lines) into `reply`. 0 ok, 1 failure.
int ReadReplyLine(Connection& conn, std::string& reply, size_t capacity = kLineReplyCapacity);

// One receive appended to `buffer`, never more than the room left below `capacity`; `count`
// grows by the bytes received. 0 ok, 1 error, time-out, end of stream or no room left.
int ReceiveChunk(Connection& conn, std::string& buffer, size_t capacity, uint64_t& count);

// What one receive of a multi-line reply brought.
struct ReceivedChunk {
    std::string_view bytes;   // the input bytes that belong to the reply (stuffing dots included)
    bool statusLine = false;  // the chunk began inside the status line
    uint64_t received = 0;    // input bytes of the reply so far
};
// Told after every receive (progress, the raw log); false stops a reply that has not ended yet
// as too long.
using ChunkHook = std::function<bool(const ReceivedChunk&)>;

// Receives the rest of a multi-line reply (RETR, TOP) through the decoder, appending the
// decoded text to `out` (never beyond `capacity` bytes), without reporting. `chunk` is told
// after every receive. None when the reply is complete (see decoder.negative() for a refusal);
// TooLong when the text outgrew `capacity` or the hook stopped it (the connection is closed,
// being out of step).
ReceiveFailure ReceiveMultiLine(Connection& conn, MultiLineDecoder& decoder, std::string& out,
                                size_t capacity, const ChunkHook& chunk = {});

// The text a log line shows for a command line: credentials become "-----".
std::string maskedForLog(std::string_view line, bool secret = false);

// The APOP timestamp of a greeting: the first "<…>" in it, else its last word.
std::string apopTimestamp(std::string_view greeting);

}  // namespace kolvy::pop
