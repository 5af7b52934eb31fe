#include "store/index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "core/mail_state.h"
#include "core/timetext.h"
#include "store/message_file.h"
#include "store/store_test_util.h"
#include "store/tabs.h"

namespace kolvy::store {
namespace {

using testing::FakeRebuilder;
using testing::indexImage;
using testing::itemNumbers;
using testing::record;
using testing::TabFixture;

// ----------------------------------------------------------------------------- codec

TEST(IndexCodec, NewHeaderIsTheNameAndBlanks) {
    const std::string h = newIndexHeader();
    ASSERT_EQ(h.size(), 256u);
    EXPECT_EQ(h.substr(0, 17), "Kolvy mokuji list");
    EXPECT_EQ(h.substr(17), std::string(239, ' '));
}

TEST(IndexCodec, RecordLayoutByteByByte) {
    IndexRecord r = record(0x1234 % 10000, 0x13, "件名");
    r.fileNo = 42;
    r.markColour = 0x9A;
    r.storedTime = 0x01020304;
    r.dateTime = 0x05060708;
    r.offset = 0x0A0B0C0D;
    r.size = 0x11121314;
    r.attachments = 3;
    r.account = 7;
    r.texts[0] = "名";
    r.texts[1] = "a@b";
    r.texts[2] = "件名";
    r.texts[3] = "M";
    r.texts[4] = "";
    const std::string b = encodeRecord(r);
    const std::string expected =
        std::string("\x2A\x00\x13\x9A\x04\x03\x02\x01\x08\x07\x06\x05", 12) +
        "\x0D\x0C\x0B\x0A\x14\x13\x12\x11\x03\x07\x0C" + "名\x0C" + "a@b\x0C" + "件名\x0C" +
        "M\x0C" + "\x01";
    EXPECT_EQ(b, expected);
    EXPECT_EQ(b.size(), 28u + 2 + 3 + 4 + 1 + 0);
    RecordView v;
    ASSERT_TRUE(parseRecord(b, 0, v));
    EXPECT_EQ(v.length, b.size());
    EXPECT_EQ(v.fileNo, 42);
    EXPECT_EQ(v.state, 0x13);
    EXPECT_EQ(v.markColour, 0x9A);
    EXPECT_EQ(v.storedTime, 0x01020304u);
    EXPECT_EQ(v.dateTime, 0x05060708u);
    EXPECT_EQ(v.offset, 0x0A0B0C0Du);
    EXPECT_EQ(v.size, 0x11121314u);
    EXPECT_EQ(v.attachments, 3);
    EXPECT_EQ(v.account, 7);
    EXPECT_EQ(v.texts[2], "件名");
    EXPECT_EQ(v.texts[4], "");
}

TEST(IndexCodec, WriterCapsNeverSplitACharacter) {
    struct Case {
        int field;
        std::string text;
        size_t expected;
    } cases[] = {
        {0, std::string(126, 'a'), 126},        {0, std::string(127, 'a'), 126},
        {0, std::string(125, 'a') + "表", 125},  // the pair would end at byte 127
        {0, std::string(124, 'a') + "表", 126}, {2, std::string(509, 'x') + "ソ", 509},
        {2, std::string(510, 'x'), 510},        {3, std::string(61, 'm') + "能", 61},
        {3, std::string(100, 'm'), 62},         {4, std::string(200, 'f'), 126},
    };
    for (const Case& c : cases) {
        IndexRecord r = record(1);
        r.texts[c.field] = c.text;
        RecordView v;
        const std::string b = encodeRecord(r);
        ASSERT_TRUE(parseRecord(b, 0, v));
        EXPECT_EQ(v.texts[c.field].size(), c.expected) << c.field << " " << c.text.size();
        EXPECT_EQ(v.texts[c.field], c.text.substr(0, c.expected));
    }
}

TEST(IndexCodec, ControlBytesInTextsBecomeBlanks) {
    IndexRecord r = record(1);
    r.texts[2] = std::string(
        "a\x0C"
        "b\x01"
        "c\td\x00"
        "e",
        9);
    RecordView v;
    const std::string b = encodeRecord(r);
    ASSERT_TRUE(parseRecord(b, 0, v));
    EXPECT_EQ(v.texts[2], "a b c d e");
    EXPECT_TRUE(isRecordStart(b, 0, 0));
}

TEST(IndexCodec, ReaderTakesTextsUpToItsLimits) {
    IndexRecord r = record(1);
    std::string b = encodeRecord(r);
    // A reader meets a longer mailer than writers make: 140 bytes, taken up to 127.
    const size_t at = b.find("Mailer/1.0");
    b.replace(at, 10, std::string(140, 'M'));
    RecordView v;
    ASSERT_TRUE(parseRecord(b, 0, v));
    EXPECT_EQ(v.texts[3].size(), 127u);
    EXPECT_EQ(v.length, b.size());
}

TEST(IndexCodec, EveryCutOfARecordIsRefused) {
    const std::string b = encodeRecord(record(7));
    for (size_t n = 0; n < b.size(); ++n) {
        RecordView v;
        EXPECT_FALSE(parseRecord(b.substr(0, n), 0, v)) << n;
        EXPECT_FALSE(isRecordStart(b.substr(0, n), 0, 0)) << n;
    }
    RecordView v;
    EXPECT_TRUE(parseRecord(b, 0, v));
}

TEST(IndexCodec, FramingFaultsAreRefused) {
    const std::string good = encodeRecord(record(7));
    struct Case {
        const char* what;
        size_t at;
        char byte;
    } cases[] = {
        {"byte 22 not a separator", 22, 'x'},
        {"file number 10000", 1, 0x27},  // 0x2710 = 10000 with byte 0 = 0x10
        {"fifth separator in the fallback text", good.size() - 3, 0x0C},
        {"end byte in the subject", good.find("件名") + 1, 0x01},
    };
    for (const Case& c : cases) {
        std::string b = good;
        b[c.at] = c.byte;
        if (c.at == 1) b[0] = 0x10;
        RecordView v;
        EXPECT_FALSE(parseRecord(b, 0, v)) << c.what;
        EXPECT_FALSE(isRecordStart(b, 0, 0)) << c.what;
    }
}

TEST(IndexCodec, RecordStartCheck) {
    struct Case {
        const char* what;
        uint8_t state, mark;
        bool valid;
    } cases[] = {
        {"plain", 0, 0, true},
        {"sent with attachments", 21, 0, true},
        {"state 32", 32, 0, false},
        {"marked, colour 15", 3, 0x1F, true},
        {"bookmarked", 3, 0x80, true},
        {"bookmarked and marked, colour 3", 3, 0x93, true},
        {"bit 5 of the mark", 3, 0x20, false},
        {"bit 6 of the mark", 3, 0x40, false},
    };
    for (const Case& c : cases) {
        IndexRecord r = record(5, c.state);
        r.markColour = c.mark;
        r.offset = 1000;
        const std::string b = encodeRecord(r);
        EXPECT_EQ(isRecordStart(b, 0, 1000), c.valid) << c.what;
        // Its own offset is part of a record's identity.
        EXPECT_FALSE(isRecordStart(b, 0, 999)) << c.what;
    }
    IndexRecord r = record(5);
    r.texts[1] = "tab\there";
    std::string b = encodeRecord(r);
    b[b.find("tab ") + 3] = '\t';  // a writer that let a control byte through
    EXPECT_FALSE(isRecordStart(b, 0, 0));
    RecordView v;
    EXPECT_TRUE(parseRecord(b, 0, v));  // it is still read where the list is read in order
}

TEST(IndexCodec, RecordStartIsFoundAfterAnEndByte) {
    const std::string image = indexImage({record(0), record(1), record(2)});
    RecordView r0, r1;
    ASSERT_TRUE(parseRecord(image, 256, r0));
    ASSERT_TRUE(parseRecord(image, 256 + r0.length, r1));
    // From the middle of record 0 the next start is record 1.
    const uint64_t base = 256 + 5;
    const std::string_view tail = std::string_view(image).substr(base);
    EXPECT_EQ(findRecordStart(tail, base), r0.length - 5);
    EXPECT_EQ(findRecordStart(tail, base, r0.length - 4), r0.length - 5 + r1.length);
    EXPECT_EQ(findRecordStart(tail.substr(0, 20), base), std::string_view::npos);
}

// ----------------------------------------------------------------------------- summary line

TEST(IndexSummaryLine, ShrinkingLineLeavesNoStaleDigits) {
    test::TestEnv t;
    TabFixture f(t);
    Tab& tab = *f.tab;
    tab.nextFileNo = 9999;
    tab.allMailCount = 1000000000;
    tab.noReadMailCount = -1000000000;
    tab.waitMailCount = 2000000000;
    tab.editMailCount = 2000000000;
    tab.color = 0xffaa55;
    tab.textColor = 0x8c3f00;
    tab.kind = 2;
    tab.otherGomiIcon = 123456789;
    ASSERT_EQ(writeSummary(t.env, tab), Err::None);
    const std::string longLine = f.bytes();
    ASSERT_EQ(longLine.size(), 256u);
    EXPECT_EQ(longLine.substr(22, 3), "nf=");

    // Shrinks by far more than twelve characters.
    tab.nextFileNo = 1;
    tab.allMailCount = tab.noReadMailCount = tab.waitMailCount = tab.editMailCount = 0;
    tab.color = tab.textColor = 0;
    tab.kind = 0;
    tab.otherGomiIcon = 0;
    ASSERT_EQ(writeSummary(t.env, tab), Err::None);
    const std::string b = f.bytes();
    ASSERT_EQ(b.size(), 256u);
    const std::string line = "nf=1 am=0 nr=0 wm=0 em=0 cr=0 tc=0 pt=0 gi=0";
    EXPECT_EQ(b.substr(0, 22), newIndexHeader().substr(0, 22));
    EXPECT_EQ(b.substr(22, line.size()), line);
    EXPECT_EQ(b.substr(22 + line.size()), std::string(256 - 22 - line.size(), ' '));
    auto s = readSummary(t.env, f.index());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->nextFileNo, 1);
}

TEST(IndexSummaryLine, SummaryNeverReachesTheRecords) {
    test::TestEnv t;
    TabFixture f(t);
    f.setBytes(indexImage({record(0)}));
    const std::string before = f.bytes();
    f.tab->allMailCount = 2000000000;
    ASSERT_EQ(writeSummary(t.env, *f.tab), Err::None);
    EXPECT_EQ(f.bytes().substr(256), before.substr(256));
}

TEST(IndexSummaryLine, ReadsTheNumbersBack) {
    auto s = parseSummary("nf=17 am=12 nr=3 wm=2 em=1 cr=16755285 tc=9191168 pt=1 gi=0    ");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->nextFileNo, 17);
    EXPECT_EQ(s->allMailCount, 12);
    EXPECT_EQ(s->noReadMailCount, 3);
    EXPECT_EQ(s->waitMailCount, 2);
    EXPECT_EQ(s->editMailCount, 1);
    EXPECT_EQ(s->color, 0xffaa55u);
    EXPECT_EQ(s->textColor, 0x8c3f00u);
    EXPECT_EQ(s->kind, 1);
    EXPECT_FALSE(parseSummary(std::string(234, ' ')));
    EXPECT_FALSE(parseSummary("nf=1 am=2"));
}

