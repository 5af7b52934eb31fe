// The window side of sending: the send and send-and-receive commands with their questions, timed
// sending (timer 4) and the hand-over to the run (timer 5), the send run on a worker thread that
// reports to the status area, and the one place where a run's end gives everything back.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "config/accounts.h"
#include "core/list.h"
#include "core/sjis.h"
#include "mime/stored_reader.h"
#include "report/report.h"
#include "rules/executor.h"
#include "rules/rule_book.h"
#include "rules/sort.h"
#include "shell/command_ids.h"
#include "shell/dialog_win32.h"
#include "shell/host_exports_win32.h"
#include "shell/run_status.h"
#include "shell/send_command.h"
#include "shell/send_resource.h"
#include "shell/shell_context_win32.h"
#include "smtp/send_run.h"
#include "store/tabs.h"

namespace kolvy::shell::win32 {

namespace {

constexpr UINT_PTR kTimerTimedSend = 4;
constexpr UINT_PTR kTimerHandOver = 5;
constexpr UINT kTimedSendEveryMs = 60000;
// Posted to the main window by the worker when the run is over (a window message, so that a
// modal loop does not lose it).
constexpr UINT kMsgSendRunEnded = WM_APP + 0x400;

bool waiting(const MailItem& m) {
    return m.state == smtp::kWaiting || m.state == smtp::kWaitingAttached;
}

// The waiting items selected or focused in the tab's list. The plain list shows the tab's items
// in index order, one row each.
std::vector<const MailItem*> selectedWaiting(Tab& tab) {
    std::vector<const MailItem*> out;
    HWND lv = static_cast<HWND>(tab.plainList);
    if (!lv) return out;
    std::vector<const MailItem*> rows;
    for (const MailItem* m : listRange(tab.items))
        rows.push_back(m);
    const int focused = ListView_GetNextItem(lv, -1, LVNI_FOCUSED);
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const bool selected = ListView_GetItemState(lv, row, LVIS_SELECTED) != 0;
        const MailItem* m = rows[static_cast<size_t>(row)];
        if ((selected || row == focused) && waiting(*m)) out.push_back(m);
    }
    return out;
}

// ----------------------------------------------------------------------------- the choice dialog

struct ChoiceState {
    const SendDecision* d;
    std::string tabText;
    SendMode chosen;
};

int radioOf(SendMode m) {
    switch (m) {
        case SendMode::Selected:
            return IDC_SEND_SELECTED;
        case SendMode::AllTabs:
            return IDC_SEND_ALL;
        default:
            return IDC_SEND_TAB;
    }
}

INT_PTR CALLBACK choiceProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* s = dialogArgs<ChoiceState>(dlg, msg, lp);
    switch (msg) {
        case WM_INITDIALOG: {
            SetWindowTextA(dlg, kCaptionSendChoice);
            SetDlgItemTextA(dlg, IDC_SEND_SELECTED, kChoiceSelected);
            SetDlgItemTextA(dlg, IDC_SEND_TAB, s->tabText.c_str());
            SetDlgItemTextA(dlg, IDC_SEND_ALL, kChoiceAllTabs);
            EnableWindow(GetDlgItem(dlg, IDC_SEND_SELECTED), s->d->selectedEnabled);
            EnableWindow(GetDlgItem(dlg, IDC_SEND_ALL), s->d->allTabsEnabled);
            CheckRadioButton(dlg, IDC_SEND_SELECTED, IDC_SEND_ALL, radioOf(s->d->preselected));
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                s->chosen = IsDlgButtonChecked(dlg, IDC_SEND_SELECTED) ? SendMode::Selected
                            : IsDlgButtonChecked(dlg, IDC_SEND_ALL)    ? SendMode::AllTabs
                                                                       : SendMode::TargetTab;
                return endWith(dlg, IDOK);
            }
            return endOnCancel(dlg, wp);
        default:
            break;
    }
    return FALSE;
}

std::optional<SendMode> askMode(HWND main, const SendDecision& d, const Tab& target) {
    char text[256];
    std::snprintf(text, sizeof text, kFormatChoiceTab, target.name);
    ChoiceState s{&d, text, d.preselected};
    const INT_PTR r = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SEND_CHOICE),
                                      main, choiceProc, reinterpret_cast<LPARAM>(&s));
    if (r != IDOK) return std::nullopt;
    return s.chosen;
}

