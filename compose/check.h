// The header check of templates and drafts.
#pragma once

#include <string>
#include <string_view>

namespace kolvy::compose {

enum class CheckMode {
    Template,     // reply and forward templates
    NewTemplate,  // the new-message template: no variable but $AcountPain
    Draft,        // a new draft
    ReplyDraft,   // a reply: In-Reply-To and References allowed
    EditedDraft,  // a stored draft edited again: generated and unknown headers not refused
    ResendDraft,  // "そのまま転送": the forwarded header as it is, Resent-To and Resent-From
};

inline constexpr char kMissingTemplate[] =
    "%s が無いか、綴りが間違っています。From:  To:  Subject:  は必須です。";
inline constexpr char kMissingDraft[] =
    "%s が無いか、ヘッダ同士の間に空行があります。連続して記述してください。";
inline constexpr char kAutomaticHeaders[] =
    "In-Reply-To:  References:  Date:  Message-ID:  X-Mailer: は自動的に設定します。\n"
    "ユーザーが設定することは出来ません。";
inline constexpr char kUnknownHeader[] =
    "ユーザーが設定できないヘッダが使われています。設定できるヘッダは以下の通りです。\n"
    "From:  To:  Subject:  Cc:  Bcc:  Reply-To:  Sender:  X-...（X-Mailerは除く）";
inline constexpr char kNewTemplateVariables[] =
    "「新規メール」の雛型では $AcountPain 以外のコマンドは使えません。";
inline constexpr char kDuplicateHeaders[] = "同じヘッダが複数あります。";
inline constexpr char kSeveralFromAddresses[] =
    "From: のアドレスが複数設定されている可能性があります。";

// Headers that can be present without an address (the draft may only be saved as unfinished).
enum class NoAddress { None = 0, From = 3, To = 4, Cc = 5, Bcc = 6, ResentTo = 7 };
std::string_view noAddressName(NoAddress which);

struct HeaderCheck {
    std::string message;  // empty: the header passes
    NoAddress noAddress = NoAddress::None;
    std::string resentFrom;  // the value of Resent-From:, when there is one
    bool ok() const { return message.empty(); }
};

// Checks the header of `text` (up to its blank line) in `mode`.
HeaderCheck checkHeader(std::string_view text, CheckMode mode);

// The header block of a draft: up to the first LF followed one byte later by another LF.
std::string_view headerBlock(std::string_view text);

}  // namespace kolvy::compose
