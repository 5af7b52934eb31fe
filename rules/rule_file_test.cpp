#include "rules/rule_file.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/sjis.h"

namespace kolvy::rules {
namespace {

constexpr RuleDate kToday{2024, 12, 5};
constexpr RuleDate kLimit{2024, 9, 5};

std::string f(std::string_view s) {  // "|" stands for the field end
    std::string out(s);
    for (char& c : out) {
        if (c == '|') c = kFieldEnd;
    }
    return out;
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

// Each condition field alone (with a mark condition where the field is no condition itself):
// read into the record, and written back as it was.
TEST(RuleLines, EveryConditionField) {
    const struct {
        const char* line;
        std::function<void(const Rule&)> check;
    } cases[] = {
        {"1C1example.jp|",
         [](const Rule& r) {
             EXPECT_EQ(r.item1, 12);
             EXPECT_EQ(r.mode1, 1);
             EXPECT_STREQ(r.keyword1, "example.jp");
         }},
        {"142表示|22E2広告ソ|",
         [](const Rule& r) {
             EXPECT_EQ(r.item1, 4);
             EXPECT_EQ(r.mode1, 2);
             EXPECT_STREQ(r.keyword1, "表示");
             EXPECT_EQ(r.combination, 2);
             EXPECT_EQ(r.item2, 14);
             EXPECT_EQ(r.mode2, 2);
             EXPECT_STREQ(r.keyword2, "広告ソ");
         }},
        {"1D1a|2151b|", [](const Rule& r) { EXPECT_EQ(r.combination, 1); }},
        {"32147483|", [](const Rule& r) { EXPECT_EQ(r.sizeKB, kMaxSizeKB); }},
        {"4|", [](const Rule& r) { EXPECT_EQ(r.markCond, 1); }},
        {"5F|", [](const Rule& r) { EXPECT_EQ(r.colourCond, 15); }},
        {"51|", [](const Rule& r) { EXPECT_EQ(r.colourCond, 1); }},
        {"61073741823|", [](const Rule& r) { EXPECT_EQ(r.bodyChars, kMaxBodyChars); }},
        {"4|7|", [](const Rule& r) { EXPECT_EQ(r.bodyCountsControl, 1); }},
        {"8|", [](const Rule& r) { EXPECT_EQ(r.noJapanese, 1); }},
        {"9|", [](const Rule& r) { EXPECT_EQ(r.unreadCond, 1); }},
        {"A|", [](const Rule& r) { EXPECT_EQ(r.readCond, 1); }},
        {"B1|", [](const Rule& r) { EXPECT_EQ(r.olderThan, 1); }},
        {"B36|", [](const Rule& r) { EXPECT_EQ(r.olderThan, 36); }},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(RuleKind::Receive, c.line, "8|");
        ASSERT_EQ(p.p.state, RuleState::Ok) << c.line;
        c.check(p.rule);
        auto lines = formatRule(RuleKind::Receive, p.rule, p.p.tabs);
        ASSERT_TRUE(lines) << c.line;
        EXPECT_EQ(*lines, f(c.line) + "\n" + f("8|") + "\n\n") << c.line;
    }
}

TEST(RuleLines, EveryActionField) {
    const struct {
        RuleKind kind;
        const char* line;
        std::function<void(const Rule&, const RuleTabIds&)> check;
    } cases[] = {
        {RuleKind::Command, "1012|",
         [](const Rule& r, const RuleTabIds& t) {
             EXPECT_EQ(r.moveOrCopy, 0);
             EXPECT_EQ(t.target, 12);
         }},
        {RuleKind::Command, "1199|",
         [](const Rule& r, const RuleTabIds& t) {
             EXPECT_EQ(r.moveOrCopy, 1);
             EXPECT_EQ(t.target, 99);
         }},
        {RuleKind::Reply, "10お礼|",
         [](const Rule& r, const RuleTabIds& t) {
             EXPECT_STREQ(r.templateName, "お礼");
             EXPECT_EQ(t.target, -1);
         }},
        {RuleKind::Forward, "10転送用|",
         [](const Rule& r, const RuleTabIds&) { EXPECT_STREQ(r.templateName, "転送用"); }},
        {RuleKind::Receive, "4|",
         [](const Rule& r, const RuleTabIds&) { EXPECT_EQ(r.deleteUnread, 1); }},
        {RuleKind::Receive, "6|",
         [](const Rule& r, const RuleTabIds&) { EXPECT_EQ(r.noDownload, 1); }},
        {RuleKind::Receive, "2|",
         [](const Rule& r, const RuleTabIds&) { EXPECT_EQ(r.setMark, 1); }},
        {RuleKind::Receive, "3E|",
         [](const Rule& r, const RuleTabIds&) { EXPECT_EQ(r.setColour, 14); }},
        {RuleKind::Receive, "5|",
         [](const Rule& r, const RuleTabIds&) { EXPECT_EQ(r.leaveOnServer, 1); }},
        {RuleKind::Send, "7|", [](const Rule& r, const RuleTabIds&) { EXPECT_EQ(r.split, 1); }},
        {RuleKind::Receive, "8|",
         [](const Rule& r, const RuleTabIds&) { EXPECT_EQ(r.setRead, 1); }},
        {RuleKind::Receive, "9返信用|3|",
         [](const Rule& r, const RuleTabIds& t) {
             EXPECT_STREQ(r.replyTemplate, "返信用");
             EXPECT_EQ(t.reply, 3);
         }},
        {RuleKind::Receive, "A312|元|先@example.jp|",
         [](const Rule& r, const RuleTabIds& t) {
             EXPECT_EQ(r.forwardKind, 3);
             EXPECT_EQ(t.forward, 12);
             EXPECT_STREQ(r.forwardFrom, "元");
             EXPECT_STREQ(r.forwardTo, "先@example.jp");
         }},
        {RuleKind::Receive, "A10||to|",
         [](const Rule& r, const RuleTabIds& t) {
             EXPECT_EQ(r.forwardKind, 1);
             EXPECT_EQ(t.forward, 0);
             EXPECT_STREQ(r.forwardFrom, "");
         }},
        {RuleKind::Receive, "B0|",
         [](const Rule& r, const RuleTabIds&) {
             EXPECT_EQ(r.headLines, 1);
             EXPECT_EQ(r.headLineCount, 0);
         }},
        {RuleKind::Receive, "5|B25|",
         [](const Rule& r, const RuleTabIds&) { EXPECT_EQ(r.headLineCount, 25); }},
    };
    for (const auto& c : cases) {
        Parsed p = parse(c.kind, "4|", c.line);
        ASSERT_EQ(p.p.state, RuleState::Ok) << c.line;
        c.check(p.rule, p.p.tabs);
        // The writer names tabs through their pointers: give the record some.
        if (p.p.tabs.target >= 0) p.rule.targetTab = reinterpret_cast<Tab*>(&p);
        auto lines = formatRule(c.kind, p.rule, p.p.tabs);
        ASSERT_TRUE(lines) << c.line;
        EXPECT_EQ(*lines, f("4|") + "\n" + f(c.line) + "\n\n") << c.line;
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
    const struct {
        const char* l1;
        const char* l2;
        const char* l3;
    } cases[] = {
        {"C|", "8|", ""},
        {"1F1x|", "8|", ""},
        {"101x|", "8|", ""},
        {"131|", "8|", ""},
        {"1131x|", "8|", ""},
        {"5G|", "8|", ""},
        {"50|", "8|", ""},
        {"B0|", "8|", ""},
        {"B37|", "8|", ""},
        {"32147484|", "8|", ""},
        {"61073741824|", "8|", ""},
        {"31234567890123|", "8|", ""},
        {"3|", "8|", ""},
        {"3x|", "8|", ""},
        {"4|4|", "8|", ""},
        {"4", "8|", ""},
        {"4x|", "8|", ""},
        {"131x", "8|", ""},
        {"2151x|", "8|", ""},
        {"131a|2351b|", "8|", ""},
        {"131a|21F1b|", "8|", ""},
        {"4|", "1312|", ""},
        {"4|", "10100|", ""},
        {"4|", "10|", ""},
        {"4|", "1012|4|", ""},
        {"4|", "1012|6|", ""},
        {"4|", "30|", ""},
        {"4|", "9|3|", ""},
        {"4|", "9x|", ""},
        {"4|", "A412|a|b|", ""},
        {"4|", "A112|a|", ""},
        {"4|", "C|", ""},
        {"4|", "8", ""},
        {"4|", "8|", "24120"},
        {"4|", "8|", "24x2051"},
        {"4|", "8|", "241205123456789012"},
        {"4|", "8|", "24120521474836470"},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(RuleKind::Receive, c.l1, c.l2, c.l3);
        EXPECT_EQ(p.p.state, RuleState::Unreadable) << c.l1 << " / " << c.l2 << " / " << c.l3;
        EXPECT_EQ(p.rule.item1 + p.rule.markCond + p.rule.setRead, 0);  // nothing half-read
    }
    // A NUL or CR inside a text.
    Rule r;
    EXPECT_EQ(
        parseRule(RuleKind::Receive, std::string("131a\0b\x01", 7), f("8|"), "", kToday, kLimit, r)
            .state,
        RuleState::Unreadable);
    EXPECT_EQ(parseRule(RuleKind::Receive, f("131a\rb|"), f("8|"), "", kToday, kLimit, r).state,
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
    const std::function<void(Rule&)> bad[] = {
        [](Rule& r) { r.item1 = 15; },
        [](Rule& r) { r.item1 = -1; },
        [](Rule& r) { r.mode1 = 3; },
        [](Rule& r) { r.keyword1[0] = '\0'; },
        [](Rule& r) { r.keyword1[1] = kFieldEnd; },
        [](Rule& r) { r.keyword1[1] = '\n'; },
        [](Rule& r) { r.combination = 3; },
        [](Rule& r) { r.combination = 1; },  // without a second item
        [](Rule& r) { r.sizeKB = kMaxSizeKB + 1; },
        [](Rule& r) { r.bodyChars = -2; },
        [](Rule& r) { r.colourCond = 16; },
        [](Rule& r) { r.olderThan = 37; },
        [](Rule& r) { r.setColour = 16; },
        [](Rule& r) { r.forwardKind = 4; },
        [](Rule& r) { r.forwardKind = 1; },                      // without its tab
        [](Rule& r) { sjis::copyField(r.replyTemplate, "r"); },  // without its tab
        [](Rule& r) {
            sjis::copyField(r.forwardTo, "a\rb");
            r.forwardKind = 0;
        },
        [](Rule& r) { sjis::copyField(r.lastApplied, "24-12-05"); },
        [](Rule& r) { sjis::copyField(r.lastApplied, "24/12/05x"); },
        [](Rule& r) { r.appliedCount = -1; },
        [](Rule& r) { r.headLineCount = -1; },
    };
    for (size_t i = 0; i < std::size(bad); ++i) {
        Rule r = base.rule;
        bad[i](r);
        EXPECT_FALSE(formatRule(RuleKind::Receive, r, base.p.tabs)) << i;
    }
    Rule r = base.rule;
    r.targetTab = reinterpret_cast<Tab*>(&r);
    EXPECT_FALSE(formatRule(RuleKind::Receive, r, {}));  // a target with no id
    EXPECT_TRUE(formatRule(RuleKind::Receive, r, {12, -1, -1}));
}

TEST(RuleLines, CleaningTakesOutWhatEndsFieldsAndLines) {
    Rule r;
    clearRule(r);
    sjis::copyField(r.keyword1,
                    "a\x01"
                    "b\r\nc表");
    sjis::copyField(r.keyword2, "\r\n");
    sjis::copyField(r.forwardFrom, "x\ny");
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
