#include "mime/analyze.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/header.h"
#include "platform/platform.h"
#include "report/report.h"
#include "rules/executor.h"
#include "store/commit.h"
#include "store/message_file.h"
#include "store/paths.h"

namespace kolvy::mime {

namespace {

constexpr char kStatusStart[] = "\f st=0.0.0.0 dt=";
constexpr char kStatusEnd[] = " rd=all               \r";
constexpr size_t kStatusValueOffset = 30;
constexpr char kPartInfoName[] = "X-PartInfo: ";

bool startsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && sjis::equalsNoCaseAscii(s.substr(0, prefix.size()), prefix);
}

std::string_view range(const char* start, const char* end) {
    return HeadCopy::view(start, end);
}

std::string_view contentType(const HeaderInfo& h) {
    return range(h.contentTypeStart, h.contentTypeEnd);
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
        if (!sjis::equalsNoCaseAscii(key, name)) continue;
        std::string_view v = p.substr(eq + 1);
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
            v.remove_prefix(1);
        if (!v.empty() && v.front() == '"') v.remove_prefix(1);
        if (!v.empty() && v.back() == '"') v.remove_suffix(1);
        return v;
    }
    return {};
}

// Type, name: CR, LF, TAB and blanks removed; other control bytes become blanks' absence too, so
// that a part line stays one line.
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

class Walker {
  public:
    Walker(std::string& src, size_t length, Analysis& a) : src_(src), len_(length), a_(a) {}

    // Walks one body from `pos` with its header record; returns where it stopped.
    size_t body(const HeaderInfo& h, size_t pos, Boundary enclosing, int depth);

  private:
    // The next line LF "--" boundary at or after `from`: the position of its LF, or npos.
    size_t findBoundary(size_t from, Boundary b) const;
    // Copies the source up to the enclosing boundary line (its LF stays) or the end.
    size_t copyToBoundary(size_t pos, Boundary enclosing);
    size_t multipart(const HeaderInfo& h, size_t pos, Boundary enclosing, int depth);
    size_t text(const HeaderInfo& h, size_t pos, Boundary enclosing);
    void copy(size_t from, size_t to) { a_.output.append(src_, from, to - from); }

    std::string& src_;
    size_t len_;
    Analysis& a_;
};

size_t Walker::findBoundary(size_t from, Boundary b) const {
    if (b.empty()) return std::string::npos;
    const std::string_view s(src_.data(), len_);
    auto at = [&](size_t lf) {
        return lf + 3 + b.size() <= len_ && s[lf + 1] == '-' && s[lf + 2] == '-' &&
               s.compare(lf + 3, b.size(), b) == 0;
    };
    // A boundary line may start right at `from`, its LF already behind.
    if (from > 0 && from <= len_ && s[from - 1] == '\n' && at(from - 1)) return from - 1;
    for (size_t i = from; i < len_;) {
        const size_t lf = s.find('\n', i);
        if (lf == std::string_view::npos) return std::string::npos;
        if (at(lf)) return lf;
        i = lf + 1;
    }
    return std::string::npos;
}

size_t Walker::copyToBoundary(size_t pos, Boundary enclosing) {
    size_t end = findBoundary(pos, enclosing);
    if (end == std::string::npos) end = len_;
    end = std::max(end, pos);
    copy(pos, end);
    return end;
}

size_t Walker::body(const HeaderInfo& h, size_t pos, Boundary enclosing, int depth) {
    const std::string_view type = contentType(h);
    if (startsNoCase(type, "text/") || (type.size() == 4 && startsNoCase(type, "text"))) {
        return text(h, pos, enclosing);
    }
    if (startsNoCase(type, "multipart/") && depth < kMaxNesting) {
        return multipart(h, pos, enclosing, depth);
    }
    if (sjis::equalsNoCaseAscii(type, "message/partial")) a_.partial = true;
    return copyToBoundary(pos, enclosing);
}

size_t Walker::text(const HeaderInfo& h, size_t pos, Boundary enclosing) {
    // A named text part is an attached text file: stored as it came.
    if (h.nameStart) return copyToBoundary(pos, enclosing);
    if (!enclosing.empty() && findBoundary(pos, enclosing) + 1 == pos) return pos;  // empty
    const std::string_view rest(src_.data() + pos, len_ - pos);
    const TextBody t = decodeTextBody(rest, range(h.transferEncodingStart, h.transferEncodingEnd),
                                      parameter(h, "charset"), enclosing);
    TextSegment seg;
    seg.start = a_.output.size();
    a_.output += t.text;
    seg.end = a_.output.size();
    a_.segments.push_back(seg);
    return pos + std::min(t.consumed, rest.size());
}

