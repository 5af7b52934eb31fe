// Shortcut keys at work: the keyboard hook of the main thread, the window's own key-downs, the
// shortcut dialog and the shortcut list.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "core/run_state.h"
#include "report/report.h"
#include "shell/shortcuts.h"
#include "shell/window_parts_win32.h"
#include "shell/window_resource.h"

namespace kolvy::shell::win32 {
namespace {

constexpr char kRepeatedKey[] =
    "キーが重複している場合、並び順の上のキーが優先され    \n下のキーは無視されます。\n\n"
    "重複しているキー「 %s 」";
constexpr char kListClass[] = "KolvyShortcutList";

ShortcutKeys g_keys = defaultShortcuts();
HHOOK g_hook = nullptr;
HWND g_list = nullptr;  // the modeless shortcut list
// The shortcut dialog waits for a key for this row (-1: it does not).
int g_capturing = -1;
HWND g_dialog = nullptr;

bool down(int vk) {
    return (GetKeyState(vk) & 0x8000) != 0;
}

void selectNeighbourTab(HWND main, int step) {
    HWND tabs = windowParts().tabs;
    const int count = TabCtrl_GetItemCount(tabs);
    if (count > 1) selectTabItem(main, (TabCtrl_GetCurSel(tabs) + step + count) % count);
}

void perform(HWND main, int action) {
    const ShortcutAction& a = shortcutAction(action);
    switch (a.kind) {
        case ShortcutKind::Command:
            SendMessageA(main, WM_COMMAND, MAKEWPARAM(a.command, 1), 0);
            return;
        case ShortcutKind::NextTab:
        case ShortcutKind::PreviousTab:
            selectNeighbourTab(main, a.kind == ShortcutKind::NextTab ? 1 : -1);
            return;
        case ShortcutKind::PaneDown:
        case ShortcutKind::PaneUp:
            movePaneSelection(a.kind == ShortcutKind::PaneDown ? 1 : -1);
            return;
        default:
            // The free program slots and the move keys come with the sibling tools.
            return;
    }
}

bool focusOnCurrentList(HWND main) {
    HWND f = GetFocus();
    char cls[32] = {};
    if (!f || GetParent(f) != main || !GetClassNameA(f, cls, sizeof cls)) return false;
    return lstrcmpA(cls, WC_LISTVIEWA) == 0 && IsWindowVisible(f);
}

void fillShortcutRows(HWND lv, const ShortcutKeys& keys) {
    ListView_DeleteAllItems(lv);
    for (int a = 0; a < kShortcutCount; ++a) {
        std::string name = shortcutName(keys[static_cast<size_t>(a)]);
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = a;
        item.pszText = name.data();
        ListView_InsertItem(lv, &item);
        ListView_SetItemText(lv, a, 1, const_cast<char*>(shortcutAction(a).name));
    }
}

void addColumns(HWND lv, int keyWidth, int actionWidth) {
    const std::pair<const char*, int> cols[] = {{"ショートカット", keyWidth},
                                                {"操作内容", actionWidth}};
    int i = 0;
    for (const auto& [text, width] : cols) {
        LVCOLUMNA c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH;
        c.pszText = const_cast<char*>(text);
        c.cx = width;
        ListView_InsertColumn(lv, i++, &c);
    }
    ListView_SetExtendedListViewStyle(lv, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
}

// The key the shortcut dialog waits for.
bool captureKey(int vk) {
    if (g_capturing < 0 || !g_dialog || vk < kFirstShortcutKey) return false;
    auto* keys = reinterpret_cast<ShortcutKeys*>(GetWindowLongPtrA(g_dialog, DWLP_USER));
    (*keys)[static_cast<size_t>(g_capturing)] =
        shortcutCode(vk, down(VK_SHIFT) && !down(VK_CONTROL), down(VK_CONTROL));
    HWND lv = GetDlgItem(g_dialog, IDC_SC_LIST);
    fillShortcutRows(lv, *keys);
    ListView_SetItemState(lv, g_capturing, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    SetDlgItemTextA(g_dialog, IDC_SC_PROMPT, "");
    g_capturing = -1;
    if (const int repeated = repeatedShortcut(*keys)) {
        char text[512];
        wsprintfA(text, kRepeatedKey, shortcutName(repeated).c_str());
        MessageBoxA(g_dialog, text, report::kAppTitle, MB_ICONINFORMATION);
    }
    return true;
}

LRESULT CALLBACK keyboardHook(int code, WPARAM wp, LPARAM lp) {
    const bool keyDown = (lp & 0x80000000) == 0;
    if (code == HC_ACTION && keyDown) {
        const int vk = static_cast<int>(wp);
        const RunState& run = runState();
        const WindowParts& w = windowParts();
        if (captureKey(vk)) return 1;
        if (run.processing.load() && vk >= VK_LEFT && vk <= VK_DOWN) return 1;
        const bool alt = (lp & 0x20000000) != 0;
        if (!w.menuLoop && !alt && vk != VK_APPS && !run.running() && !run.processing.load() &&
            focusOnCurrentList(w.main) && shortcutKeyDown(w.main, vk)) {
            return 1;
        }
    }
    return CallNextHookEx(g_hook, code, wp, lp);
}

INT_PTR CALLBACK shortcutDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* keys = reinterpret_cast<ShortcutKeys*>(GetWindowLongPtrA(dlg, DWLP_USER));
    HWND lv = GetDlgItem(dlg, IDC_SC_LIST);
    switch (msg) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(dlg, DWLP_USER, lp);
            g_dialog = dlg;
            addColumns(lv, 110, 200);
            fillShortcutRows(lv, *reinterpret_cast<ShortcutKeys*>(lp));
            return TRUE;
        case WM_DESTROY:
            g_dialog = nullptr;
            g_capturing = -1;
            return FALSE;
        case WM_COMMAND:
            break;
        default:
            return FALSE;
    }
    switch (LOWORD(wp)) {
        case IDC_SC_CHANGE:
            g_capturing = ListView_GetNextItem(lv, -1, LVNI_SELECTED);
            if (g_capturing >= 0) {
                SetDlgItemTextA(dlg, IDC_SC_PROMPT, "割り当てるキーを押してください。");
                SetFocus(lv);
            }
            return TRUE;
        case IDC_SC_DEFAULT:
            *keys = defaultShortcuts();
            fillShortcutRows(lv, *keys);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dlg, LOWORD(wp));
            return TRUE;
        default:
            return FALSE;
    }
}

LRESULT CALLBACK listProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE: {
            HWND lv = CreateWindowExA(0, WC_LISTVIEWA, "",
                                      WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_NOSORTHEADER, 0, 0,
                                      0, 0, hwnd, nullptr, nullptr, nullptr);
            SendMessageA(lv, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                         FALSE);
            addColumns(lv, 110, 190);
            fillShortcutRows(lv, g_keys);
            return 0;
        }
        case WM_SIZE:
            MoveWindow(GetWindow(hwnd, GW_CHILD), 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
            return 0;
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE) DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            g_list = nullptr;
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wp, lp);
    }
}

}  // namespace

