#include "rules/executor.h"

#include <algorithm>

#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "report/report.h"
#include "rules/rule_tables.h"
#include "store/message_file.h"
#include "store/tabs.h"

namespace kolvy::rules {
namespace {

using mail::kColourMask;
using mail::kOutgoing;
using mail::kReadOffset;
constexpr uint8_t kMarkNibble = mail::kMarkMask;
// Mark nibbles: none, mark, bookmark, both.
constexpr uint8_t kNoMark = 0x00, kBookmarkOnly = 0x80;
// The link host of the easy-spam registration is at most this long.
constexpr size_t kLinkHostMax = 255;

std::string_view span(const char* start, const char* end) {
    if (!start || !end || end <= start) return {};
    return {start, static_cast<size_t>(end - start)};
}

// The state a received message takes when an answer was made from it.
uint8_t answeredState(uint8_t state, bool forward) {
    if (state >= kOutgoing) return state;
    return static_cast<uint8_t>((forward ? mail::kForwarded : mail::kReplied) +
                                mail::receivedKind(state));
}

}  // namespace

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
    if (wantsReply) {
        AutoRequest request = replyRequest(result);
        request.sourceTab = &tab;
        request.item = &item;
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
        AutoRequest request = forwardRequest(result);
        request.sourceTab = &tab;
        request.item = &item;
        if (options.responder->forward(request)) {
            ++out.forwards;
            // A reply made just now is what the message is marked with.
            if (!mail::isAnswered(item.state)) {
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
    if (!mail::isSent(item.state) || item.sendAccount == mail::kNotSending) return false;
    item.sendAccount = mail::kNotSending;
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
