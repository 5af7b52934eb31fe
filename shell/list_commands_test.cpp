#include "shell/list_commands.h"

#include <gtest/gtest.h>

#include "compose/check.h"
#include "shell/command_ids.h"
#include "store/store_test_util.h"

namespace kolvy::shell {
namespace {

using K = ListCommand::Kind;

// Each command id reaches the store operation whose effect the list shows; the colour commands
// are checked through the attribute result so that 40064 really paints colour 1.
TEST(ListCommands, EachCommandRunsItsStoreOperation) {
    struct Case {
        int id;
        K kind;
        int op;
        bool choose;
    };
    const Case cases[] = {
        {cmd::kMoveToTab, K::Pass, 0, true},
        {cmd::kCopyToTab, K::Pass, 1, true},
        {cmd::kDelete, K::Pass, 2, false},
        {cmd::kDeleteCompletely, K::Pass, 3, false},
        {cmd::kEmptyTrash, K::EmptyTrash, 5, false},
        {cmd::kMarkUnread, K::Attribute, store::kOpUnread, false},
        {cmd::kMarkRead, K::Attribute, store::kOpRead, false},
        {cmd::kMarkAllRead, K::Attribute, store::kOpAllRead, false},
        {cmd::kToggleMark, K::Attribute, store::kOpMark, false},
        {cmd::kColourFirst, K::Attribute, store::kOpFirstColour, false},
        {cmd::kColourLast, K::Attribute, store::kOpLastColour, false},
        {cmd::kColourNone, K::Attribute, store::kOpNoColour, false},
        {cmd::kMakeDraft, K::Attribute, store::kOpDraft, false},
        {cmd::kMakeWaiting, K::Attribute, store::kOpWaiting, false},
    };
    for (const Case& c : cases) {
        const auto got = listCommandOf(c.id);
        ASSERT_TRUE(got) << c.id;
        EXPECT_EQ(got->kind, c.kind) << c.id;
        EXPECT_EQ(got->op, c.op) << c.id;
        EXPECT_EQ(got->chooseTab(), c.choose) << c.id;
    }
    for (int id : {cmd::kSort, cmd::kAttach, cmd::kToolBarSettings, cmd::kJoinSplit, 40083, 40087})
        EXPECT_FALSE(listCommandOf(id)) << id;
    // The whole colour range, through what the store makes of it: colour n = command 40063 + n.
    for (int n = 1; n <= 14; ++n) {
        const auto c = listCommandOf(cmd::kColourFirst + n - 1);
        ASSERT_TRUE(c);
        const auto bytes = store::attributeResult(c->op, 3, 0x00);
        ASSERT_TRUE(bytes) << n;
        EXPECT_EQ(bytes->markColour & 0x0F, n);
    }
    const auto read = store::attributeResult(listCommandOf(cmd::kMarkRead)->op, 0, 0);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->state, 3);
}

TEST(ListCommands, RowNumbersFromTheNumberColumn) {
    const std::pair<std::string_view, std::optional<int>> cases[] = {
        {"0012", 12},          {" 0012", 12},        {"9999", 9999},
        {"0000", 0},           {"", std::nullopt},   {" ", std::nullopt},
        {"12a", std::nullopt}, {"-1", std::nullopt}, {"10000", std::nullopt},
    };
    for (const auto& [text, want] : cases)
        EXPECT_EQ(rowNumber(text), want) << "[" << text << "]";
}

TEST(ListCommands, SelectedNumbersBecomeItemsInTabOrder) {
    test::TestEnv t;
    store::testing::TabFixture f(t);
    f.setBytes(store::testing::indexImage(
        {store::testing::record(0), store::testing::record(3), store::testing::record(7)}));
    f.tab->nextFileNo = 8;
    ASSERT_EQ(store::readWholeIndex(t.env, *f.tab, {}), Err::None);
    const int numbers[] = {7, 0, 5, 7};
    const auto items = itemsWithNumbers(*f.tab, numbers);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(store::itemNumber(*items[0]), 0);
    EXPECT_EQ(store::itemNumber(*items[1]), 7);
    EXPECT_TRUE(itemsWithNumbers(*f.tab, {}).empty());
}

TEST(ListCommands, TabChoicesAreTheOtherTabsWithTheirKinds) {
    test::TestEnv t;
    store::TabRegistry tabs;
    ASSERT_TRUE(tabs.load(t.env));
    Tab* receive = tabs.basicTab(store::kReceiveTab);
    ASSERT_NE(receive, nullptr);
    const auto choices = tabChoices(tabs, *receive);
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(tabChoiceText(*choices[0]), "送信（送信）");
    EXPECT_EQ(tabChoiceText(*choices[1]), "ごみ箱（ゴミ箱）");
    EXPECT_EQ(tabChoiceText(*receive), "受信（受信）");
}

// A stored draft holds the headers the composer set; only what keeps it from being sent refuses.
TEST(ListCommands, DraftsThatMayWaitAgain) {
    const std::string status = "\x0C st=1.2.0.0 dt=0000000000 at=not               \r\n";
    const std::string good =
        "From: me@example.jp\r\nTo: Bob <bob@example.com>\r\nSubject: 件名\r\n"
        "Date: Mon, 7 Dec 2026 10:00:00 +0900\r\n"
        "In-Reply-To: <q1@example.com>\r\n\r\n本文\r\n";
    EXPECT_FALSE(waitingDraftFault(status + good));
    // The check reads only the first bytes of the file: a body cut off there is no fault.
    EXPECT_FALSE(waitingDraftFault((status + good).substr(0, store::kDraftCheckBytes)));

    struct Case {
        std::string header;
        std::string wantHeader;
        std::string_view reasonStart;
    };
    const Case cases[] = {
        {"From: me@example.jp\r\nSubject: s\r\n", "To:", "が無いか"},
        {"To: bob@example.com\r\nSubject: s\r\n", "From:", "が無いか"},
        {"From: me@example.jp\r\nTo: bob@example.com\r\n", "Subject:", "が無いか"},
        {"From: me@example.jp\r\nTo: bob@example.com\r\nCc: nobody\r\nSubject: s\r\n",
         "Cc:", "ヘッダが空欄か"},
        {"From: me@example.jp\r\nTo: Bob\r\nSubject: s\r\n", "To:", "ヘッダが空欄か"},
        {"From: me@example.jp\r\nTo: bob@example.com\r\nSubject: s\r\nSubject: t\r\n", "ヘッダ",
         compose::kDuplicateHeaders},
    };
    for (const Case& c : cases) {
        const auto fault = waitingDraftFault(status + c.header + "\r\nbody\r\n");
        ASSERT_TRUE(fault) << c.header;
        EXPECT_EQ(fault->header, c.wantHeader) << c.header;
        EXPECT_TRUE(fault->reason.starts_with(c.reasonStart)) << fault->reason;
    }
}

TEST(ListCommands, OpeningAMessage) {
    Tab receive{}, send{}, trash{};
    receive.kind = store::kReceiveTab;
    send.kind = store::kSendTab;
    trash.kind = store::kTrashTab;
    struct Case {
        const Tab* tab;
        uint8_t state;
        std::string_view viewer;
        OpenWith want;
    };
    const Case cases[] = {
        {&receive, 0, "", OpenWith::Associated}, {&receive, 3, "V.exe", OpenWith::Viewer},
        {&send, 16, "V.exe", OpenWith::Editor},  {&send, 19, "", OpenWith::Editor},
        {&send, 20, "", OpenWith::Associated},   {&send, 21, "V.exe", OpenWith::Viewer},
        {&trash, 16, "V.exe", OpenWith::Viewer}, {&trash, 18, "", OpenWith::Associated},
        {&trash, 0, "V.exe", OpenWith::Viewer},
    };
    for (const Case& c : cases) {
        MailItem m{};
        m.state = c.state;
        EXPECT_EQ(openWith(*c.tab, m, c.viewer), c.want) << int(c.state) << " " << c.tab->kind;
    }
    MailItem sent{}, received{};
    sent.state = 20;
    received.state = 6;
    EXPECT_EQ(viewerCommandLine("C:\\V\\view.exe", "C:\\K\\MailData\\送信\\0002.txt", sent),
              "C:\\V\\view.exe C:\\K\\MailData\\送信\\0002.txt,1");
    EXPECT_EQ(viewerCommandLine("view.exe", "a.txt", received), "view.exe a.txt,0");
}

}  // namespace
}  // namespace kolvy::shell

