#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/posix.h"

namespace kolvy::platform {
namespace {

// One conversion descriptor per direction and thread: opening one costs far more than most
// conversions.
class Iconv {
  public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

// Length of the malformed or unmappable unit at `p` that the replacement character stands for.
size_t utf8UnitLen(const unsigned char* p, size_t left) {
    const unsigned char b = p[0];
    size_t len = b < 0x80 ? 1 : b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 1;
    if (len > left) return 1;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 1;
    }
    return len;
}

size_t sjisUnitLen(const unsigned char* p, size_t left) {
    const unsigned char b = p[0];
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    return (lead && left >= 2 && p[1] >= 0x40 && p[1] <= 0xFC && p[1] != 0x7F) ? 2 : 1;
}

std::optional<size_t> convert(iconv_t cd, std::string_view in, std::span<char> out, bool fromUtf8) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    auto* src = const_cast<char*>(in.data());  // iconv's signature; the input is not written
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) return std::nullopt;
        if (errno != EILSEQ && errno != EINVAL) return std::nullopt;
        // Unmappable or malformed: the default character stands for the unit, as on Windows,
        // where a character beyond the 16-bit range is two UTF-16 units and gets two.
        const auto* u = reinterpret_cast<const unsigned char*>(src);
        const size_t skip = fromUtf8 ? utf8UnitLen(u, srcLeft) : sjisUnitLen(u, srcLeft);
        const size_t marks = (fromUtf8 && skip == 4) ? 2 : 1;
        if (dstLeft < marks) return std::nullopt;
        for (size_t i = 0; i < marks; ++i)
            *dst++ = '?';
        dstLeft -= marks;
        src += skip;
        srcLeft -= skip;
    }
    return static_cast<size_t>(dst - out.data());
}

class PosixTextCodec final : public TextCodec {
  public:
    std::optional<size_t> utf8ToSjis(std::string_view in, std::span<char> out) override {
        thread_local Iconv cd("CP932", "UTF-8");
        if (!cd.ok()) return std::nullopt;
        return convert(cd.get(), in, out, true);
    }
    std::optional<size_t> sjisToUtf8(std::string_view in, std::span<char> out) override {
        thread_local Iconv cd("UTF-8", "CP932");
        if (!cd.ok()) return std::nullopt;
        return convert(cd.get(), in, out, false);
    }
};

}  // namespace

TextCodec& textCodec() {
    static PosixTextCodec codec;
    return codec;
}

}  // namespace kolvy::platform
