// The viewer settings dialog: moves values between its controls and SettingsValues; what the
// values mean and how they are stored lives in settings_logic.
#include <windows.h>

#include <commctrl.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/sjis.h"
#include "plugins/viewer-settings/brellin_win32.h"
#include "plugins/viewer-settings/control_ids.h"
#include "plugins/viewer-settings/settings_logic.h"

namespace kolvy::viewer {
namespace {

// Client size in pixels.
constexpr int kWidth = 700;
constexpr int kHeight = 440;

struct SettingsDialog {
    ViewerSettings* record = nullptr;
    ShortcutNode* shortcutHead = nullptr;
    CustomHeaderNode* headerHead = nullptr;
    Mode mode = Mode::Full;
    HWND hwnd = nullptr;
    HWND list = nullptr;
    std::vector<ShortcutNode*> nodes;  // at most twelve, in action order
    bool shortcutsChanged = false;
    bool headersChanged = false;
    bool filling = true;  // EN_CHANGE while the box is first filled is no change
    int editingRow = -1;  // the row whose key is being entered
    WNDPROC listProc = nullptr;
};

// Brellin's own copy of the chosen font.
LOGFONTA g_chosenFont{};

HWND item(SettingsDialog& d, int id) {
    return GetDlgItem(d.hwnd, id);
}
void group(HWND parent, const char* text, int x, int y, int w, int h) {
    addControl(parent, "BUTTON", text, BS_GROUPBOX, x, y, w, h, -1);
}
void label(HWND parent, const char* text, int x, int y, int w) {
    addControl(parent, "STATIC", text, SS_LEFT, x, y + 3, w, 16, -1);
}
HWND combo(HWND parent, int id, int x, int y, int w, DWORD extra = 0) {
    return addControl(parent, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | extra, x,
                      y, w, 240, id);
}
HWND check(HWND parent, const char* text, int id, int x, int y, int w) {
    return addControl(parent, "BUTTON", text, BS_AUTOCHECKBOX | WS_TABSTOP, x, y, w, 18, id);
}
HWND button(HWND parent, const char* text, int id, int x, int y, int w, DWORD extra = 0) {
    return addControl(parent, "BUTTON", text, BS_PUSHBUTTON | WS_TABSTOP | extra, x, y, w, 24, id);
}
void addString(HWND c, const std::string& s) {
    SendMessageA(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()));
}

void createLeftColumn(HWND h) {
    group(h, "フォント", 10, 6, 250, 78);
    label(h, "タイプ:", 20, 26, 50);
    combo(h, kFontType, 72, 26, 176, CBS_SORT);
    label(h, "サイズ:", 20, 54, 50);
    combo(h, kFontSize, 72, 54, 60);
    group(h, "スクロール", 10, 90, 250, 78);
    label(h, "Spaceキー:", 20, 110, 70);
    combo(h, kSpaceBar, 100, 110, 90);
    label(h, "「↓」キー:", 20, 138, 70);
    combo(h, kLineDown, 100, 138, 90);
    group(h, "既読にするタイミング", 10, 174, 250, 104);
    check(h, "「次の未読」「前の未読」を選択した時", kReadOnJump, 18, 192, 236);
    check(h, "一定時間表示したら", kReadAfterTime, 18, 216, 130);
    combo(h, kReadSeconds, 40, 238, 60);
    label(h, "秒", 106, 238, 20);
    check(h, "開いただけで", kReadOnOpen, 18, 258, 150);
    group(h, "その他", 10, 284, 250, 146);
    for (int i = 0; i < kGeneralCount; ++i)
        check(h, kGeneralLabels[i], kGeneral0 + i, 18, 304 + 24 * i, 236);
}

void createMiddleColumn(HWND h) {
    group(h, "タイトルバーに表示する項目", 270, 6, 200, 270);
    for (int i = 0; i < kTitleFieldCount; ++i)
        check(h, kTitleLabels[i], kTitle0 + i, 280, 26 + 24 * i, 186);
    group(h, "表示するヘッダとその順序", 270, 282, 200, 148);
    addControl(h, "EDIT", "",
               ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_TABSTOP, 280, 300,
               180, 94, kHeaderBox, WS_EX_CLIENTEDGE);
    button(h, "標準に戻す(&C)", kHeaderStandard, 360, 400, 100);
}

void createRightColumn(HWND h) {
    group(h, "ショートカット", 480, 6, 210, 336);
    HWND list =
        addControl(h, WC_LISTVIEWA, "",
                   LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_TABSTOP,
                   490, 26, 190, 274, kShortcutList, WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    LVCOLUMNA col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH;
    col.cx = 79;
    col.pszText = const_cast<char*>("ショートカット");
    ListView_InsertColumn(list, 0, &col);
    col.cx = 105;
    col.pszText = const_cast<char*>("操作内容");
    ListView_InsertColumn(list, 1, &col);
    button(h, "変更(&R)", kShortcutChange, 490, 308, 90);
    button(h, "標準に戻す(&C)", kShortcutStandard, 586, 308, 94);
    button(h, "OK", IDOK, 480, 400, 100, BS_DEFPUSHBUTTON);
    button(h, "キャンセル", IDCANCEL, 590, 400, 100);
}

int shownKey(const ShortcutNode* n) {
    return n->pending ? n->pending : n->key;
}

void setRowKey(SettingsDialog& d, int row, const std::string& text) {
    ListView_SetItemText(d.list, row, 0, const_cast<char*>(text.c_str()));
}

void fillShortcuts(SettingsDialog& d) {
    for (ShortcutNode* n = d.shortcutHead->next; n && d.nodes.size() < kShortcutCount;
         n = n->next) {
        n->pending = 0;  // left over from a dialog that was cancelled
        d.nodes.push_back(n);
    }
    for (size_t i = 0; i < d.nodes.size(); ++i) {
        const std::string key = keyText(d.nodes[i]->key);
        LVITEMA it{};
        it.mask = LVIF_TEXT;
        it.iItem = static_cast<int>(i);
        it.pszText = const_cast<char*>(key.c_str());
        ListView_InsertItem(d.list, &it);
        ListView_SetItemText(d.list, static_cast<int>(i), 1, const_cast<char*>(kActionNames[i]));
    }
    ListView_SetItemState(d.list, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

int CALLBACK addFace(const LOGFONTA* lf, const TEXTMETRICA*, DWORD, LPARAM lp) {
    HWND c = reinterpret_cast<HWND>(lp);
    // Vertical faces ("@ＭＳ 明朝") are for vertical writing only.
    if (lf->lfFaceName[0] != '@' &&
        SendMessageA(c, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(lf->lfFaceName)) == CB_ERR)
        addString(c, lf->lfFaceName);
    return 1;
}

void fillFonts(SettingsDialog& d, const std::string& face) {
    HWND c = item(d, kFontType);
    LOGFONTA lf{};
    lf.lfCharSet = SHIFTJIS_CHARSET;
    HDC dc = GetDC(d.hwnd);
    EnumFontFamiliesExA(dc, &lf, addFace, reinterpret_cast<LPARAM>(c), 0);
    ReleaseDC(d.hwnd, dc);
    LRESULT at = SendMessageA(c, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                              reinterpret_cast<LPARAM>(face.c_str()));
    if (at == CB_ERR && !face.empty()) {
        // A face that is not installed here stays the viewer's choice until the user picks one.
        at = SendMessageA(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(face.c_str()));
    }
    SendMessageA(c, CB_SETCURSEL, at == CB_ERR ? 0 : static_cast<WPARAM>(at), 0);
}

void fillLists(SettingsDialog& d, const SettingsValues& v) {
    for (const char* s : kFontSizeLabels)
        addString(item(d, kFontSize), s);
    addString(item(d, kSpaceBar), "１ページ");
    for (int i = 1; i <= 49; ++i) {
        addString(item(d, kSpaceBar), std::to_string(i) + "行");
        addString(item(d, kLineDown), std::to_string(i) + "行");
    }
    for (int i = 1; i <= 20; ++i)
        addString(item(d, kReadSeconds), std::to_string(i));
    SendMessageA(item(d, kFontSize), CB_SETCURSEL, static_cast<WPARAM>(v.fontSizeIndex), 0);
    SendMessageA(item(d, kSpaceBar), CB_SETCURSEL, static_cast<WPARAM>(v.spaceBar), 0);
    SendMessageA(item(d, kLineDown), CB_SETCURSEL, static_cast<WPARAM>(v.lineDown - 1), 0);
    SendMessageA(item(d, kReadSeconds), CB_SETCURSEL, static_cast<WPARAM>(v.readSeconds - 1), 0);
}

void setCheck(SettingsDialog& d, int id, bool on) {
    CheckDlgButton(d.hwnd, id, on ? BST_CHECKED : BST_UNCHECKED);
}
bool checked(SettingsDialog& d, int id) {
    return IsDlgButtonChecked(d.hwnd, id) == BST_CHECKED;
}

void showValues(SettingsDialog& d, const SettingsValues& v) {
    fillLists(d, v);
    fillFonts(d, v.fontFace);
    setCheck(d, kReadOnJump, v.readOnUnreadJump);
    setCheck(d, kReadAfterTime, v.readAfterTime);
    setCheck(d, kReadOnOpen, v.readOnOpen);
    EnableWindow(item(d, kReadSeconds), v.readAfterTime);
    for (int i = 0; i < kGeneralCount; ++i)
        setCheck(d, kGeneral0 + i, v.general[i]);
    for (int i = 0; i < kTitleFieldCount; ++i)
        setCheck(d, kTitle0 + i, v.title[i]);
}

int selection(SettingsDialog& d, int id) {
    const LRESULT s = SendMessageA(item(d, id), CB_GETCURSEL, 0, 0);
    return s == CB_ERR ? 0 : static_cast<int>(s);
}

std::string windowText(HWND h) {
    std::string s(static_cast<size_t>(GetWindowTextLengthA(h)) + 1, '\0');
    s.resize(static_cast<size_t>(GetWindowTextA(h, s.data(), static_cast<int>(s.size()))));
    return s;
}

SettingsValues readValues(SettingsDialog& d) {
    SettingsValues v = valuesFromRecord(*d.record);
    v.fontSizeIndex = selection(d, kFontSize);
    v.fontFace = windowText(item(d, kFontType));
    v.spaceBar = selection(d, kSpaceBar);
    v.lineDown = selection(d, kLineDown) + 1;
    v.readOnUnreadJump = checked(d, kReadOnJump);
    v.readAfterTime = checked(d, kReadAfterTime);
    v.readSeconds = selection(d, kReadSeconds) + 1;
    v.readOnOpen = checked(d, kReadOnOpen);
    for (int i = 0; i < kGeneralCount; ++i)
        v.general[i] = checked(d, kGeneral0 + i);
    for (int i = 0; i < kTitleFieldCount; ++i)
        v.title[i] = checked(d, kTitle0 + i);
    return v;
}

// The reduced dialog shows but does not offer what belongs to the viewer's own window.
void applyMode(SettingsDialog& d) {
    if (d.mode == Mode::Full) return;
    for (int id : {int{kShortcutList}, int{kShortcutChange}, int{kShortcutStandard}, kGeneral0 + 1,
                   kGeneral0 + 2})
        EnableWindow(item(d, id), FALSE);
    for (int i = 0; i < kTitleFieldCount; ++i)
        EnableWindow(item(d, kTitle0 + i), FALSE);
}

void endKeyEdit(SettingsDialog& d, bool restore) {
    if (d.editingRow < 0) return;
    if (restore) setRowKey(d, d.editingRow, keyText(shownKey(d.nodes[d.editingRow])));
    d.editingRow = -1;
}

// While a key is being entered the list takes every key, Enter and Esc included.
LRESULT CALLBACK listProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* d = reinterpret_cast<SettingsDialog*>(GetPropA(h, "BrellinDialog"));
    if (d->editingRow >= 0) {
        if (msg == WM_GETDLGCODE) return DLGC_WANTALLKEYS;
        if (msg == WM_KILLFOCUS) endKeyEdit(*d, true);
        if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) {
            if (wp == VK_RETURN || wp == VK_ESCAPE) {
                endKeyEdit(*d, true);
                return 0;
            }
            const int code = shortcutCode(static_cast<unsigned>(wp), GetKeyState(VK_SHIFT) < 0,
                                          GetKeyState(VK_CONTROL) < 0);
            if (code) {
                d->nodes[d->editingRow]->pending = code;
                d->shortcutsChanged = true;
                setRowKey(*d, d->editingRow, keyText(code));
                d->editingRow = -1;
            }
            return 0;  // every other key is ignored
        }
        if (msg == WM_CHAR || msg == WM_SYSCHAR) return 0;
    }
    return CallWindowProcA(d->listProc, h, msg, wp, lp);
}

void startKeyEdit(SettingsDialog& d) {
    const int row = ListView_GetNextItem(d.list, -1, LVNI_SELECTED);
    if (row < 0 || row >= static_cast<int>(d.nodes.size())) return;
    SetFocus(d.list);
    d.editingRow = row;
    setRowKey(d, row, "？");
}

void standardShortcuts(SettingsDialog& d) {
    for (size_t i = 0; i < d.nodes.size(); ++i) {
        if (shownKey(d.nodes[i]) == kStandardKeys[i]) continue;
        d.nodes[i]->pending = kStandardKeys[i];
        d.shortcutsChanged = true;
        setRowKey(d, static_cast<int>(i), keyText(kStandardKeys[i]));
    }
}

void rememberFont(const SettingsValues& v) {
    g_chosenFont = LOGFONTA{};
    g_chosenFont.lfHeight = kFontSizeValues[v.fontSizeIndex];
    g_chosenFont.lfCharSet = SHIFTJIS_CHARSET;
    sjis::copyField(g_chosenFont.lfFaceName, v.fontFace);
}

// Steps 1-3 of OK: the changed lists, then every other control; false when a key could not be
// written (the record holds the values all the same).
bool saveAll(SettingsDialog& d) {
    auto ini = platform::makeProfile(host().iniPath);
    Err first = Err::None;
    auto note = [&](Err e) {
        if (first == Err::None) first = e;
    };
    if (d.mode == Mode::Full && d.shortcutsChanged) {
        std::vector<int> codes;
        note(commitShortcuts(*ini, *d.shortcutHead, codes));
        d.shortcutsChanged = false;
    }
    if (d.headersChanged) {
        const auto names = headerLines(windowText(item(d, kHeaderBox)));
        rebuildHeaders(*d.headerHead, names);
        note(ini->write(kOmbrelSection, "CustomHeaderStr", joinHeaders(names)));
        d.headersChanged = false;
    }
    const SettingsValues v = readValues(d);
    storeValues(v, d.mode, *d.record);
    note(writeValues(*ini, v, d.mode));
    rememberFont(v);
    return first == Err::None;
}

void onOk(SettingsDialog& d) {
    endKeyEdit(d, true);
    if (!saveAll(d)) {
        // The viewer would silently lose the settings at its next start.
        MessageBoxA(d.hwnd, "書き込みに失敗しました。   ", "ビューア", MB_OK | MB_ICONEXCLAMATION);
    }
    std::vector<int> codes;
    for (const ShortcutNode* n : d.nodes)
        codes.push_back(n->key);
    const int dup = firstDuplicate(codes);
    if (dup >= 0 && MessageBoxA(d.hwnd, duplicateMessage(codes[dup]).c_str(), "ビューア",
                                MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
        SetFocus(d.list);  // everything is saved; the user corrects the keys
        return;
    }
    EndDialog(d.hwnd, 1);
}

void onCommand(SettingsDialog& d, int id, int code) {
    switch (id) {
        case IDOK:
            onOk(d);
            break;
        case IDCANCEL:
            endKeyEdit(d, false);
            for (ShortcutNode* n : d.nodes)
                n->pending = 0;
            EndDialog(d.hwnd, 2);
            break;
        case kShortcutChange:
            startKeyEdit(d);
            break;
        case kShortcutStandard:
            standardShortcuts(d);
            break;
        case kHeaderStandard:
            // A multi-line box reports no change for text set by the program.
            SetWindowTextA(item(d, kHeaderBox), "From:\r\nTo:\r\nSubject:");
            d.headersChanged = true;
            break;
        case kHeaderBox:
            if (code == EN_CHANGE && !d.filling) d.headersChanged = true;
            break;
        case kReadAfterTime:
            EnableWindow(item(d, kReadSeconds), checked(d, kReadAfterTime));
            break;
        default:
            break;
    }
}

void onInit(SettingsDialog& d) {
    SetWindowTextA(d.hwnd, d.mode == Mode::Full ? "設定" : "設定－ビュー環境");
    RECT r{0, 0, kWidth, kHeight};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrA(d.hwnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(d.hwnd, GWL_EXSTYLE)));
    placeOver(d.hwnd, GetWindow(d.hwnd, GW_OWNER), r.right - r.left, r.bottom - r.top);
    createLeftColumn(d.hwnd);
    createMiddleColumn(d.hwnd);
    createRightColumn(d.hwnd);
    d.list = item(d, kShortcutList);
    SetPropA(d.list, "BrellinDialog", &d);
    d.listProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        d.list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(static_cast<WNDPROC>(listProc))));
    fillShortcuts(d);
    SetWindowTextA(item(d, kHeaderBox), headerBoxText(*d.headerHead).c_str());
    showValues(d, valuesFromRecord(*d.record));
    applyMode(d);
    d.filling = false;
}

