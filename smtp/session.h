// The SMTP dialogue of one account over the shared line engine: optional POP before SMTP, the
// connection (plain, STARTTLS or TLS on connect), HELO or EHLO with CRAM-MD5, PLAIN or LOGIN,
// then one transaction per message (MAIL, RCPT per recipient, DATA, the text, the end-of-data
// reply) and QUIT.
//
// A message counts as delivered only when the server accepted its end of data with 250; every
// other outcome leaves it undelivered. Failures are reported here (a box when attended, the
// communication log when unattended or with LogOut), credentials never reach a log.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "platform/env.h"
#include "pop/connection.h"

namespace kolvy::smtp {

// Status numbers of the shared status table that a send run shows.
inline constexpr int kStatusConnecting = 12;
inline constexpr int kStatusSending = 13;  // "n / total 通のメールを送信しています"
inline constexpr int kStatusSentAll = 14;  // "n / total 通－送信が完了しました"
inline constexpr int kStatusConnected = 15;
inline constexpr int kStatusStopping = 18;  // stop requested: the current message is finished

// What a send run tells its window and asks of it; the window implements it, the console tool
// and the tests use the quiet default.
class SendObserver {
  public:
    virtual ~SendObserver() = default;
    virtual void status(int /*state*/) {}
    virtual void account(const Account& /*account*/) {}
    // Message `current` of `total` is under way; `percent` of its text has gone out.
    virtual void progress(int /*current*/, int /*total*/, int /*percent*/) {}
    virtual bool stopRequested() { return false; }
};

// SMTPAuth: 0 none, 1 the first offered of CRAM-MD5, PLAIN, LOGIN; 2, 3, 4 only that one.
enum class Mechanism { None, CramMd5, Plain, Login };
// The mechanism to use for the AUTH mechanisms an EHLO reply offers.
Mechanism chooseMechanism(std::string_view ehloReply, int smtpAuth);

struct Credentials {
    std::string user, password;
};
// SmtpUserID/SmtpPassword when both are set, else the POP3 user and password.
Credentials smtpCredentials(const Account& account);
pop::ConnectionSettings smtpSettings(const Account& account, unsigned timeoutMs);

// The Base64 answer to a CRAM-MD5 challenge (RFC 2195): user, blank, HMAC-MD5 in hex.
std::string cramMd5Answer(const Credentials& c, std::string_view challengeBase64);
// The Base64 initial response of PLAIN (RFC 4616): NUL user NUL password, authorising as the user.
std::string plainAnswer(const Credentials& c);

// The text that goes after DATA: every line end made CR LF (a bare CR or LF too, so that no
// "\n.\n" can end the data early), NUL bytes dropped, a leading "." doubled, the last line
// ended; the terminating "." line is not included.
std::string dataText(std::string_view message);

class Session {
  public:
    Session(Env& env, const Account& account, SendObserver& observer, unsigned timeoutMs);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // POP before SMTP when the account asks, connect, greet, authenticate. 0 ready; 1 failed
    // (reported, the connection closed).
    int open();
    // One transaction. 0 delivered; 1 not delivered (reported). After a failure the
    // connection may be broken (see connection().broken()).
    int send(std::string_view message, const std::vector<std::string>& recipients, int current = 1,
             int total = 1);
    // QUIT when the connection can carry it, then close (TLS shut down first).
    void quit();

    pop::Connection& connection() { return conn_; }

  private:
    int popBeforeSmtp();
    int greet();
    int authenticate();
    int authExchange(Mechanism m, std::string& reply);
    int transaction(std::string_view message, const std::vector<std::string>& recipients,
                    int current, int total);
    int transmit(std::string_view data, int current, int total);
    int endOfData();
    void fail(const std::string& logText, const std::string& boxText);
    void note(std::string_view logText);
    void flushLog();

    Env& env_;
    const Account& account_;
    SendObserver& observer_;
    unsigned timeoutMs_;
    pop::Connection conn_;
    std::string host_;
    // The conversation of the transaction under way, written to the communication log in one
    // append when it ends (one disk flush per message instead of one per line).
    std::string pending_;
};

// Fixed texts of the dialogue.
inline constexpr char kTextAuthFailed[] = "SMTP認証に失敗しました。";
inline constexpr char kTextGreetingRefused[] = "SMTPサーバが接続を拒否しました。";

}  // namespace kolvy::smtp
