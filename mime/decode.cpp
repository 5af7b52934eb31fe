#include "mime/decode.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "core/ascii.h"
#include "core/cursor.h"
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

size_t findBoundaryLine(std::string_view text, size_t from, Boundary b) {
    if (b.empty()) return std::string_view::npos;
    for (size_t lf = text.find('\n', from); lf != std::string_view::npos;
         lf = text.find('\n', lf + 1)) {
        if (boundaryLineAt(text, lf, b)) return lf;
    }
    return std::string_view::npos;
}

namespace {

constexpr char kEsc = 0x1B;
// The geta mark stands for a kanji byte pair that cannot be converted.
constexpr char kGeta1 = static_cast<char>(0x81), kGeta2 = static_cast<char>(0xAC);

// The text up to its first NUL: the one-shot decoders take NUL-terminated text.
std::string_view toNul(std::string_view in) {
    const void* nul = in.empty() ? nullptr : std::memchr(in.data(), 0, in.size());
    return nul ? in.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - in.data())) : in;
}

// Feeds a decoder whose units are at most three bytes long. A unit cut by the end of a chunk is
// kept in `carry` and completed a byte at a time from the next chunk; `run(src, n, out, base,
// final)` converts whole units of src (whose first byte is input offset `base`) and, unless
// final, stops before a cut one.
template <class Run>
Step feedCarrying(unsigned char* carry, size_t& carryLen, size_t& fed, std::string_view in,
                  std::span<char> out, Run run) {
    if (in.empty()) return {};
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    size_t i = 0, w = 0;
    while (carryLen > 0 && i < n) {
        carry[carryLen++] = src[i++];
        ++fed;
        const Step r = run(carry, carryLen, out.subspan(w), fed - carryLen, false);
        w += r.written;
        std::memmove(carry, carry + r.consumed, carryLen - r.consumed);
        carryLen -= r.consumed;
        if (r.full) return {i, w, true};
    }
    if (carryLen > 0) return {i, w, false};
    const Step r = run(src + i, n - i, out.subspan(w), fed, false);
    w += r.written;
    i += r.consumed;
    fed += r.consumed;
    if (!r.full) {
        carryLen = n - i;  // at most a cut unit
        std::memcpy(carry, src + i, carryLen);
        fed += carryLen;
        i = n;
    }
    return {i, w, r.full};
}

}  // namespace

// ---------------------------------------------------------------------------- quoted-printable
Step QuotedPrintableDecoder::run(const unsigned char* src, size_t n, std::span<char> out,
                                 bool final) {
    const size_t room = out.size();
    char* dst = out.data();
    size_t i = 0, w = 0;
    Step s;
    while (i < n) {
        if (src[i] != '=') {
            // A run of plain bytes goes in one copy.
            const size_t take = std::min(n - i, room - w);
            const void* eq = std::memchr(src + i, '=', take);
            const size_t len =
                eq ? static_cast<size_t>(static_cast<const unsigned char*>(eq) - (src + i)) : take;
            std::memcpy(dst + w, src + i, len);
            i += len;
            w += len;
            if (i < n && src[i] != '=') {
                s.full = true;
                break;
            }
            continue;
        }
        if (n - i < 3 && !final) break;  // the escape may go on in the next chunk
        const unsigned char c1 = i + 1 < n ? src[i + 1] : 0, c2 = i + 2 < n ? src[i + 2] : 0;
        if (c1 == 0xFF) ffAfterEquals_ = true;
        if (c1 == '\n' || (c1 == '\r' && c2 == '\n')) {  // soft line break
            i += c1 == '\n' ? 2 : 3;
            continue;
        }
        if (room == w) {
            s.full = true;
            break;
        }
        const int h = hexDigit(c1), l = c1 ? hexDigit(c2) : -1;
        if (h >= 0 && l >= 0) {
            dst[w++] = static_cast<char>((h << 4) | l);
            i += 3;
            continue;
        }
        malformed(runBase_ + i);
        dst[w++] = '=';
        ++i;
    }
    s.consumed = i;
    s.written = w;
    return s;
}

