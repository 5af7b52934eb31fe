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

TEST(NewMailCount, CountsOnlyShownNonSendTabsWithUnreadNewMail) {
    Tabs tabs;
    tabs.add(store::kReceiveTab, {2, 2, 1, 0}, /*notify=*/false);
    tabs.add(store::kSendTab, {2, 2});                         // outgoing mail is no news
    tabs.add(store::kReceiveTab, {2}, true, /*closed=*/true);  // hidden
    tabs.add(store::kTrashTab, {1, 0});
    const NewMailCounts c = countNewMail(tabs.first());
    EXPECT_EQ(c.newCount, 4);
    EXPECT_EQ(c.arrivedCount, 2);
    EXPECT_TRUE(c.notifyTab);  // the trash tab asks for the dialog
}

TEST(NewMailCount, ATabWithoutUnreadNewMailNeitherCountsNorAsksForTheDialog) {
    Tabs tabs;
    Tab& stale = tabs.add(store::kReceiveTab, {2, 1});
    stale.newMailCount = 0;  // its new mail has been read
    tabs.add(store::kReceiveTab, {0, 0}, true);
    const NewMailCounts c = countNewMail(tabs.first());
    EXPECT_EQ(c.newCount, 0);
    EXPECT_EQ(c.arrivedCount, 0);
    EXPECT_FALSE(c.notifyTab);
    EXPECT_FALSE(anyTabBlinks(tabs.first()));
    EXPECT_EQ(countNewMail(nullptr).newCount, 0);
}

TEST(NewMailCount, BlinkingMarksFollowTheCountedTabs) {
    Tabs tabs;
    const Tab& receive = tabs.add(store::kReceiveTab, {1});
    const Tab& send = tabs.add(store::kSendTab, {2});
    const Tab& hidden = tabs.add(store::kReceiveTab, {2}, true, true);
    EXPECT_TRUE(tabBlinks(receive));
    EXPECT_FALSE(tabBlinks(send));
    EXPECT_FALSE(tabBlinks(hidden));
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
        EXPECT_TRUE(s.redraw);
        EXPECT_FALSE(s.stopped);
        EXPECT_EQ(s.tray, t.tray);
        EXPECT_EQ(b.on(receive), t.on);
        EXPECT_FALSE(b.on(send));
    }
    receive.newMailCount = 0;  // read
    const Blinker::Step last = b.tick(tabs.first(), true, true);
    EXPECT_TRUE(last.stopped);
    EXPECT_TRUE(last.redraw);
    EXPECT_EQ(last.tray, Tray::Normal);
    EXPECT_FALSE(b.running());
    EXPECT_FALSE(b.on(receive));
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
        EXPECT_EQ(d.sound, k.wantSound) << k.name;
        EXPECT_EQ(d.dialog, k.wantDialog) << k.name;
        EXPECT_EQ(d.openViewers, !k.wantDialog) << k.name;
    }
}

TEST(NoticeDecision, ViewersOpenOnCountedTabsThatAskForThem) {
    Tabs tabs;
    Tab& asks = tabs.add(store::kReceiveTab, {2});
    asks.openViewer = 1;
    Tab& quiet = tabs.add(store::kReceiveTab, {2});
    Tab& read = tabs.add(store::kReceiveTab, {0});
    read.openViewer = 1;
    EXPECT_TRUE(opensViewer(asks));
    EXPECT_FALSE(opensViewer(quiet));
    EXPECT_FALSE(opensViewer(read));
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
        EXPECT_EQ(p.x, k.want.x) << k.centre.x << "," << k.centre.y;
        EXPECT_EQ(p.y, k.want.y) << k.centre.x << "," << k.centre.y;
        EXPECT_EQ(p.x % 4, 3);
        EXPECT_EQ(p.y % 4, 0);
    }
}

TEST(NoticeOptions, ReadWithDefaultsAndWrittenBack) {
    test::TestEnv t;
    NoticeOptions o = readNoticeOptions(*t.ini);
    EXPECT_EQ(o.dialog, 1);
    EXPECT_TRUE(o.sound);
    EXPECT_FALSE(o.soundOnlyWhenNew);
    EXPECT_EQ(o.soundFile, "sinchaku.wav");
    EXPECT_EQ(o.animeFile, "sinchaku.bmp");
    EXPECT_TRUE(o.showList);
    EXPECT_TRUE(o.catFoot);
    t.ini->write("Option", "SinchakuDlg", "7");  // out of range: the default
    t.ini->write("Option", "SinchakuDlg1", "1");
    t.ini->write("Option", "SinchakuAnimeFile", "neko_3.bmp");
    t.ini->write("TabOption", "CatFoot", "0");
    saveShowList(*t.ini, false);
    saveTraySelectPos(*t.ini, 2);
    o = readNoticeOptions(*t.ini);
    EXPECT_EQ(o.dialog, 1);
    EXPECT_TRUE(o.countAllNew);
    EXPECT_EQ(o.animeFile, "neko_3.bmp");
    EXPECT_FALSE(o.catFoot);
    EXPECT_FALSE(o.showList);
    EXPECT_EQ(o.traySelectPos, 2);
    EXPECT_EQ(t.ini->read("Option", "SinchakuInfo0").value_or(""), "0");
}

}  // namespace
}  // namespace kolvy::pop
