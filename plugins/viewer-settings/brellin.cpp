// Brellin.dll: the settings dialog and view-script editor of the mail viewer.
#include <windows.h>

#include "plugins/not_built.h"
#include "plugins/viewer-settings/viewer_records.h"

extern "C" {

int WINAPI Brellin(HWND owner, ViewerSettings* settings, ShortcutNode* shortcutHead,
                   CustomHeaderNode* headerHead, int mode) {
    (void)settings;
    (void)shortcutHead;
    (void)headerHead;
    (void)mode;
    kolvy::plugins::showNotBuilt(owner, "ビューアの設定");
    return 2;  // Cancel: nothing was changed
}

HWND WINAPI ViewScript(HWND owner, const char* address, ViewScriptNode* scriptHead) {
    (void)address;
    (void)scriptHead;
    kolvy::plugins::showNotBuilt(owner, "ビュースクリプト");
    return nullptr;
}

// Only called while the editor is open, and ViewScript opens none yet: a box here would pop up
// each time the viewer changed message.
void WINAPI SelectViewScript(const char* address) {
    (void)address;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
