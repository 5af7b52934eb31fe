// The receive run: one receive order (a plain order, or a folder's members in turn) worked off on
// a thread of its own, with dial-up before and hang-up after each member when the order says so,
// the mail checker for orders that only check, then the orders the periodic timer queued
// meanwhile. The window's part (menus, timers, status area, posts) is behind RunHost and
// RunObserver, so the run's decisions are tested without a window.
//
// Every starter (the receive command, the periodic timer, the start-up receive, the mail
// checker's KVA_Recieve) claims the process's one run flag first; every way out of a run goes
// through one cleanup that gives the flag back last.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "config/accounts.h"
#include "config/orders.h"
#include "core/records.h"
#include "core/run_state.h"
#include "platform/env.h"
#include "platform/ras.h"
#include "pop/session.h"
#include "store/tabs.h"

namespace kolvy::pop {

inline constexpr const auto& kTextReceiving = kTextRunActive;
inline constexpr char kTextNoOrderSelected[] = "受信操作の対象となる項目が選択されていません。   ";
inline constexpr char kTextWinsockLog[] = "WinSockの初期化エラー";
inline constexpr char kTextWinsockBox[] = "WinSockの初期化エラーです。   ";
inline constexpr char kTextDialParamsLog[] = "ダイアルアップ情報の取得に失敗しました。";
inline constexpr char kTextDialParamsBox[] = "ダイアルアップ情報の取得に失敗しました。    ";
inline constexpr char kTextDialNoPasswordLog[] = "ダイアルアップのパスワードが設定されていません。";
inline constexpr char kTextDialNoPasswordBox[] = "パスワードが設定されていません。    ";
inline constexpr char kTextAlreadyConnectedLog[] = "すでに接続されています。";
inline constexpr char kTextAlreadyConnectedAsk[] =
    "すでに接続されています、このまま続けますか？   ";
inline constexpr char kTextDialFailedLog[] = "%d--ダイアルアップ接続できませんでした。";
inline constexpr char kTextDialFailedBox[] = "ダイアルアップ接続できません。   ";
inline constexpr char kTextDialedLog[] = "ダイアルアップ回線に接続しました。";
inline constexpr char kTextHungUpLog[] = "ダイアルアップ回線を切断しました。";
inline constexpr char kTextCheckDoneLog[] = "メールチェックが完了しました";
inline constexpr char kTextDownloadDoneLog[] = "%d / %d 通－ダウンロードが完了しました";

// Status states the run sets itself (the session sets the others), and the icons of the steps.
inline constexpr int kStateDialling = 0;
inline constexpr int kStateConnected = 1;
inline constexpr int kStateDownloadDone = 6;
inline constexpr int kStateChecking = 7;
inline constexpr int kStateChecked = 8;
inline constexpr int kStateDisconnected = 9;
inline constexpr int kStateHangingUp = 10;
inline constexpr int kStateAborting = 19;
enum StepIcon : int {
    kIconNone = -1,
    kIconDial = 0,
    kIconLogin = 1,
    kIconLoggedIn = 2,
    kIconReceive = 3,
    kIconCheck = 4,
    kIconHangUp = 5,
    kIconAbort = 7
};

// Posted to the main thread.
inline constexpr uint32_t kMsgLoadChecker = 0x8000;
inline constexpr uint32_t kMsgCloseNewMail = 0x8003;
inline constexpr uint32_t kMsgOpenNewMail = 0x8004;

// The mail checker's entry that checks an account: (0, account number); 1 is failure.
using MailCheckFn = int(KOLVY_STDCALL*)(int32_t, int32_t);

// The status area: written on the run's thread.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    virtual void account(std::string_view name, bool unattended) = 0;
    virtual void state(int state, int icon) = 0;
    // The session's numbers and progress changed.
    virtual void progress(const ReceiveProgress& progress) = 0;
};

