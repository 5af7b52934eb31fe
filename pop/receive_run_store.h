// The program's POP3 dialogue for the receive run: the session with message analysis into the
// tab store, the receive rules (loaded per dialogue, their counters written back) and the
// automatic answers they ask for, and the month's received-mail log.
#pragma once

#include <functional>

#include "config/accounts.h"
#include "platform/env.h"
#include "pop/session.h"
#include "report/logs.h"
#include "store/tabs.h"

namespace kolvy::pop {

class StoreReceiver {
  public:
    StoreReceiver(Env& env, store::TabRegistry& tabs, config::AccountList& accounts)
        : env_(env), tabs_(tabs), accounts_(accounts) {}
    // Asks the main thread for a temporary receive tab (the default posts and waits).
    std::function<void()> requestTemporaryTab;
    // The process's abort flag, read by the session between its steps.
    const std::atomic<int32_t>* abortRequested = nullptr;

    void openLog() { log_ = report::RunLog::open(env_, report::RunLogKind::Receive); }
    void closeLog() { log_.close(); }
    // One dialogue; `listed` is set when the session read the server's listing.
    int receive(const Account& account, const ReceiveOrder* order, CheckerItem* checker,
                ReceiveProgress& progress, const std::function<void()>& changed, bool& listed);

  private:
    Env& env_;
    store::TabRegistry& tabs_;
    config::AccountList& accounts_;
    report::RunLog log_;
};

}  // namespace kolvy::pop
