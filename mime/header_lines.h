// What the two header readers share: which header a line starts (by its whole name and colon, so
// that "Summary:" is never taken for "Subject:" nor "Thread-Topic:" for "To:"), where a folded
// field ends, and the name and address of a From:, To: or Resent- value. GetHead uses them on
// received text while it copies and decodes; the stored header reader on stored text in place.
#pragma once

#include <cstddef>
#include <string_view>

namespace kolvy::mime {

enum class HeaderName {
    None,
    Date,
    DeliveredTo,
    From,
    ResentFrom,
    To,
    ResentTo,
    Subject,
    Received,
    ReplyTo,
    ReturnPath,
    UserAgent,
    XMailer,
    XPartInfo,
    XMlName,
    MessageId,
    Cc,
    ContentType,
    ContentDisposition,
    ContentTransferEncoding,
};

struct HeaderMatch {
    HeaderName name = HeaderName::None;
    size_t colon = 0;  // the colon's offset in the line
};

// The header `line` (the text from the first byte of a header line on) starts: the whole name,
// any case, directly followed by its colon. "X-PartInfo:" counts only with its P and I in
// capitals. Returns HeaderName::None for every other line.
HeaderMatch recogniseHeader(std::string_view line);

// Whether the header line starting at text[lineStart] is a part line "X-PartInfo:" (the P and the
// I in capitals; the other letters in either case). Every reader of part lines asks this.
bool isPartInfoLine(std::string_view text, size_t lineStart);

// The end of the field whose value starts at `from`: the line break (its CR, or a lone LF) not
// followed by a blank or TAB, a NUL, or the text's end. Steps over Shift_JIS double-byte pairs.
size_t fieldEnd(std::string_view text, size_t from);

// How many addresses a value may name.
enum class AddressForm {
    Sender,          // From: and Resent-From:
    FirstRecipient,  // To: of received mail: only the first recipient is recorded
    AllRecipients,   // To: of stored mail: an address list runs to the end of the line or "("
};
// The display name and address of a value ("Name" <addr>, Name <addr>, addr (Name), addr).
// A view with a null data pointer is absent; names lose their trailing blanks. Scanning steps
// over Shift_JIS double-byte characters. Both views lie inside `value`.
struct NameAddress {
    std::string_view name, address;
};
NameAddress parseNameAddress(std::string_view value, AddressForm form);

}  // namespace kolvy::mime
