#include "rules/rule_text.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/list.h"
#include "core/sjis.h"
#include "rules/fake_tabs_test.h"
#include "tests/support/test_env.h"

namespace kolvy::rules {
namespace {

Rule blank() {
    Rule r;
    clearRule(r);
    return r;
}

class RuleText : public ::testing::Test {
  protected:
    void SetUp() override {
        t.clock.setLocal(2024, 12, 5);
        t.write("Filter_Receive.txt", test::readTestData("rules/all_tags.txt"));
        t.write("Filter_Reply.txt", test::readTestData("rules/template_reply.txt"));
        t.write("Filter_Send.txt", test::readTestData("rules/send_split.txt"));
        ASSERT_EQ(book.loadAll(t.env, tabs, 3), Err::None);
    }
    test::TestEnv t;
    FakeTabs tabs;
    RuleBook book;
};

TEST_F(RuleText, SummariesOfTheGoldenRules) {
    const auto rules = book.inFileOrder(RuleKind::Receive);
    ASSERT_EQ(rules.size(), 4u);
    EXPECT_EQ(ruleSummary(RuleKind::Receive, *rules[0], tabs),
              "「 Recieved: 」に \"example.jp\"が含まれる場合、"
              "または「 その他の部分（ヘッダ） 」に \"広告ソ表\"が含まれない場合、"
              "サイズが 500KB 以上ある場合、"
              "アイテムがマーク付きの場合、アイテムが黒色の場合、日本語が全く含まれていない場合、"
              "既読の場合、未読の場合、受信日時が1年より古い場合"
              " → "
              "「 ソフト表 」タブにコピーする。"
              "サーバにデータを残す（ヘッダ＋20行だけダウロードする）。"
              "マークを付ける。緑色を付ける。分割して送信する。既読にする。"
              "雛形「 返信用 」で返信メールを作成し「 仕事 」タブに入れる。"
              "「 添付ファイルとして転送 」で転送メールを作成し「 転送済み 」タブに入れる。"
              "転送元「転送元の名前」、転送先「fwd@example.jp」");
    EXPECT_EQ(ruleSummary(RuleKind::Receive, *rules[1], tabs),
              "「 本文 」に \"本文キーワード\"が含まれる場合、"
              "かつ「 X-ML-Name: 」に \"ML\"が含まれる場合、"
              "本文の文字数が 1000文字 以上ある場合"
              " → ダウンロードしないで削除する。ダウンロードしない。");
    EXPECT_EQ(ruleSummary(RuleKind::Receive, *rules[2], tabs),
              "日本語が全く含まれていない場合、 → 「 仕事 」タブに移動する。");
    EXPECT_EQ(ruleSummary(RuleKind::Receive, *rules[3], tabs),
              "「 From:（コメント） 」に \"太郎\"が含まれない場合、受信日時が2ヶ月より古い場合"
              " → マークを付ける。赤色を付ける。");
    EXPECT_EQ(ruleSummary(RuleKind::Reply, *book.head(RuleKind::Reply).next, tabs),
              "「 Subject: 」に \"Re:\"が含まれる場合、 → 「 お礼の雛型 」雛型を使用する。");
    EXPECT_EQ(ruleSummary(RuleKind::Send, *book.head(RuleKind::Send).next, tabs),
              "サイズが 100KB 以上ある場合、 → 分割して送信する。");
    Rule r = blank();
    r.bodyChars = 50;
    r.bodyCountsControl = 1;
    r.leaveOnServer = 1;
    EXPECT_EQ(ruleSummary(RuleKind::Receive, r, tabs),
              "本文の文字数（制御文字も含む）が 50文字 以上ある場合 → サーバにデータを残す。");
}

TEST_F(RuleText, KeptRulesSayTheyAreNotUsed) {
    t.write("Filter_Delete.txt", "C\x01\n8\x01\n\n");
    RuleBook other;
    ASSERT_EQ(other.load(t.env, RuleKind::Delete, tabs, 3), Err::None);
    ASSERT_FALSE(listEmpty(other.head(RuleKind::Delete)));
    EXPECT_EQ(ruleSummary(other, RuleKind::Delete, *other.head(RuleKind::Delete).next, tabs),
              kKeptRuleSummary);
    EXPECT_NE(ruleSummary(book, RuleKind::Send, *book.head(RuleKind::Send).next, tabs),
              kKeptRuleSummary);
}

TEST(RuleChecks, CombinationsThatAreRefused) {
    Tab* tab = reinterpret_cast<Tab*>(&tab);
    const struct {
        RuleKind kind;
        std::function<void(Rule&)> make;
        const char* refusal;  // null = accepted
    } cases[] = {
        {RuleKind::Receive, [](Rule& r) { r.setRead = 1; }, kNoConditionText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.bodyCountsControl = 1;
             r.setRead = 1;
         },
         kNoConditionText},
        {RuleKind::Receive, [](Rule& r) { r.markCond = 1; }, kNoActionText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.sizeKB = 1;
             r.bodyChars = 1;
             r.setRead = 1;
         },
         kSizeAndLengthText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.markCond = 1;
             r.setMark = 1;
         },
         kMarkOnMarkedText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.colourCond = 3;
             r.setColour = 3;
         },
         kSameColourText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.colourCond = 3;
             r.setColour = 4;
         },
         nullptr},
        {RuleKind::Receive,
         [tab](Rule& r) {
             r.readCond = 1;
             r.deleteUnread = 1;
             r.targetTab = tab;
         },
         kDeleteWithMoveText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.readCond = 1;
             r.deleteUnread = 1;
             r.setMark = 1;
         },
         kDeleteWithOthersText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.readCond = 1;
             r.deleteUnread = 1;
             r.noDownload = 1;
         },
         kDeleteWithOthersText},
        {RuleKind::Receive,
         [tab](Rule& r) {
             r.readCond = 1;
             r.noDownload = 1;
             r.targetTab = tab;
         },
         kNoDownloadWithMoveText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.readCond = 1;
             r.noDownload = 1;
             r.setColour = 2;
         },
         kNoDownloadWithOthersText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.readCond = 1;
             r.noDownload = 1;
             r.leaveOnServer = 1;
         },
         kLeaveAndNoDownloadText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.readCond = 1;
             r.deleteUnread = 1;
             r.headLines = 1;
         },
         kLeaveAndDeleteText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.readCond = 1;
             r.noDownload = 1;
             r.setRead = 1;
         },
         kReadWithoutDownloadText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.readCond = 1;
             r.deleteUnread = 1;
         },
         nullptr},
        {RuleKind::Send,
         [](Rule& r) {
             r.readCond = 1;
             r.split = 1;
         },
         kSplitNeedsSizeText},
        {RuleKind::Send,
         [](Rule& r) {
             r.sizeKB = 100;
             r.split = 1;
         },
         nullptr},
        {RuleKind::Send,
         [](Rule& r) {
             r.bodyChars = 100;
             r.split = 1;
         },
         nullptr},
        {RuleKind::Send,
         [tab](Rule& r) {
             r.sizeKB = 100;
             r.split = 1;
             r.targetTab = tab;
         },
         kSizeOnlySplitsText},
        {RuleKind::Send,
         [](Rule& r) {
             r.bodyChars = 10;
             r.setRead = 1;
         },
         kSizeOnlySplitsText},
        {RuleKind::Receive,
         [](Rule& r) {
             r.sizeKB = 100;
             r.setRead = 1;
         },
         nullptr},
        {RuleKind::Reply,
         [](Rule& r) {
             r.item1 = 3;
             r.mode1 = 1;
             sjis::copyField(r.keyword1, "x");
             sjis::copyField(r.templateName, "t");
         },
         nullptr},
        {RuleKind::Reply,
         [tab](Rule& r) {
             r.readCond = 1;
             r.targetTab = tab;
         },
         kNoActionText},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Rule r = blank();
        cases[i].make(r);
        const RuleCheck c = checkRule(cases[i].kind, r);
        if (cases[i].refusal) {
            EXPECT_FALSE(c.ok) << i;
            EXPECT_EQ(c.text, cases[i].refusal) << i;
        } else {
            EXPECT_TRUE(c.ok) << i << ": " << c.text;
        }
    }
}

