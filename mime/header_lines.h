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

// One line of a header block.
struct HeaderLine {
    size_t start = 0;  // its first byte
    size_t end = 0;    // its CR, LF or NUL, or the text's end
    HeaderMatch match;
    size_t value = 0;        // recognised lines: after the colon and the blanks that follow it
    bool continued = false;  // starts with a blank or TAB: it continues the field above
};

// A walk over a header block: the text starts with the LF before the first header line. Each step
// ends at the next LF (a line follows), or where the block ends: the empty line, a NUL, the text's
// end. Trail bytes of double-byte characters are never CR, LF or NUL, so the walk reads bytes.
class HeaderWalk {
  public:
    enum class Form {
        Received,  // the empty line is CR LF ("\r?\r" ends the block); a bare LF is a line break
        Stored,    // also a LF followed by a line break ends the block
    };
    enum class Stop {
        Line,       // at: the LF; line: the line after it
        EmptyLine,  // at: the CR of "\r?\r", or the line break after a bare LF (Stored)
        Cut,        // at: a NUL or the text's end
    };
    struct Step {
        Stop stop;
        size_t at;
        HeaderLine line;
    };

    HeaderWalk(std::string_view text, Form form) : text_(text), form_(form) {}
    // The next step from the byte at `from` on (a reader that consumed part of a field resumes
    // after what it consumed).
    Step next(size_t from) const;
    // The line that starts at `start`.
    HeaderLine line(size_t start) const;
    // Where the field of `l` ends (see fieldEnd), and its value through its continuation lines.
    size_t fieldEnd(const HeaderLine& l) const;
    std::string_view value(const HeaderLine& l) const {
        return text_.substr(l.value, fieldEnd(l) - l.value);
    }

  private:
    std::string_view text_;
    Form form_;
};

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
