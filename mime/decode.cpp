#include "mime/decode.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "core/sjis.h"
#include "mime/internal.h"
#include "platform/platform.h"

namespace kolvy::mime {

std::atomic<bool> AsciiOnly{true};
std::atomic<bool> NoUtf8{false};

Boundary boundaryOf(const HeaderInfo* header) {
    if (!header || !header->boundaryStart || header->boundaryEnd <= header->boundaryStart)
        return {};
    return {header->boundaryStart,
            static_cast<size_t>(header->boundaryEnd - header->boundaryStart)};
}

void blankLineBreaks(std::span<char> text) {
    for (char& c : text) {
        if (c == '\0' || c == '\r' || c == '\n') c = ' ';
    }
}

namespace {

constexpr char kEsc = 0x1B;
// The geta mark stands for a kanji byte pair that cannot be converted.
constexpr char kGeta1 = static_cast<char>(0x81), kGeta2 = static_cast<char>(0xAC);

// The byte at i, or NUL past the end of the view (the views stand for NUL-terminated text).
inline unsigned char at(std::string_view s, size_t i) {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : 0;
}

// A line LF "--" + boundary starts at i (prefix match: the closing "--" may follow).
inline bool boundaryLineAt(std::string_view in, size_t i, Boundary b) {
    if (b.empty() || at(in, i + 1) != '-' || at(in, i + 2) != '-') return false;
    return in.size() - (i + 3) >= b.size() && in.compare(i + 3, b.size(), b) == 0;
}

// ------------------------------------------------------------------------------------ Base64
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

#if defined(__SSE2__)
// Sixteen Base64 bytes at a time to twelve output bytes, while every byte of a block is in the
// alphabet: the byte classes by compares, the values packed by multiply-adds and one shuffle
// (SSSE3; without it the quad loops below do all the work). Each block writes 16 bytes (the last
// four are scratch, inside the room). Advances i and w past what it decoded.

// The 6-bit values of sixteen bytes; false when one of them is outside the alphabet.
inline bool base64Values(const unsigned char* p, __m128i& values) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto inRange = [&](char lo, char hi) {  // lo < c < hi; bytes from 0x80 are negative
        return _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8(lo)),
                             _mm_cmplt_epi8(c, _mm_set1_epi8(hi)));
    };
    const __m128i upper = inRange(0x40, 0x5B), lowerCase = inRange(0x60, 0x7B),
                  digit = inRange(0x2F, 0x3A);
    const __m128i plus = _mm_cmpeq_epi8(c, _mm_set1_epi8(0x2B)),
                  slash = _mm_cmpeq_epi8(c, _mm_set1_epi8(0x2F));
    const __m128i valid = _mm_or_si128(_mm_or_si128(upper, lowerCase),
                                       _mm_or_si128(digit, _mm_or_si128(plus, slash)));
    if (_mm_movemask_epi8(valid) != 0xFFFF) return false;
    // By class: c - 65, c - 71, c + 4, c + 19, c + 16.
    const __m128i shift =
        _mm_or_si128(_mm_or_si128(_mm_and_si128(upper, _mm_set1_epi8(-65)),
                                  _mm_and_si128(lowerCase, _mm_set1_epi8(-71))),
                     _mm_or_si128(_mm_and_si128(digit, _mm_set1_epi8(4)),
                                  _mm_or_si128(_mm_and_si128(plus, _mm_set1_epi8(19)),
                                               _mm_and_si128(slash, _mm_set1_epi8(16)))));
    values = _mm_add_epi8(c, shift);
    return true;
}

__attribute__((target("ssse3"))) void decodeBlocksSsse3(const unsigned char* src, size_t n,
                                                        char* dst, size_t room, size_t& i,
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
}

using BlockDecoder = void (*)(const unsigned char*, size_t, char*, size_t, size_t&, size_t&);
BlockDecoder chooseBlockDecoder() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? decodeBlocksSsse3 : nullptr;
}
const BlockDecoder kDecodeBlocks = chooseBlockDecoder();
#endif

