// Entry points of a plug-in whose feature has not been built yet say so plainly instead of
// pretending to work.
#pragma once

#include <windows.h>

namespace kolvy::plugins {

inline void showNotBuilt(HWND owner, const char* feature) {
    char text[256];
    wsprintfA(text, "%sはまだ組み込まれていません。   ", feature);
    MessageBoxA(owner, text, "Kolvyメール", MB_OK | MB_ICONINFORMATION);
}

}  // namespace kolvy::plugins
