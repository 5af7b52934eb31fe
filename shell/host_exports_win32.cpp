#include "shell/host_exports_win32.h"

#include "core/sjis.h"

namespace kolvy::shell::win32 {
namespace {

HWND g_main = nullptr;
std::string g_dataFolder;

}  // namespace

void setPluginHost(HWND main, std::string dataFolder) {
    g_main = main;
    g_dataFolder = std::move(dataFolder);
}

}  // namespace kolvy::shell::win32

using kolvy::shell::win32::g_dataFolder;
using kolvy::shell::win32::g_main;

extern "C" {

int KOLVY_STDCALL AllMokujiRead(Tab* tab) {
    if (!g_main || !tab) return 0;
    return static_cast<int>(SendMessageA(g_main, kolvy::shell::win32::kMsgHostReadWholeIndex, 0,
                                         reinterpret_cast<LPARAM>(tab)));
}

void KOLVY_STDCALL TabStatus() {
    if (g_main) SendMessageA(g_main, kolvy::shell::win32::kMsgHostTabStatus, 0, 0);
}

// Tabs are not held inside other tabs here: every tab's folder lies in the data folder.
void KOLVY_STDCALL GetCurrentPath(Tab* tab, char* out) {
    if (!out) return;
    (void)tab;
    kolvy::sjis::copyBounded(out, MAX_PATH, g_dataFolder);
}

}  // extern "C"
