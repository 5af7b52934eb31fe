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
    size_t replyBytes;  // npos = not complete
    bool negative = false;
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
    {"refusal ends at the status line", "-ERR no such message\r\n.\r\n", "", 22, true},
    {"incomplete reply", "+OK\r\nline\r\n.", "", std::string::npos},
};

TEST(MultiLineDecoder, UndoesDotStuffingAndKeepsTheEndLineAtEverySplit) {
    for (const DecodeCase& c : kDecodes) {
        for (size_t piece : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{7}}) {
            SCOPED_TRACE(std::string(c.name) + " / " + std::to_string(piece));
            MultiLineDecoder d;
            size_t used = 0;
            bool done = false;
            const std::string out = decode(c.input, piece, used, done, &d);
            if (c.replyBytes == std::string::npos) {
                EXPECT_FALSE(done);
                continue;
            }
            EXPECT_EQ(out, c.output);
            EXPECT_TRUE(done);
            EXPECT_EQ(used, c.replyBytes);
            EXPECT_EQ(d.negative(), c.negative);
            EXPECT_EQ(d.statusLine(), c.input.substr(0, c.input.find("\r\n")));
        }
    }
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

// Feeds `input` to a framer in two pieces cut at `cut`; returns the bytes it took.
size_t frameTwoPieces(ReplyKind kind, std::string_view input, size_t cut, bool& done) {
    ReplyFramer f(kind);
    size_t used = f.feed(input.substr(0, cut));
    if (!f.done()) used += f.feed(input.substr(cut));
    done = f.done();
    return used;
}

struct CodeCase {
    const char* name;
    std::string reply;  // as it comes, followed by whatever the server sends next
    int code;           // the reply's code; -1 none
    size_t replyBytes;
};

const CodeCase kCodes[] = {
    {"one line", "250 ok\r\n", 250, 8},
    {"code alone", "354\r\n", 354, 5},
    {"multi-line takes the last line", "250-mx 250 hello\r\n250-AUTH\r\n550 no\r\n", 550, 36},
    {"code named later in a refusal does not count", "550 5.1.1 250 ok nobody\r\n", 550, 25},
    {"refusal after accepting continuation lines", "220-hi\r\n220-x\r\n554 go away\r\n", 554, 28},
    {"bare LF lines", "250-a\n250-b\n251 c\n", 251, 18},
    {"reply followed by the next", "235 ok\r\n250 more\r\n", 235, 8},
    {"four digits are no code", "2500 x\r\n", -1, 8},
    {"letters are no code", "ab0 x\r\n", -1, 7},
    {"short line", "25\r\n", -1, 4},
    {"empty line", "\r\n", -1, 2},
};

TEST(SmtpReplyCode, ComesFromTheLastLineWhateverTheChunking) {
    for (const CodeCase& c : kCodes) {
        for (size_t cut = 0; cut <= c.reply.size(); ++cut) {
            bool done = false;
            const size_t used = frameTwoPieces(ReplyKind::Smtp, c.reply, cut, done);
            ASSERT_TRUE(done) << c.name << " cut " << cut;
            EXPECT_EQ(used, c.replyBytes) << c.name << " cut " << cut;
            EXPECT_EQ(smtpReplyCode(std::string_view(c.reply).substr(0, used)), c.code)
                << c.name << " cut " << cut;
        }
    }
}

TEST(SmtpReplyCode, ContinuationWithoutItsLastLineHasNone) {
    EXPECT_EQ(smtpReplyCode("250-a\r\n250-b\r\n"), -1);
    EXPECT_EQ(smtpReplyCode(""), -1);
    EXPECT_EQ(lastReplyLine("220-a\r\n220 b c\r\n"), "220 b c");
}

TEST(PopAccepted, OnlyAPlusAccepts) {
    const std::pair<const char*, bool> cases[] = {
        {"+OK\r\n", true}, {"+ challenge\r\n", true}, {"-ERR +OK\r\n", false}, {" +OK\r\n", false},
        {"", false},       {"OK\r\n", false},
    };
    for (const auto& [reply, accepted] : cases)
        EXPECT_EQ(popAccepted(reply), accepted) << reply;
}

// Both the listing framer and the message decoder end a multi-line reply at the same byte,
// whether its last line ends in CR LF or a bare LF, wherever the reply is cut.
TEST(MultiLineEnd, FramerAndDecoderAgreeAtEverySplit) {
    const std::string inputs[] = {
        "+OK\r\na\r\n.\r\n+OK next\r\n",
        "+OK\na\n.\n+OK next\r\n",
        "+OK\r\n..\n.x\r\n.\n-ERR next\r\n",
        "+OK\r\nline\r\n.\n",
    };
    for (const std::string& in : inputs) {
        for (size_t cut = 0; cut <= in.size(); ++cut) {
            bool framed = false;
            const size_t frameUsed = frameTwoPieces(ReplyKind::MultiLine, in, cut, framed);
            MultiLineDecoder d;
            std::string out;
            size_t decodeUsed = d.feed(std::string_view(in).substr(0, cut), out);
            if (!d.done()) decodeUsed += d.feed(std::string_view(in).substr(cut), out);
            ASSERT_TRUE(framed && d.done()) << in << " cut " << cut;
            EXPECT_EQ(frameUsed, decodeUsed) << in << " cut " << cut;
            EXPECT_EQ(out.substr(out.size() - 3), ".\r\n") << in;
        }
    }
}

}  // namespace
}  // namespace kolvy::pop
