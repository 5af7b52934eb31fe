// The stored header reader over stored texts: which fields it finds, where they point, and that
// it never reads past the text it was given.
#include "mime/stored_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/header.h"

namespace kolvy::mime {
namespace {

std::string v(const char* s, const char* e) {
    return HeadCopy::view(s, e).empty() ? std::string("<none>") : std::string(HeadCopy::view(s, e));
}

struct Read {
    explicit Read(std::string t) : text(std::move(t)) { stop = readStoredHeader(text, h); }
    std::string text;
    HeaderInfo h{};
    size_t stop = 0;
};

TEST(StoredHeader, FindsTheFieldsAndStopsAtTheEmptyLine) {
    Read r(
        "\nFrom: \"山田 太郎\" <taro@example.jp>\r\nTo: Hanako <hanako@example.jp>\r\n"
        "Subject: 件名の\r\n 続き\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
        "x-mailer: Mailer 1.0\r\nMessage-ID: <id@example.jp>\r\nCc: c1@example.jp,\r\n"
        " c2@example.jp\r\nDelivered-To: me@example.jp\r\nReply-To: r@example.jp\r\n"
        "Return-Path: <rp@example.jp>\r\nX-ML-Name: list\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\nX-Other: keep\tme\r\n"
        "X-PartInfo: text/plain; 300\r\nX-PartInfo: image/png; name=a.png; 400\r\n"
        "\r\nFrom: body@example.jp\r\n");
    EXPECT_EQ(v(r.h.fromNameStart, r.h.fromNameEnd), "山田 太郎");
    EXPECT_EQ(v(r.h.fromAddressStart, r.h.fromAddressEnd), "taro@example.jp");
    EXPECT_EQ(v(r.h.toNameStart, r.h.toNameEnd), "Hanako");
    EXPECT_EQ(v(r.h.toAddressStart, r.h.toAddressEnd), "hanako@example.jp");
    EXPECT_EQ(std::string(r.h.subject), "件名の続き");
    EXPECT_EQ(r.h.date, 1796605200u);
    EXPECT_EQ(v(r.h.mailerStart, r.h.mailerEnd), "Mailer 1.0");
    EXPECT_EQ(v(r.h.messageIdStart, r.h.messageIdEnd), "<id@example.jp>");
    EXPECT_EQ(v(r.h.ccStart, r.h.ccEnd), "c1@example.jp,\r\n c2@example.jp");
    EXPECT_EQ(v(r.h.deliveredToStart, r.h.deliveredToEnd), "me@example.jp");
    EXPECT_EQ(v(r.h.replyToStart, r.h.replyToEnd), "r@example.jp");
    EXPECT_EQ(v(r.h.returnPathStart, r.h.returnPathEnd), "<rp@example.jp>");
    EXPECT_EQ(v(r.h.mlNameStart, r.h.mlNameEnd), "list");
    EXPECT_EQ(v(r.h.contentTypeStart, r.h.contentTypeEnd), "multipart/mixed");
    EXPECT_EQ(v(r.h.param1Start, r.h.param1End), "boundary=\"b\"");
    EXPECT_EQ(r.h.partCount, 2);
    EXPECT_EQ(std::string(r.h.otherHeaders),
              "X-Other: keepmeX-PartInfo: text/plain; 300X-PartInfo: image/png; name=a.png; 400");
    EXPECT_EQ(r.text.substr(r.stop, 4), "\r\n\r\n");
    EXPECT_EQ(r.text.find("From: body"), r.stop + 4);
}

TEST(StoredHeader, ResentAddressesFillTheExtraPairsInEitherOrder) {
    for (const char* text :
         {"\nFrom: a@example.jp\r\nResent-From: rf@example.jp\r\nTo: t@example.jp\r\n"
          "Resent-To: rt@example.jp\r\nResent-From: later@example.jp\r\n\r\n",
          "\nResent-To: <rt@example.jp>\r\nResent-From: Someone <rf@example.jp>\r\n"
          "To: t@example.jp\r\nFrom: a@example.jp\r\n\r\n"}) {
        Read r(text);
        EXPECT_EQ(v(r.h.fromAddressStart, r.h.fromAddressEnd), "a@example.jp");
        EXPECT_EQ(v(r.h.toAddressStart, r.h.toAddressEnd), "t@example.jp");
        EXPECT_EQ(v(r.h.resentFromStart, r.h.resentFromEnd), "rf@example.jp");
        EXPECT_EQ(v(r.h.resentToStart, r.h.resentToEnd), "rt@example.jp");
    }
}

TEST(StoredHeader, PartLinesCountOnlyWithCapitalPAndI) {
    struct Case {
        const char* line;
        int count;
    };
    const Case cases[] = {{"X-PartInfo: a; 1", 1}, {"x-partinfo: a; 1", 0},
                          {"X-Partinfo: a; 1", 0}, {"X-pARTiNFO: a; 1", 0},
                          {"x-PARTINFO: a; 1", 1}, {"X-PartInfoo: a; 1", 0},
                          {"X-PartInf: a; 1", 0}};
    for (const Case& c : cases) {
        Read r(std::string("\n") + c.line + "\r\n\r\n");
        EXPECT_EQ(r.h.partCount, c.count) << c.line;
    }
}

TEST(StoredHeader, ContentTypeKeepsTwoParametersAndTheName) {
    Read r(
        "\nContent-Type: text/plain; charset=iso-2022-jp; format=flowed; delsp=yes\r\n"
        "Content-Transfer-Encoding: 7bit\r\n\r\n");
    EXPECT_EQ(v(r.h.contentTypeStart, r.h.contentTypeEnd), "text/plain");
    EXPECT_EQ(v(r.h.param1Start, r.h.param1End), "charset=iso-2022-jp");
    EXPECT_EQ(v(r.h.param2Start, r.h.param2End), "format=flowed; delsp=yes");
    EXPECT_EQ(v(r.h.param3Start, r.h.param3End), "<none>");
    EXPECT_EQ(v(r.h.transferEncodingStart, r.h.transferEncodingEnd), "7bit");
    Read n("\nContent-Type: application/pdf;\r\n name=\"報告書.pdf\"\r\n\r\n");
    EXPECT_EQ(v(n.h.nameStart, n.h.nameEnd), "報告書.pdf");
    Read d("\nContent-Disposition: attachment; filename=\"表.xls\"\r\n\r\n");
    EXPECT_EQ(v(d.h.nameStart, d.h.nameEnd), "表.xls");
    Read x("\nContent-Disposition: form-data; filename=\"x\"\r\n\r\n");
    EXPECT_EQ(v(x.h.nameStart, x.h.nameEnd), "<none>");
}

TEST(StoredHeader, EveryCutOfTheTextStaysInsideIt) {
    const std::string full =
        "\nFrom: \"Taro\" <taro@example.jp>\r\nTo: t@example.jp (T)\r\nSubject: a\r\n b\r\n"
        "Content-Type: text/plain; name=\"x\"\r\nContent-Disposition: attachment; "
        "filename=\"y\"\r\n"
        "Received: from a\r\n by b\r\n\r\nbody";
    for (size_t n = 0; n <= full.size(); ++n) {
        // The text alone, in a buffer of its own, so that the sanitizer sees any read beyond.
        std::vector<char> buf(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        HeaderInfo h{};
        const size_t stop = readStoredHeader(std::string_view(buf.data(), n), h);
        ASSERT_LE(stop, n);
        for (char* p : {h.fromNameEnd, h.fromAddressEnd, h.toAddressEnd, h.toNameEnd, h.nameEnd,
                        h.contentTypeEnd}) {
            if (p) {
                EXPECT_LE(p, buf.data() + n) << n;
            }
        }
    }
}

}  // namespace
}  // namespace kolvy::mime
