// Automatic replies and forwards that rules ask for: the one interface through which message
// analysis (received mail) and the rule executor (stored mail) have them made, and the guard
// both ask first, so that automatic, list or bounce mail and the user's own are never answered.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"

namespace kolvy::rules {

inline constexpr char kAutoReplyFailed[] =
    "メッセージルールによる返信メールの作成に失敗しました。    ";
inline constexpr char kAutoForwardFailed[] =
    "メッセージルールによる転送メールの作成に失敗しました。    ";
// The header every rule-made reply carries, so that the other side's automatic answers stop.
inline constexpr char kAutoRepliedHeader[] = "Auto-Submitted: auto-replied";

// A reply or forward a rule asks for. The message answered is a stored item (sourceTab and
// item) or, for mail analysis has just stored, its own copy of the stored text (storedText,
// with sourceTab and fileNo saying where it went).
struct AutoRequest {
    Tab* sourceTab = nullptr;
    const MailItem* item = nullptr;
    std::string storedText;
    int fileNo = -1;
    std::string templateName;
    Tab* intoTab = nullptr;
    int32_t forwardKind = 0;  // forwards: 1 in the body, 2 attached, 3 as it is
    std::string forwardFrom, forwardTo;
    // Headers the draft must carry (a reply: kAutoRepliedHeader).
    std::vector<std::string> extraHeaders;
};
// The reply and the forward of a rule's result (template, target tab, forward fields); the
// caller fills in the message answered.
AutoRequest replyRequest(const RuleResult& result);
AutoRequest forwardRequest(const RuleResult& result);

// Makes the drafts (the composer, in the program). Each call runs to its end before the caller
// goes on, so nothing it uses changes under it.
class AutoResponder {
  public:
    virtual ~AutoResponder() = default;
    // True when the draft was made.
    virtual bool reply(const AutoRequest& request) = 0;
    virtual bool forward(const AutoRequest& request) = 0;
};

// Why no automatic answer goes to a message: answers to automatic mail, lists, bounces, the
// user's own mail, or mail answered before would loop or storm.
enum class AutoSkip {
    None,
    AutoSubmitted,    // Auto-Submitted: other than "no"
    Precedence,       // Precedence: bulk, list or junk
    ListId,           // List-Id:
    EmptyReturnPath,  // Return-Path: <>
    MailerDaemon,     // from MAILER-DAEMON
    OwnAccount,       // from one of the user's own addresses
    AlreadyAnswered,  // already replied to or forwarded
};
// `headerText` is the message's header lines; `fromAddress` its From: address; `state` its mail
// state byte; `ownAddresses` the mail addresses of the user's accounts.
AutoSkip autoAnswerGuard(std::string_view headerText, std::string_view fromAddress, uint8_t state,
                         std::span<const std::string> ownAddresses);
// The mail addresses of an account list, from its first account on.
std::vector<std::string> ownAddresses(const Account* first);

// The unfolded value of the first header line named `name` (ASCII, any case) in `headerText`,
// blanks around it trimmed; nullopt when there is none.
std::optional<std::string> headerValue(std::string_view headerText, std::string_view name);

}  // namespace kolvy::rules
