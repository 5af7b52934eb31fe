#include "compose/composer.h"

#include <cstdio>

#include "core/mail_state.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "report/report.h"
#include "store/attachments.h"
#include "store/list_ops.h"
#include "store/message_file.h"
#include "store/paths.h"

namespace kolvy::compose {

namespace {

struct Draft {
    std::string text;  // the message, without status line
    CheckMode mode = CheckMode::Draft;
    std::string tmpBase = "新規メール作成";
    std::unique_ptr<SourceMessage> source;
    std::string sourceFile;  // the source's file text, status line first
    int forwardKind = -1;
};

ExpandContext expandContext(ComposeContext& c) {
    ExpandContext e;
    e.accounts = c.accounts;
    e.paneAccount = c.paneAccount;
    e.htmlLineCount = c.options.htmlLineCount;
    char buf[20] = {};
    store::TimeTexts times(c.env.clock);
    times.format(static_cast<uint32_t>(c.env.clock.now()), buf);
    e.timeText = sjis::fieldView(buf);
    return e;
}

bool ruleMade(int mode) {
    return mode == kComposeRuleReply || mode == kComposeRuleForward;
}

std::unique_ptr<SourceMessage> loadSource(ComposeContext& c, const ComposeRequest& q,
                                          std::string& fileText) {
    if (q.item && q.sourceTab) {
        auto text = platform::readWholeFile(
            c.env.fs, store::messagePath(c.env, *q.sourceTab, store::itemNumber(*q.item)));
        if (!text) return nullptr;
        fileText = text.take();
    } else {
        fileText = q.sourceFileText;
    }
    if (fileText.empty()) return nullptr;
    return SourceMessage::fromFile(fileText);
}

// The template: the one a rule names, else the one the reply or forward rules pick, else the
// chosen one (forward dialog) or the first.
Template chooseTemplate(ComposeContext& c, const ComposeRequest& q, int kind,
                        const SourceMessage* source, int chosen) {
    const std::vector<Template> list = loadTemplates(c.env, kind);
    std::string name = q.templateName;
    const RuleHook& hook = kind == kReplyTemplate ? c.replyRules : c.forwardRules;
    if (name.empty() && source && hook) {
        RuleResult r{};
        if (hook(*source, r)) name = sjis::fieldView(r.templateName);
    }
    if (name.empty() && chosen >= 0 && static_cast<size_t>(chosen) < list.size())
        return list[static_cast<size_t>(chosen)];
    return *findTemplate(list, name);
}

// The prepared text of another program with a Date line at the end of its header.
std::optional<std::string> preparedText(ComposeContext& c, const platform::LocalTime& now) {
    auto text = platform::readWholeFile(c.env.fs, c.env.path("_Tmp\\Tmp.txt"));
    if (!text) {
        c.env.reporter.show(kPreparedUnopenable, "アドレス帳", platform::Icon::Exclamation,
                            platform::Buttons::Ok);
        return std::nullopt;
    }
    std::string t = text.take();
    const size_t blank = t.find("\r\n\r\n");
    const size_t at = blank == std::string::npos ? t.size() : blank + 2;
    if (blank == std::string::npos && !t.empty() && t.back() != '\n') t += "\r\n";
    t.insert(std::min(at, t.size()), dateLine(now));
    return t;
}

// Builds the first text of the draft; nullopt ends the command (cancelled or failed).
std::optional<Draft> buildDraft(ComposeContext& c, ComposeDialogs& dialogs,
                                const ComposeRequest& q) {
    Draft d;
    const platform::LocalTime now = c.env.clock.localNow();
    const ExpandContext e = expandContext(c);
    DraftRequest r;
    r.now = now;
    r.ruleMade = ruleMade(q.mode);
    if (q.mode == kComposePrepared || q.mode == kComposePreparedAtStart) {
        auto t = preparedText(c, now);
        if (!t) return std::nullopt;
        d.text = std::move(*t);
        return d;
    }
    if (q.mode == kComposeNew) {
        const Template t = chooseTemplate(c, q, kNewTemplate, nullptr, -1);
        r.tmpl = &t;
        d.text = newDraft(r, e);
        return d;
    }
    d.source = loadSource(c, q, d.sourceFile);
    if (!d.source) {
        report::report(c.env, store::kMailFileUnopenable);
        return std::nullopt;
    }
    r.source = d.source.get();
    const bool reply = q.mode == kComposeReply || q.mode == kComposeRuleReply;
    if (reply) {
        const Template t = chooseTemplate(c, q, kReplyTemplate, d.source.get(), -1);
        r.tmpl = &t;
        d.text = replyDraft(r, e);
        d.mode = CheckMode::ReplyDraft;
        d.tmpBase = "返信メール作成";
        return d;
    }
    int chosen = -1;
    d.forwardKind = q.forwardKind;
    if (d.forwardKind < 0) {
        auto choice = dialogs.forwardKind(loadTemplates(c.env, kForwardTemplate));
        if (!choice) return std::nullopt;
        d.forwardKind = choice->kind;
        chosen = choice->templateIndex;
    }
    d.tmpBase = "転送メール作成";
    if (d.forwardKind == kForwardUnchanged) {
        d.text = resendDraft(*d.source, q.forwardTo, q.forwardFrom, r.ruleMade);
        d.mode = CheckMode::ResendDraft;
        return d;
    }
    const Template t = chooseTemplate(c, q, kForwardTemplate, d.source.get(), chosen);
    r.tmpl = &t;
    r.withBody = d.forwardKind == kForwardInBody;
    r.forwardFrom = q.forwardFrom;
    r.forwardTo = q.forwardTo;
    d.text = forwardDraft(r, e);
    return d;
}

std::string statusLine(uint8_t state, uint8_t markColour, bool attachments) {
    store::StatusLine s;
    s.state = state;
    s.markColour = markColour;
    s.received = false;
    s.value = attachments ? "have" : "not";
    return store::formatStatusLine(s);
}

uint8_t makeMarkColour(const RuleResult& r) {
    uint8_t mc = 0;
    if (r.setMark) mc |= store::kMarkBit;
    if (r.setColour >= 1 && r.setColour <= 14) mc |= static_cast<uint8_t>(r.setColour);
    return mc;
}

// A tab that can take the draft: the target, else another send tab with room.
Tab* roomyTab(ComposeContext& c, Tab* target) {
    if (target && !store::tabFull(*target)) return target;
    for (Tab* t = c.tabs.first(); t && t != c.tabs.listHead(); t = t->next)
        if (t->kind == store::kSendTab && !t->external && !store::tabFull(*t)) return t;
    return nullptr;
}

struct StoreRequest {
    Tab* tab = nullptr;
    std::string message;  // without status line
    uint8_t state = 16;
    uint8_t markColour = 0;
    DraftInfo info;
    const Account* account = nullptr;
};

Result<MailItem*> storeDraft(ComposeContext& c, const StoreRequest& s, int& number) {
    auto draft = SourceMessage::fromText(s.message);
    store::IndexRecord record;
    record.state = s.state;
    record.markColour = s.markColour;
    record.dateTime = draft->info().date;
    record.attachments = store::stateHasAttachments(s.state) ? 1 : 0;
    record.account =
        s.account && s.account->number >= 0 && s.account->number < mail::kUnmatchedAccount
            ? static_cast<uint8_t>(s.account->number)
            : mail::kUnmatchedAccount;
    record.texts[0] = s.info.toName;
    record.texts[1] = s.info.toAddress;
    record.texts[2] = s.info.subject;
    record.texts[4] = s.info.sender;
    const std::string fileText =
        statusLine(s.state, s.markColour, record.attachments != 0) + s.message;
    record.size = static_cast<uint32_t>(fileText.size());
    number = s.tab->nextFileNo;
    return store::storeMessage(c.env, *s.tab, fileText, record, c.index);
}

}  // namespace

std::string emlBaseName(std::string_view subject) {
    static constexpr std::string_view banned = ".\"/\\[];:|=,?*<>";
    std::string out;
    for (size_t i = 0; i < subject.size();) {
        const size_t len = sjis::charLen(subject, i);
        const auto b = static_cast<unsigned char>(subject[i]);
        if (len == 1 && (b < 0x20 || b == 0x7F || banned.find(subject[i]) != std::string::npos)) {
            ++i;
            continue;
        }
        out.append(subject, i, len);
        i += len;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    out = std::string(sjis::truncate(out, 63));
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    if (out.empty()) return "temp";
    // Blanks at the ends and device names (CON, NUL, COM1 ...) as for every attachment name.
    return store::sanitiseName(out);
}

std::string temporaryDraftPath(Env& env, std::string_view base) {
    platform::makeDirs(env.fs, env.path(store::kTmpFolder));
    for (int n = 1;; ++n) {
        std::string path = env.path(std::string(store::kTmpFolder) + "\\" + std::string(base) +
                                    std::to_string(n) + ".txt");
        if (!env.fs.exists(path)) return path;
    }
}

uint8_t answeredState(uint8_t state, bool forward) {
    if (state >= 16) return state;
    return static_cast<uint8_t>((forward ? 9 : 6) + state % 3);
}

namespace {

// A received message (status line " rd=") whose part lines name saveable parts.
bool receivedWithParts(const Draft& d) {
    auto line = store::parseStatusLine(d.sourceFile);
    return line && line->received && !store::listAttachments(d.sourceFile).empty();
}

// Attachments of a forward: the source as an .eml file, or the attachment copies of a draft of a
// send tab. False (reported) when they could not be written.
bool forwardAttachments(ComposeContext& c, const ComposeRequest& q, const Draft& d, Tab& tab,
                        int number) {
    const std::string folder = store::attachmentFolder(store::tabFolder(c.env, tab), number);
    if (d.forwardKind == kForwardAttached) {
        const std::string name = emlBaseName(sjis::fieldView(d.source->info().subject)) + ".eml";
        if (platform::makeDirs(c.env.fs, folder) != Err::None ||
            platform::writeWholeFile(c.env.fs, folder + "\\" + name, d.source->message()) !=
                Err::None) {
            report::report(c.env, kEmlUnopenable);
            return false;
        }
    }
    if (d.forwardKind == kForwardUnchanged && receivedWithParts(d)) {
        // The parts of a received message travel as attachments of the resent draft.
        if (store::extractAttachments(c.env, d.sourceFile, folder, {}) != Err::None) return false;
    }
    if (q.item && q.sourceTab && q.sourceTab->kind == store::kSendTab &&
        store::stateHasAttachments(q.item->state)) {
        if (store::copyAttachments(c.env, store::tabFolder(c.env, *q.sourceTab),
                                   store::itemNumber(*q.item), store::tabFolder(c.env, tab),
                                   number) != Err::None)
            return false;
    }
    return true;
}

// After the attachments: the draft takes the state chosen for it, or, when they could not be
// made, stays in it without them.
void settleAttachments(ComposeContext& c, const ComposeRequest& q, const Draft& d,
                       const StoreRequest& s, MailItem* item, int number, uint8_t finalState) {
    const bool made = forwardAttachments(c, q, d, *s.tab, number);
    if (!item || (made && finalState == s.state)) return;
    const uint8_t state =
        made ? finalState : static_cast<uint8_t>(finalState & ~mail::kAttachedBit);
    store::setItemBytes(c.env, *s.tab, *item, {state, s.markColour});
    if (!made) store::updateAttachmentWord(c.env, store::messagePath(c.env, *s.tab, number), false);
    store::writeCounters(c.env, *s.tab);
}

bool carriesAttachments(const ComposeRequest& q, const Draft& d) {
    if (d.forwardKind == kForwardAttached) return true;
    if (d.forwardKind == kForwardUnchanged && receivedWithParts(d)) return true;
    return d.forwardKind > 0 && q.item && q.sourceTab && q.sourceTab->kind == store::kSendTab &&
           store::stateHasAttachments(q.item->state);
}

// The source of a user's reply or forward is marked replied or forwarded.
void markSource(ComposeContext& c, const ComposeRequest& q) {
    if (!q.item || !q.sourceTab || ruleMade(q.mode)) return;
    const uint8_t state = answeredState(q.item->state, q.mode == kComposeForward);
    if (state == q.item->state) return;
    if (store::setItemBytes(c.env, *q.sourceTab, *q.item, {state, q.item->markColour}) == Err::None)
        store::writeCounters(c.env, *q.sourceTab);
}

void keepDraft(ComposeContext& c, ComposeOutcome& out, const std::string& path) {
    out.keptPath = path;
    std::string text(kDraftKept);
    text.replace(text.find("%s"), 2, path);
    report::report(c.env, text);
}

// The sending account of a rule-made draft: the one the source was addressed to, else the first.
const Account* ruleAccount(ComposeContext& c, const SourceMessage& source) {
    const Account* a = addressedAccount(source.info(), c.accounts);
    return a ? a : c.accounts;
}

}  // namespace

namespace {

// A rule-made draft goes straight to the rule's tab; one nobody can be sent to (a To without
// "@") waits as unfinished for the user.
StoreRequest ruleStoreRequest(ComposeContext& c, const ComposeRequest& q, const Draft& d,
                              bool attach, ComposeOutcome& out) {
    StoreRequest s;
    s.tab = q.intoTab ? q.intoTab : c.tabs.basicTab(store::kSendTab);
    s.message = d.text;
    auto draft = SourceMessage::fromText(s.message);
    s.account = ruleAccount(c, *d.source);
    s.info = draftInfo(*draft, s.account);
    if (!q.forwardFrom.empty()) s.info.sender = headerSafe(q.forwardFrom);
    const bool addressed = sjis::find(s.info.toAddress, '@') != std::string::npos;
    s.state = static_cast<uint8_t>((addressed ? 16 : 18) + (attach ? 1 : 0));
    out.choice = addressed ? SaveChoice::Waiting : SaveChoice::Unfinished;
    return s;
}

// The user's draft: written to a temporary file and finished in the editor. Nullopt when the
// command ends here (thrown away, not saved, or unreadable and kept).
std::optional<StoreRequest> userStoreRequest(ComposeContext& c, ComposeDialogs& dialogs,
                                             const Draft& d, bool attach, ComposeOutcome& out,
                                             std::string& tmpPath) {
    tmpPath = temporaryDraftPath(c.env, d.tmpBase);
    if (platform::writeWholeFile(
            c.env.fs, tmpPath, std::string(store::kNewOutgoingStatusLine) + d.text) != Err::None) {
        report::report(c.env, store::kWriteFailed);
        return std::nullopt;
    }
    FinishResult f = finishDraft(c, dialogs, tmpPath, d.mode, std::nullopt);
    if (f.kind == FinishResult::Discard || f.kind == FinishResult::Unchanged) {
        c.env.fs.remove(tmpPath);
        out.ok = true;
        return std::nullopt;
    }
    if (f.kind == FinishResult::Unreadable) {
        keepDraft(c, out, tmpPath);
        return std::nullopt;
    }
    const std::string_view message =
        store::parseStatusLine(f.fileText)
            ? std::string_view(f.fileText).substr(store::kStatusLineSize)
            : std::string_view(f.fileText);
    if (f.kind == FinishResult::EditorFailed) {
        // The text is the user's: it waits as unfinished in the basic send tab.
        f.choice = SaveChoice::Unfinished;
        f.tab = c.tabs.basicTab(store::kSendTab);
        auto draft = SourceMessage::fromText(message);
        const HeaderInfo& h = draft->info();
        f.account = accountByAddress(c.accounts,
                                     SourceMessage::range(h.fromAddressStart, h.fromAddressEnd));
        f.info = draftInfo(*draft, f.account);
    }
    StoreRequest s;
    s.tab = f.tab;
    s.account = f.account;
    s.info = f.info;
    s.markColour = makeMarkColour(f.makeResult);
    s.message = message;
    out.choice = f.choice;
    s.state =
        static_cast<uint8_t>((f.choice == SaveChoice::Unfinished ? 18 : 16) + (attach ? 1 : 0));
    return s;
}

}  // namespace

ComposeOutcome compose(ComposeContext& c, ComposeDialogs& dialogs, const ComposeRequest& q) {
    ComposeOutcome out;
    const bool answering = q.mode == kComposeReply || q.mode == kComposeForward || ruleMade(q.mode);
    if (answering && !q.item && q.sourceFileText.empty()) return out;
    if ((q.mode == kComposeReply || q.mode == kComposeRuleReply) && q.item && q.item->state >= 16)
        return out;  // no reply to the user's own outgoing mail
    std::optional<Draft> d = buildDraft(c, dialogs, q);
    if (!d) {
        out.ok = !answering || q.forwardKind < 0;  // a cancelled dialog is no failure
        return out;
    }
    const bool attach = carriesAttachments(q, *d);
    std::string tmpPath;
    std::optional<StoreRequest> s;
    if (ruleMade(q.mode)) {
        s = ruleStoreRequest(c, q, *d, attach, out);
    } else {
        s = userStoreRequest(c, dialogs, *d, attach, out, tmpPath);
        if (!s) return out;
    }
    // A full tab never costs the text: another send tab, or the file kept where it is.
    s->tab = roomyTab(c, s->tab);
    if (!s->tab) {
        if (tmpPath.empty()) {
            tmpPath = temporaryDraftPath(c.env, d->tmpBase);
            platform::writeWholeFile(c.env.fs, tmpPath,
                                     std::string(store::kNewOutgoingStatusLine) + s->message);
        }
        keepDraft(c, out, tmpPath);
        return out;
    }
    if (!s->tab->loadState) store::readWholeIndex(c.env, *s->tab, c.index);
    // The attachments need the draft's number, so they are written after it: until then the
    // draft is no waiting one, or a send run (or a kill in between) would send it without them.
    const uint8_t finalState = s->state;
    if (attach && finalState == mail::kWaitingAttached && s->tab->loadState != store::kNotRead)
        s->state = mail::kDraftAttached;  // only a listed item can be made waiting afterwards
    int number = -1;
    auto item = storeDraft(c, *s, number);
    if (!item) {
        if (!tmpPath.empty()) keepDraft(c, out, tmpPath);
        return out;
    }
    if (attach) settleAttachments(c, q, *d, *s, *item, number, finalState);
    if (!tmpPath.empty()) c.env.fs.remove(tmpPath);
    markSource(c, q);
    out.ok = out.stored = true;
    out.tab = s->tab;
    out.fileNo = number;
    out.state = *item ? (**item).state : s->state;
    if (out.choice == SaveChoice::SendNow && c.sendNow && *item && s->account)
        c.sendNow(*s->tab, **item, *s->account);
    return out;
}

}  // namespace kolvy::compose
