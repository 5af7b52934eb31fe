// Header extraction and dates.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/timetext.h"
#include "mime/decode.h"
#include "mime/header.h"

namespace kolvy::mime {
namespace {

std::string_view range(const char* start, const char* end) {
    return HeadCopy::view(start, end);
}

constexpr char kMessage[] =
    "Received: from a.example by b.example;\r\n"
    "\tTue, 5 Dec 2000 12:34:56 +0900\r\n"
    "Return-Path: <taro@example.jp>\r\n"
    "Delivered-To: hanako@example.jp\r\n"
    "Message-ID: <1@example.jp>\r\n"
    "From: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= <taro@example.jp>\r\n"
    "To: hanako@example.jp, jiro@example.jp\r\n"
    "Cc: =?utf-8?B?5pel5pys6Kqe?= <c@example.jp>\r\n"
    "Reply-To: r@example.jp\r\n"
    "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
    " =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
    "\tend\r\n"
    "Date: Tue, 5 Dec 2000 12:34:56 +0900\r\n"
    "X-Mailer: =?utf-8?Q?Mailer_=E6=97=A5?=\r\n"
    "X-ML-Name: list\r\n"
    "X-PartInfo: text/plain; 123\r\n"
    "X-Other: kept\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=\"iso-2022-jp\"; format=flowed; delsp=yes\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "\r\n"
    "body\r\n.\r\n";

TEST(GetHead, FillsTheRecordFromAMessage) {
    std::string msg = kMessage;
    const HeadCopy h = extractHead(msg);
    const HeaderInfo& i = h.info;
    EXPECT_EQ(range(i.fromNameStart, i.fromNameEnd), "日本語");
    EXPECT_EQ(range(i.fromAddressStart, i.fromAddressEnd), "taro@example.jp");
    EXPECT_EQ(range(i.toAddressStart, i.toAddressEnd), "hanako@example.jp");
    EXPECT_EQ(range(i.ccStart, i.ccEnd), "日本語 <c@example.jp>");
    EXPECT_EQ(range(i.replyToStart, i.replyToEnd), "r@example.jp");
    EXPECT_EQ(range(i.deliveredToStart, i.deliveredToEnd), "hanako@example.jp");
    EXPECT_EQ(range(i.returnPathStart, i.returnPathEnd), "<taro@example.jp>");
    EXPECT_EQ(range(i.messageIdStart, i.messageIdEnd), "<1@example.jp>");
    EXPECT_EQ(range(i.mailerStart, i.mailerEnd), "Mailer 日");
    EXPECT_EQ(range(i.mlNameStart, i.mlNameEnd), "list");
    EXPECT_STREQ(i.subject, "日本語日本語end");
    EXPECT_STREQ(i.received, "from a.example by b.example;\r\n\tTue, 5 Dec 2000 12:34:56 +0900");
    EXPECT_EQ(i.date, 975987296u);
    EXPECT_EQ(range(i.contentTypeStart, i.contentTypeEnd), "text/plain");
    EXPECT_EQ(range(i.param1Start, i.param1End), "charset=\"iso-2022-jp\"");
    EXPECT_EQ(range(i.param2Start, i.param2End), "format=flowed");
    EXPECT_EQ(range(i.param3Start, i.param3End), "delsp=yes");
    EXPECT_EQ(range(i.transferEncodingStart, i.transferEncodingEnd), "7bit");
    EXPECT_STREQ(i.otherHeaders, "X-Other: keptMIME-Version: 1.0");
    EXPECT_EQ(i.partCount, 0);
    EXPECT_EQ(i.boundaryStart, nullptr);
    // The copy: decoded headers, no X-PartInfo line, ending where the blank line begins.
    const std::string_view copy = h.text();
    EXPECT_EQ(copy.substr(0, 10), "\nReceived:");
    EXPECT_NE(copy.find("From: 日本語 <taro@example.jp>\r\n"), std::string_view::npos);
    EXPECT_EQ(copy.find("X-PartInfo"), std::string_view::npos);
    EXPECT_NE(copy.find("X-ML-Name: list\r\nX-Other: kept\r\n"), std::string_view::npos);
    EXPECT_TRUE(copy.ends_with("Transfer-Encoding: 7bit"));
    EXPECT_EQ(msg.substr(h.ends.sourceEnd, 10), "\r\n\r\nbody\r\n");
}

TEST(GetHead, FileNames) {
    struct C {
        const char* name;
        std::string headers, file;
    } cases[] = {
        {"Content-Type name, encoded word",
         "Content-Type: application/octet-stream;\r\n "
         "name=\"=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=.txt\"",
         "日本.txt"},
        {"RFC 2231 sections in ISO-2022-JP",
         "Content-Disposition: attachment;\r\n filename*0*=iso-2022-jp''%1B%24BF%7C;\r\n"
         " filename*1*=K%5C%1B%28B.txt",
         "日本.txt"},
        {"RFC 2231 UTF-8 is converted",
         "Content-Disposition: attachment; filename*=UTF-8''%E6%97%A5%E6%9C%AC.pdf", "日本.pdf"},
        {"RFC 2231 EUC-JP is converted",
         "Content-Disposition: attachment; filename*=x-EUC-JP''%C6%FC%CB%DC.txt", "日本.txt"},
        {"RFC 2231 Shift_JIS alias is taken as it is",
         "Content-Disposition: attachment; filename*=Windows-31J'ja'%93%FA%96%7B.txt", "日本.txt"},
        {"encoded word with a Shift_JIS alias",
         "Content-Type: application/pdf; name=\"=?CP932?B?k/qWew==?=.pdf\"", "日本.pdf"},
        {"encoded word in EUC-JP",
         "Content-Type: application/pdf; name=\"=?EUC-JP?Q?=C6=FC=CB=DC?=\"", "日本"},
        {"filename is preferred over an earlier parameter",
         "Content-Disposition: attachment; size=1234; filename=\"report.pdf\"", "report.pdf"},
        {"without filename the first parameter", "Content-Disposition: inline; x=\"y.txt\"",
         "y.txt"},
        {"a later Content-Disposition wins",
         "Content-Type: text/plain; name=a.txt\r\nContent-Disposition: attachment; filename=b.txt",
         "b.txt"},
        {"decoded line breaks become blanks", "Content-Type: text/plain; name*=utf-8''a%0D%0Ab.txt",
         "a  b.txt"},
    };
    for (const C& c : cases) {
        SCOPED_TRACE(c.name);
        std::string msg = c.headers + "\r\n\r\nbody";
        const HeadCopy h = extractHead(msg);
        EXPECT_EQ(range(h.info.nameStart, h.info.nameEnd), c.file);
    }
    std::string other = "Content-Disposition: form-data; name=\"x\"\r\n\r\n";
    EXPECT_EQ(extractHead(other).info.nameStart, nullptr);
}

TEST(GetHead, PartInfoLinesAreDroppedWherheverTheyStand) {
    const char* cases[] = {
        "X-PartInfo: a; 1\r\nFrom: f@x\r\n\r\nb",
        "From: f@x\r\nX-PartInfo: a; 1\r\n\r\nb",
        "From: f@x\r\nX-PartInfo: a; 1\r\nTo: t@x\r\n\r\nb",
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        std::string msg = c;
        const HeadCopy h = extractHead(msg);
        std::string expect = "\n" + std::string(c);
        const size_t a = expect.find("X-PartInfo"), e = expect.find("\r\n", a) + 2;
        expect.erase(a, e - a);
        expect.resize(expect.find("\r\n\r\n"));
        EXPECT_EQ(h.text(), expect);
        EXPECT_EQ(range(h.info.fromAddressStart, h.info.fromAddressEnd), "f@x");
        EXPECT_EQ(msg.substr(h.ends.sourceEnd, 5), "\r\n\r\nb");
    }
}

TEST(GetHead, HeaderBlockWithoutEndIsRepaired) {
    // Ending in the POP3 terminator: a blank line is put in front of it.
    std::string a = "From: f@x\r\nSubject: s\r\n.\r\n";
    const HeadCopy ha = extractHead(a);
    EXPECT_EQ(a, "From: f@x\r\nSubject: s\r\n\r\n.\r\n");
    EXPECT_EQ(a.substr(ha.ends.sourceEnd), "\r\n\r\n.\r\n");
    EXPECT_EQ(ha.text(), "\nFrom: f@x\r\nSubject: s");
    EXPECT_STREQ(ha.info.subject, "s");
    // Ending anywhere else: the blank line and the terminator are appended.
    std::string b = "From: f@x\r\nSubject: no end";
    const HeadCopy hb = extractHead(b);
    EXPECT_EQ(b, "From: f@x\r\nSubject: no end\r\n\r\n.\r\n");
    EXPECT_EQ(b.substr(hb.ends.sourceEnd), "\r\n\r\n.\r\n");
    std::string c = "From: f@x\r\n";
    const HeadCopy hc = extractHead(c);
    EXPECT_EQ(c.substr(hc.ends.sourceEnd), "\r\n\r\n.\r\n");
    EXPECT_EQ(hc.text(), "\nFrom: f@x");
}

TEST(GetHead, FixedFieldsStayInTheirLimits) {
    std::string msg;
    for (int i = 0; i < 12; ++i)
        msg += "Received: " + std::string(300, static_cast<char>('a' + i)) + "\r\n";
    msg += "Subject: " + std::string(600, 'x') + "\r\n";
    for (int i = 0; i < 60; ++i)
        msg += "X-Long: 表表表表表表表表表表表\r\n";  // double-byte with a 0x5C second byte
    msg += "\r\n";
    const HeadCopy h = extractHead(msg);
    EXPECT_EQ(std::string(h.info.received).size(), kReceivedMax);
    EXPECT_EQ(h.info.received[0], 'a');
    EXPECT_EQ(std::string(h.info.subject), std::string(kSubjectMax, 'x'));
    const std::string other = h.info.otherHeaders;
    EXPECT_LE(other.size(), kOtherHeadersMax);
    EXPECT_GT(other.size(), kOtherHeadersMax - 24);
    EXPECT_EQ(other.find("Received"), 0u);  // the 11th and 12th are other headers
    // Never a lone first byte at the end.
    size_t k = 0;
    while (k < other.size())
        k += (static_cast<unsigned char>(other[k]) == 0x95) ? 2 : 1;
    EXPECT_EQ(k, other.size());
}

// Every cut of a message, in exactly sized buffers: names tested at fixed positions never read
// past the line or the buffer, and the ends always lie inside.
TEST(GetHead, EveryPrefixOfAMessageIsSafe) {
    const std::string text = std::string("\n") + kMessage;
    for (size_t n = 1; n <= text.size(); ++n) {
        std::vector<char> src(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
        src.resize(n + kHeadRepairRoom, '\0');
        std::vector<char> copy(headerCopyMax(n));
        HeaderInfo info{};
        const HeadResult r = getHead(src, n, copy, info);
        ASSERT_LE(r.sourceEnd, n + kHeadRepairRoom) << n;
        ASSERT_LT(r.copyEnd, copy.size()) << n;
        EXPECT_EQ(copy[r.copyEnd], '\0');
        if (info.nameStart) {
            EXPECT_LE(info.nameEnd, copy.data() + r.copyEnd);
        }
        // A cut inside a header name: the whole header block is the text and is repaired.
        if (n < text.size() - 10) {
            EXPECT_EQ(std::string(src.data() + r.sourceEnd, 4), "\r\n\r\n") << n;
        }
    }
}

TEST(GetHead, CursorForm) {
    char src[64] = "\nSubject: hi\r\n\r\nbody";
    char dst[128];
    HeaderInfo info{};
    DecodeCursor c{src, dst, nullptr, nullptr};
    GetHead(&c, &info);
    EXPECT_EQ(c.sourceEnd, src + 12);
    EXPECT_EQ(c.destinationEnd, dst + 12);
    EXPECT_STREQ(info.subject, "hi");
}

TEST(MakeGmt, DatesAsTheProgramReadsThem) {
    struct C {
        const char* text;
        std::optional<uint32_t> seconds;
    } cases[] = {
        {"Tue, 5 Dec 2000 12:34:56 +0900", 975987296u},
        {"Tue, 5 Dec 2000 12:34:56 -0500", 975987296u},  // the zone is not read
        {"5 Dec 00 12:34:56 +0900", 975987296u},
        {"Tue, 5 Dec 2000 12:34:56", std::nullopt},  // no zone: not converted
        {"Tue, 5 Dec 2000 12:34:56\r\n +0900", std::nullopt},
        {"5 Dec 99 12:34:56 +0900", 944364896u},   // 1999
        {"1 Jan 49 09:00:00 +0900", 2493072000u},  // 2049
        {"1 Jan 1970 09:00:00 +0900", 0u},
        {"2 Jan 1970 00:00:00 +0900", 54000u},
        {"1 Mar 1971 09:00:00 +0900", 36633600u},
        {"29 Feb 2000 09:00:00 +0900", 951782400u},
        {"1 Mar 2100 09:00:00 +0900", 4107542400u},  // 2100 is no leap year
        {"31 Dec 1969 23:00:00 +0900", 0u},          // before 1970
        {"1 Jan 2106 09:00:00 +0900", 0u},           // beyond 2105
        {"1 Jan 2105 09:00:00 +0900", 4260211200u},
        {"0 Jan 2000 09:00:00 +0900", std::nullopt},
        {"1 Xyz 2000 09:00:00 +0900", std::nullopt},
        {"", std::nullopt},
        {"Mon", std::nullopt},
        {"99999999 Jan 2000 1:2:3 +0900", std::nullopt},
    };
    for (const C& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(makeGmt(c.text), c.seconds);
    }
    uint32_t field = 7;
    MakeGMT("no date", &field);
    EXPECT_EQ(field, 7u);  // nothing written on failure
    MakeGMT("Tue, 5 Dec 2000 12:34:56 +0900", &field);
    EXPECT_EQ(field, 975987296u);
}

TEST(MakeGmt, AgreesWithTheCalendarOverTheWholeRange) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int64_t t = 0; t < 4294967296LL; t += 7777777) {
        const LocalTime lt = civilTime(t, 9 * 3600);
        char text[64];
        std::snprintf(text, sizeof text, "%d %s %d %02d:%02d:%02d +0900", lt.day,
                      kMonths[lt.month - 1], lt.year, lt.hour, lt.minute, lt.second);
        if (lt.year > 2105) break;
        ASSERT_EQ(makeGmt(text), static_cast<uint32_t>(t)) << text;
    }
}

}  // namespace
}  // namespace kolvy::mime
