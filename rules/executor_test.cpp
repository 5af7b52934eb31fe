#include "rules/executor.h"

#include <gtest/gtest.h>

#include <map>

#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "rules/fake_tabs_test.h"
#include "rules/head_reader_test.h"
#include "rules/sort.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"

namespace kolvy::rules {
namespace {

// One stored message: its file as the store writes it and its row.
struct Mail {
    std::string subject, from, body, extra;
    uint8_t state = 0;
    uint8_t markColour = 0;
};

std::string fileText(const Mail& m) {
    store::StatusLine s;
    s.state = m.state;
    s.markColour = m.markColour;
    return store::formatStatusLine(s) + "From: " + m.from +
           "\r\nTo: me@example.jp\r\nSubject: " + m.subject + "\r\n" + m.extra + "\r\n" + m.body +
           "\r\n";
}

// Records of an index file as they are on disk.
struct Row {
    int number;
    uint8_t state, markColour;
    std::string subject;
};
std::vector<Row> diskRows(Env& env, const Tab& tab) {
    std::vector<Row> rows;
    auto image = platform::readWholeFile(env.fs, store::indexPath(env, tab));
    if (!image) return rows;
    size_t pos = store::kIndexHeaderSize;
    store::RecordView v;
    while (pos < image->size() && store::parseRecord(*image, pos, v)) {
        rows.push_back({v.fileNo, v.state, v.markColour, std::string(v.texts[2])});
        pos += v.length;
    }
    EXPECT_EQ(pos, image->size()) << store::tabName(tab);
    return rows;
}
std::vector<std::string> subjects(const std::vector<Row>& rows) {
    std::vector<std::string> out;
    for (const Row& r : rows)
        out.push_back(r.subject);
    return out;
}

class RecordingResponder final : public AutoResponder {
  public:
    bool reply(const AutoRequest& r) override {
        replies.push_back(r);
        return answer;
    }
    bool forward(const AutoRequest& r) override {
        forwards.push_back(r);
        return answer;
    }
    std::vector<AutoRequest> replies, forwards;
    bool answer = true;
};

class Executor : public ::testing::Test {
  protected:
    void SetUp() override {
        t.clock.setLocal(2024, 12, 5, 10, 0);
        ASSERT_TRUE(registry.load(t.env));
        inbox = registry.basicTab(store::kReceiveTab);
        outbox = registry.basicTab(store::kSendTab);
        trash = registry.basicTab(store::kTrashTab);
        work = *registry.create(t.env, store::CreateMode::NewTab, "仕事");
        keep = *registry.create(t.env, store::CreateMode::NewTab, "保存");
        ASSERT_EQ(store::readIndex(t.env, *inbox, {}), Err::None);
        ASSERT_EQ(book.load(t.env, RuleKind::Command, tabs, 3), Err::None);
        ASSERT_EQ(book.load(t.env, RuleKind::Send, tabs, 3), Err::None);
    }
    MailItem* store(const Mail& m, Tab* into = nullptr) {
        Tab& tab = into ? *into : *inbox;
        store::IndexRecord r;
        r.state = m.state;
        r.markColour = m.markColour;
        r.storedTime = static_cast<uint32_t>(t.clock.now());
        r.account = mail::kUnmatchedAccount;
        r.texts[0] = m.from;
        r.texts[1] = m.from;
        r.texts[2] = m.subject;
        auto item = store::storeMessage(t.env, tab, fileText(m), r, {});
        EXPECT_TRUE(item);
        return item ? *item : nullptr;
    }
    // A rule whose first text condition is "contained".
    Rule* rule(RuleKind kind, const std::string& fields) {
        auto* r = new Rule(ruleWith("mode1=1 " + fields));
        book.addAtFileEnd(kind, r);
        return r;
    }
    ApplyOutcome apply(Tab& tab, ApplyMode mode = ApplyMode::Command) {
        return applyRulesToTab(t.env, book, tab, mode, reader, options);
    }

