#include "pop/reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kolvy::pop {
namespace {

// Feeds `input` in pieces of `piece` bytes (0 = whole); returns the bytes taken as the reply.
size_t frame(ReplyKind kind, const std::string& input, size_t piece, bool& done, bool& negative) {
    ReplyFramer f(kind);
    size_t used = 0;
    const size_t step = piece ? piece : input.size();
    for (size_t i = 0; i < input.size() && !f.done(); i += step) {
        const std::string_view p = std::string_view(input).substr(i, step);
        const size_t n = f.feed(p);
        used += n;
        if (n < p.size()) {
            EXPECT_TRUE(f.done()) << "stopped early without the end";
        }
    }
    done = f.done();
    negative = f.negative();
    return used;
}

struct FrameCase {
    const char* name;
    ReplyKind kind;
    std::string input;
    size_t replyBytes;  // where the reply ends; npos = not complete
    bool negative;
};

const size_t npos = std::string::npos;

const FrameCase kFrames[] = {
    {"single line", ReplyKind::Line, "+OK hello\r\n", 11, false},
    {"single line, next reply follows", ReplyKind::Line, "+OK 1\r\n+OK 2\r\n", 7, false},
    {"single line cut short", ReplyKind::Line, "+OK hel", npos, false},
    {"negative single line", ReplyKind::Line, "-ERR no\r\n", 9, true},
    {"listing", ReplyKind::MultiLine, "+OK 2\r\n1 10\r\n2 20\r\n.\r\n", 22, false},
    {"empty listing", ReplyKind::MultiLine, "+OK\r\n.\r\n", 8, false},
    {"refused listing ends at its first line", ReplyKind::MultiLine, "-ERR no\r\n.\r\n", 9, true},
    {"a line \"..\" is data", ReplyKind::MultiLine, "+OK\r\n..\r\n.x\r\n.\r\n", 16, false},
    {"a dot inside a line is data", ReplyKind::MultiLine, "+OK\r\nSTLS\r\nX.\r\n.\r\n", 18, false},
    {"listing without its end", ReplyKind::MultiLine, "+OK\r\n1 10\r\n", npos, false},
    {"listing, then the next reply", ReplyKind::MultiLine, "+OK\r\n.\r\n+OK\r\n", 8, false},
    {"smtp single", ReplyKind::Smtp, "250 ok\r\n", 8, false},
    {"smtp multi", ReplyKind::Smtp, "250-a\r\n250-STARTTLS\r\n250 SIZE\r\n", 31, false},
    {"smtp code alone", ReplyKind::Smtp, "250-a\r\n250\r\n", 12, false},
    {"smtp continuation only", ReplyKind::Smtp, "250-a\r\n250-b\r\n", npos, false},
    {"smtp two replies", ReplyKind::Smtp, "220 hi\r\n250 ok\r\n", 8, false},
};

TEST(ReplyFramer, EndsExactlyAtTheTerminatorWholeBytewiseAndAtEverySplit) {
    for (const FrameCase& c : kFrames) {
        for (size_t piece : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{5}}) {
            bool done = false, negative = false;
            const size_t used = frame(c.kind, c.input, piece, done, negative);
            if (c.replyBytes == npos) {
                EXPECT_FALSE(done) << c.name << " piece " << piece;
                EXPECT_EQ(used, c.input.size()) << c.name;
            } else {
                EXPECT_TRUE(done) << c.name << " piece " << piece;
                EXPECT_EQ(used, c.replyBytes) << c.name << " piece " << piece;
                EXPECT_EQ(negative, c.negative) << c.name;
            }
        }
    }
}

// Decodes in pieces; returns the decoded text and the bytes taken.
std::string decode(const std::string& input, size_t piece, size_t& used, bool& done,
                   MultiLineDecoder* keep = nullptr) {
    MultiLineDecoder local;
    MultiLineDecoder& d = keep ? *keep : local;
    std::string out;
    used = 0;
    const size_t step = piece ? piece : input.size();
    for (size_t i = 0; i < input.size() && !d.done(); i += step) {
        used += d.feed(std::string_view(input).substr(i, step), out);
    }
    done = d.done();
    return out;
}

