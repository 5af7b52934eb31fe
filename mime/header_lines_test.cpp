// The two header readers side by side: both take a header only by its whole name, so a header
// whose name merely starts like a known one never fills the record, and both read names and
// addresses with one parser.
#include "mime/header_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "mime/header.h"
#include "mime/stored_header.h"

namespace kolvy::mime {
namespace {

std::string view(const char* s, const char* e) {
    return std::string(HeadCopy::view(s, e));
}

// What both readers must agree on.
struct Seen {
    std::string subject, fromAddress, toAddress, received, mailer, replyTo;
    bool operator==(const Seen&) const = default;
};
Seen seen(const HeaderInfo& h) {
    return {h.subject,
            view(h.fromAddressStart, h.fromAddressEnd),
            view(h.toAddressStart, h.toAddressEnd),
            h.received,
            view(h.mailerStart, h.mailerEnd),
            view(h.replyToStart, h.replyToEnd)};
}
Seen received(const std::string& header) {
    std::string msg = header + "\r\nbody\r\n.\r\n";
    return seen(extractHead(msg).info);
}
Seen stored(const std::string& header) {
    const std::string text = "\n" + header + "\r\nbody\r\n";
    HeaderInfo h{};
    readStoredHeader(text, h);
    return seen(h);
}

constexpr char kBase[] =
    "From: a@example.jp\r\nTo: b@example.jp\r\nSubject: real\r\nReceived: by x\r\n"
    "X-Mailer: m1\r\nReply-To: r@example.jp\r\n";

TEST(HeaderNames, ALookAlikeNameNeverFillsTheRecord) {
    const Seen base{"real", "a@example.jp", "b@example.jp", "by x", "m1", "r@example.jp"};
    // Each trap stands after the real headers, where a reader matching by the first letters
    // would take it as the later (winning) one.
    const char* traps[] = {
        "Summary: not the subject",  "Subjects: not the subject", "Sub: x",
        "Followup-To: f@example.jp", "Fromage: f@example.jp",     "Thread-Topic: t@example.jp",
        "Tox: t@example.jp",         "Received-SPF: pass",        "Receiveds: by y",
        "X-Mailer-Version: m2",      "User-Agents: m3",           "Reply-To-All: q@example.jp",
    };
    for (const char* trap : traps) {
        const std::string header = std::string(kBase) + trap + "\r\n";
        EXPECT_EQ(received(header), base) << trap;
        EXPECT_EQ(stored(header), base) << trap;
    }
}

TEST(HeaderNames, RecognisedByWholeNameInAnyCaseExceptThePartLine) {
    const struct {
        const char* line;
        HeaderName name;
    } rows[] = {
        {"subject: x", HeaderName::Subject},
        {"SUBJECT: x", HeaderName::Subject},
        {"Subject : x", HeaderName::None},
        {"Subject", HeaderName::None},
        {"To: x", HeaderName::To},
        {"Resent-To: x", HeaderName::ResentTo},
        {"content-transfer-encoding: 7bit", HeaderName::ContentTransferEncoding},
        {"Content-Transfer: 7bit", HeaderName::None},
        {"X-PartInfo: text/plain; 1", HeaderName::XPartInfo},
        {"x-partinfo: text/plain; 1", HeaderName::None},
        {"X-Partinfo: text/plain; 1", HeaderName::None},
        {"message-id: <a>", HeaderName::MessageId},
    };
    for (const auto& r : rows)
        EXPECT_EQ(recogniseHeader(r.line).name, r.name) << r.line;
}

TEST(HeaderNames, NameAndAddressFormsAgreeInBothReaders) {
    const struct {
        const char* value;
        const char* name;
        const char* address;
    } rows[] = {
        {"\"Taro\" <taro@example.jp>", "Taro", "taro@example.jp"},
        {"taro@example.jp (Taro)", "Taro", "taro@example.jp"},
        {"Taro <taro@example.jp>", "Taro", "taro@example.jp"},
        {"Taro   <taro@example.jp>", "Taro", "taro@example.jp"},
        {"taro@example.jp", "", "taro@example.jp"},
        {"\"Taro\"", "Taro", ""},
        {"Taro", "Taro", ""},
        {"\"山田 太郎\" <taro@example.jp>", "山田 太郎", "taro@example.jp"},
        // A trail byte 0x40 ("@") of a double-byte character is no address mark.
        {"\x83\x40\x83\x40 <a@b.jp>", "\x83\x40\x83\x40", "a@b.jp"},
        {"山田ー <y@example.jp>", "山田ー", "y@example.jp"},
    };
    for (const auto& r : rows) {
        const std::string header = std::string("From: ") + r.value + "\r\n";
        std::string msg = header + "\r\n.\r\n";
        const HeadCopy got = extractHead(msg);
        const std::string text = "\n" + header + "\r\n";
        HeaderInfo st{};
        readStoredHeader(text, st);
        const HeaderInfo* both[] = {&got.info, &st};
        for (const HeaderInfo* h : both) {
            EXPECT_EQ(view(h->fromNameStart, h->fromNameEnd), r.name) << r.value;
            EXPECT_EQ(view(h->fromAddressStart, h->fromAddressEnd), r.address) << r.value;
        }
    }
}

TEST(HeaderNames, ReceivedMailRecordsTheFirstRecipientStoredMailTheList) {
    const struct {
        const char* value;
        const char* received;
        const char* stored;
    } rows[] = {
        {"a@x.jp, b@x.jp", "a@x.jp", "a@x.jp, b@x.jp"},
        {"\"A\" <a@x.jp>, \"B\" <b@x.jp>", "a@x.jp", "a@x.jp"},
        {"A <a@x.jp>, B <b@x.jp>", "a@x.jp", "a@x.jp"},
    };
    for (const auto& r : rows) {
        const std::string header = std::string("To: ") + r.value + "\r\n";
        std::string msg = header + "\r\n.\r\n";
        const HeadCopy got = extractHead(msg);
        EXPECT_EQ(view(got.info.toAddressStart, got.info.toAddressEnd), r.received) << r.value;
        const std::string text = "\n" + header + "\r\n";
        HeaderInfo st{};
        readStoredHeader(text, st);
        EXPECT_EQ(view(st.toAddressStart, st.toAddressEnd), r.stored) << r.value;
    }
}

TEST(HeaderNames, RecipientListsAreReadAsEachReaderNeedsThem) {
    const std::string_view v = "a@example.jp, b@example.jp (Two)";
    EXPECT_EQ(parseNameAddress(v, AddressForm::FirstRecipient).address, "a@example.jp");
    EXPECT_EQ(parseNameAddress(v, AddressForm::AllRecipients).address,
              "a@example.jp, b@example.jp");
    EXPECT_EQ(parseNameAddress(v, AddressForm::AllRecipients).name, "Two");
    // An angle form after the first "@" counts for one sender but not within a stored list.
    const std::string_view angled = "x@example.jp <y@example.jp>";
    EXPECT_EQ(parseNameAddress(angled, AddressForm::Sender).address, "y@example.jp");
    EXPECT_EQ(parseNameAddress(angled, AddressForm::AllRecipients).address, angled);
}

TEST(HeaderNames, FieldEndStepsOverFoldsAndDoubleByteCharacters) {
    const std::string t = "Subject: a\r\n b\r\nTo: x";
    EXPECT_EQ(fieldEnd(t, 9), t.find("\r\nTo"));
    // A trail byte 0x0D cannot occur, but a lead byte before CR must not swallow it.
    const std::string k = "S: \x83\x5C\r\nT: y";
    EXPECT_EQ(fieldEnd(k, 3), 5u);
    EXPECT_EQ(fieldEnd("x\r\n", 0), 1u);
    EXPECT_EQ(fieldEnd("x\r\n ", 0), 4u);  // a fold at the text's end
}

// Raw 8-bit header text: valid UTF-8 with a multi-byte sequence is converted, anything else is
// kept as the Shift_JIS it is taken for.
TEST(RawHeaderBytes, Utf8IsConvertedAndShiftJisKept) {
    const struct {
        const char* name;
        std::string raw, subject;
    } rows[] = {
        {"raw UTF-8", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "日本語"},
        {"raw UTF-8 around ASCII",
         "Re: \xE6\x97\xA5"
         "1",
         "Re: 日1"},
        {"raw Shift_JIS", "\x93\xFA\x96\x7B\x8C\xEA", "日本語"},
        {"raw half-width katakana", "\xB1\xB2", "\xB1\xB2"},
        // Shift_JIS bytes that happen to form valid UTF-8 (a kanji whose trail byte is 0x82
        // followed by the half-width bracket 0xA2) are read as the UTF-8 they spell.
        {"Shift_JIS that is valid UTF-8", "\xE3\x82\xA2", "ア"},
        {"ASCII", "plain", "plain"},
        {"raw UTF-8 beside an ISO-2022-JP word",
         "\xE6\x97\xA5 =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", "日 日本語"},
        {"invalid UTF-8 stays", "\xE6\x97", "\xE6\x97"},
    };
    for (const auto& r : rows) {
        std::string msg =
            "Subject: " + r.raw + "\r\nFrom: " + r.raw + " <a@example.jp>\r\n\r\n.\r\n";
        const HeadCopy h = extractHead(msg);
        EXPECT_EQ(std::string(h.info.subject), r.subject) << r.name;
        EXPECT_EQ(view(h.info.fromNameStart, h.info.fromNameEnd), r.subject) << r.name;
        EXPECT_EQ(view(h.info.fromAddressStart, h.info.fromAddressEnd), "a@example.jp") << r.name;
    }
}

}  // namespace
}  // namespace kolvy::mime