TEST_F(RuleText, EqualAndRelatedConditions) {
    const auto rules = book.inFileOrder(RuleKind::Receive);
    Rule same = *rules[1];
    same.next = same.prev = nullptr;
    same.setRead = 1;  // actions do not count
    RuleCheck c = checkAgainstList(book, RuleKind::Receive, same, nullptr);
    EXPECT_FALSE(c.ok);
    EXPECT_FALSE(c.ask);
    EXPECT_EQ(c.text, kSameConditionsText);
    EXPECT_EQ(c.other, rules[1]);
    // Changing that rule itself is no clash.
    EXPECT_TRUE(checkAgainstList(book, RuleKind::Receive, same, rules[1]).ok);

    Rule wider = same;
    sjis::copyField(wider.keyword1, "キーワード");  // found inside the stored keyword
    c = checkAgainstList(book, RuleKind::Receive, wider, nullptr);
    EXPECT_FALSE(c.ok);
    EXPECT_TRUE(c.ask);
    EXPECT_EQ(c.text, kRelatedConditionsText);
    EXPECT_EQ(c.other, rules[1]);

    Rule narrower = same;
    sjis::copyField(narrower.keyword2, "MLX");  // contains the stored one
    EXPECT_EQ(compareConditions(narrower, *rules[1]), ConditionRelation::Related);
    Rule other = same;
    sjis::copyField(other.keyword1, "別");
    EXPECT_EQ(compareConditions(other, *rules[1]), ConditionRelation::Different);
    Rule moreConditions = same;
    moreConditions.unreadCond = 1;
    EXPECT_EQ(compareConditions(moreConditions, *rules[1]), ConditionRelation::Different);
    // A trail byte is not a match: "ア" is 83 41, "A" must not be found in it.
    Rule a = blank();
    a.item1 = 3;
    a.mode1 = 1;
    sjis::copyField(a.keyword1, "ア");
    Rule b = a;
    sjis::copyField(b.keyword1, "A");
    EXPECT_EQ(compareConditions(a, b), ConditionRelation::Different);
    EXPECT_TRUE(checkAgainstList(book, RuleKind::Receive, a, nullptr).ok);
}

}  // namespace
}  // namespace kolvy::rules
