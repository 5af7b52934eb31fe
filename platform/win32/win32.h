// Win32-only parts of the platform layer that the shell needs.
#pragma once

#include <windows.h>

#include "core/result.h"

namespace kolvy::platform::win32 {

// Message boxes are owned by this window (the main window once it exists).
void setOwnerWindow(HWND hwnd);
HWND ownerWindow();
// Posts to the main thread go to this window once it is set (null: as thread messages).
void setPostWindow(HWND hwnd);
Err fromLastError(DWORD code);

}  // namespace kolvy::platform::win32
