#include "store/list_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "store/commit.h"
#include "store/message_file.h"
#include "store/store_test_util.h"
#include "store/tabs.h"
#include "tests/support/recording_fs.h"

namespace kolvy::store {
namespace {

using testing::EnvOver;
using testing::FailingFileSystem;
using testing::itemNumbers;
using testing::record;
using testing::TabFixture;

using Places = std::map<std::string, std::vector<std::pair<int, int>>>;  // subject: tab, number

// What one tab holds on disk, read back without the code under test's reader state: the index
// file record by record, the message files and the attachment folders of its folder.
struct OnDisk {
    bool indexWhole = false;                                 // the records cover the file exactly
    std::vector<std::tuple<int, uint8_t, uint8_t>> records;  // number, state, mark
    std::vector<std::string> subjects;
    std::map<int, std::string> texts;               // NNNN.txt present, their contents
    std::map<int, std::set<std::string>> attached;  // 添付\NNNN entries
};

int numberOf(std::string_view name, std::string_view suffix) {
    if (name.size() != 4 + suffix.size() || name.substr(4) != suffix) return -1;
    if (!std::all_of(name.begin(), name.begin() + 4, [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::stoi(std::string(name.substr(0, 4)));
}

std::vector<platform::DirEntry> listed(test::TestEnv& t, const std::string& folder) {
    auto l = t.fs->list(folder);
    return l ? *l : std::vector<platform::DirEntry>{};
}

OnDisk readDisk(test::TestEnv& t, const TabFixture& f) {
    OnDisk d;
    const std::string image = f.bytes();
    size_t pos = kIndexHeaderSize;
    for (RecordView v; pos < image.size() && parseRecord(image, pos, v) && v.offset == pos;
         pos += v.length) {
        d.records.emplace_back(v.fileNo, v.state, v.markColour);
        d.subjects.emplace_back(v.texts[2]);
    }
    d.indexWhole = pos == image.size();
    for (const auto& e : listed(t, f.folder())) {
        const int n = e.isDir ? -1 : numberOf(e.name, ".txt");
        auto text = platform::readWholeFile(*t.fs, sjis::joinPath(f.folder(), e.name));
        if (n >= 0) d.texts[n] = text ? *text : "<unreadable>";
    }
    for (const auto& e : listed(t, sjis::joinPath(f.folder(), "添付"))) {
        const int n = e.isDir ? numberOf(e.name, "") : -1;
        if (n < 0) continue;
        auto& names = d.attached[n];
        for (const auto& i : listed(t, attachmentFolder(f.folder(), n)))
            names.insert(i.name);
    }
    return d;
}

std::string messageText(int key, uint8_t state, uint8_t markColour = 0) {
    StatusLine s;
    s.state = state;
    s.markColour = markColour;
    return formatStatusLine(s) + "Subject: key" + std::to_string(key) + "\r\n\r\nbody " +
           std::to_string(key) + "\r\n";
}

// A program folder with a receive tab holding messages and the tabs they go to.
class Store : public ::testing::Test {
  public:
    enum : int { kSource, kWork, kKeep, kTrash, kSend, kTabCount };
    void SetUp() override {
        const std::tuple<const char*, int32_t> defs[] = {{"受信", kReceiveTab},
                                                         {"仕事", kReceiveTab},
                                                         {"保存", kReceiveTab},
                                                         {"ゴミ箱", kTrashTab},
                                                         {"送信", kSendTab}};
        for (const auto& [name, kind] : defs) {
            tabs.push_back(std::make_unique<TabFixture>(t, name));
            Tab& tab = *tabs.back()->tab;
            tab.id = static_cast<int32_t>(tabs.size() - 1);
            tab.kind = kind;
            tab.nextFileNo = 0;
            if (tab.id != kTrash) {
                ASSERT_EQ(readIndex(t.env, tab, {}), Err::None);
            }
        }
        tab(kWork).nextFileNo = 40;  // a target whose numbers differ from the source's
    }

    Tab& tab(int i) { return *tabs[static_cast<size_t>(i)]->tab; }

    // Stores message `key` in the source; states 1 and 4 get an attachment folder.
    MailItem* add(int key, uint8_t state, int32_t newMark = 0, uint8_t markColour = 0) {
        IndexRecord r = record(key, state, "key" + std::to_string(key));
        r.markColour = markColour;
        texts[key] = messageText(key, state, markColour);
        auto item = storeMessage(t.env, tab(kSource), texts[key], r, {});
        EXPECT_TRUE(item);
        MailItem* m = *item;
        if (newMark) {
            countOut(tab(kSource), state, 0);
            m->newMark = newMark;
            countIn(tab(kSource), state, newMark);
        }
        if (stateHasAttachments(state)) {
            const std::string folder = attachmentFolder(tabs[kSource]->folder(), itemNumber(*m));
            platform::makeDirs(*t.fs, folder);
            platform::writeWholeFile(*t.fs, sjis::joinPath(folder, "a.txt"), "attached");
        }
        return m;
    }

    std::vector<MailItem*> all() {
        std::vector<MailItem*> out;
        for (MailItem* m : listRange(tab(kSource).items))
            out.push_back(m);
        return out;
    }

    MailItem* item(int key) {
        for (MailItem* m : listRange(tab(kSource).items)) {
            if (sjis::fieldView(m->subject) == "key" + std::to_string(key)) return m;
        }
        return nullptr;
    }

    // Where every message is on disk, after checking what must hold whatever happened: each
    // index reads whole and matches its tab in memory, every record has its file with the text
    // it had, attachment folders belong to records that have attachments and hold their file,
    // and the counters written agree with the records.
    Places where() {
        Places at;
        for (int i = 0; i < kTabCount; ++i) {
            SCOPED_TRACE(i);
            const OnDisk d = readDisk(t, *tabs[static_cast<size_t>(i)]);
            Tab& tb = tab(i);
            EXPECT_TRUE(d.indexWhole);
            if (tb.loadState != kNotRead) {
                decltype(d.records) memory;
                for (MailItem* m : listRange(tb.items))
                    memory.emplace_back(itemNumber(*m), m->state, m->markColour);
                EXPECT_EQ(memory, d.records);
            }
            int all = 0, unread = 0, maxNumber = -1;
            std::set<int> recorded;
            for (size_t k = 0; k < d.records.size(); ++k) {
                const auto [number, state, mark] = d.records[k];
                recorded.insert(number);
                maxNumber = std::max(maxNumber, number);
                ++all;
                unread += state < 3;
                at[d.subjects[k]].push_back({i, number});
                if (!d.texts.count(number)) {
                    ADD_FAILURE() << "record without file " << number;
                    continue;
                }
                EXPECT_EQ(d.texts.at(number), texts[std::stoi(d.subjects[k].substr(3))]);
                const bool has = d.attached.count(number) != 0;
                EXPECT_EQ(has, stateHasAttachments(state)) << number;
                if (has) {
                    EXPECT_EQ(d.attached.at(number), std::set<std::string>{"a.txt"});
                }
            }
            // Files a pass said it could not delete are left in the source.
            for (const auto& [n, text] : d.texts)
                EXPECT_TRUE(recorded.count(n) || (i == kSource && leftovers.count(n))) << n;
            for (const auto& [n, names] : d.attached)
                EXPECT_TRUE(recorded.count(n) || (i == kSource && leftovers.count(n))) << n;
            const std::string section = std::to_string(tb.id);
            if (t.ini->read(section, "AllMailCount") || all > 0) {
                EXPECT_EQ(t.ini->read(section, "AllMailCount"), std::to_string(all));
                EXPECT_EQ(t.ini->read(section, "NoReadMailCount"), std::to_string(unread));
            }
            EXPECT_EQ(std::tuple(tb.allMailCount, tb.noReadMailCount), std::tuple(all, unread));
            EXPECT_GT(tb.nextFileNo, maxNumber);
            if (auto next = t.ini->read(section, "NextFileNo"); next && maxNumber >= 0) {
                EXPECT_GT(std::stoi(*next), maxNumber);
            }
        }
        return at;
    }

    test::TestEnv t;
    std::vector<std::unique_ptr<TabFixture>> tabs;
    std::map<int, std::string> texts;
    std::set<int> leftovers;  // source files a pass said it could not delete
};

// A pass of every kind of row: moves to two tabs and the trash, copies, a complete delete and a
// row that stays.
struct Plan {
    int key;
    int target;  // -1 stays, -2 deleted
    bool copy;
};
constexpr Plan kPlan[] = {{0, 1, false}, {1, 1, false}, {2, 1, false},   {3, 1, false},
                          {4, 1, true},  {5, 1, true},  {6, 2, false},   {7, 2, false},
                          {8, 2, false}, {9, 3, false}, {10, -2, false}, {11, -1, false}};
constexpr uint8_t kStates[] = {0, 1, 3, 4, 0, 4, 3, 0, 1, 5, 4, 0};

std::multiset<int> tabsOf(const Places& at, int key) {
    std::multiset<int> in;
    if (auto it = at.find("key" + std::to_string(key)); it != at.end()) {
        for (auto [tab, number] : it->second)
            in.insert(tab);
    }
    return in;
}

// The tabs that hold the message after the whole pass.
std::multiset<int> expectedTabs(const Plan& p) {
    if (p.target == -2) return {};
    if (p.target == -1) return {0};
    if (p.copy) return {0, p.target};
    return {p.target};
}

class Pass : public Store {
  public:
    void SetUp() override {
        Store::SetUp();
        for (const Plan& p : kPlan)
            add(p.key, kStates[p.key], p.key == 2 ? 1 : 0);
    }
    std::vector<PassRow> rows() {
        std::vector<PassRow> out;
        for (const Plan& p : kPlan) {
            if (p.target == -1) continue;
            out.push_back({item(p.key), p.target == -2 ? nullptr : &tab(p.target), p.copy});
        }
        return out;
    }
};

TEST_F(Pass, MovesCopiesAndDeletesInOnePass) {
    const auto r = rows();
    const PassOutcome out = runPass(t.env, tab(kSource), r, {});
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(out.moved, 8);
    EXPECT_EQ(out.copied, 2);
    EXPECT_EQ(out.deleted, 1);
    const auto at = where();
    for (const Plan& p : kPlan)
        EXPECT_EQ(tabsOf(at, p.key), expectedTabs(p)) << p.key;
    // The target numbers its arrivals from its own next number, in list order.
    EXPECT_EQ(itemNumbers(tab(kWork)), (std::vector<int>{40, 41, 42, 43, 44, 45}));
    EXPECT_EQ(tab(kWork).nextFileNo, 46);
    EXPECT_EQ(t.ini->read("1", "NextFileNo"), "46");
    // The new mark travels with the message and is counted in the target.
    EXPECT_EQ(tab(kWork).newMailCount, 1);
    EXPECT_EQ(tab(kSource).newMailCount, 0);
    // The trash was not loaded: its arrival is in the file only, and read back from there.
    EXPECT_EQ(tab(kTrash).allMailCount, 1);
    Tab fresh = {};
    fresh.id = 3;
    fresh.nextFileNo = tab(kTrash).nextFileNo;
    sjis::copyField(fresh.name, "ゴミ箱");
    ASSERT_EQ(readWholeIndex(t.env, fresh, {}), Err::None);
    EXPECT_EQ(itemNumbers(fresh), std::vector<int>{0});
    freeItems(fresh);
}

// Every changing file operation of the pass fails in turn: each message is then whole in exactly
// the places the pass may leave it (a moved one in its source or its target, never both, never
// neither), and the indexes, files and counters on disk agree.
TEST(PassFailures, EveryFailurePointLeavesEachMessageWhole) {
    int n = 1;
    for (; n < 400; ++n) {
        SCOPED_TRACE("failing operation " + std::to_string(n));
        struct Run : Pass {
            void TestBody() override {}
        } run;
        run.SetUp();
        FailingFileSystem failing(*run.t.fs);
        EnvOver over(run.t, failing);
        failing.failAt(n);
        const auto r = run.rows();
        const PassOutcome out = runPass(over.env, run.tab(Store::kSource), r, {});
        const bool hit = failing.failed();
        run.leftovers.insert(out.unremoved.begin(), out.unremoved.end());
        // A leftover is the file of a message that left: its record is gone from the source.
        EXPECT_LE(out.unremoved.size(), 1u);
        // The one operation whose failure changes nothing is the removal of the drop journal
        // at the very end: the journal left names only files that are gone, and settling it
        // later drops nothing more.
        const std::string journal =
            sjis::joinPath(tabFolder(run.t.env, run.tab(Store::kSource)), kDropJournal);
        const bool journalLeft = run.t.fs->exists(journal);
        EXPECT_EQ(out.ok(), !hit || journalLeft);
        if (journalLeft) {
            const size_t before = listSize(run.tab(Store::kSource).items);
            EXPECT_EQ(settleDrops(run.t.env, run.tab(Store::kSource)), Err::None);
            EXPECT_EQ(listSize(run.tab(Store::kSource).items), before);
            EXPECT_FALSE(run.t.fs->exists(journal));
        }
        // A message is where the pass puts it, or where it was (a copy not made, a move or a
        // deletion not done), never in both places of a move, never nowhere.
        const auto at = run.where();
        for (const Plan& p : kPlan) {
            const auto got = tabsOf(at, p.key);
            EXPECT_TRUE(got == expectedTabs(p) ||
                        (hit && got == std::multiset<int>{Store::kSource}))
                << p.key;
        }
        if (!hit) break;
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(n, 20);  // the pass did go through its file operations
    EXPECT_LT(n, 400);
}

TEST_F(Store, AFullTargetTakesWhatFitsAndTheRestStays) {
    for (int k = 0; k < 5; ++k)
        add(k, 0);
    tab(kWork).nextFileNo = 9998;
    std::vector<MailItem*> selection = all();
    const PassOutcome out =
        runListOp(t.env, tab(kSource), selection, ListOp::Move, &tab(kWork), {});
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(out.moved, 2);
    EXPECT_EQ(out.leftByFullTarget, 3);
    EXPECT_EQ(t.reporter.lastText(), kTargetFilledUp);
    EXPECT_EQ(itemNumbers(tab(kWork)), (std::vector<int>{9998, 9999}));
    EXPECT_EQ(itemNumbers(tab(kSource)), (std::vector<int>{2, 3, 4}));
    where();
    // Now full: refused before anything happens.
    selection.assign(1, tab(kSource).items.next);
    const PassOutcome again =
        runListOp(t.env, tab(kSource), selection, ListOp::Move, &tab(kWork), {});
    EXPECT_EQ(again.error, Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kTargetFull);
    EXPECT_EQ(itemNumbers(tab(kSource)), (std::vector<int>{2, 3, 4}));
}

TEST_F(Store, MailOnlyGoesToTabsOfItsKind) {
    add(0, 0);
    add(1, 16);
    add(2, 3);
    PassOutcome out = runListOp(t.env, tab(kSource), all(), ListOp::Move, &tab(kSend), {});
    EXPECT_EQ(out.moved, 1);
    EXPECT_EQ(out.wrongKind, 2);
    EXPECT_EQ(itemNumbers(tab(kSource)), (std::vector<int>{0, 2}));
    EXPECT_EQ(itemNumbers(tab(kSend)), std::vector<int>{0});
    where();
}

TEST_F(Store, ListCommandsRefuseWhatTheyMayNotDo) {
    MailItem* m = add(0, 0);
    MailItem* const selection[] = {m};
    ListOpOptions running;
    running.receiveRunning = true;
    EXPECT_EQ(runListOp(t.env, tab(kSource), selection, ListOp::Move, &tab(kWork), running).error,
              Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kListEditDuringRun);
    // Complete delete 3 asks; Cancel keeps the message.
    EXPECT_EQ(
        runListOp(t.env, tab(kSource), selection, ListOp::CompleteDelete, nullptr, {}, true).error,
        Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kCompleteDeleteAsk);
    EXPECT_EQ(itemNumbers(tab(kSource)), std::vector<int>{0});
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_EQ(runListOp(t.env, tab(kSource), selection, ListOp::CompleteDelete, nullptr, {}, true)
                  .deleted,
              1);
    EXPECT_TRUE(itemNumbers(tab(kSource)).empty());
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\受信\\0000.txt")));
    where();
    EXPECT_EQ(listOpOf(9), ListOp::Move);
    EXPECT_EQ(listOpOf(6), ListOp::Copy);
    EXPECT_EQ(listOpOf(8), ListOp::CompleteDelete);
    EXPECT_FALSE(listOpOf(10));
}

TEST_F(Store, EmptyingTheTrashAsksTwiceAndDeletesEverything) {
    Tab& trash = tab(kTrash);
    for (int k = 0; k < 3; ++k) {
        const uint8_t state = k == 1 ? 1 : 3;
        ASSERT_TRUE(storeMessage(t.env, trash, messageText(k, state), record(k, state), {}));
    }
    const std::string folder = tabs[kTrash]->folder();
    platform::makeDirs(*t.fs, attachmentFolder(folder, 1));
    platform::writeWholeFile(*t.fs, sjis::joinPath(attachmentFolder(folder, 1), "a.txt"), "x");

    EXPECT_EQ(emptyTrash(t.env, tab(kSource), {}).error, Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kNotTrashTab);
    // Cancel at the second question: nothing goes.
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_EQ(emptyTrash(t.env, trash, {}).error, Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kEmptyTrashAskAgain);
    EXPECT_EQ(readDisk(t, *tabs[kTrash]).records.size(), 3u);
    EXPECT_EQ(readDisk(t, *tabs[kTrash]).texts.size(), 3u);

    t.reporter.answer(platform::Answer::Ok);
    t.reporter.answer(platform::Answer::Ok);
    const PassOutcome out = emptyTrash(t.env, trash, {});
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(out.deleted, 3);
    const OnDisk d = readDisk(t, *tabs[kTrash]);
    EXPECT_TRUE(d.indexWhole);
    EXPECT_TRUE(d.records.empty() && d.texts.empty() && d.attached.empty());
    EXPECT_EQ(t.ini->read("3", "AllMailCount"), "0");
    // Now there is nothing to delete.
    EXPECT_EQ(emptyTrash(t.env, trash, {}).error, Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kNothingToDelete);
}

// A sort into five tabs appends once to each and compacts the source once, whatever the number
// of rows.
TEST_F(Store, ASortIntoManyTabsWritesEachIndexOnce) {
    std::vector<TabFixture*> targets;
    const char* names[] = {"一", "二", "三", "四", "五"};
    for (int i = 0; i < 5; ++i) {
        tabs.push_back(std::make_unique<TabFixture>(t, names[i]));
        tabs.back()->tab->id = 10 + i;
        ASSERT_EQ(readIndex(t.env, *tabs.back()->tab, {}), Err::None);
        targets.push_back(tabs.back().get());
    }
    constexpr int kMessages = 60;
    for (int k = 0; k < kMessages; ++k)
        add(k, k % 2 ? 3 : 0);
    std::vector<PassRow> rows;
    int k = 0;
    for (MailItem* m : listRange(tab(kSource).items)) {
        if (k % 3 != 0) rows.push_back({m, targets[static_cast<size_t>(k % 5)]->tab.get(), false});
        ++k;
    }
    test::RecordingFileSystem counting(*t.fs);
    EnvOver over(t, counting);
    const PassOutcome out = runPass(over.env, tab(kSource), rows, {});
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(out.moved, static_cast<int>(rows.size()));
    EXPECT_EQ(counting.count("replace", "mokuji.bin"), 1);  // the source, compacted once
    EXPECT_EQ(counting.count("open", "mokuji.bin"), 5);     // one append per target
    EXPECT_EQ(counting.count("sync"), 1);  // every copy and target index at once, before the source
    EXPECT_EQ(listSize(tab(kSource).items), static_cast<size_t>(kMessages) - rows.size());
    for (TabFixture* f : targets) {
        const OnDisk d = readDisk(t, *f);
        EXPECT_TRUE(d.indexWhole);
        EXPECT_EQ(d.records.size(), itemNumbers(*f->tab).size());
        EXPECT_EQ(d.texts.size(), d.records.size());
    }
}

// ----------------------------------------------------------------------------- attributes

// Each step: the command, whether it changed the message, its mark and colour after.
TEST_F(Store, MarkingABookmarkedMessageKeepsTheBookmark) {
    MailItem* m = add(0, 3, 0, kBookmarkBit);
    MailItem* const selection[] = {m};
    const std::tuple<int, int, uint8_t> steps[] = {
        {kOpMark, 1, kBookmarkBit | kMarkBit},
        {kOpMark, 1, kBookmarkBit},
        {kOpFirstColour + 10, 1, kBookmarkBit | 11},  // colours keep the mark nibble
        {kOpFirstColour + 10, 0, kBookmarkBit | 11},
        {kOpNoColour, 1, kBookmarkBit}};
    for (const auto& [op, changed, after] : steps) {
        SCOPED_TRACE(op);
        EXPECT_EQ(runAttributeOp(t.env, tab(kSource), selection, op, {}).changed, changed);
        EXPECT_EQ(m->markColour, after);
        texts[0] = messageText(0, 3, after);
        where();  // the file's status line and the record say the same
    }
}

// where() checks the counters written against the records after each step.
TEST_F(Store, ReadAndUnreadMoveTheCounters) {
    MailItem* fresh = add(0, 0, 1);
    MailItem* other = add(1, 1, 1);
    MailItem* outgoing = add(2, 16);
    EXPECT_EQ(tab(kSource).newMailCount, 2);
    MailItem* const one[] = {fresh, outgoing};
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), one, kOpRead, {}).changed, 1);
    EXPECT_EQ(fresh->state, 3);
    EXPECT_EQ(fresh->newMark, 0);
    EXPECT_EQ(tab(kSource).newMailCount, 1);
    texts[0] = messageText(0, 3);
    where();
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), {}, kOpAllRead, {}).changed, 1);
    EXPECT_EQ(other->state, 4);
    EXPECT_EQ(tab(kSource).newMailCount, 0);
    texts[1] = messageText(1, 4);
    where();
    MailItem* const back[] = {fresh};
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), back, kOpUnread, {}).changed, 1);
    texts[0] = messageText(0, 0);
    where();
}

