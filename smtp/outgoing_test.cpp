#include "smtp/outgoing.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/sjis.h"
#include "mime/decode.h"
#include "platform/fileutil.h"
#include "smtp/encode.h"
#include "smtp/header_fields.h"
#include "tests/support/test_env.h"

namespace kolvy::smtp {
namespace {

constexpr char kStatus[] = "\f st=1.0.0.0 dt=0000000000 at=not               \r\n";
constexpr int64_t kTime = 1765000000;

std::string draftOf(std::string_view header, std::string_view body = "本文です。\r\n") {
    return std::string(kStatus) + std::string(header) + "\r\n" + std::string(body);
}

struct Composer {
    test::TempFolder tmp;
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
    ComposeResult compose(std::string_view draft, std::string_view folder = {}) {
        ComposeInput in;
        in.draft = draft;
        in.mailAddress = "me@example.jp";
        in.sendCounter = 3;
        in.sendTime = kTime;
        in.attachmentFolder = folder;
        return composeMessage(*fs, in);
    }
};

// The header of the wire text, one entry per field (continuation lines joined in).
std::vector<std::string> wireFields(const std::string& wire) {
    std::vector<std::string> out;
    const size_t end = wire.find("\r\n\r\n");
    size_t i = 0;
    while (i < end + 2) {
        size_t next = wire.find("\r\n", i) + 2;
        while (next < end + 2 && (wire[next] == ' ' || wire[next] == '\t'))
            next = wire.find("\r\n", next) + 2;
        out.push_back(wire.substr(i, next - i - 2));
        i = next;
    }
    return out;
}

size_t countLinesStarting(const std::string& wire, std::string_view prefix) {
    size_t n = 0;
    for (const std::string& f : wireFields(wire))
        n += f.starts_with(prefix) ? 1 : 0;
    return n;
}

bool linesAreCrLf7bit(const std::string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b >= 0x80 || b == 0) return false;
        if (b == '\r' && (i + 1 >= s.size() || s[i + 1] != '\n')) return false;
        if (b == '\n' && (i == 0 || s[i - 1] != '\r')) return false;
    }
    return true;
}

std::string joined(const std::vector<std::string>& v) {
    std::string out;
    for (const std::string& s : v)
        out += (out.empty() ? "" : " ") + s;
    return out;
}

