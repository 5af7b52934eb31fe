// The receive run's decisions with a scripted host, dial-up service and checker: what runs, what
// is dialled and hung up, what is queued, and that every way out gives everything back.
#include "pop/receive_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/list.h"
#include "core/sjis.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

class FakeRas final : public platform::Ras {
  public:
    Params params = Params::Ok;
    uint32_t dialResult = 0;
    int dials = 0;
    std::vector<uintptr_t> hungUp;
    Params dialParams(std::string_view) override { return params; }
    uint32_t dial(std::string_view, uintptr_t& connection) override {
        ++dials;
        connection = dialResult == 0 ? 0x1234 : 0;
        return dialResult;
    }
    void hangUp(uintptr_t connection) override { hungUp.push_back(connection); }
};

struct FakeObserver final : RunObserver {
    std::vector<int> states;
    std::vector<std::string> accounts;
    void account(std::string_view name, bool) override { accounts.emplace_back(name); }
    void state(int s, int) override { states.push_back(s); }
    void progress(const ReceiveProgress&) override {}
};

struct FakeHost final : RunHost {
    std::map<int, int> results;  // by account number; missing: done
    std::map<int, bool> listing;
    std::vector<int> received;  // account numbers, in order
    std::vector<std::pair<uint32_t, uintptr_t>> posts;
    bool indexesOk = true, networkOk = true;
    bool greyed = false, timer3 = false, network = false;
    int menuChanges = 0, sleeps = 0;
    // Sleep number at which the user aborts (0: never).
    int abortAtSleep = 0;
    RunState* state = nullptr;
    MailCheckFn check = nullptr;
    int checkAvailableAfter = 0;

    void menus(bool r) override { greyed = r, ++menuChanges; }
    void progressTimer(bool on) override { timer3 = on; }
    void dialTimer(bool) override {}
    void trayBusy(bool) override {}
    void post(uint32_t m, uintptr_t wp) override { posts.emplace_back(m, wp); }
    void refreshTabs() override {}
    bool reloadIndexes() override { return indexesOk; }
    bool startNetwork() override { return network = networkOk; }
    void stopNetwork() override { network = false; }
    void openReceivedLog() override {}
    void closeReceivedLog() override {}
    void sleepMs(unsigned) override {
        if (++sleeps == abortAtSleep && state) state->abortRequested = 1;
    }
    MailCheckFn mailCheck() override { return sleeps >= checkAvailableAfter ? check : nullptr; }
    int receiveAccount(const Account& a, const ReceiveOrder*, CheckerItem*, ReceiveProgress&,
                       const std::function<void()>&, bool& listed) override {
        received.push_back(a.number);
        listed = listing.count(a.number) ? listing[a.number] : true;
        return results.count(a.number) ? results[a.number] : kReceiveDone;
    }
    bool posted(uint32_t m) const {
        return std::any_of(posts.begin(), posts.end(), [&](auto& p) { return p.first == m; });
    }
};

class ReceiveRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host.state = &state;
        for (int n = 0; n < 4; ++n) {
            auto* a = new Account(config::blankAccount());
            a->number = n;
            sjis::copyField(a->name, ("acct" + std::to_string(n)).c_str());
            sjis::copyField(a->rasEntry, "dialup");
            accounts.append(a);
        }
    }
    ReceiveOrder* order(const char* name, int account, ReceiveOrder* folder = nullptr) {
        auto* o = new ReceiveOrder(config::blankOrder());
        o->id = *orders.freeId();
        o->accountNumber = account;
        sjis::copyField(o->name, name);
        orders.appendTo(folder, o);
        return o;
    }
    RunSummary start(ReceiveOrder* o, bool startup = false, bool queued = false) {
        EXPECT_TRUE(state.tryBegin(RunKind::Receive));
        ReceiveRun run(t.env, host, observer, ras, accounts, queue, state);
        return run.run({o, startup, queued});
    }
    // Whatever way the run ended, it gave everything back.
    void expectReleased() {
        EXPECT_FALSE(state.running());
        EXPECT_FALSE(host.greyed);
        EXPECT_FALSE(host.timer3);
        EXPECT_FALSE(host.network);
        EXPECT_EQ(state.abortRequested.load(), 0);
        EXPECT_FALSE(t.env.unattended.load());
        EXPECT_EQ(t.ini->read("Option", "ErrorLogOut").value_or("?"), "0");
    }
    std::string commLog() const { return t.read("_Log/通信ログ2412.txt"); }

    test::TestEnv t;
    RunState state;
    FakeHost host;
    FakeObserver observer;
    FakeRas ras;
    config::AccountList accounts;
    config::OrderList orders;
    RunQueue queue;
};

