#include "rules/executor.h"

#include <algorithm>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "report/report.h"
#include "rules/rule_tables.h"
#include "store/message_file.h"
#include "store/tabs.h"

namespace kolvy::rules {
namespace {

constexpr uint8_t kOutgoing = 16;
constexpr uint8_t kReadOffset = 3;  // unread 0-2, read 3-5
constexpr uint8_t kRepliedFirst = 6, kForwardedFirst = 9, kForwardedLast = 11;
constexpr uint8_t kSentState = kOutgoing + 4;  // sent, and sent with attachments
constexpr int32_t kNoSendAccount = 101;
constexpr uint8_t kColourMask = 0x0F;
constexpr uint8_t kMarkNibble = 0xF0;
// Mark nibbles: none, mark, bookmark, both.
constexpr uint8_t kNoMark = 0x00, kBookmarkOnly = 0x80;
// The link host of the easy-spam registration is at most this long.
constexpr size_t kLinkHostMax = 255;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (isBlank(s.front()) || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// The first word of a header value: up to a blank, ";" or "(" (a comment).
std::string_view firstToken(std::string_view v) {
    const size_t end = v.find_first_of(" \t;(");
    return v.substr(0, end);
}

std::string_view span(const char* start, const char* end) {
    if (!start || !end || end <= start) return {};
    return {start, static_cast<size_t>(end - start)};
}

bool lowNibbleAnswered(uint8_t state) {
    if (state >= kOutgoing) return false;
    const uint8_t n = state & 0x0F;
    return n >= kRepliedFirst && n <= kForwardedLast;
}

// The state a received message takes when an answer was made from it.
uint8_t answeredState(uint8_t state, bool forward) {
    if (state >= kOutgoing) return state;
    return static_cast<uint8_t>((forward ? kForwardedFirst : kRepliedFirst) + (state & 0x0F) % 3);
}

}  // namespace

// ----------------------------------------------------------------------------- guards

std::optional<std::string> headerValue(std::string_view text, std::string_view name) {
    size_t pos = 0;
    while (pos < text.size()) {
        // LF never is a trail byte: a byte scan for line ends is safe in Shift_JIS.
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        const bool match = line.size() > name.size() && line[name.size()] == ':' &&
                           sjis::equalsNoCaseAscii(line.substr(0, name.size()), name);
        if (match) {
            std::string value(line.substr(name.size() + 1));
            // Folded continuation lines belong to the value.
            size_t next = end + 1;
            while (next < text.size() && isBlank(text[next])) {
                size_t e = text.find('\n', next);
                if (e == std::string_view::npos) e = text.size();
                value += ' ';
                value += trim(text.substr(next, e - next));
                next = e + 1;
            }
            return std::string(trim(value));
        }
        pos = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> ownAddresses(const Account* first) {
    std::vector<std::string> out;
    for (const Account* a = first; a; a = a->next)
        out.emplace_back(sjis::fieldView(a->mailAddress));
    return out;
}

AutoSkip autoAnswerGuard(std::string_view header, std::string_view fromAddress, uint8_t state,
                         std::span<const std::string> ownAddresses) {
    if (lowNibbleAnswered(state)) return AutoSkip::AlreadyAnswered;
    if (auto v = headerValue(header, "Auto-Submitted")) {
        if (!sjis::equalsNoCaseAscii(firstToken(*v), "no")) return AutoSkip::AutoSubmitted;
    }
    if (auto v = headerValue(header, "Precedence")) {
        const std::string_view t = firstToken(*v);
        if (sjis::equalsNoCaseAscii(t, "bulk") || sjis::equalsNoCaseAscii(t, "list") ||
            sjis::equalsNoCaseAscii(t, "junk")) {
            return AutoSkip::Precedence;
        }
    }
    if (headerValue(header, "List-Id")) return AutoSkip::ListId;
    if (auto v = headerValue(header, "Return-Path")) {
        std::string_view p = trim(*v);
        if (p.size() >= 2 && p.front() == '<' && p.back() == '>')
            p = trim(p.substr(1, p.size() - 2));
        if (p.empty()) return AutoSkip::EmptyReturnPath;
    }
    std::string_view from = trim(fromAddress);
    if (from.size() >= 2 && from.front() == '<' && from.back() == '>')
        from = from.substr(1, from.size() - 2);
    const std::string_view local = from.substr(0, from.find('@'));
    if (sjis::equalsNoCaseAscii(local, "MAILER-DAEMON")) return AutoSkip::MailerDaemon;
    for (const std::string& own : ownAddresses) {
        if (!own.empty() && sjis::equalsNoCaseAscii(trim(own), from)) return AutoSkip::OwnAccount;
    }
    return AutoSkip::None;
}

// ----------------------------------------------------------------------------- one message

RuleSubject storedSubject(const MailItem& item, const StoredView& view, uint32_t fileSize,
                          int64_t now) {
    RuleSubject s;
    s.header = view.header;
    s.body = view.body;
    s.bodyLength = view.bodyLength;
    s.convertedLength = view.convertedLength;
    s.messageSize = fileSize;
    const uint8_t mark = item.markColour & kMarkNibble;
    s.hasMark = mark != kNoMark && mark != kBookmarkOnly;
    s.colour = item.markColour & kColourMask;
    const bool received = item.state < kOutgoing;
    s.unread = received && item.state < kReadOffset;
    s.read = received && item.state >= kReadOffset;
    s.ageSteps = ageClass(item.storedTime, now);
    s.asciiOnly = view.asciiOnly;
    return s;
}

std::optional<store::ItemBytes> resultBytes(const RuleResult& r, uint8_t state,
                                            uint8_t markColour) {
    store::ItemBytes b{state, markColour};
    if (r.setMark == 1) {
        const uint8_t mark = markColour & kMarkNibble;
        if (mark == kNoMark || mark == kBookmarkOnly) b.markColour |= store::kMarkBit;
    }
    if (r.setColour == kNoColour) {
        b.markColour &= kMarkNibble;
    } else if (r.setColour >= 1 && r.setColour < kNoColour) {
        b.markColour = static_cast<uint8_t>((b.markColour & kMarkNibble) | r.setColour);
    }
    if (r.setRead == 1 && state < kReadOffset) b.state = static_cast<uint8_t>(state + kReadOffset);
    if (b.state == state && b.markColour == markColour) return std::nullopt;
    return b;
}

// ----------------------------------------------------------------------------- the run

namespace {

// The reply and the forward a matched rule asks for, made by the responder; true when the
// message's state changed.
bool answerMatched(Env& env, Tab& tab, MailItem& item, const RuleResult& result,
                   std::string_view text, const StoredView& view, const ApplyOptions& options,
                   ApplyOutcome& out) {
    const bool wantsReply = result.replyTemplate[0] != '\0';
    const bool wantsForward = result.forwardKind != 0;
    if ((!wantsReply && !wantsForward) || !options.responder) return false;
    const std::string_view header = splitStored(text).header;
    const std::string_view from =
        view.header ? span(view.header->fromAddressStart, view.header->fromAddressEnd)
                    : std::string_view();
    const AutoSkip skip = autoAnswerGuard(header, from, item.state, options.ownAddresses);
    if (skip != AutoSkip::None) {
        out.answersSkipped += (wantsReply ? 1 : 0) + (wantsForward ? 1 : 0);
        return false;
    }
    bool changed = false;
    AutoRequest request;
    request.sourceTab = &tab;
    request.item = &item;
    if (wantsReply) {
        request.templateName = sjis::fieldView(result.replyTemplate);
        request.intoTab = result.replyTab;
        request.extraHeaders = {kAutoRepliedHeader};
        if (options.responder->reply(request)) {
            ++out.replies;
            store::setItemBytes(env, tab, item,
                                {answeredState(item.state, false), item.markColour});
            changed = true;
        } else {
            report::report(env, kAutoReplyFailed);
        }
    }
    if (wantsForward) {
        request.templateName = sjis::fieldView(result.templateName);
        request.intoTab = result.forwardTab;
        request.forwardKind = result.forwardKind;
        request.forwardFrom = sjis::fieldView(result.forwardFrom);
        request.forwardTo = sjis::fieldView(result.forwardTo);
        request.extraHeaders.clear();
        if (options.responder->forward(request)) {
            ++out.forwards;
            // A reply made just now is what the message is marked with.
            if (!lowNibbleAnswered(item.state)) {
                store::setItemBytes(env, tab, item,
                                    {answeredState(item.state, true), item.markColour});
                changed = true;
            }
        } else {
            report::report(env, kAutoForwardFailed);
        }
    }
    return changed;
}

// The tab's index, read as the options say; false (with the error) when it cannot be.
bool readIndexForRules(Env& env, Tab& tab, const ApplyOptions& options, ApplyOutcome& out) {
    if (!options.readWholeIndex && tab.loadState != store::kNotRead) return true;
    const Err e = options.readWholeIndex ? store::readWholeIndex(env, tab, options.listOps.index)
                                         : store::readIndex(env, tab, options.listOps.index);
    out.error = e;
    return e == Err::None;
}

// The send rules look only at sent mail that still carries its sending account, once.
bool takeForSendRules(MailItem& item) {
    if ((item.state != kSentState && item.state != kSentState + 1) ||
        item.sendAccount == kNoSendAccount) {
        return false;
    }
    item.sendAccount = kNoSendAccount;
    return true;
}

}  // namespace

ApplyOutcome applyRulesToTab(Env& env, RuleBook& book, Tab& tab, ApplyMode mode,
                             StoredMessageReader& reader, const ApplyOptions& options) {
    ApplyOutcome out;
    if (tab.kind == store::kTrashTab) return out;
    const RuleKind kind = mode == ApplyMode::Command ? RuleKind::Command : RuleKind::Send;
    const Rule& head = book.head(kind);
    if (!head.next) return out;
    if (!readIndexForRules(env, tab, options, out) || listEmpty(tab.items)) return out;

    const EvaluationContext context = evaluationContext(env, &book);
    const int64_t now = env.clock.now();
    std::vector<store::PassRow> rows;
    bool countersChanged = false;
    std::string text;
    for (MailItem* item : listRange(tab.items)) {
        if (mode == ApplyMode::Send && !takeForSendRules(*item)) continue;
        const std::string path = store::messagePath(env, tab, store::itemNumber(*item));
        auto file = platform::readWholeFile(env.fs, path);
        if (!file || file->size() < store::kStatusLineSize) {
            report::report(env, kMessageFileUnopenable);
            out.error = file ? Err::Damaged : file.error();
            break;
        }
        ++out.fileReads;
        const auto fileSize = static_cast<uint32_t>(std::min<size_t>(file->size(), UINT32_MAX));
        // From the LF that ends the status line, as the stored header reader expects.
        text.assign(*file, store::kStatusLineSize - 1, std::string::npos);
        StoredView view;
        if (!reader.read(text, view)) continue;
        ++out.messages;
        const RuleSubject subject = storedSubject(*item, view, fileSize, now);
        RuleResult result{};
        evaluateRules(subject, head, result, context);
        if (!result.matched) continue;
        ++out.matched;

        if (auto bytes = resultBytes(result, item->state, item->markColour)) {
            bool fileFailed = false;
            if (Err e = store::setItemBytes(env, tab, *item, *bytes, &fileFailed); e != Err::None) {
                if (fileFailed) report::report(env, kMessageFileUnopenable);
                out.error = e;
                break;
            }
            ++out.attributes;
            countersChanged = true;
        }
        if (answerMatched(env, tab, *item, result, text, view, options, out)) {
            countersChanged = true;
        }
        // Move (0) and copy (1); other values of the field move nothing. A full target keeps
        // its rows where they are, and the pass says so at its end.
        Tab* target = result.targetTab;
        if (target && target != &tab && (result.moveOrCopy == 0 || result.moveOrCopy == 1))
            rows.push_back({item, target, result.moveOrCopy == 1});
    }
    if (countersChanged) store::writeCounters(env, tab);
    // The moves decided before a failure are still carried out.
    if (!rows.empty()) out.pass = store::runPass(env, tab, rows, options.listOps);
    return out;
}

// ----------------------------------------------------------------------------- easy spam

std::optional<std::string> firstLinkHost(std::string_view text) {
    size_t at = 0;
    while ((at = sjis::find(text, "http", at)) != std::string_view::npos) {
        size_t p = at + 4;
        if (p < text.size() && text[p] == 's') ++p;
        if (p < text.size() && text[p] == ':') {
            ++p;
            while (p < text.size() && (text[p] == '/' || text[p] == '.' || text[p] == 'w'))
                ++p;
            size_t end = p;
            while (end < text.size() && end - p < kLinkHostMax &&
                   std::string_view("/\r\n?\" ").find(text[end]) == std::string_view::npos) {
                ++end;
            }
            return std::string(sjis::truncate(text.substr(p, end - p), kLinkHostMax));
        }
        at += 4;
    }
    return std::nullopt;
}

std::string easySpamKeyword(const HeaderInfo& header, std::span<const TextPiece> body,
                            int32_t& item, bool linkHost) {
    std::string keyword;
    if (item == kItemBody) {
        std::optional<std::string> host;
        if (linkHost) {
            for (const TextPiece& p : body) {
                if ((host = firstLinkHost(span(p.start, p.end)))) break;
            }
        }
        if (host && !host->empty()) {
            keyword = *host;
        } else {
            item = 1;
        }
    }
    if (item != kItemBody) {
        RuleSubject s;
        s.header = &header;
        keyword = std::string(fieldText(s, item));
    }
    // Through a rule's own text field: the bytes a rule file cannot hold go, the length is cut.
    Rule r;
    clearRule(r);
    sjis::copyField(r.keyword1, keyword);
    cleanRuleTexts(r);
    return std::string(sjis::fieldView(r.keyword1));
}

}  // namespace kolvy::rules
