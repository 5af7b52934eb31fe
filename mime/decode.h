// Transfer and character decoders: Base64, quoted-printable, ISO-2022-JP and UTF-8 into the
// program's one text form, NUL-terminated Shift_JIS with CR LF line ends, and MIME encoded words
// in header fields.
//
// Three layers. The C entry points keep the cursor contract that plug-ins rely on (NUL-terminated
// source, the caller guarantees room for the output, a boundary stops the decoding, the
// process-wide AsciiOnly is cleared). The one-shot functions work on an explicit input view and
// an explicit output span: they stop at the input's NUL or end, never write past the span,
// always NUL-terminate inside it, and say where they stopped and what they saw. Underneath both,
// the resumable decoders take their input in any chunking. Each decoder has a worst-case output
// size function beside it, and the std::string wrappers size with it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/records.h"

namespace kolvy::mime {

// The POP3 session sets it before each message and the rules read it to tell Japanese mail from
// mail without. The decoders report what they saw; the C entry points, the header fields and the
// analysis of a message clear it when Japanese text was written.
extern std::atomic<bool> AsciiOnly;
// Set at start-up on systems without UTF-8 conversion: UTF-8 is then never chosen.
extern std::atomic<bool> NoUtf8;

// The boundary string of the enclosing multipart, without the leading "--"; empty: none.
using Boundary = std::string_view;
// The boundary recorded in a header record (empty when the record or its boundary is absent).
Boundary boundaryOf(const HeaderInfo* header);
// A line LF "--" + boundary starts at `lf` (a prefix match: a closing "--" may follow).
inline bool boundaryLineAt(std::string_view text, size_t lf, Boundary b) {
    return !b.empty() && lf + 3 <= text.size() && text[lf] == '\n' && text[lf + 1] == '-' &&
           text[lf + 2] == '-' && text.size() - (lf + 3) >= b.size() &&
           text.compare(lf + 3, b.size(), b) == 0;
}
// The LF of the first boundary line at or after `from`, or npos.
size_t findBoundaryLine(std::string_view text, size_t from, Boundary b);

// Input offsets of malformed bytes: none seen.
inline constexpr size_t kWellFormed = static_cast<size_t>(-1);

// Where a one-shot decoder stopped: `consumed` input bytes (the cursor's sourceEnd), `written`
// output bytes before the terminating NUL (the cursor's destinationEnd), and what it saw.
struct Decoded {
    size_t consumed = 0;
    size_t written = 0;
    bool asciiOnly = true;             // no Shift_JIS double-byte character was written
    size_t malformedAt = kWellFormed;  // input offset of the first malformed byte
};

// ---------------------------------------------------------------------- resumable decoders
// Each decoder below is a small state struct fed its input in any chunking: feeding a text whole
// or one byte at a time writes the same bytes. A unit cut by the end of a chunk (a Base64 quad,
// an "=XX" escape, an escape sequence or kanji pair, a UTF-8 sequence) waits in the state for the
// next chunk; finish() settles it as the end of the text. Nothing here knows about MIME
// boundaries: the caller hands each decoder exactly the text of one part.

// One call of a resumable decoder.
struct Step {
    size_t consumed = 0;  // input bytes taken (the rest was not looked at)
    size_t written = 0;   // output bytes written (no NUL)
    bool full = false;    // the next unit did not fit the output: call again with more room
};

// What a decoder has seen so far, for the caller to act on.
class DecoderFindings {
  public:
    // No Shift_JIS double-byte character written (always true for the transfer decoders).
    bool asciiOnly() const { return asciiOnly_; }
    // Offset of the first malformed input byte from the decoder's first byte, or kWellFormed.
    size_t malformedAt() const { return malformedAt_; }

  protected:
    void malformed(size_t at) {
        if (malformedAt_ == kWellFormed) malformedAt_ = at;
    }
    size_t fed_ = 0;      // input bytes taken so far
    size_t runBase_ = 0;  // input offset of the first byte of the text being converted
    bool asciiOnly_ = true;
    size_t malformedAt_ = kWellFormed;
};

// Base64: leading blanks are copied (they belong to the part's line structure); then quads,
// blanks skipped, bytes outside the alphabet skipped and reported; "=", "-" or NUL ends the data
// (the "=" padding is taken with it, a "-" or NUL is left). c1c2 give one byte, c1c2c3 two.
class Base64Decoder : public DecoderFindings {
  public:
    Step feed(std::string_view in, std::span<char> out);
    // Writes what a cut final quad holds.
    Step finish(std::span<char> out);
    // The data ended at a stop character: input after `consumed` is not Base64.
    bool ended() const { return state_ != State::Data; }
    bool endedAtDash() const { return stop_ == '-'; }
    // Where the quad under way began (before the blanks leading to it), as an input offset.
    size_t quadStart() const { return quadStart_; }
    size_t leadingBlanks() const { return leadingBlanks_; }