// ----------------------------------------------------------------------------- periodic grid
TEST(PeriodicGrid, BaseTimeSetsThePhaseNotADailyStart) {
    struct Case {
        int baseH, baseM, hours, fives, now;
        bool due;
    } cases[] = {
        {8, 10, 2, 0, 0 * 60 + 10, true},
        {8, 10, 2, 0, 2 * 60 + 10, true},
        {8, 10, 2, 0, 8 * 60 + 10, true},
        {8, 10, 2, 0, 22 * 60 + 10, true},
        {8, 10, 2, 0, 9 * 60 + 10, false},
        {8, 10, 2, 0, 8 * 60 + 11, false},
        {8, 10, 0, 0, 8 * 60 + 10, true},
        {8, 10, 0, 0, 20 * 60 + 10, false},
        {0, 0, 0, 3, 15, true},
        {0, 0, 0, 3, 20, false},
        {23, 55, 0, 2, 5, true},
        {23, 55, 0, 2, 23 * 60 + 50, false},
    };
    for (const Case& c : cases) {
        config::OrderList orders;
        ReceiveOrder* o = orders.appendNew();
        ASSERT_NE(o, nullptr);
        o->timer = 1;
        o->baseHour = c.baseH, o->baseMinute = c.baseM;
        o->intervalHours = c.hours, o->intervalFiveMinutes = c.fives;
        RunQueue queue;
        EXPECT_EQ(periodicCheck(orders, queue, c.now), c.due ? 1 : 0)
            << c.baseH << ":" << c.baseM << " every " << c.hours << "h" << c.fives * 5 << "m at "
            << c.now;
        EXPECT_EQ(o->timerQueued, c.due ? 1 : 0);
    }
}

TEST(PeriodicGrid, ElevenDueOrdersQueueTenAndTheCheckStops) {
    config::OrderList orders;
    std::vector<ReceiveOrder*> all;
    for (int i = 0; i < 11; ++i) {
        ReceiveOrder* o = orders.appendNew();
        o->timer = 1;
        all.push_back(o);
    }
    RunQueue queue;
    EXPECT_EQ(periodicCheck(orders, queue, 0), 10);
    EXPECT_EQ(queue.size(), 10u);
    EXPECT_EQ(all[10]->timerQueued, 0);
    // The next minute finds them still queued: none twice, the eleventh still has no room.
    EXPECT_EQ(periodicCheck(orders, queue, 0), 0);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(queue.take(), all[i]);
    EXPECT_EQ(queue.take(), nullptr);
    // Taken but not yet run: still marked, so the timer does not queue them again.
    EXPECT_EQ(all[3]->timerQueued, 1);
    EXPECT_FALSE(queue.push(all[3]));
    queue.ranOut(all[3]);
    EXPECT_TRUE(queue.push(all[3]));
}

TEST(StartReceive, RefusesWhileRunningAndWithoutASelection) {
    RunState state;
    ReceiveOrder o = config::blankOrder();
    EXPECT_EQ(checkStart(state, &o), StartRefusal::None);
    EXPECT_EQ(checkStart(state, nullptr), StartRefusal::NothingSelected);
    ASSERT_TRUE(state.tryBegin(RunKind::Send));
    EXPECT_EQ(checkStart(state, &o), StartRefusal::Busy);
    EXPECT_FALSE(state.tryBegin(RunKind::Receive));
    EXPECT_EQ(state.kind(), RunKind::Send);
}

TEST(StartReceive, BootWaitTimeReadsOnlyPlainNumbers) {
    test::TestEnv t;
    EXPECT_EQ(bootWaitSeconds(*t.ini), 0);
    const std::pair<const char*, int> cases[] = {
        {"30", 30}, {"0", 0}, {"-5", 0}, {"x", 0}, {"99999999999", 0}};
    for (auto [text, seconds] : cases) {
        t.ini->write("Option", "BootWaitTime", text);
        EXPECT_EQ(bootWaitSeconds(*t.ini), seconds) << text;
    }
}

