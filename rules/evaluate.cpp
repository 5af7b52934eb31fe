#include "rules/evaluate.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/sjis.h"
#include "rules/rule_book.h"
#include "rules/rule_tables.h"

namespace kolvy::rules {
namespace {

// The To: and Content-Type: items search spans run together into one text of at most 511 bytes.
constexpr size_t kJoinedFieldMax = 511;
constexpr int32_t kContains = 1, kNotContains = 2;
constexpr int32_t kOneCondition = 0, kAnd = 1, kOr = 2;
constexpr int64_t kBytesPerKB = 1000;
constexpr int64_t kBytesPerChar = 2;

std::string_view span(const char* start, const char* end) {
    if (!start || !end || end <= start) return {};
    return {start, static_cast<size_t>(end - start)};
}

// The texts of one message's items, worked out once per evaluation: a list of a thousand rules
// asks for the same few fields over and over.
class Fields {
  public:
    explicit Fields(const RuleSubject& s) : s_(s) {}

    // Each item's text is worked out once per message.
    std::string_view text(int32_t item) {
        if (item < 1 || item > kItemCount) return {};
        const auto i = static_cast<size_t>(item);
        if (!known_[i]) {
            texts_[i] = lookUp(item);
            known_[i] = true;
        }
        return texts_[i];
    }

    std::string_view lookUp(int32_t item) {
        const HeaderInfo* h = s_.header;
        if (!h) return {};
        switch (item) {
            case 1:
                return span(h->fromAddressStart, h->fromAddressEnd);
            case 2:
                return span(h->fromNameStart, h->fromNameEnd);
            case 3:
                return sjis::fieldView(h->subject);
            case 4:
                if (!toDone_) {
                    to_ = joined({span(h->toNameStart, h->toNameEnd),
                                  span(h->toAddressStart, h->toAddressEnd)});
                    toDone_ = true;
                }
                return to_;
            case 6:
                return span(h->ccStart, h->ccEnd);
            case 7:
                return span(h->replyToStart, h->replyToEnd);
            case 8:
                return span(h->returnPathStart, h->returnPathEnd);
            case 9:
                return span(h->mailerStart, h->mailerEnd);
            case 10:
                return span(h->mlNameStart, h->mlNameEnd);
            case 11:
                return span(h->deliveredToStart, h->deliveredToEnd);
            case 12:
                return sjis::fieldView(h->received);
            case 13:
                if (!typeDone_) {
                    type_ =
                        joined({span(h->nameStart, h->nameEnd), span(h->param1Start, h->param1End),
                                span(h->param2Start, h->param2End),
                                span(h->contentTypeStart, h->contentTypeEnd)});
                    typeDone_ = true;
                }
                return type_;
            case 14:
                return sjis::fieldView(h->otherHeaders);
            default:
                return {};
        }
    }

    bool contains(int32_t item, std::string_view keyword) {
        if (item == kItemBody) {
            for (const TextPiece& p : s_.body) {
                if (sjis::contains(span(p.start, p.end), keyword)) return true;
            }
            return false;
        }
        return sjis::contains(text(item), keyword);
    }

  private:
    static std::string joined(std::initializer_list<std::string_view> parts) {
        std::string out;
        for (std::string_view p : parts)
            out += p;
        return std::string(sjis::truncate(out, kJoinedFieldMax));
    }

