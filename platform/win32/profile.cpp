#include <string>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace kolvy::platform {
namespace {

bool unsafe(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Calls a Get*Profile* function with a growing buffer until the result fits. `fill` returns the
// count the function returned; a list result ends in two NULs.
template <class F>
std::string fetch(F fill, bool list) {
    std::string buf(4096, '\0');
    for (;;) {
        const DWORD n = fill(buf.data(), static_cast<DWORD>(buf.size()));
        const DWORD limit = static_cast<DWORD>(buf.size()) - (list ? 2 : 1);
        if (n < limit || buf.size() >= (1u << 24)) {
            buf.resize(n);
            return buf;
        }
        buf.assign(buf.size() * 4, '\0');
    }
}

std::vector<std::string> splitList(const std::string& s) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        const size_t end = s.find('\0', i);
        const size_t stop = end == std::string::npos ? s.size() : end;
        if (stop > i) out.emplace_back(s.substr(i, stop - i));
        i = stop + 1;
    }
    return out;
}

class Win32Profile final : public Profile {
  public:
    explicit Win32Profile(std::string path) : path_(std::move(path)) {}

    std::optional<std::string> read(std::string_view section, std::string_view key) override {
        const std::string s(section), k(key);
        // The platform returns the default for a missing key; a default no value can hold tells
        // "missing" from "empty".
        static constexpr char kMissing[] = "\x01\x02\x03";
        std::string v = fetch(
            [&](char* buf, DWORD size) {
                return GetPrivateProfileStringA(s.c_str(), k.c_str(), kMissing, buf, size,
                                                path_.c_str());
            },
            false);
        if (v == kMissing) return std::nullopt;
        return v;
    }
    Err write(std::string_view section, std::string_view key, std::string_view value) override {
        if (unsafe(section) || unsafe(key) || unsafe(value) || key.empty()) return Err::Invalid;
        const std::string s(section), k(key), v(value);
        return WritePrivateProfileStringA(s.c_str(), k.c_str(), v.c_str(), path_.c_str())
                   ? Err::None
                   : win32::fromLastError(GetLastError());
    }
    std::vector<std::string> keys(std::string_view section) override {
        const std::string s(section);
        return splitList(fetch(
            [&](char* buf, DWORD size) {
                return GetPrivateProfileStringA(s.c_str(), nullptr, "", buf, size, path_.c_str());
            },
            true));
    }
    std::vector<std::string> sections() override {
        return splitList(fetch(
            [&](char* buf, DWORD size) {
                return GetPrivateProfileSectionNamesA(buf, size, path_.c_str());
            },
            true));
    }
    Err removeKey(std::string_view section, std::string_view key) override {
        const std::string s(section), k(key);
        WritePrivateProfileStringA(s.c_str(), k.c_str(), nullptr, path_.c_str());
        return Err::None;
    }
    Err removeSection(std::string_view section) override {
        const std::string s(section);
        WritePrivateProfileStringA(s.c_str(), nullptr, nullptr, path_.c_str());
        return Err::None;
    }
    const std::string& path() const override { return path_; }

  private:
    std::string path_;
};

}  // namespace

std::unique_ptr<Profile> makeProfile(std::string path) {
    return std::make_unique<Win32Profile>(std::move(path));
}

std::unique_ptr<Profile> makeProfile(std::string path, FileSystem&) {
    return makeProfile(std::move(path));
}

}  // namespace kolvy::platform
