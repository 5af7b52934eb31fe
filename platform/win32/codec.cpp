#include <vector>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace kolvy::platform {
namespace {

// Code page 932 is named explicitly: the program's text is Shift_JIS whatever the system's
// ANSI code page is.
constexpr UINT kSjis = 932;

std::optional<size_t> viaWide(UINT from, UINT to, std::string_view in, std::span<char> out) {
    if (in.empty()) return 0;
    if (in.size() > 0x7fffffff || out.size() > 0x7fffffff) return std::nullopt;
    const int inLen = static_cast<int>(in.size());
    const int wlen = MultiByteToWideChar(from, 0, in.data(), inLen, nullptr, 0);
    if (wlen <= 0) return std::nullopt;
    std::vector<wchar_t> wide;
    try {
        wide.resize(static_cast<size_t>(wlen));
    } catch (...) {
        return std::nullopt;
    }
    MultiByteToWideChar(from, 0, in.data(), inLen, wide.data(), wlen);
    const int n = WideCharToMultiByte(to, 0, wide.data(), wlen, out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    if (n <= 0) return std::nullopt;
    return static_cast<size_t>(n);
}

class Win32TextCodec final : public TextCodec {
  public:
    std::optional<size_t> utf8ToSjis(std::string_view in, std::span<char> out) override {
        return viaWide(CP_UTF8, kSjis, in, out);
    }
    std::optional<size_t> sjisToUtf8(std::string_view in, std::span<char> out) override {
        return viaWide(kSjis, CP_UTF8, in, out);
    }
};

}  // namespace

TextCodec& textCodec() {
    static Win32TextCodec codec;
    return codec;
}

}  // namespace kolvy::platform
