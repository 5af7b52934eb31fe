#include "mime/walk.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "core/ascii.h"
#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/header.h"

namespace kolvy::mime {
namespace {

constexpr char kPartInfoName[] = "X-PartInfo: ";
constexpr size_t kNone = std::string_view::npos;

std::string_view range(const char* start, const char* end) {
    return HeadCopy::view(start, end);
}

// The value of the Content-Type parameter called `name` among the three the record keeps: after
// "=", blanks and an opening double quote, less one closing double quote.
std::string_view parameter(const HeaderInfo& h, std::string_view name) {
    const std::string_view params[] = {range(h.param1Start, h.param1End),
                                       range(h.param2Start, h.param2End),
                                       range(h.param3Start, h.param3End)};
    for (std::string_view p : params) {
        const size_t eq = p.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = p.substr(0, eq);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.remove_suffix(1);
        if (!ascii::equalsNoCase(key, name)) continue;
        std::string_view v = p.substr(eq + 1);
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
            v.remove_prefix(1);
        if (!v.empty() && v.front() == '"') v.remove_prefix(1);
        if (!v.empty() && v.back() == '"') v.remove_suffix(1);
        return v;
    }
    return {};
}

// Type, name: CR, LF, TAB, blanks and other control bytes removed, so that a part line stays
// one line.
std::string partText(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size();) {
        const size_t n = sjis::charLen(v, i);
        if (n == 1 && static_cast<unsigned char>(v[i]) <= 0x20) {
            ++i;
            continue;
        }
        out.append(v.substr(i, n));
        i += n;
    }
    return out;
}

PartEntry partEntry(const HeaderInfo& part, std::string_view type, size_t offset) {
    PartEntry e;
    e.info = kPartInfoName + partText(type) + "; ";
    if (part.nameStart) {
        const std::string name = partText(range(part.nameStart, part.nameEnd));
        e.info += "name=";
        e.info += sjis::truncate(name, kPartNameMax);
        e.info += "; ";
    }
    e.offset = offset;
    e.readable = ascii::equalsNoCase(type, "text/plain") || ascii::equalsNoCase(type, "text/html");
    e.html = ascii::equalsNoCase(type, "text/html");
    return e;
}

class Walker {
  public:
    Walker(std::string& src, size_t length, Analysis& a)
        : src_(src), s_(src.data(), length), len_(length), a_(a) {}

    // Walks one body from `pos` with its header record; returns where it stopped.
    size_t body(const HeaderInfo& h, size_t pos, int depth);

  private:
    // The LF of the next boundary line of any open multipart at or after `from` (a line starting
    // right at `from`, its LF behind, counts), or kNone; `level` says whose (the innermost one
    // when a line would do for several).
    size_t nextBoundary(size_t from, size_t& level) const;
    size_t nextBoundary(size_t from) const {
        size_t level;
        return nextBoundary(from, level);
    }
    // Copies the source up to the next boundary line (its LF stays) or the end.
    size_t copyToBoundary(size_t pos);
    size_t multipart(const HeaderInfo& h, size_t pos, int depth);
    // One part of the innermost multipart, its boundary line up to `pos` already copied.
    size_t part(size_t pos, int depth);
    size_t closing(size_t pos);
    size_t text(const HeaderInfo& h, size_t pos);
    void copy(size_t from, size_t to) { a_.output.append(src_, from, to - from); }

