#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/platform.h"
#include "platform/posix/posix.h"

namespace kolvy::platform {
namespace posix {

std::optional<std::string> nativePath(std::string_view sjisPath) {
    std::string out(sjisPath.size() * 3 + 1, '\0');
    auto n = textCodec().sjisToUtf8(sjisPath, out);
    if (!n) return std::nullopt;
    out.resize(*n);
    // In UTF-8 a 0x5C byte is always the backslash itself, never part of a character.
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

std::optional<std::string> programName(std::string_view utf8Name) {
    std::string out(utf8Name.size() + 1, '\0');
    auto n = textCodec().utf8ToSjis(utf8Name, out);
    if (!n) return std::nullopt;
    out.resize(*n);
    return out;
}

}  // namespace posix

namespace {

Err fromErrno(int e) {
    switch (e) {
        case ENOENT:
        case ENOTDIR:
            return Err::NotFound;
        case EEXIST:
        case ENOTEMPTY:
            return Err::Exists;
        case EACCES:
        case EPERM:
        case EROFS:
        case EBUSY:
            return Err::Access;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return Err::DiskFull;
        case ENAMETOOLONG:
        case EINVAL:
        case EISDIR:
            return Err::Invalid;
        case ENOMEM:
            return Err::NoMemory;
        default:
            return Err::Io;
    }
}

class PosixFile final : public File {
  public:
    PosixFile(int fd, bool append) : fd_(fd), append_(append) {}
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    Result<size_t> read(std::span<char> out) override {
        for (;;) {
            const ssize_t n = ::read(fd_, out.data(), out.size());
            if (n >= 0) return static_cast<size_t>(n);
            if (errno != EINTR) return fromErrno(errno);
        }
    }
    Result<size_t> readAt(uint64_t offset, std::span<char> out) override {
        size_t got = 0;
        while (got < out.size()) {
            const ssize_t n =
                ::pread(fd_, out.data() + got, out.size() - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fromErrno(errno);
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        return got;
    }
    Err write(std::string_view data) override {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fromErrno(errno);
            done += static_cast<size_t>(n);
        }
        return Err::None;
    }
    Err writeAt(uint64_t offset, std::string_view data) override {
        if (append_) return Err::Invalid;
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                                       static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fromErrno(errno);
            done += static_cast<size_t>(n);
        }
        return Err::None;
    }
    Err seek(uint64_t offset) override {
        return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0 ? fromErrno(errno)
                                                                      : Err::None;
    }
    Result<uint64_t> size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return fromErrno(errno);
        return static_cast<uint64_t>(st.st_size);
    }
    Err truncate(uint64_t size) override {
        return ::ftruncate(fd_, static_cast<off_t>(size)) != 0 ? fromErrno(errno) : Err::None;
    }
    Err flush() override { return ::fsync(fd_) != 0 ? fromErrno(errno) : Err::None; }
    Err close() override {
        if (fd_ < 0) return Err::None;
        const int r = ::close(fd_);
        fd_ = -1;
        return r != 0 ? fromErrno(errno) : Err::None;
    }

