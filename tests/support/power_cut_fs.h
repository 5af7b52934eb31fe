// A file system for power-cut tests: it passes everything to the real one and remembers, for each
// file changed since it was last made durable, what the disk would hold after a power cut. A
// file's flush makes it durable; syncFiles makes everything durable (it stands for syncfs);
// replace (the durable move) makes both names durable; a plain rename, a removal, a write, a copy
// are durable only after one of those. powerCut() puts every file back to its durable state, as
// SQLite's crash tests drop unsynced writes. makeDurable() lets a test say that the system wrote
// one file back on its own (it may do so at any time, in any order). dieAt(n) makes the nth call
// and every later one fail with Err::Io: the process is gone from there on.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/fileutil.h"
#include "platform/platform.h"

namespace kolvy::test {

class PowerCutFileSystem final : public platform::FileSystem {
  public:
    explicit PowerCutFileSystem(platform::FileSystem& real) : real_(real) {}

    void dieAt(long call) {
        dieAt_ = call;
        calls_ = 0;
    }
    // The process dies at its first syncFiles, before anything is made durable.
    void dieAtFirstSync() { dieAtSync_ = true; }
    bool dead() const { return dieAt_ > 0 && calls_ >= dieAt_; }
    long calls() const { return calls_; }
    void makeDurable(const std::string& path) { durable_.erase(path); }
    void powerCut() {
        for (auto& [path, content] : durable_) {
            if (content) {
                platform::writeWholeFile(real_, path, *content);
            } else if (real_.exists(path) && !real_.isDir(path)) {
                real_.remove(path);
            }
        }
        durable_.clear();
    }

    // A call of the process; false when it died before it.
    bool alive() {
        ++calls_;
        return !(dieAt_ > 0 && calls_ >= dieAt_);
    }
    // Before a path changes for the first time since it was durable: what the disk holds now.
    void remember(std::string_view path) {
        const std::string p(path);
        if (durable_.count(p)) return;
        if (real_.exists(p) && !real_.isDir(p)) {
            auto data = platform::readWholeFile(real_, p);
            durable_[p] = data ? std::optional<std::string>(*data) : std::nullopt;
        } else {
            durable_[p] = std::nullopt;
        }
    }

    Result<std::unique_ptr<platform::File>> open(std::string_view path,
                                                 platform::OpenMode mode) override;
    bool exists(std::string_view p) override { return alive() && real_.exists(p); }
    bool isDir(std::string_view p) override { return alive() && real_.isDir(p); }
    Result<uint64_t> fileSize(std::string_view p) override {
        if (!alive()) return Err::Io;
        return real_.fileSize(p);
    }
    Err rename(std::string_view a, std::string_view b) override {
        if (!alive()) return Err::Io;
        remember(a);
        remember(b);
        return real_.rename(a, b);
    }
    Err replace(std::string_view a, std::string_view b) override {
        if (!alive()) return Err::Io;
        // Only a durable source makes a durable result.
        const bool sourceDurable = !durable_.count(std::string(a));
        remember(a);
        remember(b);
        const Err e = real_.replace(a, b);
        if (e == Err::None && sourceDurable) {
            durable_.erase(std::string(a));
            durable_.erase(std::string(b));
        }
        return e;
    }
    Err replaceCached(std::string_view a, std::string_view b) override { return rename2(a, b); }
    Err copy(std::string_view a, std::string_view b, bool f) override {
        if (!alive()) return Err::Io;
        remember(b);
        return real_.copy(a, b, f);
    }
    Err remove(std::string_view p) override {
        if (!alive()) return Err::Io;
        remember(p);
        return real_.remove(p);
    }
    Err makeDir(std::string_view p) override { return alive() ? real_.makeDir(p) : Err::Io; }
    Err removeDir(std::string_view p) override { return alive() ? real_.removeDir(p) : Err::Io; }
    Result<std::vector<platform::DirEntry>> list(std::string_view f) override {
        if (!alive()) return Err::Io;
        return real_.list(f);
    }
    Err syncFiles(std::span<const std::string>) override {
        if (!alive()) return Err::Io;
        if (dieAtSync_) {
            dieAt_ = calls_;
            return Err::Io;
        }
        durable_.clear();  // syncfs: everything written so far is on the disk
        return Err::None;
    }

  private:
    Err rename2(std::string_view a, std::string_view b) {
        if (!alive()) return Err::Io;
        remember(a);
        remember(b);
        return real_.replaceCached(a, b);
    }
    platform::FileSystem& real_;
    std::map<std::string, std::optional<std::string>> durable_;
    long dieAt_ = 0;
    long calls_ = 0;
    bool dieAtSync_ = false;
};

class PowerCutFile final : public platform::File {
  public:
    PowerCutFile(std::unique_ptr<platform::File> real, PowerCutFileSystem& fs, std::string path)
        : real_(std::move(real)), fs_(fs), path_(std::move(path)) {}
    Result<size_t> read(std::span<char> out) override {
        if (!fs_.alive()) return Err::Io;
        return real_->read(out);
    }
    Result<size_t> readAt(uint64_t o, std::span<char> out) override {
        if (!fs_.alive()) return Err::Io;
        return real_->readAt(o, out);
    }
    Err write(std::string_view d) override { return fs_.alive() ? real_->write(d) : Err::Io; }
    Err writeAt(uint64_t o, std::string_view d) override {
        return fs_.alive() ? real_->writeAt(o, d) : Err::Io;
    }
    Err seek(uint64_t o) override { return fs_.alive() ? real_->seek(o) : Err::Io; }
    Result<uint64_t> size() override {
        if (!fs_.alive()) return Err::Io;
        return real_->size();
    }
    Err truncate(uint64_t s) override { return fs_.alive() ? real_->truncate(s) : Err::Io; }
    Err flush() override {
        if (!fs_.alive()) return Err::Io;
        const Err e = real_->flush();
        if (e == Err::None) fs_.makeDurable(path_);
        return e;
    }
    Err close() override { return fs_.alive() ? real_->close() : Err::Io; }

  private:
    std::unique_ptr<platform::File> real_;
    PowerCutFileSystem& fs_;
    std::string path_;
};

inline Result<std::unique_ptr<platform::File>> PowerCutFileSystem::open(std::string_view path,
                                                                        platform::OpenMode mode) {
    if (!alive()) return Err::Io;
    if (mode != platform::OpenMode::Read) remember(path);
    auto f = real_.open(path, mode);
    if (!f) return f.error();
    return std::unique_ptr<platform::File>(new PowerCutFile(f.take(), *this, std::string(path)));
}

}  // namespace kolvy::test
