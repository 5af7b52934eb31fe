// Attachment extraction from messages stored by message analysis: the saved files must equal the
// attachments Python's email package decodes from the same messages (testdata corpus).
#include "store/attachments.h"

#include <gtest/gtest.h>

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

// The corpora stay beside the modules they were made for.
std::string corpus(const std::string& name) {
    return test::readTestData("..\\..\\mime\\testdata\\corpus\\" + name);
}
std::string extractionFile(const std::string& name) {
    return test::readTestData("..\\..\\store\\testdata\\extraction\\" + name);
}

struct ReferencePart {
    bool html = false;
    std::string name;  // UTF-8, as Python reads it
    std::string bytes;
};

// The parts Python's email package decoded: [kind \x1f] name \x1f length \x1f bytes, repeated.
std::vector<ReferencePart> referenceParts(const std::string& list, bool kinds) {
    std::vector<ReferencePart> out;
    for (size_t p = 0; p < list.size();) {
        ReferencePart r;
        r.html = kinds && list[p] == 'H';
        const size_t a = kinds ? list.find('\x1f', p) + 1 : p;
        const size_t b = list.find('\x1f', a);
        const size_t c = list.find('\x1f', b + 1);
        if (c == std::string::npos) break;
        r.name = list.substr(a, b - a);
        r.bytes = list.substr(c + 1, std::stoul(list.substr(b + 1, c - b - 1)));
        p = c + 1 + r.bytes.size();
        out.push_back(std::move(r));
    }
    return out;
}

std::string baseName(const std::string& path) {
    return path.substr(path.find_last_of("\\/") + 1);
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
    for (const std::string name :
         {"mixed_2047", "mixed_2231", "nested", "digits_880", "digits_900"}) {
        SCOPED_TRACE(name);
        Stored s;
        const std::string text = s.store(corpus(name + ".eml"));
        const std::string dest = s.t.path("out");
        ASSERT_EQ(extractAttachments(s.t.env, text, dest, {}), Err::None)
            << s.t.reporter.lastText();
        for (const ReferencePart& want : referenceParts(corpus(name + ".attachments"), false)) {
            auto sjisName = platform::utf8ToSjis(want.name);
            ASSERT_TRUE(sjisName);
            auto got = platform::readWholeFile(*s.t.fs, sjis::joinPath(dest, *sjisName));
            ASSERT_TRUE(got) << want.name;
            EXPECT_EQ(*got, want.bytes) << want.name;
            ++compared;
        }
    }
    EXPECT_GE(compared, 6);
}

// Every part of a corpus of awkward messages, saved and compared byte for byte with what Python's
// email package decodes from it; names unique, within the file system's limit, extensions kept.
TEST(Extraction, AwkwardCorpusEqualsPythonByteForByte) {
    int compared = 0;
    for (const std::string name :
         {"signed", "certificate", "dashes", "duplicates", "cid", "longname"}) {
        SCOPED_TRACE(name);
        Stored s;
        const std::string text = s.store(extractionFile(name + ".eml"));
        const std::vector<ReferencePart> want =
            referenceParts(extractionFile(name + ".parts"), true);
        ASSERT_FALSE(want.empty());
        const std::string dest = s.t.path("out");
        std::vector<std::string> saved;
        EXPECT_EQ(extractAttachments(s.t.env, text, dest, {}, &saved), Err::None)
            << s.t.reporter.lastText();
        ASSERT_EQ(saved.size(), want.size());
        std::vector<std::string> names;
        for (size_t k = 0; k < want.size(); ++k) {
            const std::string saved_name = baseName(saved[k]);
            for (const std::string& other : names)
                EXPECT_FALSE(sjis::equalsNoCase(other, saved_name)) << saved_name;
            names.push_back(saved_name);
            EXPECT_LE(platform::fileNameUnits(saved_name), platform::kFileNameUnitsMax);
            if (!want[k].name.empty()) {
                const auto sjisName = platform::utf8ToSjis(want[k].name);
                ASSERT_TRUE(sjisName);
                const std::string ext = sjisName->substr(sjisName->rfind('.'));
                EXPECT_EQ(saved_name.substr(saved_name.size() - ext.size()), ext);
                // The same name, or its shortened or numbered form.
                const std::string stem = saved_name.substr(0, saved_name.find(" ("));
                const std::string head =
                    stem.substr(0, stem.size() - (stem == saved_name ? ext.size() : 0));
                EXPECT_EQ(sjisName->substr(0, head.size()), head) << saved_name;
            }
            auto got = platform::readWholeFile(*s.t.fs, saved[k]);
            ASSERT_TRUE(got) << saved_name;
            if (want[k].html) continue;  // its references are rewritten; checked below
            EXPECT_EQ(*got, want[k].bytes) << saved_name;
            ++compared;
        }
    }
    EXPECT_GE(compared, 17);
}