TEST(ComposeHeader, RecipientsAndFields) {
    const struct {
        const char* header;      // draft header lines (CR LF each)
        const char* recipients;  // envelope, in order, blank-separated
        const char* wireHas;     // a field the wire must hold ("" none)
        const char* wireLacks;   // a field prefix the wire must not hold ("" none)
    } cases[] = {
        // A Japanese name before a bracketed address; "@" inside the display name; katakana
        // right before the address.
        {"To: 山田 太郎 <taro@example.jp>\r\n", "taro@example.jp",
         "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <taro@example.jp>", ""},
        {"To: \"a@home\" <b@example.jp>\r\n", "b@example.jp", "", ""},
        {"To: アtaro@example.jp\r\n", "taro@example.jp", "", ""},
        // Several with continuation; names in any case; Bcc a recipient but never sent;
        // duplicates once; Sender no recipient.
        {"To: a@x.jp,\r\n b@y.jp\r\nCc: c@z.jp\r\n", "a@x.jp b@y.jp c@z.jp",
         "To: a@x.jp,\r\n b@y.jp", ""},
        {"TO: a@x.jp\r\nCC: b@x.jp\r\nbcc: c@x.jp\r\n", "a@x.jp b@x.jp c@x.jp", "CC: b@x.jp",
         "bcc:"},
        {"To: a@x.jp\r\nBcc: 秘密 <s@x.jp>,\r\n t@x.jp\r\n", "a@x.jp s@x.jp t@x.jp", "", "Bcc:"},
        {"To: a@x.jp\r\nCc: A@X.JP\r\n", "a@x.jp", "", ""},
        {"Sender: 山田 <s@x.jp>\r\nTo: a@x.jp\r\n", "a@x.jp",
         "Sender: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <s@x.jp>", ""},
        // ASCII subject unchanged; Japanese in another field, in a field name, in a line that is
        // no field: all 7-bit.
        {"To: a@x.jp\r\nSubject: hello there\r\n", "a@x.jp", "Subject: hello there", ""},
        {"To: a@x.jp\r\nX-Note: 会議\r\n", "a@x.jp",
         "X-Note: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=", ""},
        {"To: a@x.jp\r\n件名: x\r\n", "a@x.jp", "=?ISO-2022-JP?B?GyRCN29MPhsoQg==?=: x", ""},
        {"To: a@x.jp\r\n日本\r\n", "a@x.jp", "=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=", ""},
        // Resent goes to the resent addresses only, every resent header counting.
        {"To: a@x.jp\r\nResent-To: r@x.jp\r\nResent-Cc: s@x.jp\r\nResent-From: me@example.jp\r\n",
         "r@x.jp s@x.jp", "To: a@x.jp", "Message-ID:"},
        {"Resent-Bcc: b@x.jp\r\nResent-To: r@x.jp\r\n", "b@x.jp r@x.jp", "Resent-To: r@x.jp",
         "Resent-Bcc:"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        Composer k;
        const ComposeResult r = k.compose(draftOf(c.header));
        ASSERT_TRUE(r.ok());
        const ComposedMessage& m = r.message;
        EXPECT_EQ(joined(m.recipients), c.recipients);
        EXPECT_TRUE(linesAreCrLf7bit(m.wire));
        const std::vector<std::string> fields = wireFields(m.wire);
        if (*c.wireHas) {
            EXPECT_NE(std::find(fields.begin(), fields.end(), c.wireHas), fields.end()) << m.wire;
        }
        if (*c.wireLacks) {
            EXPECT_EQ(countLinesStarting(m.wire, c.wireLacks), 0u);
        }
        // Exactly one id line of the right kind, kept for the stored copy.
        const std::string idName = m.resent ? "Resent-Message-ID: <KV" : "Message-ID: <KV";
        EXPECT_EQ(countLinesStarting(m.wire, idName), 1u);
        EXPECT_TRUE(m.messageIdLine.starts_with(idName));
        EXPECT_NE(m.wire.find(m.messageIdLine), std::string::npos);
    }
}

// A piece closes at the first count above 20 source bytes: 60 bytes go as 22, 22 and 16.
TEST(ComposeHeader, JapaneseSubjectInPieces) {
    std::string subject;
    for (int i = 0; i < 30; ++i)
        subject += "漢";
    Composer k;
    const ComposeResult r = k.compose(draftOf("To: a@x.jp\r\nSubject: " + subject + "\r\n"));
    ASSERT_TRUE(r.ok());
    std::string field;
    for (const std::string& f : wireFields(r.message.wire))
        if (f.starts_with("Subject:")) field = f;
    std::vector<size_t> sizes;
    size_t at = 0;
    while ((at = field.find("=?", at)) != std::string::npos) {
        const size_t end = field.find("?=", at + 16) + 2;
        sizes.push_back(mime::decodeHeaderField(field.substr(at, end - at)).size());
        at = end;
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{22, 22, 16}));
    EXPECT_EQ(std::count(field.begin(), field.end(), '\t'), 2);
    EXPECT_EQ(mime::decodeHeaderField(field.substr(9)), subject);
}

