// The corpus made by Python's email package (testdata/corpus/generate.py): every message is
// filed through message analysis into one program folder, its decoded text parts must equal what
// Python decodes, its part lines must point at its parts, and a rebuild of the tab must agree with
// the records analysis wrote.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "mime/analyze.h"
#include "mime/stored_header.h"
#include "platform/fileutil.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "tests/support/test_env.h"

namespace kolvy::mime {
namespace {

std::string readCorpus(const std::string& name) {
    return test::readFile(std::string(KOLVY_MIME_TESTDATA) + "/corpus/" + name);
}

std::vector<std::string> corpusNames() {
    // The names, read from the generator's own list of files beside it.
    std::vector<std::string> names;
    const std::string listing = readCorpus("MANIFEST");
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) names.push_back(line);
    }
    return names;
}

// Line ends as LF, no trailing line breaks.
std::string normal(std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

TEST(Corpus, DecodedTextEqualsPythonsAndEveryMessageIsStored) {
    const std::vector<std::string> names = corpusNames();
    ASSERT_GE(names.size(), 15u);
    test::TestEnv t;
    store::TabRegistry tabs;
    ASSERT_TRUE(tabs.load(t.env));
    AnalyzeContext ctx(t.env, tabs);
    Tab& tab = *tabs.basicTab(store::kReceiveTab);
    int number = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string raw = readCorpus(name + ".eml");
        ASSERT_FALSE(raw.empty());
        const std::string text = "\n" + raw + ".\r\n";
        const Analysis a = analyzeText(text, "2612071030");
        const bool partial = name.rfind("partial_", 0) == 0;
        EXPECT_EQ(a.partial, partial);
        if (!partial) {
            std::string joined;
            for (size_t k = 0; k < a.segments.size(); ++k) {
                std::string s =
                    a.output.substr(a.segments[k].start, a.segments[k].end - a.segments[k].start);
                // A single text body runs on to the terminator the receive path appended.
                if (k + 1 == a.segments.size() && s.size() >= 3 &&
                    s.compare(s.size() - 3, 3, ".\r\n") == 0 && a.parts.empty()) {
                    s.resize(s.size() - 3);
                }
                auto utf8 = platform::sjisToUtf8(s);
                ASSERT_TRUE(utf8);
                if (k) joined += "\x1e\n";
                joined += normal(*utf8);
            }
            std::string expected;
            const std::string e = readCorpus(name + ".expected");
            size_t p = 0;
            for (size_t q; (q = e.find("\x1e\n", p)) != std::string::npos; p = q + 2)
                expected += normal(e.substr(p, q - p)) + "\x1e\n";
            expected += normal(e.substr(p));
            EXPECT_EQ(joined, expected);
        } else {
            // A piece is stored as it came.
            EXPECT_NE(a.output.find(raw.substr(raw.find("\r\n\r\n"))), std::string::npos);
        }

        ServerEntry entry{};
        entry.size = static_cast<uint32_t>(raw.size());
        const AnalyzeOutcome o = mailAnalyze(ctx, text, entry);
        ASSERT_EQ(o.kind, AnalyzeOutcome::Stored);
        ASSERT_EQ(o.fileNo, number++);
        const std::string file =
            *platform::readWholeFile(*t.fs, store::messagePath(t.env, tab, o.fileNo));
        // Its part lines as the stored header reader counts them, each pointing at a part.
        HeaderInfo h{};
        readStoredHeader(std::string_view(file).substr(store::kStatusLineSize - 1), h);
        EXPECT_EQ(h.partCount, a.partLineCount);
        size_t pos = 0;
        for (int k = 0; k < a.partLineCount; ++k) {
            pos = file.find("\r\nX-PartInfo: ", pos);
            ASSERT_NE(pos, std::string::npos);
            const size_t end = file.find("\r\n", pos + 2);
            const size_t semi = file.rfind("; ", end);
            const size_t offset = std::stoul(file.substr(semi + 2, end - semi - 2));
            ASSERT_LT(offset, file.size());
            EXPECT_EQ(file.compare(offset - 2, 2, "\r\n"), 0);
            const size_t lineStart = file.rfind('\n', offset - 3);
            EXPECT_EQ(file.compare(lineStart + 1, 2, "--"), 0) << k;
            pos = end;
        }
        if (name == "missing_close") {
            EXPECT_EQ(a.partLineCount, 0);
        }
        if (name.rfind("digits_", 0) == 0) {
            EXPECT_EQ(a.partLineCount, 2);
        }
    }
}

}  // namespace
}  // namespace kolvy::mime
