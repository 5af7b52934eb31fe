#include "pop/notify.h"

#include <gtest/gtest.h>

#include <deque>

#include "core/list.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

// A tab list built in memory: each tab with entries carrying the given arrival marks.
class Tabs {
  public:
    Tab& add(int32_t kind, std::vector<int32_t> marks, bool notify = true, bool closed = false) {
        Tab& t = tabs_.emplace_back();
        t.kind = kind;
        t.closed = closed;
        t.newMailInfoDlg = notify;
        for (int32_t mark : marks) {
            MailItem& m = items_.emplace_back();
            m.newMark = mark;
            if (mark > 0) ++t.newMailCount;
            listAppend(t.items, &m);
        }
        listAppend(head_, &t);
        return t;
    }
    const Tab* first() const { return head_.next; }

  private:
    Tab head_{};
    std::deque<Tab> tabs_;
    std::deque<MailItem> items_;
};

std::tuple<int, int, bool> counts(const Tab* first) {
    const NewMailCounts c = countNewMail(first);
    return {c.newCount, c.arrivedCount, c.notifyTab};
}

TEST(NewMailCount, CountsOnlyShownNonSendTabsWithUnreadNewMail) {
    Tabs tabs;
    tabs.add(store::kReceiveTab, {2, 2, 1, 0}, /*notify=*/false);
    tabs.add(store::kSendTab, {2, 2});                         // outgoing mail is no news
    tabs.add(store::kReceiveTab, {2}, true, /*closed=*/true);  // hidden
    tabs.add(store::kTrashTab, {1, 0});
    // The trash tab asks for the dialog.
    EXPECT_EQ(counts(tabs.first()), std::tuple(4, 2, true));
}

TEST(NewMailCount, ATabWithoutUnreadNewMailNeitherCountsNorAsksForTheDialog) {
    Tabs tabs;
    Tab& stale = tabs.add(store::kReceiveTab, {2, 1});
    stale.newMailCount = 0;  // its new mail has been read
    tabs.add(store::kReceiveTab, {0, 0}, true);
    EXPECT_EQ(counts(tabs.first()), std::tuple(0, 0, false));
    EXPECT_FALSE(anyTabBlinks(tabs.first()));
    EXPECT_EQ(counts(nullptr), std::tuple(0, 0, false));
}

TEST(NewMailCount, BlinkingMarksFollowTheCountedTabs) {
    Tabs tabs;
    const Tab& receive = tabs.add(store::kReceiveTab, {1});
    const Tab& send = tabs.add(store::kSendTab, {2});
    const Tab& hidden = tabs.add(store::kReceiveTab, {2}, true, true);
    EXPECT_EQ(std::tuple(tabBlinks(receive), tabBlinks(send), tabBlinks(hidden)),
              std::tuple(true, false, false));
    EXPECT_TRUE(anyTabBlinks(tabs.first()));
}

TEST(NewMailCount, BlinkerAlternatesWhileNewMailIsUnreadThenStops) {
    Tabs tabs;
    Tab& receive = tabs.add(store::kReceiveTab, {2, 1});
    const Tab& send = tabs.add(store::kSendTab, {2});
    Blinker b;
    EXPECT_FALSE(b.start(tabs.first(), /*catFoot=*/false));
    ASSERT_TRUE(b.start(tabs.first(), true));
    EXPECT_FALSE(b.start(tabs.first(), true));  // already running: one timer only
    using Tray = Blinker::Tray;
    struct Tick {
        bool inTray, run;
        bool on;
        Tray tray;
    } const ticks[] = {
        {false, false, true, Tray::Leave},  {false, false, false, Tray::Leave},
        {true, false, true, Tray::NewMail}, {true, false, false, Tray::Normal},
        {true, true, true, Tray::Leave},  // a run shows its own tray icon
    };
    for (const Tick& t : ticks) {
        const Blinker::Step s = b.tick(tabs.first(), t.inTray, t.run);
        EXPECT_EQ(std::tuple(s.redraw, s.stopped, s.tray, b.on(receive), b.on(send)),
                  std::tuple(true, false, t.tray, t.on, false));
    }
    receive.newMailCount = 0;  // read
    const Blinker::Step last = b.tick(tabs.first(), true, true);
    EXPECT_EQ(std::tuple(last.stopped, last.redraw, last.tray),
              std::tuple(true, true, Tray::Normal));
    EXPECT_FALSE(b.running() || b.on(receive));
    EXPECT_TRUE(b.tick(tabs.first(), false, false).stopped);
    receive.newMailCount = 1;
    EXPECT_TRUE(b.start(tabs.first(), true));  // new mail later starts it again
}

struct DecisionCase {
    const char* name;
    int dialog;
    bool sound, soundOnlyWhenNew, onlyWhenArrived;
    int newCount, arrived;
    bool notifyTab, failed, open;
    bool wantSound, wantDialog;
};

