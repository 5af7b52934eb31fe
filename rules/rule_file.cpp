#include "rules/rule_file.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/sjis.h"

namespace kolvy::rules {

namespace {

// Numbers of a rule file are at most twelve characters long.
constexpr size_t kMaxNumberChars = 12;
// The count of line 3: eleven characters.
constexpr size_t kMaxCountChars = 11;

// Reads the fields of one line.
class FieldReader {
  public:
    explicit FieldReader(std::string_view line) : s_(line) {}
    bool done() const { return pos_ >= s_.size(); }
    char tag() { return s_[pos_++]; }
    // The 0x01 that closes a field.
    bool end() {
        if (pos_ < s_.size() && s_[pos_] == kFieldEnd) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::optional<int32_t> digit() {
        if (pos_ >= s_.size() || s_[pos_] < '0' || s_[pos_] > '9') return std::nullopt;
        return s_[pos_++] - '0';
    }
    std::optional<int32_t> hexDigit() {
        if (pos_ >= s_.size()) return std::nullopt;
        const char c = s_[pos_];
        int32_t v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        ++pos_;
        return v;
    }
    // Decimal digits up to and including the closing 0x01; at most `max`.
    std::optional<int32_t> number(int32_t max) {
        const size_t start = pos_;
        int64_t v = 0;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
            if (pos_ - start >= kMaxNumberChars) return std::nullopt;
            v = v * 10 + (s_[pos_++] - '0');
        }
        if (pos_ == start || v > max || !end()) return std::nullopt;
        return static_cast<int32_t>(v);
    }
    // Bytes up to the closing 0x01 (consumed); a NUL or CR inside is no text of the file.
    std::optional<std::string_view> text() {
        const size_t close = s_.find(kFieldEnd, pos_);
        if (close == std::string_view::npos) return std::nullopt;
        const std::string_view t = s_.substr(pos_, close - pos_);
        if (t.find('\0') != std::string_view::npos || t.find('\r') != std::string_view::npos) {
            return std::nullopt;
        }
        pos_ = close + 1;
        return t;
    }

