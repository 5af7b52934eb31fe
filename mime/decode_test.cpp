// The transfer and character decoders: tables of cases run through exactly sized buffers, so
// that AddressSanitizer sees any byte written or read beyond them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mime/decode.h"

namespace kolvy::mime {
namespace {

// The input in a heap block of its own size (no NUL after it) and an output of `room` bytes.
struct Outcome {
    std::string out;
    Decoded d;
};
template <class F>
Outcome runExact(std::string_view input, size_t room, F decode) {
    std::vector<char> in(input.begin(), input.end());
    std::vector<char> out(room, '\x7F');
    const Decoded d = decode(std::string_view(in.data(), in.size()), std::span<char>(out));
    EXPECT_LT(d.written, room);
    EXPECT_EQ(out[d.written], '\0');
    EXPECT_LE(d.consumed, input.size());
    return {std::string(out.data(), d.written), d};
}

struct Case {
    const char* name;
    std::string in;
    std::string out;
    size_t consumed;
};

TEST(Base64, DecodesAndStopsWhereTheDataEnds) {
    const Case cases[] = {
        {"quad", "QUJD", "ABC", 4},
        {"pairs only", "QUI", "AB", 3},
        {"one char makes nothing", "Q", "", 1},
        {"line breaks inside", "QU\r\nJD\r\nREVG", "ABCDEF", 12},
        {"leading blanks are kept", "\r\n QUJD", "\r\n ABC", 7},
        {"padding stops and is taken with the data", "QQ==", "A", 4},
        {"padding in the middle stops", "QQ==QUJD", "A", 4},
        {"padding before a boundary line", "QQ==\r\n--b", "A", 4},
        {"junk is skipped", "Q!U*J D", "ABC", 7},
        {"boundary line: back to its line break", "QUJD\r\n--b\r\n", "ABC", 4},
        {"boundary right after blanks", "\r\n--b", "", 0},
        {"NUL ends", std::string("QUJD\0QUJD", 9), "ABC", 4},
        {"empty", "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = runExact(c.in, base64DecodedMax(c.in.size()),
                                   [](auto in, auto out) { return base64Decode(in, out); });
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.d.consumed, c.consumed);
    }
}

TEST(Base64, EveryPrefixDecodesToAPrefix) {
    const std::string text = "44GT44KT44Gr44Gh44Gv\r\n5LiW55WM44CC\r\nQUJDREVGRw==";
    const std::string whole = decodeBase64(text);
    ASSERT_EQ(whole.size(), 31u);
    for (size_t n = 0; n <= text.size(); ++n) {
        const Outcome r = runExact(text.substr(0, n), base64DecodedMax(n),
                                   [](auto in, auto out) { return base64Decode(in, out); });
        EXPECT_EQ(whole.compare(0, r.out.size(), r.out), 0) << n;
    }
}

TEST(Base64, SmallOutputStopsBeforeTheQuadThatDoesNotFit) {
    const Outcome r =
        runExact("QUJDREVG", 5, [](auto in, auto out) { return base64Decode(in, out); });
    EXPECT_EQ(r.out, "ABC");
    EXPECT_EQ(r.d.consumed, 4u);
}

TEST(Base64, CursorEndsAreSetOnEveryPath) {
    char src[] = "", dst[4] = "xyz";
    DecodeCursor c{src, dst, nullptr, nullptr};
    KVA_Base64Decode(&c);
    EXPECT_EQ(c.sourceEnd, src);
    EXPECT_EQ(c.destinationEnd, dst);
    EXPECT_EQ(dst[0], '\0');
    char src2[] = "\n--boundary";
    char dst2[16];
    DecodeCursor c2{src2, dst2, nullptr, nullptr};
    KVA_Base64Decode(&c2);
    EXPECT_EQ(c2.sourceEnd, src2);  // never before the source
    EXPECT_EQ(c2.destinationEnd, dst2);
    // Without a destination every entry point consumes nothing and says so.
    char src3[] = "QUJD";
    char* const stale = src3 + 3;
    DecodeCursor c3{src3, nullptr, stale, stale};
    KVA_Base64Decode(&c3);
    EXPECT_EQ(c3.sourceEnd, src3);
    EXPECT_EQ(c3.destinationEnd, nullptr);
    c3 = {src3, nullptr, stale, stale};
    EXPECT_EQ(KVA_QuotedPrintableDecode(&c3, nullptr), 0);
    EXPECT_EQ(c3.sourceEnd, src3);
    c3 = {src3, nullptr, stale, stale};
    JisToSJis(&c3, nullptr);
    EXPECT_EQ(c3.sourceEnd, src3);
    c3 = {src3, nullptr, stale, stale};
    EXPECT_EQ(Utf8ToSJis(&c3, nullptr, 0), 1);
    EXPECT_EQ(c3.sourceEnd, src3);
    c3 = {src3, nullptr, stale, stale};
    DecodeEncodedWords(&c3);
    EXPECT_EQ(c3.sourceEnd, src3);
    EXPECT_EQ(c3.destinationEnd, nullptr);
}

TEST(QuotedPrintable, EscapesSoftBreaksAndBrokenEscapes) {
    const Case cases[] = {
        {"escape", "a=41b", "aAb", 5},
        {"lower-case hex", "=e3=81=82", "\xE3\x81\x82", 9},
        {"soft break CR LF", "ab=\r\ncd", "abcd", 7},
        {"soft break LF", "ab=\ncd", "abcd", 6},
        {"one digit at the end", "x=4", "x=4", 3},
        {"equals at the end", "x=", "x=", 2},
        {"two letters that are not hex", "=ZZ", "=ZZ", 3},
        {"one bad digit", "=4G", "=4G", 3},
        {"line ends stay", "a\r\nb\r\n", "a\r\nb\r\n", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r =
            runExact(c.in, quotedPrintableDecodedMax(c.in.size()),
                     [](auto in, auto out) { return quotedPrintableDecode(in, out); });
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.d.consumed, c.consumed);
    }
}

TEST(QuotedPrintable, FlagsEqualsBeforeFFAndStopsAtTheBoundary) {
    std::string out(16, '\0');
    EXPECT_TRUE(quotedPrintableDecode("a=\xFF", out).ffAfterEquals);
    EXPECT_EQ(std::string(out.c_str()), "a=\xFF");
    EXPECT_FALSE(quotedPrintableDecode("a=FF", out).ffAfterEquals);

    const std::string body = "line=41\r\n--sep\r\nnext";
    const Outcome r =
        runExact(body, 32, [](auto in, auto o) { return quotedPrintableDecode(in, o, "sep"); });
    EXPECT_EQ(r.out, "lineA\r");  // the CR before the stopping LF is already copied
    EXPECT_EQ(r.d.consumed, body.find('\n'));
    // The boundary compares as a prefix; another boundary does not stop.
    EXPECT_EQ(decodeQuotedPrintable("a\r\n--sepX"), "a\r\n--sepX");
    std::string o2(32, '\0');
    EXPECT_EQ(quotedPrintableDecode("a\r\n--sepX", o2, "sep").consumed, 2u);
    EXPECT_EQ(quotedPrintableDecode("a\r\n--other", o2, "sep").consumed, 10u);

    char src[] = "=\xFF";
    char dst[8];
    DecodeCursor c{src, dst, nullptr, nullptr};
    EXPECT_EQ(KVA_QuotedPrintableDecode(&c, nullptr), 1);
    EXPECT_EQ(c.sourceEnd, src + 2);
    EXPECT_EQ(c.destinationEnd, dst + 2);
}

TEST(JisToSjis, KanjiLineEndsAndBrokenInput) {
    const Case cases[] = {
        {"kanji", "\x1B$B;z\x1B(B", "字", 8},
        {"old JIS designation", "\x1B$@F|\x1B(J", "日", 8},
        {"0x7F becomes 0x7E", "\x1B$B0\x7F", "\x88\xFC", 5},
        {"out-of-range pair: geta, rest of the line ASCII", "\x1B$B\x7F\x20;z", "\x81\xAC;z", 7},
        {"bare LF", "a\nb", "a\r\nb", 3},
        {"LF first", "\nb", "\r\nb", 2},
        {"bare CR", "a\rb", "a\r\nb", 3},
        {"CR LF unchanged", "a\r\nb", "a\r\nb", 4},
        {"lone kanji byte before CR LF keeps the line break", "\x1B$B;\r\nx", "\x81\xAC\r\nx", 7},
        {"lone kanji byte before an escape", "\x1B$B;\x1B(Bx",
         "\x81\xAC"
         "x",
         8},
        {"kanji byte before the end is copied", "\x1B$B;", ";", 4},
        {"escape cut by the end", "ab\x1B$", "ab", 4},
        {"escape alone", "\x1B", "", 1},
        {"JIS X 0201 katakana become half-width kana", "\x1B(I12\x1B(B12",
         "\xB1\xB2"
         "12",
         10},
        {"a line break ends the katakana set", "\x1B(I1\r\n1", "\xB1\r\n1", 7},
        {"Shift_JIS passes unchanged", "表ソ\\x", "表ソ\\x", 6},
        {"half-width katakana pass", "\xB6\xC0", "\xB6\xC0", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = runExact(c.in, jisToSjisMax(c.in.size()),
                                   [](auto in, auto out) { return jisToSjis(in, out); });
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.d.consumed, c.consumed);
    }
}

TEST(JisToSjis, WorstCaseGrowthFitsTheBound) {
    // Bare line breaks and broken kanji bytes each double; nothing more.
    std::string in;
    for (int i = 0; i < 100; ++i)
        in += "\r";
    for (int i = 0; i < 50; ++i)
        in += "\x1B$B;\r";  // 5 bytes: geta, CR LF
    const Outcome r =
        runExact(in, jisToSjisMax(in.size()), [](auto i, auto o) { return jisToSjis(i, o); });
    EXPECT_EQ(r.d.consumed, in.size());
    EXPECT_EQ(r.out.size(), 2 * 100 + 50 * 4);
    // An output that is too small ends early, NUL-terminated, without overrun.
    const Outcome small = runExact(in, 7, [](auto i, auto o) { return jisToSjis(i, o); });
    EXPECT_LE(small.out.size(), 6u);
}

TEST(JisToSjis, StopsAtTheBoundaryAndTracksAsciiOnly) {
    const std::string body = "\x1B$BF|\x1B(B\r\n--b1\r\nrest";
    AsciiOnly = true;
    const Outcome r =
        runExact(body, 64, [](auto in, auto out) { return jisToSjis(in, out, "b1"); });
    EXPECT_EQ(r.out, "日\r");
    EXPECT_EQ(r.d.consumed, body.find('\n'));
    EXPECT_FALSE(AsciiOnly);
    AsciiOnly = true;
    EXPECT_EQ(jisToSjis("plain\r\n表"), "plain\r\n表");
    EXPECT_TRUE(AsciiOnly);  // Shift_JIS passing through is not counted here
}

TEST(Utf8ToSjis, ConvertsThroughThePlatformAndCutsAtTheBoundary) {
    AsciiOnly = true;
    const std::string body = "\xE6\x97\xA5\xE6\x9C\xAC\r\n--bb--\r\n";
    const Outcome r = runExact(body, utf8ToSjisMax(body.size()),
                               [](auto in, auto out) { return utf8ToSjis(in, out, "bb"); });
    EXPECT_EQ(r.out, "日本\r");
    EXPECT_EQ(r.d.consumed, body.find('\n'));
    EXPECT_FALSE(AsciiOnly);
    AsciiOnly = true;
    EXPECT_EQ(utf8ToSjis("ascii \xEF\xBD\xB6"), "ascii \xB6");  // half-width kana: one byte
    EXPECT_TRUE(AsciiOnly);
}

TEST(Utf8ToSjis, MalformedInputBecomesMarksWithoutOverrun) {
    const std::string cases[] = {
        "\xC0\xAF",          // overlong "/"
        "\xED\xA0\x80",      // a surrogate
        "\x80\x80\xBF",      // lone continuation bytes
        "\xE6\x97",          // cut character
        "\xF4\x90\x80\x80",  // beyond U+10FFFF
        "\xFE\xFF\xF8\x88\x80\x80\x80",
    };
    for (const std::string& c : cases) {
        const std::string in = "a" + c + "z";
        const Outcome r =
            runExact(in, utf8ToSjisMax(in.size()), [](auto i, auto o) { return utf8ToSjis(i, o); });
        ASSERT_GE(r.out.size(), 3u);
        EXPECT_EQ(r.out.front(), 'a');
        EXPECT_EQ(r.out.back(), 'z');
        EXPECT_EQ(r.out.find_first_not_of("a?z"), std::string::npos) << r.out;
    }
}

TEST(Utf8ToSjis, SmallOutputCutsBeforeACharacter) {
    const std::string in = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // three 3-byte characters
    const Outcome r = runExact(in, 5, [](auto i, auto o) { return utf8ToSjis(i, o); });
    EXPECT_EQ(r.d.consumed, 3u);
    EXPECT_EQ(r.out, "日");
    char src[] = "";
    char dst[2] = "x";
    DecodeCursor c{src, dst, nullptr, nullptr};
    EXPECT_EQ(Utf8ToSJis(&c, nullptr, 1), 0);
    EXPECT_EQ(c.sourceEnd, src);
    EXPECT_EQ(c.destinationEnd, dst);
}

TEST(TextBody, TransferEncodingThenCharset) {
    EXPECT_EQ(decodeTextBody("GyRCRnxLXBsoQg0K", "base64", "iso-2022-jp").text, "日本\r\n");
    EXPECT_EQ(decodeTextBody("=E6=97=A5\r\n", "Quoted-Printable", "UTF-8").text, "日\r\n");
    EXPECT_EQ(decodeTextBody("a\nb", "7bit", "us-ascii").text, "a\r\nb");
    const TextBody t = decodeTextBody("QUJD\r\n--x\r\n", "base64", "utf-8", "x");
    EXPECT_EQ(t.text, "ABC");
    EXPECT_EQ(t.consumed, 4u);
    NoUtf8 = true;
    EXPECT_FALSE(isUtf8Charset("utf-8"));
    NoUtf8 = false;
}

}  // namespace
}  // namespace kolvy::mime