// ----------------------------------------------------------------------------- the run

// What the run tells the window, from the worker thread.
class WindowObserver final : public smtp::SendObserver {
  public:
    WindowObserver(HWND main, bool unattended, std::vector<Tab*> tabs)
        : main_(main), unattended_(unattended), tabs_(std::move(tabs)) {}
    void status(int state) override {
        {
            std::lock_guard<std::mutex> g(runStatus().lock);
            runStatus().state = state;
        }
        redrawRunStatus(main_);
    }
    void account(const Account& a) override {
        {
            RunStatus& s = runStatus();
            std::lock_guard<std::mutex> g(s.lock);
            s.account = std::string(sjis::fieldView(a.name));
            s.unattended = unattended_;
            s.current = s.total = s.percent = 0;
        }
        redrawRunStatus(main_);
    }
    void progress(int current, int total, int percent) override {
        {
            RunStatus& s = runStatus();
            std::lock_guard<std::mutex> g(s.lock);
            s.current = current;
            s.total = total;
            s.percent = percent;
        }
        redrawRunStatus(main_);
        // Rows that turned sent are drawn again.
        for (Tab* t : tabs_) {
            if (t->plainList) InvalidateRect(static_cast<HWND>(t->plainList), nullptr, FALSE);
        }
    }
    // The abort command (40018) sets the process's abort flag for whichever run is active.
    bool stopRequested() override { return runState().abortRequested.load() != 0; }

  private:
    HWND main_;
    bool unattended_;
    std::vector<Tab*> tabs_;
};

struct SendJob {
    std::vector<Tab*> tabs;
    bool selectedOnly = false;
    std::vector<const MailItem*> selected;
    bool unattended = false;
    bool sendAndReceive = false;
};

// Everything a run holds while it is active; made on the main thread, used by the worker, freed
// on the main thread after the worker ended.
struct ActiveRun {
    explicit ActiveRun(Env& program)
        : env{program.fs, program.ini, program.reporter, program.clock, program.programFolder} {}
    Env env;
    SendJob job;
    config::AccountList accounts;
    std::unique_ptr<rules::RegistryTabs> directory;
    rules::RuleBook rules;
    bool rulesLoaded = false;
    int64_t appliedBefore = 0;
    mime::StoredReader reader;
    std::unique_ptr<WindowObserver> observer;
    std::unique_ptr<smtp::SendRun> run;
};

class SendModule {
  public:
    explicit SendModule(ShellContext& c) : main_(c.main), program_(c.program) {}
    void command(bool sendAndReceive);
    void timedTick();
    void handOver();
    void ended();
    bool quitAfterRun();

  private:
    SendRequest request(bool sendAndReceive) const;
    Tab* tabAt(const SendRequest& r, int index) const;
    void show(Tab& tab);
    void startLater(SendJob job);
    void start(SendJob job);
    bool startQueued();
    void finish();

    HWND main_;
    Program& program_;
    SendSchedule schedule_;
    std::optional<SendJob> pending_;
    std::unique_ptr<ActiveRun> active_;
    std::thread worker_;
    std::atomic<bool> quitAfterRun_{false};
};

SendRequest SendModule::request(bool sendAndReceive) const {
    SendRequest r;
    r.options = readSendOptions(program_.env.ini);
    r.sendAndReceive = sendAndReceive;
    r.runActive = false;  // the caller holds the run flag
    const Tab* current = program_.tabs.current();
    for (Tab* t = program_.tabs.first(); t; t = t->next) {
        if (t == current) r.current = static_cast<int>(r.tabs.size());
        r.tabs.push_back(factsOf(*t));
    }
    return r;
}

Tab* SendModule::tabAt(const SendRequest& r, int index) const {
    if (index < 0 || index >= static_cast<int>(r.tabs.size())) return nullptr;
    return program_.tabs.findById(r.tabs[static_cast<size_t>(index)].id);
}

void SendModule::show(Tab& tab) {
    program_.selectTab(tab);
    if (program_.currentChanged) program_.currentChanged(tab);
}

// Holds the run flag for a command until it hands it to the run; every other way out of the
// command gives it back.
class RunClaim {
  public:
    ~RunClaim() {
        if (held_) runState().end();
    }
    void handOver() { held_ = false; }

