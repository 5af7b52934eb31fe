// Stored form of account passwords (and of the start-up password): every byte complemented, then
// Base64 without line breaks. Existing ini files hold passwords in this form, so it never changes.
#pragma once

#include <string>
#include <string_view>

#include "mime/encode.h"

namespace kolvy::config {

std::string scramblePassword(std::string_view plain);
// Reverses scramblePassword; the plain text ends at the first byte that decodes to zero.
std::string unscramblePassword(std::string_view stored);

// Length of the stored form of a password of `plainBytes` bytes (Base64 of the same length).
constexpr size_t scrambledLength(size_t plainBytes) {
    return mime::base64EncodedLength(plainBytes);
}

}  // namespace kolvy::config
