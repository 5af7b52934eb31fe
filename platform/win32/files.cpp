#include <algorithm>
#include <string>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace kolvy::platform {
namespace win32 {

Err fromLastError(DWORD code) {
    switch (code) {
        case ERROR_SUCCESS:
            return Err::None;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_NO_MORE_FILES:
            return Err::NotFound;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
        case ERROR_DIR_NOT_EMPTY:
            return Err::Exists;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return Err::Access;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Err::DiskFull;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_DIRECTORY:
        case ERROR_INVALID_PARAMETER:
            return Err::Invalid;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return Err::NoMemory;
        default:
            return Err::Io;
    }
}

}  // namespace win32

namespace {

using win32::fromLastError;

// Virus scanners and indexers hold files for a moment: a sharing violation is worth a few
// retries with a growing pause before it counts as a failure.
template <class F>
auto withRetries(F call) {
    DWORD pause = 20;
    for (int attempt = 0;; ++attempt) {
        auto r = call();
        const DWORD err = GetLastError();
        const bool transient = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION;
        if (!transient || attempt == 4 || r) {
            SetLastError(err);
            return r;
        }
        Sleep(pause);
        pause *= 2;
    }
}

class Win32File final : public File {
  public:
    Win32File(HANDLE h, bool append) : h_(h), append_(append) {}
    ~Win32File() override {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    Result<size_t> read(std::span<char> out) override {
        size_t got = 0;
        while (got < out.size()) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(out.size() - got, 1u << 30));
            if (!ReadFile(h_, out.data() + got, want, &n, nullptr))
                return fromLastError(GetLastError());
            if (n == 0) break;
            got += n;
        }
        return got;
    }
    Result<size_t> readAt(uint64_t offset, std::span<char> out) override {
        if (Err e = seek(offset); e != Err::None) return e;
        return read(out);
    }
    Err write(std::string_view data) override {
        if (append_) {
            LARGE_INTEGER zero{};
            if (!SetFilePointerEx(h_, zero, nullptr, FILE_END))
                return fromLastError(GetLastError());
        }
        size_t done = 0;
        while (done < data.size()) {
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
            if (!WriteFile(h_, data.data() + done, want, &n, nullptr)) {
                return fromLastError(GetLastError());
            }
            if (n == 0) return Err::Io;
            done += n;
        }
        return Err::None;
    }
    Err writeAt(uint64_t offset, std::string_view data) override {
        if (append_) return Err::Invalid;
        if (Err e = seek(offset); e != Err::None) return e;
        return write(data);
    }
    Err seek(uint64_t offset) override {
        LARGE_INTEGER pos;
        pos.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(h_, pos, nullptr, FILE_BEGIN) ? Err::None
                                                              : fromLastError(GetLastError());
    }
    Result<uint64_t> size() override {
        LARGE_INTEGER s;
        if (!GetFileSizeEx(h_, &s)) return fromLastError(GetLastError());
        return static_cast<uint64_t>(s.QuadPart);
    }
    Err truncate(uint64_t size) override {
        if (Err e = seek(size); e != Err::None) return e;
        return SetEndOfFile(h_) ? Err::None : fromLastError(GetLastError());
    }
    Err flush() override {
        return FlushFileBuffers(h_) ? Err::None : fromLastError(GetLastError());
    }
    Err close() override {
        if (h_ == INVALID_HANDLE_VALUE) return Err::None;
        const BOOL ok = CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok ? Err::None : fromLastError(GetLastError());
    }

  private:
    HANDLE h_;
    bool append_;
};

std::string z(std::string_view s) {
    return std::string(s);
}

class Win32FileSystem final : public FileSystem {
  public:
    Result<std::unique_ptr<File>> open(std::string_view path, OpenMode mode) override {
        DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
        switch (mode) {
            case OpenMode::Read:
                break;
            case OpenMode::ReadWrite:
                access |= GENERIC_WRITE;
                break;
            case OpenMode::CreateNew:
                access |= GENERIC_WRITE;
                disposition = CREATE_NEW;
                break;
            case OpenMode::CreateTruncate:
                access |= GENERIC_WRITE;
                disposition = CREATE_ALWAYS;
                break;
            case OpenMode::Append:
                access = GENERIC_WRITE;
                disposition = OPEN_ALWAYS;
                break;
        }
        const std::string p = z(path);
        // No sharing: files are opened per operation and closed at once.
        HANDLE h = withRetries([&] {
            HANDLE r = CreateFileA(p.c_str(), access, 0, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            return r == INVALID_HANDLE_VALUE ? nullptr : r;
        });
        if (!h) return fromLastError(GetLastError());
        return std::unique_ptr<File>(new Win32File(h, mode == OpenMode::Append));
    }
    bool exists(std::string_view path) override {
        return GetFileAttributesA(z(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool isDir(std::string_view path) override {
        const DWORD a = GetFileAttributesA(z(path).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
    }
    Result<uint64_t> fileSize(std::string_view path) override {
        WIN32_FILE_ATTRIBUTE_DATA d;
        if (!GetFileAttributesExA(z(path).c_str(), GetFileExInfoStandard, &d)) {
            return fromLastError(GetLastError());
        }
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Err::Access;
        return (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    }
    Err rename(std::string_view from, std::string_view to) override {
        const std::string a = z(from), b = z(to);
        return withRetries([&] { return MoveFileA(a.c_str(), b.c_str()); })
                   ? Err::None
                   : fromLastError(GetLastError());
    }
    Err replace(std::string_view from, std::string_view to) override {
        const std::string a = z(from), b = z(to);
        return withRetries([&] {
            return MoveFileExA(a.c_str(), b.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        })
                   ? Err::None
                   : fromLastError(GetLastError());
    }
    Err copy(std::string_view from, std::string_view to, bool failIfExists) override {
        const std::string a = z(from), b = z(to);
        return withRetries([&] { return CopyFileA(a.c_str(), b.c_str(), failIfExists); })
                   ? Err::None
                   : fromLastError(GetLastError());
    }
    Err remove(std::string_view path) override {
        const std::string p = z(path);
        return withRetries([&] { return DeleteFileA(p.c_str()); }) ? Err::None
                                                                   : fromLastError(GetLastError());
    }
    Err makeDir(std::string_view path) override {
        return CreateDirectoryA(z(path).c_str(), nullptr) ? Err::None
                                                          : fromLastError(GetLastError());
    }
    Err removeDir(std::string_view path) override {
        const std::string p = z(path);
        return withRetries([&] { return RemoveDirectoryA(p.c_str()); })
                   ? Err::None
                   : fromLastError(GetLastError());
    }
    Result<std::vector<DirEntry>> list(std::string_view folder) override {
        std::string pattern = z(folder);
        pattern += "\\*";
        WIN32_FIND_DATAA d;
        HANDLE h = FindFirstFileA(pattern.c_str(), &d);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = GetLastError();
            if (e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES)
                return std::vector<DirEntry>{};
            return fromLastError(e);
        }
        std::vector<DirEntry> out;
        do {
            const std::string_view name = d.cFileName;
            if (name == "." || name == "..") continue;
            DirEntry e;
            e.name = std::string(name);
            e.isDir = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            e.plainDir = d.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY;
            e.size = e.isDir ? 0 : (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
            out.push_back(std::move(e));
        } while (FindNextFileA(h, &d));
        FindClose(h);
        return out;
    }
};

}  // namespace

std::unique_ptr<FileSystem> makeFileSystem() {
    return std::make_unique<Win32FileSystem>();
}

}  // namespace kolvy::platform
