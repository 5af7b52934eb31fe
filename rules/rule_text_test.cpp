#include "rules/rule_text.h"

#include <gtest/gtest.h>

#include "core/list.h"
#include "core/sjis.h"
#include "rules/fake_tabs_test.h"
#include "tests/support/test_env.h"

namespace kolvy::rules {
namespace {

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
    const Rule r = ruleWith("bodyChars=50 bodyCountsControl=1 leaveOnServer=1");
    EXPECT_EQ(ruleSummary(RuleKind::Receive, r, tabs),
              "本文の文字数（制御文字も含む）が 50文字 以上ある場合 → サーバにデータを残す。");
}

TEST_F(RuleText, KeptRulesSayTheyAreNotUsed) {
    t.write("Filter_Delete.txt", ruleLines("C|\n8|\n\n"));
    RuleBook other;
    ASSERT_EQ(other.load(t.env, RuleKind::Delete, tabs, 3), Err::None);
    ASSERT_FALSE(listEmpty(other.head(RuleKind::Delete)));
    EXPECT_EQ(ruleSummary(other, RuleKind::Delete, *other.head(RuleKind::Delete).next, tabs),
              kKeptRuleSummary);
    EXPECT_NE(ruleSummary(book, RuleKind::Send, *book.head(RuleKind::Send).next, tabs),
              kKeptRuleSummary);
}

TEST(RuleChecks, CombinationsThatAreRefused) {
    const struct {
        RuleKind kind;
        const char* fields;
        const char* refusal;  // null = accepted
    } cases[] = {
        {RuleKind::Receive, "setRead=1", kNoConditionText},
        {RuleKind::Receive, "bodyCountsControl=1 setRead=1", kNoConditionText},
        {RuleKind::Receive, "markCond=1", kNoActionText},
        {RuleKind::Receive, "sizeKB=1 bodyChars=1 setRead=1", kSizeAndLengthText},
        {RuleKind::Receive, "markCond=1 setMark=1", kMarkOnMarkedText},
        {RuleKind::Receive, "colourCond=3 setColour=3", kSameColourText},
        {RuleKind::Receive, "colourCond=3 setColour=4", nullptr},
        {RuleKind::Receive, "readCond=1 deleteUnread=1 targetTab=1", kDeleteWithMoveText},
        {RuleKind::Receive, "readCond=1 deleteUnread=1 setMark=1", kDeleteWithOthersText},
        {RuleKind::Receive, "readCond=1 deleteUnread=1 noDownload=1", kDeleteWithOthersText},
        {RuleKind::Receive, "readCond=1 noDownload=1 targetTab=1", kNoDownloadWithMoveText},
        {RuleKind::Receive, "readCond=1 noDownload=1 setColour=2", kNoDownloadWithOthersText},
        {RuleKind::Receive, "readCond=1 noDownload=1 leaveOnServer=1", kLeaveAndNoDownloadText},
        {RuleKind::Receive, "readCond=1 deleteUnread=1 headLines=1", kLeaveAndDeleteText},
        {RuleKind::Receive, "readCond=1 noDownload=1 setRead=1", kReadWithoutDownloadText},
        {RuleKind::Receive, "readCond=1 deleteUnread=1", nullptr},
        {RuleKind::Send, "readCond=1 split=1", kSplitNeedsSizeText},
        {RuleKind::Send, "sizeKB=100 split=1", nullptr},
        {RuleKind::Send, "bodyChars=100 split=1", nullptr},
        {RuleKind::Send, "sizeKB=100 split=1 targetTab=1", kSizeOnlySplitsText},
        {RuleKind::Send, "bodyChars=10 setRead=1", kSizeOnlySplitsText},
        {RuleKind::Receive, "sizeKB=100 setRead=1", nullptr},
        {RuleKind::Reply, "item1=3 mode1=1 keyword1=x templateName=t", nullptr},
        {RuleKind::Reply, "readCond=1 targetTab=1", kNoActionText},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        const RuleCheck check = checkRule(c.kind, ruleWith(c.fields));
        EXPECT_EQ(check.ok, c.refusal == nullptr) << check.text;
        if (c.refusal) {
            EXPECT_EQ(check.text, c.refusal);
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
    const Rule a = ruleWith("item1=3 mode1=1 keyword1=ア"),
               b = ruleWith("item1=3 mode1=1 keyword1=A");
    EXPECT_EQ(compareConditions(a, b), ConditionRelation::Different);
    EXPECT_TRUE(checkAgainstList(book, RuleKind::Receive, a, nullptr).ok);
}

}  // namespace
}  // namespace kolvy::rules