// ----------------------------------------------------------------------------- item texts

class StuckClock final : public platform::Clock {
  public:
    int64_t now() override { return 0; }
    bool toLocal(int64_t, platform::LocalTime&) override { return false; }
};

// Local time UTC+9 before `change` and UTC+10 from it: a zone that moves its clocks.
class ShiftingClock final : public platform::Clock {
  public:
    explicit ShiftingClock(int64_t change) : change_(change) {}
    int64_t now() override { return 0; }
    bool toLocal(int64_t s, platform::LocalTime& out) override {
        ++calls;
        out = civilTime(s, s < change_ ? 9 * 3600 : 10 * 3600);
        return true;
    }
    int calls = 0;

  private:
    int64_t change_;
};

TEST(ItemTexts, TimeTexts) {
    test::FakeClock clock;
    TimeTexts times(clock);
    char out[20];
    struct Case {
        uint32_t t;
        const char* text;
    } cases[] = {
        {0, "未定"},
        {1110153900, "05/03/07 (月) 09:05"},
        {1134605100, "05/12/15 (木) 09:05"},
        {946652400, "00/01/01 (土) 00:00"},  // 1999-12-31 15:00 UTC
        {946652399, "99/12/31 (金) 23:59"},
        {4102412400u, "00/01/01 (金) 00:00"},  // 2100: two digits, not three
    };
    for (const Case& c : cases) {
        times.format(c.t, out);
        EXPECT_STREQ(out, c.text) << c.t;
    }
    StuckClock stuck;
    TimeTexts none(stuck);
    none.format(1110153900, out);
    EXPECT_STREQ(out, "不定");
}

