#include "shell/send_command.h"

#include <algorithm>
#include <cstdio>

#include "core/calendar.h"

namespace kolvy::shell {
namespace {

constexpr char kOption[] = "Option";
constexpr int kSendKind = 1, kTrashKind = 2;

bool flag(platform::Profile& ini, const char* key, bool def) {
    return platform::readInt(ini, kOption, key, def ? 1 : 0) == 1;
}

int clampedInt(platform::Profile& ini, const std::string& section, const char* key, int lo,
               int hi) {
    const int64_t v = platform::readInt(ini, section, key, 0);
    return static_cast<int>(std::clamp<int64_t>(v, lo, hi));
}

std::string countText(int count) {
    char text[128];
    std::snprintf(text, sizeof text, kFormatSendCount, count);
    return text;
}

SendDecision notice(const SendRequest& r, const char* text, bool silent = false) {
    SendDecision d;
    d.next = silent ? SendDecision::Next::Nothing : SendDecision::Next::Notice;
    if (!silent) d.text = text;
    d.receiveAnyway = r.sendAndReceive;
    return d;
}

// A send-and-receive told to keep quiet asks nothing on the way.
bool quiet(const SendRequest& r) {
    return r.sendAndReceive && r.options.quietSendReceive;
}

}  // namespace

SendOptions readSendOptions(platform::Profile& ini) {
    SendOptions o;
    o.condition = static_cast<int>(platform::readInt(ini, kOption, "SendCondition", 1));
    o.action = static_cast<int>(platform::readInt(ini, kOption, "SendAction", 0));
    o.confirm = flag(ini, "SendConfirmDlg", true);
    o.openBasicTab = flag(ini, "SendOpenBasicTab", true);
    o.trashIsSendTab = flag(ini, "GomiAddSendTab", false);
    o.quietSendReceive = flag(ini, "NoSendDlg_SendRecive", false);
    return o;
}

TabFacts factsOf(const Tab& tab) {
    return {tab.id, tab.kind, tab.basic != 0, tab.waitMailCount};
}

bool isSendTab(const SendRequest& r, const TabFacts& t) {
    return t.kind == kSendKind || (t.kind == kTrashKind && r.options.trashIsSendTab);
}

TargetChoice chooseTarget(const SendRequest& r) {
    TargetChoice c;
    const int n = static_cast<int>(r.tabs.size());
    const bool haveCurrent = r.current >= 0 && r.current < n;
    // The basic send tab is the basic tab of the send kind; the basic trash tab, even when it
    // takes waiting mail, never stands in for it.
    int basic = -1;
    for (int i = 0; i < n; ++i) {
        if (r.tabs[static_cast<size_t>(i)].kind == kSendKind &&
            r.tabs[static_cast<size_t>(i)].basic)
            basic = i;
    }
    const TabFacts* current = haveCurrent ? &r.tabs[static_cast<size_t>(r.current)] : nullptr;
    switch (r.options.condition) {
        case 0:
            c.target = current && isSendTab(r, *current) ? r.current : -1;
            break;
        case 2:
            c.target = basic;
            break;
        default:
            c.target = current && current->kind == kSendKind ? r.current : basic;
            break;
    }
    c.switchToIt = c.target >= 0 && c.target != r.current && r.options.openBasicTab;
    return c;
}

SendDecision decideSend(const SendRequest& r, int target, bool targetIsCurrent,
                        int selectedWaiting) {
    if (r.runActive) {
        SendDecision d;
        d.next = SendDecision::Next::Notice;
        d.text = kTextRunActive;
        return d;
    }
    if (target < 0 || target >= static_cast<int>(r.tabs.size())) return notice(r, "", true);
    const TabFacts& t = r.tabs[static_cast<size_t>(target)];
    if (t.waiting <= 0 && r.options.action != 3)
        return notice(r, kTextNothingToSend, r.options.quietSendReceive);
    if (quiet(r))
        return decideMode(r, target, targetIsCurrent, selectedWaiting, SendMode::TargetTab);
    switch (r.options.action) {
        case 1:
            return decideMode(r, target, targetIsCurrent, selectedWaiting, SendMode::Selected);
        case 2:
            return decideMode(r, target, targetIsCurrent, selectedWaiting, SendMode::TargetTab);
        case 3:
            return decideMode(r, target, targetIsCurrent, selectedWaiting, SendMode::AllTabs);
        default:
            break;
    }
    SendDecision d;
    d.next = SendDecision::Next::AskMode;
    d.target = target;
    const bool counted = targetIsCurrent && selectedWaiting > 0;
    d.selectedEnabled = counted;
    d.preselected = counted ? SendMode::Selected : SendMode::TargetTab;
    int sendTabs = 0;
    for (const TabFacts& f : r.tabs)
        sendTabs += isSendTab(r, f) ? 1 : 0;
    d.allTabsEnabled = sendTabs > 1;
    return d;
}

SendDecision decideMode(const SendRequest& r, int target, bool targetIsCurrent, int selectedWaiting,
                        SendMode mode) {
    // Only a run the options chose without asking is confirmed: the choice dialog was the
    // question already.
    const bool confirm = r.options.confirm && r.options.action != 0 && !quiet(r);
    SendDecision d;
    d.next = SendDecision::Next::Start;
    d.mode = mode;
    d.target = target;
    const TabFacts* t = target >= 0 && target < static_cast<int>(r.tabs.size())
                            ? &r.tabs[static_cast<size_t>(target)]
                            : nullptr;
    switch (mode) {
        case SendMode::AllTabs: {
            int waiting = 0;
            for (const TabFacts& f : r.tabs)
                waiting += isSendTab(r, f) && f.waiting > 0 ? f.waiting : 0;
            if (waiting == 0) return notice(r, kTextNothingToSend);
            if (confirm) d.confirm = kTextSendEverything;
            return d;
        }
        case SendMode::TargetTab:
            if (!t || t->waiting <= 0)
                return notice(r, kTextNothingToSend, r.options.quietSendReceive);
            if (confirm) d.confirm = countText(t->waiting);
            return d;
        case SendMode::Selected:
            if (!t || !targetIsCurrent) return notice(r, kTextSendTabNotOpen);
            if (selectedWaiting <= 0) return notice(r, kTextNoWaitingSelected);
            if (confirm) d.confirm = countText(selectedWaiting);
            return d;
    }
    return d;
}

// ----------------------------------------------------------------------------- timed sending

TabTimer readTabTimer(platform::Profile& ini, const Tab& tab) {
    const std::string s = std::to_string(tab.id);
    TabTimer t;
    t.id = tab.id;
    t.kind = tab.kind;
    t.on = platform::readInt(ini, s, "SousinTimer", 0) == 1;
    t.startHour = clampedInt(ini, s, "StartJikoku", 0, 23);
    t.startMinute = clampedInt(ini, s, "StartFunn", 0, 59);
    t.hours = clampedInt(ini, s, "Jikoku", 0, 24);
    t.fiveMinutes = clampedInt(ini, s, "Funn", 0, 11);
    return t;
}

int intervalMinutes(const TabTimer& t) {
    const int minutes = t.hours * 60 + t.fiveMinutes * 5;
    return minutes > 0 ? minutes : 1440;
}

int64_t localMinute(const platform::LocalTime& t) {
    return daysFromCivil(t.year, t.month, t.day) * 1440 + t.hour * 60 + t.minute;
}

std::vector<int> dueSendTabs(const std::vector<TabTimer>& timers, int minuteOfDay) {
    std::vector<int> due;
    for (const TabTimer& t : timers) {
        if (t.kind != kSendKind || !t.on) continue;
        if (periodDue(minuteOfDay, t.startHour * 60 + t.startMinute, intervalMinutes(t)))
            due.push_back(t.id);
    }
    return due;
}

void SendSchedule::evaluate(int64_t absoluteMinute, const std::vector<TabTimer>& timers) {
    std::lock_guard<std::mutex> g(lock_);
    gate_.advance(absoluteMinute, [&](int minute) {
        for (int id : dueSendTabs(timers, minute)) {
            if (std::find(queued_.begin(), queued_.end(), id) == queued_.end())
                queued_.push_back(id);
        }
    });
}

void SendSchedule::queue(int tabId) {
    std::lock_guard<std::mutex> g(lock_);
    if (std::find(queued_.begin(), queued_.end(), tabId) == queued_.end()) queued_.push_back(tabId);
}

std::vector<int> SendSchedule::take() {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<int> out;
    out.swap(queued_);
    return out;
}

bool SendSchedule::empty() const {
    std::lock_guard<std::mutex> g(lock_);
    return queued_.empty();
}

}  // namespace kolvy::shell
