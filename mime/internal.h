// Pieces shared by the decoders and the header extraction, not part of the module's interface.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kolvy::mime {

inline int hexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Well-formed UTF-8: no overlong forms, surrogates or values beyond U+10FFFF.
bool isValidUtf8(std::string_view s);

// One section of an RFC 2231 parameter ("name*0*=...", "name*1=..." or "name*=..."), its value
// without surrounding quotes; `extended` when the section is percent-encoded.
struct ParamSection {
    std::string_view value;
    bool extended = false;
};
// Joins the sections (at most kExtendedValueMax bytes), undoes the percent encoding of extended
// ones and converts ISO-2022-JP and UTF-8 values to Shift_JIS; other charsets stay as they are.
// Writes NUL-terminated into out and returns the byte count.
size_t decodeExtendedValue(std::span<const ParamSection> sections, std::span<char> out);

}  // namespace kolvy::mime
