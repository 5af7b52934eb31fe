// Win32-only parts of the platform layer that the shell needs.
#pragma once

#include <windows.h>

#include "core/result.h"

namespace kolvy::platform::win32 {

// Message boxes are owned by this window (the main window once it exists).
void setOwnerWindow(HWND hwnd);
HWND ownerWindow();
Err fromLastError(DWORD code);

}  // namespace kolvy::platform::win32
