#include "smtp/encode.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "mime/decode.h"

namespace kolvy::smtp {
namespace {

using namespace std::string_literals;

bool all7bit(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

TEST(SJisToJis, Table) {
    const struct {
        const char* label;
        std::string in, out;
    } cases[] = {
        {"ascii", "abc\r\n", "abc\r\n"},
        {"kanji run", "日本", "\x1b$BF|K\\\x1b(B"},
        {"trail byte 0x5C", "表", "\x1b$BI=\x1b(B"},
        {"ascii around a kanji", "a日b", "a\x1b$BF|\x1b(Bb"},
        {"half-width katakana", "\xB1", "\x1b$B%\"\x1b(B"},
        {"voiced half-width", "\xB6\xDE", "\x1b$B%,\x1b(B"},
        {"semi-voiced half-width", "\xCA\xDF", "\x1b$B%Q\x1b(B"},
        {"half-width u voiced", "\xB3\xDE", "\x1b$B%t\x1b(B"},
        {"mark that joins nothing", "\xDC\xDE", "\x1b$B%o!+\x1b(B"},
        {"geta itself", "〓", "\x1b$B\".\x1b(B"},
        {"lone lead at the end", "a\x88", "a\x1b$B\".\x1b(B"},
        {"lead before CR LF", "\x88\r\n", "\x1b$B\".\x1b(B\r\n"},
        {"F0 lead pair", "\xF0\x40z", "\x1b$B\".\x1b(Bz"},
        {"IBM row pair", "\xED\x40", "\x1b$B\".\x1b(B"},
        {"stray 8-bit bytes", "\x80\xA0\xFF", "\x1b$B\".\".\".\x1b(B"},
        {"stops at NUL", "ab\0日"s, "ab"},
        {"escape and shift codes", "a\x1b$Bb\x0e\x0f", "a\x1b$B\".\x1b(B$Bb\x1b$B\".\".\x1b(B"}};
    for (const auto& c : cases)
        EXPECT_EQ(sjisToJis(c.in), c.out) << c.label;
}

// Every character of the JIS rows comes back unchanged through the decoder.
TEST(SJisToJis, RoundTripsEveryJisCharacter) {
    int checked = 0;
    for (int lead = 0x81; lead <= 0xEA; ++lead) {
        if (lead >= 0xA0 && lead < 0xE0) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            const std::string sjis{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string jis = sjisToJis(sjis);
            ASSERT_TRUE(all7bit(jis)) << lead << " " << trail;
            if (jis == "\x1b$B\".\x1b(B") continue;  // outside the JIS rows
            EXPECT_EQ(mime::jisToSjis(jis), sjis) << std::hex << lead << " " << trail;
            ++checked;
        }
    }
    EXPECT_GT(checked, 7000);
}

// Whatever the bytes, the output is 7-bit and within the worst case.
TEST(SJisToJis, AnyTwoBytesStayWithinBoundAndSevenBit) {
    for (int a = 1; a < 256; ++a) {
        for (int b = 1; b < 256; ++b) {
            const std::string in{static_cast<char>(a), static_cast<char>(b), 'x'};
            const std::string out = sjisToJis(in);
            ASSERT_TRUE(all7bit(out)) << a << " " << b;
            ASSERT_LE(out.size() + 1, sjisToJisMax(in.size()));
        }
    }
}

TEST(SJisToJis, SmallOutputIsNeverOverrun) {
    const std::string in = "a\xB1日本語b\x88\r\n";
    for (size_t room = 1; room < 60; ++room) {
        std::vector<char> buf(room + 8, '#');
        const Encoded e = sjisToJis(in, std::span<char>(buf.data(), room));
        for (size_t k = room; k < buf.size(); ++k)
            ASSERT_EQ(buf[k], '#') << "room " << room;
        ASSERT_LT(e.written, room);
        EXPECT_EQ(buf[e.written], '\0');
        // What was written is the conversion of what was consumed.
        EXPECT_EQ(std::string(buf.data(), e.written), sjisToJis(in.substr(0, e.consumed)));
    }
}

// --------------------------------------------------------------------------------- Base64
TEST(Base64Encode, LineBreaks) {
    const struct {
        size_t bytes;
        bool breaks;
        std::string shape;  // L = 72 characters and CR LF, then the length of the last line
    } cases[] = {{0, true, ""},      {1, true, "4"},    {53, true, "72"},
                 {54, true, "L"},    {55, true, "L4"},  {108, true, "LL"},
                 {109, true, "LL4"}, {55, false, "76"}, {108, false, "144"}};
    for (const auto& c : cases) {
        std::string bytes;
        for (size_t i = 0; i < c.bytes; ++i)
            bytes += static_cast<char>(i * 37 + 11);
        std::string out;
        appendBase64(out, bytes, c.breaks);
        EXPECT_EQ(out.size(), base64LinesLength(c.bytes, c.breaks)) << c.bytes;
        std::string shape;
        size_t at = 0;
        while (at + 74 <= out.size() && out.substr(at + 72, 2) == "\r\n") {
            shape += 'L';
            at += 74;
        }
        if (at < out.size()) shape += std::to_string(out.size() - at);
        EXPECT_EQ(shape, c.shape) << c.bytes << (c.breaks ? " with breaks" : "");
        if (c.bytes % 3) {
            EXPECT_EQ(out.back(), '=') << c.bytes;
        }
        EXPECT_EQ(mime::decodeBase64(out), bytes) << c.bytes;
    }
}

// The exported cursor forms: each takes its text from the source pointer, ends the output with a
// NUL and leaves the cursor at the ends of what it read and wrote.
TEST(CursorEntryPoints, ReadAndWriteThroughTheCursor) {
    char sjis[] = "x日本\0tail";
    char binary[] = {'\0', '\xFF', 'a', '\0'};
    char word[] = "日本";
    const struct {
        const char* name;
        char* src;
        std::function<void(DecodeCursor*)> call;
        size_t read;
        std::string written;
    } cases[] = {
        {"SJisToJis", sjis, SJisToJis, 5, "x\x1b$BF|K\\\x1b(B"},
        {"KVA_Base64Encode", binary, [](DecodeCursor* c) { KVA_Base64Encode(c, 3, 0); }, 3, "AP9h"},
        {"MIME_Encode", word, MIME_Encode, 4, "=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?="}};
    for (const auto& c : cases) {
        std::vector<char> dst(64, '#');
        DecodeCursor cursor{c.src, dst.data(), nullptr, nullptr};
        c.call(&cursor);
        EXPECT_EQ(cursor.sourceEnd, c.src + c.read) << c.name;
        EXPECT_EQ(std::string(dst.data(), cursor.destinationEnd), c.written) << c.name;
        EXPECT_EQ(*cursor.destinationEnd, '\0') << c.name;
    }
    EXPECT_EQ(encodeWords("日本"), "=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=");
    EXPECT_EQ(encodeWords(""),
              "=?ISO-2022-JP?B?"
              "?=");  // split: no trigraph
}

// The exported encoder keeps one word as long as the text's ISO-2022-JP form fits 2,047 bytes,
// and beyond that splits instead of overrunning.
TEST(MimeEncode, CursorEntryPointSplitsOnlyBeyondItsScratch) {
    for (const size_t kanji : {500u, 1019u, 1022u, 3000u}) {
        std::string text;
        for (size_t k = 0; k < kanji; ++k)
            text += "漢";
        const size_t jis = 2 * kanji + 6;
        std::vector<char> dst(encodedWordsMax(text.size(), 3) + 1, '#');
        DecodeCursor c{text.data(), dst.data(), nullptr, nullptr};
        MIME_Encode(&c);
        const std::string out(dst.data(), c.destinationEnd);
        EXPECT_EQ(c.sourceEnd, text.data() + text.size());
        EXPECT_EQ(dst.back(), '#');
        size_t words = 0;
        for (size_t at = 0; (at = out.find("=?ISO-2022-JP?B?", at)) != std::string::npos; ++at)
            ++words;
        EXPECT_EQ(words, jis <= kScratchJisMax ? 1u : (jis + kScratchJisMax - 1) / kScratchJisMax)
            << kanji;
        EXPECT_EQ(mime::jisToSjis(mime::decodeBase64(out.substr(16, out.find("?=") - 16))),
                  text.substr(0, std::min(text.size(), (kScratchJisMax - 6) / 2 * 2)));
    }
}

// A run far beyond one word becomes several short words that decode back to the text.
TEST(MimeEncode, LongRunsBecomeSeveralWords) {
    for (const std::string& unit : {"漢"s, "a漢"s, "\xB1"s, "abc "s}) {
        std::string text;
        while (text.size() < 900)  // within what the decoder stages for one field
            text += unit;
        const std::string words = encodeWords(text);
        ASSERT_TRUE(all7bit(words));
        size_t start = 0, count = 0;
        while (start < words.size()) {
            size_t end = words.find("\r\n ", start);
            if (end == std::string::npos) end = words.size();
            EXPECT_LE(end - start, 75u) << unit;
            start = end + 3;
            ++count;
        }
        EXPECT_GT(count, 1u);
        const std::string decoded = mime::decodeHeaderField(words);
        if (unit == "\xB1") {
            EXPECT_EQ(decoded.size(), 2 * text.size()) << "full-width forms";
        } else {
            EXPECT_EQ(decoded, text) << unit;
        }
        // The bounded form never writes beyond its room, and stops before a word that won't fit.
        std::vector<char> buf(encodedWordsMax(text.size(), 3), '#');
        const Encoded e = encodeWordsInto(text, std::span<char>(buf.data(), 200));
        EXPECT_LT(e.written, 200u);
        EXPECT_EQ(buf[200], '#');
        EXPECT_EQ(std::string(buf.data(), e.written), words.substr(0, e.written));
    }
}

}  // namespace
}  // namespace kolvy::smtp
