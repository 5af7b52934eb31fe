// The header of an outgoing draft rewritten for the wire: Japanese values become encoded words,
// Bcc lines go, recipients are collected, and the Message-ID (and MIME) lines are added once.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kolvy::smtp {

// A draft after its status line: header lines (each with its CR LF) and the body after the blank
// line. Line ends must already be CR LF.
struct DraftParts {
    std::string_view header;
    std::string_view body;
};
DraftParts splitDraft(std::string_view draft);

struct HeaderOptions {
    std::string_view messageIdValue;  // "<...>"
    bool multipart = false;           // the caller writes the multipart lines after the header
};

struct HeaderOutput {
    std::string text;  // header lines with CR LF, without the blank line
    std::vector<std::string> recipients;
    std::string messageIdLine;
    bool resent = false;
};
HeaderOutput rewriteHeader(std::string_view header, const HeaderOptions& opt);

// Envelope addresses of one header value, appended to `out` (scanned over whole Shift_JIS
// characters; an "@" of a display name before "<" is skipped).
void collectAddresses(std::string_view value, std::vector<std::string>& out);
// A value with its Japanese made encoded words (ASCII stays as it is).
std::string encodeValueRuns(std::string_view value);
// A Subject value made encoded words of about 21 source bytes each, joined by CR LF TAB; an
// all-ASCII value stays as it is.
std::string encodeSubjectValue(std::string_view value);

}  // namespace kolvy::smtp
