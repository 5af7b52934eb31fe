// UTF-8 <-> Shift_JIS through the platform's conversion. Only characters that iconv and Windows
// map alike appear here (see the platform notes for where they differ).
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace kolvy::platform {
namespace {

// The UTF-8 form of a text, spelled as bytes so that the compiler's charset does not apply.
constexpr char kNihongoUtf8[] = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
constexpr char kHyoUtf8[] = "\xE8\xA1\xA8";                              // 表
constexpr char kHalfKaUtf8[] = "\xEF\xBD\xB6";                           // ｶ

TEST(TextCodec, JapaneseTextBothWays) {
    EXPECT_EQ(utf8ToSjis(kNihongoUtf8), "日本語");
    EXPECT_EQ(sjisToUtf8("日本語"), kNihongoUtf8);
    EXPECT_EQ(utf8ToSjis(std::string("a") + kHyoUtf8 + "\\b"), "a表\\b");
    EXPECT_EQ(sjisToUtf8("a表\\b"), std::string("a") + kHyoUtf8 + "\\b");
    EXPECT_EQ(utf8ToSjis(kHalfKaUtf8), "\xB6");
    EXPECT_EQ(sjisToUtf8("\xB6"), kHalfKaUtf8);
    EXPECT_EQ(utf8ToSjis(""), "");
    EXPECT_EQ(activeCodePage(), 932u);
}

TEST(TextCodec, UnmappableAndMalformedInputBecomesTheDefaultCharacter) {
    // An emoji has no Shift_JIS form; beyond the 16-bit range it is two UTF-16 units.
    EXPECT_EQ(utf8ToSjis("a\xF0\x9F\x98\x80z"), "a??z");
    EXPECT_EQ(utf8ToSjis("a\xFFz"), "a?z");
}

TEST(TextCodec, OutputBufferThatIsTooSmallIsRefused) {
    char out[2];
    EXPECT_FALSE(textCodec().utf8ToSjis(kNihongoUtf8, out));
}

}  // namespace
}  // namespace kolvy::platform