  private:
    std::string_view s_;
    size_t pos_ = 0;
};

std::string_view withoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

bool inRange(int32_t v, int32_t lo, int32_t hi) {
    return v >= lo && v <= hi;
}

// Keywords longer than the field are cut to it; any other text must fit.
template <size_t N>
bool takeKeyword(char (&field)[N], std::optional<std::string_view> t) {
    if (!t || t->empty()) return false;
    sjis::copyField(field, *t);
    return true;
}
template <size_t N>
bool takeText(char (&field)[N], std::optional<std::string_view> t, bool mayBeEmpty) {
    if (!t || t->size() >= N || (!mayBeEmpty && t->empty())) return false;
    sjis::copyField(field, *t);
    return true;
}

// Marks a tag ('1'..'9', 'A', 'B') as seen; another tag, or one given twice, is not a line the
// program writes.
bool firstTime(uint32_t& seen, char tag) {
    if (!((tag >= '1' && tag <= '9') || (tag >= 'A' && tag <= 'B'))) return false;
    const int bit = tag <= '9' ? tag - '0' : tag - 'A' + 10;
    const uint32_t mask = 1u << bit;
    if (seen & mask) return false;
    seen |= mask;
    return true;
}

// A decimal field up to `max`.
bool takeNumber(FieldReader& f, int32_t max, int32_t& out) {
    const auto v = f.number(max);
    if (!v) return false;
    out = *v;
    return true;
}

// A colour number, the field's last value.
bool takeColour(FieldReader& f, int32_t& out) {
    const auto v = f.hexDigit();
    if (!v || !inRange(*v, 1, kColourCount) || !f.end()) return false;
    out = *v;
    return true;
}

bool parseConditions(std::string_view line, Rule& r) {
    FieldReader f(line);
    uint32_t seen = 0;
    bool hasSecond = false;
    while (!f.done()) {
        const char tag = f.tag();
        if (!firstTime(seen, tag)) return false;
        switch (tag) {
            case '1': {
                const auto item = f.hexDigit();
                const auto mode = f.digit();
                if (!item || !mode || !inRange(*item, 1, kItemCount) || !inRange(*mode, 1, 2) ||
                    !takeKeyword(r.keyword1, f.text())) {
                    return false;
                }
                r.item1 = *item;
                r.mode1 = *mode;
                break;
            }
            case '2': {
                const auto comb = f.digit();
                const auto item = f.hexDigit();
                const auto mode = f.digit();
                if (!comb || !item || !mode || !inRange(*comb, 1, 2) ||
                    !inRange(*item, 1, kItemCount) || !inRange(*mode, 1, 2) ||
                    !takeKeyword(r.keyword2, f.text())) {
                    return false;
                }
                r.combination = *comb;
                r.item2 = *item;
                r.mode2 = *mode;
                hasSecond = true;
                break;
            }
            case '3':
                if (!takeNumber(f, kMaxSizeKB, r.sizeKB)) return false;
                break;
            case '5':
                if (!takeColour(f, r.colourCond)) return false;
                break;
            case '6':
                if (!takeNumber(f, kMaxBodyChars, r.bodyChars)) return false;
                break;
            case 'B': {
                const auto v = f.number(kAgeCount);
                if (!v || *v < 1) return false;
                r.olderThan = *v;
                break;
            }
            default:  // the flags: the tag and its 0x01
                if (!f.end()) return false;
                if (tag == '4') r.markCond = 1;
                if (tag == '7') r.bodyCountsControl = 1;
                if (tag == '8') r.noJapanese = 1;
                if (tag == '9') r.unreadCond = 1;
                if (tag == 'A') r.readCond = 1;
                break;
        }
    }
    // A second condition belongs to a first one.
    return !hasSecond || r.item1 != 0;
}

bool parseTabId(FieldReader& f, int32_t& out) {
    return takeNumber(f, kMaxTabId, out);
}

bool parseActions(RuleKind kind, std::string_view line, Rule& r, RuleTabIds& tabs) {
    FieldReader f(line);
    uint32_t seen = 0;
    while (!f.done()) {
        const char tag = f.tag();
        if (!firstTime(seen, tag)) return false;
        switch (tag) {
            case '1': {
                const auto how = f.digit();
                if (!how || !inRange(*how, 0, 2)) return false;
                r.moveOrCopy = *how;
                if (usesTemplate(kind)) {
                    if (!takeText(r.templateName, f.text(), false)) return false;
                } else if (!parseTabId(f, tabs.target)) {
                    return false;
                }
                break;
            }
            case '3':
                if (!takeColour(f, r.setColour)) return false;
                break;
            case '9':
                if (!takeText(r.replyTemplate, f.text(), false) || !parseTabId(f, tabs.reply)) {
                    return false;
                }
                break;
            case 'A': {
                const auto how = f.digit();
                if (!how || !inRange(*how, 1, kForwardKindCount) || !parseTabId(f, tabs.forward) ||
                    !takeText(r.forwardFrom, f.text(), true) ||
                    !takeText(r.forwardTo, f.text(), true)) {
                    return false;
                }
                r.forwardKind = *how;
                break;
            }
            case 'B': {
                const auto v = f.number(INT32_MAX);
                if (!v) return false;
                r.headLines = 1;
                r.headLineCount = *v;
                break;
            }
            default:
                if (!f.end()) return false;
                if (tag == '2') r.setMark = 1;
                if (tag == '4') r.deleteUnread = 1;
                if (tag == '5') r.leaveOnServer = 1;
                if (tag == '6') r.noDownload = 1;
                if (tag == '7') r.split = 1;
                if (tag == '8') r.setRead = 1;
                break;
        }
    }
    // The writer leaves out "delete" and "do not download" beside a move: a line holding both
    // would lose one of them when written back.
    const bool moves = tabs.target >= 0 || r.templateName[0] != '\0';
    return !(moves && (r.deleteUnread || r.noDownload));
}

bool allDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool parseHistory(std::string_view line, RuleDate today, RuleDate limit, Rule& r) {
    if (line.empty()) return true;
    if (line.size() < 6 || line.size() > 6 + kMaxCountChars || !allDigits(line)) return false;
    int64_t count = 0;
    for (const char c : line.substr(6))
        count = count * 10 + (c - '0');
    if (count > INT32_MAX) return false;
    r.appliedCount = static_cast<int32_t>(count);
    auto two = [&](size_t i) { return (line[i] - '0') * 10 + (line[i + 1] - '0'); };
    const RuleDate date{2000 + two(0), two(2), two(4)};
    std::string text = std::string(line.substr(0, 2)) + "/" + std::string(line.substr(2, 2)) + "/" +
                       std::string(line.substr(4, 2));
    std::string_view mark;
    if (date == today) mark = kAppliedToday;
    if (count == 0) mark = {};
    if (date < limit) mark = kAppliedStale;
    text += mark;
    sjis::copyField(r.lastApplied, text);
    return true;
}

bool hasBadByte(std::string_view s) {
    return s.find_first_of(std::string_view("\x01\r\n", 3)) != std::string_view::npos;
}

template <size_t N>
void clean(char (&field)[N]) {
    size_t out = 0;
    for (size_t i = 0; i < N && field[i] != '\0'; ++i) {
        if (field[i] != kFieldEnd && field[i] != '\r' && field[i] != '\n') field[out++] = field[i];
    }
    std::memset(field + out, 0, N - out);
}

void hexDigitTo(std::string& out, int32_t v) {
    out += "0123456789ABCDEF"[v & 15];
}

// The date of lastApplied as YYMMDD; nullopt when it is not "YY/MM/DD" with an optional mark.
std::optional<std::string> historyDate(std::string_view applied) {
    if (applied.size() < 8 || applied[2] != '/' || applied[5] != '/') return std::nullopt;
    const std::string digits = std::string(applied.substr(0, 2)) +
                               std::string(applied.substr(3, 2)) +
                               std::string(applied.substr(6, 2));
    const std::string_view mark = applied.substr(8);
    if (!allDigits(digits) || !(mark.empty() || mark == kAppliedToday || mark == kAppliedStale)) {
        return std::nullopt;
    }
    return digits;
}

}  // namespace

RuleDate ruleDateOf(const platform::LocalTime& t) {
    return {t.year, t.month, t.day};
}

RuleDate staleLimit(RuleDate today, int months) {
    months = std::clamp(months, 0, kMaxStaleMonths);
    const int total = today.year * 12 + (today.month - 1) - months;
    return {total / 12, total % 12 + 1, today.day};
}

void clearRule(Rule& rule) {
    std::memset(&rule, 0, sizeof rule);
}

bool hasCondition(const Rule& r) {
    return r.item1 != 0 || r.sizeKB != 0 || r.markCond != 0 || r.colourCond != 0 ||
           r.bodyChars != 0 || r.noJapanese != 0 || r.unreadCond != 0 || r.readCond != 0 ||
           r.olderThan != 0;
}

ParsedRule parseRule(RuleKind kind, std::string_view line1, std::string_view line2,
                     std::string_view line3, RuleDate today, RuleDate limit, Rule& out) {
    clearRule(out);
    ParsedRule p;
    if (!parseConditions(withoutCr(line1), out) ||
        !parseActions(kind, withoutCr(line2), out, p.tabs) ||
        !parseHistory(withoutCr(line3), today, limit, out)) {
        clearRule(out);
        p.state = RuleState::Unreadable;
        p.tabs = {};
        return p;
    }
    if (!hasCondition(out)) p.state = RuleState::NoCondition;
    return p;
}

void cleanRuleTexts(Rule& r) {
    clean(r.keyword1);
    clean(r.keyword2);
    clean(r.templateName);
    clean(r.replyTemplate);
    clean(r.forwardFrom);
    clean(r.forwardTo);
}

namespace {

// Whether the rule moves or copies: to a tab, or (the rule kinds of templates) by a template.
bool movesMessage(RuleKind kind, const Rule& r) {
    return usesTemplate(kind) ? r.templateName[0] != '\0' : r.targetTab != nullptr;
}

// A move without a valid way, or without a tab id, cannot be written.
bool badMove(RuleKind kind, const Rule& r, const RuleTabIds& tabs) {
    return movesMessage(kind, r) && (!inRange(r.moveOrCopy, 0, 2) ||
                                     (!usesTemplate(kind) && !inRange(tabs.target, 0, kMaxTabId)));
}

// A rule the file cannot hold: a byte that would break its lines, a number out of its range, a
// condition without its keyword, an action without its tab.
bool ruleFitsFile(RuleKind kind, const Rule& r, const RuleTabIds& tabs) {
    for (std::string_view t : {sjis::fieldView(r.keyword1), sjis::fieldView(r.keyword2),
                               sjis::fieldView(r.templateName), sjis::fieldView(r.replyTemplate),
                               sjis::fieldView(r.forwardFrom), sjis::fieldView(r.forwardTo)}) {
        if (hasBadByte(t)) return false;
    }
    if (!inRange(r.item1, 0, kItemCount) || !inRange(r.sizeKB, 0, kMaxSizeKB) ||
        !inRange(r.colourCond, 0, kColourCount) || !inRange(r.bodyChars, 0, kMaxBodyChars) ||
        !inRange(r.olderThan, 0, kAgeCount) || !inRange(r.setColour, 0, kColourCount) ||
        !inRange(r.forwardKind, 0, kForwardKindCount) || r.headLineCount < 0 ||
        r.appliedCount < 0) {
        return false;
    }
    if (r.item1 != 0 && (!inRange(r.mode1, 1, 2) || r.keyword1[0] == '\0')) return false;
    const bool second = r.item1 != 0 && r.combination != 0;
    if (second && (!inRange(r.combination, 1, 2) || !inRange(r.item2, 1, kItemCount) ||
                   !inRange(r.mode2, 1, 2) || r.keyword2[0] == '\0')) {
        return false;
    }
    if (badMove(kind, r, tabs)) return false;
    if (r.replyTemplate[0] != '\0' && !inRange(tabs.reply, 0, kMaxTabId)) return false;
    return r.forwardKind == 0 || inRange(tabs.forward, 0, kMaxTabId);
}

void addField(std::string& out, char tag, std::string_view value = {}) {
    out += tag;
    out += value;
    out += kFieldEnd;
}

void addHexField(std::string& out, char tag, int value) {
    std::string v;
    hexDigitTo(v, value);
    addField(out, tag, v);
}

// Line 1: the conditions.
void conditionLine(const Rule& r, std::string& out) {
    if (r.item1 != 0) {
        std::string v;
        hexDigitTo(v, r.item1);
        v += static_cast<char>('0' + r.mode1);
        v += sjis::fieldView(r.keyword1);
        addField(out, '1', v);
        if (r.combination != 0) {
            std::string w(1, static_cast<char>('0' + r.combination));
            hexDigitTo(w, r.item2);
            w += static_cast<char>('0' + r.mode2);
            w += sjis::fieldView(r.keyword2);
            addField(out, '2', w);
        }
    }
    if (r.sizeKB != 0) addField(out, '3', std::to_string(r.sizeKB));
    if (r.markCond) addField(out, '4');
    if (r.colourCond != 0) addHexField(out, '5', r.colourCond);
    if (r.bodyChars != 0) addField(out, '6', std::to_string(r.bodyChars));
    if (r.bodyCountsControl) addField(out, '7');
    if (r.noJapanese) addField(out, '8');
    if (r.unreadCond) addField(out, '9');
    if (r.readCond) addField(out, 'A');
    if (r.olderThan != 0) addField(out, 'B', std::to_string(r.olderThan));
    out += '\n';
}

// Line 2: the actions.
void actionLine(RuleKind kind, const Rule& r, const RuleTabIds& tabs, std::string& out) {
    if (movesMessage(kind, r)) {
        std::string v(1, static_cast<char>('0' + r.moveOrCopy));
        if (usesTemplate(kind)) {
            v += sjis::fieldView(r.templateName);
        } else {
            v += std::to_string(tabs.target);
        }
        addField(out, '1', v);
    } else {
        if (r.deleteUnread) addField(out, '4');
        if (r.noDownload) addField(out, '6');
    }
    if (r.setMark) addField(out, '2');
    if (r.setColour != 0) addHexField(out, '3', r.setColour);
    if (r.leaveOnServer) addField(out, '5');
    if (r.split) addField(out, '7');
    if (r.setRead) addField(out, '8');
    if (r.replyTemplate[0] != '\0') {
        std::string v(sjis::fieldView(r.replyTemplate));
        v += kFieldEnd;
        v += std::to_string(tabs.reply);
        addField(out, '9', v);
    }
    if (r.forwardKind != 0) {
        std::string v = std::to_string(r.forwardKind) + std::to_string(tabs.forward);
        v += kFieldEnd;
        v += sjis::fieldView(r.forwardFrom);
        v += kFieldEnd;
        v += sjis::fieldView(r.forwardTo);
        addField(out, 'A', v);
    }
    if (r.headLines) addField(out, 'B', std::to_string(r.headLineCount));
    out += '\n';
}

}  // namespace

Result<std::string> formatRule(RuleKind kind, const Rule& r, const RuleTabIds& tabs) {
    if (!ruleFitsFile(kind, r, tabs)) return Err::Invalid;
    std::optional<std::string> date;
    if (r.lastApplied[0] != '\0') {
        date = historyDate(sjis::fieldView(r.lastApplied));
        if (!date) return Err::Invalid;
    }
    std::string out;
    conditionLine(r, out);
    actionLine(kind, r, tabs, out);
    // Line 3: when the rule last matched, and how often.
    if (date) out += *date + std::to_string(r.appliedCount);
    out += '\n';
    return out;
}

}  // namespace kolvy::rules
