#include "pop/receive_order.h"

#include <cstdio>

#include "core/sjis.h"
#include "report/logs.h"

namespace kolvy::pop {
namespace {

// The texts hold one "%s": the order's name.
std::string formatted(std::string_view format, std::string_view text) {
    std::string out(format);
    const size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, text);
    return out;
}

// One order with an account of its own: the dialogue, or a refusal for what only the program
// with its window can do.
int receiveMember(ReceiveContext& c, config::AccountList& accounts, const ReceiveOrder& member,
                  OrderRun& run) {
    if (c.abortRequested && c.abortRequested->load()) return kReceiveAborted;
    const std::string_view name = sjis::fieldView(member.name);
    if (member.telConnect || member.telCut || member.mailChecker) {
        report::appendCommLog(c.env, formatted(kNeedsScreenText, name));
        return kReceiveFailed;
    }
    const Account* account = accounts.byNumber(member.accountNumber);
    if (!account) {
        report::appendCommLog(c.env, formatted(kNoAccountText, name));
        return kReceiveFailed;
    }
    ++run.members;
    return ReceiveAccount(c, *account, &member, nullptr);
}

}  // namespace

const ReceiveOrder* orderByName(const config::OrderList& orders, std::string_view name) {
    const ReceiveOrder* found = nullptr;
    orders.forEach([&](const ReceiveOrder* o) {
        if (!found && sjis::fieldView(o->name) == name) found = o;
    });
    return found;
}

OrderRun receiveOrder(ReceiveContext& c, config::AccountList& accounts, const ReceiveOrder& order) {
    OrderRun run;
    const platform::LocalTime now = c.env.clock.localNow();
    char start[96];
    std::snprintf(start, sizeof start, kReceiveStartLine, now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    report::appendCommLog(c.env, start);
    report::appendCommLog(c.env, formatted(kReceiveOrderLine, sjis::fieldView(order.name)));
    if (!order.isFolder || !order.members) {
        run.result = receiveMember(c, accounts, order, run);
        return run;
    }
    for (const ReceiveOrder* m = order.members->next; m; m = m->next) {
        report::appendCommLog(c.env, formatted(kReceiveOrderLine, sjis::fieldView(m->name)));
        run.result = receiveMember(c, accounts, *m, run);
        if (run.result == kReceiveFailed || run.result == kReceiveAborted) break;
    }
    return run;
}

}  // namespace kolvy::pop