    test::TestEnv t;
    store::TabRegistry registry;
    RegistryTabs tabs{registry};
    Tab *inbox = nullptr, *outbox = nullptr, *trash = nullptr, *work = nullptr, *keep = nullptr;
    RuleBook book;
    HeadReader reader;
    ApplyOptions options;
};

TEST_F(Executor, TheCommandRulesMoveExactlyTheMessagesTheySelect) {
    Rule* bills = rule(RuleKind::Command, "item1=3 keyword1=請求");
    bills->targetTab = work;
    Rule* lists = rule(RuleKind::Command, "item1=1 keyword1=@list.example moveOrCopy=1 setMark=1");
    lists->targetTab = keep;
    Rule* urgent = rule(RuleKind::Command, "item1=5 keyword1=至急 setColour=3 setRead=1");
    rule(RuleKind::Command, "item1=3 keyword1=自分 setMark=1")->targetTab = inbox;

    store({"請求書のお知らせ", "shop@example.com", "金額です", ""});
    store({"週報", "news@list.example", "今週の話題", ""});
    store({"確認", "boss@example.jp", "至急お願いします", ""});
    store({"請求の件", "news@list.example", "本文", ""});  // two rules: the top one decides
    store({"雑談", "friend@example.jp", "やあ", ""});
    store({"自分宛", "me@example.jp", "メモ", "", 3});

    const ApplyOutcome o = apply(*inbox);
    ASSERT_TRUE(o.ok());
    EXPECT_EQ(o.messages, 6);
    EXPECT_EQ(o.fileReads, 6);
    EXPECT_EQ(reader.reads, 6);
    EXPECT_EQ(o.matched, 5);
    EXPECT_EQ(o.pass.moved, 2);
    EXPECT_EQ(o.pass.copied, 1);

    // Read back from disk.
    const auto in = diskRows(t.env, *inbox);
    EXPECT_EQ(subjects(in), (std::vector<std::string>{"週報", "確認", "雑談", "自分宛"}));
    EXPECT_EQ(subjects(diskRows(t.env, *work)),
              (std::vector<std::string>{"請求書のお知らせ", "請求の件"}));
    const auto kept = diskRows(t.env, *keep);
    EXPECT_EQ(subjects(kept), std::vector<std::string>{"週報"});
    // Marked before it was copied: both copies carry the mark, file and index alike.
    EXPECT_EQ(in[0].markColour, store::kMarkBit);
    EXPECT_EQ(kept[0].markColour, store::kMarkBit);
    EXPECT_EQ(t.read("MailData\\保存\\0000.txt")[9], '1');
    // The top rule's actions only: the message the list rule also matched is not marked.
    EXPECT_EQ(diskRows(t.env, *work)[1].markColour, 0);
    // Colour and read.
    EXPECT_EQ(in[1].markColour, 3);
    EXPECT_EQ(in[1].state, 3);
    EXPECT_EQ(t.read("MailData\\受信\\0002.txt").substr(7, 5), "3.0.3");
    // A target that is the tab itself is ignored; its other actions are not.
    EXPECT_EQ(in[3].markColour, store::kMarkBit);
    // Counters written once, agreeing with the records.
    EXPECT_EQ(t.ini->read(std::to_string(inbox->id), "AllMailCount"), "4");
    EXPECT_EQ(t.ini->read(std::to_string(inbox->id), "NoReadMailCount"), "2");
    EXPECT_EQ(t.ini->read(std::to_string(work->id), "AllMailCount"), "2");
    EXPECT_EQ(bills->appliedCount, 2);
    EXPECT_EQ(lists->appliedCount, 1);
    EXPECT_EQ(urgent->appliedCount, 1);
}

TEST_F(Executor, NothingHappensWithoutRulesOrInTheTrash) {
    store({"a", "x@example.jp", "b", ""});
    EXPECT_EQ(apply(*inbox).messages, 0);  // no command rules
    rule(RuleKind::Command, "item1=3 keyword1=a setMark=1");
    store({"a", "x@example.jp", "b", ""}, trash);
    EXPECT_EQ(apply(*trash).messages, 0);
    EXPECT_EQ(reader.reads, 0);
    EXPECT_EQ(apply(*inbox).matched, 1);
}

TEST_F(Executor, SendRulesTakeOnlyTheMailSentInThisRun) {
    ASSERT_EQ(store::readIndex(t.env, *outbox, {}), Err::None);
    rule(RuleKind::Send, "item1=3 keyword1=報告 setMark=1");
    MailItem* sentNow = store({"報告1", "me@example.jp", "x", "", 20}, outbox);
    store({"報告2", "me@example.jp", "x", "", 21}, outbox);
    MailItem* waiting = store({"報告3", "me@example.jp", "x", "", 16}, outbox);
    sentNow->sendAccount = 0;
    waiting->sendAccount = 0;
    const ApplyOutcome o = apply(*outbox, ApplyMode::Send);
    EXPECT_EQ(o.messages, 1);
    EXPECT_EQ(o.attributes, 1);
    EXPECT_EQ(sentNow->sendAccount, 101);
    const auto rows = diskRows(t.env, *outbox);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].markColour, store::kMarkBit);
    EXPECT_EQ(rows[1].markColour, 0);
    EXPECT_EQ(rows[2].markColour, 0);
    EXPECT_EQ(apply(*outbox, ApplyMode::Send).messages, 0);  // done once
}

