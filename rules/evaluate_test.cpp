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

std::string mail(std::string_view extraHeaders, std::string_view subjectLine,
                 std::string_view body) {
    std::string m = "From: Taro <taro@example.jp>\r\nTo: Hanako <hanako@example.com>\r\n";
    m += "Subject: ";
    m += subjectLine;
    m += "\r\n";
    m += extraHeaders;
    m += "\r\n";
    m += body;
    return m;
}

Rule* textRule(int32_t item, int32_t mode, std::string_view keyword) {
    auto* r = new Rule;
    clearRule(*r);
    r->item1 = item;
    r->mode1 = mode;
    sjis::copyField(r->keyword1, keyword);
    return r;
}

class Evaluation : public ::testing::Test {
  protected:
    void SetUp() override {
        t.clock.setLocal(2024, 12, 5, 10, 0);
        ASSERT_EQ(book.load(t.env, RuleKind::Receive, tabs, kStaleMonths), Err::None);  // none
    }
    Rule* add(Rule* r) {
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
    Rule* top = add(textRule(3, 1, "会議"));
    top->targetTab = tabs.tab(3);
    top->setMark = 1;
    Rule* unrelated = add(textRule(1, 1, "nobody@"));
    unrelated->setRead = 1;
    Rule* lower = add(textRule(1, 1, "taro@"));
    lower->targetTab = tabs.tab(12);
    lower->moveOrCopy = 1;
    lower->setColour = 4;
    lower->appliedCount = 7;
    sjis::copyField(lower->lastApplied, "24/11/30");

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
    Rule* r = add(textRule(3, 1, "請求書"));
    r->targetTab = tabs.tab(3);
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
        {"ャA",
         "\x83"
         "A",
         false},  // 0x83 0x83 0x41: the second 0x83 is a trail byte
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
    Message m(mail("", "セール情報", "x\r\n"));
    m.subject.messageSize = 5000;
    auto rule = [](int32_t combination, const char* k1, const char* k2) {
        Rule r;
        clearRule(r);
        r.item1 = 3;
        r.mode1 = 1;
        sjis::copyField(r.keyword1, k1);
        r.combination = combination;
        if (k2) {
            r.item2 = 3;
            r.mode2 = 1;
            sjis::copyField(r.keyword2, k2);
        }
        return r;
    };
    EXPECT_TRUE(ruleMatches(m.subject, rule(0, "セール", nullptr)));
    EXPECT_TRUE(ruleMatches(m.subject, rule(1, "セール", "情報")));
    EXPECT_FALSE(ruleMatches(m.subject, rule(1, "セール", "無料")));
    EXPECT_TRUE(ruleMatches(m.subject, rule(2, "無料", "情報")));
    EXPECT_FALSE(ruleMatches(m.subject, rule(2, "無料", "当選")));

    // "Or" decides alone: a size condition the message fails is not asked.
    Rule big = rule(2, "セール", "当選");
    big.sizeKB = 100;
    EXPECT_TRUE(ruleMatches(m.subject, big));
    big.combination = 0;
    EXPECT_FALSE(ruleMatches(m.subject, big));
    big.sizeKB = 5;
    EXPECT_TRUE(ruleMatches(m.subject, big));
    big.sizeKB = 6;
    EXPECT_FALSE(ruleMatches(m.subject, big));

    // Attributes alone.
    Rule a;
    clearRule(a);
    a.markCond = 1;
    EXPECT_FALSE(ruleMatches(m.subject, a));
    m.subject.hasMark = true;
    EXPECT_TRUE(ruleMatches(m.subject, a));
    a.colourCond = 15;
    EXPECT_TRUE(ruleMatches(m.subject, a));
    m.subject.colour = 3;
    EXPECT_FALSE(ruleMatches(m.subject, a));
    a.colourCond = 3;
    EXPECT_TRUE(ruleMatches(m.subject, a));
    a.unreadCond = 1;
    EXPECT_FALSE(ruleMatches(m.subject, a));
    m.subject.unread = true;
    EXPECT_TRUE(ruleMatches(m.subject, a));
    a.olderThan = 30;
    m.subject.ageSteps = 29;
    EXPECT_FALSE(ruleMatches(m.subject, a));
    m.subject.ageSteps = 31;
    EXPECT_TRUE(ruleMatches(m.subject, a));
    a.noJapanese = 1;
    EXPECT_FALSE(ruleMatches(m.subject, a));
    m.subject.asciiOnly = true;
    EXPECT_TRUE(ruleMatches(m.subject, a));

    // No condition at all never matches.
    Rule none;
    clearRule(none);
    none.setRead = 1;
    EXPECT_FALSE(ruleMatches(m.subject, none));
}

TEST(Matching, SizeAndLengthGiveThePieceSizesOnlyWhenTheyHeld) {
    Rule send;
    clearRule(send);
    send.sizeKB = 2;
    send.split = 1;
    send.next = send.prev = nullptr;
    Rule head;
    clearRule(head);
    head.next = &send;
    RuleSubject s;
    s.messageSize = 1999;
    RuleResult r{};
    EXPECT_EQ(evaluateRules(s, head, r), 0);
    EXPECT_EQ(r.matched, nullptr);
    EXPECT_EQ(r.pieceBytes, 0);
    s.messageSize = 2000;
    r = RuleResult{};
    evaluateRules(s, head, r);
    EXPECT_EQ(r.matched, &send);
    EXPECT_EQ(r.pieceBytes, 2000);
    EXPECT_EQ(r.splitBodyBytes, 0);
    EXPECT_EQ(send.appliedCount, 1);

    // Body length: the Shift_JIS length must be above 0, the converted one is taken as it is.
    send.sizeKB = 0;
    send.bodyChars = 3;
    s.bodyLength = 6;
    s.convertedLength = 5;
    r = RuleResult{};
    evaluateRules(s, head, r);
    EXPECT_EQ(r.splitBodyBytes, 6);
    EXPECT_EQ(r.pieceBytes, 0);
    send.bodyCountsControl = 1;
    r = RuleResult{};
    evaluateRules(s, head, r);
    EXPECT_EQ(r.matched, nullptr);
    s.convertedLength = 12;
    s.bodyLength = 0;
    r = RuleResult{};
    evaluateRules(s, head, r);
    EXPECT_EQ(r.matched, &send);
    EXPECT_EQ(r.splitCountsControl, 1);
    send.bodyCountsControl = 0;
    r = RuleResult{};
    evaluateRules(s, head, r);
    EXPECT_EQ(r.matched, nullptr);
}

TEST_F(Evaluation, NotDownloadingLeavesTheMessageAndOnlyDeleteUnreadRemovesIt) {
    Rule* skip = add(textRule(3, 1, "skip"));
    skip->noDownload = 1;
    Rule* drop = add(textRule(3, 1, "drop"));
    drop->deleteUnread = 1;
    Rule* leave = add(textRule(3, 1, "leave"));
    leave->leaveOnServer = 1;
    Rule* head = add(textRule(3, 1, "head"));
    head->headLines = 1;
    head->headLineCount = 20;
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

TEST(KeptRules, NeverMatch) {
    test::TestEnv t;
    t.clock.setLocal(2024, 12, 5, 10, 0);
    t.write(ruleFileName(RuleKind::Receive), test::readTestData("rules/unreadable.txt"));
    FakeTabs tabs;
    RuleBook book;
    ASSERT_EQ(book.load(t.env, RuleKind::Receive, tabs, kStaleMonths), Err::None);
    auto run = [&](const RuleSubject& s, RuleResult& result) {
        result = RuleResult{};
        evaluateRules(s, book.head(RuleKind::Receive), result, evaluationContext(t.env, &book));
    };
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
    Rule* r = add(textRule(2, 1, "Taro"));
    r->setMark = 1;
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
