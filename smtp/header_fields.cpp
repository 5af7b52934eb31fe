#include "smtp/header_fields.h"

#include <algorithm>

#include "core/sjis.h"
#include "smtp/encode.h"
#include "smtp/outgoing.h"

namespace kolvy::smtp {

namespace {

constexpr std::string_view kCrLf = "\r\n";

uint8_t u8(char c) {
    return static_cast<uint8_t>(c);
}

bool isAddressChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-./=?@^_`{|}~").find(c) != std::string_view::npos;
}

// What a header field is for, from its whole name compared without regard to case.
enum class Kind {
    Other,
    From,  // From, Sender, Reply-To and the like: values encoded, no recipients
    To,    // To, Cc
    Bcc,
    ResentTo,  // Resent-To, Resent-Cc
    ResentBcc,
    ResentFrom,
    Subject,
    OwnMessageId,  // Message-ID: ours replaces it (Resent-Message-ID in a resent message)
    ResentMessageId,
    Mime,  // MIME-Version, Content-Type, Content-Transfer-Encoding: ours replace them
};

struct Field {
    std::string_view text;   // the whole field with its continuation lines and CR LF
    std::string_view name;   // without trailing blanks
    std::string_view value;  // after ":", up to the field's last CR LF (blanks after ":" kept)
    Kind kind = Kind::Other;
};

Kind kindOf(std::string_view name) {
    struct Entry {
        std::string_view name;
        Kind kind;
    };
    static constexpr Entry kKinds[] = {
        {"From", Kind::From},
        {"Sender", Kind::From},
        {"Reply-To", Kind::From},
        {"To", Kind::To},
        {"Cc", Kind::To},
        {"Bcc", Kind::Bcc},
        {"Resent-To", Kind::ResentTo},
        {"Resent-Cc", Kind::ResentTo},
        {"Resent-Bcc", Kind::ResentBcc},
        {"Resent-From", Kind::ResentFrom},
        {"Resent-Sender", Kind::From},
        {"Subject", Kind::Subject},
        {"Message-ID", Kind::OwnMessageId},
        {"Resent-Message-ID", Kind::ResentMessageId},
        {"MIME-Version", Kind::Mime},
        {"Content-Type", Kind::Mime},
        {"Content-Transfer-Encoding", Kind::Mime},
    };
    for (const Entry& e : kKinds)
        if (sjis::equalsNoCaseAscii(name, e.name)) return e.kind;
    return Kind::Other;
}

std::vector<Field> splitFields(std::string_view header) {
    std::vector<Field> fields;
    size_t i = 0;
    while (i < header.size()) {
        size_t end = i;
        do {  // the field runs until a line end not followed by a blank or TAB
            const size_t lf = header.find('\n', end);
            end = lf == std::string_view::npos ? header.size() : lf + 1;
        } while (end < header.size() && (header[end] == ' ' || header[end] == '\t'));
        Field f;
        f.text = header.substr(i, end - i);
        const size_t lineEnd = f.text.find('\r');
        const size_t colon = f.text.substr(0, lineEnd).find(':');
        if (colon != std::string_view::npos && f.text[0] != ' ' && f.text[0] != '\t') {
            f.name = f.text.substr(0, colon);
            while (!f.name.empty() && (f.name.back() == ' ' || f.name.back() == '\t'))
                f.name.remove_suffix(1);
            f.value = f.text.substr(colon + 1);
            if (f.value.ends_with(kCrLf)) f.value.remove_suffix(2);
            f.kind = kindOf(f.name);
        }
        fields.push_back(f);
        i = end;
    }
    return fields;
}

// Characters that end a run of text to be encoded: blanks, line ends and the specials of
// addresses, so that a word never swallows "<", "@" or a quote.
bool endsRun(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' ||
           std::string_view("<>@,;:\"()[]\\").find(c) != std::string_view::npos;
}

// End of the encoded run that starts with the non-ASCII character at i: it goes on over blanks
// and ASCII word characters as long as more Japanese follows before a run end, and takes the
// ASCII word characters directly after its last Japanese character.
size_t runEnd(std::string_view v, size_t i) {
    size_t end = i, j = i;
    while (j < v.size()) {
        const char c = v[j];
        if (u8(c) >= 0x80) {
            j += sjis::charLen(v, j);
            end = j;
        } else if (c == ' ' || c == '\t' || !endsRun(c)) {
            ++j;
        } else {
            break;
        }
    }
    while (end < v.size() && u8(v[end]) < 0x80 && !endsRun(v[end]))
        ++end;
    return end;
}

}  // namespace

std::string encodeValueRuns(std::string_view v) {
    if (sjis::isAscii(v)) return std::string(v);
    std::string out;
    size_t copied = 0, i = 0;
    size_t wordStart = 0;  // where the current blank-free ASCII stretch began
    while (i < v.size()) {
        const char c = v[i];
        if (u8(c) < 0x80) {
            if (endsRun(c)) wordStart = i + 1;
            ++i;
            continue;
        }
        const size_t end = runEnd(v, i);
        out.append(v.substr(copied, wordStart - copied));
        appendEncodedWords(out, v.substr(wordStart, end - wordStart), "\r\n ");
        i = copied = wordStart = end;
    }
    out.append(v.substr(copied));
    return out;
}

std::string encodeSubjectValue(std::string_view v) {
    if (sjis::isAscii(v)) return std::string(v);
    size_t lead = 0;
    while (lead < v.size() && (v[lead] == ' ' || v[lead] == '\t'))
        ++lead;
    // The text unfolded: continuation line ends go, their blanks stay.
    std::string text;
    for (size_t i = lead; i < v.size(); ++i) {
        if (v[i] == '\r' || v[i] == '\n') continue;
        text += v[i];
    }
    constexpr size_t kPieceMin = 21;  // a piece closes at the first count above 20
    std::string out(v.substr(0, lead));
    size_t i = 0;
    while (i < text.size()) {
        size_t end = i;
        while (end < text.size() && end - i < kPieceMin)
            end += sjis::charLen(text, end);
        if (i > 0) out += "\r\n\t";
        appendEncodedWords(out, std::string_view(text).substr(i, end - i), "\r\n\t");
        i = end;
    }
    return out;
}

void collectAddresses(std::string_view v, std::vector<std::string>& out) {
    size_t i = 0, stretch = 0;  // stretch: first byte of the current run of address characters
    while (i < v.size()) {
        const char c = v[i];
        if (u8(c) >= 0x80) {  // a whole Shift_JIS character: its trail byte is never looked at
            i += sjis::charLen(v, i);
            stretch = i;
            continue;
        }
        if (c != '@') {
            if (!isAddressChar(c)) stretch = i + 1;
            ++i;
            continue;
        }
        // Bytes below 0x40 are never trail bytes, so a plain search finds these.
        const size_t stop = v.find_first_of(",\r<>", i + 1);
        if (stop != std::string_view::npos && v[stop] == '<') {  // "@" of a display name
            stretch = ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < v.size() && isAddressChar(v[end]))
            ++end;
        if (stretch < i && end > i + 1) {
            std::string addr(v.substr(stretch, end - stretch));
            const bool seen = std::any_of(out.begin(), out.end(), [&](const std::string& a) {
                return sjis::equalsNoCaseAscii(a, addr);
            });
            if (!seen) out.push_back(std::move(addr));
        }
        i = stretch = end;
    }
}

DraftParts splitDraft(std::string_view draft) {
    DraftParts p;
    const size_t status = draft.find(kCrLf);
    if (status == std::string_view::npos) return p;
    const std::string_view rest = draft.substr(status + 2);
    if (rest.starts_with(kCrLf)) {
        p.body = rest.substr(2);
        return p;
    }
    const size_t blank = rest.find("\r\n\r\n");
    if (blank == std::string_view::npos) {
        p.header = rest;
        return p;
    }
    p.header = rest.substr(0, blank + 2);
    p.body = rest.substr(blank + 4);
    return p;
}

namespace {

std::string mimeLines(bool html) {
    return std::string("MIME-Version: 1.0\r\nContent-Type: ") +
           (html ? "text/html" : "text/plain") +
           "; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n";
}

bool isHtmlMarker(const Field& f) {
    if (!sjis::equalsNoCaseAscii(f.name, "X-Content-Type")) return false;
    std::string_view v = f.value;
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
        v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t'))
        v.remove_suffix(1);
    return sjis::equalsNoCaseAscii(v, "html");
}

// The field as it goes on the wire (empty: it is left out).
std::string wireField(const Field& f, bool resent) {
    switch (f.kind) {
        case Kind::Bcc:
        case Kind::ResentBcc:
        case Kind::Mime:
            return {};
        case Kind::OwnMessageId:
            if (!resent) return {};
            break;
        case Kind::ResentMessageId:
            if (resent) return {};
            break;
        case Kind::Subject:
            return std::string(f.name) + ":" + encodeSubjectValue(f.value) + "\r\n";
        default:
            break;
    }
    // A line that is no field, or whose name has Japanese in it, still leaves 7-bit.
    if (f.name.empty() || !sjis::isAscii(f.name)) return encodeValueRuns(f.text);
    if (sjis::isAscii(f.value)) return std::string(f.text);
    return std::string(f.name) + ":" + encodeValueRuns(f.value) + "\r\n";
}

// A draft whose header runs to the end of the file has no line end after its last field.
void appendField(std::string& out, const std::string& field) {
    out += field;
    if (!field.empty() && !field.ends_with(kCrLf)) out += kCrLf;
}

}  // namespace

HeaderOutput rewriteHeader(std::string_view header, const HeaderOptions& opt) {
    HeaderOutput h;
    const std::vector<Field> fields = splitFields(header);
    std::vector<std::string> plain, resent;
    bool html = false;
    for (const Field& f : fields) {
        if (f.kind == Kind::To || f.kind == Kind::Bcc) collectAddresses(f.value, plain);
        if (f.kind == Kind::ResentTo || f.kind == Kind::ResentBcc)
            collectAddresses(f.value, resent);
        html = html || isHtmlMarker(f);
    }
    h.resent = !resent.empty();
    h.recipients = h.resent ? std::move(resent) : std::move(plain);

    const std::string id(opt.messageIdValue);
    if (!h.resent) {
        for (const Field& f : fields)
            appendField(h.text, wireField(f, false));
        h.messageIdLine = "Message-ID: " + id + "\r\n";
        h.text += h.messageIdLine;
        if (!opt.multipart)
            h.text += mimeLines(false) + "X-Mailer: " + std::string(kMailerName) + "\r\n";
        return h;
    }
    // One Resent block, after the Resent-From line, or at the end when there is none.
    h.messageIdLine = "Resent-Message-ID: " + id + "\r\n";
    std::string block = h.messageIdLine + "Resent-X-Mailer: " + std::string(kMailerName) + "\r\n";
    if (!opt.multipart) block += mimeLines(html);
    bool placed = false;
    for (const Field& f : fields) {
        appendField(h.text, wireField(f, true));
        if (f.kind == Kind::ResentFrom && !placed) {
            h.text += block;
            placed = true;
        }
    }
    if (!placed) h.text += block;
    return h;
}

}  // namespace kolvy::smtp