TEST(ItemTexts, ADayWithAClockChangeAsksEveryTime) {
    const int64_t change = 1110153900 + 3 * 3600;  // 12:05 local on that day
    ShiftingClock clock(change);
    TimeTexts times(clock);
    char out[20];
    times.format(static_cast<uint32_t>(change - 60), out);
    EXPECT_STREQ(out, "05/03/07 (月) 12:04");
    times.format(static_cast<uint32_t>(change), out);
    EXPECT_STREQ(out, "05/03/07 (月) 13:05");
    // A day without a change is asked once (its two ends) for all its times.
    clock.calls = 0;
    for (int i = 0; i < 10; ++i)
        times.format(static_cast<uint32_t>(change + 2 * 86400 + i * 60), out);
    EXPECT_EQ(clock.calls, 2);
}

TEST(ItemTexts, SizeTextMatchesTheFormat) {
    const uint32_t sizes[] = {0,     1,      49,      50,        51,         99,    100,
                              149,   150,    151,     1050,      1150,       12345, 99949,
                              99950, 999950, 1000000, 123456789, 4294967295u};
    for (uint32_t s : sizes) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%6.1fk", s * 0.001);
        char out[16];
        formatSizeText(s, out);
        EXPECT_STREQ(out, expected) << s;
    }
}

class TwoAccounts final : public AccountNames {
  public:
    std::optional<std::string> name(int n) override {
        if (n == 0) return "会社";
        if (n == 1) return "自宅";
        return std::nullopt;
    }
};

TEST(ItemTexts, ItemFromRecord) {
    test::FakeClock clock;
    TimeTexts times(clock);
    TwoAccounts accounts;
    struct Case {
        uint8_t account;
        const char* fallback;
        const char* column;
    } cases[] = {
        {1, "x@y", "自宅"},
        {5, "x@y", "x@y"},
        {mail::kUnmatchedAccount, "x@y", "x@y"},
        {mail::kUnmatchedAccount, "", "宛先（To:）がありません"},
    };
    for (const Case& c : cases) {
        IndexRecord r = record(42, 4);
        r.account = c.account;
        r.texts[4] = c.fallback;
        r.attachments = 12;
        r.size = 2500;
        const std::string b = encodeRecord(r);
        RecordView v;
        ASSERT_TRUE(parseRecord(b, 0, v));
        MailItem item{};
        fillItem(item, v, times, &accounts);
        EXPECT_STREQ(item.account, c.column);
        EXPECT_STREQ(item.number, " 0042");
        EXPECT_EQ(itemNumber(item), 42);
        EXPECT_EQ(item.state, 4);
        EXPECT_STREQ(item.sizeText, "   2.5k");
        EXPECT_STREQ(item.attachText, "12");
        EXPECT_STREQ(item.subject, "件名42");
        EXPECT_STREQ(item.storedText, "05/03/09 (水) 03:05");
    }
}

// ----------------------------------------------------------------------------- reading

struct Reading : ::testing::Test {
    test::TestEnv t;
    TabFixture f{t};
    Tab& tab = *f.tab;
    FakeRebuilder rebuilder;
    IndexOptions options() {
        IndexOptions o;
        o.readByte = 0;
        return o;
    }
    std::vector<IndexRecord> records(int n) {
        std::vector<IndexRecord> out;
        for (int i = 0; i < n; ++i)
            out.push_back(record(i, static_cast<uint8_t>(i % 6)));
        return out;
    }
};