  private:
    bool held_ = true;
};

void SendModule::command(bool sendAndReceive) {
    Env& env = program_.env;
    if (!runState().tryBegin(RunKind::Send)) {
        report::notice(env, kTextRunActive);
        return;
    }
    RunClaim claim;
    const SendRequest r = request(sendAndReceive);
    const TargetChoice t = chooseTarget(r);
    Tab* target = tabAt(r, t.target);
    if (target && t.switchToIt) show(*target);
    const bool isCurrent = target && target == program_.tabs.current();
    std::vector<const MailItem*> selected;
    if (isCurrent) selected = selectedWaiting(*target);
    const int count = static_cast<int>(selected.size());
    SendDecision d = decideSend(r, target ? t.target : -1, isCurrent, count);
    if (d.next == SendDecision::Next::AskMode) {
        const std::optional<SendMode> mode = askMode(main_, d, *target);
        if (!mode) return;
        d = decideMode(r, t.target, isCurrent, count, *mode);
    }
    if (d.next != SendDecision::Next::Start) {
        if (d.next == SendDecision::Next::Notice) report::notice(env, d.text);
        if (d.receiveAnyway) PostMessageA(main_, WM_COMMAND, MAKEWPARAM(cmd::kReceive, 0), 0);
        return;
    }
    if (!d.confirm.empty() &&
        env.reporter.show(d.confirm, kCaptionFinalConfirm, platform::Icon::Question,
                          platform::Buttons::OkCancel) != platform::Answer::Ok) {
        return;
    }
    SendJob job;
    job.sendAndReceive = sendAndReceive;
    if (d.mode == SendMode::AllTabs) {
        for (Tab* tab = program_.tabs.first(); tab; tab = tab->next) {
            if (isSendTab(r, factsOf(*tab))) job.tabs.push_back(tab);
        }
    } else {
        job.tabs.push_back(target);
    }
    job.selectedOnly = d.mode == SendMode::Selected;
    job.selected = std::move(selected);
    claim.handOver();
    startLater(std::move(job));
}

// The command returns first (its dialogs are gone, the tab it showed is drawn); timer 5 starts
// the run.
void SendModule::startLater(SendJob job) {
    pending_ = std::move(job);
    SetTimer(main_, kTimerHandOver, 10, nullptr);
}

void SendModule::handOver() {
    KillTimer(main_, kTimerHandOver);
    if (pending_) {
        SendJob job = std::move(*pending_);
        pending_.reset();
        start(std::move(job));
        return;
    }
    startQueued();
}

void SendModule::start(SendJob job) {
    auto a = std::make_unique<ActiveRun>(program_.env);
    a->env.unattended = job.unattended;
    a->env.logOut = program_.env.logOut.load();
    a->env.logSize = program_.env.logSize.load();
    // The whole index of every tab of the run, read here so that the list shows it.
    for (Tab* tab : job.tabs)
        SendMessageA(main_, kMsgHostReadWholeIndex, 0, reinterpret_cast<LPARAM>(tab));
    a->accounts.load(a->env);
    a->directory = std::make_unique<rules::RegistryTabs>(program_.tabs);
    const rules::SortSettings settings = rules::readSortSettings(a->env.ini);
    a->rulesLoaded = a->rules.load(a->env, rules::RuleKind::Send, *a->directory,
                                   settings.staleMonths) == Err::None;
    if (a->rulesLoaded) a->appliedBefore = a->rules.appliedTotal(rules::RuleKind::Send);
    a->observer = std::make_unique<WindowObserver>(main_, job.unattended, job.tabs);
    a->run = std::make_unique<smtp::SendRun>(a->env, a->accounts.head().next, *a->observer);
    a->run->options = smtp::readSendRunOptions(a->env.ini);
    a->run->sendRules = a->rulesLoaded ? &a->rules : nullptr;
    a->run->reader = &a->reader;
    a->run->ruleOptions.ownAddresses = rules::ownAddresses(a->accounts.head().next);
    if (job.selectedOnly) {
        const auto chosen = job.selected;
        a->run->chosen = [chosen](const MailItem& m) {
            return std::find(chosen.begin(), chosen.end(), &m) != chosen.end();
        };
    }
    a->job = std::move(job);
    runState().abortRequested = 0;
    {
        RunStatus& s = runStatus();
        std::lock_guard<std::mutex> g(s.lock);
        s.account.clear();
        s.unattended = a->job.unattended;
        s.state = -1;
        s.current = s.total = s.percent = 0;
    }
    setRunMenus(main_, RunMenus::Sending);
    active_ = std::move(a);
    ActiveRun* run = active_.get();
    HWND main = main_;
    try {
        worker_ = std::thread([run, main] {
            smtp::runSend(*run->run, run->job.tabs);
            // The finished state stays in view a moment before the status area is given back.
            Sleep(500);
            PostMessageA(main, kMsgSendRunEnded, 0, 0);
        });
    } catch (...) {
        finish();
    }
}

