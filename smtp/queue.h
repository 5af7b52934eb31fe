// Queuing a ready draft as a waiting message of a send tab, with the index record the composer
// writes: the sending account (the first whose MailAddress occurs in the From: address), the
// first recipient's name and address and the subject for the list row.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/records.h"
#include "core/result.h"
#include "platform/env.h"

namespace kolvy::smtp {

inline constexpr char kTextFromNotAnAccount[] =
    "From: はアカウント設定に登録されているアドレスしか使用できません。";

// `draft` is the header lines, an empty line and the body in Shift_JIS with any line ends
// (made CR LF). Attachments (paths) are copied into the message's attachment folder; with any,
// the state is "waiting with attachments". Returns the file number; Err::Invalid when the From:
// address names no account (nothing is stored).
Result<int> queueDraft(Env& env, Tab& tab, const Account* firstAccount, std::string_view draft,
                       std::span<const std::string> attachments = {});

}  // namespace kolvy::smtp