    const RuleSubject& s_;
    std::string_view texts_[kItemCount + 1];
    bool known_[kItemCount + 1] = {};
    std::string to_, type_;
    bool toDone_ = false, typeDone_ = false;
};

bool holds(Fields& fields, int32_t item, int32_t mode, std::string_view keyword) {
    if (item < 1 || item > kItemCount || keyword.empty()) return false;
    if (mode == kContains) return fields.contains(item, keyword);
    if (mode == kNotContains) return !fields.contains(item, keyword);
    return false;
}

// Which of the splitting conditions held, for the result.
struct Held {
    bool size = false;
    bool length = false;
};

bool attributesHold(const RuleSubject& s, const Rule& r, Held& held) {
    if (r.noJapanese && !s.asciiOnly) return false;
    if (r.sizeKB != 0) {
        const int64_t need = int64_t{r.sizeKB} * kBytesPerKB;
        if (r.sizeKB < 0 || s.messageSize == 0 || s.messageSize < need) return false;
        held.size = true;
    } else if (r.bodyChars != 0) {
        const int64_t need = int64_t{r.bodyChars} * kBytesPerChar;
        const bool converted = r.bodyCountsControl == 1;
        const uint32_t length = converted ? s.convertedLength : s.bodyLength;
        if (r.bodyChars < 0 || length < need || (!converted && s.bodyLength == 0)) return false;
        held.length = true;
    }
    if (r.markCond && !s.hasMark) return false;
    if (r.colourCond != 0) {
        if (r.colourCond == kNoColour) {
            if (s.colour != 0) return false;
        } else if (r.colourCond < 1 || r.colourCond > kNoColour || s.colour != r.colourCond) {
            return false;
        }
    }
    if (r.unreadCond && !s.unread) return false;
    if (r.readCond && !s.read) return false;
    if (r.olderThan != 0 && (r.olderThan < 0 || s.ageSteps < r.olderThan)) return false;
    return true;
}

bool matches(const RuleSubject& s, Fields& fields, const Rule& r, Held& held) {
    held = {};
    // Without any condition a rule would take every message.
    if (!hasCondition(r)) return false;
    if (r.item1 != 0) {
        const bool first = holds(fields, r.item1, r.mode1, sjis::fieldView(r.keyword1));
        switch (r.combination) {
            case kOr:
                // Either text condition decides alone; the attributes are not asked.
                return first || holds(fields, r.item2, r.mode2, sjis::fieldView(r.keyword2));
            case kAnd:
                if (!first || !holds(fields, r.item2, r.mode2, sjis::fieldView(r.keyword2)))
                    return false;
                break;
            case kOneCondition:
                if (!first) return false;
                break;
            default:
                return false;
        }
    }
    return attributesHold(s, r, held);
}

template <size_t N>
void copyText(char (&to)[N], const char (&from)[N]) {
    sjis::copyField(to, sjis::fieldView(from));
}

void fillResult(const Rule& r, const Held& held, RuleResult& out) {
    out = RuleResult{};
    out.matched = &r;
    out.targetTab = r.targetTab;
    out.moveOrCopy = r.moveOrCopy;
    out.setMark = r.setMark;
    out.deleteUnread = r.deleteUnread;
    out.leaveOnServer = r.leaveOnServer;
    out.setColour = r.setColour;
    out.noDownload = r.noDownload;
    out.split = r.split;
    out.setRead = r.setRead;
    copyText(out.templateName, r.templateName);
    copyText(out.replyTemplate, r.replyTemplate);
    out.replyTab = r.replyTab;
    out.forwardKind = r.forwardKind;
    out.forwardTab = r.forwardTab;
    copyText(out.forwardFrom, r.forwardFrom);
    copyText(out.forwardTo, r.forwardTo);
    out.olderThan = r.olderThan;
    if (held.size) {
        out.pieceBytes =
            static_cast<int32_t>(std::min<int64_t>(int64_t{r.sizeKB} * kBytesPerKB, INT32_MAX));
    }
    if (held.length) {
        out.splitBodyBytes = static_cast<int32_t>(
            std::min<int64_t>(int64_t{r.bodyChars} * kBytesPerChar, INT32_MAX));
        out.splitCountsControl = r.bodyCountsControl;
    }
    out.headLines = r.headLines;
    out.headLineCount = r.headLineCount;
}

void stamp(Rule& r, const RuleDate* today) {
    if (r.appliedCount < INT32_MAX) ++r.appliedCount;
    if (!today) return;
    char text[sizeof r.lastApplied];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d%s", today->year % 100, today->month % 100,
                  today->day % 100, kAppliedToday);
    sjis::copyField(r.lastApplied, text);
}

int evaluate(const RuleSubject& subject, const Rule& head, RuleResult& result,
             const RuleDate* today, const RuleBook* book) {
    Fields fields(subject);
    Rule* winner = nullptr;
    Held winnerHeld;
    // From the file's last rule to its first: a later match is nearer the top and wins.
    for (Rule* r = head.next; r; r = r->next) {
        if (book && !book->mayMatch(r)) continue;
        Held held;
        if (matches(subject, fields, *r, held)) {
            winner = r;
            winnerHeld = held;
        }
    }
    if (!winner) return 0;
    fillResult(*winner, winnerHeld, result);
    stamp(*winner, today);
    return result.deleteUnread == 1 || result.noDownload == 1 ? 1 : 0;
}

}  // namespace