TEST(NoticeDecision, SoundAndDialogByTheOptionsAndTheRun) {
    const DecisionCase cases[] = {
        {"no dialog: sound even when nothing arrived", 0, true, false, false, 0, 0, false, false,
         false, true, false},
        {"no dialog, only with new mail, none", 0, true, true, false, 0, 0, true, false, false,
         false, false},
        {"no dialog, only with new mail, old new mail", 0, true, true, false, 3, 0, true, false,
         false, true, false},
        {"sound off", 0, false, false, false, 3, 3, true, false, false, false, false},
        {"failed run with nothing arrived: silent", 0, true, false, false, 3, 0, true, true, false,
         false, false},
        {"failed run with nothing arrived: no dialog", 1, true, false, false, 3, 0, true, true,
         false, false, false},
        {"failed run after some arrived", 1, true, false, false, 2, 2, true, true, false, false,
         true},
        {"dialog plays its own sound", 2, true, false, false, 1, 1, true, false, false, false,
         true},
        {"dialog for old new mail", 1, true, false, false, 2, 0, true, false, false, false, true},
        {"dialog only when mail arrived, none", 1, true, false, true, 2, 0, true, false, false,
         false, false},
        {"dialog only when mail arrived, some", 1, true, false, true, 2, 1, true, false, false,
         false, true},
        {"no tab asks for it", 1, true, false, false, 2, 2, false, false, false, false, false},
        {"one still open", 1, true, false, false, 2, 2, true, false, true, false, false},
    };
    for (const DecisionCase& k : cases) {
        NoticeOptions o;
        o.dialog = k.dialog;
        o.sound = k.sound;
        o.soundOnlyWhenNew = k.soundOnlyWhenNew;
        o.onlyWhenArrived = k.onlyWhenArrived;
        const NewMailCounts c{k.newCount, k.arrived, k.notifyTab};
        const NoticeDecision d = decideNotice(o, c, k.failed, k.open);
        EXPECT_EQ(std::tuple(d.sound, d.dialog, d.openViewers),
                  std::tuple(k.wantSound, k.wantDialog, !k.wantDialog))
            << k.name;
    }
}

TEST(NoticeDecision, ViewersOpenOnCountedTabsThatAskForThem) {
    Tabs tabs;
    Tab& asks = tabs.add(store::kReceiveTab, {2});
    asks.openViewer = 1;
    Tab& quiet = tabs.add(store::kReceiveTab, {2});
    Tab& read = tabs.add(store::kReceiveTab, {0});
    read.openViewer = 1;
    EXPECT_EQ(std::tuple(opensViewer(asks), opensViewer(quiet), opensViewer(read)),
              std::tuple(true, false, false));
}

TEST(NoticeTexts, CountTitleAndText) {
    NoticeOptions arrivals, all;
    all.countAllNew = true;
    const NewMailCounts c{5, 2, true};
    EXPECT_EQ(noticeCount(arrivals, c), 2);
    EXPECT_EQ(noticeCount(all, c), 5);
    EXPECT_EQ(noticeText(2), "2通の新着メールがあります");
    EXPECT_EQ(noticeText(1234), "1234通の新着メールがあります");
    EXPECT_EQ(noticeText(0), "新着メールはありません");
    EXPECT_EQ(noticeTitle({}), "新着通知");
    EXPECT_EQ(noticeTitle({"会社"}), "新着通知 会社");
    EXPECT_EQ(noticeTitle({"a", "b", "c", "d", "e"}), "新着通知 a b c d");
}

TEST(NoticeTexts, FrameDelayFromTheFileName) {
    const std::pair<const char*, unsigned> cases[] = {
        {"sinchaku.bmp", 200}, {"cat_3.bmp", 300}, {"_9.bmp", 900},
        {"a_0.bmp", 200},      {"a_x.bmp", 200},   {"3.bmp", 200},
        {"ab_12.bmp", 200},    {"", 200},          {"neko_1.bmp", 100},
    };
    for (const auto& [name, ms] : cases)
        EXPECT_EQ(frameDelayMs(name), ms) << name;
}

TEST(NoticePlace, BesideTheMainWindowCentreAndOnTheScreen) {
    struct Case {
        Point centre;
        int w, h;
        Point want;
    } const cases[] = {
        {{500, 400}, 250, 100, {359, 332}},   // 360,335 lowered to 3 mod 4 and a multiple of 4
        {{100, 30}, 250, 100, {3, 4}},        // negative corner
        {{1000, 400}, 250, 100, {607, 332}},  // past the right edge: left by its width
        {{500, 740}, 250, 100, {359, 572}},   // past the bottom: up by its height
        {{143, 69}, 250, 100, {3, 4}},
        {{100, 400}, 1100, 100, {3, 332}},  // wider than the screen still starts on it
    };
    for (const Case& k : cases) {
        const Point p = placeNotice(k.centre, k.w, k.h, 1024, 768);
        EXPECT_EQ(std::pair(p.x, p.y), std::pair(k.want.x, k.want.y))
            << k.centre.x << "," << k.centre.y;
    }
}

TEST(NoticeOptions, ReadWithDefaultsAndWrittenBack) {
    test::TestEnv t;
    auto fields = [&] {
        const NoticeOptions o = readNoticeOptions(*t.ini);
        return std::tuple(o.dialog, o.countAllNew, o.sound, o.soundOnlyWhenNew, o.soundFile,
                          o.animeFile, o.showList, o.catFoot, o.traySelectPos);
    };
    EXPECT_EQ(fields(),
              std::tuple(1, false, true, false, "sinchaku.wav", "sinchaku.bmp", true, true, 0));
    t.ini->write("Option", "SinchakuDlg", "7");  // out of range: the default
    t.ini->write("Option", "SinchakuDlg1", "1");
    t.ini->write("Option", "SinchakuAnimeFile", "neko_3.bmp");
    t.ini->write("TabOption", "CatFoot", "0");
    saveShowList(*t.ini, false);
    saveTraySelectPos(*t.ini, 2);
    EXPECT_EQ(fields(),
              std::tuple(1, true, true, false, "sinchaku.wav", "neko_3.bmp", false, false, 2));
    EXPECT_EQ(t.ini->read("Option", "SinchakuInfo0").value_or(""), "0");
}

}  // namespace
}  // namespace kolvy::pop
