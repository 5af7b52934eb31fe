#include "smtp/session.h"

#include <algorithm>
#include <cstdio>

#include "core/ascii.h"
#include "core/sjis.h"
#include "external/ssl_binding.h"
#include "mime/decode.h"
#include "mime/encode.h"
#include "pop/login.h"
#include "pop/md5.h"
#include "pop/reply.h"
#include "report/logs.h"
#include "report/report.h"

namespace kolvy::smtp {
namespace {

using pop::SendCommand;
using pop::smtpReplyCode;

using ascii::equalsNoCase;

// The mechanism words of the AUTH lines of an EHLO reply ("250-AUTH A B", "250 AUTH=A B").
std::vector<std::string_view> offeredMechanisms(std::string_view reply) {
    std::vector<std::string_view> words;
    size_t start = 0;
    while (start < reply.size()) {
        size_t end = reply.find('\n', start);
        if (end == std::string_view::npos) end = reply.size();
        std::string_view line = reply.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() < 9) continue;
        line.remove_prefix(4);
        if (!equalsNoCase(line.substr(0, 4), "AUTH") || (line[4] != ' ' && line[4] != '=')) {
            continue;
        }
        line.remove_prefix(5);
        while (!line.empty()) {
            const size_t blank = line.find(' ');
            if (blank != 0) words.push_back(line.substr(0, blank));
            if (blank == std::string_view::npos) break;
            line.remove_prefix(blank + 1);
        }
    }
    return words;
}

bool offers(const std::vector<std::string_view>& words, std::string_view name) {
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view w) { return equalsNoCase(w, name); });
}

std::string firstLineOf(std::string_view reply) {
    return std::string(reply.substr(0, reply.find_first_of("\r\n")));
}

}  // namespace

Mechanism chooseMechanism(std::string_view ehloReply, int smtpAuth) {
    const auto words = offeredMechanisms(ehloReply);
    if (offers(words, "CRAM-MD5") && smtpAuth != 3 && smtpAuth != 4) return Mechanism::CramMd5;
    if (offers(words, "PLAIN") && smtpAuth != 2 && smtpAuth != 4) return Mechanism::Plain;
    if (offers(words, "LOGIN") && smtpAuth != 2 && smtpAuth != 3) return Mechanism::Login;
    return Mechanism::None;
}

Credentials smtpCredentials(const Account& a) {
    const std::string_view user = sjis::fieldView(a.smtpUserId);
    const std::string_view password = sjis::fieldView(a.smtpPassword);
    if (!user.empty() && !password.empty()) return {std::string(user), std::string(password)};
    return {std::string(sjis::fieldView(a.userId)), std::string(sjis::fieldView(a.password))};
}

pop::ConnectionSettings smtpSettings(const Account& a, unsigned timeoutMs) {
    pop::ConnectionSettings s;
    s.host = sjis::fieldView(a.smtpServer);
    s.port = a.smtpPort > 0 && a.smtpPort <= 0xffff ? static_cast<uint16_t>(a.smtpPort) : 0;
    s.sslMode = pop::sslModeOf(a.sendSsl);
    s.sslProtocol = a.sendSslProtocol;
    s.certSsl = a.certSsl;
    s.timeoutMs = timeoutMs;
    const Credentials c = smtpCredentials(a);
    s.user = c.user;
    s.password = c.password;
    return s;
}

std::string cramMd5Answer(const Credentials& c, std::string_view challengeBase64) {
    const std::string challenge = mime::decodeBase64(challengeBase64);
    const pop::Md5Digest digest = pop::hmacMd5(c.password, challenge);
    return mime::encodeBase64(c.user + " " + pop::toHex(digest));
}

std::string plainAnswer(const Credentials& c) {
    std::string text;
    text += c.user;
    text += '\0';
    text += c.user;
    text += '\0';
    text += c.password;
    return mime::encodeBase64(text);
}

