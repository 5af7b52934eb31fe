// The composer with a real editor process (compose_test_editor) and scripted dialogs: drafts
// made, checked, saved and stored, the save-choice paths, full tabs, forwards of every kind,
// editing a stored draft, and the replies and forwards rules ask for.
#include <gtest/gtest.h>

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "compose/composer.h"
#include "compose/responder.h"
#include "config/accounts.h"
#include "core/list.h"
#include "core/sjis.h"
#include "mime/analyze.h"
#include "platform/fileutil.h"
#include "platform/process.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "tests/support/failing_fs.h"
#include "tests/support/power_cut_fs.h"
#include "tests/support/test_env.h"

namespace kolvy::compose {
namespace {

// A path as a process outside the platform layer opens it.
std::string processPath(std::string p) {
#if !defined(_WIN32)
    for (char& c : p)
        if (c == '\\') c = '/';
#endif
    return p;
}

struct Script final : ComposeDialogs {
    std::optional<ForwardChoice> forward = ForwardChoice{kForwardInBody, 0};
    std::vector<std::string> checks;
    bool discard = false;
    std::vector<SaveChoiceRequest> requests;
    std::vector<std::optional<SaveChoice>> saves = {SaveChoice::Waiting};
    int confirms = 0;
    bool confirm = true;
    int chooserCalls = 0;
    Tab* chosen = nullptr;

    std::optional<ForwardChoice> forwardKind(const std::vector<Template>&) override {
        return forward;
    }
    bool discardOnCheck(std::string_view text) override {
        checks.emplace_back(text);
        return discard;
    }
    std::optional<SaveChoice> saveChoice(const SaveChoiceRequest& r) override {
        requests.push_back(r);
        const size_t i = std::min(requests.size() - 1, saves.size() - 1);
        return saves[i];
    }
    bool confirmNotSaving() override {
        ++confirms;
        return confirm;
    }
    Tab* chooseTab(const std::vector<Tab*>&) override {
        ++chooserCalls;
        return chosen;
    }
};

constexpr char kSource[] =
    "From: Bob <bob@example.com>\r\nTo: Me <me@example.jp>\r\nSubject: 見積もり\r\n"
    "Message-ID: <q1@example.com>\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\n\r\n"
    "お願いします。\r\n";

class ComposerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tabs.load(t.env));
        t.ini->write("TagList", "TagAcount", "main;other");
        t.ini->write("main", "TagNo", "0");
        t.ini->write("main", "MailAddress", "me@example.jp");
        t.ini->write("main", "From", "Me");
        t.ini->write("other", "TagNo", "1");
        ASSERT_EQ(accounts.load(t.env), Err::None);
        c = std::make_unique<ComposeContext>(t.env, tabs);
        c->accounts = accounts.head().next;
        c->paneAccount = c->accounts;
        c->options.editor = KOLVY_TEST_EDITOR;
        c->options.maxEditRounds = 3;
        log = t.path("editor.log");
        test::setEnv("KOLVY_TEST_EDITOR_LOG", processPath(log));
        receive = tabs.basicTab(store::kReceiveTab);
        send = tabs.basicTab(store::kSendTab);
    }
    void actions(const std::string& a) { test::setEnv("KOLVY_TEST_EDITOR_ACTIONS", a); }
    int editorRuns() {
        const std::string text = t.read("editor.log");
        if (text == "<missing>") return 0;
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }
    // A message stored in a tab with the given state; returns its item.
    MailItem* stored(Tab& tab, std::string_view message, uint8_t state) {
        store::IndexRecord r;
        r.state = state;
        r.account = 0;
        const std::string line = store::formatStatusLine(
            {state, 0, "2612071000", state < 16, state < 16 ? "all" : "not"});
        auto item = store::storeMessage(t.env, tab, line + std::string(message), r, {});
        EXPECT_TRUE(item.ok());
        if (!tab.loadState) store::readWholeIndex(t.env, tab, {});
        MailItem* last = tab.items.prev;
        return last;
    }
    std::string file(Tab& tab, int n) {
        return t.read(std::string(store::kDataFolder) + "\\" + store::tabName(tab) + "\\" +
                      store::messageFileName(n));
    }
    std::string message(Tab& tab, int n) { return file(tab, n).substr(store::kStatusLineSize); }
    int64_t counter(Tab& tab, const char* key) {
        return platform::readInt(*t.ini, std::to_string(tab.id), key, -99);
    }
    ComposeRequest request(int mode, MailItem* item, Tab* from = nullptr) {
        ComposeRequest q;
        q.mode = mode;
        q.sourceTab = from ? from : receive;
        q.item = item;
        return q;
    }
    std::string attachment(int fileNo, std::string_view name) {
        return t.read(std::string(store::kDataFolder) + "\\" + store::tabName(*send) + "\\添付\\" +
                      store::numberDigits(fileNo) + "\\" + std::string(name));
    }
    bool tmpEmpty() {
        auto list = t.fs->list(t.path("_Tmp"));
        return !list || list->empty();
    }

    test::TestEnv t;
    store::TabRegistry tabs;
    config::AccountList accounts;
    std::unique_ptr<ComposeContext> c;
    std::string log;
    Tab* receive = nullptr;
    Tab* send = nullptr;
    Script dialogs;
};

