#include "platform/fileutil.h"

#include "core/sjis.h"

namespace kolvy::platform {

Err FileSystem::syncFiles(std::span<const std::string> paths) {
    for (const std::string& p : paths) {
        auto file = open(p, OpenMode::ReadWrite);
        if (!file) return file.error();
        if (Err e = (*file)->flush(); e != Err::None) return e;
        if (Err e = (*file)->close(); e != Err::None) return e;
    }
    return Err::None;
}

Result<std::string> readWholeFile(FileSystem& fs, std::string_view path, uint64_t maxBytes) {
    auto file = fs.open(path, OpenMode::Read);
    if (!file) return file.error();
    auto size = (*file)->size();
    if (!size) return size.error();
    if (*size > maxBytes) return Err::Invalid;
    std::string data(static_cast<size_t>(*size), '\0');
    size_t got = 0;
    while (got < data.size()) {
        auto n = (*file)->read(std::span<char>(data.data() + got, data.size() - got));
        if (!n) return n.error();
        if (*n == 0) break;  // shrank while we read: return what is there
        got += *n;
    }
    data.resize(got);
    return data;
}

Err writeWholeFile(FileSystem& fs, std::string_view path, std::string_view data, Flush flush) {
    auto file = fs.open(path, OpenMode::CreateTruncate);
    if (!file) return file.error();
    if (Err e = (*file)->write(data); e != Err::None) return e;
    if (flush == Flush::ToDisk) {
        if (Err e = (*file)->flush(); e != Err::None) return e;
    }
    return (*file)->close();
}

Err replaceFileContents(FileSystem& fs, std::string_view path, std::string_view tmpPath,
                        std::string_view data, Flush flush) {
    Err e = writeWholeFile(fs, tmpPath, data, flush);
    if (e == Err::None) {
        e = flush == Flush::ToDisk ? fs.replace(tmpPath, path) : fs.replaceCached(tmpPath, path);
    }
    if (e != Err::None) fs.remove(tmpPath);
    return e;
}

Err appendToFile(FileSystem& fs, std::string_view path, std::string_view data) {
    auto file = fs.open(path, OpenMode::Append);
    if (!file) return file.error();
    if (Err e = (*file)->write(data); e != Err::None) return e;
    if (Err e = (*file)->flush(); e != Err::None) return e;
    return (*file)->close();
}

void removeTree(FileSystem& fs, const std::string& path) {
    if (auto entries = fs.list(path)) {
        for (const auto& e : *entries) {
            const std::string p = sjis::joinPath(path, e.name);
            if (e.isDir) {
                removeTree(fs, p);
            } else {
                fs.remove(p);
            }
        }
    }
    fs.removeDir(path);
}

Err makeDirs(FileSystem& fs, std::string_view path) {
    if (path.empty() || fs.isDir(path)) return Err::None;
    const std::string_view parent = sjis::parentPath(path);
    // Stop at a drive ("C:") or the root: those exist or cannot be made.
    if (!parent.empty() && parent.back() != ':' && !fs.isDir(parent)) {
        if (Err e = makeDirs(fs, parent); e != Err::None) return e;
    }
    Err e = fs.makeDir(path);
    return (e == Err::Exists && fs.isDir(path)) ? Err::None : e;
}

}  // namespace kolvy::platform