inline bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

Decoded base64Decode(std::string_view in, std::span<char> out) {
    if (out.empty()) return {};
    const size_t room = out.size() - 1;  // the NUL always fits
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    char* dst = out.data();
    size_t i = 0, w = 0;
    // Leading blanks stay: they belong to the line structure of the part.
    while (i < n && isBlank(src[i]) && w < room)
        dst[w++] = static_cast<char>(src[i++]);
    const size_t leadEnd = i, leadWritten = w;
    bool backOff = false;
    for (;;) {
#if defined(__SSE2__)
        // Sixteen alphabet bytes at a time; any other byte in the block leaves it to the
        // loops below.
        if (kDecodeBlocks) kDecodeBlocks(src, n, dst, room, i, w);
#endif
        // Two whole quads at a time: one table look-up per byte, six bytes out in one store
        // (the two spare bytes of the store are overwritten next or lie within the room).
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
        // Whole quads of alphabet bytes: one table look-up per byte, three bytes out.
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
        // One quad across blanks, junk or the end.
        const size_t quadStart = i;
        uint32_t vals[4];
        int k = 0;
        bool stopped = false;
        while (k < 4) {
            while (i < n && kB64.value[src[i]] == kSkip)
                ++i;
            if (i >= n || kB64.value[src[i]] == kStop) {
                stopped = true;
                break;
            }
            vals[k++] = kB64.value[src[i++]];
        }
        const int bytes = k >= 2 ? k - 1 : 0;
        if (room - w < static_cast<size_t>(bytes)) {
            i = quadStart;  // no room: stop before the quad
            break;
        }
        if (k >= 2) dst[w++] = static_cast<char>((vals[0] << 2) | (vals[1] >> 4));
        if (k >= 3) dst[w++] = static_cast<char>((vals[1] << 4) | (vals[2] >> 2));
        if (k == 4) dst[w++] = static_cast<char>((vals[2] << 6) | vals[3]);
        if (stopped) {
            backOff = i < n && src[i] == '-';
            // The padding belongs to the data: a reader going on after it must not see it.
            while (i < n && src[i] == '=')
                ++i;
            break;
        }
    }
    if (backOff) {
        // A boundary line: leave its line break to the caller, never before the input's start.
        while (i > 0 && (src[i - 1] == '-' || src[i - 1] == '\r' || src[i - 1] == '\n'))
            --i;
        if (i < leadEnd) w = leadWritten - (leadEnd - i);  // those blanks were copied: take back
    }
    dst[w] = '\0';
    return {i, w};
}

std::string decodeBase64(std::string_view in) {
    std::string out(base64DecodedMax(in.size()), '\0');
    const Decoded d = base64Decode(in, out);
    out.resize(d.written);
    return out;
}

QpDecoded quotedPrintableDecode(std::string_view in, std::span<char> out, Boundary boundary) {
    QpDecoded r;
    if (out.empty()) return r;
    const size_t room = out.size() - 1;
    const size_t n = in.size();
    char* dst = out.data();
    size_t i = 0, w = 0;
    while (i < n && w < room) {
        const auto c = static_cast<unsigned char>(in[i]);
        if (c == 0) break;
        if (c == '\n') {
            if (boundaryLineAt(in, i, boundary)) break;
        } else if (c == '=') {
            const unsigned char c1 = at(in, i + 1);
            if (c1 == 0xFF) r.ffAfterEquals = true;
            if (c1 == '\r' && at(in, i + 2) == '\n') {  // soft line break
                i += 3;
                continue;
            }
            if (c1 == '\n') {
                i += 2;
                continue;
            }
            const int h = hexDigit(c1), l = c1 ? hexDigit(at(in, i + 2)) : -1;
            if (h >= 0 && l >= 0) {
                dst[w++] = static_cast<char>((h << 4) | l);
                i += 3;
                continue;
            }
        }
        dst[w++] = static_cast<char>(c);
        ++i;
    }
    dst[w] = '\0';
    r.consumed = i;
    r.written = w;
    return r;
}