TEST_F(ComposerTest, NewDraftEditedAndSavedAsWaiting) {
    actions("set=To=Ann <ann@example.com>");
    const ComposeOutcome out = compose(*c, dialogs, {});
    ASSERT_TRUE(out.stored);
    EXPECT_EQ(std::tuple(out.tab, out.state, editorRuns()), std::tuple(send, 16, 1));
    EXPECT_NE(t.read("editor.log").find("_Tmp"), std::string::npos);
    const std::string m = message(*send, out.fileNo);
    EXPECT_EQ(m.substr(0, m.find("Date:")),
              "From: Me <me@example.jp>\r\nTo: Ann <ann@example.com>\r\nSubject: \r\n");
    EXPECT_EQ(file(*send, out.fileNo).substr(0, 8), "\f st=1.0");
    EXPECT_EQ(counter(*send, "WaitMailCount"), 1);
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].preselected, SaveChoice::Waiting);  // changed new draft
    EXPECT_TRUE(tmpEmpty());
    ASSERT_NE(send->items.prev, &send->items);
    EXPECT_STREQ(send->items.prev->address, "ann@example.com");
}

TEST_F(ComposerTest, ReplyMarksTheSourceRepliedAndCountsUnreadOnce) {
    MailItem* src = stored(*receive, kSource, 0);
    ASSERT_EQ(receive->noReadMailCount, 1);
    actions("append=了解です");
    const ComposeOutcome out = compose(*c, dialogs, request(kComposeReply, src));
    ASSERT_TRUE(out.stored);
    const std::string m = message(*send, out.fileNo);
    EXPECT_NE(m.find("To: Bob <bob@example.com>\r\nSubject: Re: 見積もり\r\n"), std::string::npos);
    EXPECT_NE(m.find("In-Reply-To: <q1@example.com>\r\nReferences: <q1@example.com>\r\n"),
              std::string::npos);
    EXPECT_NE(m.find("Bobさん\r\n\r\n>お願いします。\r\n了解です\r\n"), std::string::npos) << m;
    EXPECT_EQ(std::tuple(src->state, receive->noReadMailCount, counter(*receive, "NoReadMailCount"),
                         file(*receive, 0)[7]),
              std::tuple(6, 0, 0, '6'));
}

TEST_F(ComposerTest, NoReplyToOutgoingMailAndForwardKeepsItsState) {
    MailItem* own =
        stored(*send, "From: me@example.jp\r\nTo: x@y.jp\r\nSubject: s\r\n\r\nb\r\n", 16);
    EXPECT_FALSE(compose(*c, dialogs, request(kComposeReply, own, send)).stored);
    EXPECT_EQ(editorRuns(), 0);
    actions("set=To=z@y.jp");
    ASSERT_TRUE(compose(*c, dialogs, request(kComposeForward, own, send)).stored);
    EXPECT_EQ(std::tuple(own->state, file(*send, 0)[7]), std::tuple(16, '0'));
}

