// The window's own commands and services: menus greyed during runs, the status area's run
// fields, tray icon, hot key, the posts of the workers, about and help.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

#include "core/sjis.h"
#include "platform/win32/win32.h"
#include "report/logs.h"
#include "report/report.h"
#include "shell/command_ids.h"
#include "shell/exit_rules.h"
#include "shell/mainwindow_win32.h"
#include "shell/resource.h"
#include "shell/run_menus.h"
#include "shell/shortcuts.h"
#include "shell/window_parts_win32.h"
#include "shell/window_resource.h"

namespace kolvy::shell::win32 {
namespace {

constexpr char kHotKeyTaken[] =
    "ホットキーが他のプログラムで使われているため登録できません。\n"
    "ホットキーなしで起動します。   ";
constexpr char kComposerWaiting[] =
    "エディタでメールを作成中です。エディタを閉じてから終了してください。   ";
constexpr char kNoHelpFile[] = "ヘルプファイル「Kolvy.hlp」が見つかりません。   ";
constexpr UINT_PTR kExitRetryTimer = 101;
constexpr UINT kExitRetryMs = 1000;

CommandRouter* g_commands = nullptr;
bool g_trayShown = false;
HWND g_previousFront = nullptr;  // where the hot key gives the foreground back to

RunKind runKind(RunMenus m) {
    return m == RunMenus::Receiving ? RunKind::Receive
                                    : (m == RunMenus::Sending ? RunKind::Send : RunKind::None);
}

bool commandEnabled(int id) {
    if (id >= cmd::kTabFirst && id <= cmd::kTabLast) return true;
    return g_commands && g_commands->has(id) &&
           !greyedDuringRun(id, runKind(windowParts().runMenus));
}

// The first command of a submenu, found depth first.
int firstCommand(HMENU menu) {
    for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
        if (HMENU sub = GetSubMenu(menu, i)) {
            if (const int id = firstCommand(sub)) return id;
        } else if (const UINT id = GetMenuItemID(menu, i); id != 0 && id != UINT(-1)) {
            return static_cast<int>(id);
        }
    }
    return 0;
}

// The tab list of the タブ menu, after its own entries and a separator.
void fillTabMenu(HMENU menu) {
    constexpr int kFixedEntries = 3;
    while (GetMenuItemCount(menu) > kFixedEntries)
        DeleteMenu(menu, kFixedEntries, MF_BYPOSITION);
    HWND tabs = windowParts().tabs;
    const int current = TabCtrl_GetCurSel(tabs);
    for (int i = 0, n = TabCtrl_GetItemCount(tabs); i < n && i <= cmd::kTabLast - cmd::kTabFirst;
         ++i) {
        TCITEMA ti{};
        ti.mask = TCIF_PARAM;
        if (!TabCtrl_GetItem(tabs, i, &ti)) continue;
        const Tab* t = reinterpret_cast<const Tab*>(ti.lParam);
        AppendMenuA(menu, MF_STRING | (i == current ? MF_CHECKED : 0),
                    static_cast<UINT_PTR>(cmd::kTabFirst + i), t->name);
    }
}

void trayIcon(DWORD op, TrayIcon icon) {
    NOTIFYICONDATAA nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = windowParts().main;
    nid.uID = kTrayIconId;
    nid.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    nid.uCallbackMessage = kMsgTray;
    nid.hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(static_cast<int>(icon)));
    lstrcpynA(nid.szTip, report::kAppTitle, sizeof nid.szTip);
    Shell_NotifyIconA(op, &nid);
}

void toTray(HWND main) {
    if (runState().inTray.load()) return;
    trayIcon(NIM_ADD, runState().running() ? TrayIcon::Busy : TrayIcon::Normal);
    g_trayShown = true;
    runState().inTray = true;
    ShowWindow(main, SW_HIDE);
}

void fromTray(HWND main) {
    if (!runState().inTray.load()) return;
    ShowWindow(main, SW_SHOW);
    if (IsIconic(main)) ShowWindow(main, SW_RESTORE);
    bringToFront(main);
    if (g_trayShown) trayIcon(NIM_DELETE, TrayIcon::Normal);
    g_trayShown = false;
    runState().inTray = false;
    focusCurrentList(main);
}

void trayCallback(HWND main, LPARAM lp) {
    if (lp == WM_LBUTTONDOWN) {
        fromTray(main);
    } else if (lp == WM_RBUTTONDOWN) {
        HMENU bar = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAYMENU));
        POINT p;
        GetCursorPos(&p);
        SetForegroundWindow(main);
        TrackPopupMenu(GetSubMenu(bar, 0), TPM_RIGHTBUTTON, p.x, p.y, 0, main, nullptr);
        PostMessageA(main, WM_NULL, 0, 0);
        DestroyMenu(bar);
    }
}

ExitState exitState() {
    const RunState& r = runState();
    return {r.running(), r.processing.load(), r.composersWaiting.load()};
}

