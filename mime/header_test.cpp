// Header extraction and dates.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "core/timetext.h"
#include "mime/decode.h"
#include "mime/header.h"
#include "mime/stored_header.h"

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
    "Cc: =?utf-8?B?5pel5pys6Kqe?= <c@example.jp>,\r\n d@example.jp\r\n"
    "Reply-To: r@example.jp\r\n"
    "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
    " =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
    "\tend\r\n"
    "Date: Tue, 5 Dec 2000 12:34:56 +0900\r\n"
    "X-Mailer: =?utf-8?Q?Mailer_=E6=97=A5?=\r\n"
    "X-ML-Name: list\r\n"
    "X-PartInfo: text/plain; 123\r\n"
    "X-Other: kept\tme\r\n"
    "X-PartInfo: image/png; name=a.png; 400\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=\"iso-2022-jp\"; format=flowed; delsp=yes\r\n"
    "Content-Transfer-Encoding: 7bit\r\n"
    "\r\n"
    "body\r\n.\r\n";

// Every field of a record that is set, one "name=value" line each.
std::string record(const HeaderInfo& h) {
#define KOLVY_FIELD(f) std::tuple<const char*, const char*, const char*>(#f, h.f##Start, h.f##End)
    const std::tuple<const char*, const char*, const char*> pairs[] = {
        KOLVY_FIELD(fromName),         KOLVY_FIELD(fromAddress), KOLVY_FIELD(toName),
        KOLVY_FIELD(toAddress),        KOLVY_FIELD(cc),          KOLVY_FIELD(replyTo),
        KOLVY_FIELD(deliveredTo),      KOLVY_FIELD(returnPath),  KOLVY_FIELD(messageId),
        KOLVY_FIELD(mailer),           KOLVY_FIELD(mlName),      KOLVY_FIELD(contentType),
        KOLVY_FIELD(param1),           KOLVY_FIELD(param2),      KOLVY_FIELD(param3),
        KOLVY_FIELD(transferEncoding), KOLVY_FIELD(name),        KOLVY_FIELD(boundary),
        KOLVY_FIELD(resentFrom),       KOLVY_FIELD(resentTo)};
#undef KOLVY_FIELD
    std::string out;
    for (const auto& [label, start, end] : pairs) {
        if (start || end) out += std::string(label) + "=" + std::string(range(start, end)) + "\n";
    }
    return out + "subject=" + h.subject + "\nreceived=" + h.received + "\nother=" + h.otherHeaders +
           "\ndate=" + std::to_string(h.date) + "\nparts=" + std::to_string(h.partCount) + "\n";
}