TEST_F(ComposerTest, SaveChoicePaths) {
    using S = SaveChoice;
    const std::optional<SaveChoice> none;
    const struct {
        std::string action;
        bool renewal;
        std::optional<SaveChoice> save, thenSave;  // the answers to the save choice
        bool confirm, stored;
        uint8_t state;
        int confirms;
    } cases[] = {
        {"keep", true, S::Waiting, none, true, false, 0, 0},      // MailRenewal
        {"keep", false, S::DontSave, none, true, false, 0, 0},    // unchanged: no ask
        {"set=To=a@b.jp", false, none, none, true, false, 0, 1},  // closed dialog
        {"set=To=a@b.jp", false, S::DontSave, S::Unfinished, false, true, 18, 1},  // back to it
        {"set=To=a@b.jp", false, S::SendNow, none, true, true, 16, 0},   // no send run: waits
        {"set=To=nobody", false, S::Waiting, none, true, true, 18, 0}};  // To without "@"
    for (const auto& k : cases) {
        SCOPED_TRACE(k.action + " " + std::to_string(k.confirms));
        Script d;
        d.saves = {k.save};
        if (k.thenSave) d.saves.push_back(k.thenSave);
        d.confirm = k.confirm;
        c->options.mailRenewal = k.renewal;
        actions(k.action);
        const ComposeOutcome out = compose(*c, d, {});
        EXPECT_EQ(std::tuple(out.ok, out.stored, k.stored ? out.state : 0, d.confirms, tmpEmpty()),
                  std::tuple(true, k.stored, k.state, k.confirms, true));
        if (k.action == "set=To=nobody") {
            ASSERT_EQ(d.requests.size(), 1u);
            EXPECT_EQ(std::tuple(d.requests[0].sendEnabled, d.requests[0].preselected,
                                 d.requests[0].notice),
                      std::tuple(false, S::Unfinished,
                                 "To: ヘッダが空欄か、無効のため\n保存は『書きかけ』のみです"));
        }
    }
}

TEST_F(ComposerTest, RefusedHeaderReopensTheEditorOrIsDiscarded) {
    actions("drop=Subject;set=Subject=ok");
    dialogs.saves = {SaveChoice::Unfinished};
    EXPECT_TRUE(compose(*c, dialogs, {}).stored);
    EXPECT_EQ(editorRuns(), 2);
    EXPECT_EQ(dialogs.checks, std::vector<std::string>{"Subject: が無いか、ヘッダ同士の間に空行が"
                                                       "あります。連続して記述してください。"});
    // Discarded on the check: a header the user may not write, a sender that is no account.
    for (const std::string action : {"set=X-Mailer=me", "set=From=x@other.jp"}) {
        Script discard;
        discard.discard = true;
        actions(action);
        const ComposeOutcome out = compose(*c, discard, {});
        EXPECT_TRUE(out.ok && !out.stored && tmpEmpty()) << action;
        ASSERT_EQ(discard.checks.size(), 1u);
        if (action.find("From") != std::string::npos) {
            EXPECT_EQ(discard.checks[0], kUnknownSender);
        }
    }
}

// Neither an editor that will not start nor a header refused round after round loses the text or
// loops: the draft is kept as unfinished.
TEST_F(ComposerTest, FailedEditorOrEndlessRefusalKeepsTheDraft) {
    c->options.editor = t.path("no such editor.exe");
    ComposeOutcome out = compose(*c, dialogs, {});
    ASSERT_TRUE(out.stored);
    EXPECT_EQ(std::tuple(out.state, t.reporter.shown().size(), t.reporter.lastText()),
              std::tuple(18, 1u, kEditorFailed));
    EXPECT_NE(message(*send, out.fileNo).find("From: Me <me@example.jp>"), std::string::npos);
    c->options.editor = KOLVY_TEST_EDITOR;
    actions("drop=From");
    Script d;
    out = compose(*c, d, {});
    ASSERT_TRUE(out.stored);
    EXPECT_EQ(std::tuple(out.state, editorRuns(), d.checks.size(), counter(*send, "EditMailCount")),
              std::tuple(18, 3, 3u, 2));
}

