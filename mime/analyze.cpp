#include "mime/analyze.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/ascii.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/header.h"
#include "mime/walk.h"
#include "platform/platform.h"
#include "report/report.h"
#include "rules/executor.h"
#include "store/commit.h"
#include "store/message_file.h"
#include "store/paths.h"

namespace kolvy::mime {

namespace {

using ascii::startsNoCase;

constexpr char kStatusStart[] = "\f st=0.0.0.0 dt=";
constexpr char kStatusEnd[] = " rd=all               \r";
constexpr size_t kStatusValueOffset = 30;

std::string_view range(const char* start, const char* end) {
    return HeadCopy::view(start, end);
}

std::string_view contentType(const HeaderInfo& h) {
    return range(h.contentTypeStart, h.contentTypeEnd);
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

    pos = walkBody(src, len, a.header, pos, a);
    if (pos < len) a.output.append(src, pos, len - pos);  // an undecodable tail, the terminator
    // The rules tell Japanese mail by this flag, which the header fields have already cleared
    // when they held Japanese.
    if (!a.asciiOnly) AsciiOnly.store(false, std::memory_order_relaxed);

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
    if (to.empty()) return mail::kUnmatchedAccount;
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
    if (!hit || hit->number < 0 || hit->number >= mail::kUnmatchedAccount)
        return mail::kUnmatchedAccount;
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
    if (colour <= 0 || colour >= mail::kClearColour) return '0';
    return colour < 10 ? static_cast<char>('0' + colour) : static_cast<char>('A' + colour - 10);
}

// The receive rules over the analysed message; false when one threw it away.
bool askReceiveRules(AnalyzeContext& c, const Analysis& a, const ServerEntry& entry,
                     RuleResult& result, AnalyzeOutcome& out) {
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
        return false;
    }
    out.keepOnServer = result.leaveOnServer != 0;
    return true;
}

// What the rules want answered and the stored state that follows.
struct Verdict {
    bool autoReply = false, autoForward = false;
    uint8_t state = mail::kUnread;
    uint8_t markColour = 0;
};

Verdict verdict(const AnalyzeContext& c, const Analysis& a, const RuleResult& result,
                AnalyzeMode mode) {
    const bool received = mode == AnalyzeMode::Received;
    Verdict v;
    v.autoReply = received && result.replyTemplate[0] != '\0';
    v.autoForward = received && result.forwardKind != 0;
    // Answering automatic, list or bounce mail, or the user's own, would loop or storm; such
    // mail is stored as the rule says but not answered, and so not marked replied either.
    if (v.autoReply || v.autoForward) {
        const std::vector<std::string> own = rules::ownAddresses(c.accounts);
        const std::string_view headerText = std::string_view(a.output).substr(0, a.bodyStart);
        const std::string_view from = range(a.header.fromAddressStart, a.header.fromAddressEnd);
        if (rules::autoAnswerGuard(headerText, from, 0, own) != rules::AutoSkip::None)
            v.autoReply = v.autoForward = false;
    }
    v.state = static_cast<uint8_t>(mail::kUnread + a.kind());
    if (mode == AnalyzeMode::OutgoingCopy) {
        v.state = a.attachments() > 0 ? mail::kSentAttached : mail::kSent;
    } else if (v.autoReply) {
        v.state = static_cast<uint8_t>(mail::kReplied + a.kind());
    } else if (received && result.setRead) {
        v.state = static_cast<uint8_t>(mail::kRead + a.kind());
    }
    const bool mark = received && result.setMark;
    const int colour = received && result.setColour >= 1 && result.setColour <= mail::kColourMask
                           ? result.setColour
                           : 0;
    v.markColour = static_cast<uint8_t>((mark ? mail::kMarkBit : 0) + colour);
    return v;
}

void writeStatusDigits(Analysis& a, const Verdict& v) {
    a.output[5] = mail::isOutgoing(v.state) ? '1' : '0';
    a.output[7] = store::stateDigit(v.state);
    a.output[9] = mail::hasMark(v.markColour) ? '1' : '0';
    a.output[11] = colourChar(v.markColour & mail::kColourMask);
}

// The tab the message goes to; null when there is none (reported where it must be).
Tab* chooseTab(AnalyzeContext& c, bool received) {
    if (!received) return lastTab(c.tabs);
    Tab* tab = c.tabs.basicTab(store::kReceiveTab);
    if (!tab || !store::tabFull(*tab)) return tab;
    if (c.requestTemporaryTab) {
        c.requestTemporaryTab();
    } else {
        platform::mainThread().post({kTemporaryTabMessage, 0, 0});
        platform::sleepMs(kTemporaryTabWaitMs);
    }
    tab = c.tabs.basicTab(store::kReceiveTab);
    if (tab && store::tabFull(*tab)) {
        report::report(c.env, kTemporaryTabFailed);
        return nullptr;
    }
    return tab;
}

store::IndexRecord indexRecord(const AnalyzeContext& c, const Analysis& a, const Verdict& v,
                               uint32_t storedTime, const ServerEntry& entry, AnalyzeMode mode) {
    store::IndexRecord record;
    record.state = v.state;
    record.markColour = v.markColour;
    record.storedTime = storedTime;
    record.dateTime = a.header.date;
    record.size = entry.size;
    record.attachments = static_cast<uint8_t>(std::min(a.attachments(), 255));
    const HeaderInfo& h = a.header;
    if (mode == AnalyzeMode::OutgoingCopy) {
        record.account = mail::kUnmatchedAccount;
        record.texts[0] = range(h.toNameStart, h.toNameEnd);
        record.texts[1] = range(h.toAddressStart, h.toAddressEnd);
        record.texts[4] = range(h.fromAddressStart, h.fromAddressEnd);
    } else {
        record.account = matchAccount(h, c.accounts);
        record.texts[0] = range(h.fromNameStart, h.fromNameEnd);
        record.texts[1] = range(h.fromAddressStart, h.fromAddressEnd);
        if (record.account == mail::kUnmatchedAccount)
            record.texts[4] = range(h.toAddressStart, h.toAddressEnd);
    }
    record.texts[2] = sjis::fieldView(h.subject);
    record.texts[3] = range(h.mailerStart, h.mailerEnd);
    return record;
}

// The automatic reply and forward, each with its own copy of the stored text, finished before
// the next message.
void answer(AnalyzeContext& c, const Verdict& v, const RuleResult& result,
            const std::string& fileText, const AnalyzeOutcome& out) {
    if (!(v.autoReply || v.autoForward) || !c.responder || !out.tab) return;
    auto request = [&](rules::AutoRequest r) {
        r.sourceTab = out.tab;
        r.fileNo = out.fileNo;
        r.storedText = fileText;
        return r;
    };
    if (v.autoReply && !c.responder->reply(request(rules::replyRequest(result))))
        report::report(c.env, kAutoReplyFailed);
    if (v.autoForward && !c.responder->forward(request(rules::forwardRequest(result))))
        report::report(c.env, kAutoForwardFailed);
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
    RuleResult result{};
    if (received && c.receiveRules && !askReceiveRules(c, a, entry, result, out)) return out;
    const Verdict v = verdict(c, a, result, mode);
    writeStatusDigits(a, v);

    Tab* tab = chooseTab(c, received);
    if (!tab) {
        out.kind = AnalyzeOutcome::FailedStop;
        return out;
    }
    Tab* ruleTab = received && usableRuleTab(result.targetTab) ? result.targetTab : nullptr;
    const bool move = ruleTab && result.moveOrCopy == 0;
    const store::IndexRecord record = indexRecord(c, a, v, storedTime, entry, mode);

    const std::string fileText = a.fileText();
    out.fileSize = fileText.size();
    out.contentHash = store::messageContentHash(fileText);
    const bool read = !mail::isUnread(v.state);
    const int32_t newMark = received && !(v.autoReply && !c.sinchakuIcon) ? 2 : 0;
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
    if ((!move && !store(*tab)) || (ruleTab && !store(*ruleTab))) {
        out.kind = AnalyzeOutcome::FailedStop;
        return out;
    }
    answer(c, v, result, fileText, out);
    return out;
}

}  // namespace kolvy::mime