EvaluationContext evaluationContext(Env& env, const RuleBook* book) {
    EvaluationContext c;
    c.today = ruleDateOf(env.clock.localNow());
    c.book = book;
    return c;
}

int evaluateRules(const RuleSubject& subject, const Rule& head, RuleResult& result,
                  const EvaluationContext& context) {
    return evaluate(subject, head, result, &context.today, context.book);
}

int evaluateRules(const RuleSubject& subject, const Rule& head, RuleResult& result) {
    return evaluate(subject, head, result, nullptr, nullptr);
}

void countApplied(Rule& rule, const EvaluationContext& context) {
    stamp(rule, &context.today);
}

bool ruleMatches(const RuleSubject& subject, const Rule& rule) {
    Fields fields(subject);
    Held held;
    return matches(subject, fields, rule, held);
}

bool testCondition(const RuleSubject& subject, int32_t item, int32_t mode,
                   std::string_view keyword) {
    Fields fields(subject);
    return holds(fields, item, mode, keyword);
}

std::string fieldText(const RuleSubject& subject, int32_t item) {
    if (item == kItemBody) return {};
    Fields fields(subject);
    return std::string(fields.text(item));
}

ReceiveRuleHook receiveRuleHook(RuleBook& book, Env& env) {
    return [&book, &env](const RuleSubject& subject, RuleResult& result) {
        return evaluateRules(subject, book.head(RuleKind::Receive), result,
                             evaluationContext(env, &book));
    };
}

ServerAction serverAction(const RuleResult& r) {
    // Not downloading wins over deleting when both were set: mail left on the server can still
    // be fetched, mail deleted there is gone.
    if (r.noDownload == 1) return ServerAction::SkipAndLeave;
    if (r.deleteUnread == 1) return ServerAction::DeleteUnfetched;
    if (r.headLines == 1) return ServerAction::FetchHeadAndLeave;
    if (r.leaveOnServer == 1) return ServerAction::FetchAndLeave;
    return ServerAction::Fetch;
}

int ageClass(uint32_t storedTime, int64_t now) {
    if (storedTime == 0) return 0;
    constexpr int64_t kDay = 86400;
    const int64_t reference = now - kDay;
    const int64_t days = storedTime >= reference ? 0 : (reference - storedTime) / kDay;
    // Whole days up to a month, then months up to half a year, then a year.
    if (days < 30) return static_cast<int>(days);
    if (days < 180) return static_cast<int>(30 + (days - 30) / 30);
    if (days < 360) return 35;
    return 36;
}

uint32_t convertedLength(std::string_view s) {
    constexpr uint64_t kEscape = 3;  // ESC $ B and ESC ( B
    uint64_t length = 0;
    bool jis = false;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = sjis::charLen(s, i);
        const bool wide = n == 2 || (c >= 0xA1 && c <= 0xDF);
        if (wide != jis) {
            length += kEscape;
            jis = wide;
        }
        length += wide ? 2 : 1;
        i += n;
    }
    if (jis) length += kEscape;
    return static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
}

}  // namespace kolvy::rules
