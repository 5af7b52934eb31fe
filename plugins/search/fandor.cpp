// Fandor.dll: the search window of the program.
#include <windows.h>

#include "core/records.h"
#include "plugins/not_built.h"

extern "C" {

int WINAPI FandorFunc(HWND owner, Tab* tabHead) {
    (void)tabHead;
    kolvy::plugins::showNotBuilt(owner, "検索機能");
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

}  // extern "C"