// The run's end, and the end of a run that could not start: the one way back to idle.
void SendModule::finish() {
    if (worker_.joinable()) worker_.join();
    std::unique_ptr<ActiveRun> a = std::move(active_);
    if (a && a->rulesLoaded && a->rules.appliedTotal(rules::RuleKind::Send) != a->appliedBefore)
        a->rules.save(a->env, rules::RuleKind::Send, *a->directory);
    {
        RunStatus& s = runStatus();
        std::lock_guard<std::mutex> g(s.lock);
        s.account.clear();
        s.state = -1;
        s.unattended = false;
    }
    redrawRunStatus(main_);
    setRunMenus(main_, RunMenus::Idle);
    runState().abortRequested = 0;
    runState().end();
    if (a) {
        for (Tab* t : a->job.tabs) {
            if (t->plainList) InvalidateRect(static_cast<HWND>(t->plainList), nullptr, FALSE);
        }
    }
    SendMessageA(main_, kMsgHostTabStatus, 0, 0);
    redrawTabs(main_);
    if (a && a->job.sendAndReceive)
        PostMessageA(main_, WM_COMMAND, MAKEWPARAM(cmd::kReceive, 0), 0);
    if (quitAfterRun_.exchange(false)) {
        PostMessageA(main_, WM_CLOSE, 0, 0);
        return;
    }
    // Tabs that fell due during the run go next.
    if (!schedule_.empty()) SetTimer(main_, kTimerHandOver, 10, nullptr);
}

void SendModule::ended() {
    finish();
}

void SendModule::timedTick() {
    std::vector<TabTimer> timers;
    for (Tab* t = program_.tabs.first(); t; t = t->next) {
        if (t->kind == store::kSendTab) timers.push_back(readTabTimer(program_.env.ini, *t));
    }
    schedule_.evaluate(localMinute(program_.env.clock.localNow()), timers);
    startQueued();
}

// The queued tabs, sent unattended in one run when no run and no list operation is active;
// otherwise they wait for the next minute or the end of the run under way.
bool SendModule::startQueued() {
    if (pending_ || schedule_.empty() || runState().processing.load()) return false;
    if (!runState().tryBegin(RunKind::Send)) return false;
    RunClaim claim;
    SendJob job;
    job.unattended = true;
    for (int id : schedule_.take()) {
        Tab* t = program_.tabs.findById(id);
        if (t && t->kind == store::kSendTab && t->waitMailCount > 0) job.tabs.push_back(t);
    }
    if (job.tabs.empty()) return false;
    claim.handOver();
    start(std::move(job));
    return true;
}

bool SendModule::quitAfterRun() {
    if (runState().kind() != RunKind::Send) return false;
    quitAfterRun_ = true;
    return true;
}

SendModule* g_module = nullptr;

}  // namespace

void registerSendCommands(ShellContext& c) {
    static SendModule module(c);
    g_module = &module;
    c.commands.add(cmd::kSend, [](int) { g_module->command(false); });
    c.commands.add(cmd::kSendReceive, [](int) { g_module->command(true); });
    c.messages.onTimer(kTimerTimedSend, [] { g_module->timedTick(); });
    c.messages.onTimer(kTimerHandOver, [] { g_module->handOver(); });
    c.messages.onMessage(kMsgSendRunEnded, [](WPARAM, LPARAM) { g_module->ended(); });
    SetTimer(c.main, kTimerTimedSend, kTimedSendEveryMs, nullptr);
}

bool closeAfterSendRun(HWND main) {
    (void)main;
    return g_module && g_module->quitAfterRun();
}

}  // namespace kolvy::shell::win32
