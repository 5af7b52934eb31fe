// The seven rule kinds, their files, and the tables rule fields index into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kolvy::rules {

enum class RuleKind : uint8_t { Receive, Send, Delete, Command, Make, Reply, Forward };
inline constexpr int kRuleKinds = 7;

inline constexpr RuleKind kAllRuleKinds[kRuleKinds] = {
    RuleKind::Receive, RuleKind::Send,  RuleKind::Delete, RuleKind::Command,
    RuleKind::Make,    RuleKind::Reply, RuleKind::Forward};

// "Filter_Receive.txt" ... (the forward file is spelled "Filter_Forwoad.txt").
std::string_view ruleFileName(RuleKind kind);
// Reply and forward rules choose a template instead of a target tab.
constexpr bool usesTemplate(RuleKind kind) {
    return kind == RuleKind::Reply || kind == RuleKind::Forward;
}

// Condition items 1..14, colours 1..15, ages 1..36, forward kinds 1..3: the rule files store
// these as indexes, so a value outside them is never read as a rule.
inline constexpr int32_t kItemCount = 14;
inline constexpr int32_t kColourCount = 15;
inline constexpr int32_t kNoColour = 15;  // as a condition: no colour; as an action: remove it
inline constexpr int32_t kAgeCount = 36;
inline constexpr int32_t kForwardKindCount = 3;
inline constexpr int32_t kItemBody = 5;  // "本文"

std::string_view itemName(int32_t item);         // empty outside 1..14
std::string_view colourName(int32_t colour);     // empty outside 1..15
std::string_view ageName(int32_t age);           // "1日".."30日", "2ヶ月".."6ヶ月", "1年"
std::string_view forwardKindName(int32_t kind);  // empty outside 1..3

// Text fields of a rule hold 127 bytes.
inline constexpr size_t kRuleTextMax = 127;
// Size and length conditions are multiplied (by 1,000 and 2) into 32-bit byte counts: larger
// values would overflow them.
inline constexpr int32_t kMaxSizeKB = INT32_MAX / 1000;
inline constexpr int32_t kMaxBodyChars = INT32_MAX / 2;
// Tab ids are 0..99.
inline constexpr int32_t kMaxTabId = 99;

}  // namespace kolvy::rules