Step QuotedPrintableDecoder::feed(std::string_view in, std::span<char> out) {
    return feedCarrying(
        carry_, carryLen_, fed_, in, out,
        [this](const unsigned char* src, size_t n, std::span<char> o, size_t base, bool final) {
            runBase_ = base;
            return run(src, n, o, final);
        });
}

Step QuotedPrintableDecoder::finish(std::span<char> out) {
    runBase_ = fed_ - carryLen_;
    const Step s = run(carry_, carryLen_, out, true);
    std::memmove(carry_, carry_ + s.consumed, carryLen_ - s.consumed);
    carryLen_ -= s.consumed;
    return {0, s.written, s.full};
}

QpDecoded quotedPrintableDecode(std::string_view in, std::span<char> out) {
    QpDecoded r;
    if (out.empty()) return r;
    in = toNul(in);
    const size_t room = out.size() - 1;
    QuotedPrintableDecoder d;
    const Step s = d.feed(in, out.first(room));
    r.written = s.written;
    r.consumed = s.consumed;
    if (!s.full) {
        const Step f = d.finish(out.subspan(r.written, room - r.written));
        r.written += f.written;
        r.consumed -= d.pending();  // what did not fit stays unread
    }
    out[r.written] = '\0';
    r.ffAfterEquals = d.ffAfterEquals();
    r.malformedAt = d.malformedAt();
    return r;
}

std::string decodeQuotedPrintable(std::string_view in) {
    std::string out(quotedPrintableDecodedMax(in.size()), '\0');
    const QpDecoded d = quotedPrintableDecode(in, out);
    out.resize(d.written);
    return out;
}

// ------------------------------------------------------------------- ISO-2022-JP -> Shift_JIS
namespace {
// The decoder's shift state, held in locals while a run converts: the compiler would otherwise
// reload it after every output byte, which may alias it.
struct JisModes {
    bool kanji, kana, afterCr, asciiOnly;
    size_t malformedAt;
    void malformed(size_t at) {
        if (malformedAt == kWellFormed) malformedAt = at;
    }
    void escape(unsigned char c1, unsigned char c2, size_t at) {
        kanji = c1 == '$' && (c2 == 'B' || c2 == '@');
        // JIS X 0201 katakana, as some phones send half-width kana.
        kana = c1 == '(' && c2 == 'I';
        if (!kanji && !(c1 == '(' && (c2 == 'B' || c2 == 'J' || c2 == 'H' || c2 == 'I')))
            malformed(at);
    }
    // Writes two bytes; returns the input bytes taken.
    size_t kanjiPair(unsigned char c, unsigned char c1, size_t at, char* dst) {
        asciiOnly = false;
        unsigned char s1, s2;
        // A lone kanji byte before an escape or a line break is marked, and the rest kept.
        const bool lone = c1 == kEsc || c1 == '\r' || c1 == '\n';
        if (!lone && jisPairToSjis(c == 0x7F ? 0x7E : c, c1 == 0x7F ? 0x7E : c1, s1, s2)) {
            dst[0] = static_cast<char>(s1);
            dst[1] = static_cast<char>(s2);
            return 2;
        }
        malformed(at);
        dst[0] = kGeta1;
        dst[1] = kGeta2;
        kanji = false;
        return lone ? 1 : 2;
    }
};
}  // namespace

