#include "pop/connection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/ascii.h"
#include "pop/md5.h"
#include "report/logs.h"
#include "report/report.h"

namespace kolvy::pop {

std::atomic<int> BlockingSeconds{0};

namespace {

std::atomic<bool> g_sslActive{false};

// Marks a blocking call for the busy display.
struct Blocking {
    Blocking() { BlockingSeconds = 1; }
    ~Blocking() { BlockingSeconds = 0; }
    Blocking(const Blocking&) = delete;
    Blocking& operator=(const Blocking&) = delete;
};

constexpr char kMask[] = "-----";

using ascii::equalsNoCase;

// Whether one line of a capability list (CAPA) or of an EHLO reply names the capability.
bool hasCapability(std::string_view reply, std::string_view name, bool smtp) {
    size_t start = 0;
    while (start < reply.size()) {
        size_t end = reply.find('\n', start);
        if (end == std::string_view::npos) end = reply.size();
        std::string_view line = reply.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (smtp && line.size() >= 4) line.remove_prefix(4);  // "250-" / "250 "
        const size_t blank = line.find(' ');
        if (equalsNoCase(line.substr(0, blank), name)) return true;
        start = end + 1;
    }
    return false;
}

ReplyKind defaultKind(Protocol p, std::string_view command, bool hasArgument) {
    if (p == Protocol::Smtp) return ReplyKind::Smtp;
    if (equalsNoCase(command, "CAPA")) return ReplyKind::MultiLine;
    if (equalsNoCase(command, "RETR") || equalsNoCase(command, "TOP")) {
        return ReplyKind::MultiLine;
    }
    // With a message number LIST and UIDL answer in one line.
    if ((equalsNoCase(command, "LIST") || equalsNoCase(command, "UIDL")) && !hasArgument) {
        return ReplyKind::MultiLine;
    }
    return ReplyKind::Line;
}

bool lineSafe(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

void presentSocketError(Connection& conn) {
    char code[48];
    std::snprintf(code, sizeof code, "エラーコード: %d\n", conn.lastSocketError());
    report::report(conn.env(), kTextSocketErrorOnReply,
                   std::string(kTextSocketErrorOnReply) + code);
}

// Collects one framed reply; 0 ok, 1 failure (reported).
int collectReply(Connection& conn, std::string& reply, ReplyKind kind, size_t capacity) {
    switch (ReadReply(conn, reply, kind, capacity)) {
        case ReceiveFailure::None:
            return 0;
        case ReceiveFailure::TooLong:
            // The buffer is full and the reply goes on: nothing after it can be trusted.
            report::report(conn.env(), kTextNoReply, kTextNoReply);
            conn.close();
            return 1;
        default:
            presentSocketError(conn);
            return 1;
    }
}

}  // namespace

bool SslActive() {
    return g_sslActive;
}

Connection::Connection(Env& env) : env_(env) {}

Connection::~Connection() {
    close();
}

void Connection::close() {
    if (tls_ && !borrowed_) {
        char message[kZvMessageSize] = {};
        if (ssl_.shutdown) ssl_.shutdown(message);
    }
    if (socket_) socket_->close();
    socket_.reset();
    tls_ = false;
    if (!borrowed_) g_sslActive = false;
    borrowed_ = false;
    pos_ = inEnd_ = 0;
}

void Connection::borrow(std::unique_ptr<platform::Socket> socket, Protocol which, bool tls) {
    close();
    protocol_ = which;
    broken_ = false;
    greeting_.clear();
    socket_ = std::move(socket);
    borrowed_ = true;
    if (tls) {
        ssl_ = external::sslFunctions();
        tls_ = ssl_.complete();
        broken_ = !tls_;
    }
}

void Connection::conversation(std::string_view text) {
    if (log_) {
        log_(text);
    } else {
        report::logFailure(env_, text);
    }
}

Result<std::string_view> Connection::nextBytes(size_t max) {
    if (pos_ < inEnd_) {
        const size_t n = std::min(max, inEnd_ - pos_);
        std::string_view v(in_.data() + pos_, n);
        pos_ += n;
        return v;
    }
    endOfStream_ = false;
    if (!socket_ || broken_ || max == 0) {
        broken_ = true;
        return Err::Io;
    }
    // The buffer only grows: a server writing one byte at a time costs one byte per receive.
    if (in_.size() < max) in_.resize(max);
    pos_ = inEnd_ = 0;
    int got = -1;
    {
        Blocking b;
        if (tls_) {
            const int want = max > 0x7fffffff ? 0x7fffffff : static_cast<int>(max);
            got = ssl_.read(in_.data(), want);
            if (got < 0) lastError_ = socket_->lastError();
        } else {
            auto n = socket_->receive(std::span<char>(in_.data(), max));
            if (n) {
                got = static_cast<int>(*n);
            } else {
                lastError_ = socket_->lastError();
            }
        }
    }
    if (got <= 0) {
        endOfStream_ = got == 0;
        broken_ = true;
        return Err::Io;
    }
    inEnd_ = static_cast<size_t>(got);
    pos_ = inEnd_;
    return std::string_view(in_.data(), inEnd_);
}

bool Connection::writeLine(const std::string& line, std::string& why) {
    why.clear();
    if (!socket_ || broken_) {
        broken_ = true;
        return false;
    }
    if (tls_) {
        char message[kZvMessageSize] = {};
        if (ssl_.write(line.c_str(), message) != 0) {
            why = message;
            broken_ = true;
            return false;
        }
        return true;
    }
    if (socket_->send(line) != Err::None) {
        lastError_ = socket_->lastError();
        broken_ = true;
        return false;
    }
    return true;
}

bool Connection::handshake(const ConnectionSettings& s) {
    ssl_ = external::sslFunctions();
    if (!ssl_.complete()) return false;
    // Bytes that came before the handshake would be taken for protected ones.
    if (hasReadAhead()) {
        broken_ = true;
        return false;
    }
    conversation("SSLネゴシエーション");
    char message[kZvMessageSize] = {};
    std::snprintf(message, sizeof message, "%s", s.host.c_str());
    int32_t selector = s.sslProtocol & kZvVersionMask;
    if (s.certSsl == 0) selector |= kZvAcceptUnverified;
    ZvSocket handle = static_cast<ZvSocket>(socket_->handle());
    int rc;
    {
        Blocking b;
        rc = ssl_.handShake(&handle, selector, message);
    }
    if (rc == 1) {
        // A failure is an error line of its own, wherever the conversation goes.
        report::report(env_, message, message);
        close();
        return false;
    }
    conversation(message);
    conversation("SSL開始");
    tls_ = true;
    g_sslActive = true;
    return true;
}

std::string maskedForLog(std::string_view line, bool secret) {
    std::string_view body = line;
    std::string_view end;
    if (body.size() >= 2 && body.substr(body.size() - 2) == "\r\n") {
        end = body.substr(body.size() - 2);
        body.remove_suffix(2);
    }
    if (secret) return std::string(kMask) + std::string(end);
    const size_t blank = body.find(' ');
    const std::string_view word = body.substr(0, blank);
    std::string out;
    if (blank != std::string_view::npos &&
        (equalsNoCase(word, "PASS") || equalsNoCase(word, "AUTH") || equalsNoCase(word, "APOP"))) {
        std::string_view keep = word;
        // AUTH and APOP keep their next word (mechanism, user); the rest is the secret.
        if (!equalsNoCase(word, "PASS")) {
            const size_t second = body.find(' ', blank + 1);
            if (second == std::string_view::npos) return std::string(line);
            keep = body.substr(0, second);
        }
        out.assign(keep);
        out += ' ';
        out += kMask;
        out += end;
        return out;
    }
    return std::string(line);
}

std::string apopTimestamp(std::string_view greeting) {
    while (!greeting.empty() && (greeting.back() == '\r' || greeting.back() == '\n')) {
        greeting.remove_suffix(1);
    }
    const size_t open = greeting.find('<');
    if (open != std::string_view::npos) {
        const size_t close = greeting.find('>', open);
        if (close != std::string_view::npos) {
            return std::string(greeting.substr(open, close - open + 1));
        }
    }
    const size_t blank = greeting.rfind(' ');
    return std::string(blank == std::string_view::npos ? greeting : greeting.substr(blank + 1));
}

int SendCommand(Connection& conn, std::string& reply, std::string_view command,
                std::optional<std::string_view> argument, const CommandOptions& options) {
    reply.clear();
    if (!lineSafe(command) || (argument && !lineSafe(*argument))) {
        // A line break inside would send a second command the user never wrote.
        report::report(conn.env(), "送信できない文字がコマンドに含まれています。   ",
                       "送信できない文字がコマンドに含まれています。");
        return 1;
    }
    std::string line(command);
    if (argument) {
        line += ' ';
        line += *argument;
    }
    line += "\r\n";

    std::string why;
    if (!conn.writeLine(line, why)) {
        if (!why.empty()) {
            report::report(conn.env(), why, why);
        } else {
            presentSocketError(conn);
        }
        return 1;
    }
    const bool dele = equalsNoCase(command, "DELE");
    if (!dele) conn.conversation(maskedForLog(line, options.secret));

    const ReplyKind kind =
        options.kind ? *options.kind : defaultKind(conn.protocol(), command, argument.has_value());
    if (collectReply(conn, reply, kind, options.capacity) != 0) return 1;
    const bool listing = equalsNoCase(command, "LIST") || equalsNoCase(command, "UIDL");
    if (!dele && !listing) conn.conversation(reply);
    return 0;
}

ReceiveFailure ReadReply(Connection& conn, std::string& reply, ReplyKind kind, size_t capacity) {
    ReplyFramer framer(kind);
    while (!framer.done()) {
        if (reply.size() >= capacity) return ReceiveFailure::TooLong;
        auto bytes = conn.nextBytes(std::min(conn.receiveSize(), capacity - reply.size()));
        if (!bytes) {
            return conn.lastReadWasEnd() ? ReceiveFailure::EndOfStream : ReceiveFailure::Socket;
        }
        const size_t used = framer.feed(*bytes);
        reply.append(bytes->data(), used);
        conn.unread(bytes->size() - used);
    }
    return ReceiveFailure::None;
}

int ReadReplyLine(Connection& conn, std::string& reply, size_t capacity) {
    reply.clear();
    const ReplyKind kind = conn.protocol() == Protocol::Smtp ? ReplyKind::Smtp : ReplyKind::Line;
    if (collectReply(conn, reply, kind, capacity) != 0) {
        conn.close();
        return 1;
    }
    conn.conversation(reply);
    return 0;
}

int ReceiveChunk(Connection& conn, std::string& buffer, size_t capacity, uint64_t& count) {
    if (buffer.size() >= capacity) return 1;
    auto bytes = conn.nextBytes(std::min(conn.receiveSize(), capacity - buffer.size()));
    if (!bytes) return 1;
    buffer.append(bytes->data(), bytes->size());
    count += bytes->size();
    return 0;
}

ReceiveFailure ReceiveMultiLine(Connection& conn, MultiLineDecoder& decoder, std::string& out,
                                size_t capacity, const ChunkHook& chunk) {
    const size_t start = out.size();
    while (!decoder.done()) {
        // Decoding never grows the text: the room left bounds the next read.
        if (out.size() >= capacity) {
            conn.close();
            return ReceiveFailure::TooLong;
        }
        auto bytes = conn.nextBytes(std::min(conn.receiveSize(), capacity - out.size()));
        if (!bytes)
            return conn.lastReadWasEnd() ? ReceiveFailure::EndOfStream : ReceiveFailure::Socket;
        // Until the decoder writes the LF that ends the status line, the bytes are status.
        const bool status = out.size() == start;
        const size_t used = decoder.feed(*bytes, out);
        conn.unread(bytes->size() - used);
        if (chunk && !chunk({bytes->substr(0, used), status, decoder.received()}) &&
            !decoder.done()) {
            conn.close();
            return ReceiveFailure::TooLong;
        }
    }
    return ReceiveFailure::None;
}

SslMode sslModeOf(int32_t setting) {
    switch (setting) {
        case 1:
            return SslMode::OnConnect;
        case 2:
            return SslMode::StartTls;
        default:
            return SslMode::Plain;
    }
}

// The steps of OpenServer. A failure has been reported; the connection is closed where the
// server may still be talking.
struct OpenSteps {
    static Err connect(Connection& conn, const ConnectionSettings& s);
    static Err startTlsSmtp(Connection& conn, const ConnectionSettings& s);
    static Err startTlsPop(Connection& conn);
    static Err checkPopAfterTls(Connection& conn);
    static Err apop(Connection& conn, const ConnectionSettings& s);
    static Err fail(Connection& conn) {
        conn.close();
        return Err::Io;
    }
};

Err OpenSteps::connect(Connection& conn, const ConnectionSettings& s) {
    Env& env = conn.env();
    std::vector<platform::NetAddress> addresses;
    {
        Blocking b;
        auto r = platform::resolveHost(s.host, s.port);
        if (r) addresses = r.take();
    }
    if (addresses.empty()) {
        const std::string text = s.host + "が見つかりませんでした。   ";
        report::report(env, text, text);
        return Err::Io;
    }
    conn.status(kConnectingStatus);

    int code = 0;
    auto sock = platform::openStreamSocket(addresses[0].family, &code);
    if (!sock) {
        report::report(env, "ソケットをオープンできません。   ",
                       "ソケットをオープンできませんでした。");
        return Err::Io;
    }
    conn.socket_ = sock.take();
    if (conn.socket_->setTimeouts(s.timeoutMs) != Err::None) {
        report::report(env, "タイムアウト設定に失敗しました。   ",
                       "タイムアウト設定に失敗しました。");
        return fail(conn);
    }
    Err connected;
    {
        Blocking b;
        connected = conn.socket_->connect(addresses[0]);
    }
    if (connected != Err::None) {
        char log[96];
        std::snprintf(log, sizeof log, "サーバーに接続できませんでした。WSAGetLastError=%d",
                      conn.socket_->lastError());
        report::report(env, "サーバーに接続できません。   ", log);
        return fail(conn);
    }
    return Err::None;
}

Err OpenSteps::startTlsSmtp(Connection& conn, const ConnectionSettings& s) {
    Env& env = conn.env();
    std::string reply;
    if (SendCommand(conn, reply, "EHLO", s.host) != 0) return Err::Io;
    if (smtpReplyCode(reply) != 250) {
        // Logged too, so that an unattended run says why it stopped.
        report::report(env, "EHLOコマンドの返信が250ではありませんでした。    ",
                       "EHLOコマンドの返信が250ではありませんでした。\r\n" + reply);
        return fail(conn);
    }
    if (!hasCapability(reply, "STARTTLS", true)) {
        report::report(env, "サーバがSTARTTLSコマンドに対応していないようです。    ",
                       "サーバがSTARTTLSコマンドに対応していないようです。");
        return fail(conn);
    }
    if (SendCommand(conn, reply, "STARTTLS", std::nullopt) != 0) return Err::Io;
    if (smtpReplyCode(reply) != 220) {
        // Never a silent end: the server's own words say why.
        report::report(
            env, std::string(kTextStartTlsRefused) + "    \n" + std::string(lastReplyLine(reply)),
            std::string(kTextStartTlsRefused) + "\r\n" + reply);
        return fail(conn);
    }
    return Err::None;
}

Err OpenSteps::startTlsPop(Connection& conn) {
    std::string reply;
    if (SendCommand(conn, reply, "CAPA", std::nullopt) != 0) return Err::Io;
    if (!popAccepted(reply) || !hasCapability(reply, "STLS", false)) {
        report::report(conn.env(), "サーバがSTLSコマンドに対応していないようです。    ",
                       "サーバがSTLSコマンドに対応していないようです。");
        return fail(conn);
    }
    if (SendCommand(conn, reply, "STLS", std::nullopt) != 0 || !popAccepted(reply))
        return fail(conn);
    return Err::None;
}

Err OpenSteps::checkPopAfterTls(Connection& conn) {
    std::string reply;
    if (SendCommand(conn, reply, "CAPA", std::nullopt) != 0) return Err::Io;
    if (hasCapability(reply, "STLS", false)) {
        report::report(conn.env(), "ありえないエラー（STARTTLS開始後、CAPAに対しSTLSを返した）    ",
                       "ありえないエラー（STARTTLS開始後、CAPAに対しSTLSを返した）");
        return fail(conn);
    }
    return Err::None;
}

Err OpenSteps::apop(Connection& conn, const ConnectionSettings& s) {
    std::string reply;
    const std::string digest = md5Hex(apopTimestamp(conn.greeting_) + s.password);
    if (SendCommand(conn, reply, "APOP", s.user + " " + digest) != 0) return fail(conn);
    if (!popAccepted(reply)) {
        report::report(
            conn.env(),
            "認証エラーです。サーバがAPOPに対応していないか    \n"
            "IDかパスワードが間違っている可能性があります。    ",
            "認証エラーです。サーバがAPOPに対応していないか、パスワードが間違っている可能性が"
            "あります。\r\n" +
                reply);
        return fail(conn);
    }
    return Err::None;
}

int OpenServer(Connection& conn, const ConnectionSettings& s, Protocol which) {
    conn.close();
    conn.protocol_ = which;
    conn.broken_ = false;
    conn.greeting_.clear();
    if (OpenSteps::connect(conn, s) != Err::None) return 1;

    const bool tls = s.sslMode != SslMode::Plain;
    const bool startTls = s.sslMode == SslMode::StartTls;
    const bool pop = which == Protocol::Pop3;
    if (tls && external::BindSslFunctions(conn.env()) != 0) {
        OpenSteps::fail(conn);
        return 1;
    }
    // With TLS on connect the greeting comes through TLS; otherwise it comes first.
    if (s.sslMode != SslMode::OnConnect && ReadReplyLine(conn, conn.greeting_) != 0) return 1;
    if (startTls) {
        const Err e = pop ? OpenSteps::startTlsPop(conn) : OpenSteps::startTlsSmtp(conn, s);
        if (e != Err::None) return 1;
    }
    if (tls && !conn.handshake(s)) {
        OpenSteps::fail(conn);
        return 1;
    }
    if (s.sslMode == SslMode::OnConnect && ReadReplyLine(conn, conn.greeting_) != 0) return 1;
    if (pop && startTls && OpenSteps::checkPopAfterTls(conn) != Err::None) return 1;
    if (pop && s.apop && OpenSteps::apop(conn, s) != Err::None) return 1;
    return 0;
}

}  // namespace kolvy::pop
