#include "smtp/encode.h"

#include <array>
#include <cstdint>

#include "core/cursor.h"
#include "core/sjis.h"
#include "mime/encode.h"

namespace kolvy::smtp {

namespace {

// JIS X 0208 code of the geta mark 〓, written for characters without a JIS form.
constexpr uint16_t kGeta = 0x222E;
// Rows beyond 0x74 are empty in JIS X 0208 (in Shift_JIS they are the user-defined and IBM rows).
constexpr unsigned char kLastJisRow = 0x74;

// Full-width Shift_JIS forms of the half-width katakana 0xA1-0xDF.
constexpr std::array<uint16_t, 63> kFullWidth = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};
constexpr unsigned char kVoicedMark = 0xDE, kSemiVoicedMark = 0xDF;

uint8_t u8(char c) {
    return static_cast<uint8_t>(c);
}

// The full-width Shift_JIS code of the half-width katakana at in[i], joined with a following
// voiced or semi-voiced mark where such a character exists; `used` says how many bytes it took.
uint16_t fullWidthKana(std::string_view in, size_t i, size_t& used) {
    const uint8_t b = u8(in[i]);
    uint16_t code = kFullWidth[b - 0xA1];
    used = 1;
    if (i + 1 >= in.size()) return code;
    const uint8_t next = u8(in[i + 1]);
    const bool voiceable = (b >= 0xB6 && b <= 0xC4) || (b >= 0xCA && b <= 0xCE);
    if (next == kVoicedMark && (voiceable || b == 0xB3)) {
        used = 2;
        return b == 0xB3 ? 0x8394 : static_cast<uint16_t>(code + 1);  // ｳﾞ is ヴ
    }
    if (next == kSemiVoicedMark && b >= 0xCA && b <= 0xCE) {
        used = 2;
        return static_cast<uint16_t>(code + 2);
    }
    return code;
}

// The JIS X 0208 code of a Shift_JIS pair (lead 0x81-0x9F or 0xE0-0xEF, valid trail byte), or
// the geta mark when the pair lands outside the JIS rows.
uint16_t pairToJis(uint8_t s1, uint8_t s2) {
    unsigned j1 = (s1 - (s1 <= 0x9F ? 0x70u : 0xB0u)) << 1;
    unsigned j2;
    if (s2 < 0x9F) {
        j1 -= 1;
        j2 = s2 - (s2 >= 0x80 ? 0x20u : 0x1Fu);
    } else {
        j2 = s2 - 0x7Eu;
    }
    if (j1 < 0x21 || j1 > kLastJisRow || j2 < 0x21 || j2 > 0x7E) return kGeta;
    return static_cast<uint16_t>(j1 << 8 | j2);
}

// ESC, SO and SI would switch the reader's character set in the middle of the text.
bool isShiftCode(uint8_t b) {
    return b == 0x1B || b == 0x0E || b == 0x0F;
}

// One character of the input: a JIS code (double) or a byte (single), and its length.
struct Char {
    bool dbl = false;
    uint16_t jis = 0;
    char byte = 0;
    size_t len = 1;
};

Char nextChar(std::string_view in, size_t i) {
    const uint8_t b = u8(in[i]);
    Char c;
    if (b < 0x80 && !isShiftCode(b)) {
        c.byte = in[i];
        return c;
    }
    c.dbl = true;
    if (b < 0x80) {
        c.jis = kGeta;
        return c;
    }
    if (b >= 0xA1 && b <= 0xDF) {
        const uint16_t s = fullWidthKana(in, i, c.len);
        c.jis = pairToJis(static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s & 0xFF));
        return c;
    }
    const bool jisLead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
    if (sjis::charLen(in, i) == 2) {
        c.len = 2;
        c.jis = jisLead ? pairToJis(b, u8(in[i + 1])) : kGeta;
        return c;
    }
    c.jis = kGeta;  // a lone lead byte, or 0x80, 0xA0, 0xFD-0xFF
    return c;
}

// Writes through a pointer the caller has sized; tracks the shift state.
struct JisWriter {
    char* p;
    bool kanji = false;
    void put(const Char& c) {
        if (c.dbl) {
            if (!kanji) p = copy(p, "\x1b$B");
            kanji = true;
            *p++ = static_cast<char>(c.jis >> 8);
            *p++ = static_cast<char>(c.jis & 0xFF);
            return;
        }
        finish();
        *p++ = c.byte;
    }
    void finish() {
        if (kanji) p = copy(p, "\x1b(B");
        kanji = false;
    }
    static char* copy(char* p, std::string_view s) {
        for (char ch : s)
            *p++ = ch;
        return p;
    }
};

// Bytes the character adds in the given state, the closing escape it may need included.
size_t jisCost(const Char& c, bool kanji) {
    if (c.dbl) return (kanji ? 2 : 5) + 3;
    return kanji ? 4 : 1;
}

std::string_view untilNul(std::string_view s) {
    const size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

}  // namespace