namespace {
// One run's buffers and where it stands in them; a local of run(), like the modes. The helpers
// work on copies of the positions: the output bytes they write might otherwise alias them.
struct JisCursor {
    const unsigned char* src;
    size_t n, i;
    char* dst;
    size_t room, w;
};

// Whole kanji pairs in a row, as most of a Japanese text is; then at most one pair that is not
// (broken, or before an escape or a line break), which kanjiPair marks.
inline void kanjiRun(JisModes& m, JisCursor& c, size_t base) {
    const unsigned char* const src = c.src;
    char* const dst = c.dst;
    const size_t n = c.n, room = c.room;
    size_t i = c.i, w = c.w;
    unsigned char s1, s2;
    while (n - i >= 2 && room - w >= 2 && jisPairToSjis(src[i], src[i + 1], s1, s2)) {
        dst[w++] = static_cast<char>(s1);
        dst[w++] = static_cast<char>(s2);
        i += 2;
        m.asciiOnly = false;
    }
    const unsigned char b = i < n ? src[i] : 0;
    if (n - i >= 2 && room - w >= 2 && b != kEsc && b != '\r' && b != '\n') {
        i += m.kanjiPair(b, src[i + 1], base + i, dst + w);
        w += 2;
    }
    c.i = i;
    c.w = w;
}

// A run of plain bytes, in one copy: up to an escape, a line break or a half-width kana byte,
// leaving room for one more byte.
inline void plainRun(const JisModes& m, JisCursor& c) {
    const unsigned char* const src = c.src;
    const size_t i = c.i;
    size_t j = i + 1;
    const size_t maxRun = std::min(c.n - i, c.room - c.w - 1);
    const bool kana = m.kana;
    while (j - i < maxRun && src[j] != kEsc && src[j] != '\r' && src[j] != '\n' &&
           !(kana && src[j] >= 0x21 && src[j] <= 0x5F))
        ++j;
    std::memcpy(c.dst + c.w, src + i, j - i);
    c.w += j - i;
    c.i = j;
}
}  // namespace

Step JisDecoder::run(const unsigned char* src, size_t n, std::span<char> out, bool final) {
    JisCursor c{src, n, 0, out.data(), out.size(), 0};
    Step s;
    JisModes m{kanji_, kana_, afterCr_, asciiOnly_, malformedAt_};
    const size_t base = runBase_;
    while (c.i < n) {
        const unsigned char b = src[c.i];
        if (m.afterCr) {
            // A CR is a line break whether or not an LF follows it.
            if (c.room == c.w) {
                s.full = true;
                break;
            }
            c.dst[c.w++] = '\n';
            m.afterCr = false;
            if (b == '\n') {
                ++c.i;
                continue;
            }
        }
        if (c.room - c.w < 2) {
            // Nearly full: only a plain byte still fits.
            if (c.room == c.w || m.kanji || b == kEsc || b == '\r' || b == '\n') {
                s.full = true;
                break;
            }
            c.dst[c.w++] = static_cast<char>(m.kana && b >= 0x21 && b <= 0x5F ? b + 0x80 : b);
            ++c.i;
            continue;
        }
        if (b == kEsc) {
            if (n - c.i < 3 && !final) break;
            // Never past the end of the text: a cut escape consumes what there is.
            m.escape(c.i + 1 < n ? src[c.i + 1] : 0, c.i + 2 < n ? src[c.i + 2] : 0, base + c.i);
            c.i += std::min<size_t>(3, n - c.i);
            continue;
        }
        if (m.kanji && b != '\r' && b != '\n') {
            if (c.i + 1 >= n && !final) break;
            if (c.i + 1 < n) {
                kanjiRun(m, c, base);
                continue;
            }
            // A kanji byte at the very end is copied as it stands (below).
        }
        if (m.kana && b >= 0x21 && b <= 0x5F) {
            c.dst[c.w++] = static_cast<char>(b + 0x80);
            ++c.i;
            continue;
        }
        if (b == '\n' || b == '\r') {
            m.kanji = m.kana = false;  // a line break ends a run that was never shifted back
            c.dst[c.w++] = '\r';
            if (b == '\n') c.dst[c.w++] = '\n';
            m.afterCr = b == '\r';
            ++c.i;
            continue;
        }
        plainRun(m, c);
    }
    kanji_ = m.kanji;
    kana_ = m.kana;
    afterCr_ = m.afterCr;
    asciiOnly_ = m.asciiOnly;
    malformedAt_ = m.malformedAt;
    s.consumed = c.i;
    s.written = c.w;
    return s;
}

