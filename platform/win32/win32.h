// Win32-only parts of the platform layer that the shell needs.
#pragma once

#include <windows.h>

#include <string>

#include "core/result.h"

namespace kolvy::platform::win32 {

// Message boxes are owned by this window (the main window once it exists).
void setOwnerWindow(HWND hwnd);
HWND ownerWindow();
// Posts to the main thread go to this window once it is set (null: as thread messages).
void setPostWindow(HWND hwnd);
Err fromLastError(DWORD code);
// Starts playing a wave file (Shift_JIS path) and returns at once; false, silently, when the file
// is missing or cannot be played.
bool playSoundFile(const std::string& path);

}  // namespace kolvy::platform::win32
