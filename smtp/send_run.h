// The send run without its window: the waiting messages of some send tabs, grouped by the
// account whose address they are sent from, delivered account by account over one SMTP session
// each, and recorded as sent — stored copy, index record, counters, send log, after-send rules.
//
// What the run promises whatever the server, the network or a kill does:
//   - a message is recorded as sent only after the server accepted its end of data;
//   - it is recorded before the next message goes out: the stored copy (temporary file, one
//     replace), then the index record (stored time, then the state byte), then the counters;
//     a kill leaves every message waiting or sent, and at most the one in flight goes out twice;
//   - a message whose file already says sent (a kill between file and index) is never sent
//     again: its index record is brought in line instead;
//   - an item that this run did not assign to an account is never sent (a stale assignment of
//     an earlier run is cleared first).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "core/mail_state.h"
#include "core/records.h"
#include "platform/env.h"
#include "rules/executor.h"
#include "rules/rule_book.h"
#include "smtp/outgoing.h"
#include "smtp/session.h"

namespace kolvy::smtp {

// sendAccount of an item this run does not send, and the outgoing mail states.
using mail::kDraft;
using mail::kDraftAttached;
using mail::kNotSending;
using mail::kSent;
using mail::kSentAttached;
using mail::kWaiting;
using mail::kWaitingAttached;

// Options of section "Option" the run reads.
struct SendRunOptions {
    unsigned timeoutMs = 60000;       // TimeOut
    bool logOutSend = false;          // LogOutSend: the wire text of every message to the send log
    bool confirmAttachments = false;  // TenpuConfirmDlg (attended runs only)
};
SendRunOptions readSendRunOptions(platform::Profile& ini);

// The address a message is sent from, from its index record: the MailAddress of the account
// the record names, else the record's fallback address (a record without account, 101).
std::string senderAddress(int recordAccount, std::string_view fallback, const Account* first);
// Every waiting item (16, 17) gets the first account whose MailAddress equals its sender
// address, and that account's sendPending is set; every other item gets kNotSending. With
// `chosen`, only the items it accepts are assigned (the user's selection). Returns the number of
// items assigned.
using ItemFilter = std::function<bool(const MailItem&)>;
int assignAccounts(Tab& tab, Account* firstAccount,
                   const std::function<std::string(const MailItem&)>& senderOf,
                   const ItemFilter& chosen = {});

// The stored copy of a sent draft: the status line with the sent state and the stamp of the send
// time, and at the end of the header "X-Message-ID" (the wire's Message-ID line) and, with
// attachments, the X-PartInfo lines.
std::string storedCopy(std::string_view draft, const ComposedMessage& m, uint8_t sentState,
                       std::string_view stamp);

struct SendRun {
    SendRun(Env& e, Account* first, SendObserver& o) : env(e), accounts(first), observer(o) {}
    Env& env;
    Account* accounts;  // the first account of the account list
    SendObserver& observer;
    SendRunOptions options;
    // The after-send rules; none: not applied.
    rules::RuleBook* sendRules = nullptr;
    rules::StoredMessageReader* reader = nullptr;
    rules::ApplyOptions ruleOptions;
    // Only these items are sent (the selected ones); none: every waiting item of the tabs.
    ItemFilter chosen;
};

struct SendOutcome {
    int sent = 0;          // messages delivered and recorded in this run
    int waiting = 0;       // waiting messages left in the run's tabs afterwards
    bool stopped = false;  // a failure or a stop request ended the run early
};

// Reads the tabs' whole indexes, assigns accounts and sends. The caller owns the tabs.
SendOutcome runSend(SendRun& run, std::span<Tab* const> tabs);

// Texts of the run.
inline constexpr char kTextAttachmentUnopenable[] = "添付ファイルが開けませんでした。    ";
inline constexpr char kTextIndexUnopenable[] = "目次ファイル（mokuji.bin）が開けませんでした。    ";
inline constexpr char kTextConfirmAttachments[] =
    "添付ファイルのあるメールを送信しようとしています。よろしいですか？   ";

}  // namespace kolvy::smtp