TEST_F(Reading, WholeIndexBecomesItemsInOrder) {
    f.setBytes(indexImage(records(5)));
    tab.nextFileNo = 3;
    t.ini->write("0", "NextFileNo", "3");
    tab.nextFileNo = 9;
    ASSERT_EQ(readIndex(t.env, tab, options()), Err::None);
    EXPECT_EQ(itemNumbers(tab), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(tab.loadState, kCompletelyRead);
    // The next number follows the last record, as far as it can go back.
    EXPECT_EQ(tab.nextFileNo, 5);
    EXPECT_EQ(t.ini->read("0", "NextFileNo"), "5");
    const MailItem* last = tab.items.prev;
    EXPECT_STREQ(last->subject, "件名4");
    EXPECT_STREQ(last->name, "差出人4");
    EXPECT_STREQ(last->address, "user4@example.jp");
    EXPECT_STREQ(last->mailer, "Mailer/1.0");
    EXPECT_STREQ(last->account, "me@example.jp");
    EXPECT_EQ(last->state, 4);
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_EQ(t.read("ErrorLog2.txt"), "<missing>");
}

TEST_F(Reading, BareHeaderIsAnEmptyCompleteTab) {
    IndexOptions o = options();
    o.rebuilder = &rebuilder;
    ASSERT_EQ(readIndex(t.env, tab, o), Err::None);
    EXPECT_TRUE(listEmpty(tab.items));
    EXPECT_EQ(tab.loadState, kCompletelyRead);
    EXPECT_EQ(rebuilder.calls, 0);
}

TEST_F(Reading, ShortFileIsRebuiltOnce) {
    f.setBytes(std::string(200, ' '));
    IndexOptions o = options();
    o.rebuilder = &rebuilder;
    rebuilder.writes = true;
    ASSERT_EQ(readIndex(t.env, tab, o), Err::None);
    EXPECT_EQ(rebuilder.calls, 1);
    EXPECT_EQ(tab.loadState, kCompletelyRead);

    // Without the rebuild the short file stays as it is and the tab empty.
    f.setBytes(std::string(200, ' '));
    tab.loadState = kNotRead;
    EXPECT_EQ(readIndex(t.env, tab, options()), Err::Damaged);
    EXPECT_EQ(f.bytes(), std::string(200, ' '));
    EXPECT_EQ(tab.loadState, kNotRead);
}

TEST_F(Reading, MissingIndexIsReportedAndRebuilt) {
    t.fs->remove(f.index());
    IndexOptions o = options();
    o.rebuilder = &rebuilder;  // writes nothing: the second open fails too
    EXPECT_EQ(readIndex(t.env, tab, o), Err::NotFound);
    EXPECT_EQ(rebuilder.calls, 1);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_EQ(t.reporter.lastText(), kIndexReadFailed);
    EXPECT_FALSE(t.fs->exists(f.index()));
}

TEST_F(Reading, DamagedRecordIsLoggedAndNothingIsWrittenOverIt) {
    std::string image = indexImage(records(4));
    RecordView r;
    size_t pos = 256;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(parseRecord(image, pos, r));
        pos += r.length;
    }
    image[pos + 22] = 'X';  // record 2
    f.setBytes(image);
    t.clock.setLocal(2005, 12, 15, 9, 5);
    tab.nextFileNo = 4;
    EXPECT_EQ(readIndex(t.env, tab, options()), Err::Damaged);
    EXPECT_TRUE(listEmpty(tab.items));
    EXPECT_EQ(tab.loadState, kNotRead);
    EXPECT_EQ(f.bytes(), image);
    EXPECT_EQ(t.read("ErrorLog2.txt"),
              "0512150905: 目次リード関数で、『 受信 』タブのメール番号[ 2 "
              "]番以前のメールでエラーがありました。\n");
}

TEST_F(Reading, RebuildIsTriedAtMostOncePerRead) {
    std::string image = indexImage(records(3));
    image[256 + 22] = 'X';
    f.setBytes(image);
    IndexOptions o = options();
    o.rebuilder = &rebuilder;
    rebuilder.writes = true;
    rebuilder.image = image;  // a rebuild that comes out damaged again
    tab.nextFileNo = 3;
    EXPECT_EQ(readIndex(t.env, tab, o), Err::Damaged);
    EXPECT_EQ(rebuilder.calls, 1);
    EXPECT_EQ(rebuilder.lastMode, RebuildMode::Damaged);
}

TEST_F(Reading, RecordCutOffByACrashIsDamage) {
    const std::string whole = indexImage(records(3));
    RecordView r0, r1;
    ASSERT_TRUE(parseRecord(whole, 256, r0));
    ASSERT_TRUE(parseRecord(whole, 256 + r0.length, r1));
    const size_t lastStart = 256 + r0.length + r1.length;
    for (size_t cut = lastStart + 1; cut < whole.size(); ++cut) {
        for (uint64_t readByte : {uint64_t{0}, uint64_t{60}}) {
            freeItems(tab);
            tab.loadState = kNotRead;
            tab.nextFileNo = 3;
            f.setBytes(whole.substr(0, cut));
            IndexOptions o = options();
            o.readByte = readByte;
            EXPECT_EQ(readIndex(t.env, tab, o), Err::Damaged) << cut << " " << readByte;
            EXPECT_TRUE(listEmpty(tab.items));
        }
    }
}