TEST(StartReceive, LastRunsArrivalsBecomeNewExceptInSendTabs) {
    test::TestEnv t;
    store::TabRegistry tabs;
    ASSERT_TRUE(tabs.load(t.env));
    // Marks before the run, per tab kind; each tab gets one item of each mark.
    for (Tab* tab = tabs.first(); tab; tab = tab->next) {
        for (int32_t mark : {0, 1, 2}) {
            auto* m = new MailItem{};
            m->newMark = mark;
            listAppend(tab->items, m);
        }
    }
    markArrivalsSeen(tabs);
    int tabsSeen = 0;
    for (Tab* tab = tabs.first(); tab; tab = tab->next, ++tabsSeen) {
        std::vector<int32_t> marks;
        for (MailItem* m = tab->items.next; m; m = m->next)
            marks.push_back(m->newMark);
        const std::vector<int32_t> expected = tab->kind == store::kSendTab
                                                  ? std::vector<int32_t>{0, 1, 2}
                                                  : std::vector<int32_t>{0, 1, 1};
        EXPECT_EQ(marks, expected) << tab->name;
    }
    EXPECT_EQ(tabsSeen, 3);
}

// ----------------------------------------------------------------------------- dial-up
TEST_F(ReceiveRunTest, DialUpOutcomes) {
    using P = platform::Ras::Params;
    const std::vector<uintptr_t> ours = {0x1234}, none;
    struct Case {
        const char* name;
        bool dial;
        P params;
        uint32_t dialResult;
        platform::Answer answer;
        int dials;
        bool receives;
        std::vector<uintptr_t> hungUp;
        const char* box;
    } const cases[] = {
        {"dialled and hung up", true, P::Ok, 0, platform::Answer::Ok, 1, true, ours, nullptr},
        {"failed dial: no receive, no hang-up", true, P::Ok, 678, platform::Answer::Ok, 1, false,
         none, kTextDialFailedBox},
        // The port was open already: somebody else's connection is used, never ended.
        {"already connected, go on", true, P::Ok, 602, platform::Answer::Ok, 1, true, none,
         kTextAlreadyConnectedAsk},
        {"already connected, cancel", true, P::Ok, 602, platform::Answer::Cancel, 1, false, none,
         kTextAlreadyConnectedAsk},
        // No entry (a machine without dial-up) or no password: nothing is dialled.
        {"no entry", true, P::Unavailable, 0, platform::Answer::Ok, 0, false, none,
         kTextDialParamsBox},
        {"no password", true, P::NoPassword, 0, platform::Answer::Ok, 0, false, none,
         kTextDialNoPasswordBox},
        {"hang-up without dial ends nothing", false, P::Ok, 0, platform::Answer::Ok, 0, true, none,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ras = FakeRas{};
        ras.params = c.params;
        ras.dialResult = c.dialResult;
        host.received.clear();
        host.posts.clear();
        t.reporter.clear();
        if (c.box == kTextAlreadyConnectedAsk) t.reporter.answer(c.answer);
        ReceiveOrder* o = order("dial", 2);
        o->telConnect = c.dial;
        o->telCut = 1;
        const RunSummary s = start(o);
        EXPECT_EQ(ras.dials, c.dials);
        EXPECT_EQ(host.received, c.receives ? std::vector<int>{2} : std::vector<int>{});
        EXPECT_EQ(ras.hungUp, c.hungUp);
        EXPECT_EQ(t.reporter.lastText(), c.box ? c.box : "");
        if (c.dialResult == 678) {
            EXPECT_EQ(s.lastResult, kReceiveFailed);
        }
        if (!c.receives) {
            EXPECT_FALSE(host.posted(kMsgOpenNewMail));
        }
        expectReleased();
    }
}

// ----------------------------------------------------------------------------- the run
TEST_F(ReceiveRunTest, StartupWaitsBootWaitTimeThenReceivesUnlessAborted) {
    struct Case {
        const char* wait;
        int abortAt, sleeps;
        RunSummary::End end;
        std::vector<int> received;
    } const cases[] = {{"4", 0, 4, RunSummary::End::Done, {1}},
                       {"10", 3, 3, RunSummary::End::AbortedWaiting, {}}};
    for (const Case& c : cases) {
        host = FakeHost{};
        host.state = &state;
        host.abortAtSleep = c.abortAt;
        t.ini->write("Option", "BootWaitTime", c.wait);
        EXPECT_EQ(start(order("start", 1), true).end, c.end) << c.wait;
        EXPECT_EQ(host.sleeps, c.sleeps);
        EXPECT_EQ(host.received, c.received);
        expectReleased();
    }
}

// A failed member stops its folder and the run goes on with the queue; an abort stops the folder.
TEST_F(ReceiveRunTest, FolderWhoseSecondMemberFailsStillWorksOffTheQueue) {
    struct Case {
        int failing, result;
        bool queued;
        std::vector<int> received;
        int ordersRun;
    } const cases[] = {{1, kReceiveFailed, true, {0, 1, 3}, 2},
                       {0, kReceiveAborted, false, {0}, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        host = FakeHost{};
        host.state = &state;
        ReceiveOrder* folder = order("folder", 100);
        ASSERT_TRUE(orders.makeFolder(folder));
        for (int m = 0; m < 3; ++m)
            order("m", m, folder);
        ReceiveOrder* waiting = order("queued", 3);
        if (c.queued) {
            ASSERT_TRUE(queue.push(waiting));
        }
        host.results[c.failing] = c.result;
        const RunSummary s = start(folder);
        EXPECT_EQ(host.received, c.received);
        EXPECT_EQ(s.ordersRun, c.ordersRun);
        EXPECT_EQ(waiting->timerQueued, 0);
        EXPECT_TRUE(queue.empty());
        expectReleased();
    }
}

TEST_F(ReceiveRunTest, EveryWayOutGivesEverythingBack) {
    struct Case {
        const char* what;
        bool indexesOk, networkOk;
        int result;
        RunSummary::End end;
        int menuChanges;
    } cases[] = {
        {"index read failed", false, true, kReceiveDone, RunSummary::End::IndexFailed, 0},
        {"network failed", true, false, kReceiveDone, RunSummary::End::NetworkFailed, 2},
        {"dialogue failed", true, true, kReceiveFailed, RunSummary::End::Done, 2},
        {"aborted", true, true, kReceiveAborted, RunSummary::End::Done, 2},
        {"done", true, true, kReceiveDone, RunSummary::End::Done, 2},
    };
    for (const Case& c : cases) {
        host = FakeHost{};
        host.state = &state;
        host.indexesOk = c.indexesOk;
        host.networkOk = c.networkOk;
        host.results[1] = c.result;
        state.abortRequested = 1;  // left over: the run starts clean
        const RunSummary s = start(order("o", 1));
        EXPECT_EQ(s.end, c.end) << c.what;
        EXPECT_EQ(host.menuChanges, c.menuChanges) << c.what;
        EXPECT_EQ(host.received.size(), c.end == RunSummary::End::Done ? 1u : 0u) << c.what;
        expectReleased();
    }
    EXPECT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_EQ(t.reporter.shown()[0].text, kTextWinsockBox);
}

TEST_F(ReceiveRunTest, NoticeOnlyAfterADialogueReachedItsListing) {
    struct Case {
        int result;
        bool listed, notice;
    } cases[] = {
        {kReceiveDone, true, true},
        {kReceiveNoMail, true, true},
        {kReceiveListFailed, false, false},
        {kReceiveFailed, false, false},
    };
    for (const Case& c : cases) {
        host.posts.clear();
        host.results[1] = c.result;
        host.listing[1] = c.listed;
        start(order("o", 1));
        EXPECT_TRUE(host.posted(kMsgCloseNewMail));
        EXPECT_EQ(host.posted(kMsgOpenNewMail), c.notice) << c.result;
        if (c.notice) {
            EXPECT_EQ(host.posts.back().second, static_cast<uintptr_t>(c.result));
        }
    }
}

// A queued (timed) run shows no box: the log tells what happened, dial to hang-up.
TEST_F(ReceiveRunTest, UnattendedRunShowsNoBoxAndLogsInstead) {
    for (const uint32_t dialResult : {678u, 0u}) {
        ras = FakeRas{};
        ras.dialResult = dialResult;
        observer.states.clear();
        ReceiveOrder* o = order(dialResult ? "timed" : "timed dial", 1);
        o->telConnect = o->telCut = 1;
        ASSERT_TRUE(queue.push(o));
        ASSERT_EQ(queue.take(), o);
        start(o, false, true);
        EXPECT_EQ(o->timerQueued, 0);
        expectReleased();
    }
    EXPECT_TRUE(t.reporter.shown().empty());
    const std::string log = commLog();
    const size_t failed = log.find("678--ダイアルアップ接続できませんでした。"),
                 dialled = log.find(kTextDialedLog), hungUp = log.find(kTextHungUpLog);
    for (size_t at : {log.find("受信開始"), log.find("timedを受信"), failed, dialled, hungUp})
        EXPECT_NE(at, std::string::npos) << log;
    EXPECT_LT(failed, dialled);
    EXPECT_LT(dialled, hungUp);
    EXPECT_EQ(ras.hungUp, std::vector<uintptr_t>{0x1234});
    EXPECT_EQ(observer.states, (std::vector<int>{kStateDialling, kStateConnected, kStateHangingUp,
                                                 kStateDisconnected}));
}

// ----------------------------------------------------------------------------- mail checker
int KOLVY_STDCALL checkFails(int32_t, int32_t) {
    return 1;
}
int KOLVY_STDCALL checkDone(int32_t, int32_t) {
    return 0;
}

TEST_F(ReceiveRunTest, MailCheckerOrders) {
    struct Case {
        MailCheckFn check;
        int availableAfter;
        int result;
        bool checked;
    } cases[] = {
        {checkDone, 0, kReceiveDone, true},
        {checkDone, 3, kReceiveDone, true},
        {checkFails, 0, kReceiveFailed, false},
        // Never offered within three seconds: skipped, not a failure.
        {nullptr, 0, kReceiveDone, false},
    };
    for (const Case& c : cases) {
        host = FakeHost{};
        observer.states.clear();
        host.check = c.check;
        host.checkAvailableAfter = c.availableAfter;
        ReceiveOrder* o = order("check", 1);
        o->mailChecker = 1;
        const RunSummary s = start(o);
        EXPECT_EQ(s.lastResult, c.result);
        EXPECT_TRUE(host.posted(kMsgLoadChecker));
        EXPECT_TRUE(host.received.empty());
        EXPECT_LE(host.sleeps, 6);
        const bool checked = std::find(observer.states.begin(), observer.states.end(),
                                       kStateChecked) != observer.states.end();
        EXPECT_EQ(checked, c.checked);
        expectReleased();
    }
}

TEST_F(ReceiveRunTest, CheckerReceiveClaimsTheOneRunFlag) {
    CheckerItem item{};
    ASSERT_TRUE(state.tryBegin(RunKind::Receive));
    EXPECT_EQ(checkerReceive(t.env, host, observer, accounts, &item, 1, state), 0);
    EXPECT_EQ(t.reporter.lastText(), kTextReceiving);
    EXPECT_TRUE(host.received.empty());
    EXPECT_TRUE(state.running());
    state.end();

    struct Case {
        int result;
        int returned;
        bool notice;
    } cases[] = {{kReceiveDone, 0, true}, {kReceiveFailed, 1, false}, {kReceiveNoMail, 0, true}};
    for (const Case& c : cases) {
        host.posts.clear();
        host.results[1] = c.result;
        EXPECT_EQ(checkerReceive(t.env, host, observer, accounts, &item, 1, state), c.returned);
        EXPECT_EQ(host.posted(kMsgOpenNewMail), c.notice);
        EXPECT_FALSE(state.running());
        EXPECT_FALSE(host.timer3);
        EXPECT_FALSE(host.network);
    }
    t.ini->write("Option", "SinchakuDlg", "0");
    host.posts.clear();
    EXPECT_EQ(checkerReceive(t.env, host, observer, accounts, &item, 1, state), 0);
    EXPECT_FALSE(host.posted(kMsgOpenNewMail));
    EXPECT_EQ(checkerReceive(t.env, host, observer, accounts, &item, 9, state), 1);
    EXPECT_FALSE(state.running());
}

}  // namespace
}  // namespace kolvy::pop
