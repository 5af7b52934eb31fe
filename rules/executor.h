// Carrying out rules on stored mail: the command rules over a tab (the sort command) and the send
// rules after a send run. Every message file is read once; the attribute actions rewrite the
// status line and the index record together; the moves and copies of the whole run go through one
// list-editing pass, so that each target is appended to once and the tab is compacted once.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "platform/env.h"
#include "rules/auto_answer.h"
#include "rules/rule_book.h"
#include "rules/stored_message.h"
#include "store/list_ops.h"

namespace kolvy::rules {

inline constexpr char kMessageFileUnopenable[] = "メールファイルを開けませんでした。   ";
enum class ApplyMode {
    Command = 0,  // the command rules to every message of the tab
    Send = 1,     // the send rules to the messages of the tab sent in this run
};

struct ApplyOptions {
    store::ListOpOptions listOps;
    // AllDataFuriwake: read the whole index first; otherwise only the records already read.
    bool readWholeIndex = true;
    std::vector<std::string> ownAddresses;
    AutoResponder* responder = nullptr;  // none: replies and forwards are not made
};

struct ApplyOutcome {
    int messages = 0;    // messages evaluated
    int fileReads = 0;   // message files read
    int matched = 0;     // messages a rule took
    int attributes = 0;  // messages whose mark, colour or state changed
    int replies = 0, forwards = 0;
    int answersSkipped = 0;  // replies and forwards the guard refused
    store::PassOutcome pass;
    Err error = Err::None;  // what stopped the run (reported already)
    bool ok() const { return error == Err::None && pass.ok(); }
};

// Applies the rules of the mode to `tab`. Trash tabs are never processed; nothing happens when
// the rule list is empty or the tab holds no message.
ApplyOutcome applyRulesToTab(Env& env, RuleBook& book, Tab& tab, ApplyMode mode,
                             StoredMessageReader& reader, const ApplyOptions& options);

// What one message looks like to the rules, from its item and its file read by the reader.
RuleSubject storedSubject(const MailItem& item, const StoredView& view, uint32_t fileSize,
                          int64_t now);

// The mark, colour and read actions of a result on a message's state and mark/colour byte:
// the mark is set only when the message has none (0 -> 1, a bookmark 8 -> 9), colour 15 clears
// the colour, read raises an unread received state by 3. Nullopt when nothing changes.
std::optional<store::ItemBytes> resultBytes(const RuleResult& result, uint8_t state,
                                            uint8_t markColour);

// The easy-spam keyword of a message for condition `item`: the item's text, or for the body with
// `linkHost` (SpamReg) the host of the first link; a body without a link falls back to the From:
// address (`item` becomes 1). Cleaned of bytes a rule file cannot hold and cut to a rule text.
std::string easySpamKeyword(const HeaderInfo& header, std::span<const TextPiece> body,
                            int32_t& item, bool linkHost);
// The host of the first "http...:" link of a text, as the easy-spam registration takes it.
std::optional<std::string> firstLinkHost(std::string_view text);

}  // namespace kolvy::rules
