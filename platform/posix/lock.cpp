#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "platform/retry.h"

namespace kolvy::platform {
namespace {

constexpr unsigned kRetryMs = 100;

class PosixFileLock final : public FileLock {
  public:
    explicit PosixFileLock(int fd) : fd_(fd) {}
    ~PosixFileLock() override { ::close(fd_); }  // closing drops the lock
    PosixFileLock(const PosixFileLock&) = delete;
    PosixFileLock& operator=(const PosixFileLock&) = delete;

  private:
    int fd_;
};

}  // namespace

size_t fileNameUnits(std::string_view sjisName) {
    auto utf8 = sjisToUtf8(sjisName);
    return utf8 ? utf8->size() : SIZE_MAX;
}

Result<std::unique_ptr<FileLock>> lockFile(std::string_view path, unsigned waitMs) {
    auto p = posix::nativePath(path);
    if (!p) return Err::Invalid;
    const int fd = ::open(p->c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EACCES || errno == EROFS ? Err::Access : Err::Io;
    // Another holder: tried again every kRetryMs until waitMs have passed.
    const RetryPolicy wait{static_cast<int>(waitMs / kRetryMs) + 1, kRetryMs, 1};
    bool held = false;
    auto lock = retry(
        wait,
        [&]() -> Result<std::unique_ptr<FileLock>> {
            // flock locks belong to the open file: a second open in this process conflicts too.
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
                return std::unique_ptr<FileLock>(std::make_unique<PosixFileLock>(fd));
            held = errno == EWOULDBLOCK || errno == EINTR;
            return held ? Err::Access : Err::Io;
        },
        [&](Err) { return held; });
    if (!lock) ::close(fd);
    return lock;
}

}  // namespace kolvy::platform