TEST_F(Executor, AMissingMessageFileStopsTheRunAfterTheMovesDecided) {
    rule(RuleKind::Command, "item1=3 keyword1=移")->targetTab = work;
    store({"移動1", "a@example.jp", "x", ""});
    store({"移動2", "a@example.jp", "x", ""});
    store({"移動3", "a@example.jp", "x", ""});
    ASSERT_EQ(t.fs->remove(t.path("MailData\\受信\\0001.txt")), Err::None);
    const ApplyOutcome o = apply(*inbox);
    EXPECT_EQ(o.error, Err::NotFound);
    EXPECT_EQ(t.reporter.lastText(), kMessageFileUnopenable);
    EXPECT_EQ(o.pass.moved, 1);
    EXPECT_EQ(subjects(diskRows(t.env, *work)), std::vector<std::string>{"移動1"});
    EXPECT_EQ(subjects(diskRows(t.env, *inbox)), (std::vector<std::string>{"移動2", "移動3"}));
}

TEST_F(Executor, AFullTargetKeepsTheRestAndSaysSo) {
    rule(RuleKind::Command, "item1=3 keyword1=移")->targetTab = work;
    store({"移動1", "a@example.jp", "x", ""});
    store({"移動2", "a@example.jp", "x", ""});
    work->nextFileNo = 9999;
    const ApplyOutcome o = apply(*inbox);
    EXPECT_TRUE(o.ok());
    EXPECT_EQ(o.pass.moved, 1);
    EXPECT_EQ(o.pass.leftByFullTarget, 1);
    EXPECT_EQ(t.reporter.lastText(), store::kTargetFilledUp);
    EXPECT_EQ(subjects(diskRows(t.env, *work)), std::vector<std::string>{"移動1"});
    EXPECT_EQ(subjects(diskRows(t.env, *inbox)), std::vector<std::string>{"移動2"});
    EXPECT_EQ(t.ini->read(std::to_string(work->id), "NextFileNo"), "10000");
}

TEST(ResultBytes, MarkColourAndRead) {
    const struct {
        int32_t setMark, setColour, setRead;
        uint8_t state, markColour;
        int afterState, afterMarkColour;  // -1: nothing to change
    } cases[] = {
        // The bookmark (0x80) stays; marked mail is not marked again; replied mail (6) is read
        // already; outgoing mail (16) has no read state.
        {1, 0, 0, 3, 0x00, 3, 0x10},  {1, 0, 0, 3, 0x80, 3, 0x90},  {1, 0, 0, 3, 0x10, -1, -1},
        {1, 0, 0, 3, 0x90, -1, -1},   {0, 15, 0, 3, 0x95, 3, 0x90}, {0, 15, 0, 3, 0x90, -1, -1},
        {0, 14, 0, 3, 0x82, 3, 0x8E}, {0, 0, 1, 2, 0x00, 5, 0x00},  {0, 0, 1, 6, 0x00, -1, -1},
        {0, 0, 1, 16, 0x00, -1, -1},  {1, 2, 1, 0, 0x80, 3, 0x92}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.state) << " " << int(c.markColour));
        RuleResult r{};
        r.setMark = c.setMark;
        r.setColour = c.setColour;
        r.setRead = c.setRead;
        const auto b = resultBytes(r, c.state, c.markColour);
        EXPECT_EQ(b ? b->state : -1, c.afterState);
        EXPECT_EQ(b ? b->markColour : -1, c.afterMarkColour);
    }
}