// How often field prefixes stand in the wire header: one Resent block whatever the order, the
// html marker honoured only when resending, the draft's own MIME and id lines replaced; drafts
// without a blank line or a final line end still make a whole message.
TEST(ComposeHeader, FieldsTheComposerOwns) {
    const char* resent = "Resent-Message-ID:=1|Resent-X-Mailer:=1|X-Mailer:=0|MIME-Version:=1";
    const struct {
        std::string draft;
        const char* counts;  // prefix=count, "|"-separated
    } cases[] = {
        {draftOf("To: a@x.jp\r\nResent-From: me@example.jp\r\nResent-To: r@x.jp\r\n"), resent},
        {draftOf("To: a@x.jp\r\nResent-To: r@x.jp\r\nResent-From: me@example.jp\r\n"), resent},
        {draftOf("To: a@x.jp\r\nResent-To: r@x.jp\r\nResent-Message-ID: <old@x>\r\n"), resent},
        {draftOf("Resent-To: r@x.jp\r\nX-Content-Type: html\r\n"),
         "Content-Type: text/html; charset=ISO-2022-JP=1"},
        {draftOf("To: r@x.jp\r\nX-Content-Type: html\r\n"), "Content-Type: text/plain=1"},
        {draftOf("To: a@x.jp\r\nMessage-ID: <old@x>\r\nMIME-Version: 1.0\r\nContent-Type: "
                 "text/plain\r\n"),
         "Message-ID:=1|MIME-Version:=1|Content-Type:=1|Message-ID: <old=0"},
        {std::string(kStatus) + "To: a@x.jp\r\nSubject: s", "Message-ID: <KV=1"},
        {std::string(kStatus) + "To: a@x.jp\r\n", "Message-ID: <KV=1"},
        {std::string(kStatus) + "\r\nbody only", "Message-ID: <KV=1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.draft);
        Composer k;
        const ComposeResult r = k.compose(c.draft);
        ASSERT_TRUE(r.ok());
        EXPECT_TRUE(linesAreCrLf7bit(r.message.wire)) << r.message.wire;
        const std::string_view counts = c.counts;
        for (size_t at = 0; at < counts.size();) {
            const size_t bar = std::min(counts.find('|', at), counts.size());
            const std::string_view one = counts.substr(at, bar - at);
            const size_t eq = one.rfind('=');
            EXPECT_EQ(countLinesStarting(r.message.wire, one.substr(0, eq)),
                      static_cast<size_t>(one[eq + 1] - '0'))
                << one;
            at = bar + 1;
        }
    }
}

TEST(ComposeMessage, MessageIdsNeverRepeat) {
    Composer k;
    std::set<std::string> ids;
    for (int i = 0; i < 50; ++i)
        ids.insert(k.compose(draftOf("To: a@x.jp\r\n")).message.messageIdLine);
    EXPECT_EQ(ids.size(), 50u);
    const std::string id = *ids.begin();
    EXPECT_TRUE(id.starts_with("Message-ID: <KV17650000003.")) << id;
    EXPECT_TRUE(id.ends_with(".me@example.jp>\r\n")) << id;
}

TEST(ComposeMessage, SinglePartBodyAndLineEnds) {
    Composer k;
    // Bare LF and bare CR line ends, half-width katakana in the body.
    const std::string draft =
        std::string(kStatus) + "To: a@x.jp\nSubject: hi\r\n\r\n" + "一行目\n\xB6\xC5\r二行目\r\n";
    const ComposeResult r = k.compose(draft);
    ASSERT_TRUE(r.ok());
    const ComposedMessage& m = r.message;
    EXPECT_TRUE(linesAreCrLf7bit(m.wire));
    EXPECT_EQ(m.sjisBody, "一行目\r\n\xB6\xC5\r\n二行目\r\n");
    EXPECT_EQ(m.wire.substr(m.bodyStart, m.bodyEnd - m.bodyStart), sjisToJis(m.sjisBody));
    EXPECT_EQ(mime::jisToSjis(m.wire.substr(m.bodyStart, m.bodyEnd - m.bodyStart)),
              "一行目\r\nカナ\r\n二行目\r\n");
    EXPECT_EQ(m.wire.substr(m.bodyStart - 4, 4), "\r\n\r\n");
    EXPECT_TRUE(m.wire.ends_with("\r\n"));
    EXPECT_EQ(countLinesStarting(m.wire, "Content-Transfer-Encoding: 7bit"), 1u);
    EXPECT_EQ(countLinesStarting(m.wire, "X-Mailer: Kolvy Mail 2.351"), 1u);
    EXPECT_TRUE(m.attachments.empty());
}

TEST(ComposeMessage, AttachmentTypes) {
    const char* octet = "application/octet-stream";
    const struct {
        const char *name, *wire, *stored;
    } cases[] = {{"資料.txt", "text/plain; charset=shift_jis", "text/plain"},
                 {"photo.JPG", octet, octet},
                 {"a.b.txt", octet, octet},
                 {"README", octet, octet},
                 {"x.jpeg", "image/jpeg", "image/jpeg"},
                 {"x.eml", "message/rfc822", "message/rfc822"},
                 {"x.avi", "video/x-msvideo", "video/x-msvideo"}};
    for (const auto& c : cases) {
        EXPECT_EQ(attachmentWireType(c.name), c.wire) << c.name;
        EXPECT_EQ(attachmentStoredType(c.name), c.stored) << c.name;
    }
}

TEST(ComposeMessage, AttachmentsFilesOnly) {
    Composer k;
    const std::string folder = k.tmp / "att";
    ASSERT_EQ(platform::makeDirs(*k.fs, folder + "\\sub"), Err::None);
    std::string binary;
    for (int i = 0; i < 300; ++i)
        binary += static_cast<char>(i);
    // Hidden files and sub-folders are no attachments.
    for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"資料.txt", "中身\r\n"},
                                      {"data.bin", binary},
                                      {".hidden", "x"},
                                      {"sub\\inner.txt", "x"}})
        ASSERT_EQ(platform::writeWholeFile(*k.fs, folder + "\\" + name, bytes), Err::None);
    const ComposeResult r = k.compose(draftOf("To: a@x.jp\r\nSubject: att\r\n"), folder);
    ASSERT_TRUE(r.ok());
    const ComposedMessage& m = r.message;
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(m.attachments[0].name + " " + m.attachments[0].storedType + " " +
                  m.attachments[1].name + " " + m.attachments[1].storedType,
              "data.bin application/octet-stream 資料.txt text/plain");
    EXPECT_TRUE(linesAreCrLf7bit(m.wire));
    const std::string boundary = "6933C340XXXXXXXXXXXXXXXXXBOUNDARY";  // 1765000000 in hex
    EXPECT_EQ(countLinesStarting(m.wire, "Content-Type: multipart/mixed; boundary=\"" + boundary),
              1u);
    EXPECT_TRUE(m.wire.ends_with("\r\n--" + boundary + "--\r\n"));
    const std::string name = encodeWords("資料.txt", "\r\n ");
    EXPECT_NE(m.wire.find(" name=\"" + name + "\""), std::string::npos);
    EXPECT_NE(m.wire.find(" filename=\"" + name + "\""), std::string::npos);
    EXPECT_EQ(m.wire.find("inner"), std::string::npos);
    // The binary file's Base64 is in the wire, line for line.
    std::string b64;
    appendBase64(b64, binary, true);
    EXPECT_NE(m.wire.find("BASE64\r\n\r\n" + b64 + "\r\n"), std::string::npos);
}

