#include "pop/uidl_store.h"

#include <gtest/gtest.h>

#include "config/accounts.h"
#include "core/sjis.h"
#include "tests/support/failing_fs.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

Account accountNamed(const char* name) {
    Account a = config::blankAccount();
    sjis::copyField(a.name, name);
    return a;
}

ServerEntry entry(std::string_view id) {
    ServerEntry e{};
    sjis::copyField(e.uidl, id);
    return e;
}

class UidlStore : public ::testing::Test {
  protected:
    void SetUp() override { t.clock.setLocal(2025, 1, 2); }
    std::string file(const char* account = "仕事") {
        return t.read(std::string("_UIDL\\") + account + ".txt");
    }
    test::TestEnv t;
    Account work = accountNamed("仕事");
};

TEST(UidlForm, LongAndOddIdsGetADistinctFormThatFits) {
    const std::string id78(78, 'a');
    const std::string id79 = id78 + "b", id80 = id78 + "bc";
    EXPECT_EQ(normaliseUidl(id78), id78);
    EXPECT_EQ(normaliseUidl("0000abcd00000001"), "0000abcd00000001");
    EXPECT_EQ(normaliseUidl(""), "");
    const std::string n79 = normaliseUidl(id79), n80 = normaliseUidl(id80);
    EXPECT_EQ(n79.size(), kMaxUidl);
    EXPECT_EQ(n80.size(), kMaxUidl);
    EXPECT_NE(n79, n80);
    EXPECT_NE(n79, id78.substr(0, 78));
    EXPECT_EQ(n79, normaliseUidl(id79));  // the same id always keeps the same form
    EXPECT_EQ(n79.substr(0, 45), std::string(45, 'a'));
    // A blank or a control byte could never be told from the line's own marks.
    for (std::string odd : {std::string("a b"), std::string("\tab"), std::string("a\x01", 2),
                            std::string("a\0b", 3)}) {
        const std::string n = normaliseUidl(odd);
        EXPECT_LE(n.size(), kMaxUidl) << odd;
        EXPECT_EQ(n, normaliseUidl(odd));
        EXPECT_EQ(n.find_first_of(std::string(" \t\x01\0", 4)), std::string::npos) << odd;
    }
    EXPECT_NE(normaliseUidl("a b"), normaliseUidl("a_b"));
}

TEST_F(UidlStore, WritesNewIdsThenStoredOnesSeenInThisRun) {
    t.write("_UIDL\\仕事.txt", "old1\r\nold2\r\n\told3\r\ngone\r\n");
    UidlLists lists;
    ASSERT_EQ(ReadUidlFile(t.env, work, lists), 0);
    ASSERT_EQ(lists.storedCount(), 4u);
    EXPECT_EQ(lists.storedKind("old3"), UidlKind::DeletePending);
    EXPECT_EQ(IsKnownUidl(entry("old1"), lists), 1);
    EXPECT_EQ(IsKnownUidl(entry("old3"), lists), 1);
    EXPECT_EQ(IsKnownUidl(entry("OLD2"), lists), 0);  // exact, case-sensitive
    EXPECT_EQ(IsKnownUidl(entry(""), lists), 0);
    EXPECT_EQ(AddUidl(entry("new1"), lists), 0);
    EXPECT_EQ(AddUidl(entry(""), lists), 0);      // never added
    EXPECT_EQ(AddUidl(entry("new1"), lists), 0);  // once
    EXPECT_EQ(AddUidl(entry("old1"), lists), 0);  // seen and kept: written once
    EXPECT_EQ(AddUidl(entry("new2"), lists, UidlKind::DeletePending), 0);
    EXPECT_EQ(WriteUidlFile(t.env, work, lists, false), Err::None);
    EXPECT_EQ(file(), " new1\r\n old1\r\n\tnew2\r\n\told3\r\n");
    EXPECT_EQ(t.read("_UIDL\\仕事.tmp"), "<missing>");

    UidlLists again;
    ASSERT_EQ(ReadUidlFile(t.env, work, again), 0);
    EXPECT_EQ(again.storedCount(), 4u);
    EXPECT_EQ(again.storedKind("new2"), UidlKind::DeletePending);
    EXPECT_EQ(again.storedKind("new1"), UidlKind::Kept);
}

