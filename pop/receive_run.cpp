#include "pop/receive_run.h"

#include <cstdio>

#include "core/schedule.h"
#include "core/sjis.h"
#include "pop/receive_order.h"
#include "report/logs.h"
#include "report/report.h"

namespace kolvy::pop {

// ----------------------------------------------------------------------------- queue
bool RunQueue::push(ReceiveOrder* order) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!order || order->timerQueued) return false;
    for (ReceiveOrder*& slot : slots_) {
        if (!slot) {
            slot = order;
            order->timerQueued = 1;
            return true;
        }
    }
    return false;
}

ReceiveOrder* RunQueue::take() {
    std::lock_guard<std::mutex> hold(lock_);
    ReceiveOrder* first = slots_[0];
    for (size_t i = 1; i < kSlots; ++i)
        slots_[i - 1] = slots_[i];
    slots_[kSlots - 1] = nullptr;
    return first;
}

void RunQueue::ranOut(ReceiveOrder* order) {
    std::lock_guard<std::mutex> hold(lock_);
    if (order) order->timerQueued = 0;
}

bool RunQueue::empty() {
    std::lock_guard<std::mutex> hold(lock_);
    return slots_[0] == nullptr;
}

size_t RunQueue::size() {
    std::lock_guard<std::mutex> hold(lock_);
    size_t n = 0;
    while (n < kSlots && slots_[n])
        ++n;
    return n;
}

int periodicCheck(config::OrderList& orders, RunQueue& queue, int minuteOfDay) {
    int queued = 0;
    for (ReceiveOrder* o = orders.head().next; o; o = o->next) {
        if (!o->timer) continue;
        const int start = o->baseHour * 60 + o->baseMinute;
        const int interval = o->intervalHours * 60 + o->intervalFiveMinutes * 5;
        if (!periodDue(minuteOfDay, start, interval)) continue;
        if (queue.size() >= RunQueue::kSlots) break;
        if (queue.push(o)) ++queued;
    }
    return queued;
}

StartRefusal checkStart(const RunState& run, const ReceiveOrder* order) {
    if (run.running()) return StartRefusal::Busy;
    if (!order) return StartRefusal::NothingSelected;
    return StartRefusal::None;
}

void markArrivalsSeen(store::TabRegistry& tabs) {
    for (Tab* t = tabs.first(); t; t = t->next) {
        if (t->kind == 1) continue;
        for (MailItem* m = t->items.next; m; m = m->next)
            if (m->newMark == 2) m->newMark = 1;
    }
}

int bootWaitSeconds(platform::Profile& ini) {
    const auto v = ini.read("Option", "BootWaitTime");
    if (!v) return 0;
    int n = 0;
    for (char ch : *v) {
        if (ch < '0' || ch > '9') return 0;
        n = n * 10 + (ch - '0');
        if (n > 100000) return 0;
    }
    return n;
}

namespace {

std::string withNumber(std::string_view format, int n) {
    std::string out(format);
    const size_t at = out.find("%d");
    if (at != std::string::npos) out.replace(at, 2, std::to_string(n));
    return out;
}

std::string withName(std::string_view format, std::string_view name) {
    std::string out(format);
    const size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, name);
    return out;
}

}  // namespace

// ----------------------------------------------------------------------------- the run
// Everything a run gives back, in one place, whatever way the run ends: the network layer and
// the log when they were started, the menus, timer 3, the tray icon, ErrorLogOut, the abort
// request and Unattended; the run flag last, so that no new run starts before all is restored.
class ReceiveRun::Cleanup {
  public:
    Cleanup(ReceiveRun& r) : r_(r) {}
    ~Cleanup() {
        if (logOpen) r_.host_.closeReceivedLog();
        if (progressTimer) r_.host_.progressTimer(false);
        if (network) r_.host_.stopNetwork();
        r_.state_.abortRequested = 0;
        r_.env_.unattended = false;
        r_.host_.trayBusy(false);
        if (menus) r_.host_.menus(false);
        if (notify) r_.host_.post(kMsgOpenNewMail, static_cast<uintptr_t>(lastResult));
        r_.host_.refreshTabs();
        r_.env_.ini.write("Option", "ErrorLogOut", "0");
        r_.state_.end();
    }
    Cleanup(const Cleanup&) = delete;
    Cleanup& operator=(const Cleanup&) = delete;
    bool logOpen = false, progressTimer = false, network = false, menus = false, notify = false;
    int lastResult = kReceiveDone;

  private:
    ReceiveRun& r_;
};

void ReceiveRun::log(std::string_view text) {
    if (report::logsFailures(env_)) report::appendCommLog(env_, text);
}

