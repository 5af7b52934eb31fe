// The composer: makes a new draft (new message, reply, forward, prepared text, or a reply or
// forward a rule asks for), lets the user finish it in the editor and stores it in a send tab.
// compose() is a plain function: the window runs it on a worker thread, tools and tests call it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "compose/draft.h"
#include "compose/expand.h"

namespace kolvy::compose {

enum ComposeMode : int {
    kComposeNew = 0,
    kComposeReply = 1,
    kComposeForward = 2,
    kComposePrepared = 4,
    kComposePreparedAtStart = 5,
    kComposeRuleReply = 6,
    kComposeRuleForward = 7,
};

inline constexpr char kPreparedUnopenable[] = "Tmp.txtファイルが開けませんでした。   ";

struct ComposeRequest {
    int mode = kComposeNew;
    // Replies and forwards: the selected message.
    Tab* sourceTab = nullptr;
    MailItem* item = nullptr;
    // Rule-made drafts without an item at hand: the message file's text.
    std::string sourceFileText;
    // Rule-made drafts: the template name, the tab, and for forwards the kind (0..2) and the
    // From and To values.
    std::string templateName;
    Tab* intoTab = nullptr;
    int forwardKind = -1;  // user forwards: -1 asks the forward dialog
    std::string forwardFrom, forwardTo;
};

struct ComposeOutcome {
    bool ok = false;  // stored, or ended as the user chose
    bool stored = false;
    Tab* tab = nullptr;
    int fileNo = -1;
    uint8_t state = 0;
    SaveChoice choice = SaveChoice::DontSave;
    std::string keptPath;  // a draft that could be stored nowhere lies here
};

ComposeOutcome compose(ComposeContext& c, ComposeDialogs& dialogs, const ComposeRequest& request);

// The file name an .eml attachment gets from a subject: at most 63 bytes, no character a file
// name cannot hold or that the attachment code treats as special, never cut inside a double-byte
// character, not a device name; "temp" when nothing is left.
std::string emlBaseName(std::string_view subject);

// A new temporary draft file "_Tmp\<base><n>.txt" with the smallest free n from 1.
std::string temporaryDraftPath(Env& env, std::string_view base);

// The state a source message takes when answered: only received states (below 16) change;
// replied 6 + state mod 3, forwarded 9 + state mod 3.
uint8_t answeredState(uint8_t state, bool forward);

}  // namespace kolvy::compose
