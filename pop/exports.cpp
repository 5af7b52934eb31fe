#include "pop/exports.h"

#include <atomic>

#include "core/sjis.h"
#include "platform/silent_reporter.h"
#include "pop/md5.h"
#include "pop/reply.h"
#include "report/logs.h"
#include "report/report.h"

namespace kolvy::pop {
namespace {

std::atomic<Env*> g_env{nullptr};
std::atomic<config::AccountList*> g_accounts{nullptr};

bool refused(const std::string& reply) {
    return !popAccepted(reply);
}

}  // namespace

void setExportHost(Env* env, config::AccountList* accounts) {
    g_env = env;
    g_accounts = accounts;
}

int CheckPassword(Connection& conn, const Account& account) {
    std::string reply;
    if (ReadReplyLine(conn, reply) != 0) return kLoginNoGreeting;
    const std::string user(sjis::fieldView(account.userId));
    const std::string password(sjis::fieldView(account.password));
    if (account.apop == 1) {
        const std::string digest = md5Hex(apopTimestamp(reply) + password);
        if (SendCommand(conn, reply, "APOP", user + " " + digest) != 0) return kLoginCommandFailed;
        return refused(reply) ? kLoginApopRefused : kLoginOk;
    }
    if (SendCommand(conn, reply, "USER", user) != 0) return kLoginCommandFailed;
    if (refused(reply)) return kLoginRefused;
    if (SendCommand(conn, reply, "PASS", password) != 0) return kLoginCommandFailed;
    return refused(reply) ? kLoginRefused : kLoginOk;
}

std::string_view accountName(const config::AccountList& accounts, int32_t number) {
    const Account* last = nullptr;
    for (const Account* a = accounts.head().next; a; a = a->next) {
        if (a->number == number) return sjis::fieldView(a->name);
        last = a;
    }
    return last ? sjis::fieldView(last->name) : std::string_view("");
}

}  // namespace kolvy::pop

using namespace kolvy;

extern "C" int KOLVY_STDCALL KVA_CheckPassword(uintptr_t socket, int32_t accountNumber) {
    Env* env = pop::g_env;
    config::AccountList* accounts = pop::g_accounts;
    if (!env || !accounts) return pop::kLoginCommandFailed;
    const Account* account = accounts->byNumber(accountNumber);
    if (!account) return pop::kLoginCommandFailed;
    try {
        platform::SilentReporter silent;
        Env quiet{env->fs, env->ini, silent, env->clock, env->programFolder};
        pop::Connection conn(quiet);
        conn.setConversationLog([env](std::string_view text) { report::logFailure(*env, text); });
        conn.borrow(platform::borrowSocket(static_cast<intptr_t>(socket)), pop::Protocol::Pop3,
                    pop::SslActive());
        return pop::CheckPassword(conn, *account);
    } catch (const std::bad_alloc&) {
        return pop::kLoginCommandFailed;
    }
}

extern "C" const char* KOLVY_STDCALL KVA_GetAcountName(int32_t accountNumber) {
    static char name[sizeof(Account::name)];
    config::AccountList* accounts = pop::g_accounts;
    name[0] = '\0';
    if (accounts) sjis::copyField(name, pop::accountName(*accounts, accountNumber));
    return name;
}