std::string dataText(std::string_view message) {
    std::string out;
    out.reserve(message.size() + message.size() / 64 + 8);
    bool lineStart = true;
    for (size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\0') continue;
        if (c == '\r' || c == '\n') {
            // CR LF, a bare CR and a bare LF each end one line.
            if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n') ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = false;
    }
    if (!lineStart) out += "\r\n";
    return out;
}

Session::Session(Env& env, const Account& account, SendObserver& observer, unsigned timeoutMs)
    : env_(env),
      account_(account),
      observer_(observer),
      timeoutMs_(timeoutMs),
      conn_(env),
      host_(sjis::fieldView(account.smtpServer)) {}

void Session::fail(const std::string& logText, const std::string& boxText) {
    flushLog();
    report::report(env_, boxText, logText);
}

void Session::note(std::string_view logText) {
    report::logFailure(env_, logText);
}

void Session::flushLog() {
    if (pending_.empty()) return;
    pending_ += '\x01';  // the lines carry their own ends
    report::appendCommLog(env_, pending_);
    pending_.clear();
}

int Session::popBeforeSmtp() {
    note("POPBeforeSMTP");
    pop::Connection pop(env_);
    if (pop::OpenAndLogIn(pop, account_, timeoutMs_) != 0) return 1;
    std::string reply;
    // Replies not judged: the log-in is what opens the door.
    if (SendCommand(pop, reply, "TOP", "0 0") == 0) SendCommand(pop, reply, "QUIT", std::nullopt);
    pop.close();  // TLS shut down, then the socket, before SMTP begins
    const int wait = std::clamp(account_.waitTime, 0, 19);
    if (wait > 0) platform::sleepMs(static_cast<unsigned>(wait) * 1000u);
    return 0;
}

int Session::open() {
    if (account_.popBeforeSmtp == 1 && popBeforeSmtp() != 0) return 1;
    observer_.status(kStatusConnecting);
    conn_.setStatusHook([this](int state) { observer_.status(state); });
    if (pop::OpenServer(conn_, smtpSettings(account_, timeoutMs_), pop::Protocol::Smtp) != 0) {
        return 1;
    }
    const int code = smtpReplyCode(conn_.greeting());
    if (code != 220) {
        fail(std::string(kTextGreetingRefused) + "\r\n" + conn_.greeting(),
             std::string(kTextGreetingRefused) + "    \n" + firstLineOf(conn_.greeting()));
        quit();
        return 1;
    }
    if (greet() != 0) {
        quit();
        return 1;
    }
    observer_.status(kStatusConnected);
    if (report::logsFailures(env_)) {
        conn_.setConversationLog([this](std::string_view text) {
            pending_ += text;
            if (pending_.empty() || pending_.back() != '\n') pending_ += "\r\n";
        });
    }
    return 0;
}

int Session::greet() {
    if (account_.smtpAuth >= 1 || account_.sendSsl == 2) return authenticate();
    std::string reply;
    if (SendCommand(conn_, reply, "HELO", host_) != 0) return 1;
    if (smtpReplyCode(reply) != 250) {
        fail("HELOコマンドに対して接続エラーが発生しました。\r\n" + reply,
             "HELOコマンドに対して接続エラーが発生しました。   ");
        return 1;
    }
    return 0;
}

int Session::authenticate() {
    std::string reply;
    if (SendCommand(conn_, reply, "EHLO", host_) != 0) return 1;
    if (smtpReplyCode(reply) != 250) {
        fail("サーバがSMTP-AUTHに対応していないようです。\r\n" + reply,
             "サーバがSMTP-AUTHに対応していないようです。    ");
        return 1;
    }
    // Through STARTTLS without SMTPAuth every mechanism may serve.
    const Mechanism m = chooseMechanism(reply, account_.smtpAuth);
    if (m == Mechanism::None) {
        note("機能拡張の内容に、認証（CAEM-MD5、PLAIN、LOGIN）が含まれていないのでスルーします。");
        return 0;
    }
    if (authExchange(m, reply) != 0) return 1;
    if (smtpReplyCode(reply) != 235) {
        // Never silent: the server's own words say why.
        fail(std::string(kTextAuthFailed) + "\r\n" + reply,
             std::string(kTextAuthFailed) + "ユーザIDかパスワードを確認してください。    \n" +
                 firstLineOf(reply));
        return 1;
    }
    note("認証完了");
    return 0;
}

// Runs the mechanism's exchange; `reply` ends as the server's last reply. 1 when the
// connection failed (reported by the engine); a refusal is judged by the caller.
int Session::authExchange(Mechanism m, std::string& reply) {
    const Credentials c = smtpCredentials(account_);
    pop::CommandOptions secret;
    secret.secret = true;
    switch (m) {
        case Mechanism::CramMd5: {
            if (SendCommand(conn_, reply, "AUTH", "CRAM-MD5") != 0) return 1;
            if (smtpReplyCode(reply) != 334) return 0;
            std::string_view line = pop::lastReplyLine(reply);
            const size_t blank = line.find(' ');
            const std::string challenge(blank == std::string_view::npos ? std::string_view()
                                                                        : line.substr(blank + 1));
            return SendCommand(conn_, reply, cramMd5Answer(c, challenge), std::nullopt, secret);
        }
        case Mechanism::Plain:
            return SendCommand(conn_, reply, "AUTH", "PLAIN " + plainAnswer(c));
        case Mechanism::Login:
            if (SendCommand(conn_, reply, "AUTH", "LOGIN") != 0) return 1;
            if (smtpReplyCode(reply) != 334) return 0;
            if (SendCommand(conn_, reply, mime::encodeBase64(c.user), std::nullopt, secret) != 0) {
                return 1;
            }
            if (smtpReplyCode(reply) != 334) return 0;
            return SendCommand(conn_, reply, mime::encodeBase64(c.password), std::nullopt, secret);
        case Mechanism::None:
            break;
    }
    return 0;
}

void Session::quit() {
    flushLog();
    const bool tls = conn_.tlsActive();
    if (conn_.isOpen() && !conn_.broken()) {
        std::string reply;
        SendCommand(conn_, reply, "QUIT", std::nullopt);
    }
    conn_.close();
    flushLog();
    if (tls) note("SSL終了");
}

}  // namespace kolvy::smtp