// The tray menu's exit and the workers' deferred exit.
void exitFrom(HWND main, ExitSource source) {
    switch (exitDecision(exitState(), source)) {
        case ExitAction::DestroyNow:
            KillTimer(main, kExitRetryTimer);
            DestroyWindow(main);
            return;
        case ExitAction::CloseChecks:
            SendMessageA(main, WM_CLOSE, 0, 0);
            return;
        case ExitAction::Refuse:
            report::notice(*windowParts().env, kComposerWaiting);
            return;
        case ExitAction::Wait:
            SetTimer(main, kExitRetryTimer, kExitRetryMs, nullptr);
            return;
    }
}

void hotKey(HWND main, Env& env) {
    const bool toggles = platform::readInt(env.ini, "Option", "HotkeyActive_Out", 1) != 0;
    if (!toggles) {
        fromTray(main);
        return;
    }
    HWND front = GetForegroundWindow();
    // No foreground window while activation is on its way: this thread's active one is in front.
    if (!front) front = GetActiveWindow();
    if (front != main) {
        g_previousFront = front;
        if (runState().inTray.load()) {
            fromTray(main);
        } else {
            if (IsIconic(main)) ShowWindow(main, SW_RESTORE);
            bringToFront(main);
        }
    } else if (g_previousFront && IsWindow(g_previousFront)) {
        bringToFront(g_previousFront);
    }
}

void registerHotKey(HWND main, Env& env) {
    const auto vk = static_cast<UINT>(platform::readInt(env.ini, "Option", "Hotkey", 0));
    const auto mods = static_cast<int>(platform::readInt(env.ini, "Option", "HotkeyModifi", 0));
    if (vk == 0) return;
    // Held by another program: say so once and run without it.
    if (!RegisterHotKey(main, kHotKeyId, static_cast<UINT>(hotKeyModifiers(mods)), vk))
        report::notice(env, kHotKeyTaken);
}

INT_PTR CALLBACK aboutProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_INITDIALOG) return TRUE;
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(dlg, IDOK);
        return TRUE;
    }
    return FALSE;
}

LRESULT CALLBACK postProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg >= WM_APP && msg < 0xC000 && windowParts().main) {
        MSG m{};
        m.message = msg;
        m.wParam = wp;
        m.lParam = lp;
        handleThreadMessage(windowParts().main, m);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void registerCommands(ShellContext& c) {
    Env& env = c.program.env;
    HWND main = c.main;
    c.commands.add(cmd::kToTray, [main](int) { toTray(main); });
    c.commands.add(cmd::kFromTray, [main](int) { fromTray(main); });
    c.commands.add(cmd::kTrayExit, [main](int) { exitFrom(main, ExitSource::Tray); });
    c.commands.add(
        cmd::kShortcutSettings, [main, &env](int) { runShortcutDialog(main, env); },
        kCmdNotDuringRun);
    c.commands.add(
        cmd::kToolBarSettings, [main, &env](int) { runToolBarDialog(main, env); },
        kCmdNotDuringRun);
    c.commands.add(cmd::kShortcutList, [main](int) { showShortcutList(main); });
    c.commands.add(cmd::kAbout, [main](int) {
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), main, aboutProc, 0);
    });
    c.commands.add(cmd::kHelp, [main, &env](int) {
        const std::string help = sjis::joinPath(env.programFolder, "Kolvy.hlp");
        if (!env.fs.exists(help)) {
            report::report(env, kNoHelpFile);
            return;
        }
        WinHelpA(main, help.c_str(), HELP_CONTENTS, 0);
    });
    c.commands.add(
        cmd::kTabFirst, [main](int id) { selectTabItem(main, id - cmd::kTabFirst); },
        kCmdWhileProcessing, cmd::kTabLast);
}

}  // namespace

WindowParts& windowParts() {
    static WindowParts parts;
    return parts;
}

void traceCommand(const char* what, int number, const char* outcome) {
    static const bool on = std::getenv("KOLVY_TRACE_COMMANDS") != nullptr;
    if (!on || !windowParts().env) return;
    std::string line = std::string(what) + " " + std::to_string(number);
    if (*outcome) line += std::string(" ") + outcome;
    report::appendCommLog(*windowParts().env, line);
}

void selectTabItem(HWND main, int item) {
    HWND tabs = windowParts().tabs;
    if (item < 0 || item >= TabCtrl_GetItemCount(tabs)) return;
    // As if the user had clicked the tab: the window keeps the old list's place first.
    NMHDR h{tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)), static_cast<UINT>(TCN_SELCHANGING)};
    SendMessageA(main, WM_NOTIFY, h.idFrom, reinterpret_cast<LPARAM>(&h));
    TabCtrl_SetCurSel(tabs, item);
    h.code = static_cast<UINT>(TCN_SELCHANGE);
    SendMessageA(main, WM_NOTIFY, h.idFrom, reinterpret_cast<LPARAM>(&h));
}