void loadShortcutKeys(Env& env) {
    g_keys = parseShortcuts(env.ini.read("Option", kShortcutKey).value_or(kDefaultShortcuts));
}

bool shortcutKeyDown(HWND main, int virtualKey) {
    const int code = shortcutCode(virtualKey, down(VK_SHIFT), down(VK_CONTROL));
    const int action = shortcutAction(g_keys, code);
    if (action < 0) return false;
    traceCommand("shortcut", action, shortcutName(code).c_str());
    perform(main, action);
    return true;
}

void installKeyboardHook() {
    if (!g_hook)
        g_hook = SetWindowsHookExA(WH_KEYBOARD, keyboardHook, nullptr, GetCurrentThreadId());
}

void removeKeyboardHook() {
    if (g_hook) UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
}

void runShortcutDialog(HWND main, Env& env) {
    ShortcutKeys keys = g_keys;
    const INT_PTR r = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SHORTCUT),
                                      main, shortcutDialogProc, reinterpret_cast<LPARAM>(&keys));
    if (r != IDOK) return;
    g_keys = keys;
    if (env.ini.write("Option", kShortcutKey, formatShortcuts(keys)) != Err::None)
        report::report(env, "ショートカットの設定を保存できませんでした。   ");
    if (g_list) fillShortcutRows(GetWindow(g_list, GW_CHILD), g_keys);
}

void showShortcutList(HWND main) {
    if (!g_list) {
        static bool registered = false;
        if (!registered) {
            WNDCLASSA wc{};
            wc.lpfnWndProc = listProc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
            wc.lpszClassName = kListClass;
            registered = RegisterClassA(&wc) != 0;
        }
        RECT r;
        GetWindowRect(main, &r);
        g_list = CreateWindowExA(WS_EX_TOOLWINDOW, kListClass, "ショートカット一覧",
                                 WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME,
                                 r.left + 40, r.top + 40, 340, 480, main, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    }
    if (g_list) {
        ShowWindow(g_list, SW_SHOWNORMAL);
        SetForegroundWindow(g_list);
    }
}

}  // namespace kolvy::shell::win32
