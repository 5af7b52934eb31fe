// Outgoing text encoders: Shift_JIS to ISO-2022-JP, MIME encoded words, Base64 with line breaks.
//
// Everything they write is 7-bit. Half-width katakana become their full-width forms (a voiced or
// semi-voiced mark after one joins it where the full-width character exists), and whatever has no
// JIS X 0208 form (a lead byte without a valid trail byte, the user-defined and IBM rows, a stray
// 8-bit byte) becomes the geta mark 〓, so one bad character never derails the rest of the text;
// so do ESC, SO and SI, which would let the text switch the reader's character set.
//
// As with the decoders: the C entry points keep the cursor contract (NUL-terminated source, room
// for the worst case); underneath, each encoder works on an explicit input view and output span
// and never writes past the span, with its worst-case size function beside it.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "core/records.h"

namespace kolvy::smtp {

struct Encoded {
    size_t consumed = 0;  // input bytes taken (the cursor's sourceEnd)
    size_t written = 0;   // output bytes before the terminating NUL (the cursor's destinationEnd)
};

// ------------------------------------------------------------------ Shift_JIS -> ISO-2022-JP
// One input byte yields at most five output bytes (ESC "$B" and a pair for a lone half-width
// katakana); the closing ESC "(B" and the NUL add four.
constexpr size_t sjisToJisMax(size_t inputBytes) {
    return 5 * inputBytes + 4;
}
// Stops at the input's NUL or end, or where the next character might not fit; always ends in
// ASCII mode and NUL-terminates inside `out` (which must hold at least one byte).
Encoded sjisToJis(std::string_view in, std::span<char> out);
// Appends the conversion of the whole of `in` (a NUL inside ends it).
void appendJis(std::string& out, std::string_view in);
std::string sjisToJis(std::string_view in);

// --------------------------------------------------------------------------- encoded words
// A word stays within the 75 characters of RFC 2047: its ISO-2022-JP text is at most this long.
inline constexpr size_t kWordJisMax = 42;
// Each input byte starts at most one word of at most 75 characters plus its separator.
constexpr size_t encodedWordsMax(size_t inputBytes, size_t separatorBytes) {
    return (75 + separatorBytes) * (inputBytes == 0 ? 1 : inputBytes) + 1;
}
// "=?ISO-2022-JP?B?...?=" words for the whole text (up to a NUL); a text longer than one word
// takes several, joined by `separator`, a folding line break ("\r\n " or "\r\n\t"), so that
// readers join them without a gap. An empty text gives one empty word.
void appendEncodedWords(std::string& out, std::string_view sjis, std::string_view separator);
std::string encodeWords(std::string_view sjis, std::string_view separator = "\r\n ");
// The exported encoder writes one word for a text whose ISO-2022-JP form fits this (what callers
// have always received) and splits only longer texts, into words of at most this much.
inline constexpr size_t kScratchJisMax = 2047;
// Bounded form for the C entry point (words joined by "\r\n "): stops before a word that would
// not fit. encodedWordsMax(n, 3) bounds it too: a word costs at most 36 bytes per input byte.
Encoded encodeWordsInto(std::string_view sjis, std::span<char> out);

// ---------------------------------------------------------------------------------- Base64
// With line breaks, CR LF follows every 54th input byte (a 72-character line), also the last.
inline constexpr size_t kBase64LineInput = 54;
constexpr size_t base64LinesLength(size_t inputBytes, bool lineBreaks) {
    return (inputBytes + 2) / 3 * 4 + (lineBreaks ? 2 * (inputBytes / kBase64LineInput) : 0);
}
void appendBase64(std::string& out, std::string_view bytes, bool lineBreaks);

}  // namespace kolvy::smtp

// The program's exported encoders (cursor contract; see core/records.h).
extern "C" {
void KOLVY_STDCALL SJisToJis(DecodeCursor* cursor);
void KOLVY_STDCALL MIME_Encode(DecodeCursor* cursor);
void KOLVY_STDCALL KVA_Base64Encode(DecodeCursor* cursor, int length, int lineBreaks);
}
