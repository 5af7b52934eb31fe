// Feeds a resumable decoder one text in a given chunking and output piece size, for the tests
// that compare whole, byte-by-byte and random chunkings.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "mime/decode.h"

namespace kolvy::mime::test {

struct Fed {
    std::string out;
    size_t consumed = 0;
    bool asciiOnly = true;
    size_t malformedAt = kWellFormed;
    bool operator==(const Fed&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Fed& f) {
    return os << "consumed " << f.consumed << " ascii " << f.asciiOnly << " malformed "
              << f.malformedAt << " out " << testing::PrintToString(f.out);
}

// Chunk sizes: 0 the whole text at once, 1 byte by byte, else random sizes from this seed.
template <class D, class Finish>
Fed feedChunked(std::string_view in, unsigned chunking, size_t outPiece, Finish finish) {
    D d;
    Fed f;
    std::mt19937 rng(chunking);
    std::vector<char> buf(outPiece);
    bool ended = false;
    for (size_t i = 0; i < in.size() && !ended;) {
        const size_t n = chunking == 0   ? in.size() - i
                         : chunking == 1 ? 1
                                         : 1 + rng() % 7 + (rng() % 4 == 0) * 40;
        std::string_view chunk = in.substr(i, std::min(n, in.size() - i));
        i += chunk.size();
        while (!chunk.empty()) {
            const Step s = d.feed(chunk, buf);
            f.out.append(buf.data(), s.written);
            f.consumed += s.consumed;
            chunk.remove_prefix(s.consumed);
            if (!s.full && !chunk.empty()) {  // the data ended before the chunk did
                ended = true;
                break;
            }
        }
    }
    for (;;) {
        const Step s = finish(d, std::span<char>(buf));
        f.out.append(buf.data(), s.written);
        if (!s.full) break;
    }
    f.asciiOnly = d.asciiOnly();
    f.malformedAt = d.malformedAt();
    return f;
}

// The text fed whole with room to spare, then byte by byte, in random chunkings and into small
// output pieces: every way gives the same bytes, the same end and the same findings.
template <class D, class Finish>
Fed expectSameInAnyChunking(std::string_view in, Finish finish) {
    const Fed whole = feedChunked<D>(in, 0, 2 * in.size() + 16, finish);
    for (unsigned chunking : {1u, 2u, 3u, 4u}) {
        EXPECT_EQ(feedChunked<D>(in, chunking, 2 * in.size() + 16, finish), whole)
            << "chunking " << chunking << " of " << testing::PrintToString(std::string(in));
    }
    EXPECT_EQ(feedChunked<D>(in, 3, 4, finish), whole)
        << "small output of " << testing::PrintToString(std::string(in));
    return whole;
}

inline Step finishOf(Base64Decoder& d, std::span<char> out) {
    return d.finish(out);
}
inline Step finishOf(QuotedPrintableDecoder& d, std::span<char> out) {
    return d.finish(out);
}
inline Step finishOf(JisDecoder& d, std::span<char> out) {
    return d.finish(out);
}
inline Step finishOf(Utf8Decoder& d, std::span<char> out) {
    return d.finish(out);
}

template <class D>
Fed expectSameInAnyChunking(std::string_view in) {
    return expectSameInAnyChunking<D>(in,
                                      [](D& d, std::span<char> out) { return finishOf(d, out); });
}

}  // namespace kolvy::mime::test