std::string decodeQuotedPrintable(std::string_view in) {
    std::string out(quotedPrintableDecodedMax(in.size()), '\0');
    const QpDecoded d = quotedPrintableDecode(in, out);
    out.resize(d.written);
    return out;
}

Decoded jisToSjis(std::string_view in, std::span<char> out, Boundary boundary) {
    if (out.empty()) return {};
    const size_t room = out.size() - 1;
    const size_t n = in.size();
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    char* dst = out.data();
    size_t i = 0, w = 0;
    bool kanji = false, kana = false, doubleByte = false;
    while (i < n) {
        const unsigned char c = src[i];
        if (c == 0) break;
        if (room - w < 2) {
            // Nearly full: only a plain byte still fits.
            if (room == w || kanji || c == kEsc || c == '\r' || c == '\n') break;
            dst[w++] = static_cast<char>(kana && c >= 0x21 && c <= 0x5F ? c + 0x80 : c);
            ++i;
            continue;
        }
        if (c == kEsc) {
            const unsigned char c1 = at(in, i + 1), c2 = c1 ? at(in, i + 2) : 0;
            kanji = c1 == '$' && (c2 == 'B' || c2 == '@');
            // JIS X 0201 katakana, as some phones send half-width kana.
            kana = c1 == '(' && c2 == 'I';
            // Never past the end of the text: a cut escape consumes what there is.
            i += 1 + (c1 != 0) + (c2 != 0);
            continue;
        }
        if (kanji && c != '\r' && c != '\n') {
            const unsigned char c1 = at(in, i + 1);
            if (c1 != 0) {
                doubleByte = true;
                if (c1 == kEsc || c1 == '\r' || c1 == '\n') {
                    // A lone kanji byte before an escape or a line break: mark it, keep the rest.
                    dst[w++] = kGeta1;
                    dst[w++] = kGeta2;
                    kanji = false;
                    ++i;
                    continue;
                }
                unsigned char s1, s2;
                if (jisPairToSjis(c == 0x7F ? 0x7E : c, c1 == 0x7F ? 0x7E : c1, s1, s2)) {
                    dst[w++] = static_cast<char>(s1);
                    dst[w++] = static_cast<char>(s2);
                } else {
                    dst[w++] = kGeta1;
                    dst[w++] = kGeta2;
                    kanji = false;
                }
                i += 2;
                continue;
            }
        }
        if (kana && c >= 0x21 && c <= 0x5F) {
            dst[w++] = static_cast<char>(c + 0x80);
            ++i;
            continue;
        }
        if (c == '\n') {
            if (boundaryLineAt(in, i, boundary)) break;
            kanji = kana = false;  // a line break ends a run that was never shifted back
            if (i == 0 || src[i - 1] != '\r') dst[w++] = '\r';
            dst[w++] = '\n';
            ++i;
            continue;
        }
        if (c == '\r') {
            kanji = kana = false;
            dst[w++] = '\r';
            if (at(in, i + 1) != '\n') dst[w++] = '\n';
            ++i;
            continue;
        }
        // A run of plain bytes goes in one copy.
        size_t j = i + 1;
        const size_t maxRun = std::min(n - i, room - w - 1);
        while (j - i < maxRun && src[j] != 0 && src[j] != kEsc && src[j] != '\r' &&
               src[j] != '\n' && !(kana && src[j] >= 0x21 && src[j] <= 0x5F))
            ++j;
        std::memcpy(dst + w, src + i, j - i);
        w += j - i;
        i = j;
    }
    dst[w] = '\0';
    if (doubleByte) AsciiOnly.store(false, std::memory_order_relaxed);
    return {i, w};
}

std::string jisToSjis(std::string_view in) {
    std::string out(jisToSjisMax(in.size()), '\0');
    const Decoded d = jisToSjis(in, out);
    out.resize(d.written);
    return out;
}

