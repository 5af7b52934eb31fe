#include "mime/encode.h"

#include <cstdint>

namespace kolvy::mime {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
uint32_t byteAt(std::string_view s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}
}  // namespace

char* encodeBase64Into(std::string_view bytes, char* out) {
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v =
            byteAt(bytes, i) << 16 | byteAt(bytes, i + 1) << 8 | byteAt(bytes, i + 2);
        *out++ = kAlphabet[v >> 18 & 63];
        *out++ = kAlphabet[v >> 12 & 63];
        *out++ = kAlphabet[v >> 6 & 63];
        *out++ = kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = byteAt(bytes, i) << 16;
        if (rest == 2) v |= byteAt(bytes, i + 1) << 8;
        *out++ = kAlphabet[v >> 18 & 63];
        *out++ = kAlphabet[v >> 12 & 63];
        *out++ = rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
        *out++ = '=';
    }
    return out;
}

std::string encodeBase64(std::string_view bytes) {
    std::string out(base64EncodedLength(bytes.size()), '\0');
    encodeBase64Into(bytes, out.data());
    return out;
}

}  // namespace kolvy::mime
