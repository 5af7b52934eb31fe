// Deciding which rule of a list applies to one message.
//
// The rules are visited from the file's last rule to its first; among those that match, the one
// nearest the top of the file decides the whole result, and only it is counted and dated. A rule
// the rule book keeps unread, or one without any condition, never matches. Every text test is a
// byte substring search that only accepts a match starting on a character boundary, so that "@"
// never matches inside the full-width blank (0x81 0x40) nor "A" inside "ア" (0x83 0x41).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "core/records.h"
#include "platform/env.h"
#include "rules/rule_file.h"

namespace kolvy::rules {

class RuleBook;

// One decoded text part of the body, searched piece by piece.
struct TextPiece {
    const char* start;
    const char* end;
};

// Everything the conditions look at. Attributes a path does not know stay 0.
struct RuleSubject {
    const HeaderInfo* header = nullptr;
    std::span<const TextPiece> body;
    uint32_t bodyLength = 0;       // Shift_JIS bytes
    uint32_t messageSize = 0;      // bytes as the server or the file says
    uint32_t convertedLength = 0;  // body length after conversion, escape sequences included
    bool hasMark = false;
    int colour = 0;  // 0..15
    bool unread = false;
    bool read = false;
    int ageSteps = 0;  // steps of the age table
    bool asciiOnly = false;
};

// What the evaluation needs besides the message: the date a winning rule is stamped with, and
// the book whose kept rules must not match (null: rules are judged by their fields alone; kept
// rules have cleared fields and so no condition).
struct EvaluationContext {
    RuleDate today;
    const RuleBook* book = nullptr;
};
// Today's date from the clock of `env`.
EvaluationContext evaluationContext(Env& env, const RuleBook* book);

// Fills `result` from the winning rule of the list behind `head` and counts that rule (its count
// goes up, its date becomes today's with "●"); returns 1 when the result asks for no download or
// for deletion without download, else 0. `result` must be zeroed by the caller; it is left as it
// is when no rule matches.
int evaluateRules(const RuleSubject& subject, const Rule& head, RuleResult& result,
                  const EvaluationContext& context);
// The same for paths without a rule book or a clock at hand: the winner is counted but its date
// is left as it was.
int evaluateRules(const RuleSubject& subject, const Rule& head, RuleResult& result);

// Counts a rule that decided a message outside an evaluation (its count goes up, its date
// becomes today's with "●"), as evaluateRules counts its winner.
void countApplied(Rule& rule, const EvaluationContext& context);

// Whether a rule's conditions hold for a message, without counting anything.
bool ruleMatches(const RuleSubject& subject, const Rule& rule);
// One text condition: item 1..14, mode 1 (contains) or 2 (does not contain). An item or mode
// outside those, or an empty keyword, never holds.
bool testCondition(const RuleSubject& subject, int32_t item, int32_t mode,
                   std::string_view keyword);

// The text condition `item` (1..14 but the body) searches in a message; empty for the body, an
// absent field or an item outside the table.
std::string fieldText(const RuleSubject& subject, int32_t item);

// How message analysis asks the receive rules: null means no rules.
using ReceiveRuleHook = std::function<int(const RuleSubject&, RuleResult&)>;
// The receive rules of a book, dated from the clock of `env` at each message.
ReceiveRuleHook receiveRuleHook(RuleBook& book, Env& env);

// What becomes of a message on the server, as the receive and size rules decide it. Only
// DeleteUnfetched removes a message that was not fetched; SkipAndLeave never touches it.
enum class ServerAction {
    Fetch,              // fetch, then delete on the server unless the order leaves mail there
    FetchAndLeave,      // fetch and leave it on the server
    FetchHeadAndLeave,  // fetch the header and headLineCount lines (TOP) and leave it
    SkipAndLeave,       // "ダウンロードしない": neither fetched nor deleted
    DeleteUnfetched,  // "ダウンロードしないで削除する": deleted without being fetched
};
ServerAction serverAction(const RuleResult& result);

// The age class of a message stored at `storedTime` (seconds since 1970 UTC) at `now`, in the
// steps of the age table, the same classes the age-out at exit uses: d, the whole days by which
// it lies before one day ago, as it is below 30, then 30 ("30日") for 30..59, 31 ("2ヶ月") ..
// 34 for each further 30 days, 35 ("6ヶ月") for 180..359 and 36 ("1年") from 360; 0 for a
// message without a stored time.
int ageClass(uint32_t storedTime, int64_t now);

// The length of a Shift_JIS text after conversion to ISO-2022-JP: double-byte characters keep
// their two bytes (half-width katakana become two as well) and every run of them costs the
// three-byte escape sequences into and out of JIS, which end before each line break.
uint32_t convertedLength(std::string_view sjisText);

}  // namespace kolvy::rules
