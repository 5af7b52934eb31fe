// The ini file the way the platform's profile-string functions treat it, for the native build.
// The conformance suite (platform/profile_test.cpp) runs the same cases against this emulation
// and, under Wine, against the real functions.

#include <sys/stat.h>

#include <mutex>
#include <optional>

#include "core/ascii.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "platform/posix/posix.h"

namespace kolvy::platform {
namespace {

using ascii::trimBlanks;

bool unsafe(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// One line of the file as it stands, with what it means. Name and value are kept as offsets
// into the text so that lines can move around in the vector.
struct Line {
    enum Kind { Other, Section, Key } kind = Other;
    std::string text;  // the line without its line end
    size_t namePos = 0, nameLen = 0, valuePos = 0, valueLen = 0;

    std::string_view name() const { return std::string_view(text).substr(namePos, nameLen); }
    std::string_view value() const { return std::string_view(text).substr(valuePos, valueLen); }
    void parse() {
        const std::string_view all = text;
        const std::string_view s = trimBlanks(all);
        auto set = [&](std::string_view part, size_t& pos, size_t& len) {
            pos = static_cast<size_t>(part.data() - all.data());
            len = part.size();
        };
        namePos = nameLen = valuePos = valueLen = 0;
        kind = Other;
        if (s.empty()) return;
        if (s.front() == '[') {
            const size_t close = s.find(']');
            if (close == std::string_view::npos) return;
            kind = Section;
            set(trimBlanks(s.substr(1, close - 1)), namePos, nameLen);
            return;
        }
        kind = Key;
        const size_t eq = s.find('=');
        if (eq == std::string_view::npos) {
            set(s, namePos, nameLen);  // a key without "=": present, with an empty value
            return;
        }
        set(trimBlanks(s.substr(0, eq)), namePos, nameLen);
        set(trimBlanks(s.substr(eq + 1)), valuePos, valueLen);
    }
};

class PosixProfile final : public Profile {
  public:
    PosixProfile(std::string path, FileSystem* fs)
        : path_(std::move(path)),
          own_(fs ? nullptr : makeFileSystem()),
          fs_(fs ? fs : own_.get()) {}

    std::optional<std::string> read(std::string_view section, std::string_view key) override {
        std::lock_guard lock(mutex_);
        load();
        const size_t k = findKey(section, key);
        if (k == npos) return std::nullopt;
        std::string_view v = lines_[k].value();
        // Matching quotes around the whole value are taken off.
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
            v = v.substr(1, v.size() - 2);
        }
        return std::string(v);
    }

    Err write(std::string_view section, std::string_view key, std::string_view value) override {
        if (unsafe(section) || unsafe(key) || unsafe(value) || trimBlanks(key).empty()) {
            return Err::Invalid;
        }
        std::lock_guard lock(mutex_);
        load();
        const std::string text = std::string(trimBlanks(key)) + "=" + std::string(value);
        const size_t k = findKey(section, key);
        if (k != npos) {
            // Counters are written after every stored message, mostly unchanged.
            if (lines_[k].text == text) return Err::None;
            lines_[k].text = text;
            lines_[k].parse();
        } else {
            size_t s = findSection(section);
            if (s == npos) {
                addLine("[" + std::string(section) + "]", lines_.size());
                s = lines_.size() - 1;
            }
            addLine(text, sectionEnd(s));
        }
        return save();
    }

    std::vector<std::string> keys(std::string_view section) override {
        std::lock_guard lock(mutex_);
        load();
        std::vector<std::string> out;
        const size_t s = findSection(section);
        if (s == npos) return out;
        for (size_t i = s + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i) {
            if (lines_[i].kind == Line::Key) out.emplace_back(lines_[i].name());
        }
        return out;
    }

    std::vector<std::string> sections() override {
        std::lock_guard lock(mutex_);
        load();
        std::vector<std::string> out;
        for (const Line& l : lines_) {
            if (l.kind == Line::Section) out.emplace_back(l.name());
        }
        return out;
    }

    Err removeKey(std::string_view section, std::string_view key) override {
        std::lock_guard lock(mutex_);
        load();
        const size_t k = findKey(section, key);
        if (k == npos) return Err::None;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(k));
        return save();
    }