  private:
    enum class State : unsigned char { Data, Padding, Done };
    bool emitQuadPart(std::span<char> out, size_t& w);
    State state_ = State::Data;
    bool leading_ = true;
    unsigned char stop_ = 0;
    int count_ = 0;
    uint32_t bits_ = 0;
    size_t quadStart_ = 0, leadingBlanks_ = 0, firstCharAt_ = 0;
};

// Quoted-printable: "=XX" a byte, "=" CR LF and "=" LF soft line breaks, any other "=" copied
// (and reported); an "=" directly before the byte 0xFF is remembered.
class QuotedPrintableDecoder : public DecoderFindings {
  public:
    Step feed(std::string_view in, std::span<char> out);
    Step finish(std::span<char> out);
    bool ffAfterEquals() const { return ffAfterEquals_; }
    size_t pending() const { return carryLen_; }  // input bytes taken but not yet decoded

  private:
    Step run(const unsigned char* src, size_t n, std::span<char> out, bool final);
    bool ffAfterEquals_ = false;
    unsigned char carry_[4] = {};
    size_t carryLen_ = 0;
};

// ISO-2022-JP to Shift_JIS, and the line-end normaliser: a bare CR or LF becomes CR LF. Kanji
// pairs are converted, JIS X 0201 katakana become half-width kana, a broken pair becomes the geta
// mark (and ends kanji mode); Shift_JIS and 7-bit text pass unchanged.
class JisDecoder : public DecoderFindings {
  public:
    Step feed(std::string_view in, std::span<char> out);
    // A kanji byte left alone at the end is copied as it stands and a CR at the end gets its LF,
    // unless the text is followed by a line break (a part cut before its boundary line): then
    // the kanji byte is broken like one before a CR, and the CR's LF is that line break's.
    Step finish(std::span<char> out, bool atLineBreak = false);
    size_t pending() const { return carryLen_; }

  private:
    Step run(const unsigned char* src, size_t n, std::span<char> out, bool final);
    bool kanji_ = false, kana_ = false, afterCr_ = false;
    unsigned char carry_[4] = {};
    size_t carryLen_ = 0;
};

// UTF-8 to Shift_JIS through platform::textCodec(); characters Shift_JIS lacks and malformed
// sequences become the platform's replacement. `converted` is false when the platform could not
// convert (nothing was written then).
class Utf8Decoder : public DecoderFindings {
  public:
    Step feed(std::string_view in, std::span<char> out);
    Step finish(std::span<char> out);
    bool converted() const { return converted_; }

  private:
    Step convert(std::string_view in, std::span<char> out);
    bool converted_ = true;
    char carry_[4] = {};
    size_t carryLen_ = 0;
};

// ------------------------------------------------------------------------------------ Base64
// Output never exceeds the input (leading blanks are copied, quads shrink); +1 for the NUL.
constexpr size_t base64DecodedMax(size_t inputBytes) {
    return inputBytes + 1;
}
// One shot: decodes until "=" (the padding is consumed with the data), "-" or the end; before a
// "-" (a boundary line) the stop backs over the line break so that the caller continues at it.
// `boundaryFollows`: the text is a part cut before its boundary line, and stops as at its "-".
Decoded base64Decode(std::string_view in, std::span<char> out, bool boundaryFollows = false);
std::string decodeBase64(std::string_view in);

// The wide paths of the Base64 decoder, chosen once by what the processor supports.
enum class Base64Path : unsigned char { Scalar, Ssse3, Avx2 };
Base64Path base64Path();
// Makes the decoder use `path` (for tests and measurements); false when the processor or the
// build lacks it.
bool useBase64Path(Base64Path path);

// ---------------------------------------------------------------------------- quoted-printable
constexpr size_t quotedPrintableDecodedMax(size_t inputBytes) {
    return inputBytes + 1;
}
struct QpDecoded : Decoded {
    bool ffAfterEquals = false;  // an "=" was directly followed by the byte 0xFF
};
// One shot, to the input's end or NUL.
QpDecoded quotedPrintableDecode(std::string_view in, std::span<char> out);
std::string decodeQuotedPrintable(std::string_view in);

// ------------------------------------------------------------------- ISO-2022-JP -> Shift_JIS
// Every input byte yields at most two output bytes (a bare CR or LF becomes CR LF, a broken
// kanji byte the two-byte geta mark); +1 for the NUL.
constexpr size_t jisToSjisMax(size_t inputBytes) {
    return 2 * inputBytes + 1;
}
// One shot, to the input's end or NUL.
Decoded jisToSjis(std::string_view in, std::span<char> out);
std::string jisToSjis(std::string_view in);

// JIS X 0208 row/cell bytes (both 0x21-0x7E) to the Shift_JIS pair; false when out of range.
inline bool jisPairToSjis(unsigned char j1, unsigned char j2, unsigned char& s1,
                          unsigned char& s2) {
    if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) return false;
    s1 = static_cast<unsigned char>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    if (j1 & 1) {
        s2 = static_cast<unsigned char>(j2 + (j2 < 0x60 ? 0x1F : 0x20));
    } else {
        s2 = static_cast<unsigned char>(j2 + 0x7E);
    }
    return true;
}

