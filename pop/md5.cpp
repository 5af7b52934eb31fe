#include "pop/md5.h"

#include <cstring>

namespace kolvy::pop {
namespace {

constexpr size_t kBlock = 64;

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr unsigned kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t rotl(uint32_t x, unsigned n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, pending_{} {}

void Md5::block(const unsigned char* p) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = static_cast<uint32_t>(p[i * 4]) | static_cast<uint32_t>(p[i * 4 + 1]) << 8 |
               static_cast<uint32_t>(p[i * 4 + 2]) << 16 |
               static_cast<uint32_t>(p[i * 4 + 3]) << 24;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (unsigned i = 0; i < 64; ++i) {
        uint32_t f;
        unsigned g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kSine[i] + m[g], kShift[i]);
        a = t;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::add(std::string_view bytes) {
    length_ += bytes.size();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    if (pendingSize_) {
        const size_t take = std::min(n, kBlock - pendingSize_);
        std::memcpy(pending_ + pendingSize_, p, take);
        pendingSize_ += take;
        p += take;
        n -= take;
        if (pendingSize_ < kBlock) return;
        block(pending_);
        pendingSize_ = 0;
    }
    for (; n >= kBlock; n -= kBlock, p += kBlock)
        block(p);
    if (n) std::memcpy(pending_, p, n);
    pendingSize_ = n;
}

Md5Digest Md5::finish() {
    const uint64_t bits = length_ * 8;
    unsigned char pad[kBlock * 2] = {0x80};
    const size_t padLen = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    unsigned char lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    add(std::string_view(reinterpret_cast<const char*>(pad), padLen));
    add(std::string_view(reinterpret_cast<const char*>(lengthBytes), 8));
    Md5Digest out;
    for (int i = 0; i < 16; ++i)
        out[i] = static_cast<uint8_t>(state_[i / 4] >> (8 * (i % 4)));
    return out;
}

Md5Digest md5(std::string_view bytes) {
    Md5 m;
    m.add(bytes);
    return m.finish();
}

std::string toHex(const Md5Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s(32, '0');
    for (size_t i = 0; i < digest.size(); ++i) {
        s[i * 2] = kDigits[digest[i] >> 4];
        s[i * 2 + 1] = kDigits[digest[i] & 15];
    }
    return s;
}

std::string md5Hex(std::string_view bytes) {
    return toHex(md5(bytes));
}

const char* Md5Hex(const char* text) {
    static char buffer[33];
    const std::string hex = md5Hex(text ? std::string_view(text) : std::string_view());
    std::memcpy(buffer, hex.c_str(), sizeof buffer);
    return buffer;
}

Md5Digest hmacMd5(std::string_view key, std::string_view message) {
    unsigned char k[kBlock] = {};
    if (key.size() > kBlock) {
        const Md5Digest d = md5(key);
        std::memcpy(k, d.data(), d.size());
    } else {
        std::memcpy(k, key.data(), key.size());
    }
    char inner[kBlock], outer[kBlock];
    for (size_t i = 0; i < kBlock; ++i) {
        inner[i] = static_cast<char>(k[i] ^ 0x36);
        outer[i] = static_cast<char>(k[i] ^ 0x5c);
    }
    Md5 in;
    in.add(std::string_view(inner, kBlock));
    in.add(message);
    const Md5Digest innerDigest = in.finish();
    Md5 out;
    out.add(std::string_view(outer, kBlock));
    out.add(
        std::string_view(reinterpret_cast<const char*>(innerDigest.data()), innerDigest.size()));
    return out.finish();
}

}  // namespace kolvy::pop