Decoded eucToSjis(std::string_view in, std::span<char> out, Boundary boundary) {
    if (out.empty()) return {};
    const size_t room = out.size() - 1;
    const size_t n = in.size();
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    char* dst = out.data();
    size_t i = 0, w = 0;
    bool doubleByte = false;
    auto high = [](unsigned char b) { return b >= 0xA1 && b <= 0xFE; };
    while (i < n && src[i] != 0 && room - w >= 2) {
        const unsigned char c = src[i], c1 = at(in, i + 1);
        if (c == 0x8E && c1 >= 0xA1 && c1 <= 0xDF) {  // half-width katakana
            dst[w++] = static_cast<char>(c1);
            i += 2;
        } else if (c == 0x8F && high(c1) && high(at(in, i + 2))) {  // JIS X 0212: no such form
            dst[w++] = kGeta1;
            dst[w++] = kGeta2;
            doubleByte = true;
            i += 3;
        } else if (high(c) && high(c1)) {
            unsigned char s1, s2;
            jisPairToSjis(c & 0x7F, c1 & 0x7F, s1, s2);
            dst[w++] = static_cast<char>(s1);
            dst[w++] = static_cast<char>(s2);
            doubleByte = true;
            i += 2;
        } else if (c == '\n') {
            if (boundaryLineAt(in, i, boundary)) break;
            if (i == 0 || src[i - 1] != '\r') dst[w++] = '\r';
            dst[w++] = '\n';
            ++i;
        } else if (c == '\r') {
            dst[w++] = '\r';
            if (c1 != '\n') dst[w++] = '\n';
            ++i;
        } else if (c >= 0x80) {  // a lone or broken high byte
            dst[w++] = kGeta1;
            dst[w++] = kGeta2;
            ++i;
        } else {
            dst[w++] = static_cast<char>(c);
            ++i;
        }
    }
    dst[w] = '\0';
    if (doubleByte) AsciiOnly.store(false, std::memory_order_relaxed);
    return {i, w};
}

std::string eucToSjis(std::string_view in) {
    std::string out(eucToSjisMax(in.size()), '\0');
    const Decoded d = eucToSjis(in, out);
    out.resize(d.written);
    return out;
}

Charset classifyCharset(std::string_view label) {
    auto trim = [&](std::string_view chars) {
        while (!label.empty() && chars.find(label.front()) != std::string_view::npos)
            label.remove_prefix(1);
        while (!label.empty() && chars.find(label.back()) != std::string_view::npos)
            label.remove_suffix(1);
    };
    trim(" \t\"");
    label = label.substr(0, label.find('*'));  // an RFC 2231 language
    trim(" \t\"");
    auto is = [&](std::string_view name) { return sjis::equalsNoCaseAscii(label, name); };
    if (is("utf-8") || is("utf8")) return Charset::Utf8;
    if (is("iso-2022-jp") ||
        (label.size() > 12 && sjis::equalsNoCaseAscii(label.substr(0, 12), "iso-2022-jp-")))
        return Charset::Jis;
    for (std::string_view name : {"shift_jis", "shift-jis", "x-sjis", "sjis", "windows-31j",
                                  "cp932", "ms_kanji", "ms932", "x-ms-cp932", "csshiftjis"}) {
        if (is(name)) return Charset::ShiftJis;
    }
    if (is("euc-jp") || is("x-euc-jp") || is("eucjp") || is("cseucpkdfmtjapanese"))
        return Charset::EucJp;
    return Charset::Other;
}