// An editor in a folder with a blank in its name gets the draft path as one argument.
TEST_F(ComposerTest, EditorPathWithBlanks) {
    const std::string folder = t.path("my editor");
    ASSERT_EQ(platform::makeDirs(*t.fs, folder), Err::None);
#if defined(_WIN32)
    const std::string copy = folder + "\\editor.exe";
#else
    const std::string copy = folder + "\\editor";
#endif
    ASSERT_EQ(t.fs->copy(KOLVY_TEST_EDITOR, copy, true), Err::None);
#if !defined(_WIN32)
    ASSERT_EQ(std::system(("chmod +x '" + processPath(copy) + "'").c_str()), 0);
#endif
    c->options.editor = copy;
    actions("set=To=a@b.jp");
    const ComposeOutcome out = compose(*c, dialogs, {});
    ASSERT_TRUE(out.stored);
    EXPECT_EQ(editorRuns(), 1);
    EXPECT_NE(message(*send, out.fileNo).find("To: a@b.jp\r\n"), std::string::npos);
}

#if defined(_WIN32)
// With no editor set the platform's own text editor is used; it must be there to be started.
TEST(DefaultEditor, NotepadIsFound) {
    EXPECT_EQ(platform::defaultEditor(), "notepad.exe");
    char found[MAX_PATH] = {};
    EXPECT_GT(SearchPathA(nullptr, "notepad.exe", nullptr, MAX_PATH, found, nullptr), 0u);
}
#endif

TEST_F(ComposerTest, FullTabFallsBackOrKeepsTheFile) {
    auto extra = tabs.create(t.env, store::CreateMode::SendTemporary);
    ASSERT_TRUE(extra.ok());
    send->nextFileNo = store::kFileNumberLimit;
    actions("set=To=a@b.jp");
    ComposeOutcome out = compose(*c, dialogs, {});
    EXPECT_TRUE(out.stored && out.tab == *extra);
    (*extra)->nextFileNo = store::kFileNumberLimit;
    out = compose(*c, dialogs, {});
    EXPECT_FALSE(out.stored);
    ASSERT_FALSE(out.keptPath.empty());
    EXPECT_NE(test::readFile(out.keptPath).find("To: a@b.jp"), std::string::npos);
    EXPECT_NE(t.reporter.lastText().find(out.keptPath), std::string::npos);
}

TEST_F(ComposerTest, TabChoiceOrderMakeRulesThenChooserThenBasic) {
    auto extra = tabs.create(t.env, store::CreateMode::SendTemporary);
    ASSERT_TRUE(extra.ok());
    c->options.selectSendTab = true;
    actions("set=To=a@b.jp");
    dialogs.chosen = *extra;
    EXPECT_EQ(compose(*c, dialogs, {}).tab, *extra);
    EXPECT_EQ(dialogs.chooserCalls, 1);
    Tab* ruleTab = send;
    c->makeRules = [&](const SourceMessage& m, RuleResult& r) {
        EXPECT_NE(m.header().find("To: a@b.jp"), std::string_view::npos);
        r.targetTab = ruleTab;
        r.setMark = 1;
        r.setColour = 12;
        return true;
    };
    const ComposeOutcome out = compose(*c, dialogs, {});
    EXPECT_EQ(out.tab, send);
    EXPECT_EQ(dialogs.chooserCalls, 1);
    EXPECT_EQ(file(*send, out.fileNo).substr(5, 7), "1.0.1.C");
}

