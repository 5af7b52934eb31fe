#include "shell/mainwindow_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/win32/win32.h"
#include "report/report.h"
#include "shell/command_ids.h"
#include "shell/host_exports_win32.h"
#include "shell/resource.h"
#include "shell/shell_context_win32.h"
#include "shell/window_parts_win32.h"
#include "store/paths.h"

namespace kolvy::shell::win32 {
namespace {

constexpr int kTabControlId = 11;
constexpr int kStatusId = 12;
constexpr int kFirstListId = 1000;
// The status area: tab kind, tab counters, then the run's account, state and progress; the
// state field takes what the window leaves, down to its least width.
constexpr int kStatusWidths[] = {110, 340, 110, 0, 90};
constexpr int kStatusStateLeast = 120;
constexpr int kListFontHeight = 13;

struct Column {
    const char* receiveHeader;
    const char* sendHeader;
    int width;
    int format;
};
constexpr Column kColumns[] = {
    {"番号", "番号", 50, LVCFMT_RIGHT},     {"件名", "件名", 240, LVCFMT_LEFT},
    {"差出人", "宛先", 130, LVCFMT_LEFT},   {"受信日時", "送信日時", 150, LVCFMT_LEFT},
    {"サイズ", "サイズ", 60, LVCFMT_RIGHT},
};

const char* cellText(const MailItem& m, int column) {
    switch (column) {
        case 0:
            return m.number + 1;
        case 1:
            return m.subject;
        case 2:
            return m.name[0] ? m.name : m.address;
        case 3:
            return m.storedText;
        case 4:
            return m.sizeText;
        default:
            return "";
    }
}

class MainWindow final : public ShutdownWindow {
  public:
    explicit MainWindow(Program& p) : program_(p) {}
    ~MainWindow() override {
        if (listFont_) DeleteObject(listFont_);
        if (tabFont_) DeleteObject(tabFont_);
    }

    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void attach(HWND hwnd) { hwnd_ = hwnd; }
    HWND hwnd() const { return hwnd_; }
    void addTemporaryTab();
    bool posted(const MSG& m) const { return messages_.message(m.message, m.wParam, m.lParam); }
    void focusList() {
        if (Tab* t = program_.tabs.current(); t && t->plainList) SetFocus(list(*t));
    }

    // ShutdownWindow
    void takeListPosition(Tab& tab) override;
    bool windowRect(int& left, int& top, int& screenWidth, int& screenHeight) override;
    void quit() override { PostQuitMessage(0); }
    void removeTrayIcon() override { removeTray(); }

  private:
    bool create();
    void createChildren();
    void addTab(Tab& tab);
    void createList(Tab& tab);
    void fill(Tab& tab);
    void show(Tab& tab);
    void layout();
    void updateStatus();
    void layoutStatus(int width);
    int readWholeIndex(Tab& tab);
    void openSearch();
    void closeOtherTabs();
    void removeTab(Tab& tab);
    void command(int id);
    bool input(UINT msg, WPARAM wp, LPARAM lp);
    void resized(WPARAM how);
    void drawTab(const DRAWITEMSTRUCT& d);
    LRESULT notify(const NMHDR& h);
    static HWND list(const Tab& tab) { return static_cast<HWND>(tab.plainList); }
    Tab* tabAt(int item) const;

