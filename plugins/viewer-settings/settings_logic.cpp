#include "plugins/viewer-settings/settings_logic.h"

#include <algorithm>

#include "core/list.h"
#include "core/sjis.h"

namespace kolvy::viewer {

namespace {
constexpr int kShift = 1000;
constexpr int kCtrl = 2000;
constexpr int kVkDelete = 46;
constexpr int kVkF1 = 112;
constexpr int kVkF12 = 123;
}  // namespace

const std::array<int, kShortcutCount> kStandardKeys = {
    'Q',       kVkF1,     'N', 'P', kShift + 'N', kShift + 'P',
    kVkF1 + 2, kVkF1 + 1, 'H', 'S', kVkDelete,    kShift + kVkDelete};
const std::array<const char*, kShortcutCount> kActionNames = {
    "ショートカット表示", "ヘルプ",         "次のメール", "前のメール",
    "次の未読メール",     "前の未読メール", "次のタブ",   "前のタブ",
    "ヘッダ表示切替",     "設定",           "削除",       "完全に削除"};
const std::array<const char*, kFontSizeCount> kFontSizeLabels = {
    "8", "9", "9.5", "10", "10.5", "11", "12", "14", "16", "18", "20"};
const std::array<int, kFontSizeCount> kFontSizeValues = {8, 9, 9, 10, 10, 11, 12, 14, 16, 18, 20};
const std::array<const char*, kTitleFieldCount> kTitleKeys = {
    "T_MailNo",        "T_AllMailCount", "T_NoReadMailCount", "T_NewMailCount", "T_WaitMailCount",
    "T_EditMailCount", "T_NewMark",      "T_NoRead_Read",     "T_TabName",      "T_Title"};
const std::array<const char*, kTitleFieldCount> kTitleLabels = {
    "メール番号",       "メール総数",       "未読メール数",    "新着メール数",
    "送信待ちメール数", "書きかけメール数", "新着マーク（●）", "未読/既読マーク（■/□）",
    "タブ名",           "タイトル"};
const std::array<const char*, kGeneralCount> kGeneralKeys = {
    "HtmlDispy", "PositionFix", "NoDoubleWindow", "FixHeaderView", "AutoReturn"};
const std::array<const char*, kGeneralCount> kGeneralLabels = {
    "HTMLメールを簡易表示する", "前回終了した時と同じ位置で起動させる", "２重起動を禁止する",
    "前回のヘッダ表示を維持する", "本文をウインドウ幅で折り返す"};

int fontSizeIndex(int size, int fallbackIndex) {
    // The first entry with the value is the whole size ("10" before "10.5").
    for (int i = 0; i < kFontSizeCount; ++i)
        if (kFontSizeValues[i] == size) return i;
    return fallbackIndex;
}

int shortcutCode(unsigned virtualKey, bool shift, bool ctrl) {
    const bool usable = (virtualKey >= 46 && virtualKey <= 90) || virtualKey == 92 ||
                        (virtualKey >= 94 && virtualKey <= 123);
    if (!usable) return 0;
    const int vk = static_cast<int>(virtualKey);
    if (ctrl) return vk + kCtrl;
    if (shift) return vk + kShift;
    return vk;
}

std::string keyText(int code) {
    std::string text;
    if (code >= kCtrl) {
        text = "Ctrl+";
        code -= kCtrl;
    } else if (code >= kShift) {
        text = "Shift+";
        code -= kShift;
    }
    if (code == kVkDelete) return text + "Delete";
    if (code >= kVkF1 && code <= kVkF12) return text + "F" + std::to_string(code - kVkF1 + 1);
    // Anything else is shown as the character of its code; a code no character stands for shows
    // nothing rather than a control byte.
    if (code >= 0x20 && code < 0x7F) text.push_back(static_cast<char>(code));
    return text;
}

std::string formatShortcuts(std::span<const int> codes) {
    std::string out;
    for (size_t i = 0; i < codes.size(); ++i) {
        if (i) out += ';';
        int c = codes[i];
        if (c >= kCtrl) {
            out += 'C';
            c -= kCtrl;
        } else if (c >= kShift) {
            out += 'S';
            c -= kShift;
        }
        out += std::to_string(c);
    }
    return out;
}

std::vector<int> parseShortcuts(std::string_view value) {
    std::vector<int> codes;
    size_t pos = 0;
    while (codes.size() < static_cast<size_t>(kShortcutCount) && pos <= value.size()) {
        const size_t end = std::min(value.find(';', pos), value.size());
        std::string_view item = value.substr(pos, end - pos);
        int add = 0;
        if (!item.empty() && (item[0] == 'C' || item[0] == 'c')) add = kCtrl;
        if (!item.empty() && (item[0] == 'S' || item[0] == 's')) add = kShift;
        if (add) item.remove_prefix(1);
        const auto n = platform::parseNumber(item);
        codes.push_back(n && *n > 0 && *n < kShift ? static_cast<int>(*n) + add : 0);
        pos = end + 1;
    }
    return codes;
}

int firstDuplicate(std::span<const int> codes) {
    for (size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] == 0) continue;
        for (size_t j = i + 1; j < codes.size(); ++j)
            if (codes[j] == codes[i]) return static_cast<int>(i);
    }
    return -1;
}