namespace {
// True when the Shift_JIS text holds a double-byte character.
bool hasDoubleByte(std::string_view s) {
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        // Plain ASCII eight bytes at a time.
        if (n - i >= 8) {
            uint64_t word;
            std::memcpy(&word, s.data() + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const size_t len = sjis::charLen(s, i);
        if (len == 2) return true;
        i += len;
    }
    return false;
}
}  // namespace

Utf8Decoded utf8ToSjis(std::string_view in, std::span<char> out, Boundary boundary) {
    Utf8Decoded r;
    if (out.empty()) {
        r.converted = false;
        return r;
    }
    const void* nul = in.empty() ? nullptr : std::memchr(in.data(), 0, in.size());
    size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - in.data()) : in.size();
    if (!boundary.empty()) {
        const std::string_view text = in.substr(0, n);
        for (size_t pos = text.find('\n'); pos < n; pos = text.find('\n', pos + 1)) {
            if (boundaryLineAt(in, pos, boundary)) {
                n = pos;
                break;
            }
        }
    }
    // The conversion never grows: whatever fits the room converts in one piece; beyond it the
    // input is cut before a character.
    const size_t room = out.size() - 1;
    if (n > room) {
        n = room;
        for (int back = 0; back < 3 && n > 0 && (static_cast<unsigned char>(in[n]) & 0xC0) == 0x80;
             ++back)
            --n;
    }
    if (n == 0) {
        out[0] = '\0';
        return r;
    }
    const auto written = platform::textCodec().utf8ToSjis(in.substr(0, n), out.first(room));
    if (!written) {
        out[0] = '\0';
        r.converted = false;
        return r;
    }
    out[*written] = '\0';
    if (hasDoubleByte({out.data(), *written})) AsciiOnly.store(false, std::memory_order_relaxed);
    r.consumed = n;
    r.written = *written;
    return r;
}

std::string utf8ToSjis(std::string_view in) {
    std::string out(utf8ToSjisMax(in.size()), '\0');
    const Utf8Decoded d = utf8ToSjis(in, out);
    out.resize(d.written);
    return out;
}

bool isUtf8Charset(std::string_view charset) {
    if (NoUtf8.load(std::memory_order_relaxed)) return false;
    return charset.find("F8") != std::string_view::npos ||
           charset.find("f8") != std::string_view::npos ||
           charset.find("F-8") != std::string_view::npos ||
           charset.find("f-8") != std::string_view::npos;
}

namespace {
// Blank lines after Base64 data carry nothing: before a boundary line the body ends at the line
// break that belongs to the boundary, as it does after any other text.
size_t pastBase64Blanks(std::string_view body, size_t from) {
    size_t j = from;
    while (j < body.size() && isBlank(static_cast<unsigned char>(body[j])))
        ++j;
    if (j == from || body.substr(j, 2) != "--") return from;
    if (j > from && body[j - 1] == '\n') --j;
    if (j > from && body[j - 1] == '\r') --j;
    return j;
}
}  // namespace

TextBody decodeTextBody(std::string_view body, std::string_view transferEncoding,
                        std::string_view charset, Boundary boundary) {
    TextBody r;
    const bool utf8 = isUtf8Charset(charset);
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 0x20) : c; };
    const char t0 = transferEncoding.empty() ? '\0' : lower(transferEncoding[0]);
    const char t1 = transferEncoding.size() < 2 ? '\0' : lower(transferEncoding[1]);
    std::string decoded;
    std::string_view text = body;
    bool qpFlag = false;
    const bool transfer = (t0 == 'b' && t1 == 'a') || t0 == 'q';
    if (transfer) {
        decoded.assign(base64DecodedMax(body.size()), '\0');
        Decoded d;
        if (t0 == 'b') {
            d = base64Decode(body, decoded);
        } else {
            const QpDecoded q = quotedPrintableDecode(body, decoded, boundary);
            qpFlag = q.ffAfterEquals;
            d = q;
        }
        decoded.resize(d.written);
        r.consumed = d.consumed;
        if (t0 == 'b') r.consumed = pastBase64Blanks(body, r.consumed);
        text = decoded;
        boundary = {};  // the transfer decoder already stopped at it
    }
    size_t skipped = 0;
    if (utf8 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        // A byte-order mark says nothing to a reader and has no Shift_JIS form.
        text.remove_prefix(3);
        skipped = 3;
    }
    Decoded c;
    if (!utf8 && classifyCharset(charset) == Charset::EucJp) {
        r.text.assign(eucToSjisMax(text.size()), '\0');
        c = eucToSjis(text, r.text, boundary);
    } else if (utf8 && !qpFlag) {
        r.text.assign(utf8ToSjisMax(text.size()), '\0');
        const Utf8Decoded u = utf8ToSjis(text, r.text, boundary);
        if (u.converted) {
            c = u;
        } else {
            r.text.assign(jisToSjisMax(text.size()), '\0');
            c = jisToSjis(text, r.text, boundary);
        }
    } else {
        r.text.assign(jisToSjisMax(text.size()), '\0');
        c = jisToSjis(text, r.text, boundary);
    }
    r.text.resize(c.written);
    if (!transfer) r.consumed = c.consumed + skipped;
    return r;
}

}  // namespace kolvy::mime

