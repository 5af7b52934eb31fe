// The Base64 decoder: a state struct whose quad loop runs a byte at a time only across blanks,
// junk and chunk ends, and whose long runs of alphabet bytes go through the widest path the
// processor has (AVX2, SSSE3, or eight bytes at a time through tables).
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

// The wide paths are compiled for both x86 builds and chosen at run time, so the 32-bit program
// uses them too on a processor that has them.
#if defined(__x86_64__) || defined(__i386__)
#define KOLVY_BASE64_SIMD 1
#include <immintrin.h>
#else
#define KOLVY_BASE64_SIMD 0
#endif
// A 32-bit Windows caller may enter with the stack aligned to four bytes only; the wide paths
// realign it for their vector spills.
#if defined(__i386__)
#define KOLVY_REALIGN __attribute__((force_align_arg_pointer))
#else
#define KOLVY_REALIGN
#endif

#include "core/ascii.h"
#include "mime/decode.h"

namespace kolvy::mime {
namespace {

constexpr uint8_t kStop = 0xFE;  // "-", "=" and NUL end the data
constexpr uint8_t kSkip = 0xFF;  // blanks, line breaks and bytes outside the alphabet
constexpr uint32_t kBad = 0xFF000000u;

struct Base64Tables {
    std::array<uint8_t, 256> value{};
    std::array<std::array<uint32_t, 256>, 4> shifted{};  // value placed at its bit position
    constexpr Base64Tables() {
        constexpr char alphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (auto& v : value)
            v = kSkip;
        for (auto& t : shifted)
            for (auto& v : t)
                v = kBad;
        for (uint32_t i = 0; i < 64; ++i) {
            const auto c = static_cast<unsigned char>(alphabet[i]);
            value[c] = static_cast<uint8_t>(i);
            shifted[0][c] = i << 18;
            shifted[1][c] = i << 12;
            shifted[2][c] = i << 6;
            shifted[3][c] = i;
        }
        value['-'] = value['='] = value[0] = kStop;
    }
};
constexpr Base64Tables kB64;

inline bool isBlank(unsigned char c) {
    return ascii::isSpace(static_cast<char>(c));
}

// A run of whole quads of alphabet bytes: advances i and w past what it decoded and stops at the
// first block holding any other byte, or when the input or the room runs short.
using BlockDecoder = void (*)(const unsigned char* src, size_t n, char* dst, size_t room, size_t& i,
                              size_t& w);

void decodeQuadsScalar(const unsigned char* src, size_t n, char* dst, size_t room, size_t& i,
                       size_t& w) {
    // Two whole quads at a time: one table look-up per byte, six bytes out in one store (the two
    // spare bytes of the store are overwritten next or lie within the room).
    while (n - i >= 8 && room - w >= 8) {
        const uint32_t a = kB64.shifted[0][src[i]] | kB64.shifted[1][src[i + 1]] |
                           kB64.shifted[2][src[i + 2]] | kB64.shifted[3][src[i + 3]];
        const uint32_t b = kB64.shifted[0][src[i + 4]] | kB64.shifted[1][src[i + 5]] |
                           kB64.shifted[2][src[i + 6]] | kB64.shifted[3][src[i + 7]];
        if ((a | b) & kBad) break;
        const uint64_t v = (static_cast<uint64_t>(a) << 40) | (static_cast<uint64_t>(b) << 16);
        unsigned char bytes[8];
        for (int k = 0; k < 8; ++k)
            bytes[k] = static_cast<unsigned char>(v >> (56 - 8 * k));
        std::memcpy(dst + w, bytes, 8);
        i += 8;
        w += 6;
    }
    while (n - i >= 4 && room - w >= 3) {
        const uint32_t v = kB64.shifted[0][src[i]] | kB64.shifted[1][src[i + 1]] |
                           kB64.shifted[2][src[i + 2]] | kB64.shifted[3][src[i + 3]];
        if (v & kBad) break;
        dst[w] = static_cast<char>(v >> 16);
        dst[w + 1] = static_cast<char>(v >> 8);
        dst[w + 2] = static_cast<char>(v);
        i += 4;
        w += 3;
    }
}

#if KOLVY_BASE64_SIMD
// Sixteen (or 32) bytes at a time: the class of each byte from two table look-ups, by its high
// and its low nibble, whose AND is zero only for the 64 alphabet bytes; the 6-bit value by adding
// the class's offset; the bits packed by multiply-adds and one shuffle. Sixteen bytes in, twelve
// out, sixteen stored (the last four are scratch inside the room).
//
// By the low nibble: which high nibbles make an alphabet byte of it (bit 0: 0x2_, 1: 0x3_,
// 2: 0x4_, 3: 0x5_, 2: 0x6_, 3: 0x7_, reused as 0x4_/0x6_ and 0x5_/0x7_ cover the same low
// nibbles); bit 4 set for every entry rejects the high nibbles 0, 1 and 8 to F.
#define KOLVY_B64_LUT_LO \
    0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A
#define KOLVY_B64_LUT_HI \
    0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10
// The offset to the value by high nibble ("/" is told apart from "+" by one compare).
#define KOLVY_B64_LUT_ROLL 0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0

// The 6-bit values of sixteen bytes; false when one of them is outside the alphabet.
__attribute__((target("ssse3"))) inline bool base64Values(const unsigned char* p, __m128i& values) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i mask = _mm_set1_epi8(0x2F);
    const __m128i hiNibbles = _mm_and_si128(_mm_srli_epi32(c, 4), mask);
    const __m128i hi = _mm_shuffle_epi8(_mm_setr_epi8(KOLVY_B64_LUT_HI), hiNibbles);
    const __m128i lo = _mm_shuffle_epi8(_mm_setr_epi8(KOLVY_B64_LUT_LO), _mm_and_si128(c, mask));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(lo, hi), _mm_setzero_si128())) != 0xFFFF)
        return false;
    const __m128i roll = _mm_shuffle_epi8(_mm_setr_epi8(KOLVY_B64_LUT_ROLL),
                                          _mm_add_epi8(_mm_cmpeq_epi8(c, mask), hiNibbles));
    values = _mm_add_epi8(c, roll);
    return true;
}

