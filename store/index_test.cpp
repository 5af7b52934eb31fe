#include "store/index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

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

std::vector<int> upTo(int n) {
    std::vector<int> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out[static_cast<size_t>(i)] = i;
    return out;
}

// ----------------------------------------------------------------------------- codec

TEST(IndexCodec, RecordLayoutByteByByte) {
    EXPECT_EQ(newIndexHeader(), "Kolvy mokuji list" + std::string(239, ' '));
    IndexRecord r = record(42, 0x13);
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
    EXPECT_EQ(b, std::string("\x2A\x00\x13\x9A\x04\x03\x02\x01\x08\x07\x06\x05", 12) +
                     "\x0D\x0C\x0B\x0A\x14\x13\x12\x11\x03\x07\x0C" + "名\x0C" + "a@b\x0C" +
                     "件名\x0C" + "M\x0C" + "\x01");
    RecordView v;
    ASSERT_TRUE(parseRecord(b, 0, v));
    EXPECT_EQ(v.length, b.size());
    EXPECT_EQ(encodeRecord(toRecord(v)), b);  // every field read back where it was written
}

TEST(IndexCodec, WriterCapsNeverSplitACharacterAndBlankControlBytes) {
    auto a = [](size_t n, char c = 'a') { return std::string(n, c); };
    const struct Case {
        int field;
        std::string text, stored;
    } cases[] = {{0, a(126), a(126)},
                 {0, a(127), a(126)},
                 {0, a(125) + "表", a(125)},  // the pair would end at byte 127
                 {0, a(124) + "表", a(124) + "表"},
                 {2, a(509, 'x') + "ソ", a(509, 'x')},
                 {2, a(510, 'x'), a(510, 'x')},
                 {3, a(61, 'm') + "能", a(61, 'm')},
                 {3, a(100, 'm'), a(62, 'm')},
                 {4, a(200, 'f'), a(126, 'f')},
                 {2,
                  std::string("a\x0C"
                              "b\x01"
                              "c\td\x00"
                              "e",
                              9),
                  "a b c d e"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        IndexRecord r = record(1);
        r.texts[c.field] = c.text;
        RecordView v;
        const std::string b = encodeRecord(r);
        ASSERT_TRUE(parseRecord(b, 0, v));
        EXPECT_EQ(v.texts[c.field], c.stored);
        EXPECT_TRUE(isRecordStart(b, 0, 0));
    }
}

TEST(IndexCodec, ReaderTakesTextsUpToItsLimits) {
    std::string b = encodeRecord(record(1));
    // A reader meets a longer mailer than writers make: 140 bytes, taken up to 127.
    b.replace(b.find("Mailer/1.0"), 10, std::string(140, 'M'));
    RecordView v;
    ASSERT_TRUE(parseRecord(b, 0, v));
    EXPECT_EQ(v.texts[3].size(), 127u);
    EXPECT_EQ(v.length, b.size());
}

TEST(IndexCodec, EveryCutOfARecordIsRefused) {
    const std::string b = encodeRecord(record(7));
    RecordView v;
    for (size_t n = 0; n < b.size(); ++n) {
        EXPECT_FALSE(parseRecord(b.substr(0, n), 0, v)) << n;
        EXPECT_FALSE(isRecordStart(b.substr(0, n), 0, 0)) << n;
    }
    EXPECT_TRUE(parseRecord(b, 0, v));
}

TEST(IndexCodec, FramingFaultsAreRefused) {
    const std::string good = encodeRecord(record(7));
    const struct Case {
        const char* what;
        size_t at;
        char byte;
    } cases[] = {{"byte 22 not a separator", 22, 'x'},
                 {"file number 10000", 1, 0x27},  // 0x2710 = 10000 with byte 0 = 0x10
                 {"fifth separator in the fallback text", good.size() - 3, 0x0C},
                 {"end byte in the subject", good.find("件名") + 1, 0x01}};
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
    const struct Case {
        const char* what;
        uint8_t state, mark;
        bool valid;
    } cases[] = {{"plain", 0, 0, true},
                 {"sent with attachments", 21, 0, true},
                 {"state 32", 32, 0, false},
                 {"marked, colour 15", 3, 0x1F, true},
                 {"bookmarked", 3, 0x80, true},
                 {"bookmarked and marked, colour 3", 3, 0x93, true},
                 {"bit 5 of the mark", 3, 0x20, false},
                 {"bit 6 of the mark", 3, 0x40, false}};
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

auto fields(const IndexSummary& s) {
    return std::tuple(s.nextFileNo, s.allMailCount, s.noReadMailCount, s.waitMailCount,
                      s.editMailCount, s.color, s.textColor, s.kind);
}

TEST(IndexSummaryLine, ShrinkingLineLeavesNoStaleDigitsNorReachesTheRecords) {
    test::TestEnv t;
    TabFixture f(t);
    f.setBytes(indexImage({record(0)}));
    const std::string records = f.bytes().substr(256);
    Tab& tab = *f.tab;
    tab.nextFileNo = 9999;
    tab.allMailCount = 1000000000;
    tab.noReadMailCount = -1000000000;
    tab.waitMailCount = tab.editMailCount = 2000000000;
    tab.color = 0xffaa55;
    tab.textColor = 0x8c3f00;
    tab.kind = 2;
    tab.otherGomiIcon = 123456789;
    ASSERT_EQ(writeSummary(t.env, tab), Err::None);
    EXPECT_EQ(f.bytes().substr(256), records);
    auto s = readSummary(t.env, f.index());
    ASSERT_TRUE(s);
    EXPECT_EQ(fields(*s), std::tuple(9999, 1000000000, -1000000000, 2000000000, 2000000000,
                                     0xffaa55u, 0x8c3f00u, 2));
    // Shrinks by far more than twelve characters.
    tab.nextFileNo = 1;
    tab.allMailCount = tab.noReadMailCount = tab.waitMailCount = tab.editMailCount = 0;
    tab.color = tab.textColor = 0;
    tab.kind = tab.otherGomiIcon = 0;
    ASSERT_EQ(writeSummary(t.env, tab), Err::None);
    const std::string line = "nf=1 am=0 nr=0 wm=0 em=0 cr=0 tc=0 pt=0 gi=0";
    EXPECT_EQ(f.bytes(), newIndexHeader().substr(0, 22) + line +
                             std::string(256 - 22 - line.size(), ' ') + records);
}

TEST(IndexSummaryLine, ReadsTheNumbersBack) {
    auto s = parseSummary("nf=17 am=12 nr=3 wm=2 em=1 cr=16755285 tc=9191168 pt=1 gi=0    ");
    ASSERT_TRUE(s);
    EXPECT_EQ(fields(*s), std::tuple(17, 12, 3, 2, 1, 0xffaa55u, 0x8c3f00u, 1));
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
    const struct Case {
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

// The fast path against the format it stands for, ties in tenths included.
TEST(ItemTexts, SizeTextMatchesTheFormat) {
    for (uint32_t s : {0u, 1u, 49u, 50u, 51u, 99u, 100u, 149u, 150u, 151u, 1050u, 1150u, 12345u,
                       99949u, 99950u, 999950u, 1000000u, 123456789u, 4294967295u}) {
        char expected[32], out[16];
        std::snprintf(expected, sizeof expected, "%6.1fk", s * 0.001);
        formatSizeText(s, out);
        EXPECT_STREQ(out, expected) << s;
    }
}

class TwoAccounts final : public AccountNames {
  public:
    std::optional<std::string> name(int n) override {
        if (n > 1) return std::nullopt;
        return n == 0 ? "会社" : "自宅";
    }
};

TEST(ItemTexts, ItemFromRecord) {
    test::FakeClock clock;
    TimeTexts times(clock);
    TwoAccounts accounts;
    const struct Case {
        uint8_t account;
        const char* fallback;
        const char* column;
    } cases[] = {{1, "x@y", "自宅"},
                 {5, "x@y", "x@y"},
                 {mail::kUnmatchedAccount, "x@y", "x@y"},
                 {mail::kUnmatchedAccount, "", "宛先（To:）がありません"}};
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
        EXPECT_EQ(std::string(item.number) + "|" + item.sizeText + "|" + item.attachText + "|" +
                      item.subject + "|" + item.storedText,
                  " 0042|   2.5k|12|件名42|05/03/09 (水) 03:05");
        EXPECT_EQ(itemNumber(item), 42);
        EXPECT_EQ(item.state, 4);
    }
}

// ----------------------------------------------------------------------------- reading

struct Reading : ::testing::Test {
    test::TestEnv t;
    TabFixture f{t};
    Tab& tab = *f.tab;
    FakeRebuilder rebuilder;
    IndexOptions options(uint64_t readByte = 0, bool rebuild = false) {
        IndexOptions o;
        o.readByte = readByte;
        if (rebuild) o.rebuilder = &rebuilder;
        return o;
    }
    // Reads the tab afresh, as after a start.
    Err reread(uint64_t readByte = 0, bool rebuild = false) {
        freeItems(tab);
        tab.loadState = kNotRead;
        return readIndex(t.env, tab, options(readByte, rebuild));
    }
    std::vector<IndexRecord> records(int n) {
        std::vector<IndexRecord> out;
        for (int i = 0; i < n; ++i)
            out.push_back(record(i, static_cast<uint8_t>(i % 6)));
        return out;
    }
    void load(int n) {
        f.setBytes(indexImage(records(n)));
        tab.nextFileNo = n;
        ASSERT_EQ(reread(), Err::None);
    }
    // The index re-read from the file agrees with the items in memory.
    void expectFileMatchesItems() {
        Tab fresh{};
        sjis::copyField(fresh.name, "受信");
        fresh.nextFileNo = 10000;
        ASSERT_EQ(readIndex(t.env, fresh, options()), Err::None);
        EXPECT_EQ(itemNumbers(fresh), itemNumbers(tab));
        const MailItem* a = fresh.items.next;
        for (const MailItem* b = tab.items.next; a && b; a = a->next, b = b->next) {
            EXPECT_EQ(a->offset, b->offset);
            EXPECT_EQ(a->state, b->state);
            EXPECT_STREQ(a->subject, b->subject);
        }
        freeItems(fresh);
    }
};

TEST_F(Reading, WholeIndexBecomesItemsInOrder) {
    f.setBytes(indexImage(records(5)));
    t.ini->write("0", "NextFileNo", "3");
    tab.nextFileNo = 9;
    ASSERT_EQ(readIndex(t.env, tab, options()), Err::None);
    EXPECT_EQ(itemNumbers(tab), upTo(5));
    EXPECT_EQ(tab.loadState, kCompletelyRead);
    // The next number follows the last record, as far as it can go back.
    EXPECT_EQ(tab.nextFileNo, 5);
    EXPECT_EQ(t.ini->read("0", "NextFileNo"), "5");
    const MailItem* last = tab.items.prev;
    EXPECT_EQ(std::string(last->subject) + "|" + last->name + "|" + last->address + "|" +
                  last->mailer + "|" + last->account,
              "件名4|差出人4|user4@example.jp|Mailer/1.0|me@example.jp");
    EXPECT_EQ(last->state, 4);
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_EQ(t.read("ErrorLog2.txt"), "<missing>");
}

TEST_F(Reading, BareHeaderOrAShortFileRebuiltIsAnEmptyCompleteTab) {
    ASSERT_EQ(reread(0, true), Err::None);
    EXPECT_TRUE(listEmpty(tab.items));
    EXPECT_EQ(tab.loadState, kCompletelyRead);
    EXPECT_EQ(rebuilder.calls, 0);
    f.setBytes(std::string(200, ' '));
    rebuilder.writes = true;
    ASSERT_EQ(reread(0, true), Err::None);
    EXPECT_EQ(rebuilder.calls, 1);
    EXPECT_EQ(tab.loadState, kCompletelyRead);
}

TEST_F(Reading, MissingIndexIsReportedAndRebuilt) {
    t.fs->remove(f.index());
    EXPECT_EQ(reread(0, true), Err::NotFound);  // the rebuild writes nothing: still missing
    EXPECT_EQ(rebuilder.calls, 1);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_EQ(t.reporter.lastText(), kIndexReadFailed);
    EXPECT_FALSE(t.fs->exists(f.index()));
}

// Damage is logged with the number it was found at, nothing is written over it, the tab stays
// unread.
TEST_F(Reading, DamageIsLoggedAndNothingIsWrittenOverIt) {
    std::string brokenThird = indexImage(records(4));
    RecordView r;
    size_t pos = 256;
    for (int i = 0; i < 2; ++i, pos += r.length)
        ASSERT_TRUE(parseRecord(brokenThird, pos, r));
    brokenThird[pos + 22] = 'X';
    std::string offsetsOff = newIndexHeader();
    for (IndexRecord rec : records(2)) {
        rec.offset = static_cast<uint32_t>(offsetsOff.size()) + 1;
        offsetsOff += encodeRecord(rec);
    }
    const struct Case {
        const char* what;
        std::string image;
        int next, logged;  // -1: nothing logged
        const char* otherFile;
    } cases[] = {{"record 2 broken", brokenThird, 4, 2, nullptr},
                 {"short file", std::string(200, ' '), 0, -1, nullptr},
                 {"offset field off its place", offsetsOff, 2, 0, nullptr},
                 {"next number behind the last", indexImage({record(0), record(3), record(7)}), 5,
                  7, nullptr},
                 {"file of the next number there", indexImage({record(40), record(41)}), 50, 41,
                  "MailData\\受信\\0042.txt"}};
    t.clock.setLocal(2005, 12, 15, 9, 5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        t.fs->remove(t.path("ErrorLog2.txt"));
        if (c.otherFile) t.write(c.otherFile, "x");
        f.setBytes(c.image);
        tab.nextFileNo = c.next;
        EXPECT_EQ(reread(), Err::Damaged);
        EXPECT_TRUE(listEmpty(tab.items));
        EXPECT_EQ(tab.loadState, kNotRead);
        EXPECT_EQ(f.bytes(), c.image);
        EXPECT_EQ(t.read("ErrorLog2.txt"),
                  c.logged < 0
                      ? "<missing>"
                      : "0512150905: 目次リード関数で、『 受信 』タブのメール番号[ " +
                            std::to_string(c.logged) + " ]番以前のメールでエラーがありました。\n");
    }
    // A rebuild cannot make the other file go (it may not even be a message): one try, no loop.
    rebuilder.writes = true;
    rebuilder.image = f.bytes();
    EXPECT_EQ(reread(0, true), Err::Damaged);
    EXPECT_EQ(rebuilder.calls, 1);
    t.fs->remove(t.path("MailData\\受信\\0042.txt"));
    EXPECT_EQ(reread(), Err::None);
    EXPECT_EQ(tab.nextFileNo, 42);
}

TEST_F(Reading, RebuildIsTriedAtMostOncePerRead) {
    std::string image = indexImage(records(3));
    image[256 + 22] = 'X';
    f.setBytes(image);
    rebuilder.writes = true;
    rebuilder.image = image;  // a rebuild that comes out damaged again
    tab.nextFileNo = 3;
    EXPECT_EQ(reread(0, true), Err::Damaged);
    EXPECT_EQ(rebuilder.calls, 1);
    EXPECT_EQ(rebuilder.lastMode, RebuildMode::Damaged);
}

TEST_F(Reading, RecordCutOffByACrashIsDamage) {
    const std::string whole = indexImage(records(3));
    RecordView r0, r1;
    ASSERT_TRUE(parseRecord(whole, 256, r0));
    ASSERT_TRUE(parseRecord(whole, 256 + r0.length, r1));
    for (size_t cut = 256 + r0.length + r1.length + 1; cut < whole.size(); ++cut) {
        for (uint64_t readByte : {uint64_t{0}, uint64_t{60}}) {
            tab.nextFileNo = 3;
            f.setBytes(whole.substr(0, cut));
            EXPECT_EQ(reread(readByte), Err::Damaged) << cut << " " << readByte;
            EXPECT_TRUE(listEmpty(tab.items));
        }
    }
}

TEST_F(Reading, LastNumber9999NeedsNoFileCheck) {
    f.setBytes(indexImage({record(9999)}));
    tab.nextFileNo = 10000;
    EXPECT_EQ(reread(), Err::None);
    EXPECT_EQ(tab.nextFileNo, 10000);
}

TEST_F(Reading, TailReadThenExtendedGivesTheWholeList) {
    const std::string image = indexImage(records(50));
    f.setBytes(image);
    tab.nextFileNo = 50;
    for (uint64_t readByte : {uint64_t{300}, uint64_t{1000}, uint64_t{1500}}) {
        SCOPED_TRACE(readByte);
        ASSERT_EQ(reread(readByte), Err::None);
        EXPECT_EQ(tab.loadState, kTailRead);
        const std::vector<int> tail = itemNumbers(tab);
        ASSERT_FALSE(tail.empty());
        EXPECT_EQ(tail.back(), 49);
        EXPECT_GT(tail.front(), 0);
        // Extending reads the part in front, ReadByte at a time, until the list is complete.
        for (int rounds = 0; tab.loadState != kCompletelyRead && rounds < 100; ++rounds)
            ASSERT_EQ(readIndex(t.env, tab, options(readByte)), Err::None);
        EXPECT_EQ(itemNumbers(tab), upTo(50));
        for (MailItem* m : listRange(tab.items)) {  // the offsets are the records' places
            RecordView v;
            ASSERT_TRUE(parseRecord(image, m->offset, v));
            EXPECT_EQ(v.fileNo, itemNumber(*m));
        }
    }
    EXPECT_EQ(t.read("ErrorLog2.txt"), "<missing>");
    // A whole read after a tail; a ReadByte smaller than one record reads everything at once.
    ASSERT_EQ(reread(400), Err::None);
    ASSERT_EQ(readWholeIndex(t.env, tab, options(400)), Err::None);
    EXPECT_EQ(tab.loadState, kCompletelyRead);
    EXPECT_EQ(itemNumbers(tab), upTo(50));
    ASSERT_EQ(reread(20, true), Err::None);
    EXPECT_EQ(tab.loadState, kCompletelyRead);
    EXPECT_EQ(itemNumbers(tab), upTo(50));
    EXPECT_EQ(rebuilder.calls, 0);
}

TEST_F(Reading, BookmarkedRecordsAreFoundInATail) {
    std::vector<IndexRecord> rs = records(20);
    for (auto& r : rs)
        r.markColour = 0x93;
    f.setBytes(indexImage(rs));
    tab.nextFileNo = 20;
    ASSERT_EQ(reread(500), Err::None);
    EXPECT_EQ(tab.loadState, kTailRead);
    EXPECT_EQ(tab.items.next->markColour, 0x93);
}

// ----------------------------------------------------------------------------- writing

using Writing = Reading;

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
    EXPECT_EQ(itemNumbers(tab), upTo(5));
    expectFileMatchesItems();

    ASSERT_EQ(undoAppend(t.env, tab, *added), Err::None);
    EXPECT_EQ(f.bytes(), before);
    EXPECT_EQ(itemNumbers(tab), upTo(2));
    EXPECT_EQ(undoAppend(t.env, tab, *added), Err::None);  // nothing left to take back

    // Something appended after the batch: cutting the file would lose it.
    auto again = appendRecords(t.env, tab, {record(2)}, options());
    ASSERT_TRUE(again);
    ASSERT_TRUE(appendRecord(t.env, tab, record(3), options()));
    const std::string grown = f.bytes();
    EXPECT_EQ(undoAppend(t.env, tab, *again), Err::Damaged);
    EXPECT_EQ(f.bytes(), grown);
    EXPECT_EQ(itemNumbers(tab), upTo(4));
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
    IndexRecord r = record(2);
    r.offset = static_cast<uint32_t>(before.size());
    EXPECT_EQ(f.bytes(), before + encodeRecord(r));
    EXPECT_EQ(itemNumbers(tab), upTo(3));
    EXPECT_EQ(tab.storedFirst, *item);
    EXPECT_EQ(tab.storedLast, *item);
    expectFileMatchesItems();
}

TEST_F(Writing, AppendToAnUnreadTabMakesNoItemAndNumbersWithoutAFileAreRefused) {
    auto item = appendRecord(t.env, tab, record(0), options());
    ASSERT_TRUE(item);
    EXPECT_EQ(*item, nullptr);
    EXPECT_TRUE(listEmpty(tab.items));
    const std::string one = f.bytes();
    EXPECT_GT(one.size(), 256u);
    EXPECT_EQ(appendRecord(t.env, tab, record(10000), options()).error(), Err::Invalid);
    EXPECT_EQ(f.bytes(), one);
}

TEST_F(Writing, AppendNeverCreatesTheIndex) {
    t.fs->remove(f.index());
    EXPECT_FALSE(appendRecord(t.env, tab, record(0), options()));
    EXPECT_FALSE(t.fs->exists(f.index()));
    EXPECT_EQ(t.reporter.lastText(), kIndexWriteFailed);
    t.reporter.clear();
    t.env.unattended = true;
    t.clock.setLocal(2005, 12, 1);
    EXPECT_FALSE(appendRecord(t.env, tab, record(0), options()));
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_EQ(t.read("_Log\\通信ログ0512.txt"), "mokuji.binファイルを開けませんでした。\r\n");
}

TEST_F(Writing, OneByteUpdatesChangeExactlyOneByte) {
    load(3);
    MailItem* middle = tab.items.next->next;
    const struct Case {
        RecordByte which;
        uint8_t value;
    } cases[] = {
        {RecordByte::State, 4}, {RecordByte::MarkColour, 0x95}, {RecordByte::Attachments, 7}};
    for (const Case& c : cases) {
        std::string expected = f.bytes();
        expected[middle->offset + static_cast<uint8_t>(c.which)] = static_cast<char>(c.value);
        ASSERT_EQ(updateRecordByte(t.env, tab, *middle, c.which, c.value), Err::None);
        EXPECT_EQ(f.bytes(), expected);
    }
    EXPECT_EQ(middle->state, 4);
    EXPECT_EQ(middle->markColour, 0x95);
    EXPECT_STREQ(middle->attachText, "7");
    // An item that lost its place, or a mark no record may hold: nothing is written.
    const std::string before = f.bytes();
    middle->offset += 1;
    EXPECT_EQ(updateRecordByte(t.env, tab, *middle, RecordByte::State, 3), Err::Damaged);
    EXPECT_EQ(updateRecordByte(t.env, tab, *tab.items.next, RecordByte::MarkColour, 0x20),
              Err::Invalid);
    EXPECT_EQ(f.bytes(), before);
}

// ----------------------------------------------------------------------------- compaction

struct Compaction : Reading {
    std::vector<int> deletedWhen;  // record count of mokuji.bin when each file went
    void makeFiles(int n) {
        for (int i = 0; i < n; ++i)
            t.write(file(i), "\f st=0.0.0.0 message");
    }
    static std::string file(int n) { return "MailData\\受信\\" + messageFileName(n); }
    Err compact(const std::vector<int>& dropNumbers, Env* env = nullptr) {
        Env& e = env ? *env : t.env;
        auto drop = [&](const MailItem& m) {
            return std::count(dropNumbers.begin(), dropNumbers.end(), itemNumber(m)) > 0;
        };
        auto after = [&](const MailItem& m) {
            deletedWhen.push_back(recordCount());
            deleteMessage(e, f.folder(), itemNumber(m));
        };
        return compactIndex(e, tab, drop, after);
    }
    int recordCount() {
        const std::string b = f.bytes();
        int n = 0;
        RecordView v;
        for (size_t pos = 256; pos < b.size() && parseRecord(b, pos, v); pos += v.length)
            ++n;
        return n;
    }
};

TEST_F(Compaction, KeepingNoneAllFirstOrLast) {
    const struct Case {
        const char* what;
        std::vector<int> drop, left;
    } cases[] = {{"all go", {0, 1, 2, 3}, {}},
                 {"all stay", {}, {0, 1, 2, 3}},
                 {"first stays", {1, 2, 3}, {0}},
                 {"last stays", {0, 1, 2}, {3}},
                 {"middle goes", {1, 2}, {0, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tab.allMailCount = 4;
        tab.noReadMailCount = 3;  // states 0, 1, 2 are unread, 3 read
        deletedWhen.clear();
        load(4);
        makeFiles(4);
        ASSERT_EQ(compact(c.drop), Err::None);
        EXPECT_EQ(itemNumbers(tab), c.left);
        expectFileMatchesItems();
        for (int n = 0; n < 4; ++n) {
            const bool dropped = std::count(c.drop.begin(), c.drop.end(), n) > 0;
            EXPECT_EQ(t.fs->exists(t.path(file(n))), !dropped) << n;
        }
        // Every file went only once the new index was in place.
        for (int when : deletedWhen)
            EXPECT_EQ(when, static_cast<int>(c.left.size()));
        EXPECT_EQ(tab.allMailCount, static_cast<int>(c.left.size()));
        auto s = readSummary(t.env, f.index());
        if (!c.drop.empty()) {
            EXPECT_EQ(t.ini->read("0", "AllMailCount"), std::to_string(c.left.size()));
            ASSERT_TRUE(s);
            EXPECT_EQ(s->allMailCount, static_cast<int64_t>(c.left.size()));
        }
    }
}

TEST_F(Compaction, PartiallyReadTabKeepsTheUnreadFront) {
    const std::string image = indexImage(records(20));
    f.setBytes(image);
    tab.nextFileNo = 20;
    ASSERT_EQ(reread(400), Err::None);
    ASSERT_EQ(tab.loadState, kTailRead);
    const uint32_t first = tab.items.next->offset;
    const int firstNumber = itemNumber(*tab.items.next);
    ASSERT_EQ(compact({firstNumber, 19}), Err::None);
    EXPECT_EQ(f.bytes().substr(256, first - 256), image.substr(256, first - 256));
    ASSERT_EQ(readWholeIndex(t.env, tab, options(400)), Err::None);
    std::vector<int> expected = upTo(19);
    expected.erase(expected.begin() + firstNumber);
    EXPECT_EQ(itemNumbers(tab), expected);
    expectFileMatchesItems();
}

TEST_F(Compaction, ScratchFileFailureOrItemsNotCoveringTheFileChangeNothing) {
    load(3);
    makeFiles(3);
    tab.allMailCount = 3;
    const std::string before = f.bytes();
    // Tmp.bin cannot be made: a folder stands in its place.
    ASSERT_EQ(t.fs->makeDir(t.path("Tmp.bin")), Err::None);
    EXPECT_NE(compact({0, 2}), Err::None);
    EXPECT_EQ(t.reporter.lastText(), kCompactFailed);
    EXPECT_EQ(f.bytes(), before);
    EXPECT_EQ(itemNumbers(tab), upTo(3));
    EXPECT_EQ(tab.allMailCount, 3);
    EXPECT_TRUE(deletedWhen.empty());
    for (int n = 0; n < 3; ++n)
        EXPECT_TRUE(t.fs->exists(t.path(file(n))));
    t.fs->removeDir(t.path("Tmp.bin"));
    tab.items.next->next->offset += 2;
    EXPECT_EQ(compact({0}), Err::Damaged);
    EXPECT_EQ(f.bytes(), before);
}

TEST_F(Compaction, FailureAtAnyStepLeavesTheOldOrTheNewIndex) {
    load(4);
    const std::string oldIndex = f.bytes();
    testing::FailingFileSystem failing(*t.fs);
    testing::EnvOver over(t, failing);
    bool finished = false;
    const int rounds = test::failEachStep(
        failing,
        [&] {
            f.setBytes(oldIndex);
            makeFiles(4);
            tab.nextFileNo = 4;
            ASSERT_EQ(reread(), Err::None);
        },
        [&](int n) {
            const Err e = compact({0, 2}, &over.env);
            if (e != Err::None) {
                EXPECT_EQ(f.bytes(), oldIndex) << n;
                EXPECT_EQ(itemNumbers(tab), upTo(4)) << n;
                for (int k = 0; k < 4; ++k)
                    EXPECT_TRUE(t.fs->exists(t.path(file(k)))) << n;
            } else {
                finished = true;
                EXPECT_NE(f.bytes(), oldIndex) << n;
                EXPECT_EQ(itemNumbers(tab), (std::vector<int>{1, 3})) << n;
            }
            EXPECT_FALSE(t.fs->exists(t.path("Tmp.bin"))) << n;
        });
    EXPECT_TRUE(finished);
    EXPECT_GT(rounds, 3);
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
    EXPECT_EQ(std::tuple(tab.nextFileNo, tab.allMailCount, tab.noReadMailCount),
              std::tuple(8, 1, 1));
    EXPECT_EQ(t.ini->read("0", "NextFileNo").value_or("") + " " +
                  t.ini->read("0", "NoReadMailCount").value_or(""),
              "8 1");

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
