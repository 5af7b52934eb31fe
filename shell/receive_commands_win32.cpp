// The receive commands of the main window: 受信 with the order selected in the account pane, the
// abort, the periodic switch and its timer, the mail checker, the start-up receive, and
// KVA_Recieve for the checker. The run itself works on a thread of its own; what it asks of the
// window comes back to the main thread as posted messages.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "config/accounts.h"
#include "config/orders.h"
#include "core/calendar.h"
#include "core/schedule.h"
#include "core/sjis.h"
#include "platform/ras.h"
#include "pop/checker_bridge.h"
#include "pop/connection.h"
#include "pop/receive_run.h"
#include "pop/receive_run_store.h"
#include "report/report.h"
#include "shell/command_ids.h"
#include "shell/host_exports_win32.h"
#include "shell/mainwindow_win32.h"
#include "shell/run_status.h"
#include "shell/shell_context_win32.h"

namespace kolvy::shell::win32 {
namespace {

constexpr UINT_PTR kTimerDial = 1;
constexpr UINT_PTR kTimerPeriodic = 2;
constexpr UINT_PTR kTimerProgress = 3;
constexpr UINT kPeriodicMs = 60000;
// What the run's thread asks of the window: wParam is the step, lParam its value.
constexpr UINT kMsgReceiveWindow = 0x8200;
enum Step : WPARAM { kMenus, kDialTimer, kProgressTimer, kTray, kRefresh, kStartup, kEnded };
// Tests set the program's clock for the periodic check: a file holding local minutes since 1970.
constexpr char kTestClockVariable[] = "KOLVY_TEST_CLOCK";

class LibraryLoader final : public pop::CheckerLoader {
  public:
    bool load(const std::string& name) override {
        lib_ = LoadLibraryA(name.c_str());
        return lib_ != nullptr;
    }
    void* entry(const char* name) override {
        return lib_ ? reinterpret_cast<void*>(GetProcAddress(lib_, name)) : nullptr;
    }

  private:
    HMODULE lib_ = nullptr;  // kept for the process: the checker's window may outlive a call
};

// The session's states and the icon of the step that sets them.
int iconOf(int state) {
    switch (state) {
        case 2:
        case 3:
        case 12:
            return pop::kIconLogin;
        case 4:
            return pop::kIconLoggedIn;
        case 16:
            return pop::kIconAbort;
        default:
            return pop::kIconReceive;
    }
}

class ReceiveModule final : public pop::RunHost, public pop::RunObserver {
  public:
    explicit ReceiveModule(ShellContext& c)
        : main_(c.main),
          program_(c.program),
          env_(c.program.env),
          ras_(platform::makeRas()),
          receiver_(env_, program_.tabs, accounts_),
          bridge_(env_, loader_, program_.run) {
        receiver_.abortRequested = &program_.run.abortRequested;
        if (const char* clock = std::getenv(kTestClockVariable)) testClock_ = clock;
    }

    void load() {
        accounts_.load(env_);
        const auto parent = env_.ini.read("Option", "ParentTimer");
        periodic_ = !parent || *parent != "0";
        if (periodic_) SetTimer(main_, kTimerPeriodic, kPeriodicMs, nullptr);
        PostMessageA(main_, kMsgReceiveWindow, kStartup, 0);
    }
    void registerWith(ShellContext& c);
    int checkerReceive(CheckerItem* list, int32_t account) {
        return pop::checkerReceive(env_, *this, *this, accounts_, list, account, program_.run);
    }

