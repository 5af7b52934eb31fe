// The byte layout of index records and the index header, shared by the record codec
// (record_codec.cpp) and the index file reader and writers (index.cpp). Little-endian fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/index.h"

namespace kolvy::store::layout {

inline constexpr size_t kStateAt = 2, kMarkAt = 3, kStoredAt = 4, kDateAt = 8, kOffsetAt = 12;
inline constexpr size_t kSizeAt = 16, kAttachAt = 20, kAccountAt = 21, kFirstSeparatorAt = 22;
inline constexpr size_t kSummaryRoom = kIndexHeaderSize - kSummaryOffset;  // 234 bytes
// Bytes of the summary read back when registering: the line and its blanks.
inline constexpr size_t kSummaryReadSize = 127;

inline uint16_t get16(std::string_view b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
}
inline uint32_t get32(std::string_view b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
}
inline void put16(std::string& b, uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
}
inline void put32(std::string& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void set32(std::string& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// "%d" of a byte.
inline void formatCount(uint8_t v, char (&out)[4]) {
    int n = 0;
    if (v >= 100) out[n++] = static_cast<char>('0' + v / 100);
    if (v >= 10) out[n++] = static_cast<char>('0' + v / 10 % 10);
    out[n++] = static_cast<char>('0' + v % 10);
    out[n] = '\0';
}

}  // namespace kolvy::store::layout
