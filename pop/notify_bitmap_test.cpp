#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "pop/notify.h"

namespace kolvy::pop {
namespace {

void put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}
void put16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}

// A bitmap file whose every pixel byte is the number of its row counted from the top, so that a
// frame's rows can be told apart.
struct Bmp {
    int32_t width = 4, rows = 8;
    uint16_t bits = 8;
    bool topDown = false;
    uint32_t colours = 0;  // biClrUsed
    size_t stride() const { return (static_cast<size_t>(width) * bits + 31) / 32 * 4; }
    size_t tableBytes() const { return bits <= 8 ? 4u * (colours ? colours : 1u << bits) : 0; }
    std::string bytes() const {
        const size_t at = 54 + tableBytes();
        std::string s(at + stride() * static_cast<size_t>(rows), '\0');
        s[0] = 'B';
        s[1] = 'M';
        put32(s, 2, static_cast<uint32_t>(s.size()));
        put32(s, 10, static_cast<uint32_t>(at));
        put32(s, 14, 40);
        put32(s, 18, static_cast<uint32_t>(width));
        put32(s, 22, static_cast<uint32_t>(topDown ? -rows : rows));
        put16(s, 26, 1);
        put16(s, 28, bits);
        put32(s, 46, colours);
        for (int32_t r = 0; r < rows; ++r) {
            const int32_t stored = topDown ? r : rows - 1 - r;
            for (size_t b = 0; b < stride(); ++b)
                s[at + static_cast<size_t>(stored) * stride() + b] = static_cast<char>(r);
        }
        return s;
    }
};

// The row (from the top of the whole bitmap) each output row of a frame came from, bottom first.
std::vector<int> sourceRows(const std::string& frame, size_t stride) {
    std::vector<int> rows;
    for (size_t at = 0; at < frame.size(); at += stride)
        rows.push_back(static_cast<unsigned char>(frame[at]));
    return rows;
}

TEST(AnimationBitmap, ValidBitmapsGiveTheirFrames) {
    struct Case {
        Bmp bmp;
        int frames;
        uint32_t colours;
    } const cases[] = {
        {{4, 8, 8, false, 0}, 2, 256},   {{4, 8, 8, true, 16}, 2, 16},
        {{3, 10, 24, false, 0}, 3, 0},   {{5, 5, 16, false, 0}, 1, 0},
        {{76, 228, 4, false, 0}, 3, 16}, {{124, 124, 24, true, 0}, 1, 0},
    };
    for (const Case& k : cases) {
        const std::string file = k.bmp.bytes();
        const auto b = readAnimationBitmap(file);
        ASSERT_TRUE(b) << k.bmp.width << "x" << k.bmp.rows << "/" << k.bmp.bits;
        EXPECT_EQ(b->width, k.bmp.width);
        EXPECT_EQ(b->rows, k.bmp.rows);
        EXPECT_EQ(b->frames, k.frames);
        EXPECT_EQ(b->colours, k.colours);
        EXPECT_EQ(b->topDown, k.bmp.topDown);
        EXPECT_EQ(b->stride, k.bmp.stride());
        EXPECT_EQ(b->pixels, 54 + k.bmp.tableBytes());
    }
}

TEST(AnimationBitmap, FramesAreCutFromTheTopWhateverTheRowOrder) {
    for (bool topDown : {false, true}) {
        Bmp bmp{4, 10, 24, topDown, 0};  // two frames and two rows left over
        const std::string file = bmp.bytes();
        const auto b = readAnimationBitmap(file);
        ASSERT_TRUE(b);
        EXPECT_EQ(sourceRows(frameRows(file, *b, 0), b->stride), (std::vector<int>{3, 2, 1, 0}));
        EXPECT_EQ(sourceRows(frameRows(file, *b, 1), b->stride), (std::vector<int>{7, 6, 5, 4}));
        EXPECT_EQ(frameRows(file, *b, 2), "");
        EXPECT_EQ(frameRows(file, *b, -1), "");
    }
}

TEST(AnimationBitmap, EveryTruncationIsRefused) {
    const std::string file = Bmp{8, 16, 8, false, 0}.bytes();
    ASSERT_TRUE(readAnimationBitmap(file));
    for (size_t n = 0; n < file.size(); ++n)
        EXPECT_FALSE(readAnimationBitmap(file.substr(0, n))) << n;
}

TEST(AnimationBitmap, HostileHeadersAreRefused) {
    const std::string good = Bmp{4, 8, 8, false, 0}.bytes();
    struct Case {
        const char* name;
        size_t at;
        int width;  // 2 or 4 bytes
        uint32_t value;
    } const cases[] = {
        {"magic", 0, 2, 0x4142},
        {"pixels past the end", 10, 4, 0xFFFFFFF0u},
        {"pixels just past the end", 10, 4, static_cast<uint32_t>(good.size())},
        {"pixels inside the colour table", 10, 4, 54 + 100},
        {"pixels inside the header", 10, 4, 20},
        {"core header", 14, 4, 12},
        {"info header past the end", 14, 4, 0x7FFFFFFF},
        {"zero width", 18, 4, 0},
        {"negative width", 18, 4, 0xFFFFFFFCu},
        {"absurd width", 18, 4, 0x40000000},
        {"zero height", 22, 4, 0},
        {"most negative height", 22, 4, 0x80000000u},
        {"absurd height", 22, 4, 0x7FFFFFFF},
        {"fewer rows than one frame", 22, 4, 3},
        {"two planes", 26, 2, 2},
        {"1 bit", 28, 2, 1},
        {"32 bits", 28, 2, 32},
        {"RLE", 30, 4, 1},
        {"more colours than the depth has", 46, 4, 257},
        {"colour count that overflows", 46, 4, 0x40000001},
    };
    for (const Case& k : cases) {
        std::string file = good;
        if (k.width == 2) {
            put16(file, k.at, static_cast<uint16_t>(k.value));
        } else {
            put32(file, k.at, k.value);
        }
        EXPECT_FALSE(readAnimationBitmap(file)) << k.name;
    }
}

TEST(AnimationBitmap, WideRowsCannotWrapTheSizeArithmetic) {
    // 1024 pixels of 24 bits in 65536 rows would need 201 MB; the file has a few bytes.
    Bmp bmp{1, 1, 24, false, 0};
    std::string file = bmp.bytes();
    put32(file, 18, 1024);
    put32(file, 22, 65536);
    EXPECT_FALSE(readAnimationBitmap(file));
    EXPECT_FALSE(readAnimationBitmap(""));
    EXPECT_FALSE(readAnimationBitmap("BM"));
}

}  // namespace
}  // namespace kolvy::pop