    Program& program_;
    HWND hwnd_ = nullptr;
    CommandRouter commands_{program_.env, program_.run};
    MessageRouter messages_;
    HWND tabs_ = nullptr;
    HWND status_ = nullptr;
    HFONT listFont_ = nullptr;
    HFONT tabFont_ = nullptr;
    int nextListId_ = kFirstListId;
    bool ready_ = false;
    std::unordered_map<const Tab*, std::vector<MailItem*>> rows_;
};

Tab* MainWindow::tabAt(int item) const {
    TCITEMA ti{};
    ti.mask = TCIF_PARAM;
    if (item < 0 || !TabCtrl_GetItem(tabs_, item, &ti)) return nullptr;
    return reinterpret_cast<Tab*>(ti.lParam);
}

bool MainWindow::create() {
    platform::win32::setOwnerWindow(hwnd_);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    listFont_ = CreateFontA(-kListFontHeight, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0,
                            0, 0, "ＭＳ Ｐゴシック");
    if (!program_.load()) return false;
    tabFont_ = CreateFontA(-program_.look.fontSize, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET,
                           0, 0, 0, 0, program_.look.fontType.c_str());
    WindowParts& parts = windowParts();
    parts.main = hwnd_;
    parts.env = &program_.env;
    createPostWindow(GetModuleHandleA(nullptr));
    registerPaneClass(GetModuleHandleA(nullptr));
    createToolBar(hwnd_, program_.env);
    createChildren();
    parts.status = status_;
    parts.tabs = tabs_;
    commands_.add(cmd::kExit, [this](int) { PostMessageA(hwnd_, WM_CLOSE, 0, 0); });
    commands_.add(cmd::kSearch, [this](int) { openSearch(); });
    commands_.add(cmd::kCloseOtherTabs, [this](int) { closeOtherTabs(); });
    program_.currentChanged = [this](Tab& tab) {
        if (tab.tabItem < 0) addTab(tab);
        TabCtrl_SetCurSel(tabs_, tab.tabItem);
        show(tab);
    };
    ShellContext context{hwnd_, GetModuleHandleA(nullptr), program_, commands_, messages_};
    registerWindowCommands(context);
    registerReceiveCommands(context);
    registerNotifyCommands(context);
    registerSendCommands(context);
    registerListCommands(context);
    ready_ = true;
    return true;
}

void MainWindow::createChildren() {
    status_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0,
                              0, 0, hwnd_, reinterpret_cast<HMENU>(kStatusId), nullptr, nullptr);

    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TCS_OWNERDRAWFIXED | TCS_FIXEDWIDTH |
                  TCS_FOCUSNEVER;
    if (program_.look.viewStyle == 1) style |= TCS_MULTILINE;
    tabs_ = CreateWindowExA(0, WC_TABCONTROLA, "", style, 0, toolBarHeight(), 0, 0, hwnd_,
                            reinterpret_cast<HMENU>(kTabControlId), nullptr, nullptr);
    SendMessageA(tabs_, WM_SETFONT, reinterpret_cast<WPARAM>(tabFont_), FALSE);
    TabCtrl_SetItemSize(tabs_, program_.look.width, program_.look.height);
    for (Tab* t = program_.tabs.first(); t; t = t->next) {
        if (!t->closed) addTab(*t);
    }
    if (Tab* current = program_.tabs.current()) {
        TabCtrl_SetCurSel(tabs_, current->tabItem);
        show(*current);
    }
}

void MainWindow::addTab(Tab& tab) {
    TCITEMA ti{};
    ti.mask = TCIF_PARAM | TCIF_TEXT;
    ti.pszText = tab.name;
    ti.lParam = reinterpret_cast<LPARAM>(&tab);
    tab.tabItem = TabCtrl_InsertItem(tabs_, TabCtrl_GetItemCount(tabs_), &ti);
    // Its list is made when the tab is first shown: a hundred tabs would cost start-up dearly.
}

void MainWindow::createList(Tab& tab) {
    if (tab.plainList) return;
    HWND lv = CreateWindowExA(
        WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
        WS_CHILD | WS_CLIPSIBLINGS | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
        hwnd_, reinterpret_cast<HMENU>(nextListId_++), nullptr, nullptr);
    if (!lv) {
        report::report(program_.env, "リストビューの作成に失敗しました。");
        return;
    }
    SendMessageA(lv, WM_SETFONT, reinterpret_cast<WPARAM>(listFont_), FALSE);
    ListView_SetExtendedListViewStyle(lv, LVS_EX_FULLROWSELECT);
    SetWindowLongPtrA(lv, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&tab));
    const bool send = tab.kind == store::kSendTab;
    int i = 0;
    for (const Column& c : kColumns) {
        LVCOLUMNA col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.pszText = const_cast<char*>(send ? c.sendHeader : c.receiveHeader);
        col.cx = c.width;
        col.fmt = c.format;
        ListView_InsertColumn(lv, i++, &col);
    }
    tab.plainList = lv;
}