TEST(StormGuard, AutomaticAndListMailIsNeverAnswered) {
    const std::vector<std::string> own = {"me@example.jp", "Other@Example.JP"};
    const struct {
        const char* header;
        const char* from;
        uint8_t state;
        AutoSkip skip;
    } cases[] = {
        {"\nSubject: q", "you@example.com", 0, AutoSkip::None},
        {"\nAuto-Submitted: no", "you@example.com", 3, AutoSkip::None},
        {"\nauto-submitted: No (a person)", "you@example.com", 3, AutoSkip::None},
        {"\nAuto-Submitted: auto-replied", "you@example.com", 0, AutoSkip::AutoSubmitted},
        {"\nAuto-Submitted: auto-generated", "you@example.com", 0, AutoSkip::AutoSubmitted},
        {"\nAuto-Submitted:\r\n  auto-notified", "you@example.com", 0, AutoSkip::AutoSubmitted},
        {"\nPrecedence: bulk", "you@example.com", 0, AutoSkip::Precedence},
        {"\nPRECEDENCE: List", "you@example.com", 0, AutoSkip::Precedence},
        {"\nPrecedence: junk", "you@example.com", 0, AutoSkip::Precedence},
        {"\nPrecedence: first-class", "you@example.com", 0, AutoSkip::None},
        {"\nList-Id: <tea.example.org>", "you@example.com", 0, AutoSkip::ListId},
        {"\nX-List-Id: x", "you@example.com", 0, AutoSkip::None},
        {"\nReturn-Path: <>", "you@example.com", 0, AutoSkip::EmptyReturnPath},
        {"\nReturn-Path: < >", "you@example.com", 0, AutoSkip::EmptyReturnPath},
        {"\nReturn-Path: <b@example.com>", "you@example.com", 0, AutoSkip::None},
        {"\nSubject: x", "MAILER-DAEMON@mx.example.com", 0, AutoSkip::MailerDaemon},
        {"\nSubject: x", "mailer-daemon", 0, AutoSkip::MailerDaemon},
        {"\nSubject: x", "me@example.jp", 0, AutoSkip::OwnAccount},
        {"\nSubject: x", "other@example.jp", 0, AutoSkip::OwnAccount},
        {"\nSubject: x", "you@example.com", 6, AutoSkip::AlreadyAnswered},
        {"\nSubject: x", "you@example.com", 11, AutoSkip::AlreadyAnswered},
        {"\nSubject: x", "you@example.com", 5, AutoSkip::None},
        // A header name inside a value does not count.
        {"\nSubject: List-Id: x", "you@example.com", 0, AutoSkip::None},
    };
    for (const auto& c : cases)
        EXPECT_EQ(autoAnswerGuard(c.header, c.from, c.state, own), c.skip) << c.header;
}

