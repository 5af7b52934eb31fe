// Stored form of account passwords (and of the start-up password): every byte complemented, then
// Base64 without line breaks. Existing ini files hold passwords in this form, so it never changes.
#pragma once

#include <string>
#include <string_view>

namespace kolvy::config {

std::string scramblePassword(std::string_view plain);
// Reverses scramblePassword; the plain text ends at the first byte that decodes to zero.
std::string unscramblePassword(std::string_view stored);

// Length of the stored form of a password of `plainBytes` bytes (Base64 of the same length).
constexpr size_t scrambledLength(size_t plainBytes) {
    return (plainBytes + 2) / 3 * 4;
}

// The Base64 steps the scrambling needs: RFC 2045 alphabet, "=" padding, no line breaks. Decoding
// skips blanks and line breaks, ignores bytes outside the alphabet and stops at "=", "-" or the
// end, as the message decoder does.
std::string base64Encode(std::string_view bytes);
std::string base64Decode(std::string_view text);

}  // namespace kolvy::config