void MainWindow::fill(Tab& tab) {
    auto& rows = rows_[&tab];
    rows.clear();
    for (MailItem* m : listRange(tab.items))
        rows.push_back(m);
    tab.storedFirst = tab.storedLast = nullptr;
    HWND lv = list(tab);
    ListView_SetItemCountEx(lv, static_cast<int>(rows.size()), 0);
    // Back to the rows of the last exit: the last visible one and the focused one.
    const int viewIndex = atoi(tab.viewIndex), focused = atoi(tab.focusedPos);
    for (size_t r = 0; r < rows.size(); ++r) {
        const int n = store::itemNumber(*rows[r]);
        if (n == viewIndex) ListView_EnsureVisible(lv, static_cast<int>(r), FALSE);
        if (n == focused) {
            ListView_SetItemState(lv, static_cast<int>(r), LVIS_FOCUSED | LVIS_SELECTED,
                                  LVIS_FOCUSED | LVIS_SELECTED);
        }
    }
}

void MainWindow::show(Tab& tab) {
    if (!tab.plainList) createList(tab);
    if (!tab.plainList) return;
    fill(tab);
    for (Tab* t = program_.tabs.first(); t; t = t->next) {
        if (t->plainList && t != &tab) ShowWindow(list(*t), SW_HIDE);
    }
    layout();
    ShowWindow(list(tab), SW_SHOW);
    // The keys follow the list that is shown (a hidden list keeps no shortcuts).
    if (HWND f = GetFocus(); f && f != list(tab) && GetParent(f) == hwnd_ && !IsWindowVisible(f))
        SetFocus(list(tab));
    updateStatus();
}

void MainWindow::layout() {
    if (!tabs_) return;
    RECT client;
    GetClientRect(hwnd_, &client);
    SendMessageA(status_, WM_SIZE, 0, 0);
    layoutStatus(client.right);
    if (HWND tb = windowParts().toolBar) SendMessageA(tb, TB_AUTOSIZE, 0, 0);
    const int toolBar = toolBarHeight();
    RECT sr;
    GetWindowRect(status_, &sr);
    const int statusHeight = sr.bottom - sr.top;
    const int width = client.right;
    // The tab control is only its row of tabs; the list fills the rest.
    SetWindowPos(tabs_, nullptr, 0, toolBar, width, 200, SWP_NOZORDER);
    RECT strip{0, 0, width, 200};
    TabCtrl_AdjustRect(tabs_, FALSE, &strip);
    const int tabHeight = strip.top;
    SetWindowPos(tabs_, nullptr, 0, toolBar, width, tabHeight, SWP_NOZORDER);
    const int top = toolBar + tabHeight;
    const int height = client.bottom - statusHeight - top;
    for (Tab* t = program_.tabs.first(); t; t = t->next) {
        if (t->plainList) {
            SetWindowPos(list(*t), nullptr, 0, top, width, height > 0 ? height : 0, SWP_NOZORDER);
        }
    }
}

void MainWindow::layoutStatus(int width) {
    int fixed = 0;
    for (const int w : kStatusWidths)
        fixed += w;
    int parts[std::size(kStatusWidths)];
    int right = 0;
    for (size_t i = 0; i < std::size(kStatusWidths); ++i) {
        const int w = kStatusWidths[i];
        parts[i] = right += w ? w : std::max(kStatusStateLeast, width - fixed);
    }
    parts[std::size(kStatusWidths) - 1] = -1;
    SendMessageA(status_, SB_SETPARTS, std::size(parts), reinterpret_cast<LPARAM>(parts));
    for (UINT part = kStatusAccountPart; part <= kStatusProgressPart; ++part)
        SendMessageA(status_, SB_SETTEXTA, part | SBT_OWNERDRAW, 0);
}

void MainWindow::updateStatus() {
    Tab* t = program_.tabs.current();
    if (!t || !status_) return;
    const TabStatusText s = tabStatusText(*t);
    SendMessageA(status_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(s.kind.c_str()));
    SendMessageA(status_, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(s.counters.c_str()));
}

// The rest of an index read from its tail; the entry at the top of the list stays in view.
int MainWindow::readWholeIndex(Tab& tab) {
    if (tab.loadState == store::kCompletelyRead) return 0;
    const size_t before = listSize(tab.items);
    int topNumber = -1;
    auto it = rows_.find(&tab);
    if (tab.plainList && it != rows_.end()) {
        const int top = ListView_GetTopIndex(list(tab));
        if (top >= 0 && top < static_cast<int>(it->second.size()))
            topNumber = store::itemNumber(*it->second[static_cast<size_t>(top)]);
    }
    if (store::readWholeIndex(program_.env, tab, program_.index) != Err::None) return 0;
    const size_t after = listSize(tab.items);
    if (tab.plainList && after != before) {
        fill(tab);
        const auto& rows = rows_[&tab];
        for (size_t r = 0; r < rows.size(); ++r) {
            if (store::itemNumber(*rows[r]) == topNumber)
                ListView_EnsureVisible(list(tab), static_cast<int>(r), FALSE);
        }
    }
    return after > before ? 1 : 0;
}

