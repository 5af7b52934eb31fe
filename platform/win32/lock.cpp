#include <climits>

#include "platform/platform.h"
#include "platform/retry.h"
#include "platform/win32/win32.h"

namespace kolvy::platform {
namespace {

constexpr unsigned kRetryMs = 100;

class Win32FileLock final : public FileLock {
  public:
    explicit Win32FileLock(HANDLE h) : h_(h) {}
    ~Win32FileLock() override { CloseHandle(h_); }  // closing drops the lock
    Win32FileLock(const Win32FileLock&) = delete;
    Win32FileLock& operator=(const Win32FileLock&) = delete;

  private:
    HANDLE h_;
};

}  // namespace

size_t fileNameUnits(std::string_view sjisName) {
    if (sjisName.empty()) return 0;
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, sjisName.data(),
                                      static_cast<int>(sjisName.size()), nullptr, 0);
    return n > 0 ? static_cast<size_t>(n) : SIZE_MAX;
}

Result<std::unique_ptr<FileLock>> lockFile(std::string_view path, unsigned waitMs) {
    const std::string p(path);
    // Others may open the file: the lock, not the sharing mode, keeps the second writer out.
    HANDLE h = CreateFileA(p.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::fromLastError(GetLastError());
    // Another holder: tried again every kRetryMs until waitMs have passed.
    const RetryPolicy wait{static_cast<int>(waitMs / kRetryMs) + 1, kRetryMs, 1};
    bool held = false;
    auto lock = retry(
        wait,
        [&]() -> Result<std::unique_ptr<FileLock>> {
            OVERLAPPED at{};
            if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
                return std::unique_ptr<FileLock>(std::make_unique<Win32FileLock>(h));
            const DWORD code = GetLastError();
            held = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
            return held ? Err::Access : win32::fromLastError(code);
        },
        [&](Err) { return held; });
    if (!lock) CloseHandle(h);
    return lock;
}

}  // namespace kolvy::platform
