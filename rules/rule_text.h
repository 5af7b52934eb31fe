// The sentence that describes a rule in the rule list, and the checks a rule passes before it is
// registered.
#pragma once

#include <string>

#include "core/records.h"
#include "rules/rule_book.h"

namespace kolvy::rules {

// Conditions, " → ", then actions, as the rule list shows them.
std::string ruleSummary(RuleKind kind, const Rule& rule, TabDirectory& tabs);
// The same, or for a rule kept as read a note that it is not in use.
std::string ruleSummary(const RuleBook& book, RuleKind kind, const Rule& rule, TabDirectory& tabs);
inline constexpr char kKeptRuleSummary[] = "（読み込めないため使われていないルールです）";

// An action that acts on a message.
bool hasAction(RuleKind kind, const Rule& rule);

struct RuleCheck {
    bool ok = true;
    std::string text;             // what the user is told or asked
    const Rule* other = nullptr;  // the existing rule the text is about
    bool ask = false;             // a question: OK registers anyway
};
// The combinations of conditions and actions a rule may not have.
RuleCheck checkRule(RuleKind kind, const Rule& rule);
// Against the rules of its kind (`replacing`, the rule being changed, aside): equal conditions
// are refused; conditions that contain or are contained in another rule's are asked about.
RuleCheck checkAgainstList(const RuleBook& book, RuleKind kind, const Rule& rule,
                           const Rule* replacing);

enum class ConditionRelation { Different, Related, Equal };
ConditionRelation compareConditions(const Rule& a, const Rule& b);

inline constexpr char kNoConditionText[] = "一つも条件が設定されていません    ";
inline constexpr char kNoActionText[] = "一つも動作が設定されていません    ";
inline constexpr char kSizeAndLengthText[] =
    "「サイズが…ある場合」と「本文の文字数が…ある場合」は同時に設定できません。    ";
inline constexpr char kMarkOnMarkedText[] =
    "「アイテムがマーク付きの場合（条件）」 → 「マークを付ける（動作）」は設定できません。    ";
inline constexpr char kSameColourText[] =
    "「アイテムが…色の場合（条件）」 → 「…色にする（動作）」は同じ色では設定できません。    ";
inline constexpr char kDeleteWithMoveText[] =
    "「ダウンロードしないで削除する」はタブへの移動、コピーと同時に設定する事はできません。    ";
inline constexpr char kDeleteWithOthersText[] =
    "「ダウンロードしないで削除する」は他の設定と同時に設定できません。    ";
inline constexpr char kNoDownloadWithMoveText[] =
    "「ダウンロードしない」はタブへの移動、コピーと同時に設定する事はできません。    ";
inline constexpr char kNoDownloadWithOthersText[] =
    "「ダウンロードしない」は他の設定と同時に設定できません。    ";
inline constexpr char kLeaveAndNoDownloadText[] =
    "「サーバにデータを残す」と「ダウンロードしない」は同時に設定しても意味がありません。";
inline constexpr char kLeaveAndDeleteText[] =
    "「サーバにデータを残す」と「ダウンロードしないで削除する」    \nは同時に設定できません。";
inline constexpr char kReadWithoutDownloadText[] =
    "「ダウンロードしない」「ダウンロードしないで削除する」    "
    "\nと「既読にする」は同時に設定できません";
inline constexpr char kSplitNeedsSizeText[] =
    "条件のオプションで「サイズが…KB以上ある場合」か「本文の文字数が…以上ある場合」    \n"
    "が設定されていないと「分割して送信する」は設定できません";
inline constexpr char kSizeOnlySplitsText[] =
    "送信時のルールでは「サイズや文字数が…以上ある場合」の条件は、「分割して    \n"
    "送信する」の動作しか設定できません。（タブへの移動は設定できません）\n"
    "送信時のルールはちょっと特別です。ヘルプで確認してください。";
inline constexpr char kSameConditionsText[] =
    "既に同じ条件のルールが登録されています。    \n"
    "（ダイアログを閉じた後、該当ルールを選択します）    ";
inline constexpr char kRelatedConditionsText[] =
    "既に同じ条件を含むルール、あるいは含まれるルールが登録されています。    \n"
    "かまわずに登録しますか？     \n"
    "（キャンセルを選択すると、ダイアログを閉じた後該当ルールを選択します）    ";

}  // namespace kolvy::rules