TEST_F(Store, DraftsAndWaitingMail) {
    MailItem* waiting = add(0, 16);
    MailItem* sent = add(1, 20);
    EXPECT_EQ(tab(kSource).waitMailCount, 1);
    MailItem* const w[] = {waiting};
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), w, kOpDraft, {}).changed, 1);
    EXPECT_EQ(waiting->state, 18);
    EXPECT_EQ(tab(kSource).waitMailCount, 0);
    EXPECT_EQ(tab(kSource).editMailCount, 1);
    // Back to waiting only after the header check passes.
    AttributeOptions check;
    std::string seen;
    check.draftCheck = [&](std::string_view head) -> std::optional<DraftFault> {
        seen = std::string(head);
        return DraftFault{"To:", "がありません"};
    };
    EXPECT_EQ(runAttributeOp(t.env, tab(kSource), w, kOpWaiting, check).changed, 0);
    EXPECT_EQ(seen, messageText(0, 18).substr(0, kDraftCheckBytes));
    EXPECT_EQ(t.reporter.lastText(), "番号0000\n「To:」がありません    ");
    EXPECT_EQ(waiting->state, 18);
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), w, kOpWaiting, {}).changed, 1);
    EXPECT_EQ(waiting->state, 16);
    // A sent message asks first.
    MailItem* const s[] = {sent};
    EXPECT_EQ(runAttributeOp(t.env, tab(kSource), s, kOpWaiting, {}).changed, 0);
    EXPECT_EQ(t.reporter.lastText(), kSentToWaitingAsk);
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_EQ(runAttributeOp(t.env, tab(kSource), s, kOpWaiting, {}).changed, 1);
    EXPECT_EQ(sent->state, 16);
    EXPECT_EQ(tab(kSource).waitMailCount, 2);
    EXPECT_EQ(t.ini->read("0", "WaitMailCount"), "2");
    texts[1] = messageText(1, 16);
    where();
}