    Err removeSection(std::string_view section) override {
        std::lock_guard lock(mutex_);
        load();
        const size_t s = findSection(section);
        if (s == npos) return Err::None;
        size_t end = s + 1;
        while (end < lines_.size() && lines_[end].kind != Line::Section)
            ++end;
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(s),
                     lines_.begin() + static_cast<std::ptrdiff_t>(end));
        return save();
    }

    const std::string& path() const override { return path_; }

  private:
    static constexpr size_t npos = static_cast<size_t>(-1);

    void addLine(std::string text, size_t at) {
        Line l;
        l.text = std::move(text);
        l.parse();
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(l));
    }

    size_t findSection(std::string_view section) const {
        const std::string_view want = trimBlanks(section);
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].kind == Line::Section &&
                sjis::equalsNoCaseAscii(lines_[i].name(), want)) {
                return i;
            }
        }
        return npos;
    }
    // Where a new key of the section goes: after its last key, before blank lines that
    // separate it from the next section.
    size_t sectionEnd(size_t s) const {
        size_t last = s;
        for (size_t i = s + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i) {
            if (lines_[i].kind == Line::Key) last = i;
        }
        return last + 1;
    }
    size_t findKey(std::string_view section, std::string_view key) const {
        const size_t s = findSection(section);
        if (s == npos) return npos;
        const std::string_view want = trimBlanks(key);
        for (size_t i = s + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i) {
            if (lines_[i].kind == Line::Key && sjis::equalsNoCaseAscii(lines_[i].name(), want)) {
                return i;
            }
        }
        return npos;
    }

    // Re-reads the file when it changed on disk since the last look (another process, or a
    // test, may write it between calls, as with the platform's own functions).
    void load() {
        const Stamp stamp = stampOf().value_or(Stamp{});
        if (loaded_ && stamp == stamp_) return;
        stamp_ = stamp;
        loaded_ = true;
        lines_.clear();
        if (!stamp.present) return;
        auto data = readWholeFile(*fs_, path_);
        if (!data) return;
        std::string_view rest = *data;
        while (!rest.empty()) {
            size_t nl = rest.find('\n');
            std::string_view line = rest.substr(0, nl);
            rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            addLine(std::string(line), lines_.size());
        }
    }

    Err save() {
        std::string out;
        for (const Line& l : lines_) {
            out += l.text;
            out += "\r\n";
        }
        // A crash while writing must leave the old settings, not half of them: the rename does
        // that. Like the system's own profile functions the write does not wait for the disk;
        // the counters written after every stored message would otherwise cost a disk flush
        // each.
        const Err e = replaceFileContents(*fs_, path_, path_ + ".tmp", out, Flush::ToCache);
        // What is in memory is what was just written; only a change by someone else since then
        // makes the next call read the file again.
        const auto now = e == Err::None ? stampOf() : std::nullopt;
        loaded_ = now.has_value();
        if (now) stamp_ = *now;
        return e;
    }

    struct Stamp {
        bool present = false;
        long sec = 0, nsec = 0;
        long long size = 0;
        unsigned long long inode = 0;
        bool operator==(const Stamp&) const = default;
    };

    std::optional<Stamp> stampOf() const {
        auto native = posix::nativePath(path_);
        struct stat st {};
        if (!native || ::stat(native->c_str(), &st) != 0) return std::nullopt;
        return Stamp{true, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_size, st.st_ino};
    }

    std::string path_;
    std::unique_ptr<FileSystem> own_;
    FileSystem* fs_;
    std::mutex mutex_;
    std::vector<Line> lines_;
    bool loaded_ = false;
    Stamp stamp_;
};

}  // namespace

std::unique_ptr<Profile> makeProfile(std::string path) {
    return std::make_unique<PosixProfile>(std::move(path), nullptr);
}

std::unique_ptr<Profile> makeProfile(std::string path, FileSystem& fs) {
    return std::make_unique<PosixProfile>(std::move(path), &fs);
}

}  // namespace kolvy::platform
