// The responsiveness probe of the receive benchmark: starts Kolvy.exe in a program folder, has it
// receive the selected order, and while the run works sends the window a message every 50 ms,
// noting the time between two answered probes. Prints "<largest gap ms> <messages> <seconds>".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Find {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK mainOf(HWND h, LPARAM lp) {
    auto* f = reinterpret_cast<Find*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (pid == f->pid && lstrcmpA(cls, "MainWindow") == 0 && IsWindowVisible(h)) {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

int storedCount(const std::string& folder) {
    WIN32_FIND_DATAA d;
    const std::string pattern = folder + "\\MailData\\受信\\????.txt";
    HANDLE h = FindFirstFileA(pattern.c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do {
        ++n;
    } while (FindNextFileA(h, &d));
    FindClose(h);
    return n;
}

std::string errorLogOut(const std::string& folder) {
    char buf[16] = {};
    GetPrivateProfileStringA("Option", "ErrorLogOut", "", buf, sizeof buf,
                             (folder + "\\Kolvy.ini").c_str());
    return buf;
}

double nowMs() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: receive_probe <program-folder> <messages>\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int expected = std::atoi(argv[2]);
    const std::string exe = folder + "\\Kolvy.exe";
    std::string cmd = "\"" + exe + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &si, &pi)) {
        std::fprintf(stderr, "receive_probe: Kolvy.exe did not start\n");
        return 1;
    }
    Find f{pi.dwProcessId, nullptr};
    for (int i = 0; i < 600 && !f.found; ++i) {
        Sleep(100);
        EnumWindows(mainOf, reinterpret_cast<LPARAM>(&f));
    }
    if (!f.found) {
        TerminateProcess(pi.hProcess, 1);
        return 1;
    }
    Sleep(1000);
    WritePrivateProfileStringA("Option", "ErrorLogOut", "idle", (folder + "\\Kolvy.ini").c_str());
    // With no messages expected the window is only probed, idle, for five seconds.
    if (expected > 0) PostMessageA(f.found, WM_COMMAND, 40003, 0);
    const double start = nowMs();
    double last = start, largest = 0, largestAt = 0;
    for (int probe = 0;; ++probe) {
        DWORD_PTR r = 0;
        SendMessageTimeoutA(f.found, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &r);
        const double t = nowMs();
        if (t - last > largest) {
            largest = t - last;
            largestAt = t - start;
        }
        last = t;
        if (expected == 0 && t - start > 5000) break;
        if (expected > 0 && probe % 10 == 0 && errorLogOut(folder) == "0" &&
            storedCount(folder) >= expected)
            break;
        if (t - start > 900000) break;
        const double next = start + 50.0 * (probe + 1);
        const double wait = next - nowMs();
        if (wait > 0) Sleep(static_cast<DWORD>(wait));
    }
    const double seconds = (nowMs() - start) / 1000.0;
    const int stored = storedCount(folder);
    PostMessageA(f.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 1);
    std::printf("%.0f %d %.1f\n", largest, stored, seconds);
    std::fprintf(stderr, "largest gap at %.1f s\n", largestAt / 1000.0);
    return stored >= expected ? 0 : 1;
}
