// Attachment extraction from messages stored by message analysis: the saved files must equal the
// attachments Python's email package decodes from the same messages (testdata corpus).
#include "store/attachments.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/sjis.h"
#include "mime/analyze.h"
#include "platform/fileutil.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"

namespace kolvy::store {
namespace {

std::string corpus(const std::string& name) {
    std::ifstream in(std::string(KOLVY_STORE_CORPUS) + "/" + name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Stored {
    Stored() { EXPECT_TRUE(tabs.load(t.env)); }
    ~Stored() { freeItems(*tabs.basicTab(kReceiveTab)); }
    std::string store(const std::string& raw) {
        mime::AnalyzeContext ctx(t.env, tabs);
        ServerEntry e{};
        e.size = static_cast<uint32_t>(raw.size());
        const mime::AnalyzeOutcome o = mime::mailAnalyze(ctx, "\n" + raw + ".\r\n", e);
        EXPECT_EQ(o.kind, mime::AnalyzeOutcome::Stored);
        auto d = platform::readWholeFile(*t.fs, messagePath(t.env, *o.tab, o.fileNo));
        return d ? *d : std::string();
    }
    test::TestEnv t;
    TabRegistry tabs;
};

TEST(Extraction, SavedFilesEqualWhatPythonDecodes) {
    int compared = 0;
    for (const char* name : {"mixed_2047", "mixed_2231", "nested", "digits_880", "digits_900"}) {
        SCOPED_TRACE(name);
        Stored s;
        const std::string text = s.store(corpus(std::string(name) + ".eml"));
        const std::string dest = s.t.path("out");
        std::vector<std::string> saved;
        ASSERT_EQ(extractAttachments(s.t.env, text, dest, {}, &saved), Err::None)
            << s.t.reporter.lastText();
        const std::string list = corpus(std::string(name) + ".attachments");
        for (size_t p = 0; p < list.size();) {
            const size_t a = list.find('\x1f', p);
            const size_t b = list.find('\x1f', a + 1);
            ASSERT_NE(b, std::string::npos);
            const std::string utf8 = list.substr(p, a - p);
            const size_t len = std::stoul(list.substr(a + 1, b - a - 1));
            const std::string bytes = list.substr(b + 1, len);
            p = b + 1 + len;
            auto sjisName = platform::utf8ToSjis(utf8);
            ASSERT_TRUE(sjisName);
            auto got = platform::readWholeFile(*s.t.fs, sjis::joinPath(dest, *sjisName));
            ASSERT_TRUE(got) << utf8;
            EXPECT_EQ(*got, bytes) << utf8;
            ++compared;
        }
    }
    EXPECT_GE(compared, 6);
}

TEST(Extraction, HtmlPartPointsAtTheSavedImages) {
    Stored s;
    const std::string text = s.store(
        "From: a@example.jp\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
        "--r\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
        "<p><img src=\"cid:one@x\"><IMG SRC=\"cid:two@x\"></p>\r\n"
        "--r\r\nContent-Type: image/gif; name=a.gif\r\nContent-ID: <one@x>\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nR0lGODlh\r\n"
        "--r\r\nContent-Type: image/gif; name=b.gif\r\nContent-ID: <two@x>\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nR0lGODdh\r\n--r--\r\n");
    const std::string dest = s.t.path("html");
    ASSERT_EQ(extractAttachments(s.t.env, text, dest, {}), Err::None);
    EXPECT_EQ(s.t.read("html\\tmp.html"), "<p><img src=\"a.gif\"><IMG SRC=\"b.gif\"></p>");
    EXPECT_EQ(s.t.read("html\\a.gif"), "GIF89a");
    EXPECT_EQ(s.t.read("html\\b.gif"), "GIF87a");
}

TEST(Extraction, PlainMessageAndMissingPartsAreRefused) {
    Stored s;
    const std::string plain = s.store("From: a@example.jp\r\n\r\nonly text\r\n");
    EXPECT_EQ(extractAttachments(s.t.env, plain, s.t.path("x"), {}), Err::NotFound);
    EXPECT_EQ(s.t.reporter.lastText(), kNothingToExtract);
    const std::string mixed = s.store(corpus("mixed_2231.eml"));
    const int parts[] = {0, 5};
    std::vector<std::string> saved;
    EXPECT_EQ(extractAttachments(s.t.env, mixed, s.t.path("y"), parts, &saved), Err::NotFound);
    EXPECT_EQ(s.t.reporter.lastText(), kNoSuchPart);
    EXPECT_EQ(saved.size(), 1u);  // the part named before the missing one was saved
}

TEST(Extraction, NamesFromTheSenderAreMadeSafe) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"report.pdf", "report.pdf"},
        {"..\\..\\Windows\\evil.exe", "evil.exe"},
        {"/etc/passwd", "passwd"},
        {"C:boot.ini", "boot.ini"},
        {"..", "attachment"},
        {"", "attachment"},
        {"CON.txt", "_CON.txt"},
        {"lpt1", "_lpt1"},
        {"a\x01"
         "b\tc.txt",
         "a_b_c.txt"},
        {"what?.txt", "what_.txt"},
        {"trailing. . ", "trailing"},
        // 0x5C as the trail byte of "表" is no separator.
        {"表.xls", "表.xls"},
        {"ソフト\\表.xls", "表.xls"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sanitiseName(c.in), c.out) << c.in;
    const std::string longName = std::string(300, 'n') + ".pdf";
    const std::string cut = sanitiseName(longName);
    EXPECT_LE(cut.size(), kNameMax);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".pdf");
}

TEST(Extraction, ForgedOrWrongOffsetsAreNotUsed) {
    Stored s;
    std::string text = s.store(corpus("mixed_2231.eml"));
    const auto good = listAttachments(text);
    ASSERT_EQ(good.size(), 2u);
    // Point the first attachment's line into the middle of a line (the length kept, so that the
    // other offsets stay right).
    const size_t at = text.find("X-PartInfo: application/octet-stream");
    const size_t semi = text.rfind("; ", text.find("\r\n", at));
    const size_t digits = text.find("\r\n", at) - semi - 2;
    const std::string moved = std::to_string(std::stoul(text.substr(semi + 2, digits)) + 1);
    ASSERT_EQ(moved.size(), digits);
    text.replace(semi + 2, digits, moved);
    const auto bad = listAttachments(text);
    EXPECT_EQ(bad.size(), 1u);
}

}  // namespace
}  // namespace kolvy::store