INT_PTR CALLBACK dialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* d = reinterpret_cast<SettingsDialog*>(GetWindowLongPtrA(h, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            d = reinterpret_cast<SettingsDialog*>(lp);
            SetWindowLongPtrA(h, DWLP_USER, lp);
            d->hwnd = h;
            onInit(*d);
            return TRUE;
        case WM_COMMAND:
            if (d) onCommand(*d, LOWORD(wp), HIWORD(wp));
            return TRUE;
        case WM_DESTROY:
            if (d && d->list) RemovePropA(d->list, "BrellinDialog");
            return FALSE;
        default:
            return FALSE;
    }
}

// An empty dialog template: the controls are created in WM_INITDIALOG.
struct EmptyTemplate {
    DLGTEMPLATE t;
    WORD menu, cls, title;
};

}  // namespace

int runSettingsDialog(HWND owner, ViewerSettings* settings, ShortcutNode* shortcuts,
                      CustomHeaderNode* headers, int mode) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    SettingsDialog d;
    d.record = settings;
    d.shortcutHead = shortcuts;
    d.headerHead = headers;
    d.mode = mode == 1 ? Mode::Reduced : Mode::Full;
    alignas(4) EmptyTemplate tpl{};
    tpl.t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    const INT_PTR r = DialogBoxIndirectParamA(host().self, &tpl.t, owner, dialogProc,
                                              reinterpret_cast<LPARAM>(&d));
    return r == 1 ? 1 : 2;
}

}  // namespace kolvy::viewer