// The search plug-in: loaded by name on first use and kept until exit.
void MainWindow::openSearch() {
    using SearchFn = int(WINAPI*)(HWND, Tab*);
    static HMODULE library = nullptr;
    static SearchFn search = nullptr;
    if (!library) library = LoadLibraryA("Fandor.dll");
    if (!library) {
        report::report(program_.env, "Fandor.dllが読み込めません。   ");
        return;
    }
    if (!search)
        search = reinterpret_cast<SearchFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "FandorFunc")));
    if (!search) {
        report::report(program_.env, "Fandor.dllから検索関数が呼び出せません。   ");
        return;
    }
    search(hwnd_, program_.tabs.listHead());
}

void MainWindow::drawTab(const DRAWITEMSTRUCT& d) {
    const Tab* t = reinterpret_cast<const Tab*>(d.itemData);
    if (!t) return;
    HBRUSH brush = CreateSolidBrush(t->color);
    FillRect(d.hDC, &d.rcItem, brush);
    DeleteObject(brush);
    SetBkMode(d.hDC, TRANSPARENT);
    SetTextColor(d.hDC, t->textColor);
    HGDIOBJ old = SelectObject(d.hDC, tabFont_);
    RECT r = d.rcItem;
    if (tabBlinkOn(*t)) {
        // The new-mail mark: a red dot before the name.
        const int size = 6, cy = (r.top + r.bottom) / 2;
        HBRUSH red = CreateSolidBrush(RGB(230, 0, 0));
        HGDIOBJ oldBrush = SelectObject(d.hDC, red);
        HGDIOBJ oldPen = SelectObject(d.hDC, GetStockObject(NULL_PEN));
        Ellipse(d.hDC, r.left + 4, cy - size / 2, r.left + 4 + size, cy + size / 2);
        SelectObject(d.hDC, oldPen);
        SelectObject(d.hDC, oldBrush);
        DeleteObject(red);
        r.left += size + 4;
    }
    DrawTextA(d.hDC, t->name, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    SelectObject(d.hDC, old);
}

void MainWindow::addTemporaryTab() {
    auto tab = program_.tabs.create(program_.env, store::CreateMode::BasicTemporary);
    if (!tab) return;
    addTab(**tab);
    layout();
}

void MainWindow::removeTab(Tab& tab) {
    const int item = tab.tabItem;
    TabCtrl_DeleteItem(tabs_, item);
    tab.tabItem = -1;
    if (tab.plainList) ShowWindow(list(tab), SW_HIDE);
    for (Tab* t = program_.tabs.first(); t; t = t->next) {
        if (t->tabItem > item) --t->tabItem;
    }
}

// Every open tab that is not a basic one leaves the tab control; the current one among them
// hands over to the first tab.
void MainWindow::closeOtherTabs() {
    Tab* current = program_.tabs.current();
    if (current) takeListPosition(*current);
    bool currentClosed = false;
    for (Tab* t = program_.tabs.first(); t; t = t->next) {
        if (t->basic || t->closed || t->tabItem < 0) continue;
        if (program_.tabs.setClosed(program_.env, *t, true) != Err::None) continue;
        removeTab(*t);
        currentClosed |= t == current;
    }
    if (currentClosed) {
        if (Tab* first = tabAt(0)) {
            TabCtrl_SetCurSel(tabs_, 0);
            program_.selectTab(*first);
            show(*first);
        }
    }
    layout();
}

void MainWindow::command(int id) {
    // Traced before it runs: a command may hold a modal loop for long.
    traceCommand("command", id, commands_.has(id) ? "" : "unknown");
    commands_.dispatch(id);
}

LRESULT MainWindow::notify(const NMHDR& h) {
    if (toolTipText(h)) return 0;
    if (h.hwndFrom == tabs_) {
        if (h.code == TCN_SELCHANGING) {
            if (Tab* t = program_.tabs.current()) takeListPosition(*t);
            return FALSE;
        }
        if (h.code == TCN_SELCHANGE) {
            if (Tab* t = tabAt(TabCtrl_GetCurSel(tabs_))) {
                program_.selectTab(*t);
                show(*t);
            }
        }
        return 0;
    }
    if (h.code == LVN_GETDISPINFOA) {
        auto& info = *reinterpret_cast<NMLVDISPINFOA*>(const_cast<NMHDR*>(&h));
        const Tab* t = reinterpret_cast<const Tab*>(GetWindowLongPtrA(h.hwndFrom, GWLP_USERDATA));
        auto it = rows_.find(t);
        if (it == rows_.end() || !(info.item.mask & LVIF_TEXT)) return 0;
        const auto row = static_cast<size_t>(info.item.iItem);
        if (row < it->second.size()) {
            info.item.pszText = const_cast<char*>(cellText(*it->second[row], info.item.iSubItem));
        }
    }
    return 0;
}

void MainWindow::takeListPosition(Tab& tab) {
    sjis::copyField(tab.viewIndex, "0");
    sjis::copyField(tab.focusedPos, "0");
    auto it = rows_.find(&tab);
    if (!tab.plainList || it == rows_.end() || it->second.empty()) return;
    const auto& rows = it->second;
    HWND lv = list(tab);
    const int count = static_cast<int>(rows.size());
    int last = ListView_GetTopIndex(lv) + ListView_GetCountPerPage(lv) - 1;
    last = last >= count ? count - 1 : (last < 0 ? 0 : last);
    int focused = ListView_GetNextItem(lv, -1, LVNI_FOCUSED);
    if (focused < 0 || focused >= count) focused = 0;
    sjis::copyField(tab.viewIndex, std::to_string(store::itemNumber(*rows[last])));
    sjis::copyField(tab.focusedPos, std::to_string(store::itemNumber(*rows[focused])));
}

bool MainWindow::windowRect(int& left, int& top, int& screenWidth, int& screenHeight) {
    RECT r;
    if (!GetWindowRect(hwnd_, &r)) return false;
    left = r.left;
    top = r.top;
    screenWidth = GetSystemMetrics(SM_CXSCREEN);
    screenHeight = GetSystemMetrics(SM_CYSCREEN);
    return true;
}

void MainWindow::resized(WPARAM how) {
    if (how == SIZE_MINIMIZED) {
        saveSize(program_.env.ini, SizeState::Minimised, 0, 0);
    } else if (how == SIZE_MAXIMIZED) {
        saveSize(program_.env.ini, SizeState::Maximised, 0, 0);
    } else if (how == SIZE_RESTORED) {
        RECT r;
        GetWindowRect(hwnd_, &r);
        saveSize(program_.env.ini, SizeState::Restored, r.right - r.left, r.bottom - r.top);
    }
    layout();
}

// Commands, keys and menus; true when the message was taken.
bool MainWindow::input(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            // Notifications of the children (list boxes, the pane) are no commands.
            if (lp && HWND(lp) != windowParts().toolBar) return false;
            command(LOWORD(wp));
            return true;
        case WM_ACTIVATE:
            // Keys go to the list when the window comes back to the front.
            if (LOWORD(wp) == WA_INACTIVE || HIWORD(wp) || !ready_) return false;
            focusList();
            return true;
        case WM_INITMENUPOPUP:
            initMenuPopup(reinterpret_cast<HMENU>(wp));
            return true;
        case WM_ENTERMENULOOP:
        case WM_EXITMENULOOP:
            windowParts().menuLoop = msg == WM_ENTERMENULOOP;
            return false;
        case WM_KEYDOWN:
            return shortcutKeyDown(hwnd_, static_cast<int>(wp));
        case WM_HOTKEY:
            return messages_.message(msg, wp, lp);
        default:
            return false;
    }
}