TEST(Extraction, ContentIdsMatchWholeAndUnnamedImagesToo) {
    Stored s;
    const std::string text = s.store(extractionFile("cid.eml"));
    const std::string dest = s.t.path("cid");
    ASSERT_EQ(extractAttachments(s.t.env, text, dest, {}), Err::None);
    EXPECT_EQ(s.t.read("cid\\tmp.html"),
              "<p><img src=\"ten.png\"><img src=\"one.png\"><img src=\"image_gif.txt\">"
              "<img src=\"nowhere\"> cid:text</p>");
}

TEST(Extraction, SameNamesInOneRunAndFilesOfTheUserAreKept) {
    Stored s;
    const std::string text = s.store(extractionFile("duplicates.eml"));
    s.t.write("user\\same.txt", "the user's own file");
    std::vector<std::string> saved;
    ASSERT_EQ(extractAttachments(s.t.env, text, s.t.path("user"), {}, &saved), Err::None);
    std::vector<std::string> names;
    for (const std::string& p : saved)
        names.push_back(baseName(p));
    const std::vector<std::string> want = {"same (2).txt",
                                           "same (3).txt",
                                           "application_octet-stream.txt",
                                           "application_octet-stream (2).txt",
                                           "tmp.html",
                                           "tmp (2).html"};
    EXPECT_EQ(names, want);
    EXPECT_EQ(s.t.read("user\\same.txt"), "the user's own file");
    // Extracted again: nothing is overwritten, every part gets the next free name.
    saved.clear();
    ASSERT_EQ(extractAttachments(s.t.env, text, s.t.path("user"), {}, &saved), Err::None);
    ASSERT_EQ(saved.size(), 6u);
    EXPECT_EQ(baseName(saved[0]), "same (4).txt");
    EXPECT_EQ(s.t.read("user\\same (2).txt"), "first same\r\n");
    // The program's scratch folder is written over.
    s.t.write("_Tmp\\same.txt", "old");
    saved.clear();
    ASSERT_EQ(extractAttachments(s.t.env, text, s.t.path("_Tmp"), {}, &saved), Err::None);
    EXPECT_EQ(baseName(saved[0]), "same.txt");
    EXPECT_EQ(s.t.read("_Tmp\\same.txt"), "first same\r\n");
}

TEST(Extraction, APartThatCannotBeWrittenDoesNotStopTheOthers) {
    Stored s;
    const std::string text = s.store(extractionFile("duplicates.eml"));
    // In the scratch folder names are written over, so a folder of the first part's name is in
    // the way of that part alone.
    s.t.write("_Tmp\\same.txt\\inside", "x");
    std::vector<std::string> saved;
    EXPECT_NE(extractAttachments(s.t.env, text, s.t.path("_Tmp"), {}, &saved), Err::None);
    EXPECT_EQ(s.t.reporter.lastText(), kWriteFailed);
    ASSERT_EQ(saved.size(), 5u);
    EXPECT_EQ(baseName(saved[0]), "same (2).txt");
    EXPECT_EQ(s.t.read("_Tmp\\same (2).txt"), "second same\r\n");
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

// Only the last component is kept; 0x5C as the trail byte of "表" is no separator.
TEST(Extraction, NamesFromTheSenderAreMadeSafe) {
    struct Case {
        const char *in, *out;
    } cases[] = {// clang-format off
        {"report.pdf", "report.pdf"}, {"..\\..\\Windows\\evil.exe", "evil.exe"},
        {"/etc/passwd", "passwd"}, {"C:boot.ini", "boot.ini"}, {"..", "attachment"},
        {"", "attachment"}, {"CON.txt", "_CON.txt"}, {"lpt1", "_lpt1"},
        {"a\x01" "b\tc.txt", "a_b_c.txt"}, {"what?.txt", "what_.txt"}, {"trailing. . ", "trailing"},
        {"表.xls", "表.xls"}, {"ソフト\\表.xls", "表.xls"}};
    // clang-format on
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
