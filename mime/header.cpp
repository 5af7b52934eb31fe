#include "mime/header.h"
#include "mime/stored_header.h"

#include <array>
#include <cstring>

#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/internal.h"

namespace kolvy::mime {
namespace {

inline unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}
inline bool isLineEnd(unsigned char c) {
    return c == '\r' || c == '\n' || c == '\0';
}
inline bool isBlankOrTab(unsigned char c) {
    return c == ' ' || c == '\t';
}

enum class Header {
    None,
    Date,
    DeliveredTo,
    From,
    To,
    Subject,
    Received,
    ReplyTo,
    ReturnPath,
    UserAgent,
    XMailer,
    XMlName,
    XPartInfo,
    Cc,
    ContentType,
    ContentDisposition,
    ContentTransferEncoding,
    MessageId,
};

// The longest name position tested ("Content-Transfer-Encoding:" has its colon at 26).
constexpr size_t kNamePositions = 26;

// One parameter of a Content-Type or Content-Disposition field, as positions in the source.
struct Param {
    size_t start = 0, nameEnd = 0, baseEnd = 0;  // baseEnd: before a "*" of RFC 2231
    size_t valueStart = 0, valueEnd = 0, end = 0;
    bool hasValue = false, quoted = false;
    bool sectioned = false;  // "name*", "name*N" or "name*N*"
    bool extended = false;   // percent-encoded ("name*" or "name*N*")
};

class HeadParser {
  public:
    HeadParser(std::span<char> source, size_t length, std::span<char> copy, HeaderInfo& info)
        : src_(source.data()),
          len_(std::min(length, source.size())),
          cap_(source.size()),
          dst_(copy.data()),
          dcap_(copy.size()),
          h_(info) {}

    HeadResult run();

  private:
    // The byte at k; NUL past the text.
    unsigned char s(size_t k) const { return k < len_ ? static_cast<unsigned char>(src_[k]) : 0; }
    bool emit(char c) {
        if (d_ + 1 >= dcap_) {
            full_ = true;
            return false;
        }
        dst_[d_++] = c;
        return true;
    }
    void copyRaw(size_t to) {
        while (i_ < to && !full_)
            emit(src_[i_++]);
    }
    char* here() const { return dst_ + d_; }
    size_t rawValueLen(size_t from) const {
        size_t k = from;
        while (!isLineEnd(s(k)))
            ++k;
        return k - from;
    }
    // The end of the field that starts at `from`: the CR of the first CR LF not followed by a
    // blank or TAB, or the end of the text.
    size_t fieldEnd(size_t from) const {
        size_t k = from;
        for (; k < len_ && src_[k] != '\0'; ++k) {
            if (src_[k] == '\r' && s(k + 1) == '\n' && !isBlankOrTab(s(k + 2))) break;
        }
        return k;
    }
    bool foldAt(size_t k) const {
        return s(k) == '\r' && s(k + 1) == '\n' && isBlankOrTab(s(k + 2));
    }

    Header recognise(size_t lf, size_t& colon) const;
    // Handles the line that starts after the LF at `lf`; false when the header block ended.
    bool lineStart(size_t lf, bool lfEmitted);
    void handle(Header hd, size_t lf, size_t colon);
    void decodedField(char*& start, char*& end);
    void parameters(bool disposition);
    std::vector<Param> tokenize(size_t from) const;
    void nameParameter(const std::vector<Param>& ps, size_t& t);
    void appendOther(size_t k);
    bool endWithoutBlankLine(size_t z);
    bool terminatorAt(size_t lf);