TEST_F(Reading, OffsetFieldDisagreeingWithThePlaceIsDamage) {
    std::vector<IndexRecord> rs = records(2);
    std::string image = newIndexHeader();
    for (IndexRecord r : rs) {
        r.offset = static_cast<uint32_t>(image.size()) + 1;
        image += encodeRecord(r);
    }
    f.setBytes(image);
    tab.nextFileNo = 2;
    EXPECT_EQ(readIndex(t.env, tab, options()), Err::Damaged);
}

TEST_F(Reading, NextNumberBehindTheLastRecordIsDamage) {
    f.setBytes(indexImage({record(0), record(3), record(7)}));
    tab.nextFileNo = 5;
    EXPECT_EQ(readIndex(t.env, tab, options()), Err::Damaged);
    EXPECT_NE(t.read("ErrorLog2.txt").find("[ 7 ]"), std::string::npos);
}

TEST_F(Reading, FileOfTheNextNumberAlreadyThereIsDamage) {
    f.setBytes(indexImage({record(40), record(41)}));
    tab.nextFileNo = 50;
    t.write("MailData\\受信\\0042.txt", "x");
    EXPECT_EQ(readIndex(t.env, tab, options()), Err::Damaged);
    // A rebuild cannot make that file go (it may not even be a message): one try, no loop.
    IndexOptions o = options();
    o.rebuilder = &rebuilder;
    rebuilder.writes = true;
    rebuilder.image = f.bytes();
    EXPECT_EQ(readIndex(t.env, tab, o), Err::Damaged);
    EXPECT_EQ(rebuilder.calls, 1);
    t.fs->remove(t.path("MailData\\受信\\0042.txt"));
    EXPECT_EQ(readIndex(t.env, tab, options()), Err::None);
    EXPECT_EQ(tab.nextFileNo, 42);
}

TEST_F(Reading, LastNumber9999NeedsNoFileCheck) {
    f.setBytes(indexImage({record(9999)}));
    tab.nextFileNo = 10000;
    EXPECT_EQ(readIndex(t.env, tab, options()), Err::None);
    EXPECT_EQ(tab.nextFileNo, 10000);
}

TEST_F(Reading, TailReadThenExtendedGivesTheWholeList) {
    const std::string image = indexImage(records(50));
    f.setBytes(image);
    tab.nextFileNo = 50;
    for (uint64_t readByte : {uint64_t{300}, uint64_t{1000}, uint64_t{1500}}) {
        freeItems(tab);
        tab.loadState = kNotRead;
        IndexOptions o = options();
        o.readByte = readByte;
        ASSERT_EQ(readIndex(t.env, tab, o), Err::None) << readByte;
        EXPECT_EQ(tab.loadState, kTailRead);
        const std::vector<int> tail = itemNumbers(tab);
        ASSERT_FALSE(tail.empty());
        EXPECT_EQ(tail.back(), 49);
        EXPECT_GT(tail.front(), 0);
        // Extending reads the part in front, ReadByte at a time, until the list is complete.
        int rounds = 0;
        while (tab.loadState != kCompletelyRead && rounds < 100) {
            ASSERT_EQ(readIndex(t.env, tab, o), Err::None);
            ++rounds;
        }
        std::vector<int> all(50);
        for (int i = 0; i < 50; ++i)
            all[static_cast<size_t>(i)] = i;
        EXPECT_EQ(itemNumbers(tab), all) << readByte;
        // The offsets are the records' places.
        for (MailItem* m : listRange(tab.items)) {
            RecordView v;
            ASSERT_TRUE(parseRecord(image, m->offset, v));
            EXPECT_EQ(v.fileNo, itemNumber(*m));
        }
    }
    EXPECT_EQ(t.read("ErrorLog2.txt"), "<missing>");
}

TEST_F(Reading, ReadByteSmallerThanOneRecordReadsEverything) {
    f.setBytes(indexImage(records(5)));
    tab.nextFileNo = 5;
    IndexOptions o = options();
    o.readByte = 20;
    o.rebuilder = &rebuilder;
    ASSERT_EQ(readIndex(t.env, tab, o), Err::None);
    EXPECT_EQ(itemNumbers(tab).size(), 5u);
    EXPECT_EQ(tab.loadState, kCompletelyRead);
    EXPECT_EQ(rebuilder.calls, 0);
}

TEST_F(Reading, WholeReadAfterATail) {
    f.setBytes(indexImage(records(30)));
    tab.nextFileNo = 30;
    IndexOptions o = options();
    o.readByte = 400;
    ASSERT_EQ(readIndex(t.env, tab, o), Err::None);
    ASSERT_EQ(tab.loadState, kTailRead);
    ASSERT_EQ(readWholeIndex(t.env, tab, o), Err::None);
    EXPECT_EQ(tab.loadState, kCompletelyRead);
    EXPECT_EQ(itemNumbers(tab).size(), 30u);
}

TEST_F(Reading, BookmarkedRecordsAreFoundInATail) {
    std::vector<IndexRecord> rs = records(20);
    for (auto& r : rs)
        r.markColour = 0x93;
    f.setBytes(indexImage(rs));
    tab.nextFileNo = 20;
    IndexOptions o = options();
    o.readByte = 500;
    ASSERT_EQ(readIndex(t.env, tab, o), Err::None);
    EXPECT_EQ(tab.loadState, kTailRead);
    EXPECT_EQ(tab.items.next->markColour, 0x93);
}

// ----------------------------------------------------------------------------- writing

struct Writing : Reading {
    void load(int n) {
        f.setBytes(indexImage(records(n)));
        tab.nextFileNo = n;
        ASSERT_EQ(readIndex(t.env, tab, options()), Err::None);
    }
};