// A failing write leaves the file's status line and the index byte both old or both new.
TEST_F(Store, AttributeChangesNeverSplitFileAndIndex) {
    add(0, 0, 0, kBookmarkBit);
    for (int n = 1; n < 30; ++n) {
        SCOPED_TRACE(n);
        MailItem* m = tab(kSource).items.next;
        const uint8_t beforeState = m->state, beforeMark = m->markColour;
        FailingFileSystem failing(*t.fs);
        EnvOver over(t, failing);
        failing.failAt(n);
        const auto bytes = attributeResult(kOpMark, m->state, m->markColour);
        ASSERT_TRUE(bytes);
        ItemBytes change = *bytes;
        change.state = static_cast<uint8_t>(beforeState < 3 ? beforeState + 3 : beforeState - 3);
        const Err e = setItemBytes(over.env, tab(kSource), *m, change);
        const OnDisk d = readDisk(t, *tabs[kSource]);
        ASSERT_EQ(d.records.size(), 1u);
        const bool changed = e == Err::None;
        EXPECT_EQ(changed, !failing.failed());
        const auto [number, state, mark] = d.records[0];
        EXPECT_EQ(std::tuple(state, mark), changed ? std::tuple(change.state, change.markColour)
                                                   : std::tuple(beforeState, beforeMark));
        EXPECT_EQ(std::tuple(m->state, m->markColour), std::tuple(state, mark));
        EXPECT_EQ(d.texts.at(0).substr(7, 3),
                  (std::string{stateDigit(state), '.', markDigit(mark)}));
        if (!failing.failed()) break;
    }
}

}  // namespace
}  // namespace kolvy::store
