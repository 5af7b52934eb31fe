#include "shell/program.h"

#include <gtest/gtest.h>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "report/logs.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "tests/support/test_env.h"

namespace kolvy::shell {
namespace {

TEST(CommandLines, TheThreeForms) {
    struct Case {
        std::string line, address;
        bool toAddress;
    } cases[] = {
        {"", "", false},
        {"mailto:a@example.jp", "a@example.jp", true},
        {"mailto:", "", true},
        {"/mailurl:mailto:b@example.jp?subject=x", "b@example.jp?subject=x", true},
        {"/mailurl", "", true},  // shorter than its own prefix
        {"/mailurl:mai", "", true},
        {"/mailurl:mailto:", "", true},
        {"c@example.jp", "c@example.jp", false},
        {std::string(1100, 'a'), std::string(1023, 'a'), false},
        {"mailto:" + std::string(1021, 'a') + "表", std::string(1021, 'a') + "表", true},
        {"mailto:" + std::string(1022, 'a') + "表", std::string(1022, 'a'), true},  // no half
    };
    for (const Case& c : cases) {
        const CommandLine cl = parseCommandLine(c.line);
        EXPECT_EQ(cl.address, c.address) << c.line.substr(0, 40);
        EXPECT_EQ(cl.toAddress, c.toAddress) << c.line.substr(0, 40);
    }
}

struct DataFolder : ::testing::Test {
    test::TestEnv t;
    void folder(std::string_view rel, std::string_view file = "f.txt") {
        t.write(std::string(rel) + "\\" + std::string(file), std::string(rel));
    }
};

TEST_F(DataFolder, OneWriterAtATime) {
    auto first = lockProgramFolder(t.env, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(t.fs->exists(t.path(kWriterLockFile)));
    // A second writer waits for a while, then is refused with the folder's name.
    EXPECT_EQ(lockProgramFolder(t.env, 300), nullptr);
    EXPECT_EQ(t.reporter.lastText(), folderInUseText(t.env.programFolder));
    EXPECT_NE(t.reporter.lastText().find(t.env.programFolder), std::string::npos);
    first.reset();
    EXPECT_NE(lockProgramFolder(t.env, 0), nullptr);
}

TEST_F(DataFolder, FirstStartInAnEmptyFolder) {
    ASSERT_TRUE(prepareDataFolder(t.env));
    EXPECT_TRUE(t.fs->isDir(t.path("MailData")));
    auto entries = t.fs->list(t.path("MailData"));
    ASSERT_TRUE(entries);
    EXPECT_TRUE(entries->empty());
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(DataFolder, OlderLayoutMovesTabFoldersOnly) {
    for (const char* f : {"受信", "送信", "ごみ箱", "自作", "_Log", "_Tmp", "CheckerData", "_UIDL",
                          "添付", "mokuji.bin"}) {
        folder(f);
    }
    t.write("Filter_ReceiveX.txt", "rules");
    t.write("Kolvy.ini", "[Option]\r\n");
    ASSERT_TRUE(prepareDataFolder(t.env));
    for (const char* moved : {"受信", "送信", "ごみ箱", "自作"}) {
        EXPECT_EQ(t.read(std::string("MailData\\") + moved + "\\f.txt"), moved);
        EXPECT_FALSE(t.fs->exists(t.path(moved)));
    }
    for (const char* kept : {"_Log", "_Tmp", "CheckerData", "_UIDL", "添付", "mokuji.bin"}) {
        EXPECT_EQ(t.read(std::string(kept) + "\\f.txt"), kept) << kept;
    }
    EXPECT_EQ(t.read("Filter_Receive.txt"), "rules");
    EXPECT_EQ(t.read("Kolvy.ini"), "[Option]\r\n");
}

TEST_F(DataFolder, OldestLayoutNamesAreRenamedFirst) {
    folder("メールデータ\\受信");
    folder("_メールチェッカ");
    folder("_UIDL", "uidl.txt");
    folder("その他");
    ASSERT_TRUE(prepareDataFolder(t.env));
    EXPECT_EQ(t.read("MailData\\受信\\f.txt"), "メールデータ\\受信");
    EXPECT_EQ(t.read("CheckerData\\f.txt"), "_メールチェッカ");
    // MailData came from the old name, so nothing else moved; the fetch history stays.
    EXPECT_EQ(t.read("_UIDL\\uidl.txt"), "_UIDL");
    EXPECT_EQ(t.read("その他\\f.txt"), "その他");
}

TEST_F(DataFolder, ExistingMailDataIsLeftAlone) {
    folder("MailData\\受信");
    folder("受信2");
    ASSERT_TRUE(prepareDataFolder(t.env));
    EXPECT_EQ(t.read("受信2\\f.txt"), "受信2");
}

TEST_F(DataFolder, FailuresStopStartUp) {
    t.write("MailData", "a file where the folder should be");
    EXPECT_FALSE(prepareDataFolder(t.env));
    EXPECT_EQ(t.reporter.lastText(), kMailDataCreateFailed);
}

struct Crashes : ::testing::Test {
    test::TestEnv t;
    void level(int n) { t.ini->write("Option", "ErrorLogOut", std::to_string(n)); }
};

// What the next start reports for the level the last run left: nothing after a clean end, the
// level after a shutdown stage, the end of the receive log after a receive run.
TEST_F(Crashes, TheNextStartReportsWhereTheLastRunStopped) {
    t.clock.setLocal(2005, 12, 15);
    t.write("_Log\\受信ログ\\受信ログ0512.txt",
            "+OK ready\r\nRETR 1\r\n+OK\r\nSubject: a\r\n\r\nbody\r\n.\r\n"
            "RETR 2\r\n+OK\r\nSubject: b\r\n\r\nhalf a mes");
    struct Case {
        const char* level;  // null: never written
        std::string report;
    } cases[] = {
        {nullptr, "<missing>"},
        {"0", "<missing>"},
        {"2", "終了時エラー　レベル＝2"},
        {"8", "終了時エラー　レベル＝8"},
        {"1", "RETR 2\r\n+OK\r\nSubject: b\r\n\r\nhalf a mes"},
        // A shorter report replaces a longer one whole.
        {"5", "終了時エラー　レベル＝5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level ? c.level : "none");
        t.reporter.clear();
        if (c.level) t.ini->write("Option", "ErrorLogOut", c.level);
        detectCrash(t.env);
        EXPECT_EQ(t.read("ErrorLog.txt"), c.report);
        ASSERT_EQ(t.reporter.shown().size(), c.report == "<missing>" ? 0u : 1u);
        if (!t.reporter.shown().empty()) {
            EXPECT_EQ(t.reporter.lastText(), kCrashNotice);
            EXPECT_EQ(t.reporter.shown()[0].icon, platform::Icon::Exclamation);
        }
        EXPECT_EQ(t.ini->read("Option", "ErrorLogOut").value_or("none"),
                  c.level ? c.level : "none");
    }
}

TEST(ReceiveLogTails, Cases) {
    struct Case {
        std::string log, tail;
    } cases[] = {
        {"a\r\n.\r\nnext\r\nmore\r\n", "next\r\nmore\r\n"},
        {"a\r\n.\r\n", "a\r\n.\r\n"},  // the end lies within the last 10 bytes
        {"a\r\n.\r\nb\r\n.\r\n0123456789", "0123456789"},
        {"a\r\n.\r\n..\r\n\r\nrest of it", "rest of it"},  // dots and line ends skipped
        {"no end line at all", "no end line at all"},
        {"short", "short"},
        {"\n.\r\n", ""},  // a short log: searched from its start
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(receiveLogTail(c.log), c.tail) << c.log;
    }
}

TEST_F(Crashes, MissingOrEmptyLogWritesNothing) {
    t.clock.setLocal(2005, 12, 15);
    level(1);
    detectCrash(t.env);
    EXPECT_EQ(t.read("ErrorLog.txt"), "<missing>");
    t.write("_Log\\受信ログ\\受信ログ0512.txt", "");
    detectCrash(t.env);
    EXPECT_EQ(t.read("ErrorLog.txt"), "<missing>");
    t.write("_Log\\受信ログ\\受信ログ0512.txt", "+OK");  // shorter than ten bytes
    detectCrash(t.env);
    EXPECT_EQ(t.read("ErrorLog.txt"), "+OK");
    EXPECT_EQ(t.reporter.shown().size(), 3u);
}

TEST(WindowSettings, PlacementAndSize) {
    test::TestEnv t;
    WindowPlacement p = readPlacement(*t.ini);
    EXPECT_EQ(p.width, 645);
    EXPECT_EQ(p.height, 438);
    EXPECT_FALSE(p.positionFix);
    t.ini->write("Option", "Posx", "40");
    EXPECT_EQ(readPlacement(*t.ini).x, 0);  // only with PositionFix
    t.ini->write("Option", "PositionFix", "1");
    EXPECT_EQ(readPlacement(*t.ini).x, 40);
    saveSize(*t.ini, SizeState::Restored, 800, 600);
    EXPECT_EQ(t.ini->read("Option", "Hr"), "800");
    EXPECT_EQ(t.ini->read("Option", "ShowStatus"), "0");
    saveSize(*t.ini, SizeState::Maximised, 1, 1);
    EXPECT_EQ(t.ini->read("Option", "ShowStatus"), "1");
    EXPECT_EQ(t.ini->read("Option", "Hr"), "800");
    saveSize(*t.ini, SizeState::Minimised, 1, 1);
    EXPECT_EQ(t.ini->read("Option", "ShowStatus"), "2");
}

TEST(TabStatus, KindsAndCounters) {
    struct Case {
        int kind, basic;
        const char* kindText;
        const char* counters;
    } cases[] = {
        {store::kReceiveTab, 1, "受信用タブ（基本）",
         "メール総数 = 12   未読メール数 = 3   新着メール数 = 0   "},
        {store::kSendTab, 0, "送信用タブ",
         "メール総数 = 12   送信待ちメール数 = 2   書きかけメール数 = 0   "},
        {store::kTrashTab, 0, "ごみ箱用タブ",
         "メール総数 = 12   未読メール数 = 3   新着メール数 = 0   送信待ちメール数 = 2   "
         "書きかけメール数 = 0   "},
    };
    for (const Case& c : cases) {
        Tab tab{};
        tab.kind = c.kind;
        tab.basic = c.basic;
        tab.allMailCount = 12;
        tab.noReadMailCount = 3;
        tab.waitMailCount = 2;
        const TabStatusText s = tabStatusText(tab);
        EXPECT_EQ(s.kind, c.kindText);
        EXPECT_EQ(s.counters, c.counters) << c.kind;
    }
}

// Records every stage the shutdown was at when it called the window.
class RecordingWindow final : public ShutdownWindow {
  public:
    explicit RecordingWindow(test::TestEnv& t) : t_(t) {}
    void takeListPosition(Tab& tab) override {
        stages.push_back("position@" + stage());
        sjis::copyField(tab.viewIndex, "17");
        sjis::copyField(tab.focusedPos, "12");
    }
    bool windowRect(int& l, int& t, int& w, int& h) override {
        stages.push_back("rect@" + stage());
        l = left;
        t = top;
        w = 1024;
        h = 768;
        return true;
    }
    void stopTimersAndLibraries() override { stages.push_back("timers@" + stage()); }
    void stopServerAndHooks() override { stages.push_back("hooks@" + stage()); }
    void quit() override { stages.push_back("quit@" + stage()); }
    std::string stage() { return t_.ini->read("Option", "ErrorLogOut").value_or("-"); }
    std::vector<std::string> stages;
    int left = -20, top = 30;

  private:
    test::TestEnv& t_;
};

struct Life : ::testing::Test {
    test::TestEnv t;
    Program program{t.env};
};

TEST_F(Life, FirstStartLoadsTheDefaultTabsAndTheCurrentIndex) {
    ASSERT_TRUE(prepareDataFolder(t.env));
    ASSERT_TRUE(program.load());
    ASSERT_EQ(program.tabs.count(), 3u);
    Tab* current = program.tabs.current();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(store::tabName(*current), "受信");
    EXPECT_EQ(current->loadState, store::kCompletelyRead);
    // Only the current tab's index is read at start-up.
    EXPECT_EQ(current->next->loadState, store::kNotRead);
    EXPECT_EQ(program.index.readByte, 10000u);
    program.afterShow();
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(Life, StartUpFailsOnAHierarchicalRegistry) {
    t.ini->write("TagList", "TagTab", "0;1(2)");
    EXPECT_FALSE(program.load());
    EXPECT_EQ(t.reporter.lastText(), store::kHierarchicalTabs);
}

TEST_F(Life, OptionsTheStartReads) {
    t.ini->write("Option", "ReadByte", "0");
    t.ini->write("Option", "LogOut", "1");
    t.ini->write("Option", "LogSize", "1234");
    ASSERT_TRUE(program.load());
    EXPECT_EQ(program.index.readByte, 0u);
    EXPECT_TRUE(t.env.logOut.load());
    EXPECT_EQ(t.env.logSize.load(), 1234u);
}

TEST_F(Life, ShutdownGoesThroughItsStages) {
    ASSERT_TRUE(program.load());
    t.ini->write("Option", "PositionFix", "1");
    program.placement.positionFix = true;
    t.write("_Tmp\\Tmp.txt", "draft");
    t.write("_Tmp\\view.html", "x");
    RecordingWindow w(t);
    program.shutdown(w);
    EXPECT_EQ(w.stages,
              (std::vector<std::string>{"position@7", "rect@5", "timers@3", "hooks@2", "quit@0"}));
    EXPECT_EQ(t.ini->read("Option", "ErrorLogOut"), "0");
    EXPECT_EQ(t.ini->read("0", "ViewIndex"), "17");
    EXPECT_EQ(t.ini->read("0", "FocusedPos"), "12");
    EXPECT_EQ(t.ini->read("0", "TabCursor"), "1");
    EXPECT_EQ(t.ini->read("Option", "Posx"), "0");  // clamped
    EXPECT_EQ(t.ini->read("Option", "Posy"), "30");
    auto tmp = t.fs->list(t.path("_Tmp"));
    ASSERT_TRUE(tmp);
    EXPECT_TRUE(tmp->empty());

    // The next start finds the same current tab and nothing to report.
    Program next(t.env);
    ASSERT_TRUE(next.load());
    next.afterShow();
    EXPECT_EQ(next.tabs.current()->id, 0);
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(Life, ShutdownMovesTheCursorOffAClosedTabAndSkipsAWindowBeyondTheScreen) {
    ASSERT_TRUE(program.load());
    auto extra = program.tabs.create(t.env, store::CreateMode::NewTab, "仕事");
    ASSERT_TRUE(extra);
    program.tabs.setCurrent(*extra);
    (*extra)->closed = 1;  // closed by a command while it was shown
    program.placement.positionFix = true;
    RecordingWindow w(t);
    w.left = 5000;
    program.shutdown(w);
    EXPECT_EQ(t.ini->read("0", "TabCursor"), "1");
    EXPECT_FALSE(t.ini->read("3", "TabCursor"));
    EXPECT_FALSE(t.ini->read("Option", "Posx"));
}

TEST_F(Life, FailedStartUpSavesNothing) {
    program.startupFailed = true;
    RecordingWindow w(t);
    program.shutdown(w);
    EXPECT_EQ(w.stages, (std::vector<std::string>{"quit@-"}));
    EXPECT_EQ(t.read("Kolvy.ini"), "<missing>");
}

TEST_F(Life, CloseChecks) {
    ASSERT_TRUE(program.load());
    program.run.active = 1;
    EXPECT_EQ(program.closeRequest(), Program::CloseDecision::Stay);
    EXPECT_EQ(t.reporter.lastText(), kCloseDuringRun);
    EXPECT_EQ(t.reporter.shown().back().icon, platform::Icon::Information);
    program.run.end();
    program.run.processing = true;
    EXPECT_EQ(program.closeRequest(), Program::CloseDecision::Stay);
    EXPECT_EQ(t.reporter.lastText(), kCloseWhileProcessing);
    program.run.processing = false;
    EXPECT_EQ(program.closeRequest(), Program::CloseDecision::Close);
}

TEST_F(Life, WaitingMailAtCloseAndAtStart) {
    ASSERT_TRUE(program.load());
    Tab* send = program.tabs.findByName("送信");
    send->waitMailCount = 1;
    std::vector<std::string> shown;
    program.currentChanged = [&](Tab& tab) { shown.push_back(store::tabName(tab)); };

    // Without InfoSendMail the program just closes.
    EXPECT_EQ(program.closeRequest(), Program::CloseDecision::Close);
    program.switches.infoSendMail = true;
    EXPECT_EQ(program.closeRequest(), Program::CloseDecision::Stay);  // Cancel
    EXPECT_EQ(t.reporter.lastText(), kUnsentAtClose);
    EXPECT_EQ(program.tabs.current(), send);
    EXPECT_EQ(shown, (std::vector<std::string>{"送信"}));
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_EQ(program.closeRequest(), Program::CloseDecision::Close);

    program.tabs.setCurrent(program.tabs.first());
    program.switches.infoSendMail2 = true;
    program.afterShow();
    EXPECT_EQ(program.tabs.current(), send);
    EXPECT_EQ(t.reporter.lastText(), kUnsentAtStart);
    EXPECT_EQ(send->loadState, store::kCompletelyRead);

    // The trash counts as a send tab only with GomiAddSendTab.
    send->waitMailCount = 0;
    program.tabs.findByName("ごみ箱")->waitMailCount = 2;
    EXPECT_EQ(program.tabWithWaitingMail(), nullptr);
    program.switches.gomiAddSendTab = true;
    EXPECT_EQ(program.tabWithWaitingMail(), program.tabs.findByName("ごみ箱"));
}

class CountingRebuilder final : public store::IndexRebuilder {
  public:
    bool rebuild(Env&, Tab&, store::RebuildMode mode) override {
        modes.push_back(mode);
        return false;
    }
    std::vector<store::RebuildMode> modes;
};

TEST_F(Life, ConsistencyCheckSendsWrongCountersToTheRebuild) {
    ASSERT_TRUE(program.load());
    Tab& tab = *program.tabs.current();
    EXPECT_FALSE(program.countersLookWrong(tab));
    tab.noReadMailCount = -1;
    EXPECT_TRUE(program.countersLookWrong(tab));
    tab.noReadMailCount = 0;
    auto* item = new MailItem();
    listAppend(tab.items, item);
    tab.nextFileNo = 5;
    EXPECT_TRUE(program.countersLookWrong(tab));  // a record but no count
    tab.allMailCount = 1;
    EXPECT_FALSE(program.countersLookWrong(tab));
    tab.nextFileNo = 0;
    EXPECT_TRUE(program.countersLookWrong(tab));

    CountingRebuilder rebuilder;
    program.index.rebuilder = &rebuilder;
    program.afterShow();
    EXPECT_EQ(rebuilder.modes, (std::vector<store::RebuildMode>{store::RebuildMode::Counters}));
}

}  // namespace
}  // namespace kolvy::shell
