#include "rules/rule_book.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "core/list.h"
#include "core/sjis.h"
#include "rules/fake_tabs_test.h"
#include "tests/support/failing_fs.h"
#include "tests/support/test_env.h"

namespace kolvy::rules {
namespace {

constexpr int kStaleMonths = 3;

class RuleFiles : public ::testing::Test {
  protected:
    void SetUp() override { t.clock.setLocal(2024, 12, 5, 10, 0); }
    // Puts a golden file in place as the given kind's file and loads it.
    void install(RuleKind kind, std::string_view golden) {
        t.write(ruleFileName(kind),
                test::readTestData(std::string("rules/") + std::string(golden)));
        ASSERT_EQ(book.load(t.env, kind, tabs, kStaleMonths), Err::None);
    }
    std::string file(RuleKind kind) { return t.read(ruleFileName(kind)); }
    test::TestEnv t;
    FakeTabs tabs;
    RuleBook book;
};

// Each kind read from and written back to its own file name.
TEST_F(RuleFiles, EveryTagRoundTripsByteForByte) {
    const struct {
        RuleKind kind;
        const char* name;
        const char* golden;
        size_t rules;
    } cases[] = {{RuleKind::Receive, "Filter_Receive.txt", "rules/all_tags.txt", 4},
                 {RuleKind::Send, "Filter_Send.txt", "rules/send_split.txt", 1},
                 {RuleKind::Delete, "Filter_Delete.txt", "rules/all_tags.txt", 4},
                 {RuleKind::Command, "Filter_Command.txt", "rules/all_tags.txt", 4},
                 {RuleKind::Make, "Filter_Make.txt", "rules/all_tags.txt", 4},
                 {RuleKind::Reply, "Filter_Reply.txt", "rules/template_reply.txt", 1},
                 {RuleKind::Forward, "Filter_Forwoad.txt", "rules/template_reply.txt", 1}};
    for (const auto& c : cases)
        t.write(c.name, test::readTestData(c.golden));
    ASSERT_EQ(book.loadAll(t.env, tabs, kStaleMonths), Err::None);
    for (const auto& c : cases) {
        EXPECT_EQ(listSize(book.head(c.kind)), c.rules) << c.name;
        for (Rule* r : book.inFileOrder(c.kind))
            EXPECT_TRUE(book.mayMatch(r)) << c.name;
        t.write(c.name, "");  // what is on disk does not matter any more
    }
    ASSERT_EQ(book.saveAll(t.env, tabs), Err::None);
    for (const auto& c : cases)
        EXPECT_EQ(t.read(c.name), test::readTestData(c.golden)) << c.name;
}

TEST_F(RuleFiles, KindsNeverLoadedAreLeftAlone) {
    t.write("Filter_Delete.txt", "not a rule file");
    install(RuleKind::Receive, "all_tags.txt");
    ASSERT_EQ(book.saveAll(t.env, tabs), Err::None);
    EXPECT_EQ(file(RuleKind::Delete), "not a rule file");
    EXPECT_EQ(file(RuleKind::Make), "<missing>");
}

TEST_F(RuleFiles, FieldsOfTheGoldenFile) {
    install(RuleKind::Receive, "all_tags.txt");
    const std::vector<Rule*> rules = book.inFileOrder(RuleKind::Receive);
    ASSERT_EQ(rules.size(), 4u);
    // Walking from the head visits the file from its last rule to its first.
    EXPECT_EQ(book.head(RuleKind::Receive).next, rules[3]);
    EXPECT_EQ(book.head(RuleKind::Receive).prev, rules[0]);
    const char* const first =
        "item1=12 keyword1=example.jp combination=2 keyword2=広告ソ表 sizeKB=500 colourCond=15 "
        "unreadCond=1 readCond=1 noJapanese=1 markCond=1 bodyCountsControl=1 olderThan=36 "
        "moveOrCopy=1 setColour=10 replyTemplate=返信用 forwardKind=2 forwardFrom=転送元の名前 "
        "forwardTo=fwd@example.jp headLines=1 headLineCount=20 appliedCount=7 "
        "lastApplied=24/12/05●";  // applied today
    EXPECT_EQ(fieldsOf(*rules[0], first), first);
    EXPECT_EQ(rules[0]->targetTab, tabs.tab(12));
    EXPECT_EQ(rules[0]->replyTab, tabs.tab(3));
    EXPECT_EQ(rules[0]->forwardTab, tabs.tab(5));
    EXPECT_EQ(fieldsOf(*rules[1], "deleteUnread=1 noDownload=1 bodyChars=1000"),
              "deleteUnread=1 noDownload=1 bodyChars=1000");
    EXPECT_STREQ(rules[2]->lastApplied, "25/03/01");   // count 0: no mark
    EXPECT_STREQ(rules[3]->lastApplied, "24/06/01▲");  // more than three months ago
}

TEST_F(RuleFiles, HandMadeFileSurvives) {
    install(RuleKind::Receive, "hand_made.txt");
    ASSERT_EQ(listSize(book.head(RuleKind::Receive)), 2u);
    ASSERT_EQ(book.save(t.env, RuleKind::Receive, tabs), Err::None);
    // Written in the program's own form...
    EXPECT_EQ(file(RuleKind::Receive),
              ruleLines("1C1hand|4|5A|B5|\n1012|3B|8|\n2412053\n9|\nB7|\n\n"));
    // ...which reads back to the same rules.
    RuleBook again;
    ASSERT_EQ(again.load(t.env, RuleKind::Receive, tabs, kStaleMonths), Err::None);
    const auto a = book.inFileOrder(RuleKind::Receive);
    const auto b = again.inFileOrder(RuleKind::Receive);
    ASSERT_EQ(b.size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(std::memcmp(a[i], b[i], offsetof(Rule, next)), 0) << i;
}

TEST_F(RuleFiles, RulesTheReaderCannotTakeAreKeptAndNeverMatch) {
    install(RuleKind::Receive, "unreadable.txt");
    const auto rules = book.inFileOrder(RuleKind::Receive);
    ASSERT_EQ(rules.size(), 19u);
    EXPECT_TRUE(book.mayMatch(rules[0]));
    EXPECT_EQ(book.state(rules[1]), RuleState::Unreadable);
    EXPECT_EQ(book.state(rules[8]), RuleState::NoCondition);
    EXPECT_EQ(book.state(rules[9]), RuleState::NoCondition);
    EXPECT_EQ(book.state(rules[12]), RuleState::TabMissing);
    EXPECT_TRUE(book.mayMatch(rules[17]));
    EXPECT_EQ(book.state(rules[18]), RuleState::Unreadable);  // cut short at the end
    size_t kept = 0;
    for (Rule* r : rules) {
        if (!book.mayMatch(r)) {
            ++kept;
            EXPECT_FALSE(hasCondition(*r));  // nothing half-read is left to act on
            EXPECT_EQ(r->targetTab, nullptr);
        }
    }
    EXPECT_EQ(kept, 17u);
    EXPECT_TRUE(book.hasKeptRules(RuleKind::Receive));

    // Written back unchanged.
    ASSERT_EQ(book.save(t.env, RuleKind::Receive, tabs), Err::None);
    EXPECT_EQ(file(RuleKind::Receive), test::readTestData("rules/unreadable.txt"));
    RuleBook again;
    ASSERT_EQ(again.load(t.env, RuleKind::Receive, tabs, kStaleMonths), Err::None);
    EXPECT_EQ(again.inFileOrder(RuleKind::Receive).size(), 19u);
    EXPECT_EQ(again.state(again.inFileOrder(RuleKind::Receive)[18]), RuleState::Unreadable);

    // A rule added after the one cut short: that one gets its missing line ends.
    Rule* added = new Rule(ruleWith("markCond=1 setRead=1"));
    book.addAtFileEnd(RuleKind::Receive, added);
    ASSERT_EQ(book.save(t.env, RuleKind::Receive, tabs), Err::None);
    EXPECT_EQ(file(RuleKind::Receive),
              test::readTestData("rules/unreadable.txt") + "\n\n" + ruleLines("4|\n8|\n\n"));
    RuleBook third;
    ASSERT_EQ(third.load(t.env, RuleKind::Receive, tabs, kStaleMonths), Err::None);
    const auto back = third.inFileOrder(RuleKind::Receive);
    ASSERT_EQ(back.size(), 20u);
    EXPECT_TRUE(third.mayMatch(back[19]));
    EXPECT_EQ(back[19]->setRead, 1);
}

TEST_F(RuleFiles, TabsThatComeBackMakeTheRuleReadable) {
    t.write("Filter_Command.txt", ruleLines("4|\n1077|\n\n"));
    ASSERT_EQ(book.load(t.env, RuleKind::Command, tabs, kStaleMonths), Err::None);
    EXPECT_EQ(book.state(book.head(RuleKind::Command).next), RuleState::TabMissing);
    ASSERT_EQ(book.save(t.env, RuleKind::Command, tabs), Err::None);
    tabs.add(77, "新しいタブ");
    RuleBook again;
    ASSERT_EQ(again.load(t.env, RuleKind::Command, tabs, kStaleMonths), Err::None);
    EXPECT_EQ(again.head(RuleKind::Command).next->targetTab, tabs.tab(77));
}

TEST_F(RuleFiles, MissingFilesAndEmptyLists) {
    ASSERT_EQ(book.load(t.env, RuleKind::Delete, tabs, kStaleMonths), Err::None);
    EXPECT_TRUE(book.loaded(RuleKind::Delete));
    EXPECT_TRUE(listEmpty(book.head(RuleKind::Delete)));
    ASSERT_EQ(book.save(t.env, RuleKind::Delete, tabs), Err::None);
    EXPECT_EQ(file(RuleKind::Delete), "<missing>");

    install(RuleKind::Send, "send_split.txt");
    // Loading once per kind: a second load does not read the file again.
    t.write("Filter_Send.txt", "");
    ASSERT_EQ(book.load(t.env, RuleKind::Send, tabs, kStaleMonths), Err::None);
    ASSERT_EQ(listSize(book.head(RuleKind::Send)), 1u);
    // The last rule removed: the file goes.
    book.remove(RuleKind::Send, book.head(RuleKind::Send).next);
    ASSERT_EQ(book.save(t.env, RuleKind::Send, tabs), Err::None);
    EXPECT_EQ(file(RuleKind::Send), "<missing>");
}

TEST_F(RuleFiles, AFileThatCouldNotBeReadIsNeverRewritten) {
    // A folder where the file should be: it exists and cannot be read.
    ASSERT_EQ(t.fs->makeDir(t.path("Filter_Receive.txt")), Err::None);
    EXPECT_NE(book.load(t.env, RuleKind::Receive, tabs, kStaleMonths), Err::None);
    EXPECT_TRUE(book.loadFailed(RuleKind::Receive));
    EXPECT_FALSE(book.loaded(RuleKind::Receive));
    book.addAtFileEnd(RuleKind::Receive, new Rule(ruleWith("markCond=1 setRead=1")));
    ASSERT_EQ(book.saveAll(t.env, tabs), Err::None);
    EXPECT_TRUE(t.fs->isDir(t.path("Filter_Receive.txt")));
    EXPECT_EQ(t.read("Filter_Receive.txt.new"), "<missing>");
}

TEST_F(RuleFiles, SavingCleansTextsAndRefusesBrokenRules) {
    install(RuleKind::Receive, "template_reply.txt");  // read as a receive file: a tab id "0"
    ASSERT_EQ(book.state(book.head(RuleKind::Receive).next), RuleState::Unreadable);
    Rule* spam = new Rule(ruleWith("item1=3 mode1=1"));
    sjis::copyField(spam->keyword1, "当選\r\n のお知らせ\x01");  // a folded, decoded header
    spam->targetTab = tabs.tab(0);
    book.addAtFileEnd(RuleKind::Receive, spam);
    ASSERT_EQ(book.save(t.env, RuleKind::Receive, tabs), Err::None);
    EXPECT_STREQ(spam->keyword1, "当選 のお知らせ");
    EXPECT_EQ(file(RuleKind::Receive), test::readTestData("rules/template_reply.txt") +
                                           ruleLines("131当選 のお知らせ|\n100|\n\n"));

    const std::string before = file(RuleKind::Receive);
    spam->colourCond = 16;
    EXPECT_EQ(book.save(t.env, RuleKind::Receive, tabs), Err::Invalid);
    spam->colourCond = 0;
    tabs.drop(0);  // the target tab went away
    EXPECT_EQ(book.save(t.env, RuleKind::Receive, tabs), Err::Invalid);
    EXPECT_EQ(file(RuleKind::Receive), before);
}

TEST_F(RuleFiles, SaveFailureAtAnyStepKeepsTheOldOrTheNewFile) {
    install(RuleKind::Receive, "all_tags.txt");
    const std::string old = file(RuleKind::Receive);
    book.remove(RuleKind::Receive, book.head(RuleKind::Receive).next);
    ASSERT_EQ(book.save(t.env, RuleKind::Receive, tabs), Err::None);
    const std::string saved = file(RuleKind::Receive);
    ASSERT_NE(saved, old);
    test::FailingFileSystem failing(*t.fs);
    test::EnvOver over(t, failing);
    test::failEachStep(
        failing, [&] { t.write(ruleFileName(RuleKind::Receive), old); },
        [&](int n) {
            const Err e = book.save(over.env, RuleKind::Receive, tabs);
            EXPECT_EQ(file(RuleKind::Receive), e == Err::None ? saved : old) << n;
            EXPECT_EQ(e != Err::None, failing.failed()) << n;  // no failure passes as success
        });
}

}  // namespace
}  // namespace kolvy::rules
