#include "mime/header.h"

#include <array>
#include <cstring>

#include "core/ascii.h"
#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/header_lines.h"
#include "mime/internal.h"

namespace kolvy::mime {
namespace {

inline unsigned char lower(unsigned char c) {
    return static_cast<unsigned char>(ascii::lower(static_cast<char>(c)));
}
inline bool isLineEnd(unsigned char c) {
    return c == '\r' || c == '\n' || c == '\0';
}
inline bool isBlankOrTab(unsigned char c) {
    return ascii::isBlank(static_cast<char>(c));
}

using Header = HeaderName;

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
          h_(info),
          walk_(std::string_view(src_, len_), HeaderWalk::Form::Received) {}

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
    bool foldAt(size_t k) const {
        return s(k) == '\r' && s(k + 1) == '\n' && isBlankOrTab(s(k + 2));
    }

    Header recognise(const HeaderLine& l) const;
    void copyText(size_t to);
    // Handles the line `l` that starts after the LF at `lf`; false when the header block ended.
    bool lineStart(size_t lf, HeaderLine l, bool lfEmitted);
    void handle(Header hd, const HeaderLine& l);
    void received(const HeaderLine& l);
    void address(bool from);
    void subject();
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
    HeaderWalk walk_;
    size_t i_ = 0, d_ = 0;
    bool full_ = false;
    bool other_ = false;  // the current line belongs to a header that is not recognised
    size_t receivedCount_ = 0, receivedLen_ = 0, otherLen_ = 0;
    HeadResult result_;
};

Header HeadParser::recognise(const HeaderLine& l) const {
    const Header n = l.match.name;
    if (n == Header::Received && receivedCount_ >= kReceivedHeaders) return Header::None;
    // The resent addresses are only read back from stored mail.
    if (n == Header::ResentFrom || n == Header::ResentTo) return Header::None;
    return n;
}

// ------------------------------------------------------------------- names and addresses
void setRange(char*& start, char*& end, std::string_view v) {
    if (!v.data()) return;
    start = const_cast<char*>(v.data());  // the view lies in the copy, which the record owns
    end = start + v.size();
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

// The value of a Received: line, folds included, appended to the record's received text.
void HeadParser::received(const HeaderLine& l) {
    ++receivedCount_;
    const std::string_view v = walk_.value(l);
    const std::string_view piece = sjis::truncate(
        v, std::min(kReceivedEachMax, kReceivedMax - std::min(kReceivedMax, receivedLen_)));
    std::memcpy(h_.received + receivedLen_, piece.data(), piece.size());
    receivedLen_ += piece.size();
    h_.received[receivedLen_] = '\0';
}

// From: or To:, decoded; the name and address are read from the copy.
void HeadParser::address(bool from) {
    char *start, *end;
    decodedField(start, end);
    const std::string_view v(start, static_cast<size_t>(end - start));
    const NameAddress na =
        parseNameAddress(v, from ? AddressForm::Sender : AddressForm::FirstRecipient);
    setRange(from ? h_.fromNameStart : h_.toNameStart, from ? h_.fromNameEnd : h_.toNameEnd,
             na.name);
    setRange(from ? h_.fromAddressStart : h_.toAddressStart,
             from ? h_.fromAddressEnd : h_.toAddressEnd, na.address);
}

// Subject:, decoded and unfolded: a line break and the blanks after it go, the pieces join.
void HeadParser::subject() {
    char *start, *end;
    decodedField(start, end);
    std::array<char, kSubjectMax + 2> text;
    size_t n = 0;
    for (const char* p = start; p < end && n < text.size();) {
        if (*p == '\r' && p + 1 < end && p[1] == '\n' && p + 2 < end && isBlankOrTab(p[2])) {
            while (p < end && (*p == '\r' || *p == '\n' || isBlankOrTab(*p)))
                ++p;
            continue;
        }
        text[n++] = *p++;
    }
    sjis::copyBounded(h_.subject, kSubjectMax + 1, std::string_view(text.data(), n));
}

void HeadParser::handle(Header hd, const HeaderLine& l) {
    copyRaw(l.value);  // the name, the colon and the blanks after it
    if (full_) return;
    auto rawValue = [&](char*& start, char*& end) {
        const size_t n = std::min(l.end - l.value, dcap_ - 1 - d_);
        start = here();
        end = here() + n;
    };
    switch (hd) {
        case Header::Date: {
            if (const auto t = makeGmt(std::string_view(src_ + l.value, l.end - l.value)))
                h_.date = *t;
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
        case Header::Received:
            received(l);
            break;
        case Header::From:
        case Header::To:
            address(hd == Header::From);
            break;
        case Header::Subject:
            subject();
            break;
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
        case Header::ResentFrom:
        case Header::ResentTo:
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

bool HeadParser::lineStart(size_t lf, HeaderLine l, bool lfEmitted) {
    for (;;) {
        const Header hd = recognise(l);
        if (hd == Header::XPartInfo) {
            // The line goes from the copy together with one of its two line breaks.
            const size_t e = l.end;
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
            l = walk_.line(lf + 1);
            continue;
        }
        if (!lfEmitted && terminatorAt(lf)) return false;
        if (!lfEmitted) emit('\n');
        i_ = lf + 1;
        if (hd == Header::None) {
            // A folded line belongs to the header it continues.
            if (!l.continued) other_ = true;
            return true;
        }
        other_ = false;
        handle(hd, l);
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

// Copies the text up to `to`, taking the bytes of an unrecognised header into the other headers.
void HeadParser::copyText(size_t to) {
    if (!other_ && i_ < to && to - i_ < dcap_ - d_) {
        // All of it fits and none of it goes into the other headers: one copy.
        std::memcpy(dst_ + d_, src_ + i_, to - i_);
        d_ += to - i_;
        i_ = to;
        return;
    }
    while (i_ < to && !full_) {
        const unsigned char c = s(i_);
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
}

HeadResult HeadParser::run() {
    if (dcap_ == 0) return {};
    // Leading line breaks are copied; the headers start after the last LF among them.
    while (i_ < len_ && (src_[i_] == '\r' || src_[i_] == '\n') && !full_)
        emit(src_[i_++]);
    bool going = true;
    if (i_ > 0 && src_[i_ - 1] == '\n') going = lineStart(i_ - 1, walk_.line(i_), true);
    while (going && !full_) {
        const HeaderWalk::Step st = walk_.next(i_);
        copyText(st.at);
        if (full_) break;
        going = false;
        if (st.stop == HeaderWalk::Stop::Line) {
            going = lineStart(st.at, st.line, false);
        } else if (st.stop == HeaderWalk::Stop::EmptyLine) {
            result_ = {st.at, d_};
        } else {
            endWithoutBlankLine(st.at);
        }
    }
    if (going) result_ = {i_, d_};  // the copy is full
    h_.otherHeaders[otherLen_] = '\0';
    dst_[result_.copyEnd] = '\0';
    return result_;
}

// ------------------------------------------------------------------------------- dates
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

}  // extern "C"
