// Transfer and character decoders: Base64, quoted-printable, ISO-2022-JP and UTF-8 into the
// program's one text form, NUL-terminated Shift_JIS with CR LF line ends, and MIME encoded words
// in header fields.
//
// Two layers. The C entry points keep the cursor contract that plug-ins rely on (NUL-terminated
// source, the caller guarantees room for the output). Underneath, every decoder works on an
// explicit input view and an explicit output span: it stops at the input's NUL or end, never
// writes past the span, always NUL-terminates inside it, and says where it stopped. Each decoder
// has a worst-case output size function beside it, and the std::string wrappers size with it.
#pragma once

#include <atomic>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "core/records.h"

namespace kolvy::mime {

// Cleared whenever a decoder emits a Shift_JIS double-byte character; the POP3 session sets it
// before each message and the rules read it to tell Japanese mail from mail without.
extern std::atomic<bool> AsciiOnly;
// Set at start-up on systems without UTF-8 conversion: UTF-8 is then never chosen.
extern std::atomic<bool> NoUtf8;

// The boundary string of the enclosing multipart, without the leading "--"; empty: none.
using Boundary = std::string_view;
// The boundary recorded in a header record (empty when the record or its boundary is absent).
Boundary boundaryOf(const HeaderInfo* header);

// Where a decoder stopped: `consumed` input bytes (the cursor's sourceEnd), `written` output
// bytes before the terminating NUL (the cursor's destinationEnd).
struct Decoded {
    size_t consumed = 0;
    size_t written = 0;
};

// ------------------------------------------------------------------------------------ Base64
// Output never exceeds the input (leading blanks are copied, quads shrink); +1 for the NUL.
constexpr size_t base64DecodedMax(size_t inputBytes) {
    return inputBytes + 1;
}
// Decodes quads until "=" (the padding is consumed with the data), "-" or the end; before a "-"
// (a boundary line) the stop backs over the line break so that the caller continues at it.
Decoded base64Decode(std::string_view in, std::span<char> out);
std::string decodeBase64(std::string_view in);

// ---------------------------------------------------------------------------- quoted-printable
constexpr size_t quotedPrintableDecodedMax(size_t inputBytes) {
    return inputBytes + 1;
}
struct QpDecoded : Decoded {
    bool ffAfterEquals = false;  // an "=" was directly followed by the byte 0xFF
};
// Stops at a line LF "--" + boundary (the LF is left unconsumed).
QpDecoded quotedPrintableDecode(std::string_view in, std::span<char> out, Boundary boundary = {});
std::string decodeQuotedPrintable(std::string_view in);

// ------------------------------------------------------------------- ISO-2022-JP -> Shift_JIS
// Every input byte yields at most two output bytes (a bare CR or LF becomes CR LF, a broken
// kanji byte the two-byte geta mark); +1 for the NUL.
constexpr size_t jisToSjisMax(size_t inputBytes) {
    return 2 * inputBytes + 1;
}
// Also the line-end normaliser for Shift_JIS and 7-bit text, which pass through unchanged.
// Stops at a line LF "--" + boundary (the LF is left unconsumed).
Decoded jisToSjis(std::string_view in, std::span<char> out, Boundary boundary = {});
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
// normalised; stops at a line LF "--" + boundary (the LF is left unconsumed).
Decoded eucToSjis(std::string_view in, std::span<char> out, Boundary boundary = {});
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
// Through platform::textCodec() (code page 932 by name). With a boundary, the input ends at the
// first LF "--" + boundary (the LF is left unconsumed). Input that does not fit the output is
// cut at a character boundary and converted as far as it fits.
Utf8Decoded utf8ToSjis(std::string_view in, std::span<char> out, Boundary boundary = {});
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
// the platform, everything else through the JIS path, which also normalises line ends). Stops at
// the boundary line, like the decoders.
struct TextBody {
    std::string text;
    size_t consumed = 0;  // where the body ended in the input
};
TextBody decodeTextBody(std::string_view body, std::string_view transferEncoding,
                        std::string_view charset, Boundary boundary = {});
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
