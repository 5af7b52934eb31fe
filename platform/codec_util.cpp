#include "platform/platform.h"

namespace kolvy::platform {

std::optional<std::string> utf8ToSjis(std::string_view in) {
    std::string out(in.size() + 1, '\0');
    auto n = textCodec().utf8ToSjis(in, out);
    if (!n) return std::nullopt;
    out.resize(*n);
    return out;
}

std::optional<std::string> sjisToUtf8(std::string_view in) {
    std::string out(in.size() * 3 + 1, '\0');
    auto n = textCodec().sjisToUtf8(in, out);
    if (!n) return std::nullopt;
    out.resize(*n);
    return out;
}

}  // namespace kolvy::platform
