// A file system that passes everything to the real one and notes each changing call with its
// path, for tests of how often and in which order a writer opens, flushes, replaces and syncs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kolvy::test {

class RecordingFileSystem final : public platform::FileSystem {
  public:
    explicit RecordingFileSystem(platform::FileSystem& real) : real_(real) {}
    // The paths of the calls of `op` ("open" for anything but reading, "flush", "replace" by
    // target, "sync" with its paths joined by '|', ...), in order.
    std::vector<std::string> paths(std::string_view op) const {
        std::vector<std::string> out;
        for (const auto& [o, p] : calls)
            if (o == op) out.push_back(p);
        return out;
    }
    int count(std::string_view op, std::string_view suffix = {}) const {
        int n = 0;
        for (const std::string& p : paths(op))
            n += std::string_view(p).ends_with(suffix);
        return n;
    }
    void note(std::string_view op, std::string_view path) { calls.emplace_back(op, path); }
    std::vector<std::pair<std::string, std::string>> calls;

    Result<std::unique_ptr<platform::File>> open(std::string_view p, platform::OpenMode m) override;
    bool exists(std::string_view p) override { return real_.exists(p); }
    bool isDir(std::string_view p) override { return real_.isDir(p); }
    Result<uint64_t> fileSize(std::string_view p) override { return real_.fileSize(p); }
    Err rename(std::string_view a, std::string_view b) override {
        note("rename", b);
        return real_.rename(a, b);
    }
    Err replace(std::string_view a, std::string_view b) override {
        note("replace", b);
        return real_.replace(a, b);
    }
    Err copy(std::string_view a, std::string_view b, bool f) override {
        note("copy", b);
        return real_.copy(a, b, f);
    }
    Err remove(std::string_view p) override {
        note("remove", p);
        return real_.remove(p);
    }
    Err makeDir(std::string_view p) override { return real_.makeDir(p); }
    Err removeDir(std::string_view p) override { return real_.removeDir(p); }
    Result<std::vector<platform::DirEntry>> list(std::string_view f) override {
        return real_.list(f);
    }
    Err syncFiles(std::span<const std::string> paths) override {
        std::string joined;
        for (const std::string& p : paths)
            joined += (joined.empty() ? "" : "|") + p;
        note("sync", joined);
        return real_.syncFiles(paths);
    }

  private:
    platform::FileSystem& real_;
};

class RecordingFile final : public platform::File {
  public:
    RecordingFile(std::unique_ptr<platform::File> f, RecordingFileSystem& fs, std::string path)
        : f_(std::move(f)), fs_(fs), path_(std::move(path)) {}
    Result<size_t> read(std::span<char> o) override { return f_->read(o); }
    Result<size_t> readAt(uint64_t at, std::span<char> o) override { return f_->readAt(at, o); }
    Err write(std::string_view d) override { return f_->write(d); }
    Err writeAt(uint64_t at, std::string_view d) override { return f_->writeAt(at, d); }
    Err seek(uint64_t at) override { return f_->seek(at); }
    Result<uint64_t> size() override { return f_->size(); }
    Err truncate(uint64_t s) override { return f_->truncate(s); }
    Err flush() override {
        fs_.note("flush", path_);
        return f_->flush();
    }
    Err close() override { return f_->close(); }

  private:
    std::unique_ptr<platform::File> f_;
    RecordingFileSystem& fs_;
    std::string path_;
};

inline Result<std::unique_ptr<platform::File>> RecordingFileSystem::open(std::string_view p,
                                                                         platform::OpenMode m) {
    if (m != platform::OpenMode::Read) note("open", p);
    auto f = real_.open(p, m);
    if (!f) return f.error();
    return std::unique_ptr<platform::File>(new RecordingFile(f.take(), *this, std::string(p)));
}

}  // namespace kolvy::test
