// A stand-in for the utility library's new-mail list, for the notice tests: one line per tab with
// unread new mail, drawn above the dialog's buttons.
#include <windows.h>

#include <string>

#include "core/records.h"

namespace {

int lines(const Tab* head) {
    int n = 0;
    for (const Tab* t = head->next; t; t = t->next)
        n += t->kind != 1 && t->newMailCount > 0;
    return n;
}

}  // namespace

extern "C" int WINAPI ZV_SinchakuList(HWND dlg, Tab* head, int mode, int fontSize) {
    (void)fontSize;
    const int n = lines(head);
    if (mode == 0) return n;
    RECT c;
    GetClientRect(dlg, &c);
    HDC dc = GetDC(dlg);
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0)));
    int y = c.bottom - 34 - 13 * n;
    for (const Tab* t = head->next; t; t = t->next) {
        if (t->kind == 1 || t->newMailCount <= 0) continue;
        const std::string line =
            std::string(t->name) + "  " + std::to_string(t->newMailCount) + "通";
        TextOutA(dc, 40, y, line.c_str(), static_cast<int>(line.size()));
        y += 13;
    }
    ReleaseDC(dlg, dc);
    return n;
}
