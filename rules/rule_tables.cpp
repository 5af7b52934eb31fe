#include "rules/rule_tables.h"

namespace kolvy::rules {

namespace {

constexpr std::string_view kFiles[kRuleKinds] = {
    "Filter_Receive.txt", "Filter_Send.txt",  "Filter_Delete.txt", "Filter_Command.txt",
    "Filter_Make.txt",    "Filter_Reply.txt", "Filter_Forwoad.txt"};

constexpr std::string_view kItems[kItemCount] = {"From:（アドレス）",
                                                 "From:（コメント）",
                                                 "Subject:",
                                                 "To:",
                                                 "本文",
                                                 "Cc:",
                                                 "Reply-To:",
                                                 "Return-Path:",
                                                 "X-Mailer:",
                                                 "X-ML-Name:",
                                                 "Delivered-To:",
                                                 "Recieved:",
                                                 "Content-Type:",
                                                 "その他の部分（ヘッダ）"};

constexpr std::string_view kColours[kColourCount] = {
    "赤",         "黄緑", "青", "黄", "みず",     "ピンク",           "淡いグレー",
    "濃いグレー", "茶",   "緑", "紺", "オリーブ", "セルリアンブルー", "紫",
    "黒"};

constexpr std::string_view kAges[kAgeCount] = {
    "1日",  "2日",  "3日",  "4日",   "5日",   "6日",   "7日",   "8日",   "9日",
    "10日", "11日", "12日", "13日",  "14日",  "15日",  "16日",  "17日",  "18日",
    "19日", "20日", "21日", "22日",  "23日",  "24日",  "25日",  "26日",  "27日",
    "28日", "29日", "30日", "2ヶ月", "3ヶ月", "4ヶ月", "5ヶ月", "6ヶ月", "1年"};

constexpr std::string_view kForwardKinds[kForwardKindCount] = {
    "本文に書き込んで転送", "添付ファイルとして転送", "そのまま転送"};

template <size_t N>
std::string_view pick(const std::string_view (&table)[N], int32_t index) {
    if (index < 1 || static_cast<size_t>(index) > N) return {};
    return table[index - 1];
}

}  // namespace

std::string_view ruleFileName(RuleKind kind) {
    return kFiles[static_cast<int>(kind)];
}
std::string_view itemName(int32_t item) {
    return pick(kItems, item);
}
std::string_view colourName(int32_t colour) {
    return pick(kColours, colour);
}
std::string_view ageName(int32_t age) {
    return pick(kAges, age);
}
std::string_view forwardKindName(int32_t kind) {
    return pick(kForwardKinds, kind);
}

}  // namespace kolvy::rules