void ReceiveRun::logOrder(const ReceiveOrder& order) {
    log(withName(kReceiveOrderLine, sjis::fieldView(order.name)));
}

void ReceiveRun::setState(int state, int icon) {
    observer_.state(state, icon);
    if (state == kStateConnected) log(kTextDialedLog);
    if (state == kStateDisconnected) log(kTextHungUpLog);
    if (state == kStateChecked) log(kTextCheckDoneLog);
}

bool ReceiveRun::waitAtStartup() {
    const int seconds = bootWaitSeconds(env_.ini);
    for (int i = 0; i < seconds; ++i) {
        if (state_.abortRequested) return false;
        host_.sleepMs(1000);
    }
    return !state_.abortRequested;
}

bool ReceiveRun::prepare(RunSummary& summary) {
    if (!host_.reloadIndexes()) {
        summary.end = RunSummary::End::IndexFailed;
        return false;
    }
    return true;
}

RunSummary ReceiveRun::run(const RunRequest& request) {
    RunSummary summary;
    Cleanup cleanup(*this);
    host_.markArrivalsSeen();
    for (int i = 0; i < 11 && host_.joinBusy(); ++i)
        host_.sleepMs(1000);
    env_.ini.write("Option", "ErrorLogOut", "1");
    state_.abortRequested = 0;
    dialogueRan_ = listed_ = false;
    host_.trayBusy(true);
    host_.post(kMsgCloseNewMail, 0);
    if (!prepare(summary)) return summary;
    host_.menus(true);
    cleanup.menus = true;
    if (request.startup && !waitAtStartup()) {
        summary.end = RunSummary::End::AbortedWaiting;
        return summary;
    }
    if (request.queued) env_.unattended = true;
    if (report::logsFailures(env_)) {
        const platform::LocalTime now = env_.clock.localNow();
        char start[96];
        std::snprintf(start, sizeof start, kReceiveStartLine, now.year, now.month, now.day,
                      now.hour, now.minute, now.second);
        log(start);
    }
    if (!host_.startNetwork()) {
        report::appendCommLog(env_, kTextWinsockLog);
        report::report(env_, kTextWinsockBox);
        summary.end = RunSummary::End::NetworkFailed;
        return summary;
    }
    cleanup.network = true;
    host_.progressTimer(true);
    cleanup.progressTimer = true;
    host_.openReceivedLog();
    cleanup.logOpen = true;
    if (request.order) workOff(*request.order, summary);
    if (request.queued) queue_.ranOut(request.order);
    workOffQueue(summary);
    summary.dialogueRan = dialogueRan_;
    summary.listed = listed_;
    cleanup.notify = dialogueRan_ && listed_;
    cleanup.lastResult = summary.lastResult;
    return summary;
}

void ReceiveRun::workOff(ReceiveOrder& order, RunSummary& summary) {
    logOrder(order);
    ++summary.ordersRun;
    if (!order.isFolder || !order.members) {
        summary.lastResult = connectServ(order);
        return;
    }
    for (ReceiveOrder* m = order.members->next; m; m = m->next) {
        logOrder(*m);
        summary.lastResult = connectServ(*m);
        if (summary.lastResult == kReceiveFailed || summary.lastResult == kReceiveAborted) break;
    }
}

// Orders the timer queued while this run worked; a failed order before them does not keep
// them from running.
void ReceiveRun::workOffQueue(RunSummary& summary) {
    while (ReceiveOrder* next = queue_.take()) {
        const bool wasUnattended = env_.unattended;
        env_.unattended = true;
        workOff(*next, summary);
        queue_.ranOut(next);
        env_.unattended = wasUnattended;
    }
}

int ReceiveRun::connectServ(ReceiveOrder& order) {
    if (state_.abortRequested) return kReceiveAborted;
    const Account* account = accounts_.byNumber(order.accountNumber);
    if (!account) {
        report::appendCommLog(env_, withName(kNoAccountText, sjis::fieldView(order.name)));
        return kReceiveFailed;
    }
    observer_.account(sjis::fieldView(account->name), env_.unattended);
    uintptr_t connection = 0;
    if (order.telConnect) {
        const int dialled = dial(*account, connection);
        if (dialled != 0) return kReceiveFailed;
    }
    int result;
    if (order.mailChecker) {
        result = checkMail(*account) != 0 ? kReceiveFailed : kReceiveDone;
    } else {
        result = receive(*account, order);
    }
    // Only the connection this run made is ended: another program's (or the user's) stays.
    if (order.telCut && connection) hangUp(connection);
    return result;
}

