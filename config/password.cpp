#include "config/password.h"

#include <array>
#include <cstdint>

namespace kolvy::config {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Bytes outside the alphabet have no value.
constexpr uint8_t kNoValue = 0xFF;
constexpr std::array<uint8_t, 256> makeDecodeTable() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t)
        v = kNoValue;
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
    return t;
}
constexpr auto kDecode = makeDecodeTable();

std::string complemented(std::string_view in) {
    std::string out(in);
    for (char& c : out)
        c = static_cast<char>(~static_cast<unsigned char>(c));
    return out;
}

}  // namespace

std::string base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve(scrambledLength(bytes.size()));
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                           static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64Decode(std::string_view text) {
    std::string out;
    uint32_t acc = 0;
    int have = 0;
    for (const char c : text) {
        if (c == '=' || c == '-' || c == '\0') break;
        const uint8_t v = kDecode[static_cast<unsigned char>(c)];
        if (v == kNoValue) continue;  // blanks, line breaks and stray bytes
        acc = acc << 6 | v;
        if (++have == 4) {
            out += static_cast<char>(acc >> 16 & 0xFF);
            out += static_cast<char>(acc >> 8 & 0xFF);
            out += static_cast<char>(acc & 0xFF);
            acc = 0;
            have = 0;
        }
    }
    // A complete pair gives one byte, three characters two.
    if (have == 2) {
        out += static_cast<char>(acc >> 4 & 0xFF);
    } else if (have == 3) {
        out += static_cast<char>(acc >> 10 & 0xFF);
        out += static_cast<char>(acc >> 2 & 0xFF);
    }
    return out;
}

std::string scramblePassword(std::string_view plain) {
    if (plain.empty()) return {};
    return base64Encode(complemented(plain));
}

std::string unscramblePassword(std::string_view stored) {
    // The decoded bytes end at a zero byte, as the decoder's output is NUL-terminated.
    std::string bytes = base64Decode(stored);
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    return complemented(bytes);
}

}  // namespace kolvy::config
