// The rule file format: one rule is three lines ending in LF.
//
//   line 1, conditions: fields in the order 1 2 3 4 5 6 7 8 9 A B, each present only when set
//   line 2, actions:    fields in the order 1 4 6 2 3 5 7 8 9 A B
//   line 3:             YYMMDD of the last application and the count run together, or empty
//
// A field is its tag character, its value and the byte 0x01. Item and colour numbers are one
// upper-case hexadecimal digit, modes, combination, move/copy and forward kind one decimal
// digit, other numbers decimal. Texts run to the next 0x01, so no text may hold 0x01, CR or LF.
// This module turns lines into Rule records and back and owns no file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/records.h"
#include "core/result.h"
#include "platform/platform.h"
#include "rules/rule_tables.h"

namespace kolvy::rules {

inline constexpr char kFieldEnd = '\x01';

// Why a rule read from a file takes no part in evaluation. Such a rule is kept exactly as it was
// read and written back unchanged.
enum class RuleState : uint8_t {
    Ok,
    Unreadable,   // a field the reader cannot take, or a value outside its table or range
    NoCondition,  // nothing to test: it would match every message
    TabMissing,   // it names a tab that does not exist
};

// A calendar date with the full year (the files store two digits of years from 2000).
struct RuleDate {
    int year = 2000;
    int month = 1;
    int day = 1;
    bool operator==(const RuleDate&) const = default;
    bool operator<(const RuleDate& o) const {
        if (year != o.year) return year < o.year;
        if (month != o.month) return month < o.month;
        return day < o.day;
    }
};
RuleDate ruleDateOf(const platform::LocalTime& t);
// The date `months` months before today: applications before it are stale ("▲").
RuleDate staleLimit(RuleDate today, int months);
// The longest stale period honoured (a hundred years).
inline constexpr int kMaxStaleMonths = 1200;
// The marks after the date of the last application: applied today, stale.
inline constexpr char kAppliedToday[] = "●";
inline constexpr char kAppliedStale[] = "▲";

// Tab ids a rule refers to (-1 = none): the caller resolves them to tabs.
struct RuleTabIds {
    int32_t target = -1;
    int32_t reply = -1;
    int32_t forward = -1;
};

struct ParsedRule {
    RuleState state = RuleState::Ok;
    RuleTabIds tabs;
};

// Parses one rule's lines (without their LF; a CR before the LF is ignored) into `out`, which is
// cleared first. Tab pointers stay null. On any state but Ok the record's fields are not to be
// used.
ParsedRule parseRule(RuleKind kind, std::string_view line1, std::string_view line2,
                     std::string_view line3, RuleDate today, RuleDate limit, Rule& out);

// Removes 0x01, CR and LF from the rule's texts (keywords may come from decoded headers).
void cleanRuleTexts(Rule& rule);
// A condition that selects messages: without one a rule would match every message.
bool hasCondition(const Rule& rule);
// The three lines of a rule, each ending in LF. Err::Invalid when a field would not read back as
// written: a value outside its table or range, an empty keyword of a set condition, a text
// holding a byte that ends a field or a line.
Result<std::string> formatRule(RuleKind kind, const Rule& rule, const RuleTabIds& tabs);

// Clears every field of a record (links included).
void clearRule(Rule& rule);

}  // namespace kolvy::rules
