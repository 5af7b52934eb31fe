// What the two header readers share: the header-line walk, names recognised whole, and one
// name/address parser; each case is read by GetHead and by the stored header reader.
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

// One header block (lines ending in CR LF) as received mail and as stored mail.
struct Both {
    explicit Both(const std::string& header) : text("\n" + header + "\r\nbody\r\n") {
        std::string msg = header + "\r\nbody\r\n.\r\n";
        got = extractHead(msg);
        readStoredHeader(text, stored);
    }
    std::string text;
    HeadCopy got;
    HeaderInfo stored{};
};

// The steps of a walk over `text`, line by line: "name[value]" for a recognised line, "?" for
// another, "+" for a continuation, then "end|" or "cut|" and the text from there (NUL shown "~").
std::string walked(const std::string& text, HeaderWalk::Form form) {
    const HeaderWalk w(text, form);
    std::string out;
    for (size_t i = 0;;) {
        const HeaderWalk::Step s = w.next(i);
        if (s.stop != HeaderWalk::Stop::Line) {
            std::string rest = text.substr(s.at);
            for (char& c : rest)
                c = c == '\0' ? '~' : c;
            return out + (s.stop == HeaderWalk::Stop::Cut ? "cut|" : "end|") + rest;
        }
        const HeaderLine& l = s.line;
        if (l.match.name != HeaderName::None) {
            out += text.substr(l.start, l.match.colon) + "[" + std::string(w.value(l)) + "] ";
        } else {
            out += l.continued ? "+ " : "? ";
        }
        i = l.end;
    }
}

