// Joining the split message of the corpus: the pieces are filed as received, joined, and the
// result compared with the message the sender split.
#include "mime/partial_join.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fileutil.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "tests/support/test_env.h"

namespace kolvy::mime {
namespace {

std::string corpus(const std::string& name) {
    return test::readFile(std::string(KOLVY_MIME_TESTDATA) + "/corpus/" + name);
}

std::vector<std::string> pieceNames() {
    std::vector<std::string> out;
    for (int n = 1;; ++n) {
        const std::string name = "partial_" + std::to_string(n);
        if (corpus(name + ".eml").empty()) break;
        out.push_back(name);
    }
    return out;
}

struct JoinFolder {
    JoinFolder() {
        t.clock.setLocal(2026, 12, 7, 10, 30);
        EXPECT_TRUE(tabs.load(t.env));
    }
    ~JoinFolder() { store::freeItems(*tabs.basicTab(store::kReceiveTab)); }
    void file(const std::string& raw) {
        ServerEntry e{};
        e.size = static_cast<uint32_t>(raw.size());
        ASSERT_EQ(mailAnalyze(ctx, "\n" + raw + ".\r\n", e).kind, AnalyzeOutcome::Stored);
    }
    std::string stored(int n) {
        auto d = platform::readWholeFile(
            *t.fs, store::messagePath(t.env, *tabs.basicTab(store::kReceiveTab), n));
        return d ? *d : std::string("<missing>");
    }
    test::TestEnv t;
    store::TabRegistry tabs;
    AnalyzeContext ctx{t.env, tabs};
};

std::string afterHeaders(const std::string& s) {
    const size_t p = s.find("\r\n\r\n");
    return p == std::string::npos ? std::string() : s.substr(p);
}

TEST(PartialJoin, PiecesReadByParameterName) {
    struct Case {
        const char* type;
        bool piece;
        int number, total;
        const char* id;
    };
    const Case cases[] = {
        {"message/partial; id=\"a@b\"; number=2; total=3", true, 2, 3, "a@b"},
        {"Message/Partial; total=3; number=1; id=x", true, 1, 3, "x"},
        // "nu", "id" and "to" inside other words or values are no parameters.
        {"message/partial; tone=5; idle=1; id=\"to=9; number=8\"; number=4", true, 4, 0,
         "to=9; number=8"},
        {"message/partial; id=z", false, 0, 0, ""},
        {"message/rfc822; id=z; number=1", false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        const std::string text = std::string(store::kNewOutgoingStatusLine) +
                                 "From: a\r\nContent-Type: " + c.type + "\r\n\r\nbody\r\n";
        const auto p = partialPieceOf(text);
        ASSERT_EQ(p.has_value(), c.piece) << c.type;
        if (!p) continue;
        EXPECT_EQ(p->pieceNumber, c.number) << c.type;
        EXPECT_EQ(p->total, c.total) << c.type;
        EXPECT_EQ(p->id, c.id) << c.type;
    }
}

TEST(PartialJoin, ShuffledAndDuplicatedPiecesJoinToTheSendersMessage) {
    const std::vector<std::string> names = pieceNames();
    ASSERT_GE(names.size(), 3u);
    JoinFolder f;
    // Arrival out of order, one piece twice, a message between them.
    f.file(corpus(names[2] + ".eml"));
    f.file(corpus(names[0] + ".eml"));
    f.file("From: other@example.jp\r\nSubject: unrelated\r\n\r\nx\r\n");
    for (size_t k = 1; k < names.size(); ++k)
        f.file(corpus(names[k] + ".eml"));
    const int before = f.tabs.basicTab(store::kReceiveTab)->nextFileNo;
    const JoinResult r = joinPartialMessages(f.ctx, 1);
    EXPECT_EQ(r.joined, 1);
    EXPECT_FALSE(r.incomplete);
    EXPECT_FALSE(r.failed);
    ASSERT_EQ(r.groups.size(), 1u);
    EXPECT_EQ(r.groups[0].size(), names.size());
    const std::string joined = f.stored(before);
    ASSERT_NE(joined, "<missing>");

    // The joined text is the sender's message: its body byte for byte, its Content-* headers.
    std::vector<std::string> pieces;
    for (int n : r.groups[0])
        pieces.push_back(f.stored(n));
    const std::string raw = joinPieces(pieces);
    const std::string whole = corpus("partial.whole");
    EXPECT_EQ(afterHeaders(raw), afterHeaders(whole) + ".\r\n");
    const std::string wholeType =
        whole.substr(whole.find("Content-Type:"),
                     whole.find("\r\n", whole.find("Content-Type:")) - whole.find("Content-Type:"));
    EXPECT_NE(raw.find(wholeType), std::string::npos);
    EXPECT_EQ(raw.find("message/partial"), std::string::npos);
    // Stored as the whole message would have been: same parts at the same places.
    const Analysis a = analyzeText(raw, "2612071030");
    const Analysis b = analyzeText("\n" + whole + ".\r\n", "2612071030");
    EXPECT_EQ(a.partLineCount, 2);
    EXPECT_EQ(a.output.substr(a.bodyStart + 2), b.output.substr(b.bodyStart + 2));
    EXPECT_NE(joined.find("X-PartInfo: application/octet-stream; name="), std::string::npos);
}

TEST(PartialJoin, MissingPieceLeavesTheMessageUnjoined) {
    const std::vector<std::string> names = pieceNames();
    JoinFolder f;
    for (size_t k = 0; k < names.size(); ++k) {
        if (k != 1) f.file(corpus(names[k] + ".eml"));
    }
    const int before = f.tabs.basicTab(store::kReceiveTab)->nextFileNo;
    const JoinResult r = joinPartialMessages(f.ctx, 1);
    EXPECT_EQ(r.joined, 0);
    EXPECT_TRUE(r.incomplete);
    EXPECT_EQ(f.tabs.basicTab(store::kReceiveTab)->nextFileNo, before);
}

TEST(PartialJoin, PiecesWithoutTotalAndABodyEndingInAFullStop) {
    JoinFolder f;
    const std::string head = "From: a@example.jp\r\nContent-Type: message/partial; id=q; number=";
    f.file(head + "1\r\n\r\nSubject: inner\r\nContent-Type: text/plain\r\n\r\nline one.\r\n");
    f.file(head + "2\r\n\r\n.\r\nlast line.\r\n");
    const JoinResult r = joinPartialMessages(f.ctx, 1);
    ASSERT_EQ(r.joined, 1);
    const std::string joined = f.stored(2);
    EXPECT_NE(joined.find("\r\nSubject: inner\r\nContent-Type: text/plain\r\n\r\n"
                          "line one.\r\n.\r\nlast line.\r\n.\r\n"),
              std::string::npos)
        << joined;
}

}  // namespace
}  // namespace kolvy::mime