KOLVY_REALIGN __attribute__((target("ssse3"))) void decodeQuadsSsse3(const unsigned char* src,
                                                                     size_t n, char* dst,
                                                                     size_t room, size_t& i,
                                                                     size_t& w) {
    __m128i v6;
    while (n - i >= 16 && room - w >= 16 && base64Values(src + i, v6)) {
        const __m128i ab = _mm_maddubs_epi16(v6, _mm_set1_epi32(0x01400140));  // a*64 + b
        const __m128i v = _mm_madd_epi16(ab, _mm_set1_epi32(0x00011000));      // ab*4096 + cd
        const __m128i out = _mm_shuffle_epi8(
            v, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + w), out);
        i += 16;
        w += 12;
    }
    decodeQuadsScalar(src, n, dst, room, i, w);
}

// The same in 32-byte blocks: 32 bytes in, 24 out, 32 stored.
__attribute__((target("avx2"))) inline bool base64Values32(const unsigned char* p,
                                                           __m256i& values) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i mask = _mm256_set1_epi8(0x2F);
    const __m256i hiNibbles = _mm256_and_si256(_mm256_srli_epi32(c, 4), mask);
    const __m256i hi =
        _mm256_shuffle_epi8(_mm256_setr_epi8(KOLVY_B64_LUT_HI, KOLVY_B64_LUT_HI), hiNibbles);
    const __m256i lo = _mm256_shuffle_epi8(_mm256_setr_epi8(KOLVY_B64_LUT_LO, KOLVY_B64_LUT_LO),
                                           _mm256_and_si256(c, mask));
    if (!_mm256_testz_si256(lo, hi)) return false;
    const __m256i roll =
        _mm256_shuffle_epi8(_mm256_setr_epi8(KOLVY_B64_LUT_ROLL, KOLVY_B64_LUT_ROLL),
                            _mm256_add_epi8(_mm256_cmpeq_epi8(c, mask), hiNibbles));
    values = _mm256_add_epi8(c, roll);
    return true;
}

KOLVY_REALIGN __attribute__((target("avx2"))) void decodeQuadsAvx2(const unsigned char* src,
                                                                   size_t n, char* dst, size_t room,
                                                                   size_t& i, size_t& w) {
    __m256i v6;
    while (n - i >= 32 && room - w >= 32 && base64Values32(src + i, v6)) {
        const __m256i ab = _mm256_maddubs_epi16(v6, _mm256_set1_epi32(0x01400140));
        const __m256i v = _mm256_madd_epi16(ab, _mm256_set1_epi32(0x00011000));
        // Twelve bytes in each 128-bit lane, then the two lanes' twelve joined.
        const __m256i lanes = _mm256_shuffle_epi8(
            v, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6,
                                5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
        const __m256i out =
            _mm256_permutevar8x32_epi32(lanes, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + w), out);
        i += 32;
        w += 24;
    }
    // The narrower code after this runs without the wide registers' upper halves, which would
    // otherwise slow every SSE instruction of the process.
    _mm256_zeroupper();
    decodeQuadsSsse3(src, n, dst, room, i, w);
}
#endif

bool supported(Base64Path path) {
#if KOLVY_BASE64_SIMD
    __builtin_cpu_init();
    if (path == Base64Path::Avx2) return __builtin_cpu_supports("avx2");
    if (path == Base64Path::Ssse3) return __builtin_cpu_supports("ssse3");
#endif
    return path == Base64Path::Scalar;
}

Base64Path widest() {
    for (Base64Path p : {Base64Path::Avx2, Base64Path::Ssse3}) {
        if (supported(p)) return p;
    }
    return Base64Path::Scalar;
}

std::atomic<Base64Path> gPath{widest()};

BlockDecoder blockDecoder() {
#if KOLVY_BASE64_SIMD
    switch (gPath.load(std::memory_order_relaxed)) {
        case Base64Path::Avx2:
            return decodeQuadsAvx2;
        case Base64Path::Ssse3:
            return decodeQuadsSsse3;
        case Base64Path::Scalar:
            break;
    }
#endif
    return decodeQuadsScalar;
}

}  // namespace