// ------------------------------------------------------------------------- EUC-JP -> Shift_JIS
// Like the ISO-2022-JP path: a bare CR or LF becomes CR LF, so at most two output bytes per input
// byte; +1 for the NUL.
constexpr size_t eucToSjisMax(size_t inputBytes) {
    return 2 * inputBytes + 1;
}
// JIS X 0208 pairs by the row/cell arithmetic, half-width katakana (0x8E xx) to their single
// byte, JIS X 0212 characters (0x8F xx xx, which Shift_JIS lacks) to the geta mark. Line ends are
// normalised. To the input's end or NUL.
Decoded eucToSjis(std::string_view in, std::span<char> out);
std::string eucToSjis(std::string_view in);

// -------------------------------------------------------------------------------- charsets
// What a charset label names, by its registered name or a common alias, in any case.
enum class Charset : unsigned char {
    Other,     // kept as it stands
    Utf8,      // "utf-8", "utf8"
    Jis,       // "iso-2022-jp" and its extensions
    ShiftJis,  // "shift_jis", "shift-jis", "x-sjis", "sjis", "windows-31j", "cp932", "ms_kanji"
    EucJp,     // "euc-jp", "x-euc-jp", "eucjp"
};
// An RFC 2231 language suffix ("*ja") and surrounding quotes or blanks are ignored.
Charset classifyCharset(std::string_view label);

// ------------------------------------------------------------------------ UTF-8 -> Shift_JIS
// The platform conversion never grows UTF-8 text; +1 for the NUL.
constexpr size_t utf8ToSjisMax(size_t inputBytes) {
    return inputBytes + 1;
}
struct Utf8Decoded : Decoded {
    bool converted = true;  // false when the conversion could not run (nothing was written)
};
// One shot, to the input's end or NUL, through platform::textCodec() (code page 932 by name).
// Input that does not fit the output is cut at a character boundary and converted as far as it
// fits.
Utf8Decoded utf8ToSjis(std::string_view in, std::span<char> out);
// Offset of the first byte that is not well-formed UTF-8 (overlong forms, surrogates and values
// beyond U+10FFFF included), or kWellFormed. A sequence cut by the end counts as malformed.
size_t firstMalformedUtf8(std::string_view s);
std::string utf8ToSjis(std::string_view in);

// -------------------------------------------------------------------------- encoded words
// The staging buffer of one header field: the decoded words and the bytes between them.
constexpr size_t kFieldStaging = 4096;
// Encoded text of one word beyond this is cut (a word of more than a field's staging).
constexpr size_t kEncodedTextMax = kFieldStaging - 1;
// The staged text never exceeds the input nor the staging, and its conversion at most doubles.
constexpr size_t encodedWordsMax(size_t inputBytes) {
    return 2 * (inputBytes < kFieldStaging - 1 ? inputBytes : kFieldStaging - 1) + 1;
}
// Decodes one header field starting at its value: up to the first CR LF that is not followed by a
// blank or TAB (`consumed` then points at that CR), the end of `in`, or a full staging buffer.
Decoded decodeEncodedWords(std::string_view in, std::span<char> out);
std::string decodeHeaderField(std::string_view in);

// ------------------------------------------------------------------------- text bodies
// The text of one body part in Shift_JIS: the transfer encoding ("base64", "quoted-printable",
// anything else as it stands) undone, then the charset converted (a UTF-8 charset name through
// the platform, everything else through the JIS path, which also normalises line ends). `body`
// is the part's text up to the line break of the boundary line that ends it, or the message's
// end.
struct TextBody {
    std::string text;
    size_t consumed = 0;    // where the decoded text ended in `body`; the rest is kept as it came
    bool asciiOnly = true;  // no Shift_JIS double-byte character in the text
};
// `beforeBoundary`: the body was cut before a boundary line (its line break follows it).
TextBody decodeTextBody(std::string_view body, std::string_view transferEncoding,
                        std::string_view charset, bool beforeBoundary = false);
// A charset parameter value names UTF-8 ("utf-8", "UTF8") and UTF-8 is available.
bool isUtf8Charset(std::string_view charset);

// ------------------------------------------------------------------- RFC 2231 parameters
// The gathered value of a parameter is cut beyond this (a file name, not a document).
constexpr size_t kExtendedValueMax = 1023;

// ---------------------------------------------------------------------------- helpers
// Decoded control bytes that would break a header line (NUL, CR, LF) become blanks.
void blankLineBreaks(std::span<char> text);

}  // namespace kolvy::mime

// The program's exported decoders (cursor contract; see core/records.h).
extern "C" {
void KOLVY_STDCALL KVA_Base64Decode(DecodeCursor* cursor);
int KOLVY_STDCALL KVA_QuotedPrintableDecode(DecodeCursor* cursor, HeaderInfo* header);
void JisToSJis(DecodeCursor* cursor, HeaderInfo* header);
int Utf8ToSJis(DecodeCursor* cursor, HeaderInfo* header, int stopAtBoundary);
void DecodeEncodedWords(DecodeCursor* cursor);
}