std::string duplicateMessage(int code) {
    return "キーが重複している場合、並び順の上のキーが優先され    \n下のキーは無視されます\n\n"
           "重複しているキー「 " +
           keyText(code) + " 」";
}

std::vector<std::string> headerLines(std::string_view boxText) {
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos < boxText.size()) {
        size_t end = boxText.find('\n', pos);
        if (end == std::string_view::npos) end = boxText.size();
        std::string_view line = boxText.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // A ';' would split the name when the viewer reads the joined value back.
        std::string name;
        for (size_t i = 0; i < line.size(); i += sjis::charLen(line, i)) {
            if (line[i] != ';') name.append(line.substr(i, sjis::charLen(line, i)));
        }
        name = std::string(sjis::truncate(name, kViewTextSize - 1));
        if (!name.empty()) names.push_back(std::move(name));
        pos = end + 1;
    }
    return names;
}

std::string headerBoxText(const CustomHeaderNode& head) {
    std::string text;
    for (const CustomHeaderNode* n = head.next; n; n = n->next) {
        if (!text.empty()) text += "\r\n";
        text += sjis::fieldView(n->name);
    }
    return text;
}

std::string joinHeaders(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) {
        if (!out.empty()) out += ';';
        out += n;
    }
    return out;
}

std::vector<std::string> splitHeaders(std::string_view value) {
    std::string box;
    for (char c : value)
        box += c == ';' ? '\n' : c;
    return headerLines(box);
}

void freeHeaders(CustomHeaderNode& head) {
    CustomHeaderNode* p = head.next;
    while (p) {
        CustomHeaderNode* next = p->next;
        viewerDelete(p);
        p = next;
    }
    head.next = nullptr;
    head.prev = nullptr;
}

bool rebuildHeaders(CustomHeaderNode& head, const std::vector<std::string>& names) {
    freeHeaders(head);
    for (const auto& name : names) {
        auto* node = viewerNew<CustomHeaderNode>();
        if (!node) return false;
        sjis::copyField(node->name, name);
        listAppend(head, node);
    }
    return true;
}

