#include "compose/draft.h"

#include "core/mail_state.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/process.h"
#include "report/report.h"
#include "store/list_ops.h"
#include "store/message_file.h"

namespace kolvy::compose {

namespace {

std::string format(std::string_view pattern, std::string_view value) {
    std::string s(pattern);
    s.replace(s.find("%s"), 2, value);
    return s;
}

// The message text of a draft file: after its status line, or all of it when the editor took
// the status line away.
std::string_view messageOf(std::string_view fileText) {
    if (store::parseStatusLine(fileText)) return fileText.substr(store::kStatusLineSize);
    return fileText;
}

struct Checked {
    std::unique_ptr<SourceMessage> draft;
    const Account* account = nullptr;
    NoAddress noAddress = NoAddress::None;
};

// Step after each edit: the header check and the sender's account. Nullopt with `discard` set
// when the user threw the draft away; nullopt alone when the editor is to open again.
std::optional<Checked> checkDraft(ComposeContext& c, ComposeDialogs& dialogs,
                                  std::string_view fileText, CheckMode mode, bool& discard) {
    const std::string_view message = messageOf(fileText);
    const HeaderCheck hc = checkHeader(message, mode);
    if (!hc.ok()) {
        discard = dialogs.discardOnCheck(hc.message);
        return std::nullopt;
    }
    Checked out;
    out.draft = SourceMessage::fromText(message);
    out.noAddress = hc.noAddress;
    const HeaderInfo& h = out.draft->info();
    const std::string_view sender =
        !hc.resentFrom.empty() ? bareAddress(hc.resentFrom)
                               : SourceMessage::range(h.fromAddressStart, h.fromAddressEnd);
    out.account = accountByAddress(c.accounts, sender);
    if (!out.account) {
        discard = dialogs.discardOnCheck(kUnknownSender);
        return std::nullopt;
    }
    return out;
}

SaveChoice askSaveChoice(ComposeDialogs& dialogs, const FinishResult& r,
                         std::optional<SaveChoice> previous, NoAddress noAddress) {
    SaveChoiceRequest q;
    q.preselected = previous ? *previous : r.changed ? SaveChoice::Waiting : SaveChoice::DontSave;
    q.dontSaveEnabled = !previous;
    if (noAddress != NoAddress::None) {
        q.sendEnabled = false;
        q.notice = format(kOnlyUnfinished, noAddressName(noAddress));
        q.preselected = SaveChoice::Unfinished;
    }
    for (;;) {
        SaveChoice choice = dialogs.saveChoice(q).value_or(SaveChoice::DontSave);
        // Disabled choices stay out of reach whatever the dialog returns.
        if (!q.sendEnabled && (choice == SaveChoice::SendNow || choice == SaveChoice::Waiting))
            choice = SaveChoice::Unfinished;
        if (!q.dontSaveEnabled && choice == SaveChoice::DontSave) choice = *previous;
        if (choice == SaveChoice::DontSave && r.changed && !dialogs.confirmNotSaving()) continue;
        return choice;
    }
}

std::vector<Tab*> sendTabs(store::TabRegistry& tabs) {
    std::vector<Tab*> out;
    for (Tab* t = tabs.first(); t && t != tabs.listHead(); t = t->next)
        if (t->kind == store::kSendTab && !t->external) out.push_back(t);
    return out;
}

// Make rules first, then the chooser, then the basic send tab.
Tab* targetTab(ComposeContext& c, ComposeDialogs& dialogs, const SourceMessage& draft,
               SaveChoice choice, RuleResult& makeResult) {
    if (c.makeRules && c.makeRules(draft, makeResult) && makeResult.targetTab &&
        makeResult.targetTab->kind == store::kSendTab)
        return makeResult.targetTab;
    if (c.options.selectSendTab && choice != SaveChoice::DontSave) {
        std::vector<Tab*> tabs = sendTabs(c.tabs);
        if (tabs.size() >= 2) {
            if (Tab* t = dialogs.chooseTab(tabs)) return t;
        }
    }
    return c.tabs.basicTab(store::kSendTab);
}

// The draft as the editor left it. An editor that has just ended may still hold the file for a
// moment (the file is opened without sharing), so a failed read is tried again shortly.
Result<std::string> readAfterEditor(Env& env, std::string_view path) {
    constexpr platform::RetryPolicy kEditorRelease{21, 50, 1};
    return platform::retry(
        kEditorRelease, [&] { return platform::readWholeFile(env.fs, path); },
        [](Err e) { return e != Err::NotFound; }, report::retryNote(env, std::string(path)));
}

}  // namespace

ComposeOptions readComposeOptions(Env& env) {
    ComposeOptions o;
    o.editor = platform::readString(env.ini, "Option", "Editor");
    o.mailRenewal = platform::readInt(env.ini, "Option", "MailRenewal", 0) == 1;
    o.selectSendTab = platform::readInt(env.ini, "Option", "SelectSendTab", 0) == 1;
    o.htmlLineCount =
        static_cast<int>(platform::readInt(env.ini, "Option", "ReplyHtmlLineCount", 10000));
    return o;
}

bool runEditor(ComposeContext& c, std::string_view path) {
    const std::string editor =
        c.options.editor.empty() ? platform::defaultEditor() : c.options.editor;
    if (editor.empty() || !platform::runAndWait(editor, path)) {
        report::report(c.env, kEditorFailed);
        return false;
    }
    return true;
}

DraftInfo draftInfo(const SourceMessage& draft, const Account* account) {
    const HeaderInfo& h = draft.info();
    DraftInfo info;
    if (account) info.sender = sjis::fieldView(account->mailAddress);
    const std::string_view resentTo = SourceMessage::range(h.resentToStart, h.resentToEnd);
    if (!resentTo.empty()) {
        info.toAddress = headerSafe(resentTo);
    } else {
        info.toName = headerSafe(SourceMessage::range(h.toNameStart, h.toNameEnd));
        info.toAddress = headerSafe(SourceMessage::range(h.toAddressStart, h.toAddressEnd));
    }
    info.subject = headerSafe(sjis::fieldView(h.subject));
    return info;
}

FinishResult finishDraft(ComposeContext& c, ComposeDialogs& dialogs, std::string_view path,
                         CheckMode mode, std::optional<SaveChoice> previous) {
    FinishResult r;
    auto before = platform::readWholeFile(c.env.fs, path);
    if (!before) {
        report::report(c.env, store::kMailFileUnopenable);
        r.kind = FinishResult::Unreadable;
        return r;
    }
    r.fileText = *before;
    std::optional<Checked> checked;
    for (int round = 0; !checked; ++round) {
        // A header refused again and again, or an editor that will not start, keeps the text.
        if (round >= c.options.maxEditRounds || !runEditor(c, path)) {
            r.kind = FinishResult::EditorFailed;
            return r;
        }
        auto after = readAfterEditor(c.env, path);
        if (!after) {
            report::report(c.env, store::kMailFileUnopenable);
            r.kind = FinishResult::Unreadable;
            return r;
        }
        r.fileText = std::move(*after);
        r.changed = r.fileText != *before;
        if (!r.changed && c.options.mailRenewal) {
            r.kind = FinishResult::Unchanged;
            return r;
        }
        bool discard = false;
        checked = checkDraft(c, dialogs, r.fileText, mode, discard);
        if (discard) {
            r.kind = FinishResult::Discard;
            return r;
        }
    }
    r.account = checked->account;
    r.choice = askSaveChoice(dialogs, r, previous, checked->noAddress);
    if (r.choice == SaveChoice::DontSave) {
        r.kind = FinishResult::Discard;
        return r;
    }
    if (!previous) r.tab = targetTab(c, dialogs, *checked->draft, r.choice, r.makeResult);
    r.info = draftInfo(*checked->draft, r.account);
    r.kind = FinishResult::Save;
    return r;
}

Err editStoredDraft(ComposeContext& c, ComposeDialogs& dialogs, Tab& tab, MailItem& item) {
    if (item.editing) {
        report::notice(c.env, kAlreadyEditing);
        return Err::Invalid;
    }
    const int nibble = item.state & 0x0F;
    if (item.state < 16 || nibble > 3) return Err::Invalid;
    const SaveChoice previous = nibble < 2 ? SaveChoice::Waiting : SaveChoice::Unfinished;
    const std::string path = store::messagePath(c.env, tab, store::itemNumber(item));
    item.editing = 1;
    FinishResult r = finishDraft(c, dialogs, path, CheckMode::EditedDraft, previous);
    item.editing = 0;
    if (r.kind == FinishResult::Unreadable) return Err::Io;
    if (r.kind != FinishResult::Save) return Err::None;
    // An editor that dropped the status line: the store needs it back.
    if (!store::parseStatusLine(r.fileText)) {
        store::StatusLine s;
        s.state = item.state;
        s.markColour = item.markColour;
        s.received = false;
        s.value = store::stateHasAttachments(item.state) ? "have" : "not";
        const std::string fixed = store::formatStatusLine(s) + r.fileText;
        if (Err e = platform::replaceFileContents(c.env.fs, path, path + ".tmp", fixed);
            e != Err::None) {
            report::report(c.env, store::kWriteFailed);
            return e;
        }
    }
    const int attach = nibble & 1;
    uint8_t state = item.state;
    if (r.choice == SaveChoice::Waiting) state = static_cast<uint8_t>(16 + attach);
    if (r.choice == SaveChoice::Unfinished) state = static_cast<uint8_t>(18 + attach);
    if (state != item.state) {
        if (Err e = store::setItemBytes(c.env, tab, item, {state, item.markColour}); e != Err::None)
            return e;
        store::writeCounters(c.env, tab);
    }
    // The row follows the edit: sender account, recipient, subject and size.
    const auto size = c.env.fs.fileSize(path);
    const Account* account = r.account;
    const DraftInfo& info = r.info;
    if (Err e = store::rewriteRecord(
            c.env, tab, item,
            [&](store::IndexRecord& rec) {
                rec.account =
                    account && account->number >= 0 && account->number < mail::kUnmatchedAccount
                        ? static_cast<uint8_t>(account->number)
                        : mail::kUnmatchedAccount;
                rec.texts[0] = info.toName;
                rec.texts[1] = info.toAddress;
                rec.texts[2] = info.subject;
                rec.texts[4] = info.sender;
                if (size) rec.size = static_cast<uint32_t>(*size);
            },
            c.index);
        e != Err::None)
        return e;
    if (r.choice == SaveChoice::SendNow && c.sendNow && r.account) c.sendNow(tab, item, *r.account);
    return Err::None;
}

}  // namespace kolvy::compose
