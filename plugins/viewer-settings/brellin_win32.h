// Inside Brellin.dll: what the dialogs share about the program that loaded the library.
#pragma once

#include <windows.h>

#include <string>

#include "plugins/viewer-settings/viewer_records.h"

namespace kolvy::viewer {

struct Host {
    HINSTANCE self = nullptr;         // this library, for window classes
    HMODULE module = nullptr;         // the viewer's executable
    std::string folder;               // its folder, Shift_JIS, no trailing separator
    std::string iniPath;              // "<folder>\Ombrel.ini"
    ReReadOmbrelFn reRead = nullptr;  // absent in viewers that do not reread
};
Host& host();
// The dialogs' Japanese UI font.
HFONT uiFont();
// A child control with the UI font.
HWND addControl(HWND parent, const char* cls, const char* text, DWORD style, int x, int y, int w,
                int h, int id, DWORD exStyle = 0);

// Sizes a window and puts it over the middle of its owner, inside the screen's work area.
void placeOver(HWND window, HWND owner, int width, int height);

int runSettingsDialog(HWND owner, ViewerSettings* settings, ShortcutNode* shortcuts,
                      CustomHeaderNode* headers, int mode);
HWND openScriptEditor(HWND owner, const char* address, ViewScriptNode* scripts);
void selectScript(const char* address);

}  // namespace kolvy::viewer
