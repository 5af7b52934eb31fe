#include "pop/login.h"

#include <string>

#include "core/sjis.h"
#include "pop/session.h"
#include "shell/logs.h"
#include "shell/report.h"

namespace kolvy::pop {
namespace {

void authenticationFailed(Env& env, const Account& account, std::string_view reply) {
    if (env.unattended || env.logOut) {
        // The password never reaches a log.
        std::string log = "ユーザID:";
        log += sjis::fieldView(account.userId);
        log += " パスワード:-----で認証エラーです。\r\n";
        log += reply;
        shell::appendCommLog(env, log);
    }
    if (!env.unattended) {
        env.reporter.show(kTextAuthFailedBox, shell::kAppTitle, platform::Icon::Exclamation,
                          platform::Buttons::Ok);
    }
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
        external::presentFailure(conn.env(), std::string(kTextGreetingRefused) + "\r\n" + line,
                                 std::string(kTextGreetingRefused) + "    ");
        conn.close();
        return 1;
    }
    if (account.apop == 1) return 0;  // APOP logged in while opening
    return LogIn(conn, account);
}

}  // namespace kolvy::pop