size_t Walker::multipart(const HeaderInfo& h, size_t pos, Boundary enclosing, int depth) {
    // The boundary lives in the header copy of this part, which outlives the walk of its body.
    const Boundary b = parameter(h, "boundary");
    if (b.empty()) return copyToBoundary(pos, enclosing);
    a_.multipartOpen = true;
    const std::string_view s(src_.data(), len_);
    while (pos < len_) {
        const size_t lf = findBoundary(pos, b);
        const size_t outer = findBoundary(pos, enclosing);
        if (lf == std::string::npos || (outer != std::string::npos && outer < lf)) {
            // No closing boundary of this multipart: copy what is left of it.
            const size_t end = outer != std::string::npos ? std::max(outer, pos) : len_;
            copy(pos, end);
            return end;
        }
        // Up to and including the boundary itself.
        size_t at = lf + 3 + b.size();
        copy(pos, at);
        pos = at;
        if (pos + 1 < len_ && s[pos] == '-' && s[pos + 1] == '-') {
            a_.multipartOpen = false;
            copy(pos, pos + 2);
            pos += 2;
            size_t q = pos;
            while (q < len_ && (s[q] == '\r' || s[q] == '\n'))
                ++q;
            if (q >= len_ || s[q] == '.' || enclosing.empty()) {
                // The terminator and any epilogue.
                copy(pos, len_);
                return len_;
            }
            // The last LF stays for the enclosing multipart's boundary scan.
            const size_t stop = (q > pos && s[q - 1] == '\n') ? q - 1 : q;
            copy(pos, stop);
            return stop;
        }
        // A part begins after the rest of the boundary line.
        const size_t nl = s.find('\n', pos);
        if (nl == std::string_view::npos) {
            copy(pos, len_);
            return len_;
        }
        copy(pos, nl);
        HeaderInfo part{};
        part.boundaryStart = const_cast<char*>(b.data());
        part.boundaryEnd = const_cast<char*>(b.data() + b.size());
        const size_t offset = a_.output.size() + 1;
        std::vector<char> headerCopy;
        size_t bodyPos;
        if (nl + 2 < len_ && s[nl + 1] == '\r' && s[nl + 2] == '\n') {
            // No header lines: the blank line follows the boundary line at once.
            a_.output += "\n\r\n";
            bodyPos = nl + 3;
        } else {
            const size_t partLen = len_ - nl;
            headerCopy.assign(headerCopyRoom(std::string_view(src_.data() + nl, partLen)), '\0');
            const HeadResult r = getHead(std::span<char>(src_.data() + nl, src_.size() - nl),
                                         partLen, headerCopy, part);
            a_.output.append(headerCopy.data(), r.copyEnd);
            bodyPos = nl + r.sourceEnd;
            // The header block's end, CR LF CR LF (or as much of it as there is).
            static constexpr char kEnd[] = "\r\n\r\n";
            for (int k = 0; k < 4 && bodyPos < len_ && s[bodyPos] == kEnd[k]; ++k)
                a_.output += s[bodyPos++];
        }
        const std::string_view type = contentType(part);
        if (!type.empty() && !startsNoCase(type, "multipart/")) {
            PartEntry e;
            e.info = kPartInfoName + partText(type) + "; ";
            if (part.nameStart) {
                const std::string name = partText(range(part.nameStart, part.nameEnd));
                e.info += "name=";
                e.info += sjis::truncate(name, kPartNameMax);
                e.info += "; ";
            }
            e.offset = offset;
            e.readable = sjis::equalsNoCaseAscii(type, "text/plain") ||
                         sjis::equalsNoCaseAscii(type, "text/html");
            e.html = sjis::equalsNoCaseAscii(type, "text/html");
            a_.parts.push_back(std::move(e));
        }
        pos = body(part, bodyPos, b, depth + 1);
    }
    return pos;
}