Base64Path base64Path() {
    return gPath.load(std::memory_order_relaxed);
}

bool useBase64Path(Base64Path path) {
    if (!supported(path)) return false;
    gPath.store(path, std::memory_order_relaxed);
    return true;
}

// The bytes of a cut quad (c1c2: one, c1c2c3: two); false when they do not fit.
bool Base64Decoder::emitQuadPart(std::span<char> out, size_t& w) {
    const size_t bytes = count_ >= 2 ? static_cast<size_t>(count_ - 1) : 0;
    if (out.size() - w < bytes) return false;
    const uint32_t v = bits_ << (6 * (4 - count_));
    if (bytes >= 1) out[w++] = static_cast<char>(v >> 16);
    if (bytes >= 2) out[w++] = static_cast<char>(v >> 8);
    if (count_ == 1) malformed(firstCharAt_);  // six bits make no byte
    count_ = 0;
    bits_ = 0;
    return true;
}

Step Base64Decoder::feed(std::string_view in, std::span<char> out) {
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size(), room = out.size();
    char* dst = out.data();
    size_t i = 0, w = 0;
    Step s;
    if (state_ == State::Padding) {
        while (i < n && src[i] == '=')
            ++i;
        if (i < n) state_ = State::Done;
    }
    if (state_ != State::Data) {
        fed_ += i;
        return {i, 0, false};
    }
    // Leading blanks stay: they belong to the line structure of the part.
    for (; leading_ && i < n && isBlank(src[i]); ++i, ++leadingBlanks_) {
        if (w == room) {
            s.full = true;
            break;
        }
        dst[w++] = static_cast<char>(src[i]);
    }
    if (i < n && !s.full) leading_ = false;
    if (count_ == 0) quadStart_ = fed_ + i;
    const BlockDecoder quads = blockDecoder();
    while (i < n && !s.full) {
        if (count_ == 0) {
            quads(src, n, dst, room, i, w);
            quadStart_ = fed_ + i;
            if (i >= n) break;
        }
        const unsigned char c = src[i];
        const uint8_t v = kB64.value[c];
        if (v == kSkip) {
            if (!isBlank(c)) malformed(fed_ + i);
            ++i;
            continue;
        }
        if (v == kStop) {
            if (!emitQuadPart(out, w)) {
                s.full = true;
                break;
            }
            stop_ = c;
            state_ = State::Done;
            if (c == '=') {
                // The padding belongs to the data: a reader going on after it must not see it.
                while (i < n && src[i] == '=')
                    ++i;
                if (i == n) state_ = State::Padding;
            }
            break;
        }
        if (count_ == 0) firstCharAt_ = fed_ + i;
        bits_ = (bits_ << 6) | v;
        if (++count_ == 4) {
            if (room - w < 3) {
                --count_;
                bits_ >>= 6;
                s.full = true;
                break;
            }
            dst[w] = static_cast<char>(bits_ >> 16);
            dst[w + 1] = static_cast<char>(bits_ >> 8);
            dst[w + 2] = static_cast<char>(bits_);
            w += 3;
            count_ = 0;
            bits_ = 0;
        }
        ++i;
        if (count_ == 0) quadStart_ = fed_ + i;
    }
    fed_ += i;
    s.consumed = i;
    s.written = w;
    return s;
}

Step Base64Decoder::finish(std::span<char> out) {
    Step s;
    if (state_ != State::Data) return s;
    s.full = !emitQuadPart(out, s.written);
    if (!s.full) state_ = State::Done;
    return s;
}

Decoded base64Decode(std::string_view in, std::span<char> out, bool boundaryFollows) {
    if (out.empty()) return {};
    const size_t room = out.size() - 1;  // the NUL always fits
    Base64Decoder d;
    const Step s = d.feed(in, out.first(room));
    size_t i = s.consumed, w = s.written;
    const bool ranOut = !d.ended() && !s.full && i == in.size();
    if (!s.full) {
        const Step f = d.finish(out.subspan(w, room - w));
        if (f.full) {
            i = d.quadStart();  // no room: stop before the quad
        } else {
            w += f.written;
        }
    } else {
        i = d.quadStart();
    }
    if (d.endedAtDash() || (boundaryFollows && ranOut)) {
        // A boundary line: leave its line break to the caller, never before the input's start.
        while (i > 0 && (in[i - 1] == '-' || in[i - 1] == '\r' || in[i - 1] == '\n'))
            --i;
        if (i < d.leadingBlanks()) w = i;  // those blanks were copied: take them back
    }
    out[w] = '\0';
    Decoded r{i, w};
    r.malformedAt = d.malformedAt() < i ? d.malformedAt() : kWellFormed;
    return r;
}

std::string decodeBase64(std::string_view in) {
    std::string out(base64DecodedMax(in.size()), '\0');
    const Decoded d = base64Decode(in, out);
    out.resize(d.written);
    return out;
}

}  // namespace kolvy::mime
