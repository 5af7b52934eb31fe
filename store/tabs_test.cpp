#include "store/tabs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "core/list.h"
#include "store/message_file.h"
#include "store/store_test_util.h"

namespace kolvy::store {
namespace {

using testing::FakeRebuilder;
using testing::indexImage;
using testing::record;

void section(test::TestEnv& t, int id, std::string_view name, int kind, bool basic,
             bool closed = false) {
    const std::string s = std::to_string(id);
    t.ini->write(s, "TabName", name);
    t.ini->write(s, "Propaty", std::to_string(kind));
    t.ini->write(s, "Default", basic ? "1" : "0");
    t.ini->write(s, "CloseFlag", closed ? "1" : "0");
}

void threeTabs(test::TestEnv& t) {
    section(t, 0, "受信", 0, true);
    section(t, 1, "送信", 1, true);
    section(t, 2, "ごみ箱", 2, true);
}

std::vector<int> ids(TabRegistry& tabs) {
    std::vector<int> out;
    for (Tab* tab = tabs.first(); tab; tab = tab->next)
        out.push_back(tab->id);
    return out;
}

// A program folder before start-up, and one started on its defaults.
struct RegistryStart : ::testing::Test {
    test::TestEnv t;
    TabRegistry tabs;
};
struct Registry : RegistryStart {
    void SetUp() override { ASSERT_TRUE(tabs.load(t.env)); }
};

TEST_F(Registry, FirstRunWritesTheDefaultTabs) {
    EXPECT_EQ(tabs.current(), tabs.first());
    EXPECT_TRUE(tabs.first()->basic);
    const std::tuple<std::string, uint32_t, uint32_t, int> expected[] = {
        {"受信", 0xffaa55, 0x8c3f00, kReceiveTab},
        {"送信", 0x6f6fff, 0x9b, kSendTab},
        {"ごみ箱", 0xa0ff42, 0x366c00, kTrashTab}};
    Tab* tab = tabs.first();
    for (const auto& e : expected) {
        ASSERT_NE(tab, nullptr);
        EXPECT_EQ(std::tuple(tabName(*tab), tab->color, tab->textColor, tab->kind), e);
        const std::string folder = "MailData\\" + std::get<0>(e);
        EXPECT_EQ(t.read(folder + "\\mokuji.bin"), newIndexHeader());
        EXPECT_TRUE(t.fs->isDir(t.path(folder + "\\添付")));
        tab = tab->next;
    }
    EXPECT_EQ(tab, nullptr);
    EXPECT_EQ(t.ini->read("TagList", "TagTab"), "0;1;2");
    EXPECT_EQ(t.ini->read("0", "TabCursor"), "0");  // taken and written back at once
    EXPECT_EQ(t.ini->read("1", "Color"), "0x6f6fff");
    EXPECT_TRUE(t.fs->isDir(t.path("_Tmp")));
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(RegistryStart, DefaultsNeverOverwriteAnIndexThatIsThere) {
    const std::string image = indexImage({record(0), record(1)});
    t.write("MailData\\受信\\mokuji.bin", image);
    t.ini->write("0", "GomiKara_JyusinNichiji", "1");  // a stale key of a lost registry
    ASSERT_TRUE(tabs.load(t.env));
    EXPECT_EQ(t.read("MailData\\受信\\mokuji.bin"), image);
    EXPECT_FALSE(t.ini->read("0", "GomiKara_JyusinNichiji"));
}

// Stored tab lists as start-up reads them: the tabs taken, in order, and what the user is told.
TEST(RegistryLoad, StoredListsAreReadOrRefused) {
    using Section = std::tuple<int, const char*, int, bool, bool>;  // id, name, kind, basic, closed
    const struct Case {
        const char* what;
        bool three;  // the three default tabs are there
        std::vector<Section> more;
        const char* list;
        std::vector<int> ids;  // empty: start-up stops
        size_t boxes;
        std::string lastBox;
        int created;  // the id a new tab gets
    } cases[] = {
        // clang-format off
        // Tab 8 names the folder of tab 5 again, 10 the same name without regard to case, 11 no
        // folder at all.
        {"entries that name no tab are skipped", true, {{5, "仕事", 0, 0, 0}, {7, "趣味", 0, 0, 0},
         {8, "仕事", 0, 0, 0}, {9, "ＡＢＣ", 0, 0, 0}, {10, "ａｂｃ", 0, 0, 0}, {11, "a\\b", 0, 0, 0},
         {12, "", 0, 0, 0}}, "0;1;2;5;5;x;100;-1;7;8;9;10;11;12;;", {0, 1, 2, 5, 7, 9}, 0, "", 3},
        {"a trailing separator adds nothing", true, {}, "0;1;2;", {0, 1, 2}, 0, "", 3},
        {"the first basic tab of a kind wins", true, {{3, "受信2", 0, 1, 0}}, "3;0;1;2", {3, 0, 1, 2},
         0, "", 4},
        {"a hierarchical layout stops start-up", true, {}, "0;1(3);2", {}, 1, kHierarchicalTabs, 0},
        {"a missing basic tab is appointed and opened", false, {{0, "受信", 0, 1, 0},
         {1, "送信", 1, 0, 0}, {2, "ごみ箱", 2, 0, 1}, {3, "送信2", 1, 0, 0}}, "0;1;2;3", {0, 1, 2, 3},
         1, std::string("送信用 ごみ箱用 ") + kNoBasicTab, 4},
        {"a kind without any tab stops start-up", false, {{0, "受信", 0, 1, 0}, {1, "送信", 1, 1, 0}},
         "0;1", {}, 2, std::string("ごみ箱用 ") + kNoTabOfKind, 0},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TestEnv t;
        if (c.three) threeTabs(t);
        for (const auto& [id, name, kind, basic, closed] : c.more)
            section(t, id, name, kind, basic, closed);
        t.ini->write("TagList", "TagTab", c.list);
        TabRegistry tabs;
        EXPECT_EQ(tabs.load(t.env), !c.ids.empty());
        EXPECT_EQ(ids(tabs), c.ids);
        EXPECT_EQ(t.reporter.shown().size(), c.boxes);
        EXPECT_EQ(t.reporter.lastText(), c.lastBox);
        if (c.ids.empty()) continue;
        // One basic tab of each kind, never closed, and written so.
        for (int kind : {kReceiveTab, kSendTab, kTrashTab}) {
            Tab* basic = tabs.basicTab(kind);
            ASSERT_NE(basic, nullptr);
            EXPECT_FALSE(basic->closed);
            EXPECT_EQ(t.ini->read(std::to_string(basic->id), "Default"), "1");
            EXPECT_EQ(t.ini->read(std::to_string(basic->id), "CloseFlag"), "0");
        }
        int basics = 0;
        for (Tab* tab = tabs.first(); tab; tab = tab->next)
            basics += tab->basic ? 1 : 0;
        EXPECT_EQ(basics, 3);
        // A new tab takes the smallest free id, never a skipped duplicate's.
        auto made = tabs.create(t.env, CreateMode::ReceiveTemporary);
        ASSERT_TRUE(made);
        EXPECT_EQ((*made)->id, c.created);
    }
}

TEST_F(RegistryStart, LastTabCursorBecomesCurrent) {
    threeTabs(t);
    section(t, 3, "閉じた", 0, false, true);
    t.ini->write("1", "TabCursor", "1");
    t.ini->write("2", "TabCursor", "1");
    t.ini->write("TagList", "TagTab", "0;1;2;3");
    ASSERT_TRUE(tabs.load(t.env));
    EXPECT_EQ(tabs.current()->id, 2);
    EXPECT_EQ(t.ini->read("1", "TabCursor"), "0");
    EXPECT_EQ(t.ini->read("2", "TabCursor"), "0");
    tabs.clear();
    t.ini->write("3", "TabCursor", "1");  // a closed tab cannot be current
    ASSERT_TRUE(tabs.load(t.env));
    EXPECT_EQ(tabs.current()->id, 0);
}

TEST_F(RegistryStart, SettingsAreReadWithTheirDefaults) {
    threeTabs(t);
    t.ini->write("0", "Color", "0x123456");
    t.ini->write("0", "NextFileNo", "12000");
    t.ini->write("0", "NoReadMailCount", "-3");
    t.ini->write("0", "ViewIndex", "123456789");
    t.ini->write("0", "GomiKara_JyusinNichiji", "30");
    t.ini->write("TagList", "TagTab", "0;1;2");
    ASSERT_TRUE(tabs.load(t.env));
    Tab* r = tabs.findById(0);
    // The next number at most full; library keys only with the library.
    EXPECT_EQ(std::tuple(r->color, r->nextFileNo, r->noReadMailCount, std::string(r->viewIndex),
                         std::string(r->focusedPos), r->newMailInfoDlg, r->gomiKaraJyusinNichiji),
              std::tuple(0x123456u, 10000, -3, "1234567", "0", 1, 0));
    ASSERT_TRUE(tabs.load(t.env, RegistryOptions{true}));
    EXPECT_EQ(tabs.findById(0)->gomiKaraJyusinNichiji, 30);
}

// Trail bytes 0x5C (表ソ能) are no separators; 60 bytes, half a character, reserved device names
// and names Windows would change are refused.
TEST(TabNames, WhatAFolderCanBeCalled) {
    const std::string a57(57, 'a'), a58(58, 'a');
    struct Case {
        std::string name;
        bool valid;
    } cases[] = {// clang-format off
        {"受信", true}, {"表ソ能", true}, {std::string(59, 'a'), true}, {std::string(60, 'a'), false},
        {a57 + "表", true}, {a58 + "表", false}, {a58 + "\x95", false}, {"", false}, {".", false},
        {"..", false}, {"a\\b", false}, {"a/b", false}, {"a:b", false}, {"a*b", false},
        {"a?b", false}, {"a\"b", false}, {"a<b>", false}, {"a|b", false}, {"tab\t", false},
        {"name ", false}, {"name.", false}, {"CON", false}, {"nul.txt", false}, {"com1", false},
        {"COM10", true}, {"console", true}, {"臨時タブ1", true}};
    // clang-format on
    for (const Case& c : cases) {
        EXPECT_EQ(validTabName(c.name), c.valid) << c.name;
    }
}

TEST_F(RegistryStart, CreatingTakesTheSmallestFreeId) {
    threeTabs(t);
    t.ini->write("TagList", "TagTab", "0;5;2");
    section(t, 5, "送信", 1, true);
    ASSERT_TRUE(tabs.load(t.env));
    platform::makeDirs(*t.fs, t.path("MailData"));
    auto tab = tabs.create(t.env, CreateMode::NewTab, "仕事");
    ASSERT_TRUE(tab);
    EXPECT_EQ((*tab)->id, 1);
    EXPECT_EQ((*tab)->color, 0xc0c0c0u);
    EXPECT_EQ((*tab)->textColor, 0xffffffu);
    EXPECT_EQ(t.ini->read("TagList", "TagTab"), "0;5;2;1");
    EXPECT_EQ(t.ini->read("1", "TabName"), "仕事");
    EXPECT_EQ(t.ini->read("1", "Color"), "0xc0c0c0");
    EXPECT_EQ(t.read("MailData\\仕事\\mokuji.bin"), newIndexHeader());
    EXPECT_TRUE(t.fs->isDir(t.path("MailData\\仕事\\添付")));
}

TEST_F(Registry, ReusedIdInheritsNoStaleKeys) {
    // Section 3 is left over from a tab that was taken out of the list by hand.
    for (const char* key : {"GomiKara_JyusinNichiji", "SousinTimer", "TabCursor"})
        t.ini->write("3", key, "1");
    auto tab = tabs.create(t.env, CreateMode::NewTab, "新しい");
    ASSERT_TRUE(tab);
    EXPECT_EQ((*tab)->id, 3);
    for (const char* key : {"GomiKara_JyusinNichiji", "SousinTimer", "TabCursor"})
        EXPECT_FALSE(t.ini->read("3", key)) << key;
    EXPECT_EQ(t.ini->read("3", "TabName"), "新しい");
}

TEST_F(Registry, NamesTheUserGivesAreChecked) {
    for (const char* bad : {"", "受信", "ごみ箱", "a\\b", "..", "CON"}) {
        t.reporter.clear();
        EXPECT_FALSE(tabs.create(t.env, CreateMode::NewTab, bad)) << bad;
        EXPECT_EQ(t.reporter.lastText(), kInvalidTabName) << bad;
    }
    EXPECT_EQ(tabs.count(), 3u);
    // A folder of that name already there (say, from an unregistered tab).
    platform::makeDirs(*t.fs, t.path("MailData\\古い"));
    EXPECT_FALSE(tabs.create(t.env, CreateMode::NewTab, "古い"));
    EXPECT_EQ(t.ini->read("TagList", "TagTab"), "0;1;2");
}

TEST_F(Registry, HundredTabsAndNoMore) {
    // 99 tabs written straight into the file (key by key would rewrite it a thousand times).
    std::string ini = t.read("Kolvy.ini");
    std::string list = "0;1;2";
    for (int i = 3; i < kMaxTabs - 1; ++i) {
        const std::string name = "臨時タブ" + std::to_string(i - 2);
        ini += "[" + std::to_string(i) + "]\r\nTabName=" + name + "\r\n";
        list += ";" + std::to_string(i);
        platform::makeDirs(*t.fs, t.path("MailData\\" + name));
    }
    const size_t at = ini.find("TagTab=0;1;2");
    ASSERT_NE(at, std::string::npos);
    ini.replace(at, 12, "TagTab=" + list);
    t.write("Kolvy.ini", ini);
    ASSERT_TRUE(tabs.load(t.env));
    ASSERT_EQ(tabs.count(), 99u);
    auto last = tabs.create(t.env, CreateMode::ReceiveTemporary);
    ASSERT_TRUE(last);
    EXPECT_EQ((*last)->id, 99);
    EXPECT_EQ(tabs.count(), 100u);
    EXPECT_FALSE(tabs.create(t.env, CreateMode::NewTab, "百一"));
    EXPECT_EQ(t.reporter.lastText(), kTabLimitReached);
    EXPECT_EQ(t.reporter.shown().back().icon, platform::Icon::Information);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\百一")));
    // Everything reads back as written.
    TabRegistry again;
    ASSERT_TRUE(again.load(t.env));
    EXPECT_EQ(again.count(), 100u);
    EXPECT_EQ(tabName(*again.findById(99)), "臨時タブ97");
}

TEST_F(Registry, TemporaryTabs) {
    platform::makeDirs(*t.fs, t.path("MailData\\臨時タブ1"));
    platform::makeDirs(*t.fs, t.path("MailData\\臨時タブ2"));
    Tab* oldBasic = tabs.basicTab(kReceiveTab);
    auto basic = tabs.create(t.env, CreateMode::BasicTemporary);
    ASSERT_TRUE(basic);
    EXPECT_EQ(tabName(**basic), "臨時タブ3");
    EXPECT_TRUE((*basic)->basic);
    EXPECT_FALSE(oldBasic->basic);
    EXPECT_EQ(t.ini->read("0", "Default"), "0");
    EXPECT_EQ(t.ini->read("3", "Default"), "1");
    EXPECT_EQ(tabs.basicTab(kReceiveTab), *basic);
    auto send = tabs.create(t.env, CreateMode::SendTemporary);
    ASSERT_TRUE(send);
    EXPECT_EQ(tabName(**send), "臨時タブ4");
    EXPECT_EQ((*send)->kind, kSendTab);
    EXPECT_FALSE((*send)->basic);
    EXPECT_EQ(t.read("MailData\\臨時タブ4\\mokuji.bin"), newIndexHeader());
}

TEST_F(Registry, RegisteringAFolderTakesItsSummary) {
    std::string image = indexImage({record(0), record(1)});
    const std::string line = "nf=2 am=2 nr=1 wm=0 em=0 cr=255 tc=65280 pt=2 gi=0";
    image.replace(22, line.size(), line);
    t.write("MailData\\保存\\mokuji.bin", image);
    platform::makeDirs(*t.fs, t.path("MailData\\空"));
    t.write("MailData\\空\\mokuji.bin", newIndexHeader());
    platform::makeDirs(*t.fs, t.path("MailData\\壊れ"));
    t.write("MailData\\壊れ\\mokuji.bin", indexImage({record(0)}));  // records but no summary
    for (const char* other : {"_Log", "_Tmp", "CheckerData"})
        platform::makeDirs(*t.fs, t.path(std::string("MailData\\") + other));
    auto folders = tabs.registrableFolders(t.env);
    std::sort(folders.begin(), folders.end());
    std::vector<std::string> expected{"保存", "壊れ", "空"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folders, expected);

    auto saved = tabs.create(t.env, CreateMode::RegisterFolder, "保存");
    ASSERT_TRUE(saved);
    const Tab& k = **saved;
    EXPECT_EQ(
        std::tuple(k.nextFileNo, k.allMailCount, k.noReadMailCount, k.color, k.textColor, k.kind),
        std::tuple(2, 2, 1, 255u, 65280u, kTrashTab));
    EXPECT_EQ(t.ini->read("3", "AllMailCount"), "2");
    auto empty = tabs.create(t.env, CreateMode::RegisterFolder, "空");
    ASSERT_TRUE(empty);
    EXPECT_EQ((*empty)->allMailCount, 0);
    // Without a summary the counters can only come from a rebuild.
    EXPECT_EQ(tabs.create(t.env, CreateMode::RegisterFolder, "壊れ").error(), Err::Damaged);
    FakeRebuilder rebuilder;
    rebuilder.writes = true;
    IndexOptions o;
    o.rebuilder = &rebuilder;
    ASSERT_TRUE(tabs.create(t.env, CreateMode::RegisterFolder, "壊れ", o));
    EXPECT_EQ(rebuilder.calls, 1);
    EXPECT_EQ(rebuilder.lastMode, RebuildMode::Silent);
    EXPECT_TRUE(tabs.registrableFolders(t.env).empty());
    EXPECT_EQ(tabs.create(t.env, CreateMode::RegisterFolder, "保存").error(), Err::NotFound);
}

TEST_F(Registry, ExternalFolderTabWritesOnlyItsSummary) {
    test::TempFolder outside;
    std::string image = indexImage({record(0)});
    const std::string line = "nf=1 am=1 nr=1 wm=0 em=0 cr=0 tc=0 pt=0 gi=0";
    image.replace(22, line.size(), line);
    platform::makeDirs(*t.fs, outside / "旧メール");
    platform::writeWholeFile(*t.fs, outside / "旧メール\\mokuji.bin", image);
    const std::string iniBefore = t.read("Kolvy.ini");
    auto ext = tabs.create(t.env, CreateMode::ExternalFolder, outside / "旧メール\\mokuji.bin");
    ASSERT_TRUE(ext);
    Tab& tab = **ext;
    EXPECT_TRUE(tab.external);
    EXPECT_EQ(tabName(tab), "旧メール");
    EXPECT_EQ(tabFolder(t.env, tab), outside / "旧メール");
    EXPECT_EQ(tab.allMailCount, 1);
    EXPECT_EQ(t.read("Kolvy.ini"), iniBefore);

    tab.allMailCount = 0;
    tab.noReadMailCount = 0;
    ASSERT_EQ(writeCounters(t.env, tab), Err::None);
    ASSERT_EQ(writeNextFileNo(t.env, tab), Err::None);
    ASSERT_EQ(writeListPosition(t.env, tab), Err::None);
    ASSERT_EQ(tabs.writeSection(t.env, tab), Err::None);
    ASSERT_EQ(tabs.writeTagList(t.env), Err::None);
    EXPECT_EQ(t.ini->read("TagList", "TagTab"), "0;1;2");
    EXPECT_FALSE(t.ini->read(std::to_string(tab.id), "TabName"));
    auto s = readSummary(t.env, outside / "旧メール\\mokuji.bin");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->allMailCount, 0);

    // A second folder of that name cannot be opened beside it.
    platform::makeDirs(*t.fs, outside / "x\\旧メール");
    platform::writeWholeFile(*t.fs, outside / "x\\旧メール\\mokuji.bin", image);
    EXPECT_FALSE(
        tabs.create(t.env, CreateMode::ExternalFolder, outside / "x\\旧メール\\mokuji.bin"));
    EXPECT_EQ(t.reporter.lastText(), kExternalNameTaken);
    EXPECT_FALSE(
        tabs.create(t.env, CreateMode::ExternalFolder, t.path("MailData\\受信\\mokuji.bin")));
}

TEST_F(Registry, RenameMovesTheFolder) {
    auto tab = tabs.create(t.env, CreateMode::NewTab, "仕事");
    ASSERT_TRUE(tab);
    t.write("MailData\\仕事\\0000.txt", "mail");
    ASSERT_EQ(tabs.rename(t.env, **tab, "仕事2   "), Err::None);
    EXPECT_EQ(tabName(**tab), "仕事2");
    EXPECT_EQ(t.ini->read("3", "TabName"), "仕事2");
    EXPECT_EQ(t.read("MailData\\仕事2\\0000.txt"), "mail");
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\仕事")));
    for (const std::string& bad :
         {std::string("受信"), std::string("a:b"), std::string(), std::string(60, 'x')}) {
        EXPECT_EQ(tabs.rename(t.env, **tab, bad), Err::Invalid) << bad;
        EXPECT_EQ(tabName(**tab), "仕事2");
    }
    EXPECT_EQ(t.reporter.lastText(), kInvalidTabName);
    EXPECT_EQ(t.read("MailData\\仕事2\\0000.txt"), "mail");
}

TEST_F(Registry, ClosingAndReopening) {
    EXPECT_EQ(tabs.setClosed(t.env, *tabs.first(), true), Err::Invalid);
    EXPECT_EQ(t.reporter.lastText(), kBasicNotClosable);
    auto tab = tabs.create(t.env, CreateMode::NewTab, "仕事");
    ASSERT_TRUE(tab);
    tabs.setCurrent(*tab);
    ASSERT_EQ(tabs.setClosed(t.env, **tab, true), Err::None);
    EXPECT_TRUE((*tab)->closed);
    EXPECT_FALSE((*tab)->open);
    EXPECT_EQ(t.ini->read("3", "CloseFlag"), "1");
    EXPECT_EQ(tabs.current(), tabs.first());
    ASSERT_EQ(tabs.setClosed(t.env, **tab, false), Err::None);
    EXPECT_EQ(t.ini->read("3", "CloseFlag"), "0");
}

TEST_F(Registry, DeletingATabTakesEveryFileWithIt) {
    auto made = tabs.create(t.env, CreateMode::NewTab, "古い");
    ASSERT_TRUE(made);
    Tab* tab = *made;
    for (int n : {0, 1, 5})
        t.write("MailData\\古い\\" + messageFileName(n), "mail");
    // Attachment folders beyond the number of files, and one set aside earlier.
    for (const char* f : {"0001", "0040", "0017_1"})
        t.write(std::string("MailData\\古い\\添付\\") + f + "\\a.bin", "a");

    EXPECT_EQ(tabs.deleteTab(t.env, *tabs.first()), Err::Invalid);
    EXPECT_EQ(t.reporter.lastText(), kBasicNotDeletable);

    t.reporter.clear();
    EXPECT_EQ(tabs.deleteTab(t.env, *tab), Err::Cancelled);  // Cancel at the first question
    EXPECT_EQ(t.reporter.lastText(),
              "「 古い 」タブを削除します\n\nメールファイルがある場合それらも全て    \n"
              "削除されますがよろしいですか？");
    EXPECT_EQ(t.reporter.shown().back().buttons, platform::Buttons::OkCancel);
    EXPECT_TRUE(t.fs->exists(t.path("MailData\\古い\\mokuji.bin")));

    t.reporter.answer(platform::Answer::Ok);  // and Cancel at the second
    EXPECT_EQ(tabs.deleteTab(t.env, *tab), Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kDeleteFilesAsk);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\古い\\mokuji.bin")));
    EXPECT_TRUE(t.fs->exists(t.path("MailData\\古い\\0005.txt")));
    EXPECT_EQ(tabs.count(), 4u);

    t.reporter.answer(platform::Answer::Ok);
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_EQ(tabs.deleteTab(t.env, *tab), Err::None);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\古い")));
    EXPECT_EQ(tabs.count(), 3u);
    EXPECT_FALSE(t.ini->read("3", "TabName"));
    EXPECT_EQ(t.ini->read("TagList", "TagTab"), "0;1;2");
}

TEST_F(Registry, FolderThatCannotGoIsReportedAndTheTabStillLeaves) {
    auto made = tabs.create(t.env, CreateMode::NewTab, "古い");
    ASSERT_TRUE(made);
    t.write("MailData\\古い\\memo.doc", "the user's own file");
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_EQ(tabs.deleteTab(t.env, **made), Err::None);
    EXPECT_EQ(t.reporter.lastText(), kFolderNotRemoved);
    EXPECT_EQ(t.read("MailData\\古い\\memo.doc"), "the user's own file");
    EXPECT_EQ(tabs.count(), 3u);
}

TEST_F(Registry, UnregisteringKeepsTheFolder) {
    EXPECT_EQ(tabs.unregister(t.env, *tabs.first()), Err::Invalid);
    EXPECT_EQ(t.reporter.lastText(), kBasicNotUnregistrable);
    auto made = tabs.create(t.env, CreateMode::NewTab, "保存");
    ASSERT_TRUE(made);
    EXPECT_EQ(tabs.unregister(t.env, **made), Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), "「保存」タブを登録から外していいですか？    ");
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_EQ(tabs.unregister(t.env, *tabs.findByName("保存")), Err::None);
    EXPECT_EQ(t.ini->read("TagList", "TagTab"), "0;1;2");
    EXPECT_TRUE(t.fs->exists(t.path("MailData\\保存\\mokuji.bin")));
    EXPECT_EQ(tabs.registrableFolders(t.env), (std::vector<std::string>{"保存"}));
}

TEST(TabCounters, FollowTheStates) {
    Tab tab{};
    struct Case {
        uint8_t state;
        int unread, wait, edit;
    } cases[] = {{0, 1, 0, 0},  {2, 1, 0, 0},  {3, 0, 0, 0},  {11, 0, 0, 0}, {16, 0, 1, 0},
                 {17, 0, 1, 0}, {18, 0, 0, 1}, {19, 0, 0, 1}, {20, 0, 0, 0}, {21, 0, 0, 0}};
    for (const Case& c : cases) {
        tab = Tab{};
        countIn(tab, c.state, 2);
        EXPECT_EQ(std::tuple(tab.allMailCount, tab.noReadMailCount, tab.waitMailCount,
                             tab.editMailCount, tab.newMailCount),
                  std::tuple(1, c.unread, c.wait, c.edit, 1))
            << int(c.state);
        countOut(tab, c.state, 2);
        EXPECT_EQ(tab.allMailCount + tab.noReadMailCount + tab.waitMailCount + tab.editMailCount +
                      tab.newMailCount,
                  0);
    }
}

TEST(TabLook, DefaultsAndColours) {
    test::TestEnv t;
    TabLook look = loadTabLook(*t.ini);
    EXPECT_EQ(std::tuple(look.fontSize, look.fontType, look.height, look.width, look.leftMargin,
                         look.catFoot),
              std::tuple(13, "ＭＳ Ｐゴシック", 20, 110, 16, 1));
    t.ini->write("CustColors", "3", "0x0000ff");
    auto colours = loadCustomColours(*t.ini);
    EXPECT_EQ(colours[3], 0xffu);
    EXPECT_EQ(colours[0], 0xc0c0c0u);
    EXPECT_EQ(t.ini->read("CustColors", "15"), "0xc0c0c0");
    EXPECT_EQ(t.ini->read("CustColors", "3"), "0x0000ff");
}

}  // namespace
}  // namespace kolvy::store