// ------------------------------------------------------------------------ the C entry points
namespace {
using kolvy::mime::Decoded;

// The source of a cursor as a view up to its terminating NUL.
std::string_view sourceOf(const DecodeCursor* c) {
    return c->source ? std::string_view(c->source) : std::string_view();
}

void setEnds(DecodeCursor* c, const Decoded& d) {
    c->sourceEnd = c->source + d.consumed;
    c->destinationEnd = c->destination + d.written;
}

// A cursor without a destination decodes nothing; its ends still say so, since callers go on
// from them.
bool usable(DecodeCursor* c) {
    if (!c) return false;
    if (c->destination) return true;
    c->sourceEnd = c->source;
    c->destinationEnd = c->destination;
    return false;
}

// Callers of the C entry points guarantee room for the worst case of the input they pass.
std::span<char> roomFor(DecodeCursor* c, size_t worstCase) {
    return {c->destination, worstCase};
}
}  // namespace

extern "C" {

void KOLVY_STDCALL KVA_Base64Decode(DecodeCursor* cursor) {
    if (!usable(cursor)) return;
    const std::string_view in = sourceOf(cursor);
    setEnds(cursor, kolvy::mime::base64Decode(
                        in, roomFor(cursor, kolvy::mime::base64DecodedMax(in.size()))));
}

int KOLVY_STDCALL KVA_QuotedPrintableDecode(DecodeCursor* cursor, HeaderInfo* header) {
    if (!usable(cursor)) return 0;
    const std::string_view in = sourceOf(cursor);
    const auto d = kolvy::mime::quotedPrintableDecode(
        in, roomFor(cursor, kolvy::mime::quotedPrintableDecodedMax(in.size())),
        kolvy::mime::boundaryOf(header));
    setEnds(cursor, d);
    return d.ffAfterEquals ? 1 : 0;
}

void JisToSJis(DecodeCursor* cursor, HeaderInfo* header) {
    if (!usable(cursor)) return;
    const std::string_view in = sourceOf(cursor);
    setEnds(cursor,
            kolvy::mime::jisToSjis(in, roomFor(cursor, kolvy::mime::jisToSjisMax(in.size())),
                                   kolvy::mime::boundaryOf(header)));
}

int Utf8ToSJis(DecodeCursor* cursor, HeaderInfo* header, int stopAtBoundary) {
    if (!usable(cursor)) return 1;
    const std::string_view in = sourceOf(cursor);
    const auto d = kolvy::mime::utf8ToSjis(
        in, roomFor(cursor, kolvy::mime::utf8ToSjisMax(in.size())),
        stopAtBoundary == 1 ? kolvy::mime::boundaryOf(header) : kolvy::mime::Boundary());
    setEnds(cursor, d);
    return d.converted ? 0 : 1;
}

void DecodeEncodedWords(DecodeCursor* cursor) {
    if (!usable(cursor)) return;
    // A field is decoded from at most one staging buffer of its text.
    const size_t len = cursor->source ? strnlen(cursor->source, kolvy::mime::kFieldStaging) : 0;
    // The scan itself may read on past the staging size (empty words stage nothing).
    const std::string_view in = cursor->source
                                    ? std::string_view(cursor->source, std::strlen(cursor->source))
                                    : std::string_view();
    setEnds(cursor, kolvy::mime::decodeEncodedWords(
                        in, roomFor(cursor, kolvy::mime::encodedWordsMax(len))));
}

}  // extern "C"
