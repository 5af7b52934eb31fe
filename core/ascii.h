// The ASCII helpers every parser of protocol and header text uses. Header names, commands and
// keywords are ASCII; the comparisons never fold a Shift_JIS trail byte, so they are also safe on
// stored text.
#pragma once

#include <string_view>

#include "core/sjis.h"

namespace kolvy::ascii {

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
inline bool isSpace(char c) {
    return isBlank(c) || c == '\r' || c == '\n';
}

inline char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Blanks and TABs gone from both ends.
inline std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Blanks, TABs and line breaks gone from both ends.
inline std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// Equal when ASCII letters are folded.
inline bool equalsNoCase(std::string_view a, std::string_view b) {
    return sjis::equalsNoCaseAscii(a, b);
}
inline bool startsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace kolvy::ascii