int ReceiveRun::receive(const Account& account, ReceiveOrder& order) {
    ReceiveProgress progress;
    bool listed = false;
    int lastState = -1;
    const std::function<void()> changed = [&] {
        observer_.progress(progress);
        const int s = progress.state.load();
        if (s == kStateDownloadDone && lastState != s) {
            char line[160];
            std::snprintf(line, sizeof line, kTextDownloadDoneLog, progress.received.load(),
                          progress.total.load());
            log(line);
        }
        lastState = s;
    };
    const int result = host_.receiveAccount(account, &order, nullptr, progress, changed, listed);
    dialogueRan_ = true;
    listed_ = listed_ || listed;
    return result;
}

int ReceiveRun::dial(const Account& account, uintptr_t& connection) {
    const std::string_view entry = sjis::fieldView(account.rasEntry);
    switch (ras_.dialParams(entry)) {
        case platform::Ras::Params::Unavailable:
            report::report(env_, kTextDialParamsBox, kTextDialParamsLog,
                           platform::Icon::Exclamation);
            host_.refreshTabs();
            return 1;
        case platform::Ras::Params::NoPassword:
            report::report(env_, kTextDialNoPasswordBox, kTextDialNoPasswordLog,
                           platform::Icon::Exclamation);
            host_.refreshTabs();
            return 1;
        case platform::Ras::Params::Ok:
            break;
    }
    setState(kStateDialling, kIconDial);
    host_.dialTimer(true);
    const uint32_t rc = ras_.dial(entry, connection);
    host_.dialTimer(false);
    if (rc == platform::kRasPortAlreadyOpen) {
        // Somebody else's connection: used as it is, and never hung up by this run.
        connection = 0;
        report::appendCommLog(env_, kTextAlreadyConnectedLog);
        if (env_.unattended) return 0;
        return report::ask(env_, kTextAlreadyConnectedAsk) == platform::Answer::Ok ? 0 : 1;
    }
    if (rc != 0) {
        connection = 0;
        report::report(env_, kTextDialFailedBox,
                       withNumber(kTextDialFailedLog, static_cast<int>(rc)),
                       platform::Icon::Exclamation);
        return 1;
    }
    setState(kStateConnected, kIconLogin);
    return 0;
}

void ReceiveRun::hangUp(uintptr_t connection) {
    setState(kStateHangingUp, kIconHangUp);
    ras_.hangUp(connection);
    host_.sleepMs(3000);
    setState(kStateDisconnected, kIconHangUp);
    host_.sleepMs(1000);
    host_.refreshTabs();
}

// The checker's library is loaded by the main thread; it has three seconds to offer MailCheck.
int ReceiveRun::checkMail(const Account& account) {
    host_.post(kMsgLoadChecker, 0);
    MailCheckFn check = nullptr;
    for (int i = 0; i < 6 && !(check = host_.mailCheck()); ++i)
        host_.sleepMs(500);
    if (!check) return 0;
    setState(kStateChecking, kIconCheck);
    if (check(0, account.number) == 1) return 1;
    setState(kStateChecked, kIconCheck);
    return 0;
}

int checkerReceive(Env& env, RunHost& host, RunObserver& observer, config::AccountList& accounts,
                   CheckerItem* list, int32_t accountNumber, RunState& state) {
    if (!state.tryBegin(RunKind::Receive)) {
        report::notice(env, kTextReceiving);
        return 0;
    }
    // One way out: the flag, timer 3, the network layer and the abort request.
    struct Release {
        RunState& s;
        RunHost& h;
        bool network = false, timer = false;
        ~Release() {
            if (timer) h.progressTimer(false);
            if (network) h.stopNetwork();
            s.abortRequested = 0;
            h.refreshTabs();
            s.end();
        }
    } release{state, host};
    if (!host.reloadIndexes()) return 1;
    if (!host.startNetwork()) {
        report::report(env, kTextWinsockBox);
        return 1;
    }
    release.network = true;
    const Account* account = accounts.byNumber(accountNumber);
    if (!account) return 1;
    observer.account(sjis::fieldView(account->name), false);
    host.progressTimer(true);
    release.timer = true;
    ReceiveProgress progress;
    bool listed = false;
    const int result = host.receiveAccount(
        *account, nullptr, list, progress, [&] { observer.progress(progress); }, listed);
    if (result == kReceiveFailed || result == kReceiveListFailed) return 1;
    const auto dlg = env.ini.read("Option", "SinchakuDlg");
    if (listed && (!dlg || (!dlg->empty() && (*dlg)[0] > '0' && (*dlg)[0] <= '9')))
        host.post(kMsgOpenNewMail, static_cast<uintptr_t>(result));
    return 0;
}

}  // namespace kolvy::pop
