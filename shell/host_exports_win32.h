// The functions Kolvy.exe exports to the plug-ins loaded into it (the search plug-in binds them
// by name). Plug-ins call them from threads of their own: whatever touches the main window or
// its lists is sent to the main window, whose thread does the work.
#pragma once

#include <windows.h>

#include <string>

#include "core/records.h"

namespace kolvy::shell::win32 {

// Messages the exports send to the main window.
// Above the numbered messages of the workers and the tray (0x8000-0x800E).
inline constexpr UINT kMsgHostReadWholeIndex =
    WM_APP + 0x101;  // lParam: Tab*; result: entries added
inline constexpr UINT kMsgHostTabStatus = WM_APP + 0x102;

// The main window and the data folder the exports serve; null/empty before and after the run.
void setPluginHost(HWND main, std::string dataFolder);

}  // namespace kolvy::shell::win32

extern "C" {
int KOLVY_STDCALL AllMokujiRead(Tab* tab);
void KOLVY_STDCALL TabStatus();
void KOLVY_STDCALL GetCurrentPath(Tab* tab, char* out);
}
