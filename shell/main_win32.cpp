// Kolvy.exe: the program entry and the message loop.
#include <windows.h>

#include <string>

#include "config/accounts.h"
#include "core/sjis.h"
#include "platform/env.h"
#include "platform/win32/win32.h"
#include "pop/exports.h"
#include "report/report.h"
#include "shell/host_exports_win32.h"
#include "shell/mainwindow_win32.h"
#include "shell/program.h"
#include "shell/resource.h"
#include "shell/shell_context_win32.h"
#include "shell/window_parts_win32.h"
#include "store/paths.h"

namespace {

constexpr char kMutexName[] = "KOLVY_MUTEX";

// A second start hands over to the first instance: its window (or the box it shows) comes to the
// front, restored.
void showFirstInstance(const char* title) {
    HWND first = FindWindowA(kolvy::shell::win32::kMainClass, title);
    if (!first) return;  // still starting, or already gone
    if (!IsWindowVisible(first)) {
        // In the tray: out of it as a click on the icon takes it.
        PostMessageA(first, kolvy::shell::win32::kMsgTray, 0, WM_LBUTTONDOWN);
        return;
    }
    HWND popup = GetLastActivePopup(first);
    if (!popup) popup = first;
    SetForegroundWindow(popup);
    ShowWindow(popup, SW_RESTORE);
    if (popup != first && IsIconic(first)) ShowWindow(first, SW_RESTORE);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
    using namespace kolvy;
    const shell::CommandLine command = shell::parseCommandLine(commandLine ? commandLine : "");
    char title[64];
    if (LoadStringA(instance, IDS_APPTITLE, title, sizeof title) <= 0) {
        lstrcpynA(title, report::kAppTitle, sizeof title);
    }
    const std::string exe = platform::executablePath();
    const std::string programFolder(sjis::parentPath(exe));

    HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        showFirstInstance(title);
        CloseHandle(mutex);
        return 0;
    }

    if (!shell::win32::registerMainWindowClass(instance,
                                               LoadIconA(instance, MAKEINTRESOURCEA(IDI_KOLVY)))) {
        return 0;
    }
    auto fs = platform::makeFileSystem();
    auto ini = platform::makeProfile(sjis::joinPath(programFolder, "Kolvy.ini"));
    auto reporter = platform::makeReporter();
    Env env{*fs, *ini, *reporter, platform::systemClock(), programFolder};
    platform::mainThread();  // the thread that starts the program receives the workers' posts

    // One writer per program folder: a kolvytool at work on it is waited for, then refused.
    const auto writerLock = shell::lockProgramFolder(env);
    if (!writerLock) return 0;
    if (!shell::prepareDataFolder(env)) return 0;
    shell::Program program(env);
    program.placement = shell::readPlacement(*ini);
    // Plug-ins and the mail checker log in and name accounts through the exports.
    config::AccountList accounts;
    accounts.load(env);
    pop::setExportHost(&env, &accounts);

    HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINMENU));
    HWND main = shell::win32::createMainWindow(program, instance, title, menu);
    if (!main) return 0;
    shell::win32::setPluginHost(main, store::dataFolder(env));

    // A start to the tray, or to write to an address, waits in the tray.
    if (program.switches.startTaskTray || command.toAddress) {
        shell::win32::startInTray(main);
    } else {
        int showState = show;
        if (program.placement.showStatus == 1) showState = SW_SHOWMAXIMIZED;
        if (program.placement.showStatus == 2) showState = SW_SHOWMINIMIZED;
        ShowWindow(main, showState);
        UpdateWindow(main);
    }
    program.afterShow();
    shell::win32::focusCurrentList(main);
    if (command.toAddress) shell::win32::composeToAddress(main, command.address);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        if (!msg.hwnd) shell::win32::handleThreadMessage(main, msg);
    }
    shell::win32::setPluginHost(nullptr, {});
    pop::setExportHost(nullptr, nullptr);
    CloseHandle(mutex);
    return static_cast<int>(msg.wParam);
}
