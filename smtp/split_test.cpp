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

TEST(SplitPartial, ThreePiecesOfAThousand) {
    const ComposedMessage m = sizedMessage(2500);
    const auto pieces = splitPartial(m, 1000, 1765000100, "me@example.jp");
    ASSERT_EQ(pieces.size(), 3u);
    std::string joined;
    for (size_t n = 0; n < 3; ++n) {
        const Piece p = parts(pieces[n]);
        EXPECT_EQ(p.body.size(), n < 2 ? 1000u : 500u);
        joined += p.body;
        const std::string num = std::to_string(n + 1);
        EXPECT_EQ(fieldOf(p.header, "Subject:"), "Subject: big [" + num + "/3]");
        EXPECT_TRUE(fieldOf(p.header, "Message-ID:").starts_with("Message-ID: <" + num + ".KV"));
        const std::string type = fieldOf(p.header, "Content-Type:");
        EXPECT_EQ(type, n < 2 ? "Content-Type: message/partial; number=" + num + ";"
                              : "Content-Type: message/partial; number=3; total=3;");
        EXPECT_NE(p.header.find("\tid=\"1765000100.me@example.jp\""), std::string::npos);
    }
    EXPECT_EQ(joined, m.wire);
}

TEST(SplitPartial, ExactMultipleIsOnePiece) {
    const ComposedMessage m = sizedMessage(1000);
    const auto pieces = splitPartial(m, 1000, 1, "me@example.jp");
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_NE(pieces[0].find("number=1; total=1;"), std::string::npos);
    EXPECT_EQ(parts(pieces[0]).body, m.wire);
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

TEST(SplitBodyJis, CutInsideKanjiEndsOneCharacterEarlier) {
    // "ab" then a run of kanji: with 12 bytes, "ab" ESC $B and three pairs would be 11 bytes
    // plus the closing escape; the piece ends after two pairs with ESC ( B.
    const ComposedMessage m = composed("To: a@x.jp\r\nSubject: s\r\n", "abcd日本語文字");
    const auto pieces = splitBodyJis(m, 14);
    ASSERT_GE(pieces.size(), 2u);
    const std::string first = parts(pieces[0]).body;
    const std::string second = parts(pieces[1]).body;
    EXPECT_EQ(first, "abcd\x1b$BF|K\\\x1b(B\r\n");
    EXPECT_TRUE(second.starts_with("\x1b$B8l")) << second;
}

TEST(SplitBodyJis, RunStartingNearTheCutMovesWhole) {
    const ComposedMessage m = composed("To: a@x.jp\r\nSubject: s\r\n", "0123456789日本");
    // With 17 bytes the run would open 7 bytes before the cut: it goes whole to the next piece.
    auto pieces = splitBodyJis(m, 17);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(parts(pieces[0]).body, "0123456789\r\n");
    EXPECT_EQ(parts(pieces[1]).body, "\x1b$BF|K\\\x1b(B\r\n");
    // With 18 it opens 8 bytes before: the piece keeps the kanji that fit.
    pieces = splitBodyJis(m, 18);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(parts(pieces[0]).body, "0123456789\x1b$BF|\x1b(B\r\n");
    EXPECT_EQ(parts(pieces[1]).body, "\x1b$BK\\\x1b(B\r\n");
}

TEST(SplitBodySjis, VoicedMarkStaysWithItsKatakana) {
    // "ab" then half-width "ｶﾞ": a 3-byte cut would fall between the katakana and its mark.
    const ComposedMessage m = composed("To: a@x.jp\r\nSubject: s\r\n", "ab\xB6\xDE");
    const auto pieces = splitBodySjis(m, 3);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(parts(pieces[0]).body, "ab\r\n");
    EXPECT_EQ(parts(pieces[1]).body, "\x1b$B%,\x1b(B\r\n");  // one full-width ガ
}

TEST(SplitBody, MessageWithAttachmentsGoesWhole) {
    ComposedMessage m = composed("To: a@x.jp\r\nSubject: s\r\n", "body");
    m.attachments.push_back({"a.bin", "application/octet-stream"});
    EXPECT_EQ(splitBodySjis(m, 2), std::vector<std::string>{m.wire});
    EXPECT_EQ(splitBodyJis(m, 2), std::vector<std::string>{m.wire});
}

}  // namespace
}  // namespace kolvy::smtp
