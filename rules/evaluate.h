// Deciding which rule of a list applies to one message.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "core/records.h"

namespace kolvy::rules {

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

// Fills `result` from the winning rule of the list behind `head` (visited from the file's last
// rule to its first); returns 1 when the result asks for no download or for deletion without
// download, else 0. `result` must be zeroed by the caller.
int evaluateRules(const RuleSubject& subject, const Rule& head, RuleResult& result);

// How message analysis asks the receive rules: null means no rules.
using ReceiveRuleHook = std::function<int(const RuleSubject&, RuleResult&)>;

}  // namespace kolvy::rules
