// What the send command and the send timer decide, apart from the window: which tab is the
// target, what the user is told or asked, which mode the run takes; which send tabs are due in a
// minute of the day. The window layer (send_commands_win32.cpp) asks the questions and starts
// the run.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/records.h"
#include "core/run_state.h"
#include "core/schedule.h"
#include "platform/platform.h"

namespace kolvy::shell {

inline constexpr char kTextNothingToSend[] = "１通も送信するメールがありません。    ";
inline constexpr char kTextSendTabNotOpen[] = "送信用タブが開かれていません。    ";
inline constexpr char kTextNoWaitingSelected[] = "「送信待ち」メールが選択されていません。    ";
inline constexpr char kFormatSendCount[] = "%d通 の送信待ちメールを送信します。      ";
inline constexpr char kTextSendEverything[] = "Kolvyメールの総ての送信待ちメールを送信します。    ";
inline constexpr char kCaptionFinalConfirm[] = "送信の最終確認";
inline constexpr char kCaptionSendChoice[] = "送信処理の選択";
inline constexpr char kChoiceSelected[] = "選択されている 「送信待ち」 メールを送信する";
inline constexpr char kFormatChoiceTab[] = "『%s』 タブ内の全ての 「送信待ち」 メールを送信する";
inline constexpr char kChoiceAllTabs[] = "全送信用タブ内の全ての 「送信待ち」 メールを送信する";

// Options of section "Option" the command reads, with their defaults.
struct SendOptions {
    int condition = 1;    // SendCondition: 0 the current send tab, 1 it or the basic one, 2 basic
    int action = 0;       // SendAction: 0 ask, 1 selected, 2 the target tab, 3 all send tabs
    bool confirm = true;  // SendConfirmDlg
    bool openBasicTab = true;       // SendOpenBasicTab
    bool trashIsSendTab = false;    // GomiAddSendTab
    bool quietSendReceive = false;  // NoSendDlg_SendRecive
};
SendOptions readSendOptions(platform::Profile& ini);

// What the command needs of one tab.
struct TabFacts {
    int id = 0;
    int kind = 0;  // Propaty
    bool basic = false;
    int waiting = 0;  // WaitMailCount
};
TabFacts factsOf(const Tab& tab);

struct SendRequest {
    SendOptions options;
    bool sendAndReceive = false;
    bool runActive = false;
    std::vector<TabFacts> tabs;  // in tab order
    int current = -1;            // index of the current tab in `tabs`; -1 none
};

bool isSendTab(const SendRequest& r, const TabFacts& t);

struct TargetChoice {
    int target = -1;          // index in `tabs`; -1: the command does nothing
    bool switchToIt = false;  // the tab control is to show the target first
};
TargetChoice chooseTarget(const SendRequest& r);

enum class SendMode { Selected, TargetTab, AllTabs };

struct SendDecision {
    enum class Next {
        Nothing,  // the command ends without a word
        Notice,   // `text` (information), then the command ends
        AskMode,  // the choice dialog, then decideMode with the user's choice
        Start,    // after `confirm` (when not empty) is answered with OK
    };
    Next next = Next::Nothing;
    std::string text;     // the notice
    std::string confirm;  // the final confirmation; empty: none
    SendMode mode = SendMode::TargetTab;
    int target = -1;
    // The choice dialog.
    bool selectedEnabled = false, allTabsEnabled = false;
    SendMode preselected = SendMode::TargetTab;
    // Nothing was sent and nobody cancelled: a send-and-receive goes on to receive.
    bool receiveAnyway = false;
};

// After the target is chosen (and shown): `selectedWaiting` counts the selected or focused
// waiting messages of the target when it is the current tab.
SendDecision decideSend(const SendRequest& r, int target, bool targetIsCurrent,
                        int selectedWaiting);
// The mode chosen (by the options or in the dialog) and what follows from it.
SendDecision decideMode(const SendRequest& r, int target, bool targetIsCurrent, int selectedWaiting,
                        SendMode mode);

// ----------------------------------------------------------------------------- timed sending
struct TabTimer {
    int id = 0;
    int kind = 0;
    bool on = false;                     // SousinTimer
    int startHour = 0, startMinute = 0;  // StartJikoku, StartFunn
    int hours = 0, fiveMinutes = 0;      // Jikoku, Funn: the interval; both 0 = a day
};
TabTimer readTabTimer(platform::Profile& ini, const Tab& tab);
int intervalMinutes(const TabTimer& t);
// Minutes since 1970-01-01 00:00 of a local time: consecutive minutes across days and months.
int64_t localMinute(const platform::LocalTime& t);
// Ids of the send tabs due in this minute of the day, in tab order: every one of them.
std::vector<int> dueSendTabs(const std::vector<TabTimer>& timers, int minuteOfDay);

// The send tabs waiting for their timed run. A tab found due while another run holds the run flag
// stays here until a later minute or the end of a send run finds the flag free; a tab is queued
// once however often it was due meanwhile.
class SendSchedule {
  public:
    // Evaluates every minute since the last call up to `absoluteMinute` (minutes since 1970,
    // local time) exactly once and queues the tabs due in them.
    void evaluate(int64_t absoluteMinute, const std::vector<TabTimer>& timers);
    void queue(int tabId);
    // The queued tab ids, oldest first; the queue is empty afterwards.
    std::vector<int> take();
    bool empty() const;

  private:
    mutable std::mutex lock_;
    MinuteGate gate_;
    std::vector<int> queued_;
};

}  // namespace kolvy::shell