void initMenuPopup(HMENU menu) {
    if (GetMenuItemID(menu, 0) == static_cast<UINT>(cmd::kTabSettings)) fillTabMenu(menu);
    const RunMenus state = windowParts().runMenus;
    for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
        bool enabled;
        if (HMENU sub = GetSubMenu(menu, i)) {
            enabled = !greyedDuringRun(firstCommand(sub), runKind(state));
        } else {
            const UINT id = GetMenuItemID(menu, i);
            if (id == 0) continue;  // separator
            enabled = commandEnabled(static_cast<int>(id));
        }
        EnableMenuItem(menu, static_cast<UINT>(i),
                       MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
    }
}

HWND createPostWindow(HINSTANCE instance) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = postProc;
    wc.hInstance = instance;
    wc.lpszClassName = kPostClass;
    RegisterClassA(&wc);
    HWND w =
        CreateWindowExA(0, kPostClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    windowParts().post = w;
    platform::win32::setPostWindow(w);
    return w;
}

bool postToMain(UINT msg, WPARAM wp, LPARAM lp) {
    HWND w = windowParts().post;
    return w && PostMessageA(w, msg, wp, lp) != 0;
}

void windowDestroyed(HWND main) {
    platform::win32::setPostWindow(nullptr);
    if (windowParts().post) DestroyWindow(windowParts().post);
    windowParts().post = nullptr;
    windowParts().main = nullptr;
    removeKeyboardHook();
    UnregisterHotKey(main, kHotKeyId);
    KillTimer(main, kExitRetryTimer);
}

void removeTray() {
    if (g_trayShown) trayIcon(NIM_DELETE, TrayIcon::Normal);
    g_trayShown = false;
}

void registerWindowCommands(ShellContext& c) {
    g_commands = &c.commands;
    registerCommands(c);
    HWND main = c.main;
    Env& env = c.program.env;
    c.messages.onMessage(kMsgTray, [main](WPARAM, LPARAM lp) { trayCallback(main, lp); });
    c.messages.onMessage(kMsgDeferredExit,
                         [main](WPARAM, LPARAM) { exitFrom(main, ExitSource::Deferred); });
    c.messages.onTimer(kExitRetryTimer, [main] { exitFrom(main, ExitSource::Deferred); });
    c.messages.onMessage(WM_HOTKEY, [main, &env](WPARAM id, LPARAM) {
        if (id == kHotKeyId) hotKey(main, env);
    });
    loadShortcutKeys(env);
    installKeyboardHook();
    registerHotKey(main, env);
    setRunMenus(main, RunMenus::Idle);
}

bool closeAllowed(HWND) {
    if (exitDecision(exitState(), ExitSource::Close) != ExitAction::Refuse) return true;
    report::notice(*windowParts().env, kComposerWaiting);
    return false;
}

void startInTray(HWND main) {
    toTray(main);
}

// ---- the services the other modules call
void setRunMenus(HWND main, RunMenus state) {
    windowParts().runMenus = state;
    enableToolButtons(commandEnabled);
    DrawMenuBar(main);
}

void redrawRunStatus(HWND) {
    if (HWND s = windowParts().status) InvalidateRect(s, nullptr, FALSE);
}

void setTrayIcon(HWND, TrayIcon icon) {
    if (g_trayShown) trayIcon(NIM_MODIFY, icon);
}

void redrawTabs(HWND) {
    if (HWND t = windowParts().tabs) InvalidateRect(t, nullptr, FALSE);
}

bool drawStatusField(const DRAWITEMSTRUCT& d) {
    if (d.itemID < kStatusAccountPart || d.itemID > kStatusProgressPart) return false;
    RunStatus& s = runStatus();
    std::string text;
    int percent = -1;
    {
        std::lock_guard<std::mutex> lock(s.lock);
        if (d.itemID == kStatusAccountPart) {
            text = s.accountText();
        } else if (d.itemID == kStatusStatePart) {
            text = s.stateText();
        } else if (s.state >= 0) {
            percent = s.percent < 0 ? 0 : (s.percent > 100 ? 100 : s.percent);
            if (s.analysing) text = "データ処理中";
            if (s.blocking) text = "回線がビジーです";
        }
    }
    RECT r = d.rcItem;
    FillRect(d.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
    if (percent >= 0 && text.empty()) {
        RECT bar = r;
        InflateRect(&bar, -2, -2);
        FrameRect(d.hDC, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
        InflateRect(&bar, -1, -1);
        bar.right = bar.left + (bar.right - bar.left) * percent / 100;
        FillRect(d.hDC, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
        return true;
    }
    SetBkMode(d.hDC, TRANSPARENT);
    SetTextColor(d.hDC, GetSysColor(COLOR_BTNTEXT));
    r.left += 2;
    DrawTextA(d.hDC, text.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    return true;
}
}  // namespace kolvy::shell::win32
