// The tool bar with its built-in images and tips, the account pane on its left, and the
// tool-bar dialog.
#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "config/orders.h"
#include "shell/command_ids.h"
#include "shell/resource.h"
#include "shell/toolbar_layout.h"
#include "shell/window_parts_win32.h"
#include "shell/window_resource.h"

namespace kolvy::shell::win32 {
namespace {

constexpr int kImageWidth = 20, kImageHeight = 16;
constexpr int kLeadingSeparators = 16;
constexpr int kPaneX = 8, kPaneWidth = 111, kPaneHeight = 21;
constexpr int kPaneListId = 1;
constexpr char kPaneClass[] = "AcountView";
constexpr char kSeparatorText[] = "（区切り）";

HIMAGELIST g_images = nullptr;

std::string optionText(Env& env, const char* key, const char* fallback) {
    return env.ini.read("Option", key).value_or(fallback);
}

void addButtons(HWND tb, const ToolBarLayout& layout) {
    TBBUTTON sep{};
    sep.fsStyle = BTNS_SEP;
    for (int i = 0; i < kLeadingSeparators; ++i)
        SendMessageA(tb, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&sep));
    for (const int n : layout.shown) {
        TBBUTTON b{};
        if (n == kToolSeparator) {
            b.fsStyle = BTNS_SEP;
        } else {
            b.iBitmap = n - 1;
            b.idCommand = toolButton(n).command;
            b.fsState = TBSTATE_ENABLED;
            b.fsStyle = b.idCommand == cmd::kPeriodicSwitch ? BTNS_CHECK : BTNS_BUTTON;
        }
        SendMessageA(tb, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&b));
    }
}

// ---- the account pane: the top-level receive orders; the selected one is what "受信" takes.
// The list is the receive module's, so that the pane and the runs see the same orders.
config::OrderList& paneOrders() {
    return receiveOrders(*windowParts().env);
}

void fillPane() {
    HWND list = windowParts().paneOrders;
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    if (!windowParts().env) return;
    config::OrderList& orders = paneOrders();
    const ReceiveOrder* selected = orders.selected();
    for (const ReceiveOrder* o = orders.head().next; o; o = o->next) {
        const auto i = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(o->name));
        SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(i), o->id);
        if (o == selected) SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    }
}

void paneChanged() {
    HWND list = windowParts().paneOrders;
    const auto i = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (i < 0 || !windowParts().env) return;
    const auto id = static_cast<int32_t>(SendMessageA(list, CB_GETITEMDATA, i, 0));
    if (ReceiveOrder* o = paneOrders().byId(id)) {
        (void)paneOrders().selectForPane(*windowParts().env, o);
    }
    SetFocus(windowParts().main);
}

LRESULT CALLBACK paneProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE: {
            HWND list = CreateWindowExA(
                0, WC_COMBOBOXA, "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 0,
                kPaneWidth, 200, hwnd, reinterpret_cast<HMENU>(kPaneListId), nullptr, nullptr);
            SendMessageA(list, WM_SETFONT,
                         reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
            windowParts().paneOrders = list;
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == kPaneListId && HIWORD(wp) == CBN_SELCHANGE) paneChanged();
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wp, lp);
    }
}

std::string buttonText(int n) {
    return n == kToolSeparator ? kSeparatorText : toolButton(n).tip;
}

}  // namespace

bool registerPaneClass(HINSTANCE instance) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = paneProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kPaneClass;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND createToolBar(HWND main, Env& env) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    HWND tb =
        CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr,
                        WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0,
                        0, main, reinterpret_cast<HMENU>(kToolBarId), instance, nullptr);
    if (!tb) return nullptr;
    WindowParts& w = windowParts();
    w.toolBar = tb;
    SendMessageA(tb, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(tb, TB_SETBITMAPSIZE, 0, MAKELONG(kImageWidth, kImageHeight));
    g_images = ImageList_LoadImageA(instance, MAKEINTRESOURCEA(IDB_TOOLBAR), kImageWidth, 0,
                                    RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    SendMessageA(tb, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(g_images));
    addButtons(tb, parseToolBar(optionText(env, kToolBarKey, kDefaultToolBar)));
    SendMessageA(tb, TB_AUTOSIZE, 0, 0);

    const int y = (toolBarHeight() - kPaneHeight) / 2;
    CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_ETCHEDFRAME, kPaneX - 3, y - 2,
                    kPaneWidth + 6, kPaneHeight + 4, tb, nullptr, instance, nullptr);
    w.pane = CreateWindowExA(0, kPaneClass, "", WS_CHILD | WS_VISIBLE, kPaneX, y, kPaneWidth,
                             kPaneHeight, tb, nullptr, instance, nullptr);
    refillAccountPane(main);
    return tb;
}

void rebuildToolBar(Env& env) {
    HWND tb = windowParts().toolBar;
    while (SendMessageA(tb, TB_BUTTONCOUNT, 0, 0) > 0)
        SendMessageA(tb, TB_DELETEBUTTON, 0, 0);
    addButtons(tb, parseToolBar(optionText(env, kToolBarKey, kDefaultToolBar)));
    setRunMenus(windowParts().main, windowParts().runMenus);
}

int toolBarHeight() {
    HWND tb = windowParts().toolBar;
    if (!tb) return 0;
    RECT r;
    GetWindowRect(tb, &r);
    return r.bottom - r.top;
}