    // RunHost (any thread)
    void menus(bool receiving) override { toWindow(kMenus, receiving); }
    void progressTimer(bool on) override { toWindow(kProgressTimer, on); }
    void dialTimer(bool on) override { toWindow(kDialTimer, on); }
    void trayBusy(bool busy) override { toWindow(kTray, busy); }
    void post(uint32_t message, uintptr_t wParam) override {
        PostMessageA(main_, message, wParam, 0);
    }
    void refreshTabs() override { toWindow(kRefresh, 0); }
    void markArrivalsSeen() override { pop::markArrivalsSeen(program_.tabs); }
    // The program folder has one writer, this program: nobody else changed an index meanwhile.
    bool reloadIndexes() override { return true; }
    bool startNetwork() override {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    void stopNetwork() override { WSACleanup(); }
    void openReceivedLog() override { receiver_.openLog(); }
    void closeReceivedLog() override { receiver_.closeLog(); }
    void sleepMs(unsigned ms) override { Sleep(ms); }
    pop::MailCheckFn mailCheck() override { return bridge_.mailCheck(); }
    int receiveAccount(const Account& account, const ReceiveOrder* order, CheckerItem* checker,
                       pop::ReceiveProgress& progress, const std::function<void()>& changed,
                       bool& listed) override {
        return receiver_.receive(account, order, checker, progress, changed, listed);
    }

    // RunObserver (the run's thread)
    void account(std::string_view name, bool unattended) override {
        {
            std::lock_guard<std::mutex> hold(runStatus().lock);
            runStatus().account.assign(name);
            runStatus().unattended = unattended;
        }
        redrawRunStatus(main_);
    }
    void state(int state, int icon) override {
        {
            std::lock_guard<std::mutex> hold(runStatus().lock);
            runStatus().state = state;
            runStatus().stepIcon = icon;
        }
        redrawRunStatus(main_);
    }
    void progress(const pop::ReceiveProgress& p) override;

  private:
    void toWindow(Step step, LPARAM value) { PostMessageA(main_, kMsgReceiveWindow, step, value); }
    void onWindowStep(WPARAM step, LPARAM value);
    void startReceive(ReceiveOrder* order, bool startup);
    void tellUser(const char* text);
    void launch(const pop::RunRequest& request);
    void onPeriodic();
    void onProgressTimer();
    void abort();
    void switchPeriodic();
    int64_t localMinute();
    void showCurrentTab();

    HWND main_;
    Program& program_;
    Env& env_;
    config::AccountList accounts_;
    config::OrderList& orders_ = receiveOrders(env_);
    pop::RunQueue queue_;
    MinuteGate gate_;
    std::unique_ptr<platform::Ras> ras_;
    pop::StoreReceiver receiver_;
    LibraryLoader loader_;
    pop::CheckerBridge bridge_;
    std::thread worker_;
    bool periodic_ = true;
    std::string testClock_;
};

// The module lives as long as the process: the checker may call KVA_Recieve until the end.
ReceiveModule* gModule = nullptr;

void ReceiveModule::progress(const pop::ReceiveProgress& p) {
    {
        RunStatus& s = runStatus();
        std::lock_guard<std::mutex> hold(s.lock);
        s.state = p.state.load();
        s.stepIcon = iconOf(s.state);
        s.current = p.current.load();
        s.total = p.total.load();
        s.received = p.received.load();
        s.percent = p.percent.load();
        s.bytesExpected = static_cast<int64_t>(p.bytesExpected.load());
        s.bytesLeft = static_cast<int64_t>(p.bytesRemaining.load());
        s.analysing = p.analysing.load();
    }
    redrawRunStatus(main_);
}

void ReceiveModule::showCurrentTab() {
    if (Tab* t = program_.tabs.current(); t && program_.currentChanged) program_.currentChanged(*t);
    SendMessageA(main_, kMsgHostTabStatus, 0, 0);
}

void ReceiveModule::onWindowStep(WPARAM step, LPARAM value) {
    switch (step) {
        case kMenus:
            setRunMenus(main_, value ? RunMenus::Receiving : RunMenus::Idle);
            break;
        case kDialTimer:
            if (value) SetTimer(main_, kTimerDial, 500, nullptr);
            if (!value) KillTimer(main_, kTimerDial);
            break;
        case kProgressTimer:
            if (value) SetTimer(main_, kTimerProgress, 1000, nullptr);
            if (!value) KillTimer(main_, kTimerProgress);
            break;
        case kTray:
            setTrayIcon(main_, value ? TrayIcon::Busy : TrayIcon::Normal);
            break;
        case kRefresh:
            showCurrentTab();
            break;
        case kStartup: {
            ReceiveOrder* first = nullptr;
            for (ReceiveOrder* o = orders_.head().next; o && !first; o = o->next)
                if (o->receiveAtStart) first = o;
            if (first) startReceive(first, true);
            break;
        }
        case kEnded:
            if (worker_.joinable()) worker_.join();
            break;
        default:
            break;
    }
}

// The user asked, so the user is told, even while a timer's run has the process unattended.
void ReceiveModule::tellUser(const char* text) {
    program_.run.boxShowing = 1;
    env_.reporter.show(text, report::kAppTitle, platform::Icon::Information, platform::Buttons::Ok);
    program_.run.boxShowing = 0;
}

void ReceiveModule::startReceive(ReceiveOrder* order, bool startup) {
    switch (pop::checkStart(program_.run, order)) {
        case pop::StartRefusal::Busy:
            tellUser(pop::kTextReceiving);
            return;
        case pop::StartRefusal::NothingSelected:
            tellUser(pop::kTextNoOrderSelected);
            return;
        case pop::StartRefusal::None:
            break;
    }
    const auto openBasic = env_.ini.read("Option", "RecvOpenBasicTab");
    if (!openBasic || *openBasic != "0") {
        if (Tab* basic = program_.tabs.basicTab(0); basic && basic != program_.tabs.current()) {
            program_.selectTab(*basic);
            showCurrentTab();
        }
    }
    if (!program_.run.tryBegin(RunKind::Receive)) {
        tellUser(pop::kTextReceiving);
        return;
    }
    launch({order, startup, false});
}

// The caller holds the run flag; the run gives it back.
void ReceiveModule::launch(const pop::RunRequest& request) {
    if (worker_.joinable()) worker_.join();  // the previous run has ended; its thread is leaving
    {
        std::lock_guard<std::mutex> hold(runStatus().lock);
        runStatus().state = -1;
        runStatus().stepIcon = -1;
        runStatus().percent = 0;
    }
    worker_ = std::thread([this, request] {
        pop::ReceiveRun run(env_, *this, *this, *ras_, accounts_, queue_, program_.run);
        run.run(request);
        toWindow(kEnded, 0);
    });
}

// -1 when the tests' clock cannot be read just now: that tick is skipped.
int64_t ReceiveModule::localMinute() {
    if (!testClock_.empty()) {
        auto f = env_.fs.open(testClock_, platform::OpenMode::Read);
        char buf[32] = {};
        if (!f || !(*f)->read(std::span<char>(buf, sizeof buf - 1))) return -1;
        const int64_t minute = std::atoll(buf);
        return minute > 0 ? minute : -1;
    }
    const platform::LocalTime t = env_.clock.localNow();
    return daysFromCivil(t.year, t.month, t.day) * 1440 + t.hour * 60 + t.minute;
}

void ReceiveModule::onPeriodic() {
    const int64_t now = localMinute();
    if (!periodic_ || now < 0) return;
    gate_.advance(now, [&](int minute) { pop::periodicCheck(orders_, queue_, minute); });
    RunState& run = program_.run;
    if (run.running() || run.processing || queue_.empty()) return;
    if (!run.tryBegin(RunKind::Receive)) return;
    ReceiveOrder* next = queue_.take();
    if (!next) {
        run.end();
        return;
    }
    launch({next, false, true});
}

// A blocking call that lasts shows "回線がビジーです" after four seconds.
void ReceiveModule::onProgressTimer() {
    if (pop::BlockingSeconds > 0) ++pop::BlockingSeconds;
    {
        std::lock_guard<std::mutex> hold(runStatus().lock);
        runStatus().blocking = pop::BlockingSeconds >= 4;
    }
    redrawRunStatus(main_);
}

void ReceiveModule::abort() {
    if (!program_.run.running()) return;
    program_.run.abortRequested = 1;
    state(pop::kStateAborting, pop::kIconAbort);
}

void ReceiveModule::switchPeriodic() {
    periodic_ = !periodic_;
    env_.ini.write("Option", "ParentTimer", periodic_ ? "1" : "0");
    if (periodic_) SetTimer(main_, kTimerPeriodic, kPeriodicMs, nullptr);
    if (!periodic_) KillTimer(main_, kTimerPeriodic);
}

void ReceiveModule::registerWith(ShellContext& c) {
    c.commands.add(cmd::kReceive, [this](int) { startReceive(orders_.selected(), false); });
    c.commands.add(
        cmd::kAbort, [this](int) { abort(); }, kCmdWhileProcessing);
    c.commands.add(
        cmd::kPeriodicSwitch, [this](int) { switchPeriodic(); }, kCmdNotDuringRun);
    c.commands.add(
        cmd::kMailChecker, [this](int) { bridge_.open(reinterpret_cast<uintptr_t>(main_), 2); },
        kCmdNotDuringRun);
    c.messages.onMessage(pop::kMsgLoadChecker, [this](WPARAM, LPARAM) {
        bridge_.open(reinterpret_cast<uintptr_t>(main_), 0);
        focusCurrentList(main_);
    });
    c.messages.onMessage(kMsgReceiveWindow,
                         [this](WPARAM step, LPARAM value) { onWindowStep(step, value); });
    c.messages.onTimer(kTimerDial, [this] { redrawRunStatus(main_); });
    c.messages.onTimer(kTimerPeriodic, [this] { onPeriodic(); });
    c.messages.onTimer(kTimerProgress, [this] { onProgressTimer(); });
}

}  // namespace

config::OrderList& receiveOrders(Env& env) {
    static config::OrderList orders;
    static std::once_flag once;
    std::call_once(once, [&] { orders.load(env, false); });
    return orders;
}

void registerReceiveCommands(ShellContext& c) {
    if (!gModule) gModule = new ReceiveModule(c);
    gModule->load();
    gModule->registerWith(c);
}

}  // namespace kolvy::shell::win32

extern "C" int KOLVY_STDCALL KVA_Recieve(CheckerItem* list, int32_t accountNumber) {
    using kolvy::shell::win32::gModule;
    return gModule ? gModule->checkerReceive(list, accountNumber) : 1;
}
