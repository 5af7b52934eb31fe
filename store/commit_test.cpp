// Group commit: stored messages are flushed only at the commit, message files before the index,
// counters written then; the start-up check settles what a kill left.
#include "store/commit.h"

#include <gtest/gtest.h>

#include <tuple>

#include "store/message_file.h"
#include "store/store_test_util.h"
#include "store/tabs.h"
#include "tests/support/recording_fs.h"

namespace kolvy::store {
namespace {

using testing::EnvOver;
using testing::TabFixture;

std::string fileText(int n) {
    StatusLine s;
    s.stamp = "2612071030";
    return formatStatusLine(s) + "Subject: " + std::to_string(n) + "\r\n\r\nbody\r\n";
}

TEST(Commit, NothingIsFlushedUntilTheCommitAndFilesComeBeforeTheIndex) {
    test::TestEnv t;
    TabFixture fx(t);
    test::RecordingFileSystem fs(*t.fs);
    EnvOver over(t, fs);
    WriteBatch batch;
    IndexOptions o;
    o.batch = &batch;
    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(storeMessage(over.env, *fx.tab, fileText(n), testing::record(n), o).ok());
    EXPECT_EQ(fs.count("flush") + fs.count("sync"), 0);
    // Counters and the next number wait for the commit, in memory they are right.
    EXPECT_EQ(fx.tab->allMailCount, 3);
    EXPECT_EQ(fx.tab->nextFileNo, 3);
    EXPECT_FALSE(t.ini->read("0", "NextFileNo").has_value());
    EXPECT_EQ(batch.messages(), 3u);
    EXPECT_TRUE(t.fs->exists(fx.folder() + "\\0002.txt"));
    EXPECT_TRUE(temporaryMessageFiles(t.env, fx.folder()).empty());

    ASSERT_EQ(batch.commit(over.env), Err::None);
    const std::string f = fx.folder();
    EXPECT_EQ(fs.paths("sync"),
              (std::vector<std::string>{f + "\\0000.txt|" + f + "\\0001.txt|" + f + "\\0002.txt",
                                        fx.index()}));
    EXPECT_EQ(t.ini->read("0", "NextFileNo").value_or(""), "3");
    EXPECT_EQ(t.ini->read("0", "AllMailCount").value_or(""), "3");
    EXPECT_TRUE(batch.empty());
    // Without a batch every message is flushed at once, file and record.
    fs.calls.clear();
    ASSERT_TRUE(storeMessage(over.env, *fx.tab, fileText(3), testing::record(3), {}).ok());
    EXPECT_EQ(fs.count("flush"), 2);
}

TEST(Commit, DueAfterTheMessageOrByteLimit) {
    test::TestEnv t;
    TabFixture fx(t);
    WriteBatch batch;
    for (size_t n = 1; n < kCommitMessages; ++n)
        batch.noteMessage(*fx.tab, "f", "i", 10);
    EXPECT_FALSE(batch.due());
    batch.noteMessage(*fx.tab, "f", "i", 10);
    EXPECT_TRUE(batch.due());
    WriteBatch big;
    big.noteMessage(*fx.tab, "f", "i", kCommitBytes - 1);
    EXPECT_FALSE(big.due());
    big.noteMessage(*fx.tab, "f", "i", 1);
    EXPECT_TRUE(big.due());
}

TEST(Commit, TheFirstStoreAfterAKillSettlesTemporariesNumbersAndCounters) {
    test::TestEnv t;
    TabFixture fx(t);
    {
        WriteBatch batch;
        IndexOptions o;
        o.batch = &batch;
        for (int n = 0; n < 2; ++n)
            ASSERT_TRUE(storeMessage(t.env, *fx.tab, fileText(n), testing::record(n), o).ok());
        ASSERT_EQ(batch.commit(t.env), Err::None);
        for (int n = 2; n < 4; ++n)
            ASSERT_TRUE(storeMessage(t.env, *fx.tab, fileText(n), testing::record(n), o).ok());
        // Killed here: no commit; a fifth message was being written.
        t.write("MailData\\受信\\0004.tmp", "\f st=0.0.");
        freeItems(*fx.tab);
    }
    // The next run starts from the ini: two messages and number 2, as the last commit left them.
    Tab& tab = *fx.tab;
    tab.loadState = kNotRead;
    tab.nextFileNo = 2;
    tab.allMailCount = tab.noReadMailCount = 2;
    WriteBatch batch;
    IndexOptions o;
    o.batch = &batch;
    auto item = storeMessage(t.env, tab, fileText(4), testing::record(4), o);
    ASSERT_TRUE(item.ok());
    EXPECT_TRUE(t.fs->exists(fx.folder() + "\\0004.txt"));
    EXPECT_TRUE(temporaryMessageFiles(t.env, fx.folder()).empty());
    EXPECT_EQ(std::tuple(tab.nextFileNo, tab.allMailCount, tab.noReadMailCount),
              std::tuple(5, 5, 5));
    EXPECT_EQ(t.ini->read("0", "AllMailCount").value_or(""), "4") << "recounted before the store";
    EXPECT_EQ(tab.loadState, kNotRead) << "the run did not need the list";
    ASSERT_EQ(batch.commit(t.env), Err::None);
    EXPECT_EQ(t.ini->read("0", "AllMailCount").value_or(""), "5");
    EXPECT_EQ(t.ini->read("0", "NextFileNo").value_or(""), "5");
}

TEST(Commit, AFailedWriteLeavesNoFileUnderEitherName) {
    test::TestEnv t;
    TabFixture fx(t);
    testing::FailingFileSystem fs(*t.fs);
    EnvOver over(t, fs);
    // Open, write, rename: each failing in turn leaves neither NNNN.txt nor NNNN.tmp; the write
    // and the rename say what failed, a refused open is the caller's to tell.
    const std::tuple<bool, std::string> told[] = {
        {false, ""}, {true, kWriteFailed}, {true, kMoveFailed}};
    for (int at = 1; at <= 3; ++at) {
        SCOPED_TRACE(at);
        fs.failAt(at);
        t.reporter.clear();
        bool reported = false;
        EXPECT_NE(createMessageFile(over.env, fx.folder(), 7, fileText(7), &reported, false),
                  Err::None);
        EXPECT_EQ(std::tuple(reported, t.reporter.lastText()), told[at - 1]);
        EXPECT_FALSE(t.fs->exists(fx.folder() + "\\0007.txt"));
        EXPECT_FALSE(t.fs->exists(fx.folder() + "\\0007.tmp"));
    }
    fs.failAt(0);
    EXPECT_EQ(createMessageFile(over.env, fx.folder(), 7, fileText(7), nullptr, false), Err::None);
    EXPECT_EQ(t.read("MailData\\受信\\0007.txt"), fileText(7));
    // Never over an existing message.
    EXPECT_EQ(createMessageFile(over.env, fx.folder(), 7, "other", nullptr, false), Err::Exists);
    EXPECT_EQ(t.read("MailData\\受信\\0007.txt"), fileText(7));
}

}  // namespace
}  // namespace kolvy::store