TEST(ComposeMessage, FailuresAreTold) {
    Composer k;
    EXPECT_EQ(k.compose("").failure, ComposeFailure::DraftEmpty);
    const auto missing = k.compose(draftOf("To: a@x.jp\r\n"), k.tmp / "none");
    EXPECT_EQ(missing.failure, ComposeFailure::AttachmentUnreadable);
    ComposeInput in;
    in.mailAddress = "me@example.jp";
    const std::string path = k.tmp / "0001.txt";
    EXPECT_EQ(composeDraftFile(*k.fs, path, in).failure, ComposeFailure::DraftUnreadable);
    ASSERT_EQ(platform::writeWholeFile(*k.fs, path, ""), Err::None);
    const auto empty = composeDraftFile(*k.fs, path, in);
    EXPECT_EQ(empty.failure, ComposeFailure::DraftEmpty);
    EXPECT_EQ(empty.failedPath, path);
    ASSERT_EQ(platform::writeWholeFile(*k.fs, path, draftOf("To: a@x.jp\r\n")), Err::None);
    EXPECT_TRUE(composeDraftFile(*k.fs, path, in).ok());
}

TEST(AddressScan, ForwardOverShiftJis) {
    struct Case {
        const char* value;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {" アtaro@example.jp", {"taro@example.jp"}},
        {" 表@x.jp", {}},  // trail byte 0x5C right before the "@": no local part
        {" a@b (c@d)", {"a@b", "c@d"}},
        {" <a@b>, \"x@y\" <c@d>", {"a@b", "c@d"}},
        {" @lone, name@", {}}};
    for (const Case& c : cases) {
        std::vector<std::string> got;
        collectAddresses(c.value, got);
        EXPECT_EQ(got, c.want) << c.value;
    }
}

}  // namespace
}  // namespace kolvy::smtp
