#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/platform.h"
#include "platform/posix/posix.h"

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
    for (unsigned waited = 0;; waited += kRetryMs) {
        // flock locks belong to the open file: a second open in this process conflicts too.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return std::unique_ptr<FileLock>(std::make_unique<PosixFileLock>(fd));
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(fd);
            return Err::Io;
        }
        if (waited >= waitMs) {
            ::close(fd);
            return Err::Access;
        }
        sleepMs(kRetryMs);
    }
}

}  // namespace kolvy::platform