// A send run takes every waiting draft: one killed before its attachment was written must not
// be waiting, or it would go out without it.
TEST_F(ComposerTest, KillAtAnyStepOfAForwardLeavesNoWaitingDraftWithoutItsAttachment) {
    struct Round : ComposerTest {
        void TestBody() override {}
        bool killedAt(long n) {
            SetUp();
            MailItem* src = stored(*receive, kSource, 3);
            test::PowerCutFileSystem cut(*t.fs);
            test::EnvOver over(t, cut);
            ComposeContext k(over.env, tabs);
            k.accounts = k.paneAccount = c->accounts;
            k.options = c->options;
            dialogs.forward = ForwardChoice{kForwardAttached, 0};
            actions("set=To=boss@example.jp");
            cut.dieAt(n);
            compose(k, dialogs, request(kComposeForward, src));
            return cut.dead();
        }
        // What a send run started after the kill would find.
        void expectNoWaitingDraftWithoutItsAttachment(long n) {
            store::TabRegistry fresh;
            ASSERT_TRUE(fresh.load(t.env));
            Tab* sendTab = fresh.basicTab(store::kSendTab);
            if (store::readWholeIndex(t.env, *sendTab, {}) != Err::None) return;
            for (MailItem* i : listRange(sendTab->items)) {
                if (i->state != mail::kWaitingAttached) continue;
                EXPECT_EQ(attachment(store::itemNumber(*i), "見積もり.eml"), kSource)
                    << "killed at call " << n;
            }
        }
    };
    bool killed = true;
    for (long n = 1; killed && n < 400; ++n) {
        Round r;
        killed = r.killedAt(n);
        r.expectNoWaitingDraftWithoutItsAttachment(n);
    }
    EXPECT_FALSE(killed) << "the forward never ran to its end";
}

TEST_F(ComposerTest, ForwardAsAttachmentAndUnchanged) {
    MailItem* src = stored(*receive, kSource, 3);
    const ComposeRequest q = request(kComposeForward, src);
    dialogs.forward = ForwardChoice{kForwardAttached, 0};
    actions("set=To=boss@example.jp");
    ComposeOutcome out = compose(*c, dialogs, q);
    ASSERT_TRUE(out.stored);
    EXPECT_EQ(std::tuple(out.state, src->state, file(*send, out.fileNo).substr(30, 4)),
              std::tuple(17, 9, "have"));
    EXPECT_EQ(attachment(out.fileNo, "見積もり.eml"), kSource);
    EXPECT_EQ(message(*send, out.fileNo).find("お願いします"), std::string::npos);
    // Forwarded unchanged: the user fills in Resent-From and Resent-To; the sender must be an
    // account and an empty Resent-To allows only an unfinished draft.
    for (const bool withTo : {false, true}) {
        SCOPED_TRACE(withTo);
        t.fs->remove(log);
        actions(withTo ? "set=Resent-From=me@example.jp|set=Resent-To=boss@example.jp"
                       : "keep;set=Resent-From=me@example.jp");
        Script d;
        d.forward = ForwardChoice{kForwardUnchanged, 0};
        out = compose(*c, d, q);
        ASSERT_TRUE(out.stored);
        EXPECT_EQ(out.state, withTo ? 16 : 18);
        if (withTo) {
            EXPECT_STREQ(send->items.prev->address, "boss@example.jp");
            EXPECT_NE(message(*send, out.fileNo).find(kSource), std::string::npos);
            continue;
        }
        EXPECT_EQ(d.checks, std::vector<std::string>{kUnknownSender});
        ASSERT_EQ(d.requests.size(), 1u);
        EXPECT_EQ(
            std::tuple(d.requests[0].sendEnabled, d.requests[0].notice),
            std::tuple(false, "Resent-To: ヘッダが空欄か、無効のため\n保存は『書きかけ』のみです"));
        EXPECT_EQ(message(*send, out.fileNo).substr(0, 50),
                  "Resent-To: \r\nResent-From: me@example.jp\r\nFrom: Bob");
    }
}

// Resent unchanged, a received message's attachments go with it.
TEST_F(ComposerTest, ResendCarriesTheReceivedAttachments) {
    const std::string raw =
        "\nFrom: s@example.com\r\nTo: me@example.jp\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain; charset=us-ascii\r\n\r\nsee attached\r\n--b\r\n"
        "Content-Type: application/octet-stream; name=\"a.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n--b--\r\n.\r\n";
    store::IndexRecord r;
    r.state = 4;
    ASSERT_TRUE(
        store::storeMessage(t.env, *receive, mime::analyzeText(raw, "2612071030").fileText(), r, {})
            .ok());
    store::readWholeIndex(t.env, *receive, {});
    dialogs.forward = ForwardChoice{kForwardUnchanged, 0};
    actions("set=Resent-From=me@example.jp|set=Resent-To=boss@example.jp");
    const ComposeOutcome out = compose(*c, dialogs, request(kComposeForward, receive->items.prev));
    ASSERT_TRUE(out.stored);
    EXPECT_EQ(out.state, 17);
    EXPECT_EQ(attachment(out.fileNo, "a.bin"), std::string("\x00\x01\x02\x03", 4));
}