TEST_F(Writing, BatchAppendIsOneWriteThatCanBeTakenBack) {
    load(2);
    const std::string before = f.bytes();
    std::vector<IndexRecord> batch = {record(2), record(3, 1), record(4, 3)};
    auto added = appendRecords(t.env, tab, batch, options());
    ASSERT_TRUE(added);
    ASSERT_EQ(added->items.size(), 3u);
    EXPECT_EQ(added->sizeBefore, before.size());
    // The file is the old bytes followed by the records as a single append would write them.
    std::vector<IndexRecord> all = records(2);
    all.insert(all.end(), batch.begin(), batch.end());
    EXPECT_EQ(f.bytes(), indexImage(all));
    EXPECT_EQ(added->sizeAfter, f.bytes().size());
    EXPECT_EQ(itemNumbers(tab), (std::vector<int>{0, 1, 2, 3, 4}));
    // Read back from disk, the items are the same.
    Tab fresh{};
    fresh.nextFileNo = 5;
    sjis::copyField(fresh.name, "受信");
    ASSERT_EQ(readIndex(t.env, fresh, options()), Err::None);
    EXPECT_EQ(itemNumbers(fresh), itemNumbers(tab));
    MailItem* a = tab.items.next;
    for (MailItem* b : listRange(fresh.items)) {
        EXPECT_EQ(a->offset, b->offset);
        EXPECT_EQ(a->state, b->state);
        EXPECT_STREQ(a->subject, b->subject);
        a = a->next;
    }
    freeItems(fresh);

    ASSERT_EQ(undoAppend(t.env, tab, *added), Err::None);
    EXPECT_EQ(f.bytes(), before);
    EXPECT_EQ(itemNumbers(tab), (std::vector<int>{0, 1}));
    EXPECT_EQ(undoAppend(t.env, tab, *added), Err::None);  // nothing left to take back

    // Something appended after the batch: cutting the file would lose it.
    auto again = appendRecords(t.env, tab, {record(2)}, options());
    ASSERT_TRUE(again);
    ASSERT_TRUE(appendRecord(t.env, tab, record(3), options()));
    const std::string grown = f.bytes();
    EXPECT_EQ(undoAppend(t.env, tab, *again), Err::Damaged);
    EXPECT_EQ(f.bytes(), grown);
    EXPECT_EQ(itemNumbers(tab), (std::vector<int>{0, 1, 2, 3}));
    // A bad record refuses the whole batch before anything is written.
    EXPECT_EQ(appendRecords(t.env, tab, {record(4), record(10000)}, options()).error(),
              Err::Invalid);
    EXPECT_EQ(f.bytes(), grown);
}

TEST_F(Writing, AppendGoesToTheEndWithItsOffset) {
    load(2);
    const std::string before = f.bytes();
    auto item = appendRecord(t.env, tab, record(2), options());
    ASSERT_TRUE(item);
    ASSERT_NE(*item, nullptr);
    EXPECT_EQ((*item)->offset, before.size());
    const std::string after = f.bytes();
    EXPECT_EQ(after.substr(0, before.size()), before);
    RecordView v;
    ASSERT_TRUE(parseRecord(after, before.size(), v));
    EXPECT_EQ(v.offset, before.size());
    EXPECT_EQ(before.size() + v.length, after.size());
    EXPECT_EQ(itemNumbers(tab), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(tab.storedFirst, *item);
    EXPECT_EQ(tab.storedLast, *item);

    // Read afresh, the file gives the same list.
    Tab fresh{};
    sjis::copyField(fresh.name, "受信");
    fresh.nextFileNo = 3;
    ASSERT_EQ(readIndex(t.env, fresh, options()), Err::None);
    EXPECT_EQ(itemNumbers(fresh), itemNumbers(tab));
    freeItems(fresh);
}

TEST_F(Writing, AppendToAnUnreadTabMakesNoItem) {
    auto item = appendRecord(t.env, tab, record(0), options());
    ASSERT_TRUE(item);
    EXPECT_EQ(*item, nullptr);
    EXPECT_TRUE(listEmpty(tab.items));
    EXPECT_GT(f.bytes().size(), 256u);
}

TEST_F(Writing, AppendNeverCreatesTheIndex) {
    t.fs->remove(f.index());
    auto item = appendRecord(t.env, tab, record(0), options());
    EXPECT_FALSE(item);
    EXPECT_FALSE(t.fs->exists(f.index()));
    EXPECT_EQ(t.reporter.lastText(), kIndexWriteFailed);
    t.reporter.clear();
    t.env.unattended = true;
    t.clock.setLocal(2005, 12, 1);
    EXPECT_FALSE(appendRecord(t.env, tab, record(0), options()));
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_EQ(t.read("_Log\\通信ログ0512.txt"), "mokuji.binファイルを開けませんでした。\r\n");
}

TEST_F(Writing, AppendRefusesNumbersWithoutAFile) {
    IndexRecord r = record(0);
    r.fileNo = 10000;
    EXPECT_EQ(appendRecord(t.env, tab, r, options()).error(), Err::Invalid);
    EXPECT_EQ(f.bytes().size(), 256u);
}

TEST_F(Writing, OneByteUpdatesChangeExactlyOneByte) {
    load(3);
    MailItem* middle = tab.items.next->next;
    struct Case {
        RecordByte which;
        uint8_t value;
    } cases[] = {
        {RecordByte::State, 4}, {RecordByte::MarkColour, 0x95}, {RecordByte::Attachments, 7}};
    for (const Case& c : cases) {
        const std::string before = f.bytes();
        ASSERT_EQ(updateRecordByte(t.env, tab, *middle, c.which, c.value), Err::None);
        const std::string after = f.bytes();
        ASSERT_EQ(after.size(), before.size());
        size_t diffs = 0, at = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            if (before[i] != after[i]) {
                ++diffs;
                at = i;
            }
        }
        EXPECT_EQ(diffs, 1u);
        EXPECT_EQ(at, middle->offset + static_cast<uint8_t>(c.which));
        EXPECT_EQ(static_cast<uint8_t>(after[at]), c.value);
    }
    EXPECT_EQ(middle->state, 4);
    EXPECT_EQ(middle->markColour, 0x95);
    EXPECT_STREQ(middle->attachText, "7");
}

