// What the shell's modal dialog procedures share.
#pragma once

#include <windows.h>

namespace kolvy::shell::win32 {

// The argument the dialog was opened with (DialogBoxParam's last one): kept at WM_INITDIALOG,
// read back at every later message (null before it).
template <class T>
T* dialogArgs(HWND dlg, UINT msg, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(dlg, DWLP_USER, lp);
        return reinterpret_cast<T*>(lp);
    }
    return reinterpret_cast<T*>(GetWindowLongPtrA(dlg, DWLP_USER));
}

// Ends the dialog with `result`; TRUE, the message was handled.
inline INT_PTR endWith(HWND dlg, int result) {
    EndDialog(dlg, result);
    return TRUE;
}

// Cancel ends the dialog with IDCANCEL: TRUE when the command was Cancel.
inline INT_PTR endOnCancel(HWND dlg, WPARAM wp) {
    return LOWORD(wp) == IDCANCEL ? endWith(dlg, IDCANCEL) : FALSE;
}

}  // namespace kolvy::shell::win32