TEST(HeaderWalk, LinesFieldsAndTheEndOfTheBlock) {
    using F = HeaderWalk::Form;
    const struct {
        const char* label;
        std::string text;
        F form;
        const char* steps;
    } rows[] = {
        {"folded field", "\nSubject: a\r\n b\r\nX: y\r\n\r\nbody", F::Received,
         "Subject[a\r\n b] + ? end|\r\n\r\nbody"},
        {"stored alike", "\nSubject: a\r\n b\r\n\r\nbody", F::Stored,
         "Subject[a\r\n b] + end|\r\n\r\nbody"},
        {"bare LF: received mail reads on", "\nTo: t\nX: y\n\nbody", F::Received,
         "To[t] ? ? ? cut|"},
        {"bare LF: stored mail ends", "\nTo: t\nX: y\n\nbody", F::Stored, "To[t] ? end|\nbody"},
        {"LF then CR LF", "\nTo: t\n\r\nbody", F::Stored, "To[t] end|\r\nbody"},
        {"only blanks after the colon", "\nTo:   \r\n\r\n", F::Received, "To[] end|\r\n\r\n"},
        {"a NUL cuts", std::string("\nSubject: a\0b\r\n\r\n", 17), F::Stored,
         "Subject[a] cut|~b\r\n\r\n"},
        {"CR NUL CR is no empty line", std::string("\nA: b\r\0\r\n", 9), F::Stored, "? cut|~\r\n"},
        {"no empty line", "\nFrom: f@x", F::Received, "From[f@x] cut|"},
        {"fold at the text's end", "\nSubject: x\r\n ", F::Received, "Subject[x\r\n ] + cut|"},
        // A lead byte before CR, and a pair whose trail byte is "\": neither hides the break.
        {"double-byte text", "\nSubject: \x83\x5C\r\nTo: \x83\r\n\r\n", F::Received,
         "Subject[\x83\x5C] To[\x83] end|\r\n\r\n"},
        {"names whole, any case", "\nSummary: s\r\nsubject: t\r\nTo : u\r\n\r\n", F::Stored,
         "? subject[t] ? end|\r\n\r\n"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(walked(r.text, r.form), r.steps) << r.label;
}

TEST(HeaderNames, ALookAlikeNameNeverFillsTheRecord) {
    const std::string base =
        "From: a@example.jp\r\nTo: b@example.jp\r\nSubject: real\r\nReceived: by x\r\n"
        "X-Mailer: m1\r\nReply-To: r@example.jp\r\n";
    // Each trap stands after the real headers, where a reader matching by the first letters
    // would take it as the later (winning) one.
    for (const char* trap :
         {"Summary: not the subject", "Subjects: not the subject", "Sub: x",
          "Followup-To: f@example.jp", "Fromage: f@example.jp", "Thread-Topic: t@example.jp",
          "Tox: t@example.jp", "Received-SPF: pass", "Receiveds: by y", "X-Mailer-Version: m2",
          "User-Agents: m3", "Reply-To-All: q@example.jp"}) {
        const Both b(base + trap + "\r\n");
        for (const HeaderInfo* h : {&b.got.info, &b.stored}) {
            EXPECT_STREQ(h->subject, "real") << trap;
            EXPECT_STREQ(h->received, "by x") << trap;
            EXPECT_EQ(view(h->fromAddressStart, h->fromAddressEnd), "a@example.jp") << trap;
            EXPECT_EQ(view(h->toAddressStart, h->toAddressEnd), "b@example.jp") << trap;
            EXPECT_EQ(view(h->mailerStart, h->mailerEnd), "m1") << trap;
            EXPECT_EQ(view(h->replyToStart, h->replyToEnd), "r@example.jp") << trap;
        }
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
        {"message-id: <a>", HeaderName::MessageId},
        // The part line: the P and the I in capitals, the other letters in either case.
        {"X-PartInfo: text/plain; 1", HeaderName::XPartInfo},
        {"x-PARTINFO: a; 1", HeaderName::XPartInfo},
        {"x-partinfo: text/plain; 1", HeaderName::None},
        {"X-Partinfo: text/plain; 1", HeaderName::None},
        {"X-pARTiNFO: a; 1", HeaderName::None},
        {"X-PartInfoo: a; 1", HeaderName::None},
        {"X-PartInf: a; 1", HeaderName::None},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(recogniseHeader(r.line).name, r.name) << r.line;
        // The stored reader counts what it takes for a part line.
        const Both b(r.line);
        EXPECT_EQ(b.stored.partCount, r.name == HeaderName::XPartInfo ? 1 : 0) << r.line;
    }
}

// Received mail records the first recipient; stored mail the list (storedName/storedAddress,
// where they differ).
TEST(HeaderNames, NameAndAddressFormsInBothReaders) {
    const struct {
        const char *line, *name, *address, *storedName = nullptr, *storedAddress = nullptr;
    } rows[] = {
        {"From: \"Taro\" <taro@example.jp>", "Taro", "taro@example.jp"},
        {"From: taro@example.jp (Taro)", "Taro", "taro@example.jp"},
        {"From: Taro <taro@example.jp>", "Taro", "taro@example.jp"},
        {"From: Taro   <taro@example.jp>", "Taro", "taro@example.jp"},
        {"From: taro@example.jp", "", "taro@example.jp"},
        {"From: \"Taro\"", "Taro", ""},
        {"From: Taro", "Taro", ""},
        {"From: \"山田 太郎\" <taro@example.jp>", "山田 太郎", "taro@example.jp"},
        // A trail byte 0x40 ("@") of a double-byte character is no address mark.
        {"From: \x83\x40\x83\x40 <a@b.jp>", "\x83\x40\x83\x40", "a@b.jp"},
        {"From: 山田ー <y@example.jp>", "山田ー", "y@example.jp"},
        // An angle form after the first "@" counts for one sender but not within a stored list.
        {"From: x@example.jp <y@example.jp>", "x@example.jp", "y@example.jp"},
        {"To: x@example.jp <y@example.jp>", "x@example.jp", "y@example.jp", "",
         "x@example.jp <y@example.jp>"},
        {"To: a@x.jp, b@x.jp", "", "a@x.jp", "", "a@x.jp, b@x.jp"},
        {"To: a@x.jp, b@x.jp (Two)", "", "a@x.jp", "Two", "a@x.jp, b@x.jp"},
        {"To: \"A\" <a@x.jp>, \"B\" <b@x.jp>", "A", "a@x.jp"},
        {"To: A <a@x.jp>, B <b@x.jp>", "A", "a@x.jp"},
    };
    for (const auto& r : rows) {
        const Both b(r.line);
        const bool from = r.line[0] == 'F';
        auto name = [&](const HeaderInfo& h) {
            return from ? view(h.fromNameStart, h.fromNameEnd) : view(h.toNameStart, h.toNameEnd);
        };
        auto address = [&](const HeaderInfo& h) {
            return from ? view(h.fromAddressStart, h.fromAddressEnd)
                        : view(h.toAddressStart, h.toAddressEnd);
        };
        EXPECT_EQ(name(b.got.info), r.name) << r.line;
        EXPECT_EQ(address(b.got.info), r.address) << r.line;
        EXPECT_EQ(name(b.stored), r.storedName ? r.storedName : r.name) << r.line;
        EXPECT_EQ(address(b.stored), r.storedAddress ? r.storedAddress : r.address) << r.line;
    }
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