bool toolTipText(const NMHDR& h) {
    if (h.code != TTN_GETDISPINFOA && h.code != TTN_GETDISPINFOW) return false;
    for (int n = 1; n <= kToolButtons; ++n) {
        if (static_cast<UINT_PTR>(toolButton(n).command) != h.idFrom) continue;
        if (h.code == TTN_GETDISPINFOA) {
            auto& t = *reinterpret_cast<NMTTDISPINFOA*>(const_cast<NMHDR*>(&h));
            t.lpszText = const_cast<char*>(toolButton(n).tip);
            t.hinst = nullptr;
        } else {
            static wchar_t wide[64];
            MultiByteToWideChar(CP_ACP, 0, toolButton(n).tip, -1, wide, 64);
            auto& t = *reinterpret_cast<NMTTDISPINFOW*>(const_cast<NMHDR*>(&h));
            t.lpszText = wide;
            t.hinst = nullptr;
        }
        return true;
    }
    return false;
}

void enableToolButtons(bool (*enabled)(int command)) {
    HWND tb = windowParts().toolBar;
    for (int n = 1; n <= kToolButtons; ++n) {
        const int id = toolButton(n).command;
        SendMessageA(tb, TB_ENABLEBUTTON, static_cast<WPARAM>(id), MAKELONG(enabled(id), 0));
    }
}

void movePaneSelection(int delta) {
    HWND list = windowParts().paneOrders;
    const auto count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    if (count <= 0) return;
    auto i = SendMessageA(list, CB_GETCURSEL, 0, 0) + delta;
    i = i < 0 ? count - 1 : (i >= count ? 0 : i);  // wraps round like a ring
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    paneChanged();
}

int selectedOrder(HWND) {
    HWND list = windowParts().paneOrders;
    const auto i = list ? SendMessageA(list, CB_GETCURSEL, 0, 0) : CB_ERR;
    return i < 0 ? -1 : static_cast<int>(SendMessageA(list, CB_GETITEMDATA, i, 0));
}

void refillAccountPane(HWND) {
    fillPane();
}

// ---- the tool-bar dialog
namespace {

void fillLists(HWND dlg, const ToolBarLayout& layout) {
    for (const auto& [id, numbers] :
         {std::pair{IDC_TB_SHOWN, &layout.shown}, std::pair{IDC_TB_HIDDEN, &layout.hidden}}) {
        HWND list = GetDlgItem(dlg, id);
        SendMessageA(list, LB_RESETCONTENT, 0, 0);
        for (const int n : *numbers) {
            const auto i = SendMessageA(list, LB_ADDSTRING, 0,
                                        reinterpret_cast<LPARAM>(buttonText(n).c_str()));
            SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(i), n);
        }
    }
}

std::vector<int> listNumbers(HWND list) {
    std::vector<int> out;
    const auto count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i)
        out.push_back(static_cast<int>(SendMessageA(list, LB_GETITEMDATA, i, 0)));
    return out;
}

// Moves the selected entry of one list to the other, or up and down within its list.
void moveEntry(HWND dlg, int from, int to, int step) {
    HWND src = GetDlgItem(dlg, from);
    const auto i = SendMessageA(src, LB_GETCURSEL, 0, 0);
    if (i < 0) return;
    std::vector<int> a = listNumbers(src);
    const int n = a[static_cast<size_t>(i)];
    ToolBarLayout l{listNumbers(GetDlgItem(dlg, IDC_TB_SHOWN)),
                    listNumbers(GetDlgItem(dlg, IDC_TB_HIDDEN))};
    std::vector<int>& s = from == IDC_TB_SHOWN ? l.shown : l.hidden;
    s.erase(s.begin() + i);
    LRESULT at = i;
    if (to == from) {
        at = i + step < 0 ? 0 : (i + step > static_cast<LRESULT>(s.size()) ? s.size() : i + step);
        s.insert(s.begin() + at, n);
    } else {
        std::vector<int>& d = to == IDC_TB_SHOWN ? l.shown : l.hidden;
        d.push_back(n);
        at = static_cast<LRESULT>(d.size()) - 1;
    }
    fillLists(dlg, l);
    SendMessageA(GetDlgItem(dlg, to), LB_SETCURSEL, static_cast<WPARAM>(at), 0);
}

INT_PTR CALLBACK toolBarDialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(dlg, DWLP_USER, lp);
        Env& env = *reinterpret_cast<Env*>(lp);
        fillLists(dlg, parseToolBar(optionText(env, kToolBarKey, kDefaultToolBar)));
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    switch (LOWORD(wp)) {
        case IDC_TB_ADD:
            moveEntry(dlg, IDC_TB_HIDDEN, IDC_TB_SHOWN, 0);
            return TRUE;
        case IDC_TB_REMOVE:
            moveEntry(dlg, IDC_TB_SHOWN, IDC_TB_HIDDEN, 0);
            return TRUE;
        case IDC_TB_UP:
            moveEntry(dlg, IDC_TB_SHOWN, IDC_TB_SHOWN, -1);
            return TRUE;
        case IDC_TB_DOWN:
            moveEntry(dlg, IDC_TB_SHOWN, IDC_TB_SHOWN, 1);
            return TRUE;
        case IDC_TB_DEFAULT:
            fillLists(dlg, defaultToolBar());
            return TRUE;
        case IDOK: {
            Env& env = *reinterpret_cast<Env*>(GetWindowLongPtrA(dlg, DWLP_USER));
            const ToolBarLayout l{listNumbers(GetDlgItem(dlg, IDC_TB_SHOWN)),
                                  listNumbers(GetDlgItem(dlg, IDC_TB_HIDDEN))};
            (void)env.ini.write("Option", kToolBarKey, formatToolBar(l));
            EndDialog(dlg, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dlg, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void runToolBarDialog(HWND main, Env& env) {
    if (DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TOOLBAR), main,
                        toolBarDialogProc, reinterpret_cast<LPARAM>(&env)) == IDOK) {
        rebuildToolBar(env);
    }
}

}  // namespace kolvy::shell::win32
