#include "store/list_ops.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "store/commit.h"
#include "store/message_file.h"
#include "store/store_test_util.h"
#include "store/tabs.h"

namespace kolvy::store {
namespace {

using testing::EnvOver;
using testing::FailingFileSystem;
using testing::itemNumbers;
using testing::record;
using testing::TabFixture;

// What one tab holds on disk, read back without the code under test's reader state: the index
// file record by record, the message files and the attachment folders of its folder.
struct OnDisk {
    bool indexWhole = false;  // the records cover the file exactly
    struct Message {
        int number;
        uint8_t state, markColour;
        std::string subject;
    };
    std::vector<Message> records;
    std::set<int> files;                            // NNNN.txt present
    std::map<int, std::string> texts;               // their contents
    std::map<int, std::set<std::string>> attached;  // 添付\NNNN entries
    std::optional<IndexSummary> summary;
};

int numberOf(std::string_view name, std::string_view suffix) {
    if (name.size() != 4 + suffix.size() || name.substr(4) != suffix) return -1;
    int n = 0;
    for (char c : name.substr(0, 4)) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

OnDisk readDisk(test::TestEnv& t, const TabFixture& f) {
    OnDisk d;
    auto image = platform::readWholeFile(*t.fs, f.index());
    if (!image) return d;
    size_t pos = kIndexHeaderSize;
    RecordView v;
    while (pos < image->size() && parseRecord(*image, pos, v) && v.offset == pos) {
        d.records.push_back({v.fileNo, v.state, v.markColour, std::string(v.texts[2])});
        pos += v.length;
    }
    d.indexWhole = pos == image->size();
    d.summary = parseSummary(std::string_view(*image).substr(kSummaryOffset));
    auto entries = t.fs->list(f.folder());
    if (entries) {
        for (const auto& e : *entries) {
            const int n = e.isDir ? -1 : numberOf(e.name, ".txt");
            if (n < 0) continue;
            d.files.insert(n);
            auto text = platform::readWholeFile(*t.fs, sjis::joinPath(f.folder(), e.name));
            d.texts[n] = text ? *text : "<unreadable>";
        }
    }
    auto folders = t.fs->list(sjis::joinPath(f.folder(), "添付"));
    if (folders) {
        for (const auto& e : *folders) {
            const int n = e.isDir ? numberOf(e.name, "") : -1;
            if (n < 0) continue;
            auto inside = t.fs->list(attachmentFolder(f.folder(), n));
            auto& names = d.attached[n];
            if (inside) {
                for (const auto& i : *inside)
                    names.insert(i.name);
            }
        }
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
    void SetUp() override { build(t.env); }

    void build(Env& env) {
        const struct {
            const char* name;
            int32_t id, kind;
        } defs[] = {{"受信", 0, kReceiveTab},
                    {"仕事", 1, kReceiveTab},
                    {"保存", 2, kReceiveTab},
                    {"ゴミ箱", 3, kTrashTab},
                    {"送信", 4, kSendTab}};
        for (const auto& d : defs) {
            tabs.push_back(std::make_unique<TabFixture>(t, d.name));
            Tab& tab = *tabs.back()->tab;
            tab.id = d.id;
            tab.kind = d.kind;
            tab.nextFileNo = 0;
            if (d.id != 3) {
                ASSERT_EQ(readIndex(env, tab, {}), Err::None);
            }
        }
        tab(kWork).nextFileNo = 40;  // a target whose numbers differ from the source's
    }

    Tab& tab(int i) { return *tabs[static_cast<size_t>(i)]->tab; }

    // Stores message `key` in the source; states 1 and 4 get an attachment folder.
    MailItem* add(int key, uint8_t state, int32_t newMark = 0, uint8_t markColour = 0) {
        IndexRecord r = record(key, state, "key" + std::to_string(key));
        r.markColour = markColour;
        auto item = storeMessage(t.env, tab(kSource), messageText(key, state, markColour), r, {});
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
            platform::writeWholeFile(*t.fs, sjis::joinPath(folder, "a.txt"),
                                     "attached " + std::to_string(key));
        }
        texts[key] = messageText(key, state, markColour);
        return m;
    }

    MailItem* item(int key) {
        const std::string subject = "key" + std::to_string(key);
        for (MailItem* m : listRange(tab(kSource).items)) {
            if (sjis::fieldView(m->subject) == subject) return m;
        }
        return nullptr;
    }

    // Where every message is on disk, after checking what must hold whatever happened: each
    // index reads whole and matches its tab in memory, every record has its file with the text
    // it had, attachment folders belong to records that have attachments and hold their file,
    // and the counters written agree with the records.
    std::map<std::string, std::vector<std::pair<int, int>>> where() {
        std::map<std::string, std::vector<std::pair<int, int>>> at;
        for (int i = 0; i < kTabCount; ++i) {
            const OnDisk d = readDisk(t, *tabs[static_cast<size_t>(i)]);
            Tab& tb = tab(i);
            EXPECT_TRUE(d.indexWhole) << i;
            if (tb.loadState != kNotRead) {
                std::vector<int> numbers;
                for (const auto& r : d.records)
                    numbers.push_back(r.number);
                EXPECT_EQ(itemNumbers(tb), numbers) << "tab " << i;
                size_t k = 0;
                for (MailItem* m : listRange(tb.items)) {
                    if (k < d.records.size()) {
                        EXPECT_EQ(m->state, d.records[k].state);
                        EXPECT_EQ(m->markColour, d.records[k].markColour);
                    }
                    ++k;
                }
            }
            int all = 0, unread = 0, maxNumber = -1;
            std::set<int> recorded;
            for (const auto& r : d.records) {
                recorded.insert(r.number);
                maxNumber = std::max(maxNumber, r.number);
                ++all;
                if (r.state < 3) ++unread;
                at[r.subject].push_back({i, r.number});
                EXPECT_TRUE(d.files.count(r.number)) << "record without file " << r.number;
                if (!d.files.count(r.number)) continue;
                const int key = std::stoi(r.subject.substr(3));
                EXPECT_EQ(d.texts.at(r.number), texts[key]) << r.subject;
                const bool has = d.attached.count(r.number) != 0;
                EXPECT_EQ(has, stateHasAttachments(r.state)) << r.subject;
                if (has) {
                    EXPECT_EQ(d.attached.at(r.number), std::set<std::string>{"a.txt"});
                }
            }
            for (int f : d.files) {
                if (i == kSource && leftovers.count(f)) continue;  // reported as not deleted
                EXPECT_TRUE(recorded.count(f)) << "file without record " << f << " in " << i;
            }
            for (const auto& [n, names] : d.attached) {
                if (i == kSource && leftovers.count(n)) continue;
                EXPECT_TRUE(recorded.count(n)) << "attachments without record " << n;
            }
            const std::string section = std::to_string(tb.id);
            if (t.ini->read(section, "AllMailCount") || all > 0) {
                EXPECT_EQ(t.ini->read(section, "AllMailCount"), std::to_string(all)) << i;
                EXPECT_EQ(t.ini->read(section, "NoReadMailCount"), std::to_string(unread)) << i;
            }
            EXPECT_EQ(tb.allMailCount, all) << i;
            EXPECT_EQ(tb.noReadMailCount, unread) << i;
            EXPECT_GT(tb.nextFileNo, maxNumber) << i;
            if (auto next = t.ini->read(section, "NextFileNo"); next && maxNumber >= 0) {
                EXPECT_GT(std::stoi(*next), maxNumber) << i;
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
    for (const Plan& p : kPlan) {
        const auto& places = at.count("key" + std::to_string(p.key))
                                 ? at.at("key" + std::to_string(p.key))
                                 : std::vector<std::pair<int, int>>{};
        std::set<int> in;
        for (auto [tb, n] : places)
            in.insert(tb);
        if (p.target == -2) {
            EXPECT_TRUE(in.empty()) << p.key;
        }
        if (p.target == -1) {
            EXPECT_EQ(in, std::set<int>{kSource}) << p.key;
        }
        if (p.target >= 0 && p.copy) {
            EXPECT_EQ(in, (std::set<int>{kSource, p.target})) << p.key;
        }
        if (p.target >= 0 && !p.copy) {
            EXPECT_EQ(in, std::set<int>{p.target}) << p.key;
        }
        EXPECT_EQ(places.size(), in.size()) << p.key;
    }
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
        if (!hit || journalLeft) {
            EXPECT_TRUE(out.ok());
        } else {
            EXPECT_FALSE(out.ok());
        }
        if (journalLeft) {
            const size_t before = listSize(run.tab(Store::kSource).items);
            EXPECT_EQ(settleDrops(run.t.env, run.tab(Store::kSource)), Err::None);
            EXPECT_EQ(listSize(run.tab(Store::kSource).items), before);
            EXPECT_FALSE(run.t.fs->exists(journal));
        }
        const auto at = run.where();
        for (const Plan& p : kPlan) {
            const std::string key = "key" + std::to_string(p.key);
            const auto places = at.count(key) ? at.at(key) : std::vector<std::pair<int, int>>{};
            std::multiset<int> in;
            for (auto [tb, num] : places)
                in.insert(tb);
            if (p.target == -1) {
                EXPECT_EQ(in, std::multiset<int>{Store::kSource}) << key;
            } else if (p.target == -2) {
                EXPECT_LE(in.size(), 1u) << key;
                EXPECT_EQ(in.count(Store::kSource), in.size()) << key;
            } else if (p.copy) {
                EXPECT_EQ(in.count(Store::kSource), 1u) << key;
                EXPECT_LE(in.count(p.target), 1u) << key;
                EXPECT_EQ(in.size(), 1u + in.count(p.target)) << key;
            } else {
                EXPECT_EQ(in.size(), 1u) << key;
                EXPECT_TRUE(in.count(Store::kSource) || in.count(p.target)) << key;
            }
            if (!hit) {
                const int expected = p.target >= 0 ? p.target : Store::kSource;
                if (p.target != -2) {
                    EXPECT_EQ(in.count(expected), 1u) << key;
                }
            }
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
    std::vector<MailItem*> selection;
    for (MailItem* m : listRange(tab(kSource).items))
        selection.push_back(m);
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
    std::vector<MailItem*> all;
    for (MailItem* m : listRange(tab(kSource).items))
        all.push_back(m);
    PassOutcome out = runListOp(t.env, tab(kSource), all, ListOp::Move, &tab(kSend), {});
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
    EXPECT_EQ(readDisk(t, *tabs[kTrash]).files.size(), 3u);

    t.reporter.answer(platform::Answer::Ok);
    t.reporter.answer(platform::Answer::Ok);
    const PassOutcome out = emptyTrash(t.env, trash, {});
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(out.deleted, 3);
    const OnDisk d = readDisk(t, *tabs[kTrash]);
    EXPECT_TRUE(d.indexWhole);
    EXPECT_TRUE(d.records.empty());
    EXPECT_TRUE(d.files.empty());
    EXPECT_TRUE(d.attached.empty());
    EXPECT_EQ(t.ini->read("3", "AllMailCount"), "0");
    // Now there is nothing to delete.
    EXPECT_EQ(emptyTrash(t.env, trash, {}).error, Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kNothingToDelete);
}

// Operations that rewrite a tab's index are counted: a sort into five tabs appends once to each
// and compacts the source once, whatever the number of rows.
class CountingFileSystem final : public platform::FileSystem {
  public:
    explicit CountingFileSystem(platform::FileSystem& real) : real_(real) {}
    Result<std::unique_ptr<platform::File>> open(std::string_view p,
                                                 platform::OpenMode m) override {
        if (m != platform::OpenMode::Read && p.ends_with("mokuji.bin")) ++indexOpens;
        return real_.open(p, m);
    }
    bool exists(std::string_view p) override { return real_.exists(p); }
    bool isDir(std::string_view p) override { return real_.isDir(p); }
    Result<uint64_t> fileSize(std::string_view p) override { return real_.fileSize(p); }
    Err rename(std::string_view a, std::string_view b) override { return real_.rename(a, b); }
    Err replace(std::string_view a, std::string_view b) override {
        if (b.ends_with("mokuji.bin")) ++replaces;
        return real_.replace(a, b);
    }
    Err copy(std::string_view a, std::string_view b, bool f) override {
        return real_.copy(a, b, f);
    }
    Err remove(std::string_view p) override { return real_.remove(p); }
    Err makeDir(std::string_view p) override { return real_.makeDir(p); }
    Err removeDir(std::string_view p) override { return real_.removeDir(p); }
    Result<std::vector<platform::DirEntry>> list(std::string_view f) override {
        return real_.list(f);
    }
    Err syncFiles(std::span<const std::string> paths) override {
        ++syncs;
        return real_.syncFiles(paths);
    }
    int syncs = 0;
    int indexOpens = 0;
    int replaces = 0;

  private:
    platform::FileSystem& real_;
};

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
    CountingFileSystem counting(*t.fs);
    EnvOver over(t, counting);
    const PassOutcome out = runPass(over.env, tab(kSource), rows, {});
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(out.moved, static_cast<int>(rows.size()));
    EXPECT_EQ(counting.replaces, 1);    // the source, compacted once
    EXPECT_EQ(counting.indexOpens, 5);  // one append per target
    EXPECT_EQ(counting.syncs, 1);       // every copy and target index at once, before the source
    EXPECT_EQ(listSize(tab(kSource).items), static_cast<size_t>(kMessages) - rows.size());
    for (TabFixture* f : targets) {
        const OnDisk d = readDisk(t, *f);
        EXPECT_TRUE(d.indexWhole);
        EXPECT_EQ(d.records.size(), itemNumbers(*f->tab).size());
        EXPECT_EQ(d.files.size(), d.records.size());
    }
}

// ----------------------------------------------------------------------------- attributes

char statusChar(test::TestEnv& t, int number, StatusChar which) {
    const std::string text = t.read("MailData\\受信\\" + messageFileName(number));
    return text.size() > static_cast<size_t>(which) ? text[static_cast<size_t>(which)] : '?';
}

TEST_F(Store, MarkingABookmarkedMessageKeepsTheBookmark) {
    MailItem* m = add(0, 3, 0, kBookmarkBit);
    MailItem* const selection[] = {m};
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), selection, kOpMark, {}).changed, 1);
    EXPECT_EQ(m->markColour, kBookmarkBit | kMarkBit);
    EXPECT_EQ(statusChar(t, 0, StatusChar::Mark), '9');
    EXPECT_EQ(readDisk(t, *tabs[kSource]).records[0].markColour, kBookmarkBit | kMarkBit);
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), selection, kOpMark, {}).changed, 1);
    EXPECT_EQ(m->markColour, kBookmarkBit);
    EXPECT_EQ(statusChar(t, 0, StatusChar::Mark), '8');
    EXPECT_EQ(readDisk(t, *tabs[kSource]).records[0].markColour, kBookmarkBit);
    // Colours keep the mark nibble.
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), selection, kOpFirstColour + 10, {}).changed, 1);
    EXPECT_EQ(statusChar(t, 0, StatusChar::Colour), 'B');
    EXPECT_EQ(statusChar(t, 0, StatusChar::Mark), '8');
    EXPECT_EQ(readDisk(t, *tabs[kSource]).records[0].markColour, kBookmarkBit | 11);
    EXPECT_EQ(runAttributeOp(t.env, tab(kSource), selection, kOpFirstColour + 10, {}).changed, 0);
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), selection, kOpNoColour, {}).changed, 1);
    EXPECT_EQ(statusChar(t, 0, StatusChar::Colour), '0');
    EXPECT_EQ(readDisk(t, *tabs[kSource]).records[0].markColour, kBookmarkBit);
}

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
    EXPECT_EQ(statusChar(t, 0, StatusChar::State), '3');
    EXPECT_EQ(t.ini->read("0", "NoReadMailCount"), "1");
    texts[0] = messageText(0, 3);
    where();
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), {}, kOpAllRead, {}).changed, 1);
    EXPECT_EQ(other->state, 4);
    EXPECT_EQ(tab(kSource).newMailCount, 0);
    EXPECT_EQ(t.ini->read("0", "NoReadMailCount"), "0");
    texts[1] = messageText(1, 4);
    where();
    MailItem* const back[] = {fresh};
    ASSERT_EQ(runAttributeOp(t.env, tab(kSource), back, kOpUnread, {}).changed, 1);
    EXPECT_EQ(statusChar(t, 0, StatusChar::State), '0');
    EXPECT_EQ(t.ini->read("0", "NoReadMailCount"), "1");
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
    EXPECT_EQ(statusChar(t, 1, StatusChar::State), '0');
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
        EXPECT_EQ(d.records[0].state, changed ? change.state : beforeState);
        EXPECT_EQ(d.records[0].markColour, changed ? change.markColour : beforeMark);
        EXPECT_EQ(m->state, d.records[0].state);
        EXPECT_EQ(m->markColour, d.records[0].markColour);
        const std::string text = d.texts.at(0);
        EXPECT_EQ(text[7], stateDigit(d.records[0].state));
        EXPECT_EQ(text[9], markDigit(d.records[0].markColour));
        if (!failing.failed()) break;
    }
}

}  // namespace
}  // namespace kolvy::store