Step JisDecoder::feed(std::string_view in, std::span<char> out) {
    return feedCarrying(
        carry_, carryLen_, fed_, in, out,
        [this](const unsigned char* src, size_t n, std::span<char> o, size_t base, bool final) {
            runBase_ = base;
            return run(src, n, o, final);
        });
}

Step JisDecoder::finish(std::span<char> out, bool atLineBreak) {
    Step s;
    if (atLineBreak && kanji_ && carryLen_ == 1 && carry_[0] != kEsc) {
        // The lone kanji byte stands before the line break that follows the text.
        if (out.size() < 2) return {0, 0, true};
        malformed(fed_ - 1);
        asciiOnly_ = false;
        out[0] = kGeta1;
        out[1] = kGeta2;
        kanji_ = false;
        carryLen_ = 0;
        return {0, 2, false};
    }
    if (carryLen_ > 0) {
        runBase_ = fed_ - carryLen_;
        s = run(carry_, carryLen_, out, true);
        std::memmove(carry_, carry_ + s.consumed, carryLen_ - s.consumed);
        carryLen_ -= s.consumed;
        if (s.full) return {0, s.written, true};
    }
    if (afterCr_ && !atLineBreak) {
        if (out.size() == s.written) return {0, s.written, true};
        out[s.written++] = '\n';
    }
    afterCr_ = false;
    return {0, s.written, false};
}

namespace {
// Runs the JIS decoder over a whole text, `atLineBreak` as finish() takes it.
Decoded jisWhole(std::string_view in, std::span<char> out, bool atLineBreak) {
    if (out.empty()) return {};
    const size_t room = out.size() - 1;
    JisDecoder d;
    const Step s = d.feed(in, out.first(room));
    size_t w = s.written, consumed = s.consumed;
    if (!s.full) {
        const Step f = d.finish(out.subspan(w, room - w), atLineBreak);
        w += f.written;
        consumed -= d.pending();
    }
    out[w] = '\0';
    Decoded r{consumed, w};
    r.asciiOnly = d.asciiOnly();
    r.malformedAt = d.malformedAt();
    return r;
}
}  // namespace

Decoded jisToSjis(std::string_view in, std::span<char> out) {
    return jisWhole(toNul(in), out, false);
}

std::string jisToSjis(std::string_view in) {
    std::string out(jisToSjisMax(in.size()), '\0');
    const Decoded d = jisToSjis(in, out);
    out.resize(d.written);
    return out;
}

// ------------------------------------------------------------------------- EUC-JP -> Shift_JIS
namespace {
Decoded eucWhole(std::string_view in, std::span<char> out, bool beforeLineBreak) {
    if (out.empty()) return {};
    in = toNul(in);
    const size_t room = out.size() - 1;
    const size_t n = in.size();
    const auto* src = reinterpret_cast<const unsigned char*>(in.data());
    char* dst = out.data();
    size_t i = 0, w = 0;
    Decoded r;
    auto high = [](unsigned char b) { return b >= 0xA1 && b <= 0xFE; };
    // The byte after the text: the line break of a boundary line, or the end.
    auto at = [&](size_t k) -> unsigned char {
        return k < n ? src[k] : (k == n && beforeLineBreak ? '\n' : 0);
    };
    while (i < n && room - w >= 2) {
        const unsigned char c = src[i], c1 = at(i + 1);
        if (c == 0x8E && c1 >= 0xA1 && c1 <= 0xDF) {  // half-width katakana
            dst[w++] = static_cast<char>(c1);
            i += 2;
        } else if (c == 0x8F && high(c1) && high(at(i + 2))) {  // JIS X 0212: no such form
            dst[w++] = kGeta1;
            dst[w++] = kGeta2;
            r.asciiOnly = false;
            i += 3;
        } else if (high(c) && high(c1)) {
            unsigned char s1, s2;
            jisPairToSjis(c & 0x7F, c1 & 0x7F, s1, s2);
            dst[w++] = static_cast<char>(s1);
            dst[w++] = static_cast<char>(s2);
            r.asciiOnly = false;
            i += 2;
        } else if (c == '\n') {
            if (i == 0 || src[i - 1] != '\r') dst[w++] = '\r';
            dst[w++] = '\n';
            ++i;
        } else if (c == '\r') {
            dst[w++] = '\r';
            if (c1 != '\n') dst[w++] = '\n';
            ++i;
        } else if (c >= 0x80) {  // a lone or broken high byte
            if (r.malformedAt == kWellFormed) r.malformedAt = i;
            dst[w++] = kGeta1;
            dst[w++] = kGeta2;
            ++i;
        } else {
            dst[w++] = static_cast<char>(c);
            ++i;
        }
    }
    dst[w] = '\0';
    r.consumed = i;
    r.written = w;
    return r;
}
}  // namespace

