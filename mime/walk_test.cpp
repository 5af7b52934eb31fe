// The body walk on hostile and broken multiparts: the part cap, and parts that end at the boundary
// of a multipart around them.
#include "mime/walk.h"

#include <gtest/gtest.h>

#include <string>

#include "mime/analyze.h"

namespace kolvy::mime {
namespace {

std::string message(const std::string& body) {
    return "\nFrom: a@example.jp\r\nSubject: parts\r\n"
           "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n" +
           body + ".\r\n";
}

TEST(BodyWalk, PartCapKeepsTheRestAsItCameAndTheWalkedPartsTheirLines) {
    const size_t total = kMaxParts + 300;
    std::string body;
    for (size_t k = 0; k < total; ++k)
        body += "--b\r\nContent-Type: text/plain\r\n\r\n\x1B$B$\"\x1B(B part " + std::to_string(k) +
                "\r\n";
    body += "--b--\r\n";
    const std::string text = message(body);
    const Analysis a = analyzeText(text, "2612071030");
    ASSERT_EQ(a.parts.size(), kMaxParts);
    EXPECT_EQ(a.partLineCount, static_cast<int>(kMaxParts));
    EXPECT_FALSE(a.multipartOpen);
    // The walked parts are decoded; from the first part past the cap on, the text is the
    // source's, byte for byte, terminator included.
    EXPECT_NE(a.output.find("\x82\xA0 part 0\r\n"), std::string::npos);
    const std::string last = "\x82\xA0 part " + std::to_string(kMaxParts - 1) + "\r\n";
    EXPECT_NE(a.output.find(last), std::string::npos);
    const std::string firstRaw =
        "\r\n--b\r\nContent-Type: text/plain\r\n\r\n\x1B$B$\"\x1B(B part " +
        std::to_string(kMaxParts) + "\r\n";
    const size_t inSource = text.find(firstRaw);
    const size_t inOutput = a.output.find(firstRaw);
    ASSERT_NE(inSource, std::string::npos);
    ASSERT_NE(inOutput, std::string::npos);
    EXPECT_EQ(a.output.substr(inOutput), text.substr(inSource));
    // Each part line points at its part's headers in the stored file.
    const std::string file = a.fileText();
    const size_t shift = a.partLines.size();
    for (size_t k : {size_t{0}, kMaxParts / 2, kMaxParts - 1}) {
        const size_t off = a.parts[k].offset + shift;
        EXPECT_EQ(file.compare(off, 26, "Content-Type: text/plain\r\n"), 0) << k;
        EXPECT_EQ(file.compare(off - 5, 5, "--b\r\n"), 0) << k;
    }
}

TEST(BodyWalk, PartOfAnUnclosedInnerMultipartEndsAtTheOuterBoundary) {
    // The inner multipart never closes: its text part ends at the outer boundary line, and the
    // outer multipart's next part is walked as a part of its own.
    const std::string text = message(
        "--b\r\nContent-Type: multipart/alternative; boundary=\"in\"\r\n\r\n"
        "--in\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\n\x1B$BF|\x1B(B\r\n"
        "--b\r\nContent-Type: image/png; name=\"a.png\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n--b--\r\n");
    const Analysis a = analyzeText(text, "2612071030");
    ASSERT_EQ(a.parts.size(), 2u);
    EXPECT_EQ(a.parts[1].info, "X-PartInfo: image/png; name=a.png; ");
    EXPECT_NE(a.output.find("\x93\xFA\r\n--b\r\nContent-Type: image/png"), std::string::npos);
    EXPECT_FALSE(a.asciiOnly);
    EXPECT_FALSE(a.multipartOpen);
}

TEST(BodyWalk, DecodersGetOnlyTheirPartsText) {
    // A soft line break and a lone kanji byte right before a boundary line: the boundary line
    // stays whole and the next part is walked.
    const std::string text = message(
        "--b\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "abc=\r\n--b\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\n\x1B$BF\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\nlast\r\n--b--\r\n");
    const Analysis a = analyzeText(text, "2612071030");
    ASSERT_EQ(a.parts.size(), 3u);
    EXPECT_NE(a.output.find("abc=\r\n\n--b\r\n"), std::string::npos) << a.output;
    EXPECT_NE(a.output.find("\x81\xAC\r\n--b\r\n"), std::string::npos);
    EXPECT_NE(a.output.find("\r\n\r\nlast\r\n--b--\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kolvy::mime