    std::string& src_;
    std::string_view s_;
    size_t len_;
    Analysis& a_;
    std::vector<Boundary> open_;  // the boundaries of the multiparts the walk is inside
    size_t parts_ = 0;
};

size_t Walker::nextBoundary(size_t from, size_t& level) const {
    if (open_.empty()) return kNone;
    auto match = [&](size_t lf) {
        if (lf + 2 >= len_ || s_[lf + 1] != '-' || s_[lf + 2] != '-') return false;
        for (size_t k = open_.size(); k-- > 0;) {
            if (boundaryLineAt(s_, lf, open_[k])) {
                level = k;
                return true;
            }
        }
        return false;
    };
    if (from > 0 && from <= len_ && s_[from - 1] == '\n' && match(from - 1)) return from - 1;
    for (size_t lf = s_.find('\n', from); lf != kNone; lf = s_.find('\n', lf + 1)) {
        if (match(lf)) return lf;
    }
    return kNone;
}

size_t Walker::copyToBoundary(size_t pos) {
    size_t end = nextBoundary(pos);
    if (end == kNone) end = len_;
    end = std::max(end, pos);
    copy(pos, end);
    return end;
}

size_t Walker::body(const HeaderInfo& h, size_t pos, int depth) {
    const std::string_view type = range(h.contentTypeStart, h.contentTypeEnd);
    if (ascii::startsNoCase(type, "text/") ||
        (type.size() == 4 && ascii::startsNoCase(type, "text"))) {
        return text(h, pos);
    }
    if (ascii::startsNoCase(type, "multipart/") && depth < kMaxNesting) {
        return multipart(h, pos, depth);
    }
    if (ascii::equalsNoCase(type, "message/partial")) a_.partial = true;
    return copyToBoundary(pos);
}

size_t Walker::text(const HeaderInfo& h, size_t pos) {
    size_t end = nextBoundary(pos);
    const bool cut = end != kNone;
    if (!cut) end = len_;
    // A named text part is an attached text file: stored as it came.
    if (h.nameStart || end < pos) {
        end = std::max(end, pos);
        copy(pos, end);
        return end;
    }
    const std::string_view body = s_.substr(pos, end - pos);
    const TextBody t = decodeTextBody(body, range(h.transferEncodingStart, h.transferEncodingEnd),
                                      parameter(h, "charset"), cut);
    TextSegment seg;
    seg.start = a_.output.size();
    a_.output += t.text;
    seg.end = a_.output.size();
    a_.segments.push_back(seg);
    if (!t.asciiOnly) a_.asciiOnly = false;
    copy(pos + std::min(t.consumed, body.size()), end);  // what the decoder left: as it came
    return end;
}

size_t Walker::multipart(const HeaderInfo& h, size_t pos, int depth) {
    // The boundary lives in the header copy of this part, which outlives the walk of its body.
    const Boundary b = parameter(h, "boundary");
    if (b.empty()) return copyToBoundary(pos);
    a_.multipartOpen = true;
    open_.push_back(b);
    const size_t mine = open_.size() - 1;
    while (pos < len_) {
        size_t level = 0;
        const size_t lf = nextBoundary(pos, level);
        if (lf == kNone || level < mine) {
            // No closing boundary of this multipart: copy what is left of it.
            const size_t end = lf != kNone ? std::max(lf, pos) : len_;
            copy(pos, end);
            pos = end;
            break;
        }
        // Up to and including the boundary itself.
        const size_t at = lf + 3 + b.size();
        copy(pos, at);
        pos = at;
        if (pos + 1 < len_ && s_[pos] == '-' && s_[pos + 1] == '-') {
            pos = closing(pos);
            break;
        }
        if (parts_ == kMaxParts) {
            // Enough parts: the rest is kept as it came, and the parts walked keep their lines.
            copy(pos, len_);
            a_.multipartOpen = false;
            pos = len_;
            break;
        }
        ++parts_;
        pos = part(pos, depth);
    }
    open_.pop_back();
    return pos;
}

size_t Walker::closing(size_t pos) {
    a_.multipartOpen = false;
    copy(pos, pos + 2);
    pos += 2;
    size_t q = pos;
    while (q < len_ && (s_[q] == '\r' || s_[q] == '\n'))
        ++q;
    if (q >= len_ || s_[q] == '.' || open_.size() == 1) {
        // The terminator and any epilogue.
        copy(pos, len_);
        return len_;
    }
    // The last LF stays for the enclosing multipart's boundary scan.
    const size_t stop = (q > pos && s_[q - 1] == '\n') ? q - 1 : q;
    copy(pos, stop);
    return stop;
}

size_t Walker::part(size_t pos, int depth) {
    // A part begins after the rest of the boundary line.
    const size_t nl = s_.find('\n', pos);
    if (nl == kNone) {
        copy(pos, len_);
        return len_;
    }
    copy(pos, nl);
    const Boundary b = open_.back();
    HeaderInfo part{};
    part.boundaryStart = const_cast<char*>(b.data());
    part.boundaryEnd = const_cast<char*>(b.data() + b.size());
    const size_t offset = a_.output.size() + 1;
    std::vector<char> headerCopy;
    size_t bodyPos;
    if (nl + 2 < len_ && s_[nl + 1] == '\r' && s_[nl + 2] == '\n') {
        // No header lines: the blank line follows the boundary line at once.
        a_.output += "\n\r\n";
        bodyPos = nl + 3;
    } else {
        const size_t partLen = len_ - nl;
        headerCopy.assign(headerCopyRoom(s_.substr(nl, partLen)), '\0');
        const HeadResult r =
            getHead(std::span<char>(src_.data() + nl, src_.size() - nl), partLen, headerCopy, part);
        a_.output.append(headerCopy.data(), r.copyEnd);
        bodyPos = nl + r.sourceEnd;
        // The header block's end, CR LF CR LF (or as much of it as there is).
        static constexpr char kEnd[] = "\r\n\r\n";
        for (int k = 0; k < 4 && bodyPos < len_ && s_[bodyPos] == kEnd[k]; ++k)
            a_.output += s_[bodyPos++];
    }
    const std::string_view type = range(part.contentTypeStart, part.contentTypeEnd);
    if (!type.empty() && !ascii::startsNoCase(type, "multipart/"))
        a_.parts.push_back(partEntry(part, type, offset));
    return body(part, bodyPos, depth + 1);
}

}  // namespace

size_t walkBody(std::string& src, size_t length, const HeaderInfo& header, size_t pos,
                Analysis& a) {
    Walker w(src, length, a);
    return w.body(header, pos, 0);
}

}  // namespace kolvy::mime
