#include "plugins/viewer-settings/script_logic.h"

#include <algorithm>
#include <cstdio>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "plugins/viewer-settings/settings_logic.h"

namespace kolvy::viewer {

namespace {

// A field as one line of the file: a CR or LF in a text the viewer handed over would start a
// new line that the reader takes for a key of its own.
template <size_t N>
std::string_view lineOf(const char (&field)[N]) {
    std::string_view v = sjis::fieldView(field);
    return v.substr(0, std::min(v.find('\r'), v.find('\n')));
}

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(v));
    return buf;
}

void formatEffect(const ViewEffect& e, std::string& out) {
    const int size = e.fontSize == 0 ? 14 : e.fontSize;
    out += "BeginLine:";
    out += lineOf(e.beginLine);
    out += "\r\nEndLine:";
    out += lineOf(e.endLine);
    out += "\r\nString:";
    out += lineOf(e.highlight);
    out += "\r\nSize:" + std::to_string(size);
    out += "\r\nBold:" + std::to_string(e.bold);
    out += "\r\nItalic:" + std::to_string(e.italic);
    out += "\r\nTextColor:" + hex(e.textColor);
    out += "\r\nTxtBkColor:" + hex(e.textBkColor);
    out += e.edgeType == 1 ? "\r\nEdgeType:RoundRectangle" : "\r\nEdgeType:Rectangle";
    out += "\r\nTop_BottomPad:" + std::to_string(e.topBottomPad);
    out += "\r\nLeft_RightPad:" + std::to_string(e.leftRightPad);
    out += "\r\n\r\n";
}

int clampedNumber(std::string_view v, int lo, int hi, int def) {
    const auto n = platform::parseNumber(v);
    if (!n) return def;
    return static_cast<int>(std::clamp<int64_t>(*n, lo, hi));
}
uint32_t colour(std::string_view v) {
    const auto n = platform::parseNumber(v);
    return n ? static_cast<uint32_t>(std::clamp<int64_t>(*n, 0, 0xFFFFFF)) : 0;
}

// One "Key:value" line of an effect; false when the key is not an effect key.
bool setEffectField(ViewEffect& e, std::string_view key, std::string_view v) {
    if (key == "BeginLine") {
        sjis::copyField(e.beginLine, v);
    } else if (key == "EndLine") {
        sjis::copyField(e.endLine, v);
    } else if (key == "String") {
        sjis::copyField(e.highlight, v);
    } else if (key == "Size") {
        e.fontSize = kFontSizeValues[fontSizeIndex(clampedNumber(v, 0, 99, 14), kDefaultFontIndex)];
    } else if (key == "Bold") {
        e.bold = clampedNumber(v, 0, 1, 0);
    } else if (key == "Italic") {
        e.italic = clampedNumber(v, 0, 1, 0);
    } else if (key == "TextColor") {
        e.textColor = colour(v);
    } else if (key == "TxtBkColor") {
        e.textBkColor = colour(v);
    } else if (key == "EdgeType") {
        e.edgeType = v == "RoundRectangle" ? 1 : 0;
    } else if (key == "Top_BottomPad") {
        e.topBottomPad = clampedNumber(v, 0, 100, 2);
    } else if (key == "Left_RightPad") {
        e.leftRightPad = clampedNumber(v, 0, 100, 3);
    } else {
        return false;
    }
    return true;
}

ViewEffect* newEffect(ViewScriptNode& node) {
    auto* e = viewerNew<ViewEffect>();
    if (!e) return nullptr;
    e->topBottomPad = 2;
    e->leftRightPad = 3;
    e->fontSize = 14;
    e->textBkColor = kWhite;
    listAppend(node.effects, e);
    return e;
}

}  // namespace

std::string formatScripts(const ViewScriptNode& head) {
    std::string out;
    for (const ViewScriptNode* n = head.next; n; n = n->next) {
        out += "Address:";
        out += lineOf(n->address);
        out += "\r\n\r\nViewBkColor:" + hex(n->viewBkColor ? n->viewBkColor : kWhite) + "\r\n\r\n";
        for (const ViewEffect* e = n->effects.next; e; e = e->next)
            formatEffect(*e, out);
    }
    return out;
}

bool parseScripts(std::string_view text, ViewScriptNode& head) {
    ViewScriptNode* node = nullptr;
    ViewEffect* effect = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, colon), value = line.substr(colon + 1);
        if (key == "Address") {
            node = viewerNew<ViewScriptNode>();
            if (!node) return false;
            sjis::copyField(node->address, value);
            listAppend(head, node);
            effect = nullptr;
        } else if (!node) {
            continue;  // nothing before the first address belongs anywhere
        } else if (key == "ViewBkColor") {
            node->viewBkColor = colour(value);
        } else {
            // BeginLine opens each effect; an effect field without one opens it too.
            ViewEffect probe{};
            if (!setEffectField(probe, key, value)) continue;
            if (key == "BeginLine" || !effect) {
                effect = newEffect(*node);
                if (!effect) return false;
            }
            setEffectField(*effect, key, value);
        }
    }
    return true;
}