TEST_F(UidlStore, PinnedIdsKeepTheirKindAndWinOverKept) {
    // A plain line, as every older file holds them, is never deleted.
    t.write("_UIDL\\仕事.txt", "pin1\r\n kept1\r\n");
    UidlLists lists;
    ASSERT_EQ(ReadUidlFile(t.env, work, lists), 0);
    EXPECT_EQ(lists.storedKind("pin1"), UidlKind::Pinned);
    EXPECT_EQ(lists.storedKind("kept1"), UidlKind::Kept);
    EXPECT_EQ(IsKnownUidl(entry("pin1"), lists), 1);
    EXPECT_EQ(AddUidl(entry("new"), lists, UidlKind::Pinned), 0);
    EXPECT_EQ(AddUidl(entry("new"), lists, UidlKind::Kept), 0);  // stays pinned
    EXPECT_EQ(AddUidl(entry("both"), lists, UidlKind::Kept), 0);
    EXPECT_EQ(AddUidl(entry("both"), lists, UidlKind::Pinned), 0);
    EXPECT_EQ(WriteUidlFile(t.env, work, lists, false), Err::None);
    EXPECT_EQ(file(), "new\r\nboth\r\npin1\r\n");
}

TEST_F(UidlStore, NothingToWriteLeavesTheFileUnlessIdsWereForgotten) {
    t.write("_UIDL\\仕事.txt", "a\r\nb\r\n");
    UidlLists lists;
    ASSERT_EQ(ReadUidlFile(t.env, work, lists), 0);
    EXPECT_EQ(WriteUidlFile(t.env, work, lists, false), Err::None);
    EXPECT_EQ(file(), "a\r\nb\r\n");  // met no stored id, kept nothing

    EXPECT_EQ(IsKnownUidl(entry("a"), lists), 1);
    lists.forget("a");  // its deletion was confirmed
    EXPECT_EQ(WriteUidlFile(t.env, work, lists, false), Err::None);
    EXPECT_EQ(file(), "");

    // The server listed its ids and has none of the stored ones any more.
    t.write("_UIDL\\仕事.txt", "c\r\n");
    UidlLists listed;
    ASSERT_EQ(ReadUidlFile(t.env, work, listed), 0);
    listed.setServerListed();
    EXPECT_EQ(WriteUidlFile(t.env, work, listed, false), Err::None);
    EXPECT_EQ(file(), "");
}

TEST_F(UidlStore, LinesEndingInCrOrLfAloneAndRepeatedIds) {
    t.write("_UIDL\\仕事.txt", "a\rb\nc\r\n\r\n\r\nd\r\na\r\n" + std::string(90, 'z'));
    UidlLists lists;
    ASSERT_EQ(ReadUidlFile(t.env, work, lists), 0);
    EXPECT_EQ(lists.storedCount(), 5u);
    for (const char* id : {"a", "b", "c", "d"})
        EXPECT_EQ(IsKnownUidl(entry(id), lists), 1) << id;
    // A line too long for the field is kept in the form the session gives the same id.
    EXPECT_EQ(IsKnownUidl(entry(normaliseUidl(std::string(90, 'z'))), lists), 1);
}

TEST_F(UidlStore, MissingFilesAreEmptyListsAndAccountsKeepSeparateFiles) {
    Account home = accountNamed("自宅");
    UidlLists a, b;
    ASSERT_EQ(ReadUidlFile(t.env, work, a), 0);
    ASSERT_EQ(ReadUidlFile(t.env, home, b), 0);
    EXPECT_EQ(a.storedCount() + b.storedCount(), 0u);
    AddUidl(entry("w1"), a);
    AddUidl(entry("h1"), b);
    WriteUidlFile(t.env, work, a, false);
    WriteUidlFile(t.env, home, b, false);
    EXPECT_EQ(file("仕事"), " w1\r\n");
    EXPECT_EQ(file("自宅"), " h1\r\n");
    EXPECT_TRUE(t.reporter.shown().empty());
}