Decoded eucToSjis(std::string_view in, std::span<char> out) {
    return eucWhole(in, out, false);
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

size_t count(std::string_view s, char c) {
    for (size_t n = 0;; ++n) {
        const void* p = s.empty() ? nullptr : std::memchr(s.data(), c, s.size());
        if (!p) return n;
        s.remove_prefix(static_cast<size_t>(static_cast<const char*>(p) - s.data()) + 1);
    }
}

// The length a UTF-8 lead byte announces; 0 for a byte that cannot start a character.
inline size_t utf8Length(unsigned char c) {
    return c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
}

// Bytes at the end of `s` that the next chunk may continue: a byte from 0xC0 up with fewer than
// three continuation bytes after it. A converter takes a lead byte, valid or not, with at most
// three continuation bytes as one unit, so anywhere else a chunk's end is a unit's end.
size_t cutCharacter(std::string_view s) {
    const size_t n = s.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto c = static_cast<unsigned char>(s[n - back]);
        if ((c & 0xC0) == 0x80) continue;
        return c >= 0xC0 ? back : 0;
    }
    return 0;
}
}  // namespace

size_t firstMalformedUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        if (n - i >= 8) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = p[i];
        const size_t len = utf8Length(c);
        if (len == 1) {
            ++i;
            continue;
        }
        if (len == 0 || n - i < len) return i;
        uint32_t cp = c & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return i;
        i += len;
    }
    return kWellFormed;
}

bool isValidUtf8(std::string_view s) {
    return firstMalformedUtf8(s) == kWellFormed;
}

// Converts whole characters of `in` (the conversion never grows them).
Step Utf8Decoder::convert(std::string_view in, std::span<char> out) {
    if (in.empty() || !converted_) return {in.size(), 0, false};
    const auto written = platform::textCodec().utf8ToSjis(in, out);
    if (!written) {
        converted_ = false;
        return {in.size(), 0, false};
    }
    // A malformed sequence comes out as the replacement character: only text that gained one
    // is looked at closely (a character Shift_JIS lacks gains one too).
    const size_t marks =
        malformedAt_ == kWellFormed ? count({out.data(), *written}, '?') : size_t{0};
    if (marks > 0 && count(in, '?') != marks) {
        const size_t bad = firstMalformedUtf8(in);
        if (bad != kWellFormed) malformed(runBase_ + bad);
    }
    if (asciiOnly_ && hasDoubleByte({out.data(), *written})) asciiOnly_ = false;
    return {in.size(), *written, false};
}

