// Shift_JIS (code page 932) helpers. Every piece of code that walks Japanese text goes through
// these instead of its own byte loop: a trail byte can look like '\\', '@', 'A' or '|', and a
// careless scan splits characters or matches inside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kolvy::sjis {

// Lead bytes of double-byte characters, including the user-defined and IBM rows (0xF0-0xFC).
constexpr bool isLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
constexpr bool isTrail(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Length (1 or 2) of the character at s[i]: a lead byte makes a pair only when a valid trail byte
// follows; a lone lead byte (end of text, or followed by a control byte) counts as one byte.
inline size_t charLen(std::string_view s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (isLead(b) && i + 1 < s.size() && isTrail(static_cast<unsigned char>(s[i + 1]))) return 2;
    return 1;
}

// The largest character boundary at or before n (n itself when it is one).
size_t boundaryAtOrBefore(std::string_view s, size_t n);

// Copies as much of src as fits into a field of `capacity` bytes, NUL included, never splitting a
// double-byte character. Returns the number of bytes copied (without the NUL).
size_t copyBounded(char* dest, size_t capacity, std::string_view src);
template <size_t N>
size_t copyField(char (&dest)[N], std::string_view src) {
    return copyBounded(dest, N, src);
}
// The text of a NUL-terminated fixed field (never reads past the field).
template <size_t N>
std::string_view fieldView(const char (&field)[N]) {
    size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return {field, n};
}

// Cuts s to at most maxBytes without splitting a character.
std::string_view truncate(std::string_view s, size_t maxBytes);

// Position of the first occurrence of needle that starts on a character boundary, at or after
// `from` (which must itself be a boundary); npos when there is none.
size_t find(std::string_view hay, std::string_view needle, size_t from = 0);
size_t find(std::string_view hay, char c, size_t from = 0);
size_t rfind(std::string_view hay, char c);
inline bool contains(std::string_view hay, std::string_view needle) {
    return find(hay, needle) != std::string_view::npos;
}

// Case-insensitive comparison the way the platform compares names: ASCII letters and the
// full-width Latin, Greek and Cyrillic letters fold; trail bytes are never folded.
int compareNoCase(std::string_view a, std::string_view b);
inline bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && compareNoCase(a, b) == 0;
}
size_t findNoCase(std::string_view hay, std::string_view needle, size_t from = 0);
// Only ASCII letters fold (as the profile-string functions compare section and key names);
// trail bytes are still never folded.
bool equalsNoCaseAscii(std::string_view a, std::string_view b);

// Path helpers for '\\'-separated Shift_JIS paths (a '/' also separates).
bool isSeparatorAt(std::string_view path, size_t i);  // i must be a character boundary
std::string_view lastComponent(std::string_view path);
std::string_view parentPath(std::string_view path);  // without the trailing separator
bool endsWithSeparator(std::string_view path);
std::string joinPath(std::string_view folder, std::string_view name);

// True when every byte is ASCII (below 0x80).
bool isAscii(std::string_view s);

}  // namespace kolvy::sjis
