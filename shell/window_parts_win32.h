// The main window's own pieces as its files share them: tool bar and account pane, shortcut
// keys and the keyboard hook, tray icon and hot key, the dialogs of the window settings.
#pragma once

#include <windows.h>

#include "shell/run_status.h"
#include "shell/shell_context_win32.h"

namespace kolvy::shell::win32 {

inline constexpr int kToolBarId = 180;
inline constexpr UINT kMsgTray = 0x8002;
inline constexpr UINT kTrayIconId = 170;
inline constexpr int kHotKeyId = 22;
// The message-only window the workers post to.
inline constexpr char kPostClass[] = "KolvyPost";

// There is one main window per process; its parts, for the files that draw or drive them.
struct WindowParts {
    HWND main = nullptr;
    HWND toolBar = nullptr;
    HWND pane = nullptr;        // "AcountView"
    HWND paneOrders = nullptr;  // the pane's list of orders
    HWND status = nullptr;
    HWND tabs = nullptr;
    HWND post = nullptr;
    Env* env = nullptr;
    RunMenus runMenus = RunMenus::Idle;
    bool menuLoop = false;
};
WindowParts& windowParts();

// Set KOLVY_TRACE_COMMANDS to have every command and shortcut written to the communication log
// (how the window tests see what a key reached).
void traceCommand(const char* what, int number, const char* outcome);

// ---- tool bar and account pane (toolbar_win32.cpp)
bool registerPaneClass(HINSTANCE instance);
HWND createToolBar(HWND main, Env& env);
// Puts the buttons of Option/ToolBarIcon on the tool bar again (after the dialog).
void rebuildToolBar(Env& env);
int toolBarHeight();
// The tool tips: true when it was the tool bar's.
bool toolTipText(const NMHDR& h);
void enableToolButtons(bool (*enabled)(int command));
void movePaneSelection(int delta);
void runToolBarDialog(HWND main, Env& env);

// ---- shortcut keys (shortcuts_win32.cpp)
void loadShortcutKeys(Env& env);
// A key-down the window received or the hook saw: true when it was a shortcut.
bool shortcutKeyDown(HWND main, int virtualKey);
void installKeyboardHook();
void removeKeyboardHook();
void runShortcutDialog(HWND main, Env& env);
void showShortcutList(HWND main);

// ---- window_commands_win32.cpp
// The status area's fields: the tab's kind and counters, then the run's three.
inline constexpr UINT kStatusAccountPart = 2;
inline constexpr UINT kStatusStatePart = 3;
inline constexpr UINT kStatusProgressPart = 4;
// Makes tab item `item` current as a click on it would.
void selectTabItem(HWND main, int item);
// Greys what nobody registered and what a run must not meet; fills the tab list.
void initMenuPopup(HMENU menu);
HWND createPostWindow(HINSTANCE instance);
void windowDestroyed(HWND main);
void removeTray();
void startInTray(HWND main);
// The close request: false when a composer waits on the editor (it has been said).
bool closeAllowed(HWND main);
// Draws an owner-drawn field of the status area; false when it is none of the run's.
bool drawStatusField(const DRAWITEMSTRUCT& d);

}  // namespace kolvy::shell::win32
