#include "store/message_file.h"

#include <gtest/gtest.h>

#include <tuple>

#include "store/store_test_util.h"

namespace kolvy::store {
namespace {

using testing::TabFixture;

TEST(MessageFileNames, FourDigitsAndNothingBeyond) {
    struct Case {
        int n;
        const char* name;
    } cases[] = {{0, "0000.txt"}, {7, "0007.txt"}, {42, "0042.txt"}, {9999, "9999.txt"},
                 {10000, ""},     {10042, ""},     {-1, ""},         {-10000, ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(messageFileName(c.n), c.name) << c.n;
    }
    test::TestEnv t;
    TabFixture f(t);
    EXPECT_EQ(messagePath(t.env, *f.tab, 3), t.path("MailData\\受信\\0003.txt"));
    EXPECT_EQ(messagePath(t.env, *f.tab, 10000), "");
    EXPECT_EQ(attachmentFolder(f.folder(), 3), t.path("MailData\\受信\\添付\\0003"));
    // Number 10000 never reaches a file.
    EXPECT_EQ(createMessageFile(t.env, f.folder(), 10000, "x"), Err::Invalid);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\受信\\0000.txt")));
}

TEST(StatusLines, TemplatesAndEveryState) {
    EXPECT_EQ(std::string(kNewOutgoingStatusLine).size(), kStatusLineSize);
    StatusLine out;
    out.state = 16;
    out.received = false;
    out.value = "not";
    EXPECT_EQ(formatStatusLine(out), kNewOutgoingStatusLine);
    StatusLine in;
    in.stamp = "0503070905";
    EXPECT_EQ(formatStatusLine(in), "\f st=0.0.0.0 dt=0503070905 rd=all               \r\n");

    const uint8_t states[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19, 20, 21};
    const uint8_t marks[] = {0x00, 0x10, 0x80, 0x90};
    for (uint8_t s : states) {
        for (uint8_t m : marks) {
            for (uint8_t colour = 0; colour < 16; ++colour) {
                StatusLine l;
                l.state = s;
                l.markColour = static_cast<uint8_t>(m | colour);
                l.received = s < 16;
                l.value = s < 16 ? "12345" : "have";
                l.stamp = "2612312359";
                const std::string text = formatStatusLine(l);
                ASSERT_EQ(text.size(), kStatusLineSize);
                auto b = parseStatusLine(text + "From: x\r\n");
                ASSERT_TRUE(b);
                EXPECT_EQ(std::tie(b->state, b->markColour, b->stamp, b->received, b->value),
                          std::tie(l.state, l.markColour, l.stamp, l.received, l.value));
            }
        }
    }
    EXPECT_EQ(stateDigit(11), 'B');
    EXPECT_EQ(markDigit(0x90), '9');
    EXPECT_EQ(colourDigit(0x0E), 'E');
    EXPECT_FALSE(parseStatusLine("Subject: not a stored message\r\n"));
    EXPECT_FALSE(parseStatusLine("\f st=2.0.0.0 dt=0000000000"));
    EXPECT_FALSE(parseStatusLine("\f st=0"));
}

TEST(StatusLines, StampDigitsAndSeconds) {
    // Never a sign or a third digit.
    for (const auto& [year, digits] : {std::pair{2005, "0503070905"},
                                       {1999, "9903070905"},
                                       {2105, "0503070905"},
                                       {-3, "9703070905"}}) {
        EXPECT_EQ(stampDigits(platform::LocalTime{year, 3, 7, 9, 5, 0, 4}), digits) << year;
    }

    struct Case {
        const char* digits;
        uint32_t seconds;
    } cases[] = {{"0000000000", 0},          {"0503070905", 1110153900},  // 2005-03-07 00:05 UTC
                 {"0512150905", 1134605100}, {"0001010900", 946684800},   // 2000-01-01 00:00 UTC
                 {"0402290000", 1077980400},  // a leap day (2004-02-28 15:00 UTC)
                 {"0513010000", 0},           // no thirteenth month
                 {"05030709x5", 0},          {"05030", 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(stampToSeconds(c.digits), c.seconds) << c.digits;
    }
}

TEST(StatusLines, AttachmentStates) {
    for (int s = 0; s < 32; ++s) {
        const bool expected =
            s == 1 || s == 4 || s == 7 || s == 10 || s == 17 || s == 19 || s == 21;
        EXPECT_EQ(stateHasAttachments(static_cast<uint8_t>(s)), expected) << s;
    }
}

struct InPlace : ::testing::Test {
    test::TestEnv t;
    std::string path = t.path("MailData\\受信\\0003.txt");
    std::string text;
    void SetUp() override {
        StatusLine l;
        l.state = 16 + 2;
        l.markColour = 0x80;
        l.received = false;
        l.value = "not";
        text = formatStatusLine(l) + "To: a@b\r\n\r\nbody\r\n";
        t.write("MailData\\受信\\0003.txt", text);
    }
    size_t diff(const std::string& a, const std::string& b) {
        size_t n = 0;
        for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
            n += a[i] != b[i];
        return n + (a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
    }
};

TEST_F(InPlace, OneCharacterAtItsPlace) {
    struct Case {
        StatusChar which;
        char digit;
        size_t at;
    } cases[] = {{StatusChar::Direction, '1', 5},
                 {StatusChar::State, '3', 7},
                 {StatusChar::Mark, '9', 9},
                 {StatusChar::Colour, 'C', 11}};
    std::string before = text;
    for (const Case& c : cases) {
        ASSERT_EQ(updateStatusChar(t.env, path, c.which, c.digit), Err::None);
        const std::string after = t.read("MailData\\受信\\0003.txt");
        EXPECT_LE(diff(before, after), 1u);
        EXPECT_EQ(after[c.at], c.digit);
        before = after;
    }
    // Marking a bookmarked message: 8 became 9.
    auto line = parseStatusLine(before);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->markColour, 0x9C);
    ASSERT_EQ(updateAttachmentWord(t.env, path, true), Err::None);
    EXPECT_EQ(t.read("MailData\\受信\\0003.txt").substr(26, 22), " at=have              ");
    ASSERT_EQ(updateAttachmentWord(t.env, path, false), Err::None);
    EXPECT_EQ(t.read("MailData\\受信\\0003.txt").substr(26, 22), " at=not               ");
    EXPECT_EQ(t.read("MailData\\受信\\0003.txt").substr(50), text.substr(50));
}

TEST_F(InPlace, FileWithoutStatusLineIsLeftAlone) {
    t.write("MailData\\受信\\0004.txt", "From: x\r\n\r\nbody");
    EXPECT_EQ(updateStatusChar(t.env, t.path("MailData\\受信\\0004.txt"), StatusChar::State, '3'),
              Err::Damaged);
    EXPECT_EQ(t.read("MailData\\受信\\0004.txt"), "From: x\r\n\r\nbody");
    EXPECT_EQ(updateStatusChar(t.env, t.path("MailData\\受信\\0099.txt"), StatusChar::State, '3'),
              Err::NotFound);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\受信\\0099.txt")));
}

struct Attachments : ::testing::Test {
    test::TestEnv t;
    TabFixture from{t, "送信"};
    TabFixture to{t, "臨時タブ1"};
    void attach(std::string_view tab, int n, std::string_view file, std::string_view data) {
        t.write(std::string("MailData\\") + std::string(tab) + "\\添付\\" + numberDigits(n) + "\\" +
                    std::string(file),
                data);
    }
};

TEST_F(Attachments, MoveCopyAndDeleteFollowTheMessage) {
    t.write("MailData\\送信\\0003.txt", kNewOutgoingStatusLine);
    attach("送信", 3, "図.png", "png");
    attach("送信", 3, "表.xls", "xls");
    ASSERT_EQ(copyMessageFile(t.env, from.folder(), 3, to.folder(), 17), Err::None);
    ASSERT_EQ(moveAttachments(t.env, from.folder(), 3, to.folder(), 17), Err::None);
    EXPECT_EQ(t.read("MailData\\臨時タブ1\\0017.txt"), kNewOutgoingStatusLine);
    EXPECT_EQ(t.read("MailData\\臨時タブ1\\添付\\0017\\図.png"), "png");
    EXPECT_EQ(t.read("MailData\\臨時タブ1\\添付\\0017\\表.xls"), "xls");
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\送信\\添付\\0003")));
    // A message without attachments has nothing to move.
    EXPECT_EQ(moveAttachments(t.env, from.folder(), 4, to.folder(), 18), Err::None);
    // A copy leaves the source's; deleting a message takes its attachments with it.
    t.write("MailData\\送信\\0005.txt", kNewOutgoingStatusLine);
    attach("送信", 5, "a.txt", "a");
    ASSERT_EQ(copyAttachments(t.env, from.folder(), 5, to.folder(), 0), Err::None);
    EXPECT_EQ(t.read("MailData\\臨時タブ1\\添付\\0000\\a.txt"), "a");
    EXPECT_EQ(t.read("MailData\\送信\\添付\\0005\\a.txt"), "a");
    ASSERT_EQ(deleteMessage(t.env, from.folder(), 5), Err::None);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\送信\\0005.txt")));
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\送信\\添付\\0005")));
    EXPECT_EQ(deleteMessage(t.env, from.folder(), 5), Err::None);  // already gone
}

TEST_F(Attachments, StaleFolderNeverBecomesTheNewMessagesAttachments) {
    // 添付\0017 was left by an earlier message 17 of the target tab.
    attach("臨時タブ1", 17, "old.doc", "old");
    t.write("MailData\\送信\\0003.txt", kNewOutgoingStatusLine);
    ASSERT_EQ(copyMessageFile(t.env, from.folder(), 3, to.folder(), 17), Err::None);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\臨時タブ1\\添付\\0017")));
    EXPECT_EQ(t.read("MailData\\臨時タブ1\\添付\\0017_1\\old.doc"), "old");

    // The same for a new message created under a reused number, and a second leftover.
    attach("臨時タブ1", 18, "older.doc", "x");
    t.fs->makeDir(t.path("MailData\\臨時タブ1\\添付\\0018_1"));
    ASSERT_EQ(createMessageFile(t.env, to.folder(), 18, "text"), Err::None);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\臨時タブ1\\添付\\0018")));
    EXPECT_EQ(t.read("MailData\\臨時タブ1\\添付\\0018_2\\older.doc"), "x");
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST(MessageFiles, RoutinesReportWithTheirTexts) {
    test::TestEnv t;
    t.clock.setLocal(2005, 6, 1);
    EXPECT_EQ(moveFile(t.env, t.path("nothing"), t.path("else")), Err::NotFound);
    EXPECT_EQ(t.reporter.lastText(), kMoveFailed);
    t.write("a.txt", "a");
    t.write("b.txt", "b");
    EXPECT_NE(copyFile(t.env, t.path("a.txt"), t.path("b.txt")), Err::None);
    EXPECT_EQ(t.read("b.txt"), "b");
    EXPECT_EQ(t.reporter.lastText(), kCopyFailed);
    t.env.unattended = true;
    t.reporter.clear();
    EXPECT_NE(copyFile(t.env, t.path("a.txt"), t.path("b.txt")), Err::None);
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_EQ(t.read("_Log\\通信ログ0506.txt"),
              "ディスクにデータを書き込むことが出来ませんでした。この作業を中断します。"
              "（コピーファイル関数）\r\n");
    auto block = allocateBlock(t.env, 64);
    ASSERT_TRUE(block);
    EXPECT_EQ(block[63], '\0');
}

}  // namespace
}  // namespace kolvy::store
