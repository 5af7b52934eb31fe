// The modeless view-script editor: moves values between its controls and EffectForm, edits the
// viewer's script list in place, rewrites the file and tells the viewer after each change.
#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "plugins/viewer-settings/brellin_win32.h"
#include "plugins/viewer-settings/control_ids.h"
#include "plugins/viewer-settings/script_logic.h"
#include "plugins/viewer-settings/settings_logic.h"

namespace kolvy::viewer {
namespace {

constexpr char kClass[] = "ViewScriptClass";
constexpr char kCaption[] = "ビュースクリプト";

struct Editor {
    HWND hwnd = nullptr;
    HWND owner = nullptr;
    ViewScriptNode* head = nullptr;
    std::string current;                 // the address of the message the viewer shows
    ViewScriptNode* selected = nullptr;  // node of the address list's selection; null: unsaved
    std::optional<uint32_t> textColour, backColour;  // chosen so far
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
};
Editor* g_editor = nullptr;

HWND item(Editor& e, int id) {
    return GetDlgItem(e.hwnd, id);
}
std::string textOf(HWND h) {
    std::string s(static_cast<size_t>(GetWindowTextLengthA(h)) + 1, '\0');
    s.resize(static_cast<size_t>(GetWindowTextA(h, s.data(), static_cast<int>(s.size()))));
    return s;
}
int info(Editor& e, const char* text, UINT flags = MB_OK) {
    return MessageBoxA(e.hwnd, text, kCaption, flags | MB_ICONINFORMATION);
}
int comboSel(Editor& e, int id) {
    return static_cast<int>(SendMessageA(item(e, id), CB_GETCURSEL, 0, 0));
}

void label(HWND h, const char* text, int x, int y, int w, int id = -1) {
    addControl(h, "STATIC", text, SS_LEFT, x, y + 3, w, 16, id);
}
void field(HWND h, int id, int y) {
    addControl(h, "EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, 108, y, 202, 22, id, WS_EX_CLIENTEDGE);
}
void push(HWND h, const char* text, int id, int x, int y, int w, DWORD extra = BS_PUSHBUTTON) {
    addControl(h, "BUTTON", text, extra | WS_TABSTOP, x, y, w, 24, id);
}

void createControls(HWND h) {
    label(h, "メールアドレス:", 10, 10, 96);
    addControl(h, "COMBOBOX", "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 108, 10,
               202, 200, kAddress);
    addControl(h, "STATIC", "", SS_ETCHEDHORZ, 10, 42, 300, 2, -1);
    label(h, "設定名:", 10, 52, 96);
    addControl(h, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 108, 52, 90, 240,
               kEffect);
    for (int i = 1; i <= kMaxEffects; ++i)
        SendMessageA(GetDlgItem(h, kEffect), CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(("設定" + std::to_string(i)).c_str()));
    push(h, "囲み", kBox, 20, 82, 80, BS_AUTORADIOBUTTON | WS_GROUP);
    push(h, "ハイライト", kHighlightChoice, 120, 82, 100, BS_AUTORADIOBUTTON);
    label(h, "効果開始行:", 10, 110, 96);
    field(h, kBeginLine, 110);
    label(h, "効果終了行:", 10, 136, 96);
    field(h, kEndLine, 136);
    label(h, "ハイライト:", 10, 162, 96, kHighlightLabel);
    field(h, kHighlight, 162);
    label(h, "フォントサイズ:", 10, 192, 96);
    addControl(h, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 108, 192, 60, 240,
               kSize);
    for (const char* s : kFontSizeLabels)
        SendMessageA(GetDlgItem(h, kSize), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    push(h, "太字", kBold, 176, 192, 54, BS_AUTOCHECKBOX);
    push(h, "イタリック", kItalic, 232, 192, 80, BS_AUTOCHECKBOX);
    label(h, "エッジタイプ:", 10, 222, 96);
    addControl(h, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_TABSTOP, 108, 222, 130, 120, kEdge);
    for (const char* s : {"四角形", "角の丸い四角形"})
        SendMessageA(GetDlgItem(h, kEdge), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
    push(h, "文字色", kTextColour, 10, 256, 96);
    push(h, "文字背景色", kBackColour, 10, 286, 96);
    addControl(h, "STATIC", "", SS_OWNERDRAW, 110, 254, 200, 58, kSample);
    push(h, "アドレスの削除(&E)", kDeleteAddress, 10, 322, 130);
    push(h, "設定の削除(&D)", kDeleteEffect, 146, 322, 120);
    push(h, "?", kHelp, 272, 322, 38);
    push(h, "登録・変更(&R)", kRegister, 100, 354, 110, BS_DEFPUSHBUTTON);
    push(h, "閉じる(&X)", kClose, 216, 354, 94);
}

// 囲み: start and end line; ハイライト: the highlight text.
void setChoice(Editor& e, bool box) {
    CheckRadioButton(e.hwnd, kBox, kHighlightChoice, box ? kBox : kHighlightChoice);
    EnableWindow(item(e, kBeginLine), box);
    EnableWindow(item(e, kEndLine), box);
    EnableWindow(item(e, kHighlight), !box);
    EnableWindow(item(e, kHighlightLabel), !box);
}

void showForm(Editor& e, const EffectForm& f) {
    SetWindowTextA(item(e, kBeginLine), f.beginLine.c_str());
    SetWindowTextA(item(e, kEndLine), f.endLine.c_str());
    SetWindowTextA(item(e, kHighlight), f.highlight.c_str());
    SendMessageA(item(e, kSize), CB_SETCURSEL, static_cast<WPARAM>(f.fontSizeIndex), 0);
    CheckDlgButton(e.hwnd, kBold, f.bold ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(e.hwnd, kItalic, f.italic ? BST_CHECKED : BST_UNCHECKED);
    SendMessageA(item(e, kEdge), CB_SETCURSEL, static_cast<WPARAM>(f.edgeType), 0);
    e.textColour = f.textColor;
    e.backColour = f.textBkColor;
    setChoice(e, !f.beginLine.empty() || f.highlight.empty());
    InvalidateRect(item(e, kSample), nullptr, TRUE);
}

EffectForm readForm(Editor& e) {
    EffectForm f;
    f.address = std::string(sjis::truncate(textOf(item(e, kAddress)), kViewTextSize - 1));
    f.beginLine = textOf(item(e, kBeginLine));
    f.endLine = textOf(item(e, kEndLine));
    f.highlight = textOf(item(e, kHighlight));
    f.fontSizeIndex = std::max(0, comboSel(e, kSize));
    f.bold = IsDlgButtonChecked(e.hwnd, kBold) == BST_CHECKED;
    f.italic = IsDlgButtonChecked(e.hwnd, kItalic) == BST_CHECKED;
    f.edgeType = std::max(0, comboSel(e, kEdge));
    f.textColor = e.textColour;
    f.textBkColor = e.backColour;
    return f;
}

// The selected address's effect of the "設定名" selection, or an empty form for a new one.
void loadEffect(Editor& e, int index) {
    SendMessageA(item(e, kEffect), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ViewEffect* effect = e.selected ? effectAt(*e.selected, index) : nullptr;
    showForm(e, effect ? formOf(*effect) : EffectForm{});
}

// The address list: every script's address, then one unsaved entry (the current address when
// it has no script yet).
void fillAddresses(Editor& e, int select) {
    HWND c = item(e, kAddress);
    SendMessageA(c, CB_RESETCONTENT, 0, 0);
    int count = 0;
    for (ViewScriptNode* n = e.head->next; n; n = n->next, ++count) {
        const std::string a(sjis::fieldView(n->address));
        SendMessageA(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(a.c_str()));
    }
    const bool hasScript = findScript(*e.head, e.current) != nullptr;
    SendMessageA(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(hasScript ? "" : e.current.c_str()));
    if (select < 0 || select > count) select = count;
    SendMessageA(c, CB_SETCURSEL, static_cast<WPARAM>(select), 0);
    ViewScriptNode* n = e.head->next;
    for (int i = 0; n && i < select; ++i)
        n = n->next;
    e.selected = select < count ? n : nullptr;
}

int indexOf(Editor& e, const ViewScriptNode* node) {
    int i = 0;
    for (ViewScriptNode* n = e.head->next; n; n = n->next, ++i)
        if (n == node) return i;
    return -1;
}

void save(Editor& e, ViewScriptNode* changed) {
    const std::string folder = host().folder + "\\" + kScriptFolder;
    switch (saveScriptFile(*e.fs, folder, formatScripts(*e.head))) {
        case SaveFailure::Open:
            MessageBoxA(e.hwnd, "ビュースクリプトファイルが開けませんでした。   ", kCaption,
                        MB_OK | MB_ICONEXCLAMATION);
            return;
        case SaveFailure::Write:
            MessageBoxA(e.hwnd, "書き込みに失敗しました。   ", kCaption,
                        MB_OK | MB_ICONEXCLAMATION);
            return;
        case SaveFailure::None:
            break;
    }
    if (changed && host().reRead) host().reRead(changed);
}

void focusFor(Editor& e, Focus f) {
    const int id = f == Focus::Address                    ? kAddress
                   : f == Focus::Colour                   ? kTextColour
                   : IsWindowEnabled(item(e, kBeginLine)) ? kBeginLine
                                                          : kHighlight;
    SetFocus(item(e, id));
}

void onRegister(Editor& e) {
    const EffectForm f = readForm(e);
    const RegisterCheck c = checkRegister(f, *e.head, e.selected);
    if (c.message) {
        info(e, c.message);
        focusFor(e, c.focus);
        return;
    }
    if (c.askRename && info(e, "アドレスが変更されています。よろしいですか？    ",
                            MB_OKCANCEL | MB_DEFBUTTON2) != IDOK)
        return;
    ViewScriptNode* node = e.selected;
    if (!node) {
        if (!(node = viewerNew<ViewScriptNode>())) return;
        listAppend(*e.head, node);
    }
    sjis::copyField(node->address, f.address);
    const int index = std::max(0, comboSel(e, kEffect));
    ViewEffect* effect = effectAt(*node, index);
    if (!effect) {
        if (!(effect = viewerNew<ViewEffect>())) return;
        effect->topBottomPad = 2;
        effect->leftRightPad = 3;
        listAppend(node->effects, effect);
    }
    applyForm(f, *effect);
    fillAddresses(e, indexOf(e, node));
    loadEffect(e, std::min(effectCount(*node) - 1, index));
    save(e, node);
}

void onDeleteAddress(Editor& e) {
    if (!e.selected) {
        info(e, textOf(item(e, kAddress)).empty()
                    ? "削除するアドレスがありません。   "
                    : "このアドレスについてのビュースクリプトはまだ作成されていません。   ");
        return;
    }
    if (info(e, "このアドレスについての設定をすべて削除しますか？    ",
             MB_OKCANCEL | MB_DEFBUTTON2) != IDOK)
        return;
    listUnlink(*e.head, e.selected);
    freeEffects(*e.selected);
    viewerDelete(e.selected);
    fillAddresses(e, 0);
    loadEffect(e, 0);
    save(e, nullptr);
}

void onDeleteEffect(Editor& e) {
    const int index = comboSel(e, kEffect);
    ViewEffect* effect = e.selected ? effectAt(*e.selected, index) : nullptr;
    if (!effect) {
        info(e, "登録された設定がないか、選択されていません。   ");
        return;
    }
    if (info(e, "この設定を削除しますか？    ", MB_OKCANCEL | MB_DEFBUTTON2) != IDOK) return;
    listUnlink(e.selected->effects, effect);
    viewerDelete(effect);
    loadEffect(e, 0);
    save(e, e.selected);
}

void chooseColour(Editor& e, bool text) {
    auto ini = platform::makeProfile(host().iniPath);
    std::array<uint32_t, 16> custom = readCustomColours(*ini);
    COLORREF cust[16];
    for (int i = 0; i < 16; ++i)
        cust[i] = custom[i];
    std::optional<uint32_t>& target = text ? e.textColour : e.backColour;
    CHOOSECOLORA cc{};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = e.hwnd;
    cc.rgbResult = target.value_or(GetSysColor(COLOR_BTNFACE));
    cc.lpCustColors = cust;
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    const bool chosen = ChooseColorA(&cc) != FALSE;
    for (int i = 0; i < 16; ++i)
        custom[i] = cust[i];
    writeCustomColours(*ini, custom);
    if (!chosen) return;
    target = cc.rgbResult;
    InvalidateRect(item(e, kSample), nullptr, TRUE);
}

void drawSample(Editor& e, const DRAWITEMSTRUCT& di) {
    const EffectForm f = readForm(e);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    FillRect(di.hDC, &di.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    HBRUSH bk = CreateSolidBrush(f.textBkColor.value_or(face));
    HGDIOBJ oldBrush = SelectObject(di.hDC, bk);
    RECT r = di.rcItem;
    InflateRect(&r, -4, -8);
    if (f.edgeType == 1) {
        RoundRect(di.hDC, r.left, r.top, r.right, r.bottom, 12, 12);
    } else {
        Rectangle(di.hDC, r.left, r.top, r.right, r.bottom);
    }
    HFONT font = CreateFontA(-kFontSizeValues[f.fontSizeIndex], 0, 0, 0, f.bold ? FW_BOLD : 0,
                             f.italic, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0, "ＭＳ Ｐゴシック");
    HGDIOBJ oldFont = SelectObject(di.hDC, font);
    SetBkMode(di.hDC, TRANSPARENT);
    SetTextColor(di.hDC, f.textColor.value_or(GetSysColor(COLOR_BTNTEXT)));
    DrawTextA(di.hDC, "ビュースクリプト", -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(di.hDC, oldFont);
    SelectObject(di.hDC, oldBrush);
    DeleteObject(font);
    DeleteObject(bk);
}

void closeEditor(Editor& e) {
    if (e.owner) SetWindowPos(e.owner, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    DestroyWindow(e.hwnd);
}

void onCommand(Editor& e, int id, int code) {
    switch (id) {
        case kAddress:
            if (code == CBN_SELCHANGE) {
                fillAddresses(e, comboSel(e, kAddress));
                loadEffect(e, 0);
            }
            break;
        case kEffect:
            if (code == CBN_SELCHANGE) loadEffect(e, comboSel(e, kEffect));
            break;
        case kBox:
        case kHighlightChoice:
            setChoice(e, id == kBox);
            break;
        case kSize:
        case kEdge:
        case kBold:
        case kItalic:
            InvalidateRect(item(e, kSample), nullptr, TRUE);
            break;
        case kTextColour:
        case kBackColour:
            chooseColour(e, id == kTextColour);
            break;
        case kRegister:
            onRegister(e);
            break;
        case kDeleteAddress:
            onDeleteAddress(e);
            break;
        case kDeleteEffect:
            onDeleteEffect(e);
            break;
        case kHelp:
            WinHelpA(e.hwnd, "Pivra.hlp", HELP_CONTEXT, 63);
            break;
        case kClose:
        case IDCANCEL:
            closeEditor(e);
            break;
        default:
            break;
    }
}

LRESULT CALLBACK editorProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Editor* e = g_editor && g_editor->hwnd == h ? g_editor : nullptr;
    switch (msg) {
        case WM_COMMAND:
            if (e) onCommand(*e, LOWORD(wp), HIWORD(wp));
            return 0;
        case WM_DRAWITEM:
            if (e && wp == kSample) drawSample(*e, *reinterpret_cast<DRAWITEMSTRUCT*>(lp));
            return TRUE;
        case WM_CLOSE:
            if (e) closeEditor(*e);
            return 0;
        case WM_DESTROY:
            if (e) {
                if (e->owner) SetForegroundWindow(e->owner);
                delete g_editor;
                g_editor = nullptr;
            }
            return 0;
        default:
            return DefWindowProcA(h, msg, wp, lp);
    }
}

bool registerClass() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = editorProc;
    wc.hInstance = host().self;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND openScriptEditor(HWND owner, const char* address, ViewScriptNode* scripts) {
    if (g_editor) {  // one editor at a time: show the open one the new address
        SetForegroundWindow(g_editor->hwnd);
        selectScript(address);
        return g_editor->hwnd;
    }
    if (!registerClass()) return nullptr;
    platform::makeDirs(*platform::makeFileSystem(), host().folder + "\\" + kScriptFolder);
    auto e = std::make_unique<Editor>();
    e->owner = owner;
    e->head = scripts;
    e->current = std::string(sjis::truncate(address, kViewTextSize - 1));
    const int height = 385 + GetSystemMetrics(SM_CYCAPTION);
    HWND h = CreateWindowExA(WS_EX_DLGMODALFRAME, kClass, "設定－ビュースクリプト",
                             WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 329,
                             height, owner, nullptr, host().self, nullptr);
    if (!h) return nullptr;
    e->hwnd = h;
    placeOver(h, owner, 329, height);
    g_editor = e.release();
    createControls(h);
    // Nothing longer than the viewer's fields can be typed.
    SendMessageA(GetDlgItem(h, kAddress), CB_LIMITTEXT, kViewTextSize - 1, 0);
    for (int id : {int{kBeginLine}, int{kEndLine}, int{kHighlight}})
        SendMessageA(GetDlgItem(h, id), EM_LIMITTEXT, kViewTextSize - 1, 0);
    ViewScriptNode* mine = findScript(*scripts, g_editor->current);
    fillAddresses(*g_editor, mine ? indexOf(*g_editor, mine) : -1);
    loadEffect(*g_editor, 0);
    ShowWindow(h, SW_SHOW);
    return h;
}

void selectScript(const char* address) {
    if (!g_editor) return;
    Editor& e = *g_editor;
    const std::string_view a = sjis::truncate(address, kViewTextSize - 1);
    if (ViewScriptNode* n = findScript(*e.head, a)) {
        fillAddresses(e, indexOf(e, n));
    } else {
        e.current = std::string(a);
        fillAddresses(e, -1);
    }
    loadEffect(e, 0);
}

}  // namespace kolvy::viewer