    char* src_;
    size_t len_, cap_;
    char* dst_;
    size_t dcap_;
    HeaderInfo& h_;
    size_t i_ = 0, d_ = 0;
    bool full_ = false;
    bool other_ = false;  // the current line belongs to a header that is not recognised
    size_t receivedCount_ = 0, receivedLen_ = 0, otherLen_ = 0;
    HeadResult result_;
};

Header HeadParser::recognise(size_t lf, size_t& colon) const {
    // Names are told apart by fixed positions counted from the LF, within the line only.
    size_t lineLen = 0;
    while (lineLen < kNamePositions && !isLineEnd(s(lf + 1 + lineLen)))
        ++lineLen;
    auto raw = [&](size_t k) -> unsigned char { return k <= lineLen ? s(lf + k) : 0; };
    auto pos = [&](size_t k) -> unsigned char { return lower(raw(k)); };
    auto is = [&](size_t c, Header hd) {
        colon = c;
        return hd;
    };
    switch (pos(1)) {
        case 'd':
            if (pos(2) == 'a' && pos(5) == ':') return is(5, Header::Date);
            if (pos(11) == 't' && pos(13) == ':') return is(13, Header::DeliveredTo);
            break;
        case 'f':
            if (pos(5) == ':') return is(5, Header::From);
            break;
        case 't':
            if (pos(3) == ':') return is(3, Header::To);
            break;
        case 's':
            if (pos(2) == 'u' && pos(8) == ':') return is(8, Header::Subject);
            break;
        case 'r':
            if (pos(3) == 'c' && pos(9) == ':' && receivedCount_ < kReceivedHeaders)
                return is(9, Header::Received);
            if (pos(3) == 'p' && pos(9) == ':') return is(9, Header::ReplyTo);
            if (pos(11) == 'h' && pos(12) == ':') return is(12, Header::ReturnPath);
            break;
        case 'u':
            if (pos(6) == 'a') {
                for (size_t k = 7; !isLineEnd(s(lf + k)); ++k) {
                    if (s(lf + k) == ':') return is(k, Header::UserAgent);
                }
            }
            break;
        case 'x':
            // The one test every reader of part lines makes, so that a part line received from
            // outside is dropped exactly when a reader would take it for one.
            if (lineLen >= 11 && isPartInfoLine(std::string_view(src_ + lf + 1, lineLen), 0))
                return is(11, Header::XPartInfo);
            if (pos(3) == 'm' && pos(6) == 'l' && pos(8) == 'r' && pos(9) == ':')
                return is(9, Header::XMailer);
            if (pos(3) == 'm' && pos(9) == 'e' && pos(10) == ':') return is(10, Header::XMlName);
            break;
        case 'c':
            if (pos(2) == 'c' && pos(3) == ':') return is(3, Header::Cc);
            if (pos(3) == 'n') {
                if (pos(10) == 'y' && pos(13) == ':') return is(13, Header::ContentType);
                if (pos(10) == 'i' && pos(20) == ':') return is(20, Header::ContentDisposition);
                if (pos(10) == 'r' && pos(26) == ':')
                    return is(26, Header::ContentTransferEncoding);
            }
            break;
        case 'm':
            if (pos(10) == 'd' && pos(11) == ':') return is(11, Header::MessageId);
            break;
        default:
            break;
    }
    return Header::None;
}

// ------------------------------------------------------------------- names and addresses
std::string_view trimBlanks(std::string_view v) {
    while (!v.empty() && (isBlankOrTab(v.back()) || v.back() == '\r' || v.back() == '\n'))
        v.remove_suffix(1);
    return v;
}

void setRange(char*& start, char*& end, std::string_view v) {
    start = const_cast<char*>(v.data());  // the view lies in the copy, which the record owns
    end = start + v.size();
}

// "Name" <addr>, Name <addr>, addr (Name), addr: scanning steps over double-byte characters.
void parseNameAddress(std::string_view v, bool firstOnly, char*& nameStart, char*& nameEnd,
                      char*& addrStart, char*& addrEnd) {
    v = trimBlanks(v);
    const size_t npos = std::string_view::npos;
    auto setName = [&](std::string_view n) { setRange(nameStart, nameEnd, n); };
    auto setAddr = [&](std::string_view a) { setRange(addrStart, addrEnd, a); };
    // The address inside "<" ">" (or to the end).
    auto angle = [&](size_t lt) {
        const size_t gt = sjis::find(v, '>', lt + 1);
        setAddr(v.substr(lt + 1, (gt == npos ? v.size() : gt) - lt - 1));
    };
    if (!v.empty() && v[0] == '"') {
        const size_t close = sjis::find(v, '"', 1);
        const bool at = close != npos && sjis::find(v, '@', close + 1) != npos;
        if (at) {
            setName(v.substr(1, close - 1));
            size_t k = close + 1;
            while (k < v.size() && (v[k] == ' ' || v[k] == '"' || v[k] == '<'))
                ++k;
            size_t e = k;
            while (e < v.size() && v[e] != '>' && !(firstOnly && v[e] == ','))
                e += sjis::charLen(v, e);
            setAddr(v.substr(k, e - k));
        } else {
            std::string_view n = v.substr(1);
            if (!n.empty() && n.back() == '"') n.remove_suffix(1);
            setName(n);
        }
        return;
    }
    size_t first = 0;
    while (first < v.size() && v[first] != '@' && v[first] != '<')
        first += sjis::charLen(v, first);
    if (first == v.size()) {
        setName(v);  // neither: all of it is the name
        return;
    }
    size_t lt = npos;
    if (v[first] == '<') {
        lt = first;
    } else {
        // "@" first: a later "<" before any "," still makes the angle form.
        for (size_t k = first; k < v.size() && v[k] != ','; k += sjis::charLen(v, k)) {
            if (v[k] == '<') {
                lt = k;
                break;
            }
        }
    }
    if (lt != npos) {
        std::string_view n = v.substr(0, lt);
        if (!n.empty() && n.back() == ' ') n.remove_suffix(1);
        setName(n);
        angle(lt);
        return;
    }
    {
        size_t e = 0;
        while (e < v.size() && v[e] != '(' && !(firstOnly && (v[e] == ',' || v[e] == '\r')))
            e += sjis::charLen(v, e);
        setAddr(trimBlanks(v.substr(0, e)));
        if (e < v.size() && v[e] == '(') {
            const size_t close = sjis::find(v, ')', e + 1);
            setName(v.substr(e + 1, (close == npos ? v.size() : close) - e - 1));
        }
    }
}

// ------------------------------------------------------------------------------ the parser
void HeadParser::appendOther(size_t k) {
    // Called for the byte at k of an unrecognised header line.
    const unsigned char c = s(k);
    if (c == '\r' || c == '\n' || c == '\t') return;
    if (otherLen_ >= kOtherHeadersMax) return;
    h_.otherHeaders[otherLen_++] = static_cast<char>(c);
}

void HeadParser::decodedField(char*& start, char*& end) {
    const Decoded r = decodeEncodedWords(std::string_view(src_ + i_, len_ - i_),
                                         std::span<char>(here(), dcap_ - d_));
    start = here();
    d_ += r.written;
    end = here();
    i_ += r.consumed;
    if (d_ + 1 >= dcap_) full_ = true;
}

std::vector<Param> HeadParser::tokenize(size_t from) const {
    std::vector<Param> ps;
    size_t p = from;
    while (ps.size() < kMaxParameters) {
        for (;;) {
            if (s(p) == ';' || isBlankOrTab(s(p))) {
                ++p;
            } else if (foldAt(p)) {
                p += 3;
            } else {
                break;
            }
        }
        if (isLineEnd(s(p))) break;
        Param pr;
        pr.start = p;
        while (!isLineEnd(s(p)) && s(p) != '=' && s(p) != ';' && !isBlankOrTab(s(p)))
            ++p;
        pr.nameEnd = p;
        pr.baseEnd = p;
        for (size_t k = pr.start; k < pr.nameEnd; ++k) {
            if (src_[k] == '*') {
                pr.baseEnd = k;
                pr.sectioned = true;
                pr.extended = src_[pr.nameEnd - 1] == '*';
                break;
            }
        }
        size_t q = p;
        while (isBlankOrTab(s(q)))
            ++q;
        if (s(q) == '=') {
            pr.hasValue = true;
            ++q;
            while (isBlankOrTab(s(q)))
                ++q;
            if (s(q) == '"') {
                pr.quoted = true;
                pr.valueStart = ++q;
                while (s(q) != '"' && (!isLineEnd(s(q)) || foldAt(q)))
                    q += foldAt(q) ? 3 : 1;
                pr.valueEnd = q;
                if (s(q) == '"') ++q;
                pr.end = q;
            } else {
                pr.valueStart = q;
                for (;;) {
                    while (!isLineEnd(s(q)) && s(q) != ';')
                        ++q;
                    // Encoded words of one value may continue on a folded line.
                    size_t r = q;
                    if (!foldAt(r)) break;
                    r += 3;
                    while (isBlankOrTab(s(r)))
                        ++r;
                    if (!(s(r) == '=' && s(r + 1) == '?')) break;
                    q = r;
                }
                size_t e = q;
                while (e > pr.valueStart && isBlankOrTab(s(e - 1)))
                    --e;
                pr.valueEnd = e;
                pr.end = e;
            }
        } else {
            pr.valueStart = pr.valueEnd = pr.end = p;
        }
        ps.push_back(pr);
        p = pr.end;
    }
    return ps;
}

void HeadParser::nameParameter(const std::vector<Param>& ps, size_t& t) {
    const Param& first = ps[t];
    if (first.sectioned) {
        // RFC 2231: the sections of one name that follow each other are joined.
        std::array<ParamSection, kMaxParameters> sections;
        size_t n = 0, u = t;
        const std::string_view base(src_ + first.start, first.baseEnd - first.start);
        while (u < ps.size() && ps[u].sectioned && ps[u].hasValue &&
               sjis::equalsNoCaseAscii(
                   std::string_view(src_ + ps[u].start, ps[u].baseEnd - ps[u].start), base)) {
            sections[n++] = {
                std::string_view(src_ + ps[u].valueStart, ps[u].valueEnd - ps[u].valueStart),
                ps[u].extended};
            ++u;
        }
        copyRaw(first.baseEnd);
        emit('=');
        if (full_) return;
        h_.nameStart = here();
        d_ += decodeExtendedValue(std::span<const ParamSection>(sections.data(), n),
                                  std::span<char>(here(), dcap_ - d_));
        h_.nameEnd = here();
        if (d_ + 1 >= dcap_) full_ = true;
        i_ = ps[u - 1].end;
        t = u - 1;
        return;
    }
    copyRaw(first.valueStart);
    if (full_) return;
    const Decoded r = decodeEncodedWords(
        std::string_view(src_ + first.valueStart, first.valueEnd - first.valueStart),
        std::span<char>(here(), dcap_ - d_));
    h_.nameStart = here();
    d_ += r.written;
    h_.nameEnd = here();
    if (d_ + 1 >= dcap_) full_ = true;
    i_ = first.valueStart + r.consumed;
    copyRaw(first.end);
}

void HeadParser::parameters(bool disposition) {
    const std::vector<Param> ps = tokenize(i_);
    size_t chosen = ps.size();
    if (disposition) {
        // The file name is the filename parameter; only without one the first parameter.
        for (size_t t = 0; t < ps.size() && chosen == ps.size(); ++t) {
            const std::string_view base(src_ + ps[t].start, ps[t].baseEnd - ps[t].start);
            if (ps[t].hasValue && sjis::equalsNoCaseAscii(base, "filename")) chosen = t;
        }
        if (chosen == ps.size() && !ps.empty() && ps[0].hasValue) chosen = 0;
    }
    for (size_t t = 0; t < ps.size() && !full_; ++t) {
        const Param& p = ps[t];
        copyRaw(p.start);
        const bool n = lower(s(p.start)) == 'n' && p.hasValue;
        if (disposition) {
            if (t == chosen) {
                nameParameter(ps, t);
            } else {
                copyRaw(p.end);
            }
            continue;
        }
        // Content-Type: the first two other parameters, then a third whatever its name.
        char** slotStart = nullptr;
        char** slotEnd = nullptr;
        if ((!h_.param1Start || !h_.param2Start) && n) {
            nameParameter(ps, t);
            continue;
        }
        if (!h_.param1Start) {
            slotStart = &h_.param1Start;
            slotEnd = &h_.param1End;
        } else if (!h_.param2Start) {
            slotStart = &h_.param2Start;
            slotEnd = &h_.param2End;
        } else if (!h_.param3Start) {
            slotStart = &h_.param3Start;
            slotEnd = &h_.param3End;
        } else if (n) {
            nameParameter(ps, t);
            continue;
        }
        char* start = here();
        copyRaw(p.end);
        if (slotStart && !full_) {
            *slotStart = start;
            *slotEnd = here();
        }
    }
}

void HeadParser::handle(Header hd, size_t lf, size_t colon) {
    copyRaw(lf + 1 + colon);
    while (s(i_) == ' ' && !full_)
        emit(src_[i_++]);
    if (full_) return;
    auto rawValue = [&](char*& start, char*& end) {
        const size_t n = std::min(rawValueLen(i_), dcap_ - 1 - d_);
        start = here();
        end = here() + n;
    };
    switch (hd) {
        case Header::Date: {
            if (const auto t = makeGmt(std::string_view(src_ + i_, rawValueLen(i_)))) h_.date = *t;
            break;
        }
        case Header::DeliveredTo:
            rawValue(h_.deliveredToStart, h_.deliveredToEnd);
            break;
        case Header::ReturnPath:
            rawValue(h_.returnPathStart, h_.returnPathEnd);
            break;
        case Header::MessageId:
            rawValue(h_.messageIdStart, h_.messageIdEnd);
            break;
        case Header::XMlName:
            rawValue(h_.mlNameStart, h_.mlNameEnd);
            break;
        case Header::ContentTransferEncoding:
            rawValue(h_.transferEncodingStart, h_.transferEncodingEnd);
            break;
        case Header::Received: {
            ++receivedCount_;
            const std::string_view v(src_ + i_, fieldEnd(i_) - i_);
            const std::string_view piece = sjis::truncate(
                v, std::min(kReceivedEachMax, kReceivedMax - std::min(kReceivedMax, receivedLen_)));
            std::memcpy(h_.received + receivedLen_, piece.data(), piece.size());
            receivedLen_ += piece.size();
            h_.received[receivedLen_] = '\0';
            break;
        }
        case Header::From:
        case Header::To: {
            char *start, *end;
            decodedField(start, end);
            const std::string_view v(start, static_cast<size_t>(end - start));
            if (hd == Header::From) {
                parseNameAddress(v, false, h_.fromNameStart, h_.fromNameEnd, h_.fromAddressStart,
                                 h_.fromAddressEnd);
            } else {
                parseNameAddress(v, true, h_.toNameStart, h_.toNameEnd, h_.toAddressStart,
                                 h_.toAddressEnd);
            }
            break;
        }
        case Header::Subject: {
            char *start, *end;
            decodedField(start, end);
            // Unfolded: a line break and all the blanks after it go, the pieces join directly.
            std::array<char, kSubjectMax + 2> text;
            size_t n = 0;
            for (const char* p = start; p < end && n < text.size();) {
                if (*p == '\r' && p + 1 < end && p[1] == '\n' && p + 2 < end &&
                    isBlankOrTab(p[2])) {
                    while (p < end && (*p == '\r' || *p == '\n' || isBlankOrTab(*p)))
                        ++p;
                    continue;
                }
                text[n++] = *p++;
            }
            sjis::copyBounded(h_.subject, kSubjectMax + 1, std::string_view(text.data(), n));
            break;
        }
        case Header::ReplyTo:
            decodedField(h_.replyToStart, h_.replyToEnd);
            break;
        case Header::Cc:
            decodedField(h_.ccStart, h_.ccEnd);
            break;
        case Header::UserAgent:
        case Header::XMailer:
            decodedField(h_.mailerStart, h_.mailerEnd);
            break;
        case Header::ContentType: {
            char* start = here();
            while (!full_ && !isLineEnd(s(i_)) && s(i_) != ' ' && s(i_) != ';' && s(i_) != '\t')
                emit(src_[i_++]);
            h_.contentTypeStart = start;
            h_.contentTypeEnd = here();
            parameters(false);
            break;
        }
        case Header::ContentDisposition: {
            const unsigned char c = lower(s(i_));
            if (c != 'a' && c != 'i') break;  // attachment and inline only
            while (!full_ && !isLineEnd(s(i_)) && s(i_) != ' ' && s(i_) != ';' && s(i_) != '\t')
                emit(src_[i_++]);
            parameters(true);
            break;
        }
        case Header::None:
        case Header::XPartInfo:
            break;
    }
}

// The last line is the POP3 terminator and the header block never ended: make room for the
// blank line in front of it.
bool HeadParser::terminatorAt(size_t lf) {
    if (!(lf + 4 == len_ && s(lf + 1) == '.' && s(lf + 2) == '\r' && s(lf + 3) == '\n'))
        return false;
    if (lf == 0 || src_[lf - 1] != '\r' || d_ == 0 || dst_[d_ - 1] != '\r') return false;
    if (lf + 7 > cap_) return false;
    std::memcpy(src_ + lf + 1, "\r\n.\r\n", 6);
    len_ = lf + 6;
    --d_;
    result_ = {lf - 1, d_};
    return true;
}

bool HeadParser::lineStart(size_t lf, bool lfEmitted) {
    for (;;) {
        size_t colon = 0;
        const Header hd = recognise(lf, colon);
        if (hd == Header::XPartInfo) {
            // The line goes from the copy together with one of its two line breaks.
            size_t e = lf + 1;
            while (!isLineEnd(s(e)))
                ++e;
            if (!lfEmitted) {
                if (lf > 0 && src_[lf - 1] == '\r' && d_ > 0 && dst_[d_ - 1] == '\r') --d_;
                i_ = e;
                return true;
            }
            if (s(e) == '\r' && s(e + 1) != '\0' && s(e + 2) == '\r') {
                result_ = {e, d_};
                return false;
            }
            if (s(e) == '\r' && s(e + 1) == '\n') {
                lf = e + 1;
            } else if (s(e) == '\n') {
                lf = e;
            } else {
                i_ = e;
                return true;
            }
            continue;
        }
        if (!lfEmitted && terminatorAt(lf)) return false;
        if (!lfEmitted) emit('\n');
        i_ = lf + 1;
        if (hd == Header::None) {
            // A folded line belongs to the header it continues.
            if (!isBlankOrTab(s(lf + 1))) other_ = true;
            return true;
        }
        other_ = false;
        handle(hd, lf, colon);
        return true;
    }
}

bool HeadParser::endWithoutBlankLine(size_t z) {
    // Give the source the blank line and the POP3 terminator so that a body scan finds an empty
    // body; the copy ends where the blank line begins. A NUL inside the text is not its end: the
    // bytes after it are never written over.
    if (z < len_) {
        result_ = {z, d_};
        return false;
    }
    if (z >= 2 && src_[z - 2] == '\r' && src_[z - 1] == '\n' && d_ >= 2 && dst_[d_ - 2] == '\r' &&
        dst_[d_ - 1] == '\n' && z + 6 <= cap_) {
        std::memcpy(src_ + z, "\r\n.\r\n", 6);
        len_ = z + 5;
        d_ -= 2;
        result_ = {z - 2, d_};
        return false;
    }
    if (z + kHeadRepairRoom <= cap_) {
        std::memcpy(src_ + z, "\r\n\r\n.\r\n", 8);
        len_ = z + 7;
    }
    result_ = {z, d_};
    return false;
}

HeadResult HeadParser::run() {
    if (dcap_ == 0) return {};
    // Leading line breaks are copied; the headers start after the last LF among them.
    while (i_ < len_ && (src_[i_] == '\r' || src_[i_] == '\n') && !full_)
        emit(src_[i_++]);
    bool going = true;
    if (i_ > 0 && src_[i_ - 1] == '\n') going = lineStart(i_ - 1, true);
    while (going && !full_) {
        const unsigned char c = s(i_);
        if (c == '\0') {
            going = endWithoutBlankLine(std::min(i_, len_));
            break;
        }
        if (c == '\r' && s(i_ + 1) != '\0' && s(i_ + 2) == '\r') {
            result_ = {i_, d_};
            going = false;
            break;
        }
        if (c == '\n') {
            going = lineStart(i_, false);
            continue;
        }
        if (sjis::isLead(c) && sjis::isTrail(s(i_ + 1))) {
            // A double-byte character goes whole, into the other headers too or not at all.
            if (other_ && otherLen_ + 2 <= kOtherHeadersMax) {
                appendOther(i_);
                appendOther(i_ + 1);
            }
            emit(src_[i_++]);
        } else if (other_) {
            appendOther(i_);
        }
        emit(src_[i_++]);
    }
    if (going) result_ = {i_, d_};  // the copy is full
    h_.otherHeaders[otherLen_] = '\0';
    dst_[result_.copyEnd] = '\0';
    return result_;
}

// ------------------------------------------------------------------------------- dates
// Days since 1970-01-01 of a proleptic Gregorian date (the day may run past the month's end).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// A token of at most `maxLen` bytes ending at `sep`; false at the text's end (CR, NUL) or when
// the separator does not come in time.
bool token(std::string_view v, size_t& i, char sep, size_t maxLen, int64_t& value, bool& digits) {
    size_t j = i;
    while (j < v.size() && v[j] != sep && j - i < maxLen)
        ++j;
    if (j >= v.size() || v[j] != sep) return false;
    value = 0;
    digits = false;
    for (size_t k = i; k < j && v[k] >= '0' && v[k] <= '9'; ++k) {
        value = value * 10 + (v[k] - '0');
        digits = true;
    }
    i = j + 1;
    return true;
}

// The clock time of a date is taken as Japan's, whatever zone it names.
constexpr int64_t kZoneSeconds = 9 * 3600;
constexpr int64_t kFirstYear = 1970, kLastYear = 2105;
constexpr size_t kNumberBytes = 7;

}  // namespace

