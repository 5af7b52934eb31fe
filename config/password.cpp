#include "config/password.h"

#include "mime/decode.h"
#include "mime/encode.h"

namespace kolvy::config {

namespace {

std::string complemented(std::string_view in) {
    std::string out(in);
    for (char& c : out)
        c = static_cast<char>(~static_cast<unsigned char>(c));
    return out;
}

}  // namespace

std::string scramblePassword(std::string_view plain) {
    if (plain.empty()) return {};
    return mime::encodeBase64(complemented(plain));
}

std::string unscramblePassword(std::string_view stored) {
    // The message decoder's own rules: the bytes end at a zero byte, as its output is
    // NUL-terminated.
    std::string bytes = mime::decodeBase64(stored);
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    return complemented(bytes);
}

}  // namespace kolvy::config