TEST_F(Executor, RuleRepliesAreRecordedOnceAndMarkedAutomatic) {
    rule(RuleKind::Command, "item1=3 keyword1=問い合わせ replyTemplate=お礼")->replyTab = outbox;
    rule(RuleKind::Command,
         "item1=3 keyword1=転送して forwardKind=2 templateName=転送用 forwardTo=boss@example.jp")
        ->forwardTab = outbox;
    RecordingResponder responder;
    options.responder = &responder;
    options.ownAddresses = {"me@example.jp"};
    store({"問い合わせ1", "you@example.com", "x", ""});
    store({"問い合わせ2", "you@example.com", "x", "Precedence: bulk\r\n"});
    store({"問い合わせ3", "you@example.com", "x", "List-Id: <a.example>\r\n"});
    store({"問い合わせ4", "you@example.com", "x", "Auto-Submitted: auto-replied\r\n"});
    store({"問い合わせ5", "you@example.com", "x", "Auto-Submitted: no\r\n"});
    store({"問い合わせ6", "you@example.com", "x", "Return-Path: <>\r\n"});
    store({"問い合わせ7", "MAILER-DAEMON@example.com", "x", ""});
    store({"問い合わせ8", "me@example.jp", "x", ""});
    store({"転送して", "you@example.com", "x", ""});
    ApplyOutcome o = apply(*inbox);
    ASSERT_TRUE(o.ok());
    ASSERT_EQ(responder.replies.size(), 2u);
    EXPECT_EQ(o.replies, 2);
    EXPECT_EQ(o.answersSkipped, 6);
    EXPECT_EQ(sjis::fieldView(responder.replies[0].item->subject), "問い合わせ1");
    EXPECT_EQ(sjis::fieldView(responder.replies[1].item->subject), "問い合わせ5");
    EXPECT_EQ(responder.replies[0].templateName, "お礼");
    EXPECT_EQ(responder.replies[0].intoTab, outbox);
    EXPECT_EQ(responder.replies[0].extraHeaders, std::vector<std::string>{kAutoRepliedHeader});
    ASSERT_EQ(responder.forwards.size(), 1u);
    EXPECT_EQ(responder.forwards[0].forwardKind, 2);
    EXPECT_EQ(responder.forwards[0].forwardTo, "boss@example.jp");
    EXPECT_EQ(responder.forwards[0].templateName, "転送用");
    EXPECT_TRUE(responder.forwards[0].extraHeaders.empty());
    // Answered mail is marked so (replied 6, forwarded 9) in file and index.
    const auto rows = diskRows(t.env, *inbox);
    EXPECT_EQ(rows[0].state, 6);
    EXPECT_EQ(rows[4].state, 6);
    EXPECT_EQ(rows[8].state, 9);
    EXPECT_EQ(rows[1].state, 0);
    EXPECT_EQ(t.read("MailData\\受信\\0000.txt")[7], '6');
    EXPECT_EQ(t.ini->read(std::to_string(inbox->id), "NoReadMailCount"), "6");
    // A second sort answers nothing again.
    o = apply(*inbox);
    EXPECT_EQ(responder.replies.size(), 2u);
    EXPECT_EQ(responder.forwards.size(), 1u);
    // A composer that fails says so.
    responder.answer = false;
    store({"問い合わせ9", "you@example.com", "x", ""});
    apply(*inbox);
    EXPECT_EQ(t.reporter.lastText(), kAutoReplyFailed);
    EXPECT_EQ(diskRows(t.env, *inbox).back().state, 0);
}

TEST(EasySpam, LinkHostsAndFallbacks) {
    const struct {
        const char* text;
        const char* host;  // null: no link
    } cases[] = {
        {"see http://www.spam.example/buy now", "spam.example"},
        {"https://shop.example.com?x=1", "shop.example.com"},
        {"HTTP://x.example", nullptr},  // the letters are lower case
        {"http without colon", nullptr},
        {"go http:host.example\r\nnext", "host.example"},
        {"\"http://q.example\" ", "q.example"},
        {"http://a.example b", "a.example"},
        {"リンク→http://日本.example/", "日本.example"},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const auto host = firstLinkHost(c.text);
        ASSERT_EQ(host.has_value(), c.host != nullptr) << c.text;
        if (host) {
            EXPECT_EQ(*host, c.host) << c.text;
        }
    }
    EXPECT_EQ(firstLinkHost("http://" + std::string(300, 'a'))->size(), 255u);

    std::string message = "From: Spam <spam@bad.example>\r\nSubject: 儲かる\x01話\r\n\r\n";
    const mime::HeadCopy head = mime::extractHead(message);
    const std::string body = "click http://www.deal.example/now";
    const TextPiece piece{body.data(), body.data() + body.size()};
    int32_t item = kItemBody;
    EXPECT_EQ(easySpamKeyword(head.info, {&piece, 1}, item, true), "deal.example");
    EXPECT_EQ(item, kItemBody);
    const std::string plain = "no links here";
    const TextPiece none{plain.data(), plain.data() + plain.size()};
    EXPECT_EQ(easySpamKeyword(head.info, {&none, 1}, item, true), "spam@bad.example");
    EXPECT_EQ(item, 1);
    item = kItemBody;
    EXPECT_EQ(easySpamKeyword(head.info, {&piece, 1}, item, false), "spam@bad.example");
    item = 3;
    // Bytes that would break the rule file are taken out.
    const std::string subject = easySpamKeyword(head.info, {}, item, true);
    EXPECT_EQ(subject.find('\x01'), std::string::npos);
    EXPECT_EQ(item, 3);
}