HeadResult getHead(std::span<char> source, size_t length, std::span<char> copy, HeaderInfo& info) {
    HeadParser p(source, length, copy, info);
    return p.run();
}

HeadCopy extractHead(std::string& message) {
    const size_t length = message.size() + 1;  // with the leading LF
    std::vector<char> src(length + kHeadRepairRoom, '\0');
    src[0] = '\n';
    std::memcpy(src.data() + 1, message.data(), message.size());
    HeadCopy out;
    out.buffer.assign(headerCopyRoom(std::string_view(src.data(), length)), '\0');
    out.ends = getHead(src, length, out.buffer, out.info);
    // The repaired text replaces the message (without its leading LF).
    const size_t repaired = length + strnlen(src.data() + length, kHeadRepairRoom);
    message.assign(src.data() + 1, repaired - 1);
    if (out.ends.sourceEnd > 0) --out.ends.sourceEnd;
    return out;
}

std::optional<uint32_t> makeGmt(std::string_view date) {
    // The value ends at the line's end.
    size_t n = 0;
    while (n < date.size() && date[n] != '\r' && date[n] != '\0')
        ++n;
    const std::string_view v = date.substr(0, n);
    size_t i = 0;
    if (!v.empty() && v[0] >= 'A' && v[0] <= 'Z') {  // a weekday
        i = std::min<size_t>(3, v.size());
        while (i < v.size() && (v[i] == ',' || v[i] == ' '))
            ++i;
    }
    int64_t day, year, hour, minute, second;
    bool digits;
    if (!token(v, i, ' ', kNumberBytes, day, digits) || day == 0) return std::nullopt;
    const size_t m = i;
    auto ch = [&](size_t k) { return m + k < v.size() ? v[m + k] : '\0'; };
    int month;
    switch (ch(0)) {
        case 'J':
            month = ch(1) == 'a' ? 1 : ch(2) == 'n' ? 6 : 7;
            break;
        case 'F':
            month = 2;
            break;
        case 'M':
            month = ch(2) == 'r' ? 3 : 5;
            break;
        case 'A':
            month = ch(1) == 'p' ? 4 : 8;
            break;
        case 'S':
            month = 9;
            break;
        case 'O':
            month = 10;
            break;
        case 'N':
            month = 11;
            break;
        case 'D':
            month = 12;
            break;
        default:
            return std::nullopt;
    }
    i = m + 4;
    if (i > v.size() || !token(v, i, ' ', 4, year, digits) || !digits) return std::nullopt;
    if (year < 50) {
        year += 2000;  // two-digit years as RFC 5322 reads them
    } else if (year < 1000) {
        year += 1900;  // two and three digits count from 1900
    }
    auto clock = [&](char sep, int64_t& value) {
        if (i < v.size() && v[i] == '0') ++i;
        return token(v, i, sep, kNumberBytes, value, digits);
    };
    if (!clock(':', hour) || !clock(':', minute) || !clock(' ', second)) return std::nullopt;
    if (year < kFirstYear || year > kLastYear) return 0u;
    const int64_t t = daysFromCivil(year, month, 1) + (day - 1);
    const int64_t seconds = t * 86400 + hour * 3600 + minute * 60 + second - kZoneSeconds;
    if (seconds < 0 || seconds > static_cast<int64_t>(UINT32_MAX)) return 0u;
    return static_cast<uint32_t>(seconds);
}

}  // namespace kolvy::mime

extern "C" {

void KOLVY_STDCALL GetHead(DecodeCursor* cursor, HeaderInfo* header) {
    if (!cursor || !cursor->source || !cursor->destination || !header) return;
    const size_t len = std::strlen(cursor->source);
    // Callers guarantee the repair room after the source's NUL and room for the copy.
    const kolvy::mime::HeadResult r = kolvy::mime::getHead(
        std::span<char>(cursor->source, len + kolvy::mime::kHeadRepairRoom), len,
        std::span<char>(cursor->destination, kolvy::mime::headerCopyMax(len)), *header);
    cursor->sourceEnd = cursor->source + r.sourceEnd;
    cursor->destinationEnd = cursor->destination + r.copyEnd;
}

void KOLVY_STDCALL MakeGMT(const char* date, uint32_t* seconds) {
    if (!date || !seconds) return;
    size_t n = 0;  // the value ends at the line's end, not at the end of the message
    while (date[n] != '\0' && date[n] != '\r')
        ++n;
    if (const auto t = kolvy::mime::makeGmt(std::string_view(date, n))) *seconds = *t;
}

}  // extern "C"