LRESULT MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE:
            if (!create()) {
                program_.startupFailed = true;
                return -1;
            }
            return 0;
        case WM_SIZE:
            if (ready_) resized(wp);
            return 0;
        case WM_NOTIFY:
            return notify(*reinterpret_cast<const NMHDR*>(lp));
        case WM_DRAWITEM: {
            const auto& d = *reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (d.hwndItem == status_ && drawStatusField(d)) return TRUE;
            if (d.CtlType == ODT_TAB) {
                drawTab(d);
                return TRUE;
            }
            break;
        }
        case WM_TIMER:
            if (messages_.timer(wp)) return 0;
            break;
        case WM_COMMAND:
        case WM_ACTIVATE:
        case WM_INITMENUPOPUP:
        case WM_ENTERMENULOOP:
        case WM_EXITMENULOOP:
        case WM_KEYDOWN:
        case WM_HOTKEY:
            if (input(msg, wp, lp)) return 0;
            break;
        case kMsgHostReadWholeIndex:
            return lp ? readWholeIndex(*reinterpret_cast<Tab*>(lp)) : 0;
        case kMsgHostTabStatus:
            updateStatus();
            return 0;
        case WM_CLOSE:
            if (closeAllowed(hwnd_) && program_.closeRequest() == Program::CloseDecision::Close)
                DestroyWindow(hwnd_);
            return 0;
        case WM_ERASEBKGND: {
            // Only the flat tool bar and the tab strip show through; the lists cover the rest.
            RECT r;
            GetClientRect(hwnd_, &r);
            FillRect(reinterpret_cast<HDC>(wp), &r, GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_DESTROY:
            windowDestroyed(hwnd_);
            program_.shutdown(*this);
            platform::win32::setOwnerWindow(nullptr);
            return 0;
        default:
            // Workers' posts may come to the window as well as to the thread.
            if (msg >= WM_APP && msg < 0xC000) {
                MSG m{};
                m.hwnd = hwnd_;
                m.message = msg;
                m.wParam = wp;
                m.lParam = lp;
                handleThreadMessage(hwnd_, m);
                return 0;
            }
            break;
    }
    return DefWindowProcA(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* w = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lp);
        w = static_cast<MainWindow*>(cs->lpCreateParams);
        w->attach(hwnd);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    }
    if (!w) return DefWindowProcA(hwnd, msg, wp, lp);
    const LRESULT r = w->handle(msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        delete w;
    }
    return r;
}

