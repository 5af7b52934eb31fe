// MIME encoded words (RFC 2047) in one header field, and RFC 2231 parameter values.
//
// A field is staged first: the bytes between words as they stand and each word's decoded bytes,
// every staged byte tagged with the charset it is in. The staging is then converted run by run:
// adjacent bytes of one charset go through one conversion, so a character that a sender split
// across two words joins again, while ISO-2022-JP and UTF-8 words in one field each get their own
// converter.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "core/ascii.h"
#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/internal.h"

namespace kolvy::mime {
namespace {

enum class Kind : uint8_t {
    Raw,   // bytes outside words: their charset is settled once the whole field is seen
    Jis,   // ISO-2022-JP and Shift_JIS words (Shift_JIS passes the JIS conversion unchanged)
    Utf8,  // words decoded as UTF-8
    Euc,   // EUC-JP words
};

struct Staging {
    std::array<char, kFieldStaging> text;
    std::array<Kind, kFieldStaging> kind;
    size_t n = 0;
    bool hasUtf8 = false;
    size_t room() const { return kFieldStaging - 1 - n; }
    void put(char c, Kind k) {
        text[n] = c;
        kind[n++] = k;
    }
};

inline unsigned char at(std::string_view s, size_t i) {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : 0;
}
inline unsigned char lower(unsigned char c) {
    return static_cast<unsigned char>(ascii::lower(static_cast<char>(c)));
}

// Where the current line ends (the next CR or NUL) and where the next "?=" on it is, remembered
// so that a line full of "=?" is still scanned once, not once per "=?".
class LineLookahead {
  public:
    explicit LineLookahead(std::string_view s) : s_(s) {}
    size_t lineEnd(size_t from) {
        if (from < leFrom_ || from > le_) {
            le_ = from;
            while (le_ < s_.size() && s_[le_] != '\r' && s_[le_] != '\0')
                ++le_;
            leFrom_ = from;
        }
        return le_;
    }
    // The first "?=" at or after `from` that ends before the line end; npos when there is none.
    size_t closing(size_t from) {
        const size_t le = lineEnd(from);
        if (from < qeFrom_ || from > qe_ || qeLine_ != le) {
            qe_ = from;
            while (qe_ + 1 < le && !(s_[qe_] == '?' && s_[qe_ + 1] == '='))
                ++qe_;
            if (qe_ + 1 >= le) qe_ = le;  // none on this line
            qeFrom_ = from;
            qeLine_ = le;
        }
        return qe_ < le ? qe_ : std::string_view::npos;
    }