// A folder where the file should be: it exists and can be neither read as a list nor replaced.
TEST_F(UidlStore, FileThatCannotBeReadOrWrittenFailsInsteadOfForgetting) {
    ASSERT_EQ(t.env.fs.makeDir(t.path("_UIDL")), Err::None);
    ASSERT_EQ(t.env.fs.makeDir(t.path("_UIDL\\仕事.txt")), Err::None);
    t.env.logOut = true;
    UidlLists lists;
    EXPECT_EQ(ReadUidlFile(t.env, work, lists), 1);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_EQ(t.reporter.lastText(), std::string(kTextUidlReadFailed) + "    ");

    AddUidl(entry("x"), lists);
    EXPECT_NE(WriteUidlFile(t.env, work, lists, false), Err::None);
    EXPECT_EQ(t.reporter.lastText(), kTextUidlWriteFailed);
    EXPECT_NE(t.read("_Log\\通信ログ2501.txt").find(kTextUidlWriteFailed), std::string::npos);
    EXPECT_EQ(t.read("_UIDL\\仕事.tmp"), "<missing>");
    EXPECT_TRUE(t.env.fs.isDir(t.path("_UIDL\\仕事.txt")));
    // Aborting: only the log line.
    t.reporter.clear();
    EXPECT_NE(WriteUidlFile(t.env, work, lists, true), Err::None);
    EXPECT_TRUE(t.reporter.shown().empty());
}

// A file another program holds for a moment at any step of the write (Access) is tried again,
// and the retry is logged; the write then succeeds.
TEST_F(UidlStore, WriteHeldForAMomentAtAnyStepIsRetried) {
    ASSERT_EQ(t.env.fs.makeDir(t.path("_UIDL")), Err::None);
    test::FailingFileSystem failing(*t.fs);
    test::EnvOver over(t, failing);
    over.env.logOut = true;
    UidlLists lists;
    AddUidl(entry("x"), lists);
    const int rounds = test::failEachStep(
        failing, [&] { t.write("_UIDL\\仕事.txt", " old\r\n"); },
        [&](int n) {
            EXPECT_EQ(WriteUidlFile(over.env, work, lists, false), Err::None) << n;
            EXPECT_EQ(file(), " x\r\n") << n;
            EXPECT_EQ(t.read("_UIDL\\仕事.tmp"), "<missing>") << n;
        },
        Err::Access);
    EXPECT_GE(rounds, 4);  // create, write, flush and replace were each refused once
    EXPECT_TRUE(t.reporter.shown().empty());
    const std::string log = t.read("_Log\\通信ログ2501.txt");
    EXPECT_NE(log.find("1回目が失敗しました（access denied）。再試行します。"), std::string::npos)
        << log;
}

// Any other failure at any step: reported, and the old list or the new one stays, never a mix.
TEST_F(UidlStore, WriteFailureAtAnyStepKeepsTheOldOrTheNewFile) {
    ASSERT_EQ(t.env.fs.makeDir(t.path("_UIDL")), Err::None);
    test::FailingFileSystem failing(*t.fs);
    test::EnvOver over(t, failing);
    UidlLists lists;
    AddUidl(entry("x"), lists);
    test::failEachStep(
        failing,
        [&] {
            t.write("_UIDL\\仕事.txt", " old\r\n");
            t.reporter.clear();
        },
        [&](int n) {
            const Err e = WriteUidlFile(over.env, work, lists, false);
            EXPECT_EQ(file(), e == Err::None ? " x\r\n" : " old\r\n") << n;
            EXPECT_EQ(t.reporter.shown().size(), e == Err::None ? 0u : 1u) << n;
            EXPECT_EQ(t.read("_UIDL\\仕事.tmp"), "<missing>") << n;
        });
}

TEST_F(UidlStore, HundredThousandIdsAreFoundByHash) {
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "uid-" + std::to_string(i) + "\r\n";
    t.write("_UIDL\\仕事.txt", text);
    UidlLists lists;
    ASSERT_EQ(ReadUidlFile(t.env, work, lists), 0);
    ASSERT_EQ(lists.storedCount(), 100000u);
    int known = 0;
    for (int i = 0; i < 100000; i += 2)
        known += IsKnownUidl(entry("uid-" + std::to_string(i)), lists);
    EXPECT_EQ(known, 50000);
    EXPECT_EQ(IsKnownUidl(entry("uid-100000"), lists), 0);
    ASSERT_EQ(WriteUidlFile(t.env, work, lists, false), Err::None);
    UidlLists again;
    ASSERT_EQ(ReadUidlFile(t.env, work, again), 0);
    EXPECT_EQ(again.storedCount(), 50000u);
    EXPECT_NE(again.findStored("uid-99998"), nullptr);
    EXPECT_EQ(again.findStored("uid-99999"), nullptr);
}

}  // namespace
}  // namespace kolvy::pop
