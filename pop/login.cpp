#include "pop/login.h"

#include <string>

#include "core/sjis.h"
#include "pop/session.h"
#include "report/logs.h"
#include "report/report.h"

namespace kolvy::pop {
namespace {

void authenticationFailed(Env& env, const Account& account, std::string_view reply) {
    // The password never reaches a log.
    std::string log = "ユーザID:";
    log += sjis::fieldView(account.userId);
    log += " パスワード:-----で認証エラーです。\r\n";
    log += reply;
    report::report(env, kTextAuthFailedBox, log);
}

int refused(Connection& conn, const Account& account, std::string_view reply) {
    authenticationFailed(conn.env(), account, reply);
    std::string bye;
    if (!conn.broken()) SendCommand(conn, bye, "QUIT", std::nullopt);
    conn.close();
    return 1;
}

}  // namespace

int LogIn(Connection& conn, const Account& account) {
    std::string reply;
    if (SendCommand(conn, reply, "USER", sjis::fieldView(account.userId)) != 0) {
        conn.close();
        return 1;
    }
    // A refused user name ends here: the password is not offered to a server that said no.
    if (!popAccepted(reply)) return refused(conn, account, reply);
    if (SendCommand(conn, reply, "PASS", sjis::fieldView(account.password)) != 0) {
        conn.close();
        return 1;
    }
    if (!popAccepted(reply)) return refused(conn, account, reply);
    return 0;
}

int OpenAndLogIn(Connection& conn, const Account& account, unsigned timeoutMs) {
    if (OpenServer(conn, pop3Settings(account, timeoutMs), Protocol::Pop3) != 0) return 1;
    if (!popAccepted(conn.greeting())) {
        const std::string line(lastReplyLine(conn.greeting()));
        report::report(conn.env(), std::string(kTextGreetingRefused) + "    ",
                       std::string(kTextGreetingRefused) + "\r\n" + line);
        conn.close();
        return 1;
    }
    if (account.apop == 1) return 0;  // APOP logged in while opening
    return LogIn(conn, account);
}

}  // namespace kolvy::pop
