#include "core/sjis.h"

#include <gtest/gtest.h>

namespace kolvy::sjis {
namespace {

// Literals are Shift_JIS: 表 = 95 5C, ソ = 83 5C, 能 = 94 5C, ア = 83 41, full-width blank = 81 40.
TEST(Sjis, CharLenTakesPairsOnlyWithAValidTrailByte) {
    EXPECT_EQ(charLen("表", 0), 2u);
    EXPECT_EQ(charLen("\xF0\x40", 0), 2u);  // user-defined rows are double-byte too
    EXPECT_EQ(charLen("\xFC\xFC", 0), 2u);
    EXPECT_EQ(charLen("\x81", 0), 1u);    // lead byte at the end
    EXPECT_EQ(charLen("\x81\n", 0), 1u);  // a control byte is never a trail byte
    EXPECT_EQ(charLen("\x81\x7F", 0), 1u);
    EXPECT_EQ(charLen("\xB1\x40", 0), 1u);  // half-width katakana is one byte
}

TEST(Sjis, BoundedCopyNeverSplitsACharacter) {
    char field[5];
    EXPECT_EQ(copyField(field, "ab表c"), 4u);
    EXPECT_STREQ(field, "ab表");
    char small[4];
    EXPECT_EQ(copyField(small, "ab表"), 2u);  // the pair would need bytes 2 and 3 plus the NUL
    EXPECT_STREQ(small, "ab");
    char one[1];
    EXPECT_EQ(copyField(one, "x"), 0u);
    EXPECT_STREQ(one, "");
    EXPECT_EQ(truncate("受信トレイ", 5), "受信");
    EXPECT_EQ(truncate("受信", 4), "受信");
}

TEST(Sjis, FieldViewStopsAtTheFieldEvenWithoutNul) {
    char field[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(fieldView(field), "abcd");
}

TEST(Sjis, SearchNeverMatchesInsideACharacter) {
    EXPECT_EQ(find("表", '\\'), std::string_view::npos);
    EXPECT_EQ(find("表\\x", '\\'), 2u);
    EXPECT_EQ(find("\x81\x40", '@'), std::string_view::npos);  // full-width blank
    EXPECT_EQ(find("\x81\x40@", '@'), 2u);
    EXPECT_EQ(find("ア", "A"), std::string_view::npos);
    EXPECT_EQ(find("アA", "A"), 2u);
    // A candidate on a trail byte is skipped and the later real one found.
    EXPECT_EQ(find("ソ\\ソ\\", "\\"), 2u);
    EXPECT_EQ(rfind("a\\表", '\\'), 1u);
    EXPECT_EQ(find("abc", ""), 0u);
}

TEST(Sjis, CaseInsensitiveCompareFoldsLettersNotTrailBytes) {
    EXPECT_TRUE(equalsNoCase("TagList", "taglist"));
    EXPECT_TRUE(equalsNoCase("ａｂｃ", "ＡＢＣ"));
    EXPECT_TRUE(equalsNoCase("αω", "ΑΩ"));
    EXPECT_TRUE(equalsNoCase("яёа", "ЯЁА"));
    // 0x83 0x41 (ア) and 0x83 0x61 differ only in a trail byte that looks like 'A' / 'a'.
    EXPECT_FALSE(equalsNoCase("\x83\x41", "\x83\x61"));
    EXPECT_LT(compareNoCase("abc", "abd"), 0);
    EXPECT_GT(compareNoCase("abcd", "ABC"), 0);
    EXPECT_EQ(findNoCase("ｘＹｚ-Abc", "aBC"), 7u);
    EXPECT_EQ(findNoCase("\x83\x61", "a"), std::string_view::npos);
    EXPECT_TRUE(equalsNoCaseAscii("TabOption", "TABOPTION"));
    EXPECT_FALSE(equalsNoCaseAscii("ａ", "Ａ"));
    EXPECT_FALSE(equalsNoCaseAscii("\x83\x41", "\x83\x61"));
}

TEST(Sjis, PathsKeepTrailBytesThatLookLikeSeparators) {
    EXPECT_EQ(lastComponent("MailData\\表"), "表");
    EXPECT_EQ(lastComponent("C:\\メール\\ソ\\"), "ソ");
    EXPECT_EQ(lastComponent("能"), "能");
    EXPECT_EQ(parentPath("MailData\\受信\\添付"), "MailData\\受信");
    EXPECT_EQ(parentPath("表"), "");
    EXPECT_FALSE(endsWithSeparator("表"));
    EXPECT_TRUE(endsWithSeparator("表\\"));
    EXPECT_EQ(joinPath("MailData\\表", "mokuji.bin"), "MailData\\表\\mokuji.bin");
    EXPECT_EQ(joinPath("C:\\", "x"), "C:\\x");
    EXPECT_EQ(joinPath("", "x"), "x");
}

}  // namespace
}  // namespace kolvy::sjis