TEST_F(Writing, UpdateThatWouldLandElsewhereWritesNothing) {
    load(3);
    MailItem* second = tab.items.next->next;
    const std::string before = f.bytes();
    second->offset += 1;  // an item that lost its place
    EXPECT_EQ(updateRecordByte(t.env, tab, *second, RecordByte::State, 3), Err::Damaged);
    EXPECT_EQ(updateRecordByte(t.env, tab, *tab.items.next, RecordByte::MarkColour, 0x20),
              Err::Invalid);
    EXPECT_EQ(f.bytes(), before);
}

// ----------------------------------------------------------------------------- compaction

struct Compaction : Writing {
    std::vector<int> deletedWhen;  // record count of mokuji.bin when each file went
    void makeFiles(int n) {
        for (int i = 0; i < n; ++i)
            t.write("MailData\\受信\\" + messageFileName(i), "\f st=0.0.0.0 message");
    }
    Err compact(const std::vector<int>& dropNumbers) {
        auto drop = [&](const MailItem& m) {
            for (int n : dropNumbers) {
                if (itemNumber(m) == n) return true;
            }
            return false;
        };
        auto after = [&](const MailItem& m) {
            deletedWhen.push_back(recordCount());
            deleteMessage(t.env, f.folder(), itemNumber(m));
        };
        return compactIndex(t.env, tab, drop, after);
    }
    int recordCount() {
        const std::string b = f.bytes();
        int n = 0;
        RecordView v;
        for (size_t pos = 256; pos < b.size() && parseRecord(b, pos, v); pos += v.length)
            ++n;
        return n;
    }
    // The index re-read from the file agrees with the items in memory.
    void expectFileMatchesItems() {
        Tab fresh{};
        sjis::copyField(fresh.name, "受信");
        fresh.nextFileNo = 10000;
        IndexOptions o = options();
        ASSERT_EQ(readIndex(t.env, fresh, o), Err::None);
        EXPECT_EQ(itemNumbers(fresh), itemNumbers(tab));
        const MailItem* a = fresh.items.next;
        for (const MailItem* b = tab.items.next; a && b; a = a->next, b = b->next) {
            EXPECT_EQ(a->offset, b->offset);
            EXPECT_STREQ(a->subject, b->subject);
        }
        freeItems(fresh);
    }
};

TEST_F(Compaction, KeepingNoneAllFirstOrLast) {
    struct Case {
        const char* what;
        std::vector<int> drop, left;
    } cases[] = {
        {"all go", {0, 1, 2, 3}, {}},    {"all stay", {}, {0, 1, 2, 3}},
        {"first stays", {1, 2, 3}, {0}}, {"last stays", {0, 1, 2}, {3}},
        {"middle goes", {1, 2}, {0, 3}},
    };
    for (const Case& c : cases) {
        freeItems(tab);
        tab.loadState = kNotRead;
        tab.allMailCount = 4;
        tab.noReadMailCount = 3;  // states 0, 1, 2 are unread, 3 read
        deletedWhen.clear();
        load(4);
        makeFiles(4);
        ASSERT_EQ(compact(c.drop), Err::None) << c.what;
        EXPECT_EQ(itemNumbers(tab), c.left) << c.what;
        expectFileMatchesItems();
        for (int n = 0; n < 4; ++n) {
            const bool dropped = std::find(c.drop.begin(), c.drop.end(), n) != c.drop.end();
            EXPECT_EQ(t.fs->exists(t.path("MailData\\受信\\" + messageFileName(n))), !dropped)
                << c.what << " " << n;
        }
        // Every file went only once the new index was in place.
        for (int when : deletedWhen)
            EXPECT_EQ(when, static_cast<int>(c.left.size())) << c.what;
        EXPECT_EQ(tab.allMailCount, static_cast<int>(c.left.size())) << c.what;
        auto s = readSummary(t.env, f.index());
        if (!c.drop.empty()) {
            EXPECT_EQ(t.ini->read("0", "AllMailCount"), std::to_string(c.left.size()));
            ASSERT_TRUE(s) << c.what;
            EXPECT_EQ(s->allMailCount, static_cast<int64_t>(c.left.size()));
        }
    }
}

