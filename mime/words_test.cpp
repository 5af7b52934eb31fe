// Encoded words in header fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/decode.h"

namespace kolvy::mime {
namespace {

// The field decoded into an exactly sized buffer; `consumed` tells where the field ended.
std::string decodeField(std::string_view field, size_t* consumed = nullptr) {
    std::vector<char> in(field.begin(), field.end());
    std::vector<char> out(encodedWordsMax(field.size()));
    const Decoded d = decodeEncodedWords(std::string_view(in.data(), in.size()), out);
    EXPECT_EQ(out[d.written], '\0');
    if (consumed) *consumed = d.consumed;
    return std::string(out.data(), d.written);
}

// 「日本語」 in ISO-2022-JP, Base64 and Q forms, and in UTF-8.
constexpr char kJisB[] = "=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=";
constexpr char kJisQ[] = "=?iso-2022-jp?q?=1B$BF|K\\8l=1B(B?=";
constexpr char kUtf8B[] = "=?utf-8?B?5pel5pys6Kqe?=";
constexpr char kSjisB[] = "=?shift_jis?B?k/qWe4zq?=";

TEST(EncodedWords, CharsetsAndForms) {
    struct C {
        const char* name;
        std::string in, out;
    } cases[] = {
        {"ISO-2022-JP Base64, capitals", kJisB, "日本語"},
        {"ISO-2022-JP Q, lower-case q", kJisQ, "日本語"},
        {"UTF-8", kUtf8B, "日本語"},
        {"Shift_JIS", kSjisB, "日本語"},
        {"text around words", std::string("Re: ") + kJisB + " (2)", "Re: 日本語 (2)"},
        {"a blank between two words on one line stays", std::string(kJisB) + " " + kUtf8B,
         "日本語 日本語"},
        {"folded words join", std::string(kJisB) + "\r\n " + kJisB, "日本語日本語"},
        {"Q: underscore is a blank", "=?utf-8?Q?a_b=5F?=", "a b_"},
        {"Q text starting with =", "=?UTF-8?Q?=E6=97=A5?=", "日"},
        {"euc-jp is converted beside the next word", std::string("=?euc-jp?B?xvzL3A==?= ") + kJisB,
         "日本 日本語"},
        {"an unknown charset is kept and the next word still decoded",
         std::string("=?iso-8859-7?B?xvzL3A==?= ") + kJisB, "=?iso-8859-7?B?xvzL3A==?= 日本語"},
        {"a language after the charset", "=?UTF-8*ja?B?5pel5pys6Kqe?=", "日本語"},
        {"=? without ?= on the line", "a =?utf-8?B?5pel\r\n ?= b", "a =?utf-8?B?5pel\r\n ?= b"},
        {"unknown encoding letter", "=?utf-8?X?abc?=", "=?utf-8?X?abc?="},
        {"trailing LF of a word dropped, other breaks blanked", "=?utf-8?B?YQ0KYgo=?=", "a  b"},
        // Mixed charsets in one field: each word through its own converter.
        {"ISO-2022-JP then UTF-8", std::string(kJisB) + "\r\n " + kUtf8B, "日本語日本語"},
        {"UTF-8 then Shift_JIS", std::string(kUtf8B) + "\r\n\t" + kSjisB, "日本語日本語"},
        {"raw Shift_JIS between UTF-8 words stays", std::string(kUtf8B) + " 表 " + kUtf8B,
         "日本語 表 日本語"},
        {"a UTF-8 character split across two words joins",
         "=?UTF-8?B?5pel5pw=?=\r\n =?UTF-8?B?rA==?=", "日本"},
        // "8" at the UTF-8 test position: the undecoded word keeps the field's raw Shift_JIS.
        {"Latin-1 is not taken for UTF-8", "=?iso-8859-1?Q?caf=E9?= 表",
         "=?iso-8859-1?Q?caf=E9?= 表"},
    };
    for (const C& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeField(c.in), c.out);
    }
}

TEST(EncodedWords, WithoutUtf8SupportUtf8WordsStayAsTheyAre) {
    NoUtf8 = true;
    EXPECT_EQ(decodeField(kUtf8B), kUtf8B);
    NoUtf8 = false;
}

TEST(EncodedWords, FieldEndsAtALineBreakThatIsNotAFold) {
    size_t consumed = 0;
    const std::string field = std::string(kJisB) + "\r\n more\r\nNext: x";
    // The fold right after a word goes with it.
    EXPECT_EQ(decodeField(field, &consumed), "日本語more");
    EXPECT_EQ(consumed, field.find("\r\nNext"));
}

TEST(EncodedWords, HostileFieldsStayBounded) {
    // A 5,000-byte word: its encoded text is cut, the output stays in its bound.
    std::string big = "=?utf-8?B?";
    for (int i = 0; i < 1250; ++i)
        big += "5pel";
    big += "?=";
    const std::string out = decodeField(big);
    EXPECT_GT(out.size(), 2000u);
    EXPECT_LE(out.size(), encodedWordsMax(big.size()));
    EXPECT_EQ(out.substr(0, 4), "日日");

    // 300 words: the staging ends the field, later bytes are left for the caller.
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += std::string(kJisB) + "\r\n ";
    size_t consumed = 0;
    const std::string m = decodeField(many, &consumed);
    EXPECT_EQ(m.substr(0, 12), "日本語日本語");
    EXPECT_LE(consumed, many.size());

    // 100,000 "=?" on one line with no "?=": one pass, the staging limit ends the field.
    std::string opens;
    for (int i = 0; i < 100000; ++i)
        opens += "=?";
    const std::string o = decodeField(opens, &consumed);
    EXPECT_EQ(o.size(), kFieldStaging - 1);
    EXPECT_EQ(consumed, kFieldStaging - 1);
    // The same with a closing "?=" at the very end.
    opens += "?=";
    EXPECT_LE(decodeField(opens).size(), 2 * (kFieldStaging - 1));
}

TEST(EncodedWords, CursorForm) {
    char src[] = "=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\nTo: x";
    char dst[64];
    DecodeCursor c{src, dst, nullptr, nullptr};
    DecodeEncodedWords(&c);
    EXPECT_EQ(std::string(dst), "日本語");
    EXPECT_EQ(c.sourceEnd, src + 34);
    EXPECT_EQ(c.destinationEnd, dst + 6);
}

}  // namespace
}  // namespace kolvy::mime
