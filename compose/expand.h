// Variable expansion of templates, quoting, the HTML-to-text conversion, the Date line and the
// assembly of reply and forward drafts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "compose/message.h"
#include "compose/templates.h"
#include "core/records.h"
#include "platform/platform.h"

namespace kolvy::compose {

struct ExpandContext {
    const Account* accounts = nullptr;     // the first account of the list
    const Account* paneAccount = nullptr;  // the account of the order in the account pane
    std::string timeText;                  // $Time: the list's time text of now
    int htmlLineCount = 10000;             // Option/ReplyHtmlLineCount
};

// Expands `text` against `source` (none: only $AcountPain and $Time). $Body and $AllHeader need
// `withBody`. The output grows as needed: a body of any size is quoted whole.
std::string expand(std::string_view text, const ExpandContext& context, const SourceMessage* source,
                   bool withBody);

// Every line of `body` with `prefix` in front; trailing line ends cut, a last line that is a lone
// "." (a server's end mark) dropped, and one CR LF at the end.
std::string quoteBody(std::string_view body, std::string_view prefix);

// HTML to plain text for quoting. `lineLimit` characters (double-byte ones count two) end an
// output line.
std::string htmlToText(std::string_view html, int lineLimit);

// "Date: Mon, 9 Mar 2026 07:05:09 +0900\r\n" for a local time.
std::string dateLine(const platform::LocalTime& t);

// The headers a rule-made reply or forward gets besides the template's.
inline constexpr char kAutoSubmittedLine[] = "Auto-Submitted: auto-replied\r\n";

struct DraftRequest {
    const Template* tmpl = nullptr;
    const SourceMessage* source = nullptr;  // none for a new message
    platform::LocalTime now;
    bool ruleMade = false;  // carries Auto-Submitted
    bool withBody = true;   // $Body and $AllHeader (not when the message goes as an attachment)
    // Rule-made forwards: the From and To values the draft gets instead of the template's.
    std::string forwardFrom, forwardTo;
};
// New message (no source), reply and forward in the body: header part, Date line, for a reply
// In-Reply-To and References, the blank line, the body part.
std::string newDraft(const DraftRequest& r, const ExpandContext& c);
std::string replyDraft(const DraftRequest& r, const ExpandContext& c);
std::string forwardDraft(const DraftRequest& r, const ExpandContext& c);
// "そのまま転送": Resent-To and Resent-From, then the message's own header and body.
std::string resendDraft(const SourceMessage& source, std::string_view to, std::string_view from,
                        bool ruleMade);

// Replaces the value of the header line of `header` whose name starts with `first` followed by
// `second` in either case (From: "F","r"; To: "T","o").
std::string replaceHeaderValue(std::string_view header, char first, char second,
                               std::string_view value);

}  // namespace kolvy::compose