TEST_F(Compaction, PartiallyReadTabKeepsTheUnreadFront) {
    const std::string image = indexImage(records(20));
    f.setBytes(image);
    tab.nextFileNo = 20;
    IndexOptions o = options();
    o.readByte = 400;
    ASSERT_EQ(readIndex(t.env, tab, o), Err::None);
    ASSERT_EQ(tab.loadState, kTailRead);
    const uint32_t first = tab.items.next->offset;
    const int firstNumber = itemNumber(*tab.items.next);
    ASSERT_EQ(compact({firstNumber, 19}), Err::None);
    const std::string after = f.bytes();
    EXPECT_EQ(after.substr(256, first - 256), image.substr(256, first - 256));
    ASSERT_EQ(readWholeIndex(t.env, tab, o), Err::None);
    std::vector<int> expected;
    for (int i = 0; i < 19; ++i) {
        if (i != firstNumber) expected.push_back(i);
    }
    EXPECT_EQ(itemNumbers(tab), expected);
    expectFileMatchesItems();
}

TEST_F(Compaction, ScratchFileFailureChangesNothing) {
    load(3);
    makeFiles(3);
    tab.allMailCount = 3;
    const std::string before = f.bytes();
    // Tmp.bin cannot be made: a folder stands in its place.
    ASSERT_EQ(t.fs->makeDir(t.path("Tmp.bin")), Err::None);
    EXPECT_NE(compact({0, 2}), Err::None);
    EXPECT_EQ(t.reporter.lastText(), kCompactFailed);
    EXPECT_EQ(f.bytes(), before);
    EXPECT_EQ(itemNumbers(tab), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(tab.allMailCount, 3);
    EXPECT_TRUE(deletedWhen.empty());
    for (int n = 0; n < 3; ++n)
        EXPECT_TRUE(t.fs->exists(t.path("MailData\\受信\\" + messageFileName(n))));
}

TEST_F(Compaction, ItemsNotCoveringTheFileAreRefused) {
    load(3);
    const std::string before = f.bytes();
    tab.items.next->next->offset += 2;
    EXPECT_EQ(compact({0}), Err::Damaged);
    EXPECT_EQ(f.bytes(), before);
}

TEST_F(Compaction, FailureAtAnyStepLeavesTheOldOrTheNewIndex) {
    load(4);
    makeFiles(4);
    const std::string oldIndex = f.bytes();
    testing::FailingFileSystem failing(*t.fs);
    testing::EnvOver over(t, failing);
    std::string newIndex;
    for (int n = 1; n < 50; ++n) {
        // Start each round from the old state.
        f.setBytes(oldIndex);
        makeFiles(4);
        freeItems(tab);
        tab.loadState = kNotRead;
        tab.nextFileNo = 4;
        ASSERT_EQ(readIndex(t.env, tab, options()), Err::None);
        failing.failAt(n);
        auto drop = [](const MailItem& m) { return itemNumber(m) % 2 == 0; };
        auto after = [&](const MailItem& m) { deleteMessage(over.env, f.folder(), itemNumber(m)); };
        const Err e = compactIndex(over.env, tab, drop, after);
        const std::string now = f.bytes();
        const bool reached = failing.failed();
        if (e != Err::None) {
            EXPECT_EQ(now, oldIndex) << n;
            EXPECT_EQ(itemNumbers(tab), (std::vector<int>{0, 1, 2, 3})) << n;
            for (int k = 0; k < 4; ++k)
                EXPECT_TRUE(t.fs->exists(t.path("MailData\\受信\\" + messageFileName(k)))) << n;
        } else {
            if (newIndex.empty() && !reached) newIndex = now;
            EXPECT_NE(now, oldIndex) << n;
            EXPECT_EQ(itemNumbers(tab), (std::vector<int>{1, 3})) << n;
        }
        EXPECT_FALSE(t.fs->exists(t.path("Tmp.bin"))) << n;
        if (!reached) break;  // a run without reaching the fault: every step was tried
    }
    EXPECT_FALSE(newIndex.empty());
}

// ----------------------------------------------------------------------------- storing

TEST_F(Writing, StoreMessageNumbersFilesAndCounts) {
    load(0);
    tab.nextFileNo = 7;
    const std::string text = formatStatusLine(StatusLine{}) + "Subject: x\r\n\r\nbody\r\n";
    auto item = storeMessage(t.env, tab, text, record(0, 1), options());
    ASSERT_TRUE(item);
    ASSERT_NE(*item, nullptr);
    EXPECT_EQ(itemNumber(**item), 7);
    EXPECT_EQ(t.read("MailData\\受信\\0007.txt"), text);
    EXPECT_EQ(tab.nextFileNo, 8);
    EXPECT_EQ(t.ini->read("0", "NextFileNo"), "8");
    EXPECT_EQ(tab.allMailCount, 1);
    EXPECT_EQ(tab.noReadMailCount, 1);
    EXPECT_EQ(t.ini->read("0", "NoReadMailCount"), "1");

    // A file already under the next number: nothing is overwritten, the user is told.
    t.write("MailData\\受信\\0008.txt", "older");
    EXPECT_EQ(storeMessage(t.env, tab, text, record(0), options()).error(), Err::Exists);
    EXPECT_EQ(t.read("MailData\\受信\\0008.txt"), "older");
    // Said as it is: the number is taken, not the index damaged.
    EXPECT_NE(t.reporter.lastText().find("「受信」"), std::string::npos);
    EXPECT_NE(t.reporter.lastText().find("0008.txt"), std::string::npos);
    EXPECT_EQ(t.reporter.lastText().find("壊れ"), std::string::npos);
    EXPECT_EQ(tab.nextFileNo, 8);

    tab.nextFileNo = 10000;
    EXPECT_EQ(storeMessage(t.env, tab, text, record(0), options()).error(), Err::Invalid);
    EXPECT_FALSE(t.fs->exists(t.path("MailData\\受信\\0000.txt")));
}

}  // namespace
}  // namespace kolvy::store