TEST_F(ComposerTest, PreparedTextGetsADateLine) {
    const ComposeRequest q = request(kComposePrepared, nullptr, nullptr);
    EXPECT_FALSE(compose(*c, dialogs, q).stored);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_EQ(t.reporter.shown()[0].text + "/" + t.reporter.shown()[0].caption,
              std::string(kPreparedUnopenable) + "/アドレス帳");
    t.write("_Tmp\\Tmp.txt", "From: me@example.jp\r\nTo: a@b.jp\r\nSubject: s\r\n\r\nbody\r\n");
    actions("append=x");
    const ComposeOutcome out = compose(*c, dialogs, q);
    ASSERT_TRUE(out.stored);
    const std::string m = message(*send, out.fileNo);
    EXPECT_EQ(m.substr(0, 51), "From: me@example.jp\r\nTo: a@b.jp\r\nSubject: s\r\nDate: ");
    EXPECT_NE(m.find(" +0900\r\n\r\nbody\r\nx\r\n"), std::string::npos) << m;
}

// The reply rules pick the template by name; without a match the first template is used.
TEST_F(ComposerTest, ReplyRulesChooseTheTemplate) {
    ASSERT_EQ(saveTemplates(t.env, kReplyTemplate,
                            {defaultTemplate(kReplyTemplate),
                             {"英語", "From: $To\r\nTo: $ReplyTo\r\nSubject: Re: $Subject",
                              "Dear $FromName,\r\n"}}),
              Err::None);
    const ComposeRequest q = request(kComposeReply, stored(*receive, kSource, 3));
    actions("keep");
    for (const bool match : {true, false}) {
        c->replyRules = [&](const SourceMessage& m, RuleResult& r) {
            EXPECT_EQ(std::string(m.info().subject), "見積もり");
            if (match) sjis::copyField(r.templateName, "英語");
            return match;
        };
        const ComposeOutcome out = compose(*c, dialogs, q);
        ASSERT_TRUE(out.stored);
        EXPECT_NE(message(*send, out.fileNo)
                      .find(match ? "\r\n\r\nDear Bob,\r\n" : "\r\n\r\nBobさん\r\n"),
                  std::string::npos);
    }
}

TEST_F(ComposerTest, EditStoredDraftBothWaysWithCounters) {
    MailItem* draft =
        stored(*send, "From: me@example.jp\r\nTo: a@b.jp\r\nSubject: s\r\n\r\nb\r\n", 16);
    ASSERT_EQ(send->waitMailCount, 1);
    actions("append=more");
    // Waiting to unfinished and back: the state, both counters and the status line follow.
    for (const SaveChoice save : {SaveChoice::Unfinished, SaveChoice::Waiting}) {
        const bool waiting = save == SaveChoice::Waiting;
        dialogs.saves = {save};
        ASSERT_EQ(editStoredDraft(*c, dialogs, *send, *draft), Err::None);
        EXPECT_EQ(std::tuple(draft->state, counter(*send, "WaitMailCount"),
                             counter(*send, "EditMailCount"), file(*send, 0)[7]),
                  waiting ? std::tuple(16, 1, 0, '0') : std::tuple(18, 0, 1, '2'));
    }
    EXPECT_NE(file(*send, 0).find("b\r\nmore\r\n"), std::string::npos);
    ASSERT_EQ(dialogs.requests.size(), 2u);
    EXPECT_FALSE(dialogs.requests[0].dontSaveEnabled);
    EXPECT_EQ(dialogs.requests[0].preselected, SaveChoice::Waiting);
    draft->editing = 1;
    EXPECT_EQ(editStoredDraft(*c, dialogs, *send, *draft), Err::Invalid);
    EXPECT_EQ(t.reporter.lastText(), kAlreadyEditing);
}

