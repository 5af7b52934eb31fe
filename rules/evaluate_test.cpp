#include "rules/evaluate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/sjis.h"
#include "mime/header.h"
#include "rules/fake_tabs_test.h"
#include "rules/rule_book.h"
#include "tests/support/test_env.h"

namespace kolvy::rules {
namespace {

constexpr int kStaleMonths = 3;

// A message as received: its header read by the real header extraction, its body as one piece.
struct Message {
    explicit Message(std::string text) {
        const size_t blank = text.find("\r\n\r\n");
        body = blank == std::string::npos ? std::string() : text.substr(blank + 4);
        source = "\n" + text;
        source.erase(0, 1);  // extractHead takes the text after the leading LF
        head = mime::extractHead(source);
        piece = {body.data(), body.data() + body.size()};
        subject.header = &head.info;
        subject.body = std::span<const TextPiece>(&piece, body.empty() ? 0 : 1);
        subject.bodyLength = static_cast<uint32_t>(body.size());
        subject.messageSize = static_cast<uint32_t>(text.size());
    }
    std::string source, body;
    mime::HeadCopy head;
    TextPiece piece{};
    RuleSubject subject;
};

std::string mail(std::string_view extraHeaders, std::string_view subject, std::string_view body) {
    return "From: Taro <taro@example.jp>\r\nTo: Hanako <hanako@example.com>\r\nSubject: " +
           std::string(subject) + "\r\n" + std::string(extraHeaders) + "\r\n" + std::string(body);
}

class Evaluation : public ::testing::Test {
  protected:
    void SetUp() override {
        t.clock.setLocal(2024, 12, 5, 10, 0);
        ASSERT_EQ(book.load(t.env, RuleKind::Receive, tabs, kStaleMonths), Err::None);  // none
    }
    Rule* add(const std::string& fields) {
        auto* r = new Rule(ruleWith(fields));
        book.addAtFileEnd(RuleKind::Receive, r);
        return r;
    }
    int run(const RuleSubject& s, RuleResult& result) {
        result = RuleResult{};
        return evaluateRules(s, book.head(RuleKind::Receive), result,
                             evaluationContext(t.env, &book));
    }
    test::TestEnv t;
    FakeTabs tabs;
    RuleBook book;
};

TEST_F(Evaluation, TheMatchingRuleNearestTheTopWinsAndOnlyItIsCounted) {
    Rule* top = add("item1=3 mode1=1 keyword1=会議 setMark=1");
    top->targetTab = tabs.tab(3);
    Rule* unrelated = add("item1=1 mode1=1 keyword1=nobody@ setRead=1");
    Rule* lower =
        add("item1=1 mode1=1 keyword1=taro@ moveOrCopy=1 setColour=4 appliedCount=7 "
            "lastApplied=24/11/30");
    lower->targetTab = tabs.tab(12);

    Message m(mail("", "明日の会議", "本文です\r\n"));
    RuleResult result;
    EXPECT_EQ(run(m.subject, result), 0);
    EXPECT_EQ(result.matched, top);
    EXPECT_EQ(result.targetTab, tabs.tab(3));
    EXPECT_EQ(result.setMark, 1);
    // The whole result is the winner's: nothing of the lower rule's actions is left in it.
    EXPECT_EQ(result.moveOrCopy, 0);
    EXPECT_EQ(result.setColour, 0);
    EXPECT_EQ(top->appliedCount, 1);
    EXPECT_STREQ(top->lastApplied, "24/12/05●");
    EXPECT_EQ(lower->appliedCount, 7);
    EXPECT_STREQ(lower->lastApplied, "24/11/30");
    EXPECT_EQ(unrelated->appliedCount, 0);

    // A message only the lower rule takes.
    Message other(mail("", "お知らせ", "x\r\n"));
    EXPECT_EQ(run(other.subject, result), 0);
    EXPECT_EQ(result.matched, lower);
    EXPECT_EQ(result.moveOrCopy, 1);
    EXPECT_EQ(result.setColour, 4);
    EXPECT_EQ(lower->appliedCount, 8);
    EXPECT_EQ(top->appliedCount, 1);

    // The counts and dates reach the file and read back as today's.
    ASSERT_EQ(book.save(t.env, RuleKind::Receive, tabs), Err::None);
    RuleBook again;
    ASSERT_EQ(again.load(t.env, RuleKind::Receive, tabs, kStaleMonths), Err::None);
    const auto back = again.inFileOrder(RuleKind::Receive);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0]->appliedCount, 1);
    EXPECT_STREQ(back[0]->lastApplied, "24/12/05●");
    EXPECT_EQ(back[2]->appliedCount, 8);
    EXPECT_STREQ(back[2]->lastApplied, "24/12/05●");
    EXPECT_EQ(back[1]->appliedCount, 0);
}