  private:
    int fd_;
    bool append_;
};

class PosixFileSystem final : public FileSystem {
  public:
    Result<std::unique_ptr<File>> open(std::string_view path, OpenMode mode) override {
        auto p = posix::nativePath(path);
        if (!p) return Err::Invalid;
        int flags = O_CLOEXEC;
        switch (mode) {
            case OpenMode::Read:
                flags |= O_RDONLY;
                break;
            case OpenMode::ReadWrite:
                flags |= O_RDWR;
                break;
            case OpenMode::CreateNew:
                flags |= O_RDWR | O_CREAT | O_EXCL;
                break;
            case OpenMode::CreateTruncate:
                flags |= O_RDWR | O_CREAT | O_TRUNC;
                break;
            case OpenMode::Append:
                flags |= O_WRONLY | O_CREAT | O_APPEND;
                break;
        }
        const int fd = ::open(p->c_str(), flags, 0644);
        if (fd < 0) return fromErrno(errno);
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            return Err::Access;  // as Windows: a folder cannot be opened as a file
        }
        return std::unique_ptr<File>(new PosixFile(fd, mode == OpenMode::Append));
    }
    bool exists(std::string_view path) override {
        auto p = posix::nativePath(path);
        struct stat st {};
        return p && ::stat(p->c_str(), &st) == 0;
    }
    bool isDir(std::string_view path) override {
        auto p = posix::nativePath(path);
        struct stat st {};
        return p && ::stat(p->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    Result<uint64_t> fileSize(std::string_view path) override {
        auto p = posix::nativePath(path);
        if (!p) return Err::Invalid;
        struct stat st {};
        if (::stat(p->c_str(), &st) != 0) return fromErrno(errno);
        if (S_ISDIR(st.st_mode)) return Err::Access;
        return static_cast<uint64_t>(st.st_size);
    }
    Err rename(std::string_view from, std::string_view to) override {
        auto a = posix::nativePath(from), b = posix::nativePath(to);
        if (!a || !b) return Err::Invalid;
        // Never over an existing file or folder, like a move on Windows.
        if (::renameat2(AT_FDCWD, a->c_str(), AT_FDCWD, b->c_str(), RENAME_NOREPLACE) == 0) {
            return Err::None;
        }
        if (errno != EINVAL && errno != ENOSYS) return fromErrno(errno);
        struct stat st {};
        if (::lstat(b->c_str(), &st) == 0) return Err::Exists;
        return ::rename(a->c_str(), b->c_str()) != 0 ? fromErrno(errno) : Err::None;
    }
    Err replace(std::string_view from, std::string_view to) override {
        return move(from, to, true);
    }
    Err replaceCached(std::string_view from, std::string_view to) override {
        return move(from, to, false);
    }
    Err copy(std::string_view from, std::string_view to, bool failIfExists) override {
        auto in = open(from, OpenMode::Read);
        if (!in) return in.error();
        auto out = open(to, failIfExists ? OpenMode::CreateNew : OpenMode::CreateTruncate);
        if (!out) return out.error();
        char buf[65536];
        for (;;) {
            auto n = (*in)->read(buf);
            if (!n) return n.error();
            if (*n == 0) break;
            if (Err e = (*out)->write(std::string_view(buf, *n)); e != Err::None) {
                out->reset();
                remove(to);
                return e;
            }
        }
        return (*out)->close();
    }
    Err remove(std::string_view path) override {
        auto p = posix::nativePath(path);
        if (!p) return Err::Invalid;
        if (isDir(path)) return Err::Access;
        return ::unlink(p->c_str()) != 0 ? fromErrno(errno) : Err::None;
    }
    Err makeDir(std::string_view path) override {
        auto p = posix::nativePath(path);
        if (!p) return Err::Invalid;
        return ::mkdir(p->c_str(), 0755) != 0 ? fromErrno(errno) : Err::None;
    }
    Err removeDir(std::string_view path) override {
        auto p = posix::nativePath(path);
        if (!p) return Err::Invalid;
        return ::rmdir(p->c_str()) != 0 ? fromErrno(errno) : Err::None;
    }
    Result<std::vector<DirEntry>> list(std::string_view folder) override {
        auto p = posix::nativePath(folder);
        if (!p) return Err::Invalid;
        DIR* dir = ::opendir(p->c_str());
        if (!dir) return fromErrno(errno);
        std::vector<DirEntry> out;
        while (dirent* d = ::readdir(dir)) {
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
            auto name = posix::programName(d->d_name);
            if (!name) continue;  // a name with no Shift_JIS form cannot be one of ours
            DirEntry e;
            e.name = std::move(*name);
            struct stat st {};
            const std::string full = *p + "/" + d->d_name;
            if (::stat(full.c_str(), &st) == 0) {
                e.isDir = S_ISDIR(st.st_mode);
                // Hidden files on POSIX start with a dot; writable folders are "plain".
                e.plainDir = e.isDir && d->d_name[0] != '.' && (st.st_mode & S_IWUSR);
                e.size = e.isDir ? 0 : static_cast<uint64_t>(st.st_size);
            }
            out.push_back(std::move(e));
        }
        ::closedir(dir);
        return out;
    }

    // One syncfs per file system the files lie on: at the commit of a batch this is cheaper than
    // an fsync of each file and of each folder whose entries changed (see scripts/bench's
    // commit_sync lines). KOLVY_SYNC=files chooses the per-file way, for measuring.
    Err syncFiles(std::span<const std::string> paths) override {
        static const bool perFile = [] {
            const char* v = std::getenv("KOLVY_SYNC");
            return v && std::strcmp(v, "files") == 0;
        }();
        return perFile ? syncEach(paths) : syncDevices(paths);
    }

  private:
    static std::string parentOf(const std::string& nativeFile) {
        const size_t slash = nativeFile.rfind('/');
        return slash == std::string::npos ? "." : nativeFile.substr(0, slash + 1);
    }
    static Err syncPath(const std::string& native, int flags) {
        const int fd = ::open(native.c_str(), flags | O_CLOEXEC);
        if (fd < 0) return fromErrno(errno);
        const int r = ::fsync(fd);
        const int e = errno;
        ::close(fd);
        return r != 0 ? fromErrno(e) : Err::None;
    }
    Err syncEach(std::span<const std::string> paths) {
        std::set<std::string> folders;
        for (const std::string& p : paths) {
            auto n = posix::nativePath(p);
            if (!n) return Err::Invalid;
            if (Err e = syncPath(*n, O_RDONLY); e != Err::None) return e;
            folders.insert(parentOf(*n));
        }
        for (const std::string& f : folders) {
            if (Err e = syncPath(f, O_RDONLY | O_DIRECTORY); e != Err::None) return e;
        }
        return Err::None;
    }
    Err syncDevices(std::span<const std::string> paths) {
        std::set<dev_t> done;
        for (const std::string& p : paths) {
            auto n = posix::nativePath(p);
            if (!n) return Err::Invalid;
            const std::string folder = parentOf(*n);
            struct stat st {};
            if (::stat(folder.c_str(), &st) != 0) return fromErrno(errno);
            if (!done.insert(st.st_dev).second) continue;
            const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd < 0) return fromErrno(errno);
            const int r = ::syncfs(fd);
            const int e = errno;
            ::close(fd);
            if (r != 0) return fromErrno(e);
        }
        return Err::None;
    }
    Err move(std::string_view from, std::string_view to, bool toDisk) {
        auto a = posix::nativePath(from), b = posix::nativePath(to);
        if (!a || !b) return Err::Invalid;
        if (isDir(to)) return Err::Access;
        if (::rename(a->c_str(), b->c_str()) != 0) return fromErrno(errno);
        if (toDisk) syncParent(*b);
        return Err::None;
    }
    // After a rename the directory entry must reach the disk too, or a crash can bring back the
    // old file.
    static void syncParent(const std::string& nativeFile) {
        const size_t slash = nativeFile.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : nativeFile.substr(0, slash + 1);
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
};

}  // namespace

std::unique_ptr<FileSystem> makeFileSystem() {
    return std::make_unique<PosixFileSystem>();
}

}  // namespace kolvy::platform
