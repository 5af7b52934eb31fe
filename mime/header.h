// Header extraction and date normalisation.
//
// GetHead copies the header block of a message or body part into a destination buffer, decoding
// the headers people read (encoded words, file names) on the way, and fills a HeaderInfo whose
// start/end pairs point into that copy. MakeGMT turns an RFC 822 date into seconds since 1970.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"

namespace kolvy::mime {

// Limits of the header record's text fields (their size less the NUL and one spare byte).
constexpr size_t kSubjectMax = 510;
constexpr size_t kReceivedEachMax = 1022;
constexpr size_t kReceivedMax = 2046;
constexpr size_t kReceivedHeaders = 10;
constexpr size_t kOtherHeadersMax = 1022;
// Parameters of one Content-Type or Content-Disposition looked at; the rest is copied as it is.
constexpr size_t kMaxParameters = 64;

// Worst case of the header copy of a source of n bytes: decoding at most doubles a field (bare
// line breaks, broken kanji bytes), everything else is copied or dropped; room for the NUL.
constexpr size_t headerCopyMax(size_t sourceBytes) {
    return 2 * sourceBytes + 16;
}
// The copy a message's header needs: the header block ends at the first blank line (or with the
// text when there is none), so a large body does not make a large copy (in a 32-bit process a
// 200 MB message would otherwise ask for 400 MB more).
inline size_t headerCopyRoom(std::string_view source) {
    const size_t end = source.find("\r\n\r\n");
    return headerCopyMax(end == std::string_view::npos ? source.size() : end + 4);
}
// What the source needs after its text when the header block has no end: the blank line and the
// POP3 terminator that the repair appends (7 bytes) and a NUL.
constexpr size_t kHeadRepairRoom = 8;

struct HeadResult {
    size_t sourceEnd = 0;  // the CR of the CR LF CR LF that ends the header block
    size_t copyEnd = 0;    // the matching place in the copy (a NUL stands there)
};

// `source` holds the text in its first `length` bytes, starting at the LF before the first
// header line; the span's room beyond them (kHeadRepairRoom) is used when the header block has no
// end, so that a body scan finds an empty body and the POP3 terminator. `info` must be zeroed.
HeadResult getHead(std::span<char> source, size_t length, std::span<char> copy, HeaderInfo& info);

// A header copy that owns its buffer (the record points into it; it moves but never copies).
struct HeadCopy {
    HeadCopy() = default;
    HeadCopy(const HeadCopy&) = delete;
    HeadCopy& operator=(const HeadCopy&) = delete;
    HeadCopy(HeadCopy&&) = default;
    HeadCopy& operator=(HeadCopy&&) = default;

    std::vector<char> buffer;
    HeaderInfo info{};
    HeadResult ends;
    std::string_view text() const { return {buffer.data(), ends.copyEnd}; }
    static std::string_view view(const char* start, const char* end) {
        return start && end > start ? std::string_view(start, static_cast<size_t>(end - start))
                                    : std::string_view();
    }
};
// `message` is the text after one leading LF; it is repaired in place when its header block has
// no end (so the caller's body scan finds the terminator).
HeadCopy extractHead(std::string& message);

// Seconds since 1970 UTC of an RFC 822 date, the clock time taken as UTC+9 whatever the zone
// says; nullopt when the text does not parse, 0 for dates outside 1970-2105.
std::optional<uint32_t> makeGmt(std::string_view date);

}  // namespace kolvy::mime

extern "C" {
void KOLVY_STDCALL GetHead(DecodeCursor* cursor, HeaderInfo* header);
void KOLVY_STDCALL MakeGMT(const char* date, uint32_t* seconds);
}
