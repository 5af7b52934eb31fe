// wintool: small window helper for scripts and tests that drive the program under Wine.
//   wintool wait CLASS [TIMEOUT_MS]    wait until a visible top-level window of CLASS exists
//   wintool close CLASS [TIMEOUT_MS]   ask it to close (WM_CLOSE) and wait until it is gone
//   wintool title CLASS                print its title
// Exit status 0 on success, 1 on time-out or when there is no such window.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND findVisible(const char* cls) {
    HWND h = FindWindowA(cls, nullptr);
    return (h && IsWindowVisible(h)) ? h : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: wintool wait|close|title CLASS [TIMEOUT_MS]\n");
        return 2;
    }
    const char* cmd = argv[1];
    const char* cls = argv[2];
    const DWORD timeout = argc > 3 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 30000;
    const DWORD start = GetTickCount();
    auto expired = [&] { return GetTickCount() - start > timeout; };

    if (std::strcmp(cmd, "wait") == 0) {
        while (!findVisible(cls)) {
            if (expired()) return 1;
            Sleep(100);
        }
        return 0;
    }
    if (std::strcmp(cmd, "close") == 0) {
        HWND h = FindWindowA(cls, nullptr);
        if (!h) return 1;
        PostMessageA(h, WM_CLOSE, 0, 0);
        while (IsWindow(h)) {
            if (expired()) return 1;
            Sleep(100);
        }
        return 0;
    }
    if (std::strcmp(cmd, "title") == 0) {
        HWND h = FindWindowA(cls, nullptr);
        if (!h) return 1;
        char buf[512] = {};
        GetWindowTextA(h, buf, sizeof buf);
        std::fwrite(buf, 1, std::strlen(buf), stdout);
        std::fputc('\n', stdout);
        return 0;
    }
    return 2;
}