Step Utf8Decoder::feed(std::string_view in, std::span<char> out) {
    size_t i = 0, w = 0;
    // A unit cut by the last chunk: its continuation bytes are gathered until a byte that cannot
    // continue it, or the most a unit can hold.
    while (carryLen_ > 0 && i < in.size()) {
        const auto c = static_cast<unsigned char>(in[i]);
        if ((c & 0xC0) == 0x80 && carryLen_ < sizeof carry_) {
            carry_[carryLen_++] = in[i++];
            if (carryLen_ < sizeof carry_) continue;
        }
        if (out.size() - w < carryLen_) return {i, w, true};
        runBase_ = fed_;
        w += convert({carry_, carryLen_}, out.subspan(w)).written;
        fed_ += carryLen_;
        carryLen_ = 0;
    }
    if (carryLen_ > 0) return {i, w, false};
    std::string_view rest = in.substr(i);
    bool full = false;
    if (rest.size() > out.size() - w) {
        // Whatever fits the room converts (the conversion never grows); the cut goes before the
        // unit it would fall into, which starts at most three bytes back.
        const size_t n = out.size() - w;
        size_t k = 0;
        while (k < 3 && k < n && (static_cast<unsigned char>(rest[n - k]) & 0xC0) == 0x80)
            ++k;
        const bool starts = (static_cast<unsigned char>(rest[n - k]) & 0xC0) != 0x80;
        rest = rest.substr(0, starts ? n - k : n);
        full = true;
    }
    const size_t cut = full ? 0 : cutCharacter(rest);
    runBase_ = fed_;
    w += convert(rest.substr(0, rest.size() - cut), out.subspan(w)).written;
    fed_ += rest.size() - cut;  // the carry's bytes are counted when they convert
    if (cut > 0) std::memcpy(carry_, rest.data() + rest.size() - cut, cut);
    carryLen_ = cut;
    return {i + rest.size(), w, full};
}

Step Utf8Decoder::finish(std::span<char> out) {
    if (carryLen_ == 0) return {};
    if (out.size() < carryLen_) return {0, 0, true};
    runBase_ = fed_;
    const Step s = convert({carry_, carryLen_}, out);
    fed_ += carryLen_;
    carryLen_ = 0;
    return {0, s.written, false};
}

Utf8Decoded utf8ToSjis(std::string_view in, std::span<char> out) {
    Utf8Decoded r;
    if (out.empty()) {
        r.converted = false;
        return r;
    }
    in = toNul(in);
    const size_t room = out.size() - 1;
    Utf8Decoder d;
    const Step s = d.feed(in, out.first(room));
    size_t w = s.written, consumed = s.consumed;
    if (!s.full) w += d.finish(out.subspan(w, room - w)).written;
    if (!d.converted()) {
        out[0] = '\0';
        r.converted = false;
        return r;
    }
    out[w] = '\0';
    r.consumed = consumed;
    r.written = w;
    r.asciiOnly = d.asciiOnly();
    r.malformedAt = d.malformedAt();
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

// Base64 of a text part. Blank lines after the data carry nothing: before a boundary line the
// part ends at the line break that belongs to the boundary, as it does after any other text.
size_t decodeBase64Part(std::string_view body, bool beforeBoundary, std::string& out) {
    out.assign(base64DecodedMax(body.size()), '\0');
    const Decoded d = base64Decode(body, out, beforeBoundary);
    out.resize(d.written);
    const size_t from = d.consumed;
    size_t j = from;
    while (j < body.size() && ascii::isSpace(body[j]))
        ++j;
    if (j == from) return from;
    if (j == body.size()) {
        // Blanks up to the boundary line: its LF stays with it, and the CR before it.
        if (!beforeBoundary) return from;
    } else {
        if (body.substr(j, 2) != "--") return from;
        if (body[j - 1] == '\n') --j;
    }
    if (j > from && body[j - 1] == '\r') --j;
    return j;
}

// The charset conversion of a text part's (transfer-decoded) text; `beforeLineBreak` when the
// text is followed by the line break of a boundary line.
Decoded convertCharset(std::string_view text, std::string_view charset, bool qpFlag,
                       bool beforeLineBreak, std::string& out) {
    const bool utf8 = isUtf8Charset(charset);
    if (!utf8 && classifyCharset(charset) == Charset::EucJp) {
        out.assign(eucToSjisMax(text.size()), '\0');
        return eucWhole(text, out, beforeLineBreak);
    }
    if (utf8 && !qpFlag) {
        out.assign(utf8ToSjisMax(text.size()), '\0');
        const Utf8Decoded u = utf8ToSjis(text, out);
        if (u.converted) return u;
    }
    out.assign(jisToSjisMax(text.size()), '\0');
    return jisWhole(toNul(text), out, beforeLineBreak);
}
}  // namespace

