// A file system that fails one chosen call, for tests of every writer's failure paths.
#pragma once

#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/platform.h"
#include "tests/support/test_env.h"

namespace kolvy::test {

// Passes everything to the real file system but fails the Nth changing operation (opening for
// anything but reading, writing, flushing, truncating, moving, copying, deleting) with Err::Io,
// or with the error the test names (Err::Access: a file another program holds for a moment).
// Every later call succeeds again, as after a crash nothing more happens anyway.
class FailingFileSystem final : public platform::FileSystem {
  public:
    explicit FailingFileSystem(platform::FileSystem& real) : real_(real) {}
    void failAt(int n, Err error = Err::Io) {
        failAt_ = n;
        error_ = error;
        count_ = 0;
    }
    Err error() const { return error_; }
    int count() const { return count_; }
    bool failed() const { return failAt_ > 0 && count_ >= failAt_; }
    bool tick() { return ++count_ == failAt_; }

    Result<std::unique_ptr<platform::File>> open(std::string_view path,
                                                 platform::OpenMode mode) override;
    bool exists(std::string_view p) override { return real_.exists(p); }
    bool isDir(std::string_view p) override { return real_.isDir(p); }
    Result<uint64_t> fileSize(std::string_view p) override { return real_.fileSize(p); }
    Err rename(std::string_view a, std::string_view b) override {
        return tick() ? error_ : real_.rename(a, b);
    }
    Err replace(std::string_view a, std::string_view b) override {
        return tick() ? error_ : real_.replace(a, b);
    }
    Err copy(std::string_view a, std::string_view b, bool f) override {
        return tick() ? error_ : real_.copy(a, b, f);
    }
    Err remove(std::string_view p) override { return tick() ? error_ : real_.remove(p); }
    Err makeDir(std::string_view p) override { return tick() ? error_ : real_.makeDir(p); }
    Err removeDir(std::string_view p) override { return tick() ? error_ : real_.removeDir(p); }
    Result<std::vector<platform::DirEntry>> list(std::string_view f) override {
        return real_.list(f);
    }
    Err syncFiles(std::span<const std::string> paths) override {
        return tick() ? error_ : real_.syncFiles(paths);
    }

  private:
    platform::FileSystem& real_;
    int failAt_ = 0;
    int count_ = 0;
    Err error_ = Err::Io;
};

class FailingFile final : public platform::File {
  public:
    FailingFile(std::unique_ptr<platform::File> real, FailingFileSystem& fs)
        : real_(std::move(real)), fs_(fs) {}
    Result<size_t> read(std::span<char> out) override { return real_->read(out); }
    Result<size_t> readAt(uint64_t o, std::span<char> out) override {
        return real_->readAt(o, out);
    }
    Err write(std::string_view d) override { return fs_.tick() ? fs_.error() : real_->write(d); }
    Err writeAt(uint64_t o, std::string_view d) override {
        return fs_.tick() ? fs_.error() : real_->writeAt(o, d);
    }
    Err seek(uint64_t o) override { return real_->seek(o); }
    Result<uint64_t> size() override { return real_->size(); }
    Err truncate(uint64_t s) override { return fs_.tick() ? fs_.error() : real_->truncate(s); }
    Err flush() override { return fs_.tick() ? fs_.error() : real_->flush(); }
    Err close() override { return real_->close(); }

  private:
    std::unique_ptr<platform::File> real_;
    FailingFileSystem& fs_;
};

inline Result<std::unique_ptr<platform::File>> FailingFileSystem::open(std::string_view path,
                                                                       platform::OpenMode mode) {
    if (mode != platform::OpenMode::Read && tick()) return error_;
    auto f = real_.open(path, mode);
    if (!f) return f.error();
    return std::unique_ptr<platform::File>(new FailingFile(f.take(), *this));
}

// An Env like the test's but over another file system. With `iniToo` Kolvy.ini is read and
// written through that file system as well.
struct EnvOver {
    EnvOver(TestEnv& t, platform::FileSystem& fs, bool iniToo = false)
        : ownIni(iniToo ? platform::makeProfile(t.ini->path(), fs) : nullptr),
          env{fs, ownIni ? *ownIni : *t.ini, t.reporter, t.clock, t.env.programFolder} {}
    std::unique_ptr<platform::Profile> ownIni;
    Env env;
};

// Runs a writer once with each of its changing calls failing in turn: `setup()` puts the files
// back, then the nth call fails with `error` while `act(n)` runs. Stops after the first round
// that finished without reaching its fault (every step has been tried); returns the rounds run.
template <class Setup, class Act>
int failEachStep(FailingFileSystem& fs, Setup&& setup, Act&& act, Err error = Err::Io) {
    int n = 1;
    for (;; ++n) {
        setup();
        fs.failAt(n, error);
        act(n);
        if (!fs.failed()) break;
    }
    fs.failAt(0);
    return n;
}

}  // namespace kolvy::test
