#include "smtp/split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/decode.h"
#include "smtp/encode.h"
#include "tests/support/test_env.h"

namespace kolvy::smtp {
namespace {

constexpr char kStatus[] = "\f st=1.0.0.0 dt=0000000000 at=not               \r\n";

ComposedMessage composed(std::string_view header, std::string_view body) {
    auto fs = platform::makeFileSystem();
    ComposeInput in;
    const std::string draft =
        std::string(kStatus) + std::string(header) + "\r\n" + std::string(body);
    in.draft = draft;
    in.mailAddress = "me@example.jp";
    in.sendTime = 1765000000;
    ComposeResult r = composeMessage(*fs, in);
    EXPECT_TRUE(r.ok());
    return std::move(r.message);
}

struct Piece {
    std::string header, body;
};
Piece parts(const std::string& piece) {
    const size_t blank = piece.find("\r\n\r\n");
    return {piece.substr(0, blank + 2), piece.substr(blank + 4)};
}

std::string fieldOf(const std::string& header, std::string_view name) {
    size_t at = header.starts_with(name) ? 0 : header.find("\r\n" + std::string(name));
    if (at == std::string::npos) return {};
    if (at > 0) at += 2;
    return header.substr(at, header.find("\r\n", at) - at);
}

// A wire text of exactly `size` bytes in 50-byte lines.
ComposedMessage sizedMessage(size_t size) {
    ComposedMessage m = composed("To: a@x.jp\r\nSubject: big\r\n", "");
    m.wire.resize(m.wire.size() - 2);  // the body's closing CR LF
    std::string line(48, 'x');
    while (m.wire.size() % 50 != 0)
        m.wire += 'y';
    m.wire.replace(m.wire.size() - 2, 2, "\r\n");
    while (m.wire.size() < size)
        m.wire += line + "\r\n";
    m.wire.resize(size);
    return m;
}

// 2,500 bytes go in pieces of 1,000, 1,000 and 500; an exact multiple is one piece.
TEST(SplitPartial, PiecesOfAThousand) {
    for (const size_t size : {2500u, 1000u}) {
        const ComposedMessage m = sizedMessage(size);
        const auto pieces = splitPartial(m, 1000, 1765000100, "me@example.jp");
        const size_t total = (size + 999) / 1000;
        ASSERT_EQ(pieces.size(), total);
        std::string joined;
        for (size_t n = 0; n < total; ++n) {
            const Piece p = parts(pieces[n]);
            EXPECT_EQ(p.body.size(), std::min<size_t>(1000, size - 1000 * n));
            joined += p.body;
            const std::string num = std::to_string(n + 1), of = std::to_string(total);
            EXPECT_EQ(fieldOf(p.header, "Subject:"), "Subject: big [" + num + "/" + of + "]");
            EXPECT_TRUE(
                fieldOf(p.header, "Message-ID:").starts_with("Message-ID: <" + num + ".KV"));
            EXPECT_EQ(fieldOf(p.header, "Content-Type:"),
                      "Content-Type: message/partial; number=" + num +
                          (n + 1 < total ? ";" : "; total=" + of + ";"));
            EXPECT_NE(p.header.find("\tid=\"1765000100.me@example.jp\""), std::string::npos);
        }
        EXPECT_EQ(joined, m.wire);
    }
}

// Whatever the piece size, the bodies joined give the wire text back, each piece ends in CR LF
// that belongs to the wire text when it can, and no cut splits CR LF.
TEST(SplitPartial, JoinsBackForAnySize) {
    std::string body;
    for (int i = 0; i < 40; ++i)
        body += std::string(static_cast<size_t>(i * 7 % 90), 'a') + "日本語の行\r\n";
    const ComposedMessage m = composed("To: a@x.jp\r\nSubject: 件名です\r\n", body);
    for (size_t p : {1u, 2u, 3u, 7u, 50u, 64u, 333u, 1000u, 100000u}) {
        const auto pieces = splitPartial(m, p, 5, "me@example.jp");
        std::string joined;
        for (const std::string& piece : pieces) {
            std::string b = parts(piece).body;
            ASSERT_TRUE(b.ends_with("\r\n")) << p;
            const size_t at = joined.size();
            if (m.wire.compare(at, b.size(), b) != 0) {
                ASSERT_LT(p, 120u) << "only a line longer than a piece is cut inside";
                b.resize(b.size() - 2);  // the CR LF that ends a piece cut inside a line
            }
            joined += b;
            ASSERT_FALSE(joined.ends_with("\r") && joined.size() < m.wire.size()) << p;
        }
        EXPECT_EQ(joined, m.wire) << p;
    }
}

// The Shift_JIS split: pieces decode back to the body in order, each within the size except a
// single character, and every piece is a message with its own number and id.
TEST(SplitBodySjis, PiecesJoinBack) {
    std::string body;
    for (int i = 0; i < 10; ++i)
        body += "abc漢字かなdef\r\n日本語\r\n";
    const ComposedMessage m = composed("To: a@x.jp\r\nSubject: 件名\r\n", body);
    for (size_t p : {1u, 2u, 3u, 5u, 11u, 40u, 1000u}) {
        const auto pieces = splitBodySjis(m, p);
        std::string joined;
        for (size_t n = 0; n < pieces.size(); ++n) {
            const Piece piece = parts(pieces[n]);
            ASSERT_TRUE(piece.body.ends_with("\r\n"));
            const std::string sjis = mime::jisToSjis(piece.body.substr(0, piece.body.size() - 2));
            EXPECT_LE(sjis.size(), std::max<size_t>(p, 2)) << p;
            joined += sjis;
            const std::string num = std::to_string(n + 1) + "/" + std::to_string(pieces.size());
            EXPECT_TRUE(fieldOf(piece.header, "Subject:").ends_with(" [" + num + "]")) << p;
            EXPECT_TRUE(fieldOf(piece.header, "Message-ID:")
                            .starts_with("Message-ID: <" + std::to_string(n + 1) + ".KV"));
            EXPECT_NE(piece.header.find("Content-Transfer-Encoding: 7bit"), std::string::npos);
        }
        EXPECT_EQ(joined, body) << p;
        if (p == 1000) {
            EXPECT_EQ(pieces.size(), 1u);
        }
    }
}

// The escape-aware split: every piece is complete ISO-2022-JP (starts and ends in ASCII), fits
// the size once the size can hold one kanji with its escapes, and the pieces decode back.
TEST(SplitBodyJis, PiecesAreWholeAndJoinBack) {
    std::string body;
    for (int i = 0; i < 10; ++i)
        body += "abc漢字かなdef\r\n日本語の長い行がここに続きます\r\nx\r\n";
    const ComposedMessage m = composed("To: a@x.jp\r\nSubject: 件名\r\n", body);
    for (size_t p = 1; p <= 64; ++p) {
        const auto pieces = splitBodyJis(m, p);
        std::string joined;
        for (const std::string& whole : pieces) {
            const Piece piece = parts(whole);
            const std::string jis = piece.body.substr(0, piece.body.size() - 2);
            const std::string sjis = mime::jisToSjis(jis);
            EXPECT_EQ(sjis.find("〓"), std::string::npos) << "a cut kanji at " << p;
            if (p >= 8) {
                EXPECT_LE(jis.size(), p) << p;
                EXPECT_EQ(sjisToJis(sjis), jis) << "not self-contained at " << p;
            }
            joined += sjis;
        }
        EXPECT_EQ(joined, body) << p;
    }
}

// Exact cuts: a kanji that would not fit with its closing escape goes to the next piece, a run
// opening 7 bytes before the cut moves whole (8 bytes keep what fits), a voiced mark stays with
// its half-width katakana, a message with attachments goes whole.
TEST(SplitBody, CutsAtCharacterAndRunBoundaries) {
    using Split = std::vector<std::string> (*)(const ComposedMessage&, size_t);
    const std::string nihon = "\x1b$BF|K\\\x1b(B\r\n";
    const struct {
        const char* body;
        Split split;
        size_t size;
        bool attachment;
        std::vector<std::string> bodies;  // "" = the whole wire text
    } cases[] = {
        {"abcd日本語文字", splitBodyJis, 14, false, {"abcd" + nihon, "\x1b$B8lJ8;z\x1b(B\r\n"}},
        {"0123456789日本", splitBodyJis, 17, false, {"0123456789\r\n", nihon}},
        {"0123456789日本",
         splitBodyJis,
         18,
         false,
         {"0123456789\x1b$BF|\x1b(B\r\n", "\x1b$BK\\\x1b(B\r\n"}},
        {"ab\xB6\xDE", splitBodySjis, 3, false, {"ab\r\n", "\x1b$B%,\x1b(B\r\n"}},  // one ガ
        {"body", splitBodySjis, 2, true, {""}},
        {"body", splitBodyJis, 2, true, {""}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.body) + " " + std::to_string(c.size));
        ComposedMessage m = composed("To: a@x.jp\r\nSubject: s\r\n", c.body);
        if (c.attachment) m.attachments.push_back({"a.bin", "application/octet-stream"});
        std::vector<std::string> got;
        for (const std::string& piece : c.split(m, c.size))
            got.push_back(piece == m.wire ? "" : parts(piece).body);
        EXPECT_EQ(got, c.bodies);
    }
}

}  // namespace
}  // namespace kolvy::smtp
