#include "rules/rule_text.h"

#include <initializer_list>

#include "core/sjis.h"

namespace kolvy::rules {

namespace {

// Fills "%s" and "%d" in order.
std::string fill(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    auto arg = args.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() &&
            (format[i + 1] == 's' || format[i + 1] == 'd') && arg != args.end()) {
            out += *arg++;
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

std::string_view modeText(int32_t mode) {
    return mode == 2 ? "含まれない" : "含まれる";
}

bool moves(RuleKind kind, const Rule& r) {
    return usesTemplate(kind) ? r.templateName[0] != '\0' : r.targetTab != nullptr;
}

bool leaves(const Rule& r) {
    return r.leaveOnServer || r.headLines;
}

std::string tabName(TabDirectory& tabs, const Tab* tab) {
    return tab ? tabs.nameOf(tab) : std::string();
}

bool keywordsRelated(std::string_view a, std::string_view b) {
    return sjis::contains(a, b) || sjis::contains(b, a);
}

}  // namespace

std::string ruleSummary(RuleKind kind, const Rule& r, TabDirectory& tabs) {
    std::string s;
    if (r.item1 != 0) {
        s += fill("「 %s 」に \"%s\"が%s場合、",
                  {itemName(r.item1), sjis::fieldView(r.keyword1), modeText(r.mode1)});
        if (r.combination != 0) {
            s += fill("%s「 %s 」に \"%s\"が%s場合、",
                      {r.combination == 2 ? "または" : "かつ", itemName(r.item2),
                       sjis::fieldView(r.keyword2), modeText(r.mode2)});
        }
    }
    if (r.sizeKB != 0) s += fill("サイズが %dKB 以上ある場合、", {std::to_string(r.sizeKB)});
    if (r.bodyChars != 0) {
        s += "本文の文字数";
        if (r.bodyCountsControl) s += "（制御文字も含む）";
        s += fill("が %d文字 以上ある場合", {std::to_string(r.bodyChars)});
    }
    if (r.markCond) s += "アイテムがマーク付きの場合、";
    if (r.colourCond != 0) s += fill("アイテムが%s色の場合、", {colourName(r.colourCond)});
    if (r.noJapanese) s += "日本語が全く含まれていない場合、";
    if (r.readCond) s += "既読の場合、";
    if (r.unreadCond) s += "未読の場合、";
    if (r.olderThan != 0) s += fill("受信日時が%sより古い場合", {ageName(r.olderThan)});
    s += " → ";
    if (moves(kind, r)) {
        if (usesTemplate(kind)) {
            s += fill("「 %s 」雛型を使用する。", {sjis::fieldView(r.templateName)});
        } else {
            s += fill("「 %s 」タブに%sする。",
                      {tabName(tabs, r.targetTab), r.moveOrCopy == 1 ? "コピー" : "移動"});
        }
    }
    if (r.deleteUnread) s += "ダウンロードしないで削除する。";
    if (r.noDownload) s += "ダウンロードしない。";
    if (r.headLines) {
        s += fill("サーバにデータを残す（ヘッダ＋%d行だけダウロードする）。",
                  {std::to_string(r.headLineCount)});
    } else if (r.leaveOnServer) {
        s += "サーバにデータを残す。";
    }
    if (r.setMark) s += "マークを付ける。";
    if (r.setColour != 0) s += fill("%s色を付ける。", {colourName(r.setColour)});
    if (r.split) s += "分割して送信する。";
    if (r.setRead) s += "既読にする。";
    if (r.replyTemplate[0] != '\0') {
        s += fill("雛形「 %s 」で返信メールを作成し「 %s 」タブに入れる。",
                  {sjis::fieldView(r.replyTemplate), tabName(tabs, r.replyTab)});
    }
    if (r.forwardKind != 0) {
        s += fill("「 %s 」で転送メールを作成し「 %s 」タブに入れる。転送元「%s」、転送先「%s」",
                  {forwardKindName(r.forwardKind), tabName(tabs, r.forwardTab),
                   sjis::fieldView(r.forwardFrom), sjis::fieldView(r.forwardTo)});
    }
    return s;
}

std::string ruleSummary(const RuleBook& book, RuleKind kind, const Rule& rule, TabDirectory& tabs) {
    if (!book.mayMatch(&rule)) return kKeptRuleSummary;
    return ruleSummary(kind, rule, tabs);
}

bool hasAction(RuleKind kind, const Rule& r) {
    return moves(kind, r) || r.setMark || r.deleteUnread || r.leaveOnServer || r.setColour != 0 ||
           r.noDownload || r.split || r.setRead || r.replyTemplate[0] != '\0' ||
           r.forwardKind != 0 || r.headLines;
}

RuleCheck checkRule(RuleKind kind, const Rule& r) {
    auto refuse = [](const char* text) { return RuleCheck{false, text, nullptr, false}; };
    if (!hasCondition(r)) return refuse(kNoConditionText);
    if (!hasAction(kind, r)) return refuse(kNoActionText);
    if (r.sizeKB != 0 && r.bodyChars != 0) return refuse(kSizeAndLengthText);
    if (r.markCond && r.setMark) return refuse(kMarkOnMarkedText);
    if (r.colourCond != 0 && r.colourCond == r.setColour) return refuse(kSameColourText);
    // Actions on the stored message mean nothing for one that is never stored.
    const bool others = r.setMark || r.setColour != 0 || r.split || r.replyTemplate[0] != '\0' ||
                        r.forwardKind != 0;
    if (r.deleteUnread && moves(kind, r)) return refuse(kDeleteWithMoveText);
    if (r.deleteUnread && (others || r.noDownload)) return refuse(kDeleteWithOthersText);
    if (r.noDownload && moves(kind, r)) return refuse(kNoDownloadWithMoveText);
    if (r.noDownload && others) return refuse(kNoDownloadWithOthersText);
    if (leaves(r) && r.noDownload) return refuse(kLeaveAndNoDownloadText);
    if (leaves(r) && r.deleteUnread) return refuse(kLeaveAndDeleteText);
    if ((r.noDownload || r.deleteUnread) && r.setRead) return refuse(kReadWithoutDownloadText);
    if (kind == RuleKind::Send) {
        const bool sized = r.sizeKB != 0 || r.bodyChars != 0;
        if (r.split && !sized) return refuse(kSplitNeedsSizeText);
        Rule others2 = r;
        others2.split = 0;
        if (sized && hasAction(kind, others2)) return refuse(kSizeOnlySplitsText);
    }
    return {};
}

ConditionRelation compareConditions(const Rule& a, const Rule& b) {
    const bool second = a.item1 != 0 && a.combination != 0;
    const bool sameShape =
        a.item1 == b.item1 &&
        (a.item1 == 0 || (a.mode1 == b.mode1 && a.combination == b.combination)) &&
        (!second || (a.item2 == b.item2 && a.mode2 == b.mode2)) && a.sizeKB == b.sizeKB &&
        a.markCond == b.markCond && a.colourCond == b.colourCond && a.bodyChars == b.bodyChars &&
        a.bodyCountsControl == b.bodyCountsControl && a.noJapanese == b.noJapanese &&
        a.unreadCond == b.unreadCond && a.readCond == b.readCond && a.olderThan == b.olderThan;
    if (!sameShape) return ConditionRelation::Different;
    if (a.item1 == 0) return ConditionRelation::Equal;
    const std::string_view a1 = sjis::fieldView(a.keyword1), b1 = sjis::fieldView(b.keyword1);
    const std::string_view a2 = second ? sjis::fieldView(a.keyword2) : std::string_view();
    const std::string_view b2 = second ? sjis::fieldView(b.keyword2) : std::string_view();
    if (a1 == b1 && a2 == b2) return ConditionRelation::Equal;
    if (keywordsRelated(a1, b1) && keywordsRelated(a2, b2)) return ConditionRelation::Related;
    return ConditionRelation::Different;
}

RuleCheck checkAgainstList(const RuleBook& book, RuleKind kind, const Rule& rule,
                           const Rule* replacing) {
    RuleCheck related;
    const Rule& head = book.head(kind);
    // File order, so the first rule the user sees is the one selected.
    for (const Rule* r = head.prev; r && r != &head; r = r->prev) {
        if (r == replacing || !book.mayMatch(r)) continue;
        const ConditionRelation rel = compareConditions(rule, *r);
        if (rel == ConditionRelation::Equal) return {false, kSameConditionsText, r, false};
        if (rel == ConditionRelation::Related && related.ok) {
            related = {false, kRelatedConditionsText, r, true};
        }
    }
    return related;
}

}  // namespace kolvy::rules
