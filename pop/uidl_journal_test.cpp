// The UIDL journal: readable after a cut at any byte, and an entry counts only when the message it
// names is in the store whole.
#include "pop/uidl_journal.h"

#include <gtest/gtest.h>

#include "platform/fileutil.h"
#include "store/commit.h"
#include "store/message_file.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

JournalEntry entry(UidlKind kind, std::string id, std::string path, std::string_view file) {
    JournalEntry e;
    e.kind = kind;
    e.id = std::move(id);
    e.path = std::move(path);
    e.size = file.size();
    e.hash = store::messageContentHash(file);
    return e;
}

TEST(UidlJournal, EveryCutOfTheFileGivesTheWholeLinesBeforeIt) {
    const std::string a =
        formatJournalEntry(entry(UidlKind::Kept, "A1", "MailData\\受信\\0000.txt", "x"));
    const std::string b = formatJournalEntry(entry(UidlKind::DeletePending, "B2", "", ""));
    const std::string c =
        formatJournalEntry(entry(UidlKind::Kept, "C3", "MailData\\受信\\0001.txt", "yy"));
    const std::string text = a + b + c;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        const auto got = parseJournal(std::string_view(text).substr(0, cut));
        const size_t whole = cut >= a.size() + b.size() + c.size() ? 3
                             : cut >= a.size() + b.size()          ? 2
                             : cut >= a.size()                     ? 1
                                                                   : 0;
        ASSERT_EQ(got.size(), whole) << cut;
    }
    const auto all = parseJournal(text);
    EXPECT_EQ(all[0].id, "A1");
    EXPECT_EQ(all[0].kind, UidlKind::Kept);
    EXPECT_EQ(all[0].path, "MailData\\受信\\0000.txt");
    EXPECT_EQ(all[1].kind, UidlKind::DeletePending);
    EXPECT_EQ(all[1].path, "");
    EXPECT_EQ(all[2].size, 2u);
    // Lines that are not entries are passed over, the rest still read.
    EXPECT_EQ(parseJournal("garbage\r\nX\tid\t1\t0000000000000000\t\r\n" + a).size(), 1u);
    EXPECT_EQ(parseJournal("K\tid\t1\tnothex0000000000\t\r\n" + b).size(), 1u);
}

TEST(UidlJournal, AnEntryCountsOnlyWhenItsMessageIsWhole) {
    test::TestEnv t;
    const std::string status(store::kStatusLineSize, 's');
    const std::string file = status + "From: a@example.jp\r\n\r\nbody\r\n";
    struct Case {
        const char* what;
        std::string onDisk;  // "<none>": no file
        bool whole;
    };
    std::string changedStatus = file;
    changedStatus[7] = '3';  // read since: the status line changes in place
    std::string changedBody = file;
    changedBody[changedBody.size() - 3] = 'X';
    const Case cases[] = {
        {"the file as stored", file, true},
        {"its status line changed", changedStatus, true},
        {"no file", "<none>", false},
        {"empty after a power cut", "", false},
        {"cut short", file.substr(0, file.size() - 1), false},
        {"same size, other text", changedBody, false},
        {"longer", file + "x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string rel = "MailData\\受信\\0000.txt";
        t.fs->remove(t.path(rel));
        platform::makeDirs(*t.fs, t.path("MailData\\受信"));
        if (std::string(c.onDisk) != "<none>") t.write(rel, c.onDisk);
        EXPECT_EQ(storedWhole(t.env, entry(UidlKind::Kept, "U", rel, file)), c.whole);
    }
    // A message a rule threw away names no file: nothing can be lost, the id counts.
    EXPECT_TRUE(storedWhole(t.env, entry(UidlKind::Kept, "U", "", "")));
}

TEST(UidlJournal, FoldAddsOnlyTheWholeOnesAndClearRemovesTheFile) {
    test::TestEnv t;
    Account account{};
    std::snprintf(account.name, sizeof account.name, "%s", "acct");
    const std::string file = std::string(store::kStatusLineSize, 's') + "text\r\n";
    platform::makeDirs(*t.fs, t.path("MailData\\受信"));
    t.write("MailData\\受信\\0000.txt", file);
    UidlJournal journal(t.env, account);
    ASSERT_EQ(
        journal.append(entry(UidlKind::DeletePending, "HERE", "MailData\\受信\\0000.txt", file)),
        Err::None);
    ASSERT_EQ(journal.append(entry(UidlKind::Kept, "GONE", "MailData\\受信\\0001.txt", file)),
              Err::None);
    UidlLists lists;
    size_t rejected = 0;
    EXPECT_EQ(journal.fold(lists, &rejected), 1u);
    EXPECT_EQ(rejected, 1u);
    ASSERT_NE(lists.findStored("HERE"), nullptr);
    EXPECT_EQ(lists.storedKind("HERE"), UidlKind::DeletePending);
    EXPECT_EQ(lists.findStored("GONE"), nullptr);
    EXPECT_NE(t.read("_UIDL\\acct.jnl"), "<missing>");
    journal.clear();
    EXPECT_EQ(t.read("_UIDL\\acct.jnl"), "<missing>");
}

}  // namespace
}  // namespace kolvy::pop