TextBody decodeTextBody(std::string_view body, std::string_view transferEncoding,
                        std::string_view charset, bool beforeBoundary) {
    TextBody r;
    const char t0 = transferEncoding.empty() ? '\0' : ascii::lower(transferEncoding[0]);
    const char t1 = transferEncoding.size() < 2 ? '\0' : ascii::lower(transferEncoding[1]);
    std::string decoded;
    std::string_view text = body;
    bool qpFlag = false;
    const bool transfer = (t0 == 'b' && t1 == 'a') || t0 == 'q';
    if (transfer) {
        if (t0 == 'b') {
            r.consumed = decodeBase64Part(body, beforeBoundary, decoded);
        } else {
            decoded.assign(quotedPrintableDecodedMax(body.size()), '\0');
            const QpDecoded q = quotedPrintableDecode(body, decoded);
            qpFlag = q.ffAfterEquals;
            decoded.resize(q.written);
            r.consumed = q.consumed;
        }
        text = decoded;
    }
    size_t skipped = 0;
    if (isUtf8Charset(charset) && text.substr(0, 3) == "\xEF\xBB\xBF") {
        // A byte-order mark says nothing to a reader and has no Shift_JIS form.
        text.remove_prefix(3);
        skipped = 3;
    }
    const Decoded c = convertCharset(text, charset, qpFlag, beforeBoundary && !transfer, r.text);
    r.text.resize(c.written);
    r.asciiOnly = c.asciiOnly;
    if (!transfer) r.consumed = c.consumed + skipped;
    return r;
}

}  // namespace kolvy::mime

// ------------------------------------------------------------------------ the C entry points
namespace {
using kolvy::mime::Decoded;
using namespace kolvy::cursor;

// The text a body decoder of the cursor takes: up to the NUL, or up to the LF of the first
// boundary line when a boundary is given. `cut` tells which.
std::string_view sourceTo(const DecodeCursor* c, kolvy::mime::Boundary b, bool& cut) {
    const std::string_view in = sourceOf(c);
    const size_t lf = kolvy::mime::findBoundaryLine(in, 0, b);
    cut = lf != std::string_view::npos;
    return cut ? in.substr(0, lf) : in;
}

// The entry points keep the process-wide flag the rules read.
void noteJapanese(const Decoded& d) {
    if (!d.asciiOnly) kolvy::mime::AsciiOnly.store(false, std::memory_order_relaxed);
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
    bool cut;
    const std::string_view in = sourceTo(cursor, kolvy::mime::boundaryOf(header), cut);
    const auto d = kolvy::mime::quotedPrintableDecode(
        in, roomFor(cursor, kolvy::mime::quotedPrintableDecodedMax(in.size())));
    setEnds(cursor, d);
    return d.ffAfterEquals ? 1 : 0;
}

void JisToSJis(DecodeCursor* cursor, HeaderInfo* header) {
    if (!usable(cursor)) return;
    bool cut;
    const std::string_view in = sourceTo(cursor, kolvy::mime::boundaryOf(header), cut);
    const Decoded d =
        kolvy::mime::jisWhole(in, roomFor(cursor, kolvy::mime::jisToSjisMax(in.size())), cut);
    setEnds(cursor, d);
    noteJapanese(d);
}

int Utf8ToSJis(DecodeCursor* cursor, HeaderInfo* header, int stopAtBoundary) {
    if (!usable(cursor)) return 1;
    bool cut;
    const std::string_view in = sourceTo(
        cursor, stopAtBoundary == 1 ? kolvy::mime::boundaryOf(header) : kolvy::mime::Boundary(),
        cut);
    const auto d =
        kolvy::mime::utf8ToSjis(in, roomFor(cursor, kolvy::mime::utf8ToSjisMax(in.size())));
    setEnds(cursor, d);
    noteJapanese(d);
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