namespace kolvy::shell {
namespace {

TEST(ListCommands, MailtoTexts) {
    struct Case {
        std::string_view text;
        MailtoRequest want;
    };
    const Case cases[] = {
        {"bob@example.com", {"bob@example.com", "", "", ""}},
        {"bob@example.com?subject=Hello%20there&body=50%25%2c%20ok%3F",
         {"bob@example.com", "", "Hello there", "50%, ok?"}},
        // "&amp;" is one separator; names in either case; unknown parameters skipped.
        {"bob@example.com?SUBJECT=a&amp;CC=c@example.com&x-y=z&Body=b",
         {"bob@example.com", "c@example.com", "a", "b"}},
        // No "@" before the parameters: the recipient comes from to=.
        {"?to=ann@example.jp&subject=件名", {"ann@example.jp", "", "件名", ""}},
        // The recipient stops at a character no address holds.
        {"bob@example.com>junk?subject=s", {"bob@example.com", "", "s", ""}},
        // Other escapes stay as they are; double-byte characters are taken whole.
        {"a@b.jp?body=%41%0D%0A表示", {"a@b.jp", "", "", "%41%0D%0A表示"}},
        {"", {"", "", "", ""}},
    };
    for (const Case& c : cases) {
        const MailtoRequest m = parseMailto(c.text);
        EXPECT_EQ(m.to, c.want.to) << c.text;
        EXPECT_EQ(m.cc, c.want.cc) << c.text;
        EXPECT_EQ(m.subject, c.want.subject) << c.text;
        EXPECT_EQ(m.body, c.want.body) << c.text;
    }
}

TEST(ListCommands, PreparedDraftForAnAddress) {
    EXPECT_EQ(preparedDraft({"bob@example.com", "", "件名", "本文"}, "Me", "me@example.jp"),
              "To: <bob@example.com>\r\nFrom: Me <me@example.jp>\r\nSubject: 件名\r\n\r\n本文\r\n");
    EXPECT_EQ(preparedDraft({"b@x.jp", "c@x.jp", "", ""}, "Me", "me@x.jp"),
              "To: <b@x.jp>\r\nFrom: Me <me@x.jp>\r\nSubject: \r\nCc: c@x.jp\r\n\r\n\r\n");
}

}  // namespace
}  // namespace kolvy::shell