// What the run asks of the program and its window (any thread; the window does its part on the
// main thread).
class RunHost {
  public:
    virtual ~RunHost() = default;
    virtual void menus(bool receiving) = 0;
    virtual void progressTimer(bool on) = 0;
    virtual void dialTimer(bool on) = 0;
    virtual void trayBusy(bool busy) = 0;
    virtual void post(uint32_t message, uintptr_t wParam) = 0;
    virtual void refreshTabs() = 0;
    // Arrival marks of the previous run become "new" (2 -> 1).
    virtual void markArrivalsSeen() {}
    // A list operation that excludes receiving (the partial join) is at work.
    virtual bool joinBusy() { return false; }
    // Re-reads the loaded indexes of receive and trash tabs; false when one failed.
    virtual bool reloadIndexes() = 0;
    virtual bool startNetwork() = 0;
    virtual void stopNetwork() = 0;
    virtual void openReceivedLog() = 0;  // a failure is reported there and never ends the run
    virtual void closeReceivedLog() = 0;
    virtual void sleepMs(unsigned ms) = 0;
    // The checker's MailCheck once its library is loaded; null before.
    virtual MailCheckFn mailCheck() = 0;
    // One POP3 dialogue with the account; `listed` tells whether it read the server's listing.
    virtual int receiveAccount(const Account& account, const ReceiveOrder* order,
                               CheckerItem* checker, ReceiveProgress& progress,
                               const std::function<void()>& changed, bool& listed) = 0;
};

// The orders the periodic timer queued, first in first out. The timer fills it on the main
// thread and the run drains it on its own: every access is under the lock, and an order keeps
// its queued mark until it has run (so the timer does not queue it twice meanwhile).
class RunQueue {
  public:
    static constexpr size_t kSlots = 10;
    // False when all slots are taken or the order is queued already.
    bool push(ReceiveOrder* order);
    // Takes the first order out of its slot; its mark stays until ranOut(order).
    ReceiveOrder* take();
    void ranOut(ReceiveOrder* order);
    bool empty();
    size_t size();

  private:
    std::mutex lock_;
    std::array<ReceiveOrder*, kSlots> slots_{};
};

// One minute of the periodic check: each top-level order with Timer=1 that is due at
// `minuteOfDay` goes into the queue; the check stops when the queue is full. Returns the
// number of orders queued.
int periodicCheck(config::OrderList& orders, RunQueue& queue, int minuteOfDay);

// Before a run starts: the refusals of the receive command.
enum class StartRefusal { None, Busy, NothingSelected };
StartRefusal checkStart(const RunState& run, const ReceiveOrder* order);

struct RunRequest {
    ReceiveOrder* order = nullptr;
    bool startup = false;  // the start-up receive: BootWaitTime first
    bool queued = false;   // queued by the timer: unattended
};

// What a run did, for its caller and the tests.
struct RunSummary {
    enum class End { Done, IndexFailed, AbortedWaiting, NetworkFailed } end = End::Done;
    int lastResult = kReceiveDone;
    bool dialogueRan = false;
    bool listed = false;
    int ordersRun = 0;
};

class ReceiveRun {
  public:
    ReceiveRun(Env& env, RunHost& host, RunObserver& observer, platform::Ras& ras,
               config::AccountList& accounts, RunQueue& queue, RunState& state = runState())
        : env_(env),
          host_(host),
          observer_(observer),
          ras_(ras),
          accounts_(accounts),
          queue_(queue),
          state_(state) {}

    // The run's thread procedure. The starter claimed state.tryBegin(RunKind::Receive); the flag
    // is given back here, whatever way the run ends.
    RunSummary run(const RunRequest& request);
    // One order: 0 done, 1 failed, 2 aborted, 3 no mail, 4 the list command failed.
    int connectServ(ReceiveOrder& order);

  private:
    class Cleanup;
    bool prepare(RunSummary& summary);
    bool waitAtStartup();
    void workOff(ReceiveOrder& order, RunSummary& summary);
    void workOffQueue(RunSummary& summary);
    int receive(const Account& account, ReceiveOrder& order);
    int dial(const Account& account, uintptr_t& connection);
    void hangUp(uintptr_t connection);
    int checkMail(const Account& account);
    void setState(int state, int icon);
    void log(std::string_view text);
    void logOrder(const ReceiveOrder& order);

    Env& env_;
    RunHost& host_;
    RunObserver& observer_;
    platform::Ras& ras_;
    config::AccountList& accounts_;
    RunQueue& queue_;
    RunState& state_;
    bool dialogueRan_ = false;
    bool listed_ = false;
};

// The mail checker's receive (KVA_Recieve) on the checker's thread: the run flag is claimed
// here. 0 ok, 1 failure. `sinchakuDlg` is Option/SinchakuDlg.
int checkerReceive(Env& env, RunHost& host, RunObserver& observer, config::AccountList& accounts,
                   CheckerItem* list, int32_t accountNumber, RunState& state = runState());

// Before a run: what arrived in the previous run is only "new" now (arrival mark 2 -> 1), in
// every tab but the send tabs.
void markArrivalsSeen(store::TabRegistry& tabs);

// BootWaitTime of section "Option": seconds the start-up receive waits first.
int bootWaitSeconds(platform::Profile& ini);

}  // namespace kolvy::pop
