// The transfer and character decoders: tables of cases run through exactly sized buffers, so
// that AddressSanitizer sees any byte written or read beyond them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "mime/decode.h"
#include "mime/feed_check.h"

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

const Case kBase64[] = {
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

TEST(Base64, DecodesAndStopsWhereTheDataEnds) {
    for (const Case& c : kBase64) {
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

// The wide paths decode blocks of 16 and 32 bytes: texts whose junk, line breaks, padding and
// end fall at every offset of a block give what the scalar path gives.
TEST(Base64, EveryWidePathDecodesAsTheScalarPath) {
    const Base64Path widest = base64Path();
    std::mt19937 rng(11);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::string> texts;
    for (int t = 0; t < 200; ++t) {
        std::string s;
        const size_t n = rng() % 300;
        for (size_t i = 0; i < n; ++i) {
            const unsigned r = rng() % 100;
            s += r == 0   ? '*'
                 : r == 1 ? '\n'
                 : r == 2 ? static_cast<char>(0x80 + rng() % 128)
                          : alphabet[rng() % 64];
        }
        if (t % 3 == 0) s += "==";
        texts.push_back(s);
    }
    ASSERT_TRUE(useBase64Path(Base64Path::Scalar));
    std::vector<std::string> want;
    for (const std::string& s : texts)
        want.push_back(decodeBase64(s));
    for (Base64Path path : {Base64Path::Ssse3, Base64Path::Avx2}) {
        if (!useBase64Path(path)) continue;
        for (size_t k = 0; k < texts.size(); ++k)
            ASSERT_EQ(decodeBase64(texts[k]), want[k]) << static_cast<int>(path) << " " << k;
    }
    useBase64Path(widest);
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
    const std::function<int(DecodeCursor*)> entries[] = {
        [](DecodeCursor* k) { return KVA_Base64Decode(k), 0; },
        [](DecodeCursor* k) { return KVA_QuotedPrintableDecode(k, nullptr); },
        [](DecodeCursor* k) { return JisToSJis(k, nullptr), 0; },
        [](DecodeCursor* k) { return Utf8ToSJis(k, nullptr, 0) - 1; },
        [](DecodeCursor* k) { return DecodeEncodedWords(k), 0; }};
    char src3[] = "QUJD";
    char* const stale = src3 + 3;
    for (const auto& entry : entries) {
        DecodeCursor c3{src3, nullptr, stale, stale};
        EXPECT_EQ(entry(&c3), 0);
        EXPECT_EQ(c3.sourceEnd, src3);
        EXPECT_EQ(c3.destinationEnd, nullptr);
    }
}

const Case kQuotedPrintable[] = {
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

TEST(QuotedPrintable, EscapesSoftBreaksAndBrokenEscapes) {
    for (const Case& c : kQuotedPrintable) {
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

    // Through the entry point, which takes the boundary from the header record; it compares as
    // a prefix, and another boundary does not stop.
    const struct {
        std::string body;
        std::string out;
        size_t consumed;
    } cases[] = {
        {"line=41\r\n--sep\r\nnext", "lineA\r", 8},
        {"a\r\n--sepX", "a\r", 2},
        {"a\r\n--other", "a\r\n--other", 10},
        // A soft line break right before the boundary line no longer takes its LF.
        {"a=\r\n--sep--\r\n", "a=\r", 3},
    };
    char sep[] = "sep";
    HeaderInfo h{};
    h.boundaryStart = sep;
    h.boundaryEnd = sep + 3;
    for (const auto& c : cases) {
        std::vector<char> src(c.body.begin(), c.body.end());
        src.push_back('\0');
        std::vector<char> dst(src.size());
        DecodeCursor cur{src.data(), dst.data(), nullptr, nullptr};
        EXPECT_EQ(KVA_QuotedPrintableDecode(&cur, &h), 0);
        EXPECT_EQ(std::string(dst.data()), c.out) << c.body;
        EXPECT_EQ(cur.sourceEnd, src.data() + c.consumed) << c.body;
    }

    char src[] = "=\xFF";
    char dst[8];
    DecodeCursor c{src, dst, nullptr, nullptr};
    EXPECT_EQ(KVA_QuotedPrintableDecode(&c, nullptr), 1);
    EXPECT_EQ(c.sourceEnd, src + 2);
    EXPECT_EQ(c.destinationEnd, dst + 2);
}

const Case kJis[] = {
    {"kanji", "\x1B$B;z\x1B(B", "字", 8},
    {"old JIS designation", "\x1B$@F|\x1B(J", "日", 8},
    {"0x7F becomes 0x7E", "\x1B$B0\x7F", "\x88\xFC", 5},
    {"out-of-range pair: geta, rest of the line ASCII", "\x1B$B\x7F\x20;z", "\x81\xAC;z", 7},
    {"bare LF", "a\nb", "a\r\nb", 3},
    {"LF first", "\nb", "\r\nb", 2},
    {"bare CR", "a\rb", "a\r\nb", 3},
    {"CR LF unchanged", "a\r\nb", "a\r\nb", 4},
    {"lone kanji byte before CR LF keeps the line break", "\x1B$B;\r\nx", "\x81\xAC\r\nx", 7},
    {"lone kanji byte before an escape", "\x1B$B;\x1B(Bx", "\x81\xACx", 8},
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

TEST(JisToSjis, KanjiLineEndsAndBrokenInput) {
    for (const Case& c : kJis) {
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

// The entry points stop at the boundary of the header record and clear the process-wide flag;
// the one-shot functions only report what they saw.
TEST(JisToSjis, EntryPointStopsAtTheBoundaryAndClearsAsciiOnly) {
    char b1[] = "b1";
    HeaderInfo h{};
    h.boundaryStart = b1;
    h.boundaryEnd = b1 + 2;
    const struct {
        std::string body;
        std::string out;
        bool ascii;
    } cases[] = {
        {"\x1B$BF|\x1B(B\r\n--b1\r\nrest", "日\r", false},
        {"plain\r\n--b1--", "plain\r", true},
        {"\x1B$BF\n--b1", "\x81\xAC", false},  // a lone kanji byte before the boundary line
    };
    for (const auto& c : cases) {
        std::vector<char> src(c.body.begin(), c.body.end());
        src.push_back('\0');
        std::vector<char> dst(2 * src.size());
        DecodeCursor cur{src.data(), dst.data(), nullptr, nullptr};
        AsciiOnly = true;
        JisToSJis(&cur, &h);
        EXPECT_EQ(std::string(dst.data()), c.out);
        EXPECT_EQ(cur.sourceEnd, src.data() + c.body.find('\n'));
        EXPECT_EQ(AsciiOnly.load(), c.ascii);
    }
    AsciiOnly = true;
    std::string out(64, '\0');
    EXPECT_FALSE(jisToSjis("\x1B$BF|", out).asciiOnly);
    EXPECT_TRUE(AsciiOnly);  // the one-shot function leaves the flag alone
    EXPECT_TRUE(jisToSjis("plain\r\n表", out).asciiOnly);  // Shift_JIS passing is not counted
}

TEST(Utf8ToSjis, ConvertsThroughThePlatformAndCutsAtTheBoundary) {
    char body[] = "\xE6\x97\xA5\xE6\x9C\xAC\r\n--bb--\r\n";
    char bb[] = "bb";
    HeaderInfo h{};
    h.boundaryStart = bb;
    h.boundaryEnd = bb + 2;
    char dst[sizeof body];
    for (int stop : {1, 0}) {
        AsciiOnly = true;
        DecodeCursor cur{body, dst, nullptr, nullptr};
        EXPECT_EQ(Utf8ToSJis(&cur, &h, stop), 0);
        EXPECT_EQ(std::string(dst), stop ? "日本\r" : "日本\r\n--bb--\r\n");
        EXPECT_EQ(cur.sourceEnd, stop ? body + 7 : body + sizeof body - 1);
        EXPECT_FALSE(AsciiOnly);
    }
    std::string out(16, '\0');
    const Utf8Decoded d = utf8ToSjis("ascii \xEF\xBD\xB6", out);  // half-width kana: one byte
    EXPECT_EQ(out.substr(0, d.written), "ascii \xB6");
    EXPECT_TRUE(d.asciiOnly);
    EXPECT_EQ(d.malformedAt, kWellFormed);
    EXPECT_EQ(utf8ToSjis("ab\xE6\x97z", out).malformedAt, 2u);
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
    // A part cut before its boundary line: the CR of that line's break is left to be kept.
    const TextBody t = decodeTextBody("QUJD\r\n\r", "base64", "utf-8", true);
    EXPECT_EQ(t.text, "ABC");
    EXPECT_EQ(t.consumed, 6u);
    EXPECT_EQ(decodeTextBody("a\r", "7bit", "us-ascii", true).text, "a\r");
    EXPECT_EQ(decodeTextBody("a\r", "7bit", "us-ascii", false).text, "a\r\n");
    NoUtf8 = true;
    EXPECT_FALSE(isUtf8Charset("utf-8"));
    NoUtf8 = false;
}

// ---------------------------------------------------------------- any chunking, same result
// Every input of the tables above, and inputs that put each kind of unit across a chunk end,
// fed whole, byte by byte, in random chunks and into small output pieces.
TEST(Chunked, Base64) {
    for (const Case& c : kBase64)
        test::expectSameInAnyChunking<Base64Decoder>(c.in);
    for (const char* in : {"QUJDREVG", "QU=", "QUJ=", "QUJD-x"})
        test::expectSameInAnyChunking<Base64Decoder>(in);
    std::string random;
    std::mt19937 rng(3);
    for (int i = 0; i < 3000; ++i)
        random += "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[rng() % 64];
    for (int i = 0; i < 3000; i += 77)
        random.insert(i, "\r\n");
    const test::Fed f = test::expectSameInAnyChunking<Base64Decoder>(random);
    EXPECT_EQ(f.out, decodeBase64(random));
    EXPECT_EQ(test::expectSameInAnyChunking<Base64Decoder>("QU*JD").malformedAt, 2u);
}

TEST(Chunked, QuotedPrintable) {
    std::vector<std::string> inputs = {"==41", "=\r=", "=\r\n="};
    for (const Case& c : kQuotedPrintable)
        inputs.push_back(c.in);
    for (const std::string& in : inputs) {
        const test::Fed f = test::expectSameInAnyChunking<QuotedPrintableDecoder>(in);
        EXPECT_EQ(f.out, decodeQuotedPrintable(in)) << in;
    }
    EXPECT_EQ(test::expectSameInAnyChunking<QuotedPrintableDecoder>("ab=4G").malformedAt, 2u);
}

TEST(Chunked, Jis) {
    std::vector<std::string> inputs = {"a\r\r\n\r", "\x1B$BF|\r\n\x1B$B", "\x1B$(D12"};
    for (const Case& c : kJis)
        inputs.push_back(c.in);
    for (const std::string& in : inputs) {
        const test::Fed f = test::expectSameInAnyChunking<JisDecoder>(in);
        EXPECT_EQ(f.out, jisToSjis(std::string_view(in))) << in;
    }
    const test::Fed f = test::expectSameInAnyChunking<JisDecoder>("ab\x1B$BF|\x1B$B\x7F\x20");
    EXPECT_FALSE(f.asciiOnly);
    EXPECT_EQ(f.malformedAt, 10u);  // the broken pair, not the escapes before it
}

TEST(Chunked, Utf8) {
    const char* inputs[] = {"\xE6\x97\xA5\xE6\x9C\xAC\r\n", "ascii \xEF\xBD\xB6", "a\xC0\xAFz",
                            "a\xED\xA0\x80z", "a\x80\x80\xBFz", "a\xE6\x97z", "a\xF4\x90\x80\x80z",
                            "\xF0\x9F\x98\x80x", "\xE6\x97", "\xE6\x97\xE6\x97\xA5",
                            // Broken lead bytes that a converter takes with what follows them.
                            "\xFF\xA0\x96g\xFF\xFF\xA0", "\xFE\xFF\xF8\x88\x80\x80\x80",
                            "\xE0\x80\x80\x80\x80z", "\xC3\xA9\x80\xF0\x9F\x98"};
    for (const char* in : inputs) {
        const test::Fed f = test::expectSameInAnyChunking<Utf8Decoder>(in);
        EXPECT_EQ(f.out, utf8ToSjis(std::string_view(in))) << in;
    }
    const test::Fed f = test::expectSameInAnyChunking<Utf8Decoder>("ok\xE6\x97\xA5\xC0\xAF");
    EXPECT_FALSE(f.asciiOnly);
    EXPECT_EQ(f.malformedAt, 5u);
}

}  // namespace
}  // namespace kolvy::mime
