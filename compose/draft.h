// Finishing a draft: the external editor, the header check, the sender's account, the save
// choice and the target tab; and editing a stored draft again. The questions go through
// ComposeDialogs, which the main window implements with real dialogs and tests script.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compose/check.h"
#include "compose/message.h"
#include "compose/templates.h"
#include "core/records.h"
#include "platform/env.h"
#include "store/index.h"
#include "store/tabs.h"

namespace kolvy::compose {

inline constexpr char kEditorFailed[] = "エディタが起動できません。    ";
inline constexpr char kUnknownSender[] =
    "From: はアカウント設定に登録されているアドレスしか使用できません。";
inline constexpr char kChangedNotSaved[] = "内容が更新されています\n本当に保存しなくて良いですか？";
inline constexpr char kOnlyUnfinished[] =
    "%s ヘッダが空欄か、無効のため\n保存は『書きかけ』のみです";
inline constexpr char kAlreadyEditing[] = "このメールは既にエディタで開かれています。   ";
inline constexpr char kEmlUnopenable[] = "添付するemlファイルが開けませんでした。   ";
inline constexpr char kDiscardButton[] = "このまま破棄する(&D)";
// Said when a draft could not be stored anywhere: its text is kept in this file.
inline constexpr char kDraftKept[] = "メールは次のファイルに保存されています。    \n%s";

enum class SaveChoice : int { SendNow = 0, Waiting = 1, Unfinished = 2, DontSave = 3 };

struct SaveChoiceRequest {
    SaveChoice preselected = SaveChoice::DontSave;
    bool dontSaveEnabled = true;  // not for a draft already stored
    bool sendEnabled = true;      // send now and waiting; off when a header has no address
    std::string notice;           // shown inside the dialog
};

enum ForwardKind : int { kForwardInBody = 0, kForwardAttached = 1, kForwardUnchanged = 2 };
struct ForwardChoice {
    int kind = kForwardInBody;
    int templateIndex = 0;  // of the forward templates (kinds 0 and 1)
};

class ComposeDialogs {
  public:
    virtual ~ComposeDialogs() = default;
    // "転送メール作成"; nullopt: cancelled.
    virtual std::optional<ForwardChoice> forwardKind(const std::vector<Template>& templates) = 0;
    // A check message with "このまま破棄する(&D)": true when the user chose it, false when the
    // message was closed (the editor opens again).
    virtual bool discardOnCheck(std::string_view text) = 0;
    // "メール作成後の処理の選択"; nullopt (closed) counts as "保存しないで終了".
    virtual std::optional<SaveChoice> saveChoice(const SaveChoiceRequest& request) = 0;
    // "内容が更新されています…": true to go on without saving, false back to the choice.
    virtual bool confirmNotSaving() = 0;
    // The send tabs to choose from; null: the basic send tab.
    virtual Tab* chooseTab(const std::vector<Tab*>& sendTabs) = 0;
};

struct ComposeOptions {
    std::string editor;          // Option/Editor; empty: the platform's default editor
    bool mailRenewal = false;    // Option/MailRenewal: an unchanged draft ends without asking
    bool selectSendTab = false;  // Option/SelectSendTab
    int htmlLineCount = 10000;   // Option/ReplyHtmlLineCount
    int maxEditRounds = 20;      // a header that is refused this often is kept as it is
};
ComposeOptions readComposeOptions(Env& env);

// Rules evaluated on a message (make rules on drafts, reply and forward rules on the source):
// true when a rule matched and filled the result.
using RuleHook = std::function<bool(const SourceMessage&, RuleResult&)>;

struct ComposeContext {
    ComposeContext(Env& e, store::TabRegistry& t) : env(e), tabs(t) {}
    // Over the accounts (`first` of the list, `pane` the one selected), with the options read.
    ComposeContext(Env& e, store::TabRegistry& t, const Account* first, const Account* pane)
        : env(e), tabs(t), accounts(first), paneAccount(pane), options(readComposeOptions(e)) {}
    Env& env;
    store::TabRegistry& tabs;
    const Account* accounts = nullptr;     // first of the list
    const Account* paneAccount = nullptr;  // $AcountPain
    ComposeOptions options;
    store::IndexOptions index;
    RuleHook makeRules, replyRules, forwardRules;
    // "今すぐメールを送信": starts the send run for the draft; unset, the draft stays waiting.
    std::function<void(Tab&, MailItem&, const Account&)> sendNow;
};

// The list data of a draft.
struct DraftInfo {
    std::string sender;  // the account's address
    std::string toName, toAddress, subject;
};

struct FinishResult {
    enum Kind {
        Save,          // store with `choice`
        Discard,       // thrown away, or "保存しないで終了"
        Unchanged,     // not changed and MailRenewal: nothing to do
        EditorFailed,  // the editor could not be started: the text is to be kept
        Unreadable,    // the file could not be read (reported)
    } kind = Discard;
    SaveChoice choice = SaveChoice::DontSave;
    std::string fileText;  // the file as the editor left it (status line first)
    const Account* account = nullptr;
    Tab* tab = nullptr;  // new drafts: the target tab
    DraftInfo info;
    RuleResult makeResult{};  // mark and colour of the make rules
    bool changed = false;
};

// The edit-check-ask loop over the draft file at `path` (status line first). `previous`: the
// state of a stored draft (Waiting or Unfinished), nullopt for a new one.
FinishResult finishDraft(ComposeContext& c, ComposeDialogs& dialogs, std::string_view path,
                         CheckMode mode, std::optional<SaveChoice> previous);

// Runs the editor on a file and waits; false (reported) when it could not be started.
bool runEditor(ComposeContext& c, std::string_view path);

// The list data of a draft's message text.
DraftInfo draftInfo(const SourceMessage& draft, const Account* account);

// Edits a stored draft of a send tab again and updates state, counters, index and status line.
// Err::Invalid when the item is not a draft or is open already.
Err editStoredDraft(ComposeContext& c, ComposeDialogs& dialogs, Tab& tab, MailItem& item);

}  // namespace kolvy::compose
