// Helpers of the store tests: tabs on a temporary program folder, records, a rebuild stand-in and
// a file system that fails its Nth changing operation.
#pragma once

#include <memory>
#include <string>

#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "store/index.h"
#include "store/paths.h"
#include "tests/support/test_env.h"

namespace kolvy::store::testing {

// A tab "受信" (id 0, receive) whose folder and bare index exist.
struct TabFixture {
    explicit TabFixture(test::TestEnv& t, std::string_view name = "受信") : env(t) {
        tab = std::make_unique<Tab>();
        tab->id = 0;
        tab->open = 1;
        sjis::copyField(tab->name, name);
        platform::makeDirs(*t.fs, folder());
        createIndexFile(t.env, folder());
    }
    ~TabFixture() { freeItems(*tab); }
    std::string folder() const { return tabFolder(env.env, *tab); }
    std::string index() const { return indexPath(env.env, *tab); }
    std::string bytes() const {
        auto d = platform::readWholeFile(*env.fs, index());
        return d ? *d : "<missing>";
    }
    void setBytes(std::string_view b) const { platform::writeWholeFile(*env.fs, index(), b); }
    test::TestEnv& env;
    std::unique_ptr<Tab> tab;
};

inline IndexRecord record(int n, uint8_t state = 0, std::string subject = {}) {
    IndexRecord r;
    r.fileNo = static_cast<uint16_t>(n);
    r.state = state;
    r.storedTime = 1110153900u + static_cast<uint32_t>(n) * 3600u;
    r.dateTime = r.storedTime - 60;
    r.size = 1000u + static_cast<uint32_t>(n);
    r.account = mail::kUnmatchedAccount;
    r.texts[0] = "差出人" + std::to_string(n);
    r.texts[1] = "user" + std::to_string(n) + "@example.jp";
    r.texts[2] = subject.empty() ? "件名" + std::to_string(n) : subject;
    r.texts[3] = "Mailer/1.0";
    r.texts[4] = "me@example.jp";
    return r;
}

// The index bytes: header and the records with their offsets filled in.
inline std::string indexImage(const std::vector<IndexRecord>& records) {
    std::string image = newIndexHeader();
    for (IndexRecord r : records) {
        r.offset = static_cast<uint32_t>(image.size());
        image += encodeRecord(r);
    }
    return image;
}

inline std::vector<int> itemNumbers(Tab& tab) {
    std::vector<int> out;
    for (MailItem* m : listRange(tab.items))
        out.push_back(itemNumber(*m));
    return out;
}

// Stands in for the rebuild: counts its calls and writes what it is told (nothing by default).
class FakeRebuilder final : public IndexRebuilder {
  public:
    bool rebuild(Env& env, Tab& tab, RebuildMode mode) override {
        ++calls;
        lastMode = mode;
        if (!writes) return false;
        platform::writeWholeFile(env.fs, indexPath(env, tab), image);
        return true;
    }
    int calls = 0;
    RebuildMode lastMode = RebuildMode::Command;
    bool writes = false;
    std::string image = newIndexHeader();
};

// Passes everything to the real file system but fails the Nth changing operation (opening for
// anything but reading, writing, flushing, truncating, moving, copying, deleting) with Err::Io.
// Every later call succeeds again, as after a crash nothing more happens anyway.
class FailingFileSystem final : public platform::FileSystem {
  public:
    explicit FailingFileSystem(platform::FileSystem& real) : real_(real) {}
    void failAt(int n) {
        failAt_ = n;
        count_ = 0;
    }
    int count() const { return count_; }
    bool failed() const { return failAt_ > 0 && count_ >= failAt_; }
    bool tick() { return ++count_ == failAt_; }

    Result<std::unique_ptr<platform::File>> open(std::string_view path,
                                                 platform::OpenMode mode) override;
    bool exists(std::string_view p) override { return real_.exists(p); }
    bool isDir(std::string_view p) override { return real_.isDir(p); }
    Result<uint64_t> fileSize(std::string_view p) override { return real_.fileSize(p); }
    Err rename(std::string_view a, std::string_view b) override {
        return tick() ? Err::Io : real_.rename(a, b);
    }
    Err replace(std::string_view a, std::string_view b) override {
        return tick() ? Err::Io : real_.replace(a, b);
    }
    Err copy(std::string_view a, std::string_view b, bool f) override {
        return tick() ? Err::Io : real_.copy(a, b, f);
    }
    Err remove(std::string_view p) override { return tick() ? Err::Io : real_.remove(p); }
    Err makeDir(std::string_view p) override { return tick() ? Err::Io : real_.makeDir(p); }
    Err removeDir(std::string_view p) override { return tick() ? Err::Io : real_.removeDir(p); }
    Result<std::vector<platform::DirEntry>> list(std::string_view f) override {
        return real_.list(f);
    }
    Err syncFiles(std::span<const std::string> paths) override {
        return tick() ? Err::Io : real_.syncFiles(paths);
    }

  private:
    platform::FileSystem& real_;
    int failAt_ = 0;
    int count_ = 0;
};

class FailingFile final : public platform::File {
  public:
    FailingFile(std::unique_ptr<platform::File> real, FailingFileSystem& fs)
        : real_(std::move(real)), fs_(fs) {}
    Result<size_t> read(std::span<char> out) override { return real_->read(out); }
    Result<size_t> readAt(uint64_t o, std::span<char> out) override {
        return real_->readAt(o, out);
    }
    Err write(std::string_view d) override { return fs_.tick() ? Err::Io : real_->write(d); }
    Err writeAt(uint64_t o, std::string_view d) override {
        return fs_.tick() ? Err::Io : real_->writeAt(o, d);
    }
    Err seek(uint64_t o) override { return real_->seek(o); }
    Result<uint64_t> size() override { return real_->size(); }
    Err truncate(uint64_t s) override { return fs_.tick() ? Err::Io : real_->truncate(s); }
    Err flush() override { return fs_.tick() ? Err::Io : real_->flush(); }
    Err close() override { return real_->close(); }

  private:
    std::unique_ptr<platform::File> real_;
    FailingFileSystem& fs_;
};

inline Result<std::unique_ptr<platform::File>> FailingFileSystem::open(std::string_view path,
                                                                       platform::OpenMode mode) {
    if (mode != platform::OpenMode::Read && tick()) return Err::Io;
    auto f = real_.open(path, mode);
    if (!f) return f.error();
    return std::unique_ptr<platform::File>(new FailingFile(f.take(), *this));
}

// An Env like the test's but over another file system.
struct EnvOver {
    EnvOver(test::TestEnv& t, platform::FileSystem& fs)
        : env{fs, *t.ini, t.reporter, t.clock, t.env.programFolder} {}
    Env env;
};

}  // namespace kolvy::store::testing