void freeEffects(ViewScriptNode& node) {
    ViewEffect* p = node.effects.next;
    while (p) {
        ViewEffect* next = p->next;
        viewerDelete(p);
        p = next;
    }
    node.effects.next = nullptr;
    node.effects.prev = nullptr;
}

void freeScripts(ViewScriptNode& head) {
    ViewScriptNode* p = head.next;
    while (p) {
        ViewScriptNode* next = p->next;
        freeEffects(*p);
        viewerDelete(p);
        p = next;
    }
    head.next = nullptr;
    head.prev = nullptr;
}

ViewScriptNode* findScript(ViewScriptNode& head, std::string_view address) {
    for (ViewScriptNode* n = head.next; n; n = n->next)
        if (sjis::equalsNoCaseAscii(sjis::fieldView(n->address), address)) return n;
    return nullptr;
}

int effectCount(const ViewScriptNode& node) {
    int n = 0;
    for (const ViewEffect* e = node.effects.next; e; e = e->next)
        ++n;
    return n;
}

ViewEffect* effectAt(ViewScriptNode& node, int index) {
    ViewEffect* e = node.effects.next;
    for (int i = 0; e && i < index; ++i)
        e = e->next;
    return index < 0 ? nullptr : e;
}

SaveFailure saveScriptFile(platform::FileSystem& fs, std::string_view folder,
                           std::string_view text) {
    const std::string file = sjis::joinPath(folder, kScriptFile);
    const std::string temp = sjis::joinPath(folder, kScriptTemp);
    const Err e = platform::replaceFileContents(fs, file, temp, text);
    if (e == Err::NotFound || e == Err::Access || e == Err::Exists || e == Err::Invalid)
        return SaveFailure::Open;
    if (e != Err::None) return SaveFailure::Write;
    // Only once the new file is in place: anything else in the folder is left over.
    if (auto entries = fs.list(folder)) {
        for (const auto& entry : *entries) {
            if (entry.isDir || sjis::equalsNoCaseAscii(entry.name, kScriptFile)) continue;
            fs.remove(sjis::joinPath(folder, entry.name));
        }
    }
    return SaveFailure::None;
}

RegisterCheck checkRegister(const EffectForm& f, ViewScriptNode& head,
                            const ViewScriptNode* selected) {
    if (f.address.empty()) return {"「アドレス」が記入されていません。   ", Focus::Address};
    const bool lines = !f.beginLine.empty() || !f.endLine.empty();
    if (lines && !f.highlight.empty())
        return {
            "「開始行文字列」「終了行文字列」と「選択文字列」は同時に設定できません。"
            "設定を分けてください。   ",
            Focus::Texts};
    if (!f.endLine.empty() && f.beginLine.empty())
        return {"「終了行文字列」のみの設定はできません。   ", Focus::Texts};
    if (!lines && f.highlight.empty()) return {"記入されていない項目があります。   ", Focus::Texts};
    if (!f.textColor && !f.textBkColor) return {"色が設定されていません。   ", Focus::Colour};
    const ViewScriptNode* same = findScript(head, f.address);
    if (same && same != selected) return {"同一のアドレスが存在します。    ", Focus::Address};
    RegisterCheck ok;
    ok.askRename = selected && sjis::fieldView(selected->address) != f.address;
    return ok;
}

EffectForm formOf(const ViewEffect& e) {
    EffectForm f;
    f.beginLine = std::string(sjis::fieldView(e.beginLine));
    f.endLine = std::string(sjis::fieldView(e.endLine));
    f.highlight = std::string(sjis::fieldView(e.highlight));
    f.fontSizeIndex = fontSizeIndex(e.fontSize == 0 ? 14 : e.fontSize, kDefaultFontIndex);
    f.bold = e.bold != 0;
    f.italic = e.italic != 0;
    f.edgeType = e.edgeType == 1 ? 1 : 0;
    f.textColor = e.textColor;
    f.textBkColor = e.textBkColor;
    return f;
}

void applyForm(const EffectForm& f, ViewEffect& e) {
    e.textColor = f.textColor.value_or(0);
    e.textBkColor = f.textBkColor.value_or(kWhite);
    sjis::copyField(e.beginLine, f.beginLine);
    sjis::copyField(e.endLine, f.endLine);
    sjis::copyField(e.highlight, f.highlight);
    e.edgeType = f.edgeType == 1 ? 1 : 0;
    e.fontSize = kFontSizeValues[std::clamp(f.fontSizeIndex, 0, kFontSizeCount - 1)];
    e.bold = f.bold;
    e.italic = f.italic;
}

std::array<uint32_t, 16> readCustomColours(platform::Profile& ini) {
    std::array<uint32_t, 16> colours{};
    for (int i = 0; i < 16; ++i) {
        const int64_t v = platform::readInt(ini, "CustColors", std::to_string(i), kWhite);
        colours[i] = static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 0xFFFFFF));
    }
    return colours;
}

Err writeCustomColours(platform::Profile& ini, const std::array<uint32_t, 16>& colours) {
    Err first = Err::None;
    for (int i = 0; i < 16; ++i) {
        const Err e = platform::writeHex(ini, "CustColors", std::to_string(i), colours[i]);
        if (first == Err::None) first = e;
    }
    return first;
}

}  // namespace kolvy::viewer
