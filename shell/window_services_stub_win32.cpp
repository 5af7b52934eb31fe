// Placeholders so that the program links until the window module's own definitions of these
// services land; they change nothing on the screen. Drop this file when they do.
#include "shell/shell_context_win32.h"

namespace kolvy::shell::win32 {

void setRunMenus(HWND, RunMenus) {}
void redrawRunStatus(HWND) {}
void setTrayIcon(HWND, TrayIcon) {}

}  // namespace kolvy::shell::win32