  private:
    std::string_view s_;
    size_t leFrom_ = 1, le_ = 0;  // empty cache
    size_t qeFrom_ = 1, qe_ = 0, qeLine_ = 0;
};

struct Word {
    Kind kind = Kind::Raw;
    bool base64 = false;
    size_t textStart = 0, textEnd = 0;  // the encoded text
    size_t end = 0;                     // after the closing "?="
};

// The charset label between "=?" and the next "?" on the line. Returns the prefix length up to
// the encoding letter ("=?utf-8?" 8) or 0 when the charset is not one that is converted.
size_t charsetPrefix(std::string_view s, size_t p, size_t lineEnd, Kind& kind) {
    constexpr size_t kLabelMax = 40;  // longer than any label this program converts
    size_t q = p + 2;
    while (q < lineEnd && q - p - 2 <= kLabelMax && s[q] != '?')
        ++q;
    if (q >= lineEnd || s[q] != '?') return 0;
    switch (classifyCharset(s.substr(p + 2, q - p - 2))) {
        case Charset::Utf8:
            if (NoUtf8.load(std::memory_order_relaxed)) return 0;
            kind = Kind::Utf8;
            break;
        case Charset::Jis:
        case Charset::ShiftJis:
            kind = Kind::Jis;
            break;
        case Charset::EucJp:
            kind = Kind::Euc;
            break;
        case Charset::Other:
            return 0;
    }
    return q + 1 - p;
}

// A recognised word at p ("=?" already seen); false leaves the bytes to be copied.
bool recogniseWord(std::string_view s, size_t p, LineLookahead& look, Word& w) {
    const size_t le = look.lineEnd(p);
    Kind kind = Kind::Raw;
    const size_t prefix = charsetPrefix(s, p, le, kind);
    if (prefix == 0 || p + prefix + 1 >= le) return false;
    const unsigned char letter = lower(at(s, p + prefix));
    if ((letter != 'b' && letter != 'q') || at(s, p + prefix + 1) != '?') return false;
    // The closing "?=" is looked for only after the encoding letter: Q text often starts
    // with "=".
    const size_t textStart = p + prefix + 2;
    const size_t close = look.closing(textStart);
    if (close == std::string_view::npos) return false;
    w.kind = kind;
    w.base64 = letter == 'b';
    w.textStart = textStart;
    w.textEnd = close;
    w.end = close + 2;
    return true;
}

// The end of a word that is copied as it stands ("=?" to "?="), or 0 when there is no "?=".
size_t unrecognisedWordEnd(std::string_view s, size_t p, LineLookahead& look) {
    // charset "?" letter "?" text "?=": the closing is looked for after the letter when the
    // word has that shape, else anywhere after "=?".
    const size_t le = look.lineEnd(p);
    size_t q = p + 2;
    while (q < le && s[q] != '?')
        ++q;
    size_t from = p + 2;
    if (q + 2 < le && s[q + 2] == '?') from = q + 3;
    const size_t close = look.closing(from);
    return close == std::string_view::npos ? 0 : close + 2;
}

// RFC 2047 Q: "_" is a blank, "=XX" a byte; a broken escape stays as it is.
size_t decodeQ(std::string_view text, char* out, size_t room) {
    size_t w = 0;
    for (size_t i = 0; i < text.size() && w < room;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '_') {
            out[w++] = ' ';
            ++i;
            continue;
        }
        if (c == '=') {
            const int h = hexDigit(at(text, i + 1)), l = hexDigit(at(text, i + 2));
            if (h >= 0 && l >= 0) {
                out[w++] = static_cast<char>((h << 4) | l);
                i += 3;
                continue;
            }
        }
        out[w++] = static_cast<char>(c);
        ++i;
    }
    return w;
}

void stageWord(std::string_view s, const Word& word, Staging& st) {
    std::string_view text = s.substr(word.textStart, word.textEnd - word.textStart);
    if (text.size() > kEncodedTextMax) text = text.substr(0, kEncodedTextMax);
    char* out = st.text.data() + st.n;
    size_t w;
    if (word.base64) {
        // The span includes the staging's last byte for the decoder's NUL.
        w = base64Decode(text, std::span<char>(out, st.room() + 1)).written;
    } else {
        w = decodeQ(text, out, st.room());
    }
    if (w > 0 && out[w - 1] == '\n') --w;
    // A decoded line break or NUL would end the header line in the stored copy.
    blankLineBreaks({out, w});
    for (size_t k = 0; k < w; ++k)
        st.kind[st.n + k] = word.kind;
    st.n += w;
    if (word.kind == Kind::Utf8 && w > 0) st.hasUtf8 = true;
}

// Raw 8-bit header text comes as UTF-8 (mail with internationalised headers) or as Shift_JIS
// (some Japanese mailers). A run is read as UTF-8 when it is valid UTF-8 and either holds a
// multi-byte sequence or stands in a field with UTF-8 words; anything else (Shift_JIS, JIS
// escapes) takes the JIS path, which keeps Shift_JIS as it is.
Kind settleRaw(const Staging& st, size_t a, size_t b) {
    const std::string_view run(st.text.data() + a, b - a);
    if (run.find('\x1B') != std::string_view::npos || !isValidUtf8(run)) return Kind::Jis;
    const bool multiByte = std::any_of(
        run.begin(), run.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return multiByte || st.hasUtf8 ? Kind::Utf8 : Kind::Jis;
}

Decoded convertRun(std::string_view run, Kind kind, std::span<char> out) {
    if (kind == Kind::Utf8) {
        const Utf8Decoded d = utf8ToSjis(run, out);
        if (d.converted) return d;
        // No conversion available: the bytes are kept rather than lost.
    }
    if (kind == Kind::Euc) return eucToSjis(run, out);
    return jisToSjis(run, out);
}

// Japanese in a header field counts for the rules as it does in the body: the header extraction
// leaves the process-wide flag to the fields' conversions.
size_t noteJapanese(const Decoded& d) {
    if (!d.asciiOnly) AsciiOnly.store(false, std::memory_order_relaxed);
    return d.written;
}

}  // namespace

Decoded decodeEncodedWords(std::string_view in, std::span<char> out) {
    if (out.empty()) return {};
    Staging st;
    LineLookahead look(in);
    size_t p = 0;
    while (p < in.size() && st.room() > 0) {
        const auto c = static_cast<unsigned char>(in[p]);
        if (c == 0) break;
        if (c == '\r' && at(in, p + 1) == '\n') {
            const unsigned char next = at(in, p + 2);
            if (next != ' ' && next != '\t') break;  // the end of the field
        }
        if (c == '=' && at(in, p + 1) == '?') {
            Word word;
            if (recogniseWord(in, p, look, word)) {
                stageWord(in, word, st);
                p = word.end;
                // A word continued on a folded line joins its neighbour without a gap.
                if (at(in, p) == '\r' && at(in, p + 1) == '\n' &&
                    (at(in, p + 2) == ' ' || at(in, p + 2) == '\t'))
                    p += 3;
                continue;
            }
            const size_t end = unrecognisedWordEnd(in, p, look);
            if (end != 0) {
                while (p < end && st.room() > 0)
                    st.put(in[p++], Kind::Raw);
                continue;
            }
        }
        st.put(static_cast<char>(c), Kind::Raw);
        ++p;
    }

    // Convert the staging run by run.
    std::array<Kind, kFieldStaging>& kinds = st.kind;
    for (size_t a = 0; a < st.n;) {
        if (kinds[a] != Kind::Raw) {
            ++a;
            continue;
        }
        size_t b = a;
        while (b < st.n && kinds[b] == Kind::Raw)
            ++b;
        const Kind k = settleRaw(st, a, b);
        for (size_t i = a; i < b; ++i)
            kinds[i] = k;
        a = b;
    }
    size_t w = 0;
    for (size_t a = 0; a < st.n;) {
        size_t b = a + 1;
        while (b < st.n && kinds[b] == kinds[a])
            ++b;
        w += noteJapanese(convertRun({st.text.data() + a, b - a}, kinds[a], out.subspan(w)));
        if (w + 1 >= out.size()) break;  // the output is full
        a = b;
    }
    out[w] = '\0';
    return {p, w};
}

std::string decodeHeaderField(std::string_view in) {
    std::string out(encodedWordsMax(in.size()), '\0');
    const Decoded d = decodeEncodedWords(in, out);
    out.resize(d.written);
    return out;
}

// ------------------------------------------------------------------------ RFC 2231 values
namespace {

enum class ParamCharset { Jis, Utf8, Euc, Other };

// "charset'language'": the charset names that are converted; anything else (Shift_JIS among
// them) is kept.
ParamCharset paramCharset(std::string_view cs) {
    switch (classifyCharset(cs)) {
        case Charset::Jis:
            return ParamCharset::Jis;
        case Charset::Utf8:
            return NoUtf8.load(std::memory_order_relaxed) ? ParamCharset::Other
                                                          : ParamCharset::Utf8;
        case Charset::EucJp:
            return ParamCharset::Euc;
        case Charset::ShiftJis:
        case Charset::Other:
            break;
    }
    return ParamCharset::Other;
}

// How far the charset and language prefix may reach (its quotes are looked for this far).
constexpr size_t kCharsetPrefixReach = 30;

}  // namespace

size_t decodeExtendedValue(std::span<const ParamSection> sections, std::span<char> out) {
    if (out.empty()) return 0;
    std::array<char, kExtendedValueMax + 1> gathered;
    size_t g = 0;
    ParamCharset charset = ParamCharset::Other;
    bool first = true;
    for (const ParamSection& sec : sections) {
        std::string_view v = sec.value;
        if (sec.extended) {
            if (first) {
                const size_t q1 = v.substr(0, kCharsetPrefixReach).find('\'');
                if (q1 != std::string_view::npos) {
                    charset = paramCharset(v.substr(0, q1));
                    v.remove_prefix(q1 + 1);
                    const size_t q2 = v.substr(0, kCharsetPrefixReach).find('\'');
                    if (q2 != std::string_view::npos) v.remove_prefix(q2 + 1);
                }
            }
            for (size_t i = 0; i < v.size() && g < kExtendedValueMax;) {
                if (v[i] == '%') {
                    const int h = hexDigit(at(v, i + 1)), l = hexDigit(at(v, i + 2));
                    if (h >= 0 && l >= 0) gathered[g++] = static_cast<char>((h << 4) | l);
                    i += (h >= 0 && l >= 0) ? 3 : 1;  // a "%" without digits is dropped
                    continue;
                }
                gathered[g++] = v[i++];
            }
        } else {
            const size_t take = std::min(v.size(), kExtendedValueMax - g);
            std::memcpy(gathered.data() + g, v.data(), take);
            g += take;
        }
        first = false;
    }
    blankLineBreaks({gathered.data(), g});
    const std::string_view value(gathered.data(), g);
    switch (charset) {
        case ParamCharset::Jis:
            return noteJapanese(jisToSjis(value, out));
        case ParamCharset::Euc:
            return noteJapanese(eucToSjis(value, out));
        case ParamCharset::Utf8: {
            const Utf8Decoded d = utf8ToSjis(value, out);
            if (d.converted) return noteJapanese(d);
            break;
        }
        case ParamCharset::Other:
            break;
    }
    const size_t take = sjis::boundaryAtOrBefore(value, std::min(value.size(), out.size() - 1));
    std::memcpy(out.data(), value.data(), take);
    out[take] = '\0';
    return take;
}

}  // namespace kolvy::mime
