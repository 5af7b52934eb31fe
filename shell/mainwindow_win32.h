// The main window: tab control, one list view per open tab and the status area. The decisions
// (loaders, close checks, shutdown) are the Program's; this only creates, lays out and draws.
#pragma once

#include <windows.h>

#include <string>

#include "shell/program.h"

namespace kolvy::shell::win32 {

inline constexpr char kMainClass[] = "MainWindow";

// Thread messages the workers post to the main thread.
inline constexpr UINT kMsgTemporaryTab = 0x8001;  // the basic receive tab is full
inline constexpr UINT kMsgToFront = 0x8006;
inline constexpr UINT kMsgDeferredExit = 0x8009;
inline constexpr UINT kMsgBusyEnd = 0x800C;
inline constexpr UINT kMsgBusyStart = 0x800D;

bool registerMainWindowClass(HINSTANCE instance, HICON icon);
// Creating the window runs the loaders; null when one of them failed.
HWND createMainWindow(Program& program, HINSTANCE instance, const std::string& title, HMENU menu);
// Acts on a thread message after dispatch.
void handleThreadMessage(HWND main, const MSG& msg);
// Gives the main window's current list the focus.
void focusCurrentList(HWND main);
// Foreground through the input of the window in front.
void bringToFront(HWND hwnd);

}  // namespace kolvy::shell::win32