TEST_F(Evaluation, NoMatchLeavesTheResultAndTheRulesAlone) {
    Rule* r = add("item1=3 mode1=1 keyword1=請求書 targetTab=1");
    Message m(mail("", "hello", "x\r\n"));
    RuleResult result;
    EXPECT_EQ(run(m.subject, result), 0);
    EXPECT_EQ(result.matched, nullptr);
    EXPECT_EQ(result.targetTab, nullptr);
    EXPECT_EQ(r->appliedCount, 0);
    EXPECT_STREQ(r->lastApplied, "");
}

TEST(Conditions, EachItemSearchesItsOwnField) {
    Message m(
        mail("Cc: jiro@example.org\r\nReply-To: back@example.net\r\n"
             "Return-Path: <bounce@example.jp>\r\nX-Mailer: Writer 2.0\r\n"
             "X-ML-Name: tea-club\r\nDelivered-To: box@example.com\r\n"
             "Received: from relay.example.jp by mx\r\n"
             "Content-Type: text/plain; charset=iso-2022-jp\r\nX-Extra: sunflower\r\n",
             "plain words", "the body text\r\n"));
    const struct {
        int32_t item;
        const char* present;  // found only in that item's field
    } cases[] = {
        {1, "taro@example"},   {2, "Taro"},
        {3, "plain words"},    {4, "Hanako"},
        {4, "hanako@"},        {5, "body text"},
        {6, "jiro@"},          {7, "back@"},
        {8, "bounce@"},        {9, "Writer 2.0"},
        {10, "tea-club"},      {11, "box@"},
        {12, "relay.example"}, {13, "charset=iso-2022-jp"},
        {13, "text/plain"},    {14, "sunflower"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(testCondition(m.subject, c.item, 1, c.present)) << c.item << " " << c.present;
        EXPECT_FALSE(testCondition(m.subject, c.item, 2, c.present)) << c.item;
        // The same words are not found through the other items.
        for (int32_t other = 1; other <= 14; ++other) {
            if (other == c.item) continue;
            bool elsewhere = false;
            for (const auto& d : cases)
                elsewhere |= d.item == other && sjis::contains(d.present, c.present);
            if (elsewhere) continue;
            EXPECT_FALSE(testCondition(m.subject, other, 1, c.present))
                << c.present << " found in item " << other;
        }
    }
    // Case-sensitive.
    EXPECT_FALSE(testCondition(m.subject, 3, 1, "Plain"));
    // Items and modes outside their tables and empty keywords never hold.
    EXPECT_FALSE(testCondition(m.subject, 0, 1, "Taro"));
    EXPECT_FALSE(testCondition(m.subject, 15, 1, "Taro"));
    EXPECT_FALSE(testCondition(m.subject, 2, 3, "Taro"));
    EXPECT_FALSE(testCondition(m.subject, 2, 2, ""));
}

TEST(Conditions, AbsentHeadersHoldOnlyForNotContained) {
    Message m(mail("", "s", "b\r\n"));
    for (int32_t item : {6, 7, 8, 9, 10, 11, 13}) {
        EXPECT_FALSE(testCondition(m.subject, item, 1, "a")) << item;
        EXPECT_TRUE(testCondition(m.subject, item, 2, "a")) << item;
    }
    // A message without body pieces and a subject without any header record.
    Message empty(mail("", "s", ""));
    EXPECT_FALSE(testCondition(empty.subject, 5, 1, "b"));
    EXPECT_TRUE(testCondition(empty.subject, 5, 2, "b"));
    RuleSubject nothing;
    EXPECT_FALSE(testCondition(nothing, 1, 1, "taro"));
    EXPECT_TRUE(testCondition(nothing, 6, 2, "taro"));
}

TEST(Conditions, MatchesNeverStartOnATrailByte) {
    const struct {
        const char* subject;
        const char* keyword;
        bool found;
    } cases[] = {
        {"全角　空白", "@", false},  // 0x81 0x40
        {"ア", "A", false},          // 0x83 0x41
        {"アA", "A", true},
        {"表示", "\\", false},  // 0x95 0x5C
        {"予\\", "\\", true},
        {"ソフト", "\x83\x74", true},
        {"\x83\x83\x83\x83", "\x83\x83", true},
        {"ャA", "\x83\x41", false},  // 0x83 0x83 0x41: the second 0x83 is a trail byte
        {"アア", "A\x83", false},
        {"mail@example", "@", true},
    };
    for (const auto& c : cases) {
        Message m(mail("", c.subject, std::string(c.subject) + "\r\n"));
        EXPECT_EQ(testCondition(m.subject, 3, 1, c.keyword), c.found) << c.subject;
        EXPECT_EQ(testCondition(m.subject, 3, 2, c.keyword), !c.found) << c.subject;
        EXPECT_EQ(testCondition(m.subject, 5, 1, c.keyword), c.found) << c.subject;
    }
}

TEST(Conditions, BodyPiecesAreSearchedOneByOne) {
    const std::string a = "first part ", b = "second part";
    const TextPiece pieces[] = {{a.data(), a.data() + a.size()}, {b.data(), b.data() + b.size()}};
    RuleSubject s;
    s.body = pieces;
    EXPECT_TRUE(testCondition(s, 5, 1, "second"));
    EXPECT_TRUE(testCondition(s, 5, 1, "first"));
    // Nothing spans two pieces.
    EXPECT_FALSE(testCondition(s, 5, 1, "part second"));
}

TEST(Matching, CombinationsAndAttributes) {
    const std::string both = "item1=3 mode1=1 item2=3 mode2=1 keyword1=";
    struct Attributes {
        bool mark;
        int colour;
        bool unread;
        int age;
        bool ascii;
    };
    const struct {
        std::string rule;
        Attributes is;
        bool matches;
    } cases[] = {
        // The subject is "セール情報", the message 5,000 bytes.
        {"item1=3 mode1=1 keyword1=セール", {}, true},
        {both + "セール keyword2=情報 combination=1", {}, true},
        {both + "セール keyword2=無料 combination=1", {}, false},
        {both + "無料 keyword2=情報 combination=2", {}, true},
        {both + "無料 keyword2=当選 combination=2", {}, false},
        // "Or" decides alone: a size condition the message fails is not asked.
        {both + "セール keyword2=当選 combination=2 sizeKB=100", {}, true},
        {both + "セール keyword2=当選 combination=0 sizeKB=100", {}, false},
        {both + "セール keyword2=当選 combination=0 sizeKB=5", {}, true},
        {both + "セール keyword2=当選 combination=0 sizeKB=6", {}, false},
        // Attributes alone.
        {"markCond=1", {}, false},
        {"markCond=1", {true, 0, false, 0, false}, true},
        {"markCond=1 colourCond=15", {true, 0, false, 0, false}, true},
        {"markCond=1 colourCond=15", {true, 3, false, 0, false}, false},
        {"markCond=1 colourCond=3", {true, 3, false, 0, false}, true},
        {"colourCond=3 unreadCond=1", {true, 3, false, 0, false}, false},
        {"colourCond=3 unreadCond=1", {true, 3, true, 0, false}, true},
        {"unreadCond=1 olderThan=30", {false, 0, true, 29, false}, false},
        {"unreadCond=1 olderThan=30", {false, 0, true, 31, false}, true},
        {"olderThan=30 noJapanese=1", {false, 0, false, 31, false}, false},
        {"olderThan=30 noJapanese=1", {false, 0, false, 31, true}, true},
        // No condition at all never matches.
        {"setRead=1", {true, 3, true, 31, true}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        Message m(mail("", "セール情報", "x\r\n"));
        m.subject.messageSize = 5000;
        m.subject.hasMark = c.is.mark;
        m.subject.colour = c.is.colour;
        m.subject.unread = c.is.unread;
        m.subject.ageSteps = c.is.age;
        m.subject.asciiOnly = c.is.ascii;
        EXPECT_EQ(ruleMatches(m.subject, ruleWith(c.rule)), c.matches);
    }
}

TEST(Matching, SizeAndLengthGiveThePieceSizesOnlyWhenTheyHeld) {
    // Body length: the Shift_JIS length must be above 0, the converted one is taken as it is.
    const struct {
        const char* rule;
        uint32_t size, length, converted;
        bool matched;
        int32_t pieceBytes, splitBodyBytes, splitCountsControl;
    } cases[] = {
        {"sizeKB=2 split=1", 1999, 0, 0, false, 0, 0, 0},
        {"sizeKB=2 split=1", 2000, 0, 0, true, 2000, 0, 0},
        {"bodyChars=3 split=1", 0, 6, 5, true, 0, 6, 0},
        {"bodyChars=3 bodyCountsControl=1 split=1", 0, 6, 5, false, 0, 0, 0},
        {"bodyChars=3 bodyCountsControl=1 split=1", 0, 0, 12, true, 0, 6, 1},
        {"bodyChars=3 split=1", 0, 0, 12, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        Rule head = ruleWith(""), send = ruleWith(c.rule);
        head.next = &send;
        send.next = send.prev = nullptr;
        RuleSubject s;
        s.messageSize = c.size;
        s.bodyLength = c.length;
        s.convertedLength = c.converted;
        RuleResult r{};
        EXPECT_EQ(evaluateRules(s, head, r), 0);
        EXPECT_EQ(r.matched, c.matched ? &send : nullptr);
        EXPECT_EQ(send.appliedCount, c.matched ? 1 : 0);
        EXPECT_EQ(r.pieceBytes, c.pieceBytes);
        EXPECT_EQ(r.splitBodyBytes, c.splitBodyBytes);
        EXPECT_EQ(r.splitCountsControl, c.splitCountsControl);
    }
}

TEST_F(Evaluation, NotDownloadingLeavesTheMessageAndOnlyDeleteUnreadRemovesIt) {
    for (const char* action : {"skip noDownload=1", "drop deleteUnread=1", "leave leaveOnServer=1",
                               "head headLines=1 headLineCount=20"})
        add(std::string("item1=3 mode1=1 keyword1=") + action);
    const struct {
        const char* subject;
        int returned;
        ServerAction action;
    } cases[] = {
        {"skip", 1, ServerAction::SkipAndLeave},   {"drop", 1, ServerAction::DeleteUnfetched},
        {"leave", 0, ServerAction::FetchAndLeave}, {"head", 0, ServerAction::FetchHeadAndLeave},
        {"other", 0, ServerAction::Fetch},
    };
    for (const auto& c : cases) {
        Message m(mail("", c.subject, "x\r\n"));
        RuleResult result;
        EXPECT_EQ(run(m.subject, result), c.returned) << c.subject;
        EXPECT_EQ(serverAction(result), c.action) << c.subject;
    }
    RuleResult both{};
    both.noDownload = 1;
    both.deleteUnread = 1;
    EXPECT_EQ(serverAction(both), ServerAction::SkipAndLeave);
}

class KeptRules : public Evaluation {
  protected:
    void SetUp() override {
        t.write(ruleFileName(RuleKind::Receive), test::readTestData("rules/unreadable.txt"));
        Evaluation::SetUp();
    }
};

TEST_F(KeptRules, NeverMatch) {
    std::vector<Rule*> kept;
    for (Rule* r : book.inFileOrder(RuleKind::Receive)) {
        if (!book.mayMatch(r)) kept.push_back(r);
    }
    ASSERT_FALSE(kept.empty());
    // Even with fields that would take this message, a kept rule is passed over.
    Rule* k = kept.front();
    k->markCond = 1;
    k->setColour = 2;
    RuleSubject s;
    s.hasMark = true;
    RuleResult result;
    run(s, result);
    EXPECT_NE(result.matched, k);
    EXPECT_EQ(k->appliedCount, 0);
    book.forgetKept(k);  // the editor rewrote it
    run(s, result);
    EXPECT_EQ(result.matched, k);
}

TEST_F(Evaluation, TheReceiveHookDatesFromTheClock) {
    Rule* r = add("item1=2 mode1=1 keyword1=Taro setMark=1");
    const ReceiveRuleHook hook = receiveRuleHook(book, t.env);
    t.clock.setLocal(2025, 1, 2, 8, 0);
    Message m(mail("", "s", "b\r\n"));
    RuleResult result{};
    EXPECT_EQ(hook(m.subject, result), 0);
    EXPECT_EQ(result.matched, r);
    EXPECT_STREQ(r->lastApplied, "25/01/02●");
}

TEST(Numbers, AgeClassesFollowTheAgeTable) {
    constexpr int64_t kDay = 86400;
    const int64_t now = 1733400000;
    const struct {
        int64_t daysBack;
        const char* age;  // the age table's name of the class, empty for none
    } cases[] = {{0, ""},        {1, ""},       {2, "1日"},    {30, "29日"},   {31, "30日"},
                 {60, "30日"},   {61, "2ヶ月"}, {91, "3ヶ月"}, {180, "5ヶ月"}, {181, "6ヶ月"},
                 {360, "6ヶ月"}, {361, "1年"},  {4000, "1年"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ageName(ageClass(static_cast<uint32_t>(now - c.daysBack * kDay), now)), c.age)
            << c.daysBack;
    }
    EXPECT_EQ(ageClass(0, now), 0);
    EXPECT_EQ(ageClass(static_cast<uint32_t>(now + kDay), now), 0);  // a clock set back
}

TEST(Numbers, ConvertedLengthCountsTheEscapes) {
    EXPECT_EQ(convertedLength("abc"), 3u);
    EXPECT_EQ(convertedLength("あ"), 2u + 6u);
    EXPECT_EQ(convertedLength("aあいb"), 1u + 3u + 4u + 3u + 1u);
    EXPECT_EQ(convertedLength("あ\r\nい"), 2u + 6u + 2u + 2u + 6u);
    EXPECT_EQ(convertedLength(""), 0u);
}

}  // namespace
}  // namespace kolvy::rules
