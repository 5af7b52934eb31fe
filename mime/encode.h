// Base64 encoding (RFC 2045 alphabet, "=" padding, no line breaks): the counterpart of the
// decoder, for stored passwords and, later, outgoing attachments and authentication.
#pragma once

#include <string>
#include <string_view>

namespace kolvy::mime {

constexpr size_t base64EncodedLength(size_t bytes) {
    return (bytes + 2) / 3 * 4;
}
std::string encodeBase64(std::string_view bytes);
// Writes exactly base64EncodedLength(bytes.size()) characters at out (no NUL); returns the end.
char* encodeBase64Into(std::string_view bytes, char* out);

}  // namespace kolvy::mime