// The row of an edited draft follows the edit; the records behind it stay readable.
TEST_F(ComposerTest, EditedDraftRowFollowsTheEdit) {
    MailItem* first =
        stored(*send, "From: me@example.jp\r\nTo: a@b.jp\r\nSubject: s\r\n\r\nb\r\n", 16);
    stored(*send, "From: me@example.jp\r\nTo: c@d.jp\r\nSubject: second\r\n\r\nb\r\n", 18);
    actions("set=To=Someone Else <someone.else@example.org>|set=Subject=longer subject now");
    dialogs.saves = {SaveChoice::Waiting};
    ASSERT_EQ(editStoredDraft(*c, dialogs, *send, *first), Err::None);
    EXPECT_STREQ(first->address, "someone.else@example.org");
    EXPECT_STREQ(first->subject, "longer subject now");
    store::TabRegistry again;
    ASSERT_TRUE(again.load(t.env));
    Tab& reread = *again.basicTab(store::kSendTab);
    ASSERT_EQ(store::readWholeIndex(t.env, reread, {}), Err::None);
    std::vector<std::string> rows;
    for (MailItem* m = reread.items.next; m && m != &reread.items; m = m->next)
        rows.push_back(std::string(m->number) + " " + m->address + " " + m->subject + " " +
                       std::to_string(m->state));
    EXPECT_EQ(rows,
              (std::vector<std::string>{" 0000 someone.else@example.org longer subject now 16",
                                        " 0001   18"}));  // stored without row texts
}

TEST_F(ComposerTest, RuleMadeRepliesAndForwards) {
    RuleResponder responder(*c);
    RuleResult result{};
    sjis::copyField(result.replyTemplate, "基本");
    const std::string hostile =
        std::string("\f st=0.0.0.0 dt=2612071000 rd=all               \r\n") +
        "From: Eve <eve@evil.jp>\r\nTo: me@example.jp\r\n"
        "Subject: =?x?= hi\r\nMessage-ID: <e1@evil.jp>\r\n\r\nbody\r\n";
    // As analysis asks: its own copy of the stored text.
    rules::AutoRequest rq = rules::replyRequest(result);
    rq.storedText = hostile;
    rq.sourceTab = receive;
    rq.fileNo = 0;
    ASSERT_TRUE(responder.reply(rq));
    ASSERT_EQ(send->nextFileNo, 1);
    const std::string m = message(*send, 0);
    EXPECT_NE(m.find("From: Me <me@example.jp>\r\nTo: Eve <eve@evil.jp>\r\n"), std::string::npos);
    EXPECT_NE(m.find("Auto-Submitted: auto-replied\r\n"), std::string::npos);
    EXPECT_EQ(std::tuple(file(*send, 0)[7], editorRuns()), std::tuple('0', 0));

    // A rule's forward with its own From and To; a To without "@" waits as unfinished.
    rules::AutoRequest fw;
    fw.sourceTab = receive;
    fw.item = stored(*receive, kSource, 3);
    fw.forwardKind = 1;
    fw.forwardFrom = "me@example.jp";
    fw.forwardTo = "boss@example.jp\r\nBcc: x@evil.jp";
    ASSERT_TRUE(responder.forward(fw));
    std::string f = message(*send, 1);
    EXPECT_NE(f.find("From: me@example.jp\r\nTo: boss@example.jp  Bcc: x@evil.jp\r\n"),
              std::string::npos)
        << f;
    EXPECT_EQ(f.find("\nBcc:"), std::string::npos);
    EXPECT_NE(f.find("Auto-Submitted: auto-replied\r\n"), std::string::npos);
    EXPECT_EQ(file(*send, 1)[7], '0');
    fw.forwardTo = "boss";
    ASSERT_TRUE(responder.forward(fw));
    EXPECT_EQ(std::tuple(file(*send, 2)[7], responder.made()), std::tuple('2', 3));
}

}  // namespace
}  // namespace kolvy::compose
