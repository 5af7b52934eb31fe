#include "tools/kolvytool/kill_switch.h"

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace kolvy::tool {

void killNow() {
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), 137);
#else
    ::kill(::getpid(), SIGKILL);
#endif
    std::_Exit(137);
}

namespace {

class KillingFileSystem;

class KillingFile final : public platform::File {
  public:
    KillingFile(std::unique_ptr<platform::File> real, KillingFileSystem& fs)
        : real_(std::move(real)), fs_(fs) {}
    Result<size_t> read(std::span<char> out) override;
    Result<size_t> readAt(uint64_t o, std::span<char> out) override;
    Err write(std::string_view d) override;
    Err writeAt(uint64_t o, std::string_view d) override;
    Err seek(uint64_t o) override;
    Result<uint64_t> size() override;
    Err truncate(uint64_t s) override;
    Err flush() override;
    Err close() override;

  private:
    std::unique_ptr<platform::File> real_;
    KillingFileSystem& fs_;
};

class KillingFileSystem final : public platform::FileSystem {
  public:
    KillingFileSystem(std::unique_ptr<platform::FileSystem> real, unsigned long long killAt)
        : real_(std::move(real)), killAt_(killAt) {}
    // Counts a call; true when this is the one to die at.
    bool due() { return ++calls_ == killAt_; }
    void tick() {
        if (due()) killNow();
    }

    Result<std::unique_ptr<platform::File>> open(std::string_view p,
                                                 platform::OpenMode m) override {
        tick();
        auto f = real_->open(p, m);
        if (!f) return f.error();
        return std::unique_ptr<platform::File>(new KillingFile(f.take(), *this));
    }
    bool exists(std::string_view p) override { return tick(), real_->exists(p); }
    bool isDir(std::string_view p) override { return tick(), real_->isDir(p); }
    Result<uint64_t> fileSize(std::string_view p) override { return tick(), real_->fileSize(p); }
    Err rename(std::string_view a, std::string_view b) override {
        return tick(), real_->rename(a, b);
    }
    Err replace(std::string_view a, std::string_view b) override {
        return tick(), real_->replace(a, b);
    }
    Err replaceCached(std::string_view a, std::string_view b) override {
        return tick(), real_->replaceCached(a, b);
    }
    Err copy(std::string_view a, std::string_view b, bool f) override {
        return tick(), real_->copy(a, b, f);
    }
    Err remove(std::string_view p) override { return tick(), real_->remove(p); }
    Err makeDir(std::string_view p) override { return tick(), real_->makeDir(p); }
    Err removeDir(std::string_view p) override { return tick(), real_->removeDir(p); }
    Result<std::vector<platform::DirEntry>> list(std::string_view f) override {
        return tick(), real_->list(f);
    }
    Err syncFiles(std::span<const std::string> paths) override {
        return tick(), real_->syncFiles(paths);
    }

  private:
    std::unique_ptr<platform::FileSystem> real_;
    unsigned long long killAt_;
    unsigned long long calls_ = 0;
};

Result<size_t> KillingFile::read(std::span<char> out) {
    return fs_.tick(), real_->read(out);
}
Result<size_t> KillingFile::readAt(uint64_t o, std::span<char> out) {
    return fs_.tick(), real_->readAt(o, out);
}
Err KillingFile::write(std::string_view d) {
    if (fs_.due()) {
        real_->write(d.substr(0, d.size() / 2));  // torn: half of it reaches the file
        killNow();
    }
    return real_->write(d);
}
Err KillingFile::writeAt(uint64_t o, std::string_view d) {
    if (fs_.due()) {
        real_->writeAt(o, d.substr(0, d.size() / 2));
        killNow();
    }
    return real_->writeAt(o, d);
}
Err KillingFile::seek(uint64_t o) {
    return fs_.tick(), real_->seek(o);
}
Result<uint64_t> KillingFile::size() {
    return fs_.tick(), real_->size();
}
Err KillingFile::truncate(uint64_t s) {
    return fs_.tick(), real_->truncate(s);
}
Err KillingFile::flush() {
    return fs_.tick(), real_->flush();
}
Err KillingFile::close() {
    return fs_.tick(), real_->close();
}

}  // namespace

std::unique_ptr<platform::FileSystem> makeToolFileSystem() {
    auto real = platform::makeFileSystem();
    const char* at = std::getenv("KOLVY_KILL_AT");
    if (!at || !*at) return real;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(at, &end, 10);
    if (n == 0 || (end && *end)) return real;
    return std::make_unique<KillingFileSystem>(std::move(real), n);
}

}  // namespace kolvy::tool
