#include "shell/send_command.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_env.h"

namespace kolvy::shell {
namespace {

using Next = SendDecision::Next;

// Tabs in the default order with an extra send tab: 受信 (0), 送信 (1, basic), ごみ箱 (2),
// 仕事 (3, a second send tab).
SendRequest request(int current, int basicWaiting, int workWaiting, int trashWaiting = 0) {
    SendRequest r;
    r.tabs = {{0, 0, true, 0},
              {1, 1, true, basicWaiting},
              {2, 2, true, trashWaiting},
              {3, 1, false, workWaiting}};
    r.current = current;
    return r;
}

// The whole command as the window runs it: target, then the decision; the dialog's choice, when
// asked, is `choice`.
struct Outcome {
    TargetChoice target;
    SendDecision d;
};
Outcome run(const SendRequest& r, int selectedWaiting, SendMode choice = SendMode::TargetTab) {
    Outcome o;
    o.target = chooseTarget(r);
    const int shown = o.target.switchToIt ? o.target.target : r.current;
    const bool isCurrent = o.target.target >= 0 && o.target.target == shown;
    o.d = decideSend(r, o.target.target, isCurrent, isCurrent ? selectedWaiting : 0);
    if (o.d.next == Next::AskMode)
        o.d = decideMode(r, o.target.target, isCurrent, isCurrent ? selectedWaiting : 0, choice);
    return o;
}

TEST(SendTarget, ConditionPicksTheCurrentOrTheBasicSendTab) {
    struct Case {
        const char* name;
        int condition, current;
        bool openBasic, trashIsSend;
        int target;
        bool switches;
    } cases[] = {
        {"0: current send tab", 0, 3, true, false, 3, false},
        {"0: current receive tab does nothing", 0, 0, true, false, -1, false},
        {"0: trash only with GomiAddSendTab", 0, 2, true, false, -1, false},
        {"0: trash taking waiting mail", 0, 2, true, true, 2, false},
        {"1: current send tab", 1, 3, true, false, 3, false},
        {"1: else the basic send tab, shown", 1, 0, true, false, 1, true},
        {"1: not shown without SendOpenBasicTab", 1, 0, false, false, 1, false},
        {"1: trash is not of the send kind", 1, 2, true, true, 1, true},
        {"2: always basic", 2, 3, true, false, 1, true},
        {"2: basic already shown", 2, 1, true, false, 1, false},
        {"2: the basic trash never stands in", 2, 0, true, true, 1, true},
    };
    for (const Case& c : cases) {
        SendRequest r = request(c.current, 1, 1);
        r.options.condition = c.condition;
        r.options.openBasicTab = c.openBasic;
        r.options.trashIsSendTab = c.trashIsSend;
        const TargetChoice t = chooseTarget(r);
        EXPECT_EQ(t.target, c.target) << c.name;
        EXPECT_EQ(t.switchToIt, c.switches) << c.name;
    }
}

TEST(SendCommand, WhatTheUserIsToldAskedAndWhatStarts) {
    struct Case {
        const char* name;
        int action, current, basicWaiting, workWaiting, selected;
        bool openBasic, confirm, sendReceive, quiet;
        Next next;
        std::string text;  // notice or confirmation
        SendMode mode;
    } cases[] = {
        {"a run is active", 2, 1, 3, 0, 0, true, true, false, false, Next::Notice, kTextRunActive,
         SendMode::TargetTab},
        {"no waiting mail in the target", 2, 1, 0, 4, 0, true, true, false, false, Next::Notice,
         kTextNothingToSend, SendMode::TargetTab},
        {"no waiting mail, quiet option", 2, 1, 0, 4, 0, true, true, false, true, Next::Nothing, "",
         SendMode::TargetTab},
        {"SendAction 3 looks past an empty target", 3, 1, 0, 4, 0, true, true, false, false,
         Next::Start, kTextSendEverything, SendMode::AllTabs},
        {"SendAction 3 with nothing anywhere", 3, 1, 0, 0, 0, true, true, false, false,
         Next::Notice, kTextNothingToSend, SendMode::TargetTab},
        {"target tab confirmed with its count", 2, 1, 3, 0, 0, true, true, false, false,
         Next::Start, "3通 の送信待ちメールを送信します。      ", SendMode::TargetTab},
        {"target tab without confirmation", 2, 1, 3, 0, 0, true, false, false, false, Next::Start,
         "", SendMode::TargetTab},
        {"selected confirmed with the selection's count", 1, 1, 3, 0, 2, true, true, false, false,
         Next::Start, "2通 の送信待ちメールを送信します。      ", SendMode::Selected},
        {"selected, nothing selected", 1, 1, 3, 0, 0, true, true, false, false, Next::Notice,
         kTextNoWaitingSelected, SendMode::TargetTab},
        {"selected while a receive tab is current", 1, 0, 3, 0, 2, false, true, false, false,
         Next::Notice, kTextSendTabNotOpen, SendMode::TargetTab},
        {"selected after the basic tab was shown", 1, 0, 3, 0, 1, true, true, false, false,
         Next::Start, "1通 の送信待ちメールを送信します。      ", SendMode::Selected},
        {"send-and-receive, quiet: the target tab unasked", 1, 1, 3, 0, 0, true, true, true, true,
         Next::Start, "", SendMode::TargetTab},
        {"send-and-receive, not quiet: as the send command", 1, 1, 3, 0, 1, true, true, true, false,
         Next::Start, "1通 の送信待ちメールを送信します。      ", SendMode::Selected},
    };
    for (const Case& c : cases) {
        SendRequest r = request(c.current, c.basicWaiting, c.workWaiting);
        r.options.condition = 1;
        r.options.action = c.action;
        r.options.openBasicTab = c.openBasic;
        r.options.confirm = c.confirm;
        r.options.quietSendReceive = c.quiet;
        r.sendAndReceive = c.sendReceive;
        r.runActive = std::string(c.name) == "a run is active";
        const Outcome o = run(r, c.selected);
        EXPECT_EQ(o.d.next, c.next) << c.name;
        const std::string& text = o.d.next == Next::Start ? o.d.confirm : o.d.text;
        EXPECT_EQ(text, c.text) << c.name;
        if (c.next == Next::Start) {
            EXPECT_EQ(o.d.mode, c.mode) << c.name;
            EXPECT_EQ(o.d.target, 1) << c.name;
        }
    }
}

TEST(SendCommand, AskingTheModeNeverAddsTheFinalConfirmation) {
    for (SendMode choice : {SendMode::Selected, SendMode::TargetTab, SendMode::AllTabs}) {
        SendRequest r = request(1, 2, 5);
        r.options.action = 0;
        r.options.confirm = true;
        const Outcome o = run(r, 1, choice);
        ASSERT_EQ(o.d.next, Next::Start);
        EXPECT_EQ(o.d.mode, choice);
        EXPECT_EQ(o.d.confirm, "");
    }
}

TEST(SendChoiceDialog, ChoicesAreEnabledByTheSelectionAndTheNumberOfSendTabs) {
    struct Case {
        const char* name;
        int current, selected;
        bool secondSendTab, trashIsSend;
        bool selectedEnabled, allEnabled;
        SendMode preselected;
    } cases[] = {
        {"selection counted", 1, 2, true, false, true, true, SendMode::Selected},
        {"nothing selected", 1, 0, true, false, false, true, SendMode::TargetTab},
        {"target not current: nothing counted", 0, 2, true, false, false, true,
         SendMode::TargetTab},
        {"one send tab", 1, 1, false, false, true, false, SendMode::Selected},
        {"one send tab and the trash taking mail", 1, 1, false, true, true, true,
         SendMode::Selected},
    };
    for (const Case& c : cases) {
        SendRequest r = request(c.current, 2, 1);
        if (!c.secondSendTab) r.tabs.pop_back();
        r.options.trashIsSendTab = c.trashIsSend;
        r.options.openBasicTab = false;
        const TargetChoice t = chooseTarget(r);
        const bool isCurrent = t.target == r.current;
        const SendDecision d = decideSend(r, t.target, isCurrent, isCurrent ? c.selected : 0);
        ASSERT_EQ(d.next, Next::AskMode) << c.name;
        EXPECT_EQ(d.selectedEnabled, c.selectedEnabled) << c.name;
        EXPECT_EQ(d.allTabsEnabled, c.allEnabled) << c.name;
        EXPECT_EQ(d.preselected, c.preselected) << c.name;
    }
}

TEST(SendCommand, SendAndReceiveReceivesWhenThereWasNothingToSend) {
    SendRequest r = request(1, 0, 0);
    r.options.action = 2;
    r.sendAndReceive = true;
    EXPECT_TRUE(run(r, 0).d.receiveAnyway);
    r.options.quietSendReceive = true;
    EXPECT_TRUE(run(r, 0).d.receiveAnyway);
    r.options.condition = 0;
    r.current = 0;  // no target at all
    EXPECT_TRUE(run(r, 0).d.receiveAnyway);
    r.sendAndReceive = false;
    EXPECT_FALSE(run(r, 0).d.receiveAnyway);
    SendRequest busy = request(1, 3, 0);
    busy.sendAndReceive = true;
    busy.runActive = true;
    EXPECT_FALSE(run(busy, 0).d.receiveAnyway);  // the run under way is not doubled
}

TEST(SendOptions, DefaultsAndStoredValues) {
    test::TestEnv t;
    auto read = [&] {
        const SendOptions o = readSendOptions(*t.ini);
        return std::tuple(o.condition, o.action, o.confirm, o.openBasicTab, o.trashIsSendTab,
                          o.quietSendReceive);
    };
    EXPECT_EQ(read(), std::tuple(1, 0, true, true, false, false));
    for (const auto& [k, v] : {std::pair{"SendCondition", "2"},
                               {"SendAction", "3"},
                               {"SendConfirmDlg", "0"},
                               {"SendOpenBasicTab", "0"},
                               {"GomiAddSendTab", "1"},
                               {"NoSendDlg_SendRecive", "1"}})
        ASSERT_EQ(t.ini->write("Option", k, v), Err::None);
    EXPECT_EQ(read(), std::tuple(2, 3, false, false, true, true));
}

// ----------------------------------------------------------------------------- timed sending

constexpr int at(int h, int m) {
    return h * 60 + m;
}

TabTimer timer(int id, int startH, int startM, int hours, int fives, bool on = true, int kind = 1) {
    TabTimer t;
    t.id = id;
    t.kind = kind;
    t.on = on;
    t.startHour = startH;
    t.startMinute = startM;
    t.hours = hours;
    t.fiveMinutes = fives;
    return t;
}

TEST(TimedSending, DueTabsOfAMinute) {
    const std::vector<TabTimer> timers = {
        timer(1, 8, 0, 1, 0),           // hourly from 8:00
        timer(3, 8, 0, 0, 6),           // every 30 minutes from 8:00
        timer(4, 8, 0, 1, 0, false),    // switched off
        timer(2, 8, 0, 1, 0, true, 2),  // the trash is never timed
        timer(5, 23, 0, 2, 0),          // two-hourly from 23:00
    };
    struct Case {
        int minute;
        std::vector<int> due;
    } cases[] = {
        {at(10, 0), {1, 3}},  // both due tabs, not only the first
        {at(9, 0), {1, 3, 5}}, {at(9, 30), {3}},   {at(9, 15), {}},
        {at(1, 0), {1, 3, 5}}, {at(0, 0), {1, 3}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dueSendTabs(timers, c.minute), c.due) << c.minute;
}

TEST(TimedSending, ZeroIntervalSendsOnceADayAtTheStartTime) {
    const std::vector<TabTimer> timers = {timer(1, 7, 35, 0, 0)};
    EXPECT_EQ(intervalMinutes(timers[0]), 1440);
    std::vector<int> dueAt;
    for (int m = 0; m < 1440; ++m) {
        if (!dueSendTabs(timers, m).empty()) dueAt.push_back(m);
    }
    EXPECT_EQ(dueAt, std::vector<int>{at(7, 35)});
}

TEST(TimedSending, EveryDueTabIsQueuedOnceAndSkippedMinutesAreNotLost) {
    const std::vector<TabTimer> timers = {timer(1, 8, 0, 1, 0), timer(3, 8, 0, 0, 6)};
    const int64_t day = 20000LL * 1440;
    SendSchedule s;
    s.evaluate(day + at(8, 58), timers);
    EXPECT_TRUE(s.empty());
    // The timer skipped 8:59 and 9:00 and fires at 9:01: 9:00 is still evaluated.
    s.evaluate(day + at(9, 1), timers);
    EXPECT_EQ(s.take(), (std::vector<int>{1, 3}));
    EXPECT_TRUE(s.empty());
    // Firing twice in a minute evaluates it once; a run holding the flag leaves the tabs queued,
    // and a tab due again meanwhile is not queued twice.
    s.evaluate(day + at(9, 30), timers);
    s.evaluate(day + at(9, 30), timers);
    s.evaluate(day + at(10, 0), timers);
    EXPECT_EQ(s.take(), (std::vector<int>{3, 1}));
    s.queue(4);
    s.queue(4);
    EXPECT_EQ(s.take(), std::vector<int>{4});
}

TEST(TimedSending, LocalMinutesRunOnAcrossDaysMonthsAndYears) {
    struct Case {
        platform::LocalTime a, b;
        int64_t difference;
    } cases[] = {
        {{2026, 12, 7, 23, 59}, {2026, 12, 8, 0, 0}, 1},
        {{2026, 2, 28, 23, 59}, {2026, 3, 1, 0, 0}, 1},
        {{2028, 2, 28, 12, 0}, {2028, 3, 1, 12, 0}, 2880},  // a leap day between
        {{2026, 12, 31, 23, 30}, {2027, 1, 1, 0, 30}, 60},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(localMinute(c.b) - localMinute(c.a), c.difference) << c.a.year << c.a.month;
        EXPECT_EQ(localMinute(c.b) % 1440, c.b.hour * 60 + c.b.minute);
    }
    EXPECT_EQ(localMinute({1970, 1, 2, 0, 0}), 1440);
}

TEST(TimedSending, TabSettingsAreReadFromTheTabsSectionAndBounded) {
    test::TestEnv t;
    for (const auto& [k, v] : {std::pair{"SousinTimer", "1"},
                               {"StartJikoku", "23"},
                               {"StartFunn", "75"},
                               {"Jikoku", "2"},
                               {"Funn", "-3"}})
        ASSERT_EQ(t.ini->write("7", k, v), Err::None);
    Tab tab{};
    tab.id = 7;
    tab.kind = 1;
    const TabTimer r = readTabTimer(*t.ini, tab);
    EXPECT_TRUE(r.on);
    EXPECT_EQ(r.startHour, 23);
    EXPECT_EQ(r.startMinute, 59);
    EXPECT_EQ(r.hours, 2);
    EXPECT_EQ(r.fiveMinutes, 0);
    EXPECT_EQ(intervalMinutes(r), 120);
    tab.id = 8;  // nothing stored: off
    EXPECT_FALSE(readTabTimer(*t.ini, tab).on);
}

}  // namespace
}  // namespace kolvy::shell