MainWindow* windowOf(HWND hwnd) {
    return hwnd ? reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)) : nullptr;
}

}  // namespace

bool registerMainWindowClass(HINSTANCE instance, HICON icon) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = icon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kMainClass;
    return RegisterClassA(&wc) != 0;
}

HWND createMainWindow(Program& program, HINSTANCE instance, const std::string& title, HMENU menu) {
    const WindowPlacement& p = program.placement;
    const int x = p.positionFix ? p.x : CW_USEDEFAULT;
    const int y = p.positionFix ? p.y : CW_USEDEFAULT;
    auto* w = new MainWindow(program);  // owned by the window from WM_NCCREATE on
    HWND hwnd = CreateWindowExA(0, kMainClass, title.c_str(), WS_OVERLAPPEDWINDOW, x, y, p.width,
                                p.height, nullptr, menu, instance, w);
    return hwnd;
}

void handleThreadMessage(HWND main, const MSG& msg) {
    if (MainWindow* w = windowOf(main); w && w->posted(msg)) return;
    switch (msg.message) {
        case kMsgTemporaryTab:
            if (MainWindow* w = windowOf(main)) w->addTemporaryTab();
            break;
        case kMsgToFront:
            bringToFront(main);
            break;
        case kMsgDeferredExit:
            DestroyWindow(main);
            break;
        case kMsgBusyStart:
            SetCapture(main);
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            break;
        case kMsgBusyEnd:
            ReleaseCapture();
            SetCursor(LoadCursorA(nullptr, IDC_ARROW));
            break;
        default:
            break;
    }
}

void focusCurrentList(HWND main) {
    if (MainWindow* w = windowOf(main)) w->focusList();
}

void bringToFront(HWND hwnd) {
    HWND front = GetForegroundWindow();
    const DWORD me = GetCurrentThreadId();
    const DWORD other = front ? GetWindowThreadProcessId(front, nullptr) : me;
    if (other != me) AttachThreadInput(me, other, TRUE);
    // The lock time-out is the user's system setting: lifted for this one call only.
    DWORD lockTimeout = 0;
    const bool saved =
        SystemParametersInfoA(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &lockTimeout, 0) != FALSE;
    SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
    SetForegroundWindow(hwnd);
    if (saved) {
        SystemParametersInfoA(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                              reinterpret_cast<void*>(static_cast<UINT_PTR>(lockTimeout)), 0);
    }
    if (other != me) AttachThreadInput(me, other, FALSE);
}

}  // namespace kolvy::shell::win32