// ----------------------------------------------------------------------------- the command

TEST_F(Executor, TheConsoleSortRunsTheRuleFileOnANamedTab) {
    rule(RuleKind::Command, "item1=3 keyword1=請求")->targetTab = work;
    rule(RuleKind::Command, "item1=2 keyword1=Boss setMark=1");
    ASSERT_EQ(book.save(t.env, RuleKind::Command, tabs), Err::None);
    store({"請求1", "a@example.jp", "x", ""});
    store({"普通", "Boss <boss@example.jp>", "x", ""});
    store({"請求2", "a@example.jp", "x", ""});
    t.ini->write("Option", "AllDataFuriwake", "1");

    std::string out;
    const std::string folder = t.env.programFolder;
    const std::string_view args[] = {folder, "受信"};
    EXPECT_EQ(sortCommand(t.env, args, reader, out), 0);
    EXPECT_EQ(out, "sort 受信: 3 messages, 3 matched, 2 moved, 0 copied, 1 changed\n");
    EXPECT_EQ(reader.reads, 3);

    // Every index read back from disk through a fresh registry.
    store::TabRegistry again;
    ASSERT_TRUE(again.load(t.env));
    Tab* in = again.findByName("受信");
    Tab* w = again.findByName("仕事");
    ASSERT_EQ(store::readWholeIndex(t.env, *in, {}), Err::None);
    ASSERT_EQ(store::readWholeIndex(t.env, *w, {}), Err::None);
    EXPECT_EQ(subjects(diskRows(t.env, *in)), std::vector<std::string>{"普通"});
    EXPECT_EQ(subjects(diskRows(t.env, *w)), (std::vector<std::string>{"請求1", "請求2"}));
    EXPECT_EQ(in->allMailCount, 1);
    EXPECT_EQ(w->allMailCount, 2);
    EXPECT_EQ(in->items.next->markColour, store::kMarkBit);
    // The counts reached the rule file.
    RuleBook reread;
    ASSERT_EQ(reread.load(t.env, RuleKind::Command, tabs, 3), Err::None);
    const auto rules = reread.inFileOrder(RuleKind::Command);
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[0]->appliedCount, 2);
    EXPECT_EQ(rules[1]->appliedCount, 1);
    EXPECT_STREQ(rules[1]->lastApplied, "24/12/05●");

    // Wrong arguments and tabs.
    EXPECT_EQ(sortCommand(t.env, {}, reader, out), 2);
    for (std::string_view tab : {"ない", "送信"}) {
        const std::string_view wrong[] = {folder, tab};
        EXPECT_EQ(sortCommand(t.env, wrong, reader, out), 2) << tab;
    }
    // Without a name: the basic receive tab, where nothing is left to move.
    const std::string_view basic[] = {folder};
    out.clear();
    EXPECT_EQ(sortCommand(t.env, basic, reader, out), 0);
    EXPECT_EQ(out, "sort 受信: 1 messages, 1 matched, 0 moved, 0 copied, 0 changed\n");
}

TEST_F(Executor, TheSortIsRefusedDuringAReceiveRun) {
    rule(RuleKind::Command, "item1=3 keyword1=a setMark=1");
    store({"a", "x@example.jp", "b", ""});
    const ApplyOutcome o =
        sortTab(t.env, book, tabs, *inbox, reader, SortSettings{}, options, true);
    EXPECT_EQ(o.error, Err::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kSortDuringRun);
    EXPECT_EQ(reader.reads, 0);
    EXPECT_EQ(sortTab(t.env, book, tabs, *inbox, reader, SortSettings{}, options, false).matched,
              1);
}

}  // namespace
}  // namespace kolvy::rules
