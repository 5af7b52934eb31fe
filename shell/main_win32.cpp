// Kolvy.exe: the program entry, the main window and the message loop.
#include <windows.h>

#include <string>

#include "core/env.h"
#include "core/sjis.h"
#include "platform/win32/win32.h"
#include "shell/report.h"
#include "shell/resource.h"

namespace {

constexpr char kMainClass[] = "MainWindow";

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            if (LOWORD(wp) == IDM_EXIT) {
                PostMessageA(hwnd, WM_CLOSE, 0, 0);
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DESTROY:
            kolvy::platform::win32::setOwnerWindow(nullptr);
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    using namespace kolvy;
    char title[64];
    if (LoadStringA(instance, IDS_APPTITLE, title, sizeof title) <= 0) {
        lstrcpynA(title, shell::kAppTitle, sizeof title);
    }
    const std::string exe = platform::executablePath();
    const std::string programFolder(sjis::parentPath(exe));

    auto fs = platform::makeFileSystem();
    auto ini = platform::makeProfile(sjis::joinPath(programFolder, "Kolvy.ini"));
    auto reporter = platform::makeReporter();
    Env env{*fs, *ini, *reporter, platform::systemClock(), programFolder};
    platform::mainThread();  // the thread that starts the program receives the workers' posts

    WNDCLASSA wc{};
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KOLVY));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kMainClass;
    if (!RegisterClassA(&wc)) return 0;

    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINMENU));
    HWND hwnd = CreateWindowExA(0, kMainClass, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 645, 438, nullptr, menu, instance, nullptr);
    if (!hwnd) return 0;
    platform::win32::setOwnerWindow(hwnd);
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
