// window_startup_probe FOLDER ROWS RUNS: starts FOLDER\Kolvy.exe RUNS times and prints the median
// milliseconds from the start of the process to its main window drawn with at least ROWS rows
// of the current tab listed (start-up reads an index from its tail: the rows of the first
// screens). Drawn: the window shows the rows and has answered a message, which it does
// only after it painted and entered its message loop.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Find {
    DWORD pid;
    HWND main;
};

BOOL CALLBACK findMain(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<Find*>(lp);
    DWORD pid = 0;
    char cls[32] = {};
    GetWindowThreadProcessId(h, &pid);
    GetClassNameA(h, cls, sizeof cls);
    if (pid == f->pid && lstrcmpA(cls, "MainWindow") == 0 && IsWindowVisible(h)) {
        f->main = h;
        return FALSE;
    }
    return TRUE;
}

LRESULT shownRows(HWND main) {
    for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpA(cls, "SysListView32") == 0 && IsWindowVisible(c))
            return SendMessageA(c, 0x1004 /* LVM_GETITEMCOUNT */, 0, 0);
    }
    return -1;
}

// Milliseconds to the drawn window; negative on failure.
double once(const std::string& folder, LRESULT rows) {
    const std::string exe = folder + "\\Kolvy.exe";
    std::string cmd = "\"" + exe + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &si, &pi))
        return -1;
    Find f{pi.dwProcessId, nullptr};
    double ms = -1;
    for (int i = 0; i < 60000; ++i) {
        if (!f.main) EnumWindows(findMain, reinterpret_cast<LPARAM>(&f));
        DWORD_PTR r = 0;
        if (f.main && shownRows(f.main) >= rows &&
            SendMessageTimeoutA(f.main, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &r)) {
            QueryPerformanceCounter(&t1);
            ms = 1000.0 * double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
            break;
        }
        Sleep(1);
    }
    if (f.main) PostMessageA(f.main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 1);  // our own child, by its handle
        ms = -1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: window_startup_probe FOLDER ROWS RUNS\n");
        return 2;
    }
    const std::string folder = argv[1];
    const LRESULT rows = std::atol(argv[2]);
    const int runs = std::atoi(argv[3]);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = once(folder, rows);
        if (ms < 0) {
            std::fprintf(stderr, "window_startup_probe: run %d failed\n", i);
            return 1;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.0f\n", times[times.size() / 2]);
    return 0;
}
