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

}  // namespace
}  // namespace kolvy::mime