SettingsValues valuesFromRecord(const ViewerSettings& r) {
    SettingsValues v;
    v.fontSizeIndex = fontSizeIndex(r.fontSize, 7);
    v.fontFace = std::string(sjis::fieldView(r.fontFace));
    v.spaceBar = std::clamp(r.spaceBar, 0, 49);
    v.lineDown = std::clamp(r.lineDown, 1, 49);
    v.readOnUnreadJump = r.statusChangeTiming1 != 0;
    v.readAfterTime = r.statusChangeTiming2 != 0;
    v.readSeconds = std::clamp(r.statusChangeTime, 1, 20);
    v.readOnOpen = r.statusChangeTiming3 != 0;
    const int32_t general[kGeneralCount] = {r.htmlDisplay, r.positionFix, r.noDoubleWindow,
                                            r.fixHeaderView, r.autoReturn};
    for (int i = 0; i < kGeneralCount; ++i)
        v.general[i] = general[i] != 0;
    for (int i = 0; i < kTitleFieldCount; ++i)
        v.title[i] = r.title[i] != 0;
    return v;
}

namespace {
// PositionFix and NoDoubleWindow belong to the viewer's own window, which the reduced dialog
// does not configure.
bool reducedSkips(int general) {
    return general == 1 || general == 2;
}
int32_t* generalField(ViewerSettings& r, int i) {
    int32_t* fields[kGeneralCount] = {&r.htmlDisplay, &r.positionFix, &r.noDoubleWindow,
                                      &r.fixHeaderView, &r.autoReturn};
    return fields[i];
}
}  // namespace

void storeValues(const SettingsValues& v, Mode mode, ViewerSettings& r) {
    const int index = std::clamp(v.fontSizeIndex, 0, kFontSizeCount - 1);
    r.fontSize = kFontSizeValues[index];
    sjis::copyBounded(r.fontFace, kViewerFaceMax + 1, v.fontFace);
    r.spaceBar = v.spaceBar;
    r.lineDown = v.lineDown;
    r.statusChangeTiming1 = v.readOnUnreadJump;
    r.statusChangeTiming2 = v.readAfterTime;
    r.statusChangeTime = v.readSeconds;
    r.statusChangeTiming3 = v.readOnOpen;
    for (int i = 0; i < kGeneralCount; ++i)
        if (mode == Mode::Full || !reducedSkips(i)) *generalField(r, i) = v.general[i];
    if (mode == Mode::Full)
        for (int i = 0; i < kTitleFieldCount; ++i)
            r.title[i] = v.title[i];
}

Err writeValues(platform::Profile& ini, const SettingsValues& v, Mode mode) {
    Err first = Err::None;
    auto put = [&](const char* key, std::string_view value) {
        const Err e = ini.write(kOmbrelSection, key, value);
        if (first == Err::None) first = e;
    };
    auto num = [&](const char* key, int value) { put(key, std::to_string(value)); };
    num("SpaceBar", v.spaceBar);
    num("LineDown", v.lineDown);
    num("FontSize", kFontSizeValues[std::clamp(v.fontSizeIndex, 0, kFontSizeCount - 1)]);
    put("FontType", sjis::truncate(v.fontFace, kViewerFaceMax));
    num("StatusChangeTiming1", v.readOnUnreadJump);
    num("StatusChangeTiming2", v.readAfterTime);
    num("StatusChangeTime", v.readSeconds);
    num("StatusChangeTiming3", v.readOnOpen);
    for (int i = 0; i < kGeneralCount; ++i)
        if (mode == Mode::Full || !reducedSkips(i)) num(kGeneralKeys[i], v.general[i]);
    if (mode == Mode::Full)
        for (int i = 0; i < kTitleFieldCount; ++i)
            put(kTitleKeys[i], v.title[i] ? "1" : "0");
    return first;
}

Err commitShortcuts(platform::Profile& ini, ShortcutNode& head, std::vector<int>& codes_out) {
    codes_out.clear();
    for (ShortcutNode* n = head.next; n && codes_out.size() < kShortcutCount; n = n->next) {
        if (n->pending) n->key = n->pending;
        n->pending = 0;
        codes_out.push_back(n->key);
    }
    return ini.write(kOmbrelSection, "ShortCut", formatShortcuts(codes_out));
}

}  // namespace kolvy::viewer
