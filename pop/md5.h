// MD5 (RFC 1321) for the APOP login, and HMAC-MD5 (RFC 2104) for the SMTP CRAM-MD5 login.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kolvy::pop {

using Md5Digest = std::array<uint8_t, 16>;

// The three steps: start (construct), add bytes, finish to 16 bytes.
class Md5 {
  public:
    Md5();
    void add(std::string_view bytes);
    Md5Digest finish();  // the object is spent afterwards

  private:
    void block(const unsigned char* p);
    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes added so far
    unsigned char pending_[64];
    size_t pendingSize_ = 0;
};

Md5Digest md5(std::string_view bytes);
// 32 lower-case hexadecimal digits.
std::string toHex(const Md5Digest& digest);
std::string md5Hex(std::string_view bytes);

// The MD5 of a NUL-terminated text as 32 lower-case hexadecimal digits, in one process-wide
// buffer that the next call overwrites.
const char* Md5Hex(const char* text);

// HMAC-MD5 with a key of any length (a key longer than the 64-byte block is first replaced by
// its digest).
Md5Digest hmacMd5(std::string_view key, std::string_view message);

}  // namespace kolvy::pop
