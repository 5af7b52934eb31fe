#include "rules/rule_file.h"

#include <gtest/gtest.h>

#include "rules/fake_tabs_test.h"

namespace kolvy::rules {
namespace {

constexpr RuleDate kToday{2024, 12, 5};
constexpr RuleDate kLimit{2024, 9, 5};

std::string f(std::string_view s) {
    return ruleLines(s);
}

struct Parsed {
    Rule rule;
    ParsedRule p;
};
Parsed parse(RuleKind kind, std::string_view l1, std::string_view l2, std::string_view l3 = "") {
    Parsed out;
    out.p = parseRule(kind, f(l1), f(l2), l3, kToday, kLimit, out.rule);
    return out;
}

std::string ids(const RuleTabIds& t) {
    return std::to_string(t.target) + "/" + std::to_string(t.reply) + "/" +
           std::to_string(t.forward);
}

// Each condition field alone (with a mark condition where the field is no condition itself):
// read into the record, and written back as it was.
TEST(RuleLines, EveryConditionField) {
    const struct {
        const char* line;
        const char* fields;  // as read
    } cases[] = {
        {"1C1example.jp|", "item1=12 mode1=1 keyword1=example.jp"},
        {"142表示|22E2広告ソ|",
         "item1=4 mode1=2 keyword1=表示 combination=2 item2=14 mode2=2 keyword2=広告ソ"},
        {"1D1a|2151b|", "combination=1"},
        {"32147483|", "sizeKB=2147483"},
        {"4|", "markCond=1"},
        {"5F|", "colourCond=15"},
        {"51|", "colourCond=1"},
        {"61073741823|", "bodyChars=1073741823"},
        {"4|7|", "bodyCountsControl=1"},
        {"8|", "noJapanese=1"},
        {"9|", "unreadCond=1"},
        {"A|", "readCond=1"},
        {"B1|", "olderThan=1"},
        {"B36|", "olderThan=36"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Parsed p = parse(RuleKind::Receive, c.line, "8|");
        ASSERT_EQ(p.p.state, RuleState::Ok);
        EXPECT_EQ(fieldsOf(p.rule, c.fields), c.fields);
        auto lines = formatRule(RuleKind::Receive, p.rule, p.p.tabs);
        ASSERT_TRUE(lines);
        EXPECT_EQ(*lines, f(c.line) + "\n" + f("8|") + "\n\n");
    }
}

TEST(RuleLines, EveryActionField) {
    const struct {
        RuleKind kind;
        const char* line;
        const char* fields;  // as read
        const char* tabs;    // target/reply/forward ids
    } cases[] = {
        {RuleKind::Command, "1012|", "moveOrCopy=0", "12/-1/-1"},
        {RuleKind::Command, "1199|", "moveOrCopy=1", "99/-1/-1"},
        {RuleKind::Reply, "10お礼|", "templateName=お礼", "-1/-1/-1"},
        {RuleKind::Forward, "10転送用|", "templateName=転送用", "-1/-1/-1"},
        {RuleKind::Receive, "4|", "deleteUnread=1", "-1/-1/-1"},
        {RuleKind::Receive, "6|", "noDownload=1", "-1/-1/-1"},
        {RuleKind::Receive, "2|", "setMark=1", "-1/-1/-1"},
        {RuleKind::Receive, "3E|", "setColour=14", "-1/-1/-1"},
        {RuleKind::Receive, "5|", "leaveOnServer=1", "-1/-1/-1"},
        {RuleKind::Send, "7|", "split=1", "-1/-1/-1"},
        {RuleKind::Receive, "8|", "setRead=1", "-1/-1/-1"},
        {RuleKind::Receive, "9返信用|3|", "replyTemplate=返信用", "-1/3/-1"},
        {RuleKind::Receive, "A312|元|先@example.jp|",
         "forwardKind=3 forwardFrom=元 forwardTo=先@example.jp", "-1/-1/12"},
        {RuleKind::Receive, "A10||to|", "forwardKind=1 forwardFrom= forwardTo=to", "-1/-1/0"},
        {RuleKind::Receive, "B0|", "headLines=1 headLineCount=0", "-1/-1/-1"},
        {RuleKind::Receive, "5|B25|", "leaveOnServer=1 headLineCount=25", "-1/-1/-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Parsed p = parse(c.kind, "4|", c.line);
        ASSERT_EQ(p.p.state, RuleState::Ok);
        EXPECT_EQ(fieldsOf(p.rule, c.fields), c.fields);
        EXPECT_EQ(ids(p.p.tabs), c.tabs);
        // The writer names tabs through their pointers: give the record some.
        if (p.p.tabs.target >= 0) p.rule.targetTab = reinterpret_cast<Tab*>(&p);
        auto lines = formatRule(c.kind, p.rule, p.p.tabs);
        ASSERT_TRUE(lines);
        EXPECT_EQ(*lines, f("4|") + "\n" + f(c.line) + "\n\n");
    }
}

TEST(RuleLines, HistoryLineAndItsMarks) {
    const struct {
        const char* line;
        const char* applied;
        int32_t count;
    } cases[] = {
        {"", "", 0},
        {"2412057", "24/12/05●", 7},  // today
        {"2412050", "24/12/05", 0},   // a count of 0 clears the mark
        {"2412042147483647", "24/12/04", INT32_MAX},
        {"2409051", "24/09/05", 1},   // on the limit: not stale
        {"2409041", "24/09/04▲", 1},  // before it
        {"9912311", "99/12/31", 1},   // two-digit years are years from 2000
        {"0001011", "00/01/01▲", 1},
        {"241205", "24/12/05", 0},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(RuleKind::Receive, "4|", "8|", c.line);
        ASSERT_EQ(p.p.state, RuleState::Ok) << c.line;
        EXPECT_STREQ(p.rule.lastApplied, c.applied) << c.line;
        EXPECT_EQ(p.rule.appliedCount, c.count) << c.line;
        auto lines = formatRule(RuleKind::Receive, p.rule, p.p.tabs);
        ASSERT_TRUE(lines);
        const std::string back = c.line == std::string_view("241205") ? "2412050" : c.line;
        EXPECT_EQ(*lines, f("4|\n8|\n") + back + "\n");
    }
}

TEST(RuleLines, LinesTheReaderCannotTake) {
    const char* const firstLines[] = {
        "C|",     "1F1x|",       "101x|",       "131|",      "1131x|",       "5G|",
        "50|",    "B0|",         "B37|",        "32147484|", "61073741824|", "31234567890123|",
        "3|",     "3x|",         "4|4|",        "4",         "4x|",          "131x",
        "2151x|", "131a|2351b|", "131a|21F1b|", "131a\rb|"};
    const char* const secondLines[] = {"1312|", "10100|", "10|",       "1012|4|", "1012|6|", "30|",
                                       "9|3|",  "9x|",    "A412|a|b|", "A112|a|", "C|",      "8"};
    const char* const historyLines[] = {"24120", "24x2051", "241205123456789012",
                                        "24120521474836470"};
    auto expectUnreadable = [](const char* l1, const char* l2, const char* l3) {
        const Parsed p = parse(RuleKind::Receive, l1, l2, l3);
        EXPECT_EQ(p.p.state, RuleState::Unreadable) << l1 << " / " << l2 << " / " << l3;
        EXPECT_EQ(p.rule.item1 + p.rule.markCond + p.rule.setRead, 0);  // nothing half-read
    };
    for (const char* l : firstLines)
        expectUnreadable(l, "8|", "");
    for (const char* l : secondLines)
        expectUnreadable("4|", l, "");
    for (const char* l : historyLines)
        expectUnreadable("4|", "8|", l);
    // A NUL inside a text.
    EXPECT_EQ(parse(RuleKind::Receive, std::string("131a\0b|", 7), "8|").p.state,
              RuleState::Unreadable);
    // The template kinds read a name where the others read a tab id.
    EXPECT_EQ(parse(RuleKind::Reply, "4|", "10|").p.state, RuleState::Unreadable);
    EXPECT_EQ(parse(RuleKind::Reply, "4|", "10abc|").p.state, RuleState::Ok);
    EXPECT_EQ(parse(RuleKind::Receive, "4|", "10abc|").p.state, RuleState::Unreadable);
}

TEST(RuleLines, RulesWithoutAConditionAreMarked) {
    EXPECT_EQ(parse(RuleKind::Receive, "", "8|").p.state, RuleState::NoCondition);
    EXPECT_EQ(parse(RuleKind::Receive, "7|", "4|").p.state, RuleState::NoCondition);
    EXPECT_EQ(parse(RuleKind::Receive, "8|", "").p.state, RuleState::Ok);  // no action: harmless
}

TEST(RuleLines, CrBeforeLfAndHandMadeForms) {
    const Parsed p =
        parse(RuleKind::Receive, "B05|4|1c1hand|5a|\r", "8|3b|1012|\r", "2412050003\r");
    ASSERT_EQ(p.p.state, RuleState::Ok);
    EXPECT_EQ(p.rule.olderThan, 5);
    EXPECT_EQ(p.rule.item1, 12);
    EXPECT_EQ(p.rule.colourCond, 10);
    EXPECT_EQ(p.rule.setColour, 11);
    EXPECT_EQ(p.p.tabs.target, 12);
    EXPECT_EQ(p.rule.appliedCount, 3);
    EXPECT_STREQ(p.rule.lastApplied, "24/12/05●");
}

TEST(RuleLines, KeywordLengths) {
    const std::string k127(127, 'k');
    Parsed p = parse(RuleKind::Receive, "131" + k127 + "|", "8|");
    ASSERT_EQ(p.p.state, RuleState::Ok);
    EXPECT_EQ(std::string(p.rule.keyword1), k127);
    p = parse(RuleKind::Receive, "131" + k127 + "xyz|4|", "8|");
    ASSERT_EQ(p.p.state, RuleState::Ok);
    EXPECT_EQ(std::string(p.rule.keyword1), k127);  // a longer one is cut to 127
    EXPECT_EQ(p.rule.markCond, 1);                  // and the fields after it still read
    // Cut on a character boundary: 126 bytes and a double-byte character keep 126.
    p = parse(RuleKind::Receive, "131" + std::string(126, 'k') + "表|", "8|");
    EXPECT_EQ(std::string(p.rule.keyword1), std::string(126, 'k'));
    // Other texts must fit.
    EXPECT_EQ(parse(RuleKind::Reply, "4|", "10" + std::string(128, 't') + "|").p.state,
              RuleState::Unreadable);
    EXPECT_EQ(parse(RuleKind::Reply, "4|", "10" + std::string(127, 't') + "|").p.state,
              RuleState::Ok);
}

TEST(RuleLines, WriterRefusesWhatWouldNotReadBack) {
    const Parsed base = parse(RuleKind::Receive, "131abc|", "8|");
    ASSERT_EQ(base.p.state, RuleState::Ok);
    // "|" is the field end; combination=1 lacks a second item, forwardKind=1 and the reply
    // template lack their tabs.
    // clang-format off
    const char* const bad[] = {
        "item1=15", "item1=-1", "mode1=3", "keyword1=", "keyword1=a|c", "keyword1=a\nc",
        "combination=3", "combination=1", "sizeKB=2147484", "bodyChars=-2", "colourCond=16",
        "olderThan=37", "setColour=16", "forwardKind=4", "forwardKind=1", "replyTemplate=r",
        "forwardTo=a\rb", "lastApplied=24-12-05", "lastApplied=24/12/05x", "appliedCount=-1",
        "headLineCount=-1"};
    // clang-format on
    for (const char* change : bad) {
        Rule r = base.rule;
        setFields(r, ruleLines(change));
        EXPECT_FALSE(formatRule(RuleKind::Receive, r, base.p.tabs)) << change;
    }
    Rule r = base.rule;
    r.targetTab = reinterpret_cast<Tab*>(&r);
    EXPECT_FALSE(formatRule(RuleKind::Receive, r, {}));  // a target with no id
    EXPECT_TRUE(formatRule(RuleKind::Receive, r, {12, -1, -1}));
}

TEST(RuleLines, CleaningTakesOutWhatEndsFieldsAndLines) {
    Rule r = ruleWith(
        "keyword1=a\x01"
        "b\r\nc表 keyword2=\r\n forwardFrom=x\ny");
    cleanRuleTexts(r);
    EXPECT_STREQ(r.keyword1, "abc表");
    EXPECT_STREQ(r.keyword2, "");
    EXPECT_STREQ(r.forwardFrom, "xy");
}

TEST(RuleDates, StaleLimit) {
    const struct {
        RuleDate today;
        int months;
        RuleDate limit;
    } cases[] = {
        {{2024, 12, 5}, 3, {2024, 9, 5}},  {{2024, 3, 15}, 3, {2023, 12, 15}},
        {{2024, 3, 15}, 2, {2024, 1, 15}}, {{2024, 1, 31}, 1, {2023, 12, 31}},
        {{2024, 3, 1}, 15, {2022, 12, 1}}, {{2024, 3, 1}, 0, {2024, 3, 1}},
        {{2024, 3, 1}, -4, {2024, 3, 1}},  {{2024, 3, 1}, 24, {2022, 3, 1}},
    };
    for (const auto& c : cases) {
        const RuleDate got = staleLimit(c.today, c.months);
        EXPECT_EQ(got, c.limit) << c.today.year << "-" << c.today.month << " - " << c.months;
    }
}

}  // namespace
}  // namespace kolvy::rules