Encoded sjisToJis(std::string_view in, std::span<char> out) {
    Encoded e;
    if (out.empty()) return e;
    in = untilNul(in);
    JisWriter w{out.data()};
    char* const limit = out.data() + out.size();
    size_t i = 0;
    while (i < in.size()) {
        const Char c = nextChar(in, i);
        // Room for this character, the closing escape it may need and the NUL.
        if (static_cast<size_t>(limit - w.p) < jisCost(c, w.kanji) + 1) break;
        w.put(c);
        i += c.len;
    }
    w.finish();
    *w.p = '\0';
    e.consumed = i;
    e.written = static_cast<size_t>(w.p - out.data());
    return e;
}

void appendJis(std::string& out, std::string_view in) {
    in = untilNul(in);
    const size_t at = out.size();
    out.resize(at + sjisToJisMax(in.size()));
    const Encoded e = sjisToJis(in, std::span<char>(out.data() + at, out.size() - at));
    out.resize(at + e.written);
}

std::string sjisToJis(std::string_view in) {
    std::string out;
    appendJis(out, in);
    return out;
}

namespace {

// The ISO-2022-JP text of the next word starting at in[i]: characters are taken while the text
// (with its closing escape) stays within maxJis; at least one character is always taken.
std::string nextWordJis(std::string_view in, size_t& i, size_t maxJis) {
    std::string jis(maxJis + 8, '\0');
    JisWriter w{jis.data()};
    size_t used = 0;
    while (i < in.size()) {
        const Char c = nextChar(in, i);
        if (used > 0 && static_cast<size_t>(w.p - jis.data()) + jisCost(c, w.kanji) > maxJis) break;
        w.put(c);
        used += c.len;
        i += c.len;
    }
    w.finish();
    jis.resize(static_cast<size_t>(w.p - jis.data()));
    return jis;
}

constexpr std::string_view kWordStart = "=?ISO-2022-JP?B?";
// Words of one text are joined by a folding line break: readers join such words without a gap,
// while a plain blank between two words may be kept as a blank.
constexpr std::string_view kFold = "\r\n ";
constexpr std::string_view kWordEnd = "?=";

void appendWord(std::string& out, std::string_view jis) {
    out += kWordStart;
    appendBase64(out, jis, false);
    out += kWordEnd;
}

}  // namespace

void appendEncodedWords(std::string& out, std::string_view sjis, std::string_view separator) {
    sjis = untilNul(sjis);
    size_t i = 0;
    if (sjis.empty()) return appendWord(out, {});
    while (i < sjis.size()) {
        if (i > 0) out += separator;
        appendWord(out, nextWordJis(sjis, i, kWordJisMax));
    }
}

std::string encodeWords(std::string_view sjis, std::string_view separator) {
    std::string out;
    appendEncodedWords(out, sjis, separator);
    return out;
}

Encoded encodeWordsInto(std::string_view sjis, std::span<char> out) {
    Encoded e;
    if (out.empty()) return e;
    sjis = untilNul(sjis);
    size_t written = 0, i = 0;
    do {
        size_t next = i;
        std::string word;
        if (i > 0) word += kFold;
        appendWord(word, nextWordJis(sjis, next, kScratchJisMax));
        if (written + word.size() + 1 > out.size()) break;
        word.copy(out.data() + written, word.size());
        written += word.size();
        i = next;
    } while (i < sjis.size());
    out[written] = '\0';
    e.consumed = i;
    e.written = written;
    return e;
}

void appendBase64(std::string& out, std::string_view bytes, bool lineBreaks) {
    const size_t at = out.size();
    out.resize(at + base64LinesLength(bytes.size(), lineBreaks));
    char* p = out.data() + at;
    if (!lineBreaks) {
        mime::encodeBase64Into(bytes, p);
        return;
    }
    for (size_t i = 0; i < bytes.size(); i += kBase64LineInput) {
        const std::string_view line = bytes.substr(i, kBase64LineInput);
        p = mime::encodeBase64Into(line, p);
        if (line.size() == kBase64LineInput) {
            *p++ = '\r';
            *p++ = '\n';
        }
    }
}

}  // namespace kolvy::smtp

// ------------------------------------------------------------------------ the C entry points
using namespace kolvy::cursor;

extern "C" {

void KOLVY_STDCALL SJisToJis(DecodeCursor* cursor) {
    if (!usable(cursor)) return;
    const std::string_view in = sourceOf(cursor);
    setEnds(cursor,
            kolvy::smtp::sjisToJis(in, roomFor(cursor, kolvy::smtp::sjisToJisMax(in.size()))));
}

void KOLVY_STDCALL MIME_Encode(DecodeCursor* cursor) {
    if (!usable(cursor)) return;
    const std::string_view in = sourceOf(cursor);
    setEnds(cursor, kolvy::smtp::encodeWordsInto(
                        in, roomFor(cursor, kolvy::smtp::encodedWordsMax(in.size(), 3))));
}

void KOLVY_STDCALL KVA_Base64Encode(DecodeCursor* cursor, int length, int lineBreaks) {
    if (!usable(cursor)) return;
    const size_t n = length > 0 && cursor->source ? static_cast<size_t>(length) : 0;
    std::string out;
    kolvy::smtp::appendBase64(out, {cursor->source, n}, lineBreaks == 1);
    out.copy(cursor->destination, out.size());
    cursor->destination[out.size()] = '\0';
    setEnds(cursor, kolvy::smtp::Encoded{n, out.size()});
}

}  // extern "C"
