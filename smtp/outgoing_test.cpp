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

struct HeaderCase {
    const char* label;
    const char* header;                   // draft header lines (CR LF each)
    std::vector<std::string> recipients;  // envelope, in order
    const char* wireHas;                  // a field the wire must hold ("" none)
    const char* wireLacks;                // a field prefix the wire must not hold ("" none)
};

TEST(ComposeHeader, RecipientsAndFields) {
    const std::vector<HeaderCase> cases = {
        {"japanese name and bracketed address",
         "To: 山田 太郎 <taro@example.jp>\r\n",
         {"taro@example.jp"},
         "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <taro@example.jp>",
         ""},
        {"@ inside the display name",
         "To: \"a@home\" <b@example.jp>\r\n",
         {"b@example.jp"},
         "",
         ""},
        {"katakana right before the address",
         "To: アtaro@example.jp\r\n",
         {"taro@example.jp"},
         "",
         ""},
        {"several with continuation",
         "To: a@x.jp,\r\n b@y.jp\r\nCc: c@z.jp\r\n",
         {"a@x.jp", "b@y.jp", "c@z.jp"},
         "To: a@x.jp,\r\n b@y.jp",
         ""},
        {"names in any case",
         "TO: a@x.jp\r\nCC: b@x.jp\r\nbcc: c@x.jp\r\n",
         {"a@x.jp", "b@x.jp", "c@x.jp"},
         "CC: b@x.jp",
         "bcc:"},
        {"bcc is a recipient but never sent",
         "To: a@x.jp\r\nBcc: 秘密 <s@x.jp>,\r\n t@x.jp\r\n",
         {"a@x.jp", "s@x.jp", "t@x.jp"},
         "",
         "Bcc:"},
        {"duplicates go once", "To: a@x.jp\r\nCc: A@X.JP\r\n", {"a@x.jp"}, "", ""},
        {"sender is no subject and no recipient",
         "Sender: 山田 <s@x.jp>\r\nTo: a@x.jp\r\n",
         {"a@x.jp"},
         "Sender: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <s@x.jp>",
         ""},
        {"ascii subject unchanged",
         "To: a@x.jp\r\nSubject: hello there\r\n",
         {"a@x.jp"},
         "Subject: hello there",
         ""},
        {"other header with japanese",
         "To: a@x.jp\r\nX-Note: 会議\r\n",
         {"a@x.jp"},
         "X-Note: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=",
         ""},
        {"japanese field name still 7-bit",
         "To: a@x.jp\r\n件名: x\r\n",
         {"a@x.jp"},
         "=?ISO-2022-JP?B?GyRCN29MPhsoQg==?=: x",
         ""},
        {"a line that is no field",
         "To: a@x.jp\r\n日本\r\n",
         {"a@x.jp"},
         "=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=",
         ""},
        {"resent goes to resent addresses only",
         "To: a@x.jp\r\nResent-To: r@x.jp\r\nResent-Cc: s@x.jp\r\nResent-From: me@example.jp\r\n",
         {"r@x.jp", "s@x.jp"},
         "To: a@x.jp",
         "Message-ID:"},
        {"every resent header counts",
         "Resent-Bcc: b@x.jp\r\nResent-To: r@x.jp\r\n",
         {"b@x.jp", "r@x.jp"},
         "Resent-To: r@x.jp",
         "Resent-Bcc:"},
    };
    for (const HeaderCase& c : cases) {
        Composer k;
        const ComposeResult r = k.compose(draftOf(c.header));
        ASSERT_TRUE(r.ok()) << c.label;
        const ComposedMessage& m = r.message;
        EXPECT_EQ(m.recipients, c.recipients) << c.label;
        EXPECT_TRUE(linesAreCrLf7bit(m.wire)) << c.label;
        const std::vector<std::string> fields = wireFields(m.wire);
        if (*c.wireHas) {
            EXPECT_NE(std::find(fields.begin(), fields.end(), c.wireHas), fields.end())
                << c.label << "\n"
                << m.wire;
        }
        if (*c.wireLacks) {
            EXPECT_EQ(countLinesStarting(m.wire, c.wireLacks), 0u) << c.label;
        }
        // Exactly one id line of the right kind, kept for the stored copy.
        const std::string idName = m.resent ? "Resent-Message-ID: <KV" : "Message-ID: <KV";
        EXPECT_EQ(countLinesStarting(m.wire, idName), 1u) << c.label;
        EXPECT_TRUE(m.messageIdLine.starts_with(idName)) << c.label;
        EXPECT_NE(m.wire.find(m.messageIdLine), std::string::npos) << c.label;
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

TEST(ComposeHeader, ResentBlockOnceWhateverTheOrder) {
    for (const char* header : {"Resent-From: me@example.jp\r\nResent-To: r@x.jp\r\n",
                               "Resent-To: r@x.jp\r\nResent-From: me@example.jp\r\n",
                               "Resent-To: r@x.jp\r\nResent-Message-ID: <old@x>\r\n"}) {
        Composer k;
        const ComposeResult r = k.compose(draftOf(std::string("To: a@x.jp\r\n") + header));
        ASSERT_TRUE(r.ok());
        EXPECT_TRUE(r.message.resent);
        EXPECT_EQ(countLinesStarting(r.message.wire, "Resent-Message-ID:"), 1u) << header;
        EXPECT_EQ(countLinesStarting(r.message.wire, "Resent-X-Mailer:"), 1u) << header;
        EXPECT_EQ(countLinesStarting(r.message.wire, "X-Mailer:"), 0u) << header;
        EXPECT_EQ(countLinesStarting(r.message.wire, "MIME-Version:"), 1u) << header;
    }
}

TEST(ComposeHeader, ResentHtmlMarkerChoosesHtml) {
    Composer k;
    const auto r = k.compose(draftOf("Resent-To: r@x.jp\r\nX-Content-Type: html\r\n"));
    EXPECT_EQ(countLinesStarting(r.message.wire, "Content-Type: text/html; charset=ISO-2022-JP"),
              1u);
    const auto plain = k.compose(draftOf("To: r@x.jp\r\nX-Content-Type: html\r\n"));
    EXPECT_EQ(countLinesStarting(plain.message.wire, "Content-Type: text/plain"), 1u);
}

TEST(ComposeHeader, DraftsOwnMimeAndIdLinesAreReplaced) {
    Composer k;
    const auto r = k.compose(draftOf(
        "To: a@x.jp\r\nMessage-ID: <old@x>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n"));
    EXPECT_EQ(countLinesStarting(r.message.wire, "Message-ID:"), 1u);
    EXPECT_EQ(countLinesStarting(r.message.wire, "MIME-Version:"), 1u);
    EXPECT_EQ(countLinesStarting(r.message.wire, "Content-Type:"), 1u);
    EXPECT_EQ(r.message.wire.find("old@x"), std::string::npos);
}

TEST(ComposeMessage, DraftWithoutBlankLineOrFinalLineEnd) {
    Composer k;
    for (const std::string& draft :
         {std::string(kStatus) + "To: a@x.jp\r\nSubject: s",
          std::string(kStatus) + "To: a@x.jp\r\n", std::string(kStatus) + "\r\nbody only"}) {
        const ComposeResult r = k.compose(draft);
        ASSERT_TRUE(r.ok());
        EXPECT_TRUE(linesAreCrLf7bit(r.message.wire)) << r.message.wire;
        EXPECT_EQ(countLinesStarting(r.message.wire, "Message-ID: <KV"), 1u) << r.message.wire;
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

struct TypeCase {
    const char* name;
    const char* wire;
    const char* stored;
};

TEST(ComposeMessage, AttachmentTypes) {
    const std::vector<TypeCase> cases = {
        {"資料.txt", "text/plain; charset=shift_jis", "text/plain"},
        {"photo.JPG", "application/octet-stream", "application/octet-stream"},
        {"a.b.txt", "application/octet-stream", "application/octet-stream"},
        {"README", "application/octet-stream", "application/octet-stream"},
        {"x.jpeg", "image/jpeg", "image/jpeg"},
        {"x.eml", "message/rfc822", "message/rfc822"},
        {"x.avi", "video/x-msvideo", "video/x-msvideo"},
    };
    for (const TypeCase& c : cases) {
        EXPECT_EQ(attachmentWireType(c.name), c.wire) << c.name;
        EXPECT_EQ(attachmentStoredType(c.name), c.stored) << c.name;
    }
}

TEST(ComposeMessage, AttachmentsFilesOnly) {
    Composer k;
    const std::string folder = k.tmp / "att";
    ASSERT_EQ(platform::makeDirs(*k.fs, folder + "\\sub"), Err::None);
    ASSERT_EQ(platform::writeWholeFile(*k.fs, folder + "\\資料.txt", "中身\r\n"), Err::None);
    std::string binary;
    for (int i = 0; i < 300; ++i)
        binary += static_cast<char>(i);
    ASSERT_EQ(platform::writeWholeFile(*k.fs, folder + "\\data.bin", binary), Err::None);
    ASSERT_EQ(platform::writeWholeFile(*k.fs, folder + "\\.hidden", "x"), Err::None);
    ASSERT_EQ(platform::writeWholeFile(*k.fs, folder + "\\sub\\inner.txt", "x"), Err::None);

    const ComposeResult r = k.compose(draftOf("To: a@x.jp\r\nSubject: att\r\n"), folder);
    ASSERT_TRUE(r.ok());
    const ComposedMessage& m = r.message;
    ASSERT_EQ(m.attachments.size(), 2u);
    EXPECT_EQ(m.attachments[0].name, "data.bin");
    EXPECT_EQ(m.attachments[0].storedType, "application/octet-stream");
    EXPECT_EQ(m.attachments[1].name, "資料.txt");
    EXPECT_EQ(m.attachments[1].storedType, "text/plain");
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
        {" @lone, name@", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        collectAddresses(c.value, got);
        EXPECT_EQ(got, c.want) << c.value;
    }
}

}  // namespace
}  // namespace kolvy::smtp