// GetHead decodes and keeps the first recipient and three parameters; the stored reader points
// into the text as it stands, keeps the recipient list, two parameters and counts part lines.
TEST(HeaderFields, BothReadersFillTheRecord) {
    std::string msg = kMessage;
    const HeadCopy h = extractHead(msg);
    EXPECT_EQ(record(h.info),
              "fromName=日本語\nfromAddress=taro@example.jp\ntoAddress=hanako@example.jp\n"
              "cc=日本語 <c@example.jp>,\r\n d@example.jp\nreplyTo=r@example.jp\n"
              "deliveredTo=hanako@example.jp\nreturnPath=<taro@example.jp>\n"
              "messageId=<1@example.jp>\nmailer=Mailer 日\nmlName=list\ncontentType=text/plain\n"
              "param1=charset=\"iso-2022-jp\"\nparam2=format=flowed\nparam3=delsp=yes\n"
              "transferEncoding=7bit\nsubject=日本語日本語end\n"
              "received=from a.example by b.example;\r\n\tTue, 5 Dec 2000 12:34:56 +0900\n"
              "other=X-Other: keptmeMIME-Version: 1.0\ndate=975987296\nparts=0\n");
    // The copy: decoded headers, no part line, ending where the blank line begins.
    const std::string_view copy = h.text();
    EXPECT_EQ(copy.substr(0, 10), "\nReceived:");
    EXPECT_NE(copy.find("From: 日本語 <taro@example.jp>\r\n"), std::string_view::npos);
    EXPECT_NE(copy.find("X-ML-Name: list\r\nX-Other: kept\tme\r\nMIME"), std::string_view::npos);
    EXPECT_TRUE(copy.ends_with("Transfer-Encoding: 7bit"));
    EXPECT_EQ(msg.substr(h.ends.sourceEnd, 10), "\r\n\r\nbody\r\n");

    const std::string text = std::string("\n") + kMessage;
    HeaderInfo st{};
    const size_t stop = readStoredHeader(text, st);
    EXPECT_EQ(record(st),
              "fromName==?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\nfromAddress=taro@example.jp\n"
              "toAddress=hanako@example.jp, jiro@example.jp\n"
              "cc==?utf-8?B?5pel5pys6Kqe?= <c@example.jp>,\r\n d@example.jp\n"
              "replyTo=r@example.jp\ndeliveredTo=hanako@example.jp\nreturnPath=<taro@example.jp>\n"
              "messageId=<1@example.jp>\nmailer==?utf-8?Q?Mailer_=E6=97=A5?=\nmlName=list\n"
              "contentType=text/plain\nparam1=charset=\"iso-2022-jp\"\n"
              "param2=format=flowed; delsp=yes\ntransferEncoding=7bit\n"
              "subject==?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?==?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=end\n"
              "received=from a.example by b.example;\r\n\tTue, 5 Dec 2000 12:34:56 +0900\n"
              "other=X-PartInfo: text/plain; 123X-Other: keptmeX-PartInfo: image/png; name=a.png; "
              "400MIME-Version: 1.0\ndate=975987296\nparts=2\n");
    EXPECT_EQ(text.substr(stop, 10), "\r\n\r\nbody\r\n");
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

// Part lines at the start go with the line break after them (one in the middle: above). A
// block without its end is repaired: ending in the POP3 terminator, a blank line is put in front
// of it; ending anywhere else, the blank line and the terminator are appended.
TEST(GetHead, PartLinesGoAndABlockWithoutEndIsRepaired) {
    const struct {
        const char *in, *copy, *rest, *repaired = nullptr;
    } rows[] = {
        {"X-PartInfo: a; 1\r\nFrom: f@x\r\n\r\nb", "\nFrom: f@x", "\r\n\r\nb"},
        {"X-PartInfo: a; 1\r\nX-PartInfo: b; 2\r\nFrom: f@x\r\n\r\nb", "\nFrom: f@x", "\r\n\r\nb"},
        {"From: f@x\r\nX-PartInfo: a; 1\r\n\r\nb", "\nFrom: f@x", "\r\n\r\nb"},
        {"X-PartInfo: a; 1\r\n\r\nb", "\n", "\r\n\r\nb"},
        {"From: f@x\r\nSubject: s\r\n.\r\n", "\nFrom: f@x\r\nSubject: s", "\r\n\r\n.\r\n",
         "From: f@x\r\nSubject: s\r\n\r\n.\r\n"},
        {"From: f@x\r\nSubject: no end", "\nFrom: f@x\r\nSubject: no end", "\r\n\r\n.\r\n",
         "From: f@x\r\nSubject: no end\r\n\r\n.\r\n"},
        {"From: f@x\r\n", "\nFrom: f@x", "\r\n\r\n.\r\n", "From: f@x\r\n\r\n.\r\n"},
    };
    for (const auto& r : rows) {
        std::string m = r.in;
        const HeadCopy h = extractHead(m);
        EXPECT_EQ(h.text(), r.copy) << r.in;
        EXPECT_EQ(m.substr(h.ends.sourceEnd), r.rest) << r.in;
        EXPECT_EQ(m, r.repaired ? r.repaired : r.in);
    }
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
