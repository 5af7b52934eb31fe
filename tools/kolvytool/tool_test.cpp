// kolvytool on a real program folder, run in-process with the arguments a terminal would give.
#include "tools/kolvytool/tool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/sjis.h"
#include "platform/fileutil.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool_test_util.h"

namespace kolvy::tool {
namespace {

using test::ToolRun;

struct ToolFolder {
    ToolFolder() : fs(platform::makeFileSystem()) {}
    std::string home() const { return temp / "home"; }
    ToolRun run(std::vector<std::string> args) { return test::runTool(std::move(args)); }
    // Arguments as the terminal spells them: a text, the program folder, a file of the test.
    std::string arg(std::string_view sjis) const { return toTerminal(sjis); }
    std::string h() const { return arg(home()); }
    std::string file(std::string_view name) const { return arg(temp / name); }
    void write(const std::string& name, std::string_view data) {
        ASSERT_EQ(platform::writeWholeFile(*fs, temp / name, data), Err::None);
    }
    std::string read(std::string_view rel) {
        auto d = platform::readWholeFile(*fs, sjis::joinPath(home(), rel));
        return d ? *d : "<missing>";
    }
    test::TempFolder temp;
    std::unique_ptr<platform::FileSystem> fs;
};

constexpr char kEml[] =
    "From: Taro <taro@example.jp>\nTo: me@example.jp\nSubject: =?ISO-2022-JP?B?GyRCNEEbKEI=?=\n"
    "Date: Mon, 07 Dec 2026 10:00:00 +0900\n\nhello\n";
constexpr char kMbox[] =
    "From taro@example.jp Mon Dec  7 10:00:00 2026\nFrom: a@example.jp\nSubject: one\n\n"
    ">From the start\nbody one\n\n"
    "From hanako@example.jp Mon Dec  7 10:01:00 2026\nFrom: b@example.jp\nSubject: two\n\n"
    "body two\n";

// While another writer (the program, or a second kolvytool) holds the folder, a command that
// writes waits, then refuses naming the folder; readers go on; afterwards writing works again.
TEST(KolvyTool, OneWriterPerProgramFolder) {
    ToolFolder f;
    f.write("a.eml", kEml);
    ASSERT_EQ(f.run({"import", f.h(), f.file("a.eml")}).code, 0);
    auto held = platform::lockFile(sjis::joinPath(f.home(), "Kolvy.lock"), 0);
    ASSERT_TRUE(held);
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {{"import", f.h(), f.file("a.eml")}, 1},
        {{"sort", f.h()}, 1},
        {{"check", f.h(), "--repair"}, 1},
        {{"list", f.h()}, 0},
        {{"check", f.h()}, 0},
    };
    for (const Case& c : cases) {
        const ToolRun r = f.run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[0] << ": " << r.err;
        if (c.code == 1) {
            EXPECT_NE(r.err.find(f.h()), std::string::npos) << r.err;
        }
    }
    EXPECT_EQ(f.read("MailData\\受信\\0001.txt"), "<missing>");  // nothing stored twice
    (*held).reset();                                             // the other writer ends
    const ToolRun after = f.run({"import", f.h(), f.file("a.eml")});
    EXPECT_EQ(after.code, 0) << after.err;
    EXPECT_NE(f.read("MailData\\受信\\0001.txt"), "<missing>");
}

TEST(KolvyTool, ImportListAndCheckAFreshProgramFolder) {
    ToolFolder f;
    f.write("a.eml", kEml);
    f.write("box.mbox", kMbox);
    const ToolRun imp = f.run({"import", f.h(), f.file("a.eml"), f.file("box.mbox")});
    EXPECT_EQ(imp.code, 0) << imp.err;
    EXPECT_EQ(imp.out, "stored 3, failed 0\n");
    // Stored as the receive path stores it: CR LF, the decoded subject, the mbox quoting undone.
    const std::string first = f.read("MailData\\受信\\0000.txt");
    EXPECT_NE(first.find("\r\nSubject: 漢\r\n"), std::string::npos) << first;
    const std::string second = f.read("MailData\\受信\\0001.txt");
    EXPECT_NE(second.find("\r\n\r\nFrom the start\r\nbody one\r\n.\r\n"), std::string::npos)
        << second;
    EXPECT_EQ(second.find("From taro"), std::string::npos);

    const ToolRun list = f.run({"--utf8", "list", f.h()});
    ASSERT_EQ(list.code, 2);  // the command comes first
    const ToolRun l = f.run({"list", f.h(), "--utf8"});
    EXPECT_EQ(l.code, 0) << l.err;
    const auto split = [](const std::string& text, char sep) {
        std::vector<std::string> v;
        for (size_t p = 0, e = 0; e != std::string::npos; p = e + 1) {
            e = text.find(sep, p);
            v.push_back(text.substr(p, e == std::string::npos ? e : e - p));
        }
        return v;
    };
    const std::vector<std::string> lines = split(l.out, '\n');
    ASSERT_EQ(lines.size(), 4u);  // the last one empty
    const std::vector<std::string> c = split(lines[0], '\t');
    ASSERT_EQ(c.size(), 14u);
    // Number, states, size, account (101: none in a fresh folder), sender, the subject in UTF-8.
    EXPECT_EQ((std::vector<std::string>{c[0], c[1], c[2], c[7], c[9], c[10], c[11], c[12]}),
              (std::vector<std::string>{"0000", "0", "0", std::to_string(std::string(kEml).size()),
                                        "101", "Taro", "taro@example.jp", "\xE6\xBC\xA2"}));
    // Without --utf8 the texts come as stored.
    const ToolRun raw = f.run({"list", f.h(), f.arg("受信")});
    EXPECT_NE(raw.out.find("\t漢\t"), std::string::npos);

    const ToolRun check = f.run({"check", f.h()});
    EXPECT_EQ(check.code, 0) << check.out << check.err;
    EXPECT_NE(check.out.find(f.arg("受信") + ": sound"), std::string::npos);
}

TEST(KolvyTool, CheckFindsDamageAndRepairRebuilds) {
    ToolFolder f;
    f.write("a.eml", kEml);
    ASSERT_EQ(f.run({"import", f.h(), f.file("a.eml"), f.file("a.eml")}).code, 0);
    const std::string index = sjis::joinPath(f.home(), "MailData\\受信\\mokuji.bin");
    std::string bytes = *platform::readWholeFile(*f.fs, index);
    // A record without its file, and a file the index does not know.
    ASSERT_EQ(f.fs->rename(sjis::joinPath(f.home(), "MailData\\受信\\0001.txt"),
                           sjis::joinPath(f.home(), "MailData\\受信\\0007.txt")),
              Err::None);
    ToolRun c = f.run({"check", f.h()});
    EXPECT_EQ(c.code, 1);
    EXPECT_NE(c.out.find("0007.txt is not in the index"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("record 0001 has no file"), std::string::npos) << c.out;
    c = f.run({"--repair", "check", f.h()});
    EXPECT_EQ(c.code, 2);
    c = f.run({"check", "--repair", f.h()});
    EXPECT_EQ(c.code, 0) << c.out;
    EXPECT_NE(c.out.find("rebuilt"), std::string::npos);
    c = f.run({"check", f.h()});
    EXPECT_EQ(c.code, 0) << c.out;
    // A damaged index.
    bytes = *platform::readWholeFile(*f.fs, index);
    bytes.resize(bytes.size() - 2);
    ASSERT_EQ(platform::writeWholeFile(*f.fs, index, bytes), Err::None);
    c = f.run({"check", f.h()});
    EXPECT_EQ(c.code, 1);
    EXPECT_NE(c.out.find("damaged"), std::string::npos);
    // Nothing was written over it by the check alone.
    EXPECT_EQ(*platform::readWholeFile(*f.fs, index), bytes);
}

// Presence is not enough: each record against its own file, the counters against the records,
// and what a crash leaves behind; the repair settles everything from the files.
TEST(KolvyTool, CheckComparesContentsAndRepairSettlesThemFromTheFiles) {
    ToolFolder f;
    f.write("box.mbox", kMbox);
    f.write("a.eml", kEml);
    ASSERT_EQ(f.run({"import", f.h(), f.file("box.mbox"), f.file("a.eml")}).code, 0);
    ASSERT_EQ(f.run({"check", f.h()}).code, 0);
    const std::string tab = sjis::joinPath(f.home(), "MailData\\受信");
    auto path = [&](const char* name) { return sjis::joinPath(tab, name); };
    // Two message files swapped: same states, other messages.
    const std::string m0 = f.read("MailData\\受信\\0000.txt");
    const std::string m2 = f.read("MailData\\受信\\0002.txt");
    ASSERT_EQ(platform::writeWholeFile(*f.fs, path("0000.txt"), m2), Err::None);
    ASSERT_EQ(platform::writeWholeFile(*f.fs, path("0002.txt"), m0), Err::None);
    // A status digit changed in the file only: marked and coloured 3.
    std::string m1 = f.read("MailData\\受信\\0001.txt");
    m1[9] = '1';
    m1[11] = '3';
    ASSERT_EQ(platform::writeWholeFile(*f.fs, path("0001.txt"), m1), Err::None);
    // A counter that went wrong, and a temporary file of a killed store.
    auto ini = platform::makeProfile(sjis::joinPath(f.home(), "Kolvy.ini"));
    ASSERT_EQ(ini->write("0", "AllMailCount", "7"), Err::None);
    ASSERT_EQ(platform::writeWholeFile(*f.fs, path("0003.tmp"), "\f st=0"), Err::None);

    ToolRun c = f.run({"check", f.h()});
    EXPECT_EQ(c.code, 1);
    for (const char* expected :
         {"record 0000: address or subject differ", "record 0002: address or subject differ",
          "record 0001: mark and colour 00 in the index, 13 in the file",
          "AllMailCount 7, the records say 3", "0003.tmp is a temporary file left by a crash"}) {
        EXPECT_NE(c.out.find(expected), std::string::npos) << expected << "\n" << c.out;
    }
    c = f.run({"check", f.h(), "--repair"});
    EXPECT_NE(c.out.find(f.arg("受信") + ": rebuilt"), std::string::npos) << c.out;
    c = f.run({"check", f.h()});
    EXPECT_EQ(c.code, 0) << c.out;
    EXPECT_FALSE(f.fs->exists(path("0003.tmp")));
    // The index now says what the files say.
    const ToolRun l = f.run({"list", f.h(), "--utf8"});
    EXPECT_NE(l.out.find("0000\t0\t0\t0\t0\t"), std::string::npos) << l.out;
    EXPECT_NE(l.out.find("0001\t0\t0\t1\t3\t"), std::string::npos) << l.out;
    EXPECT_EQ(f.read("MailData\\受信\\0000.txt"), m2);
}

TEST(KolvyTool, BadArgumentsUnknownTabsAndUnreadableFilesFail) {
    ToolFolder f;
    const std::string h = f.h();
    const struct {
        std::vector<std::string> args;
        int code;
        const char* err;  // what the error says, if anything
        const char* out;
    } cases[] = {
        {{}, 2, "", ""},
        {{"frobnicate", h}, 2, "", ""},
        {{"import", h}, 2, "", ""},
        {{"list", h, f.arg("無いタブ")}, 1, "no tab named", ""},
        {{"list", h, "--fast"}, 2, "", ""},
        {{"import", h, f.file("missing.eml")}, 1, "cannot read", "stored 0, failed 0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0] + " " + c.args.back());
        const ToolRun r = f.run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        if (*c.out) {
            EXPECT_EQ(r.out, c.out);
        }
    }
}

TEST(KolvyTool, ExtractSavesTheAttachments) {
    ToolFolder f;
    const std::string eml =
        "From: a@example.jp\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\ntext\r\n"
        "--b\r\nContent-Type: application/octet-stream; name=\"資料.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQ=\r\n--b--\r\n";
    f.write("m.eml", eml);
    ASSERT_EQ(f.run({"import", f.h(), f.file("m.eml")}).code, 0);
    const ToolRun r = f.run({"extract", f.h(), f.arg("受信"), "0", f.file("out")});
    EXPECT_EQ(r.code, 0) << r.err;
    auto saved = platform::readWholeFile(*f.fs, sjis::joinPath(f.temp / "out", "資料.bin"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved, std::string("\0\1\2\3\4", 5));
    EXPECT_EQ(f.run({"extract", f.h(), f.arg("受信"), "7", f.file("o2")}).code, 1);
    EXPECT_EQ(f.run({"extract", f.h(), f.arg("受信"), "x", f.file("o2")}).code, 2);
}

TEST(KolvyTool, MboxSplitting) {
    const auto m = splitMbox(kMbox);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0], "From: a@example.jp\nSubject: one\n\nFrom the start\nbody one\n");
    EXPECT_EQ(m[1], "From: b@example.jp\nSubject: two\n\nbody two\n");
    // A "From " line inside a body without a blank line before it is no separator.
    const auto n = splitMbox("From x\nSubject: a\n\nline\nFrom here on\n");
    ASSERT_EQ(n.size(), 1u);
    EXPECT_EQ(n[0], "Subject: a\n\nline\nFrom here on\n");
}

}  // namespace
}  // namespace kolvy::tool