struct DecodeCase {
    const char* name;
    std::string input, output;
    size_t replyBytes;
};

const DecodeCase kDecodes[] = {
    {"plain message", "+OK 20 octets\r\nSubject: a\r\n\r\nbody\r\n.\r\n",
     "\nSubject: a\r\n\r\nbody\r\n.\r\n", 38},
    {"stuffed dot lines lose one dot", "+OK\r\n..\r\n...\r\n..hidden\r\n.\r\n",
     "\n.\r\n..\r\n.hidden\r\n.\r\n", 27},
    {"quoted-printable soft break after a dot line", "+OK\r\n..=3D=\r\nx\r\n.\r\n",
     "\n.=3D=\r\nx\r\n.\r\n", 19},
    {"dot not at a line start stays", "+OK\r\na.b\r\n .\r\n.\r\n", "\na.b\r\n .\r\n.\r\n", 17},
    {"empty message", "+OK\r\n.\r\n", "\n.\r\n", 8},
    {"careless server's unstuffed dot line kept", "+OK\r\n.x\r\n.\r\n", "\n.x\r\n.\r\n", 12},
    {"dot CR without LF is data", "+OK\r\n.\rx\r\n.\r\n", "\n.\rx\r\n.\r\n", 13},
    {"bytes after the end belong to the next reply", "+OK\r\nA\r\n.\r\n+OK bye\r\n", "\nA\r\n.\r\n",
     11},
};

TEST(MultiLineDecoder, UndoesDotStuffingAndKeepsTheEndLineAtEverySplit) {
    for (const DecodeCase& c : kDecodes) {
        for (size_t piece : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{7}}) {
            size_t used = 0;
            bool done = false;
            EXPECT_EQ(decode(c.input, piece, used, done), c.output) << c.name << " / " << piece;
            EXPECT_TRUE(done) << c.name;
            EXPECT_EQ(used, c.replyBytes) << c.name << " / " << piece;
        }
    }
}

TEST(MultiLineDecoder, RefusalEndsAtTheStatusLine) {
    for (size_t piece : {size_t{0}, size_t{1}}) {
        MultiLineDecoder d;
        size_t used = 0;
        bool done = false;
        EXPECT_EQ(decode("-ERR no such message\r\n.\r\n", piece, used, done, &d), "");
        EXPECT_TRUE(done);
        EXPECT_TRUE(d.negative());
        EXPECT_EQ(d.statusLine(), "-ERR no such message");
        EXPECT_EQ(used, 22u);
    }
}

TEST(MultiLineDecoder, IncompleteReplyIsNotDone) {
    size_t used = 0;
    bool done = true;
    decode("+OK\r\nline\r\n.", 1, used, done);
    EXPECT_FALSE(done);
}

TEST(MultiLineDecoder, LongMessageInBigAndTinyPiecesAgrees) {
    // Many dot lines and a long status line; output never longer than input.
    std::string body, expected = "\n";
    for (int i = 0; i < 2000; ++i) {
        body += (i % 3 == 0 ? ".." : "") + std::to_string(i) + "\r\n";
        expected += (i % 3 == 0 ? "." : "") + std::to_string(i) + "\r\n";
    }
    const std::string input = "+OK " + std::string(3000, 's') + "\r\n" + body + ".\r\n";
    expected += ".\r\n";
    for (size_t piece : {size_t{0}, size_t{1}, size_t{1000}, size_t{4096}}) {
        MultiLineDecoder d;
        size_t used = 0;
        bool done = false;
        const std::string out = decode(input, piece, used, done, &d);
        EXPECT_EQ(out, expected) << piece;
        EXPECT_EQ(used, input.size());
        EXPECT_LE(out.size(), input.size());
        EXPECT_EQ(d.statusLine().size(), MultiLineDecoder::kMaxStatusLine);
        EXPECT_EQ(d.received(), input.size());
    }
}

}  // namespace
}  // namespace kolvy::pop
