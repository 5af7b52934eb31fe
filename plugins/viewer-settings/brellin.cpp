// Brellin.dll: the settings dialog and view-script editor of the mail viewer.
#include <windows.h>

#include <algorithm>

#include "core/sjis.h"
#include "plugins/viewer-settings/brellin_win32.h"

namespace kolvy::viewer {

Host& host() {
    static Host h;
    return h;
}

HFONT uiFont() {
    static HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0,
                                    "ＭＳ Ｐゴシック");
    return font;
}

HWND addControl(HWND parent, const char* cls, const char* text, DWORD style, int x, int y, int w,
                int h, int id, DWORD exStyle) {
    HWND c =
        CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), host().self, nullptr);
    if (c) SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont()), FALSE);
    return c;
}

void placeOver(HWND window, HWND owner, int width, int height) {
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    RECT around = work;
    if (owner && IsWindowVisible(owner)) GetWindowRect(owner, &around);
    int x = (around.left + around.right - width) / 2;
    int y = (around.top + around.bottom - height) / 2;
    x = std::max<int>(work.left, std::min<int>(x, work.right - width));
    y = std::max<int>(work.top, std::min<int>(y, work.bottom - height));
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// The viewer is one of the family's programs; a program of another name still gets its settings
// beside its own executable rather than nowhere.
void discoverHost(HINSTANCE self) {
    Host& h = host();
    h.self = self;
    for (const char* name : {"Kolvy.exe", "Pivra.exe", "Skelda.exe"}) {
        if ((h.module = GetModuleHandleA(name)) != nullptr) break;
    }
    if (!h.module) h.module = GetModuleHandleA(nullptr);
    char path[MAX_PATH * 2] = {};
    const DWORD n = GetModuleFileNameA(h.module, path, sizeof path - 1);
    h.folder = std::string(sjis::parentPath(std::string_view(path, n)));
    h.iniPath = h.folder + "\\Ombrel.ini";
    h.reRead = reinterpret_cast<ReReadOmbrelFn>(
        reinterpret_cast<void*>(GetProcAddress(h.module, "KVA_ReReadOmbrel")));
}

}  // namespace
}  // namespace kolvy::viewer

extern "C" {

int WINAPI Brellin(HWND owner, ViewerSettings* settings, ShortcutNode* shortcutHead,
                   CustomHeaderNode* headerHead, int mode) {
    if (!settings || !shortcutHead || !headerHead) return 2;  // nothing to show or change
    return kolvy::viewer::runSettingsDialog(owner, settings, shortcutHead, headerHead, mode);
}

HWND WINAPI ViewScript(HWND owner, const char* address, ViewScriptNode* scriptHead) {
    if (!scriptHead) return nullptr;
    return kolvy::viewer::openScriptEditor(owner, address ? address : "", scriptHead);
}

void WINAPI SelectViewScript(const char* address) {
    kolvy::viewer::selectScript(address ? address : "");
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(self);
        kolvy::viewer::discoverHost(self);
    }
    return TRUE;
}

}  // extern "C"
