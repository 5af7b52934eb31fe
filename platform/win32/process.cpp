// On Windows the editor is started with CreateProcess and waited for with WaitForSingleObject.
#include <windows.h>

#include <vector>

#include "platform/process.h"
#include "platform/win32/win32.h"

namespace kolvy::platform {

Result<int> runAndWait(std::string_view program, std::string_view argument) {
    if (program.empty()) return Err::NotFound;
    std::string line = quotedCommandLine(program, argument);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return win32::fromLastError(GetLastError());
    }
    CloseHandle(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    const BOOL got = GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    if (!got) return Err::Io;
    return static_cast<int>(code);
}

std::string defaultEditor() {
    return "notepad.exe";
}

}  // namespace kolvy::platform
