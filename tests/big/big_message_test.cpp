// The largest message the program accepts, in a 32-bit process: a 200 MB message with a Base64
// attachment is imported from a file and received from the real dovecot through the program's
// own code. Either it is stored whole (message file, attachment byte for byte, a sound index) or
// refused with a text in the communication log; the process never dies for lack of address space.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/fileutil.h"
#include "pop/session.h"
#include "pop/testsupport/real_servers.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool_test_util.h"

namespace kolvy {
namespace {

constexpr size_t kGroup = 57;  // decoded bytes per Base64 line of 76 characters
constexpr char kAttachName[] = "big.bin";

// The attachment's bytes, reproducible from their position alone.
char patternAt(uint64_t i) {
    return static_cast<char>((i * 131 + (i >> 13) * 7) & 0xFF);
}

const std::string kHead =
    "From: Sender <s@example.jp>\r\nTo: me@example.jp\r\nSubject: big one\r\n"
    "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"bb\"\r\n\r\n"
    "--bb\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nthe data is attached\r\n"
    "--bb\r\nContent-Type: application/octet-stream; name=\"big.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\n";
const std::string kTail = "--bb--\r\n";

// How many Base64 lines make a message of at most `size` bytes; by default as large as the
// session accepts.
uint64_t lineCount(uint64_t size = pop::kMaxMessageSize) {
    return (size - kHead.size() - kTail.size()) / 78;
}

std::string base64Line(uint64_t line) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(78);
    const uint64_t base = line * kGroup;
    for (size_t k = 0; k < kGroup; k += 3) {
        const uint32_t v = static_cast<uint8_t>(patternAt(base + k)) << 16 |
                           static_cast<uint8_t>(patternAt(base + k + 1)) << 8 |
                           static_cast<uint8_t>(patternAt(base + k + 2));
        for (int s = 18; s >= 0; s -= 6)
            out += table[(v >> s) & 63];
    }
    out += "\r\n";
    return out;
}

// Writes the message to `path` a megabyte at a time; returns its size.
uint64_t writeBigMessage(platform::FileSystem& fs, const std::string& path,
                         uint64_t limit = pop::kMaxMessageSize) {
    auto f = fs.open(path, platform::OpenMode::CreateTruncate);
    if (!f) return 0;
    uint64_t size = 0;
    std::string chunk = kHead;
    const uint64_t lines = lineCount(limit);
    for (uint64_t n = 0; n < lines; ++n) {
        chunk += base64Line(n);
        if (chunk.size() >= (1u << 20) || n + 1 == lines) {
            if (n + 1 == lines) chunk += kTail;
            if ((*f)->write(chunk) != Err::None) return 0;
            size += chunk.size();
            chunk.clear();
        }
    }
    return (*f)->close() == Err::None ? size : 0;
}

using test::runTool;
using test::ToolRun;

class BigMessage : public ::testing::Test {
  protected:
    std::string home() const { return test::home(e.env); }
    // Every communication-log file of the folder, run together.
    std::string commLog() {
        std::string all;
        auto files = e.fs->list(e.path("_Log"));
        if (!files) return all;
        for (const auto& f : *files) {
            if (f.name.find("通信ログ") == 0) all += e.read("_Log\\" + f.name);
        }
        return all;
    }
    // The attachment of the one stored message, saved by the extract command and compared with
    // the pattern a megabyte at a time.
    void expectAttachmentWhole(uint64_t limit = pop::kMaxMessageSize) {
        test::TempFolder dest;
        const ToolRun x = runTool(
            {"extract", home(), tool::toTerminal("受信"), "0", tool::toTerminal(dest.path())});
        ASSERT_EQ(x.code, 0) << x.out << x.err;
        const std::string path = dest / kAttachName;
        auto size = e.fs->fileSize(path);
        ASSERT_TRUE(size) << x.out;
        EXPECT_EQ(*size, lineCount(limit) * kGroup);
        auto f = e.fs->open(path, platform::OpenMode::Read);
        ASSERT_TRUE(f);
        std::vector<char> buf(1u << 20);
        uint64_t at = 0, mismatches = 0;
        for (;;) {
            auto got = (*f)->read(buf);
            ASSERT_TRUE(got);
            if (*got == 0) break;
            for (size_t k = 0; k < *got; ++k)
                mismatches += buf[k] != patternAt(at + k);
            at += *got;
        }
        EXPECT_EQ(at, lineCount(limit) * kGroup);
        EXPECT_EQ(mismatches, 0u);
    }
    // Stored whole, or refused with a text (`refusal` on the error output, else in the
    // communication log): the same judgement for every way in.
    void expectStoredOrRefused(const ToolRun& r, uint64_t limit = pop::kMaxMessageSize,
                               const char* refusal = nullptr) {
        // Which of the two it was, for the person reading the run.
        std::printf("outcome: %s %s%s\n", r.code == 0 ? "stored" : "refused", r.out.c_str(),
                    tool::toTerminal(commLog()).c_str());
        if (r.code == 0) {
            EXPECT_EQ(r.out.substr(0, 8), "stored 1") << r.out << r.err;
            auto text = e.fs->fileSize(e.path("MailData\\受信\\0000.txt"));
            ASSERT_TRUE(text);
            EXPECT_GT(*text, 0u);
            expectAttachmentWhole(limit);
        } else {
            // Refused in so many words, and nothing half stored.
            if (refusal) {
                EXPECT_EQ(r.err, refusal);
            } else {
                EXPECT_FALSE(commLog().empty()) << r.out << r.err;
            }
            EXPECT_FALSE(e.fs->exists(e.path("MailData\\受信\\0000.txt")));
        }
        test::expectSound(e.env);
    }
    test::TestEnv e;
};

TEST_F(BigMessage, ImportOfTheLargestAcceptedMessage) {
    test::TempFolder source;
    const std::string eml = source / "big.eml";
    const uint64_t size = writeBigMessage(*e.fs, eml);
    ASSERT_GT(size, pop::kMaxMessageSize - 100);
    ASSERT_LE(size, pop::kMaxMessageSize);
    expectStoredOrRefused(runTool({"import", home(), tool::toTerminal(eml)}));
}

// Twice that, which the session would leave on the server, given to import: stored whole where
// the process holds it with its analysis, else refused in so many words; never half stored.
TEST_F(BigMessage, ImportOfTwiceTheLargestIsStoredWholeOrRefused) {
    test::TempFolder source;
    const std::string eml = source / "huge.eml";
    const uint64_t limit = 2 * pop::kMaxMessageSize;
    ASSERT_GT(writeBigMessage(*e.fs, eml, limit), pop::kMaxMessageSize);
    expectStoredOrRefused(runTool({"import", home(), tool::toTerminal(eml)}), limit,
                          "kolvytool: not enough memory\n");
}

TEST_F(BigMessage, ReceiveOfTheLargestAcceptedMessageFromDovecot) {
    auto s = test::popServers();
    ASSERT_TRUE(s.has_value()) << "the pop-servers fixture has not run";
    s->emptyDovecot();
    // Written under tmp/ and moved into new/, as a delivery agent does.
    const std::string tmp = s->dovecotMaildir + "/tmp/big.kolvy";
    const uint64_t size = writeBigMessage(*e.fs, tmp);
    ASSERT_LE(size, pop::kMaxMessageSize);
    ASSERT_EQ(e.fs->rename(tmp, s->dovecotMaildir + "/new/big.kolvy"), Err::None);

    // Generous: a test of memory, not of time-outs on a loaded machine.
    test::writePopOrder(e.env.ini, s->dovecotPop3, s->user, s->password, false, 120000);

    const ToolRun r = runTool({"receive", home(), tool::toTerminal("受信注文")});
    s->emptyDovecot();
    expectStoredOrRefused(r);
}

}  // namespace
}  // namespace kolvy