std::string formatLines(const std::vector<PartEntry>& parts, size_t shift) {
    std::string out;
    char number[24];
    for (const PartEntry& p : parts) {
        std::snprintf(number, sizeof number, "%zu\r\n", p.offset + shift);
        out += p.info;
        out += number;
    }
    return out;
}

}  // namespace

std::string normaliseLineEnds(std::string_view text) {
    // With room for the leading LF and the header repair that analysis adds: growing a string of
    // the largest message would take twice its size for a moment.
    constexpr size_t kSpare = kHeadRepairRoom + 1;
    std::string in;
    in.reserve(text.size() + kSpare);
    in.assign(text);
    std::replace(in.begin(), in.end(), '\0', kNulReplacement);
    size_t i = (!in.empty() && in[0] == '\n') ? 1 : 0;
    size_t e = i;
    while (e < in.size() && in[e] != '\r' && in[e] != '\n')
        ++e;
    if (e >= in.size()) return in;
    const bool crOnly = in[e] == '\r' && (e + 1 >= in.size() || in[e + 1] != '\n');
    const bool lfOnly = in[e] == '\n';
    if (!crOnly && !lfOnly) return in;
    while (i < in.size() && (in[i] == '\r' || in[i] == '\n'))
        ++i;
    std::string out;
    out.reserve(in.size() + in.size() / 16 + 2 + kSpare);
    out += '\n';
    for (; i < in.size(); ++i) {
        const char c = in[i];
        if (crOnly && c == '\r' && (i + 1 >= in.size() || in[i + 1] != '\n')) {
            out += "\r\n";
        } else if (lfOnly && c == '\n' && (i == 0 || in[i - 1] != '\r')) {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Analysis::fileText() const {
    std::string out;
    out.reserve(output.size() + partLines.size());
    out.append(output, 0, bodyStart);
    out += partLines;
    out.append(output, bodyStart);
    return out;
}

Analysis analyzeText(std::string_view text, std::string_view stamp) {
    Analysis a;
    std::string src = normaliseLineEnds(text);
    if (src.empty() || src[0] != '\n') src.insert(src.begin(), '\n');
    size_t len = src.size();
    src.append(kHeadRepairRoom, '\0');

    a.headerCopy.assign(headerCopyRoom(std::string_view(src.data(), len)), '\0');
    // The stored text is about as long as the received one: reserved once, not grown by doubling.
    a.output.reserve(len + a.headerCopy.size() + 4096);
    a.output = kStatusStart;
    a.output.append(stamp.substr(0, 10));
    a.output += kStatusEnd;
    const HeadResult r = getHead(src, len, a.headerCopy, a.header);
    // A header block without its end was given one (and the terminator) by the repair.
    len += strnlen(src.data() + len, kHeadRepairRoom);
    a.output.append(a.headerCopy.data(), r.copyEnd);
    a.bodyStart = a.output.size() + 2;

    size_t pos = std::min(r.sourceEnd, len);
    static constexpr char kEnd[] = "\r\n\r\n";
    for (int k = 0; k < 4 && pos < len && src[pos] == kEnd[k]; ++k)
        a.output += src[pos++];
    if (a.output.size() < a.bodyStart) a.bodyStart = a.output.size();

    Walker w(src, len, a);
    pos = w.body(a.header, pos, {}, 0);
    if (pos < len) a.output.append(src, pos, len - pos);  // an undecodable tail, the terminator

    const std::string_view type = contentType(a.header);
    if (sjis::equalsNoCaseAscii(type, "text/html")) a.html = true;
    if (a.multipartOpen || a.parts.empty()) return a;

    // Offsets grow by the length of the lines put in front of them; a longer offset may lengthen
    // its line in turn, so go on until the total stands.
    size_t total = formatLines(a.parts, 0).size();
    for (;;) {
        const size_t next = formatLines(a.parts, total).size();
        if (next == total) break;
        total = next;
    }
    a.partLines = formatLines(a.parts, total);
    a.partLineCount = static_cast<int>(a.parts.size());

    const bool digest = sjis::equalsNoCaseAscii(type, "multipart/digest");
    for (size_t k = 0; k < a.parts.size(); ++k) {
        if (!a.parts[k].readable) continue;
        if (a.parts[k].html) a.html = true;
        if (!digest) {
            const size_t end = k + 1 < a.parts.size()
                                   ? a.parts[k + 1].offset
                                   : (a.output.size() >= 3 ? a.output.size() - 3 : 0);
            const std::string digits = std::to_string(end + total);
            std::string field(store::kStatusValueSize, ' ');
            field.replace(0, std::min(digits.size(), field.size()), digits);
            a.output.replace(kStatusValueOffset, store::kStatusValueSize, field);
        }
        break;
    }
    return a;
}

uint8_t matchAccount(const HeaderInfo& h, const Account* accounts) {
    const std::string_view to = range(h.toAddressStart, h.toAddressEnd);
    if (to.empty()) return store::kNoAccount;
    auto find = [&](std::string_view where) -> const Account* {
        for (const Account* a = accounts; a; a = a->next) {
            const std::string_view address = sjis::fieldView(a->mailAddress);
            if (!address.empty() && where.find(address) != std::string_view::npos) return a;
        }
        return nullptr;
    };
    const Account* hit = find(to);
    if (!hit) {
        if (h.deliveredToStart) {
            hit = find(range(h.deliveredToStart, h.deliveredToEnd));
        } else {
            hit = find(sjis::fieldView(h.received));
        }
    }
    if (!hit || hit->number < 0 || hit->number >= store::kNoAccount) return store::kNoAccount;
    return static_cast<uint8_t>(hit->number);
}

namespace {

Tab* lastTab(store::TabRegistry& tabs) {
    Tab* t = tabs.first();
    while (t && t->next && t->next != tabs.listHead())
        t = t->next;
    return t;
}

bool usableRuleTab(const Tab* t) {
    return t && !store::tabFull(*t) && !(t->kind == store::kReceiveTab && t->basic);
}

char colourChar(int colour) {
    if (colour <= 0 || colour >= 15) return '0';
    return colour < 10 ? static_cast<char>('0' + colour) : static_cast<char>('A' + colour - 10);
}

}  // namespace

AnalyzeOutcome mailAnalyze(AnalyzeContext& c, std::string_view text, const ServerEntry& entry,
                           AnalyzeMode mode) {
    Env& env = c.env;
    AnalyzeOutcome out;
    const bool received = mode == AnalyzeMode::Received;
    // One stored time: the index gets what a rebuild derives from the status line's digits, so
    // that rebuilding on a machine outside Japan's zone moves no stored time.
    platform::LocalTime local;
    const std::string stamp = env.clock.toLocal(env.clock.now(), local)
                                  ? store::stampDigits(local)
                                  : std::string(store::kNoStamp);
    const uint32_t storedTime = store::stampToSeconds(stamp);

    Analysis a = analyzeText(text, stamp);
    out.partial = a.partial;

    // Receive rules.
    RuleResult result{};
    if (received && c.receiveRules) {
        std::vector<rules::TextPiece> pieces;
        uint32_t bodyLength = 0;
        for (const TextSegment& s : a.segments) {
            pieces.push_back({a.output.data() + s.start, a.output.data() + s.end});
            bodyLength += static_cast<uint32_t>(s.end - s.start);
        }
        rules::RuleSubject subject;
        subject.header = &a.header;
        subject.body = pieces;
        subject.bodyLength = bodyLength;
        subject.messageSize = entry.size;
        subject.asciiOnly = AsciiOnly.load();
        if (c.receiveRules(subject, result) != 0) {
            out.kind = AnalyzeOutcome::Discarded;
            out.keepOnServer = result.leaveOnServer != 0 || result.noDownload != 0;
            return out;
        }
        out.keepOnServer = result.leaveOnServer != 0;
    }

    // Status digits.
    bool autoReply = received && result.replyTemplate[0] != '\0';
    bool autoForward = received && result.forwardKind != 0;
    // Answering automatic, list or bounce mail, or the user's own, would loop or storm; such
    // mail is stored as the rule says but not answered, and so not marked replied either.
    if (autoReply || autoForward) {
        const std::vector<std::string> own = rules::ownAddresses(c.accounts);
        const std::string_view headerText = std::string_view(a.output).substr(0, a.bodyStart);
        const std::string_view from = range(a.header.fromAddressStart, a.header.fromAddressEnd);
        if (rules::autoAnswerGuard(headerText, from, 0, own) != rules::AutoSkip::None) {
            autoReply = false;
            autoForward = false;
        }
    }
    int direction = 0;
    int state = a.kind();
    if (mode == AnalyzeMode::OutgoingCopy) {
        direction = 1;
        state = a.attachments() > 0 ? 5 : 4;  // sent, with attachments when there are any
    } else if (autoReply) {
        state += 6;
    } else if (received && result.setRead) {
        state += 3;
    }
    const bool mark = received && result.setMark;
    const int colour =
        received && result.setColour >= 1 && result.setColour <= 15 ? result.setColour : 0;
    a.output[5] = static_cast<char>('0' + direction);
    a.output[7] = store::stateDigit(static_cast<uint8_t>(state));
    a.output[9] = mark ? '1' : '0';
    a.output[11] = colourChar(colour);

    // The tab.
    Tab* tab = nullptr;
    if (received) {
        tab = c.tabs.basicTab(store::kReceiveTab);
        if (tab && store::tabFull(*tab)) {
            if (c.requestTemporaryTab) {
                c.requestTemporaryTab();
            } else {
                platform::mainThread().post({kTemporaryTabMessage, 0, 0});
                platform::sleepMs(kTemporaryTabWaitMs);
            }
            tab = c.tabs.basicTab(store::kReceiveTab);
            if (tab && store::tabFull(*tab)) {
                report::report(env, kTemporaryTabFailed);
                out.kind = AnalyzeOutcome::FailedStop;
                return out;
            }
        }
    } else {
        tab = lastTab(c.tabs);
    }
    if (!tab) {
        out.kind = AnalyzeOutcome::FailedStop;
        return out;
    }
    Tab* ruleTab = received && usableRuleTab(result.targetTab) ? result.targetTab : nullptr;
    const bool move = ruleTab && result.moveOrCopy == 0;

    // The index record.
    store::IndexRecord record;
    record.state = static_cast<uint8_t>(direction * 16 + state);
    record.markColour = static_cast<uint8_t>((mark ? store::kMarkBit : 0) + colour);
    record.storedTime = storedTime;
    record.dateTime = a.header.date;
    record.size = entry.size;
    record.attachments = static_cast<uint8_t>(std::min(a.attachments(), 255));
    const HeaderInfo& h = a.header;
    if (mode == AnalyzeMode::OutgoingCopy) {
        record.account = store::kNoAccount;
        record.texts[0] = range(h.toNameStart, h.toNameEnd);
        record.texts[1] = range(h.toAddressStart, h.toAddressEnd);
        record.texts[4] = range(h.fromAddressStart, h.fromAddressEnd);
    } else {
        record.account = matchAccount(h, c.accounts);
        record.texts[0] = range(h.fromNameStart, h.fromNameEnd);
        record.texts[1] = range(h.fromAddressStart, h.fromAddressEnd);
        if (record.account == store::kNoAccount)
            record.texts[4] = range(h.toAddressStart, h.toAddressEnd);
    }
    record.texts[2] = sjis::fieldView(h.subject);
    record.texts[3] = range(h.mailerStart, h.mailerEnd);

    const std::string fileText = a.fileText();
    out.fileSize = fileText.size();
    out.contentHash = store::messageContentHash(fileText);
    const bool read = state >= 3;
    const int32_t newMark = received && !(autoReply && !c.sinchakuIcon) ? 2 : 0;
    auto store = [&](Tab& t) -> bool {
        const int number = t.nextFileNo;
        auto item = store::storeMessage(env, t, fileText, record, c.index);
        if (!item) return false;
        if (*item) (*item)->newMark = newMark;
        if (received && t.kind != store::kSendTab && !(read && !c.sinchakuIcon)) ++t.newMailCount;
        if (!out.tab) {
            out.tab = &t;
            out.fileNo = number;
        }
        return true;
    };
    if (!move && !store(*tab)) {
        out.kind = AnalyzeOutcome::FailedStop;
        return out;
    }
    if (ruleTab && !store(*ruleTab)) {
        out.kind = AnalyzeOutcome::FailedStop;
        return out;
    }

    // Automatic reply and forward, each with its own copies, finished before the next message.
    if ((autoReply || autoForward) && c.responder && out.tab) {
        if (autoReply && !c.responder->reply(fileText, result, *out.tab, out.fileNo)) {
            report::report(env, kAutoReplyFailed);
        }
        if (autoForward && !c.responder->forward(fileText, result, *out.tab, out.fileNo)) {
            report::report(env, kAutoForwardFailed);
        }
    }
    return out;
}

}  // namespace kolvy::mime
