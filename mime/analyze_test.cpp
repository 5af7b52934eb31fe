// Message analysis on a real program folder: the stored file and the index record are read back
// from disk and checked byte for byte where their layout is fixed; part offsets are checked
// against the stored file itself.
#include "mime/analyze.h"
#include "core/mail_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/header.h"
#include "mime/stored_header.h"
#include "platform/fileutil.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "tests/support/test_env.h"

namespace kolvy::mime {
namespace {

constexpr char kStatus[] = "\f st=0.0.0.0 dt=2612071030 rd=all               \r\n";
constexpr uint32_t kNow = 1796607000;  // 2026-12-07 10:30 in Japan

std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

struct Folder {
    Folder() {
        t.clock.setLocal(2026, 12, 7, 10, 30);
        EXPECT_TRUE(tabs.load(t.env));
        ctx.requestTemporaryTab = [this] { ++temporaryRequests; };
        account.number = 3;
        sjis::copyField(account.mailAddress, "me@example.jp");
        ctx.accounts = &account;
    }
    ~Folder() {
        for (Tab* tab = tabs.first(); tab && tab != tabs.listHead(); tab = tab->next)
            store::freeItems(*tab);
    }
    Tab& receive() { return *tabs.basicTab(store::kReceiveTab); }
    std::string file(Tab& tab, int n) {
        auto d = platform::readWholeFile(*t.fs, store::messagePath(t.env, tab, n));
        return d ? *d : std::string("<missing>");
    }
    std::string index(Tab& tab) {
        auto d = platform::readWholeFile(*t.fs, store::indexPath(t.env, tab));
        return d ? *d : std::string("<missing>");
    }
    // The n-th record of a tab's index, parsed by the store's reader.
    store::RecordView record(Tab& tab, int n) {
        indexBytes = index(tab);
        size_t pos = store::kIndexHeaderSize;
        store::RecordView v;
        for (int k = 0; k <= n; ++k) {
            EXPECT_TRUE(store::parseRecord(indexBytes, pos, v)) << k;
            if (k < n) pos += v.length;
        }
        return v;
    }
    AnalyzeOutcome analyze(std::string_view text, uint32_t size = 1234,
                           AnalyzeMode mode = AnalyzeMode::Received) {
        ServerEntry e{};
        e.number = 1;
        e.size = size;
        return mailAnalyze(ctx, text, e, mode);
    }

    test::TestEnv t;
    store::TabRegistry tabs;
    AnalyzeContext ctx{t.env, tabs};
    Account account{};
    int temporaryRequests = 0;
    std::string indexBytes;
};

// The part lines of a stored file: each offset must be where the part's header lines start, right
// after the CR LF of a boundary line.
struct PartLine {
    std::string info;
    size_t offset;
};
std::vector<PartLine> partLines(const std::string& file) {
    std::vector<PartLine> out;
    const size_t headerEnd = file.find("\r\n\r\n");
    size_t pos = 0;
    while ((pos = file.find("\nX-PartInfo: ", pos)) != std::string::npos && pos < headerEnd) {
        const size_t end = file.find("\r\n", pos);
        const std::string line = file.substr(pos + 1, end - pos - 1);
        const size_t lastSemi = line.rfind("; ");
        out.push_back({line.substr(0, lastSemi + 2), std::stoul(line.substr(lastSemi + 2))});
        pos = end;
    }
    return out;
}
void expectOffsetsAtParts(const std::string& file, const std::vector<PartLine>& lines,
                          const std::vector<std::string>& partHeads) {
    ASSERT_EQ(lines.size(), partHeads.size());
    for (size_t k = 0; k < lines.size(); ++k) {
        const size_t off = lines[k].offset;
        ASSERT_LT(off, file.size()) << k;
        EXPECT_EQ(file.compare(off, partHeads[k].size(), partHeads[k]), 0)
            << k << ": " << file.substr(off, 40);
        ASSERT_GE(off, 2u);
        EXPECT_EQ(file.substr(off - 2, 2), "\r\n") << k;
        const size_t lineStart = file.rfind('\n', off - 3);
        EXPECT_EQ(file.substr(lineStart + 1, 2), "--") << k;
    }
}

TEST(MailAnalyze, SingleIso2022JpMessageIsStoredInShiftJisWithItsRecord) {
    Folder f;
    const std::string text =
        "\nFrom: Taro <taro@example.jp>\r\nTo: me@example.jp\r\nSubject: test\r\n"
        "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
        "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
        "\x1b$B$3$s$K$A$O\x1b(B\r\nline two\r\n.\r\n";
    const AnalyzeOutcome o = f.analyze(text);
    EXPECT_EQ(o.kind, AnalyzeOutcome::Stored);
    EXPECT_FALSE(o.partial);
    EXPECT_EQ(f.file(f.receive(), 0),
              std::string(kStatus) +
                  "From: Taro <taro@example.jp>\r\nTo: me@example.jp\r\nSubject: test\r\n"
                  "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n"
                  "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
                  "こんにちは\r\nline two\r\n.\r\n");
    // The record, byte for byte: number, state, mark, stored time, Date:, offset, size,
    // attachments, account, the five texts.
    std::string expected("\0\0\0\0", 4);
    expected += le32(kNow) + le32(1796605200) + le32(256) + le32(1234);
    expected += std::string("\0\x03\x0C", 3);
    expected += "Taro\x0Ctaro@example.jp\x0Ctest\x0C\x0C\x01";
    EXPECT_EQ(f.index(f.receive()).substr(store::kIndexHeaderSize), expected);
    EXPECT_EQ(f.receive().nextFileNo, 1);
    EXPECT_EQ(f.t.ini->read("0", "NextFileNo").value_or(""), "1");
    EXPECT_EQ(f.receive().allMailCount, 1);
    EXPECT_EQ(f.receive().noReadMailCount, 1);
    EXPECT_EQ(f.receive().newMailCount, 1);
}

TEST(MailAnalyze, MixedTextAndBase64AttachmentGetsPartLinesAndReadableEnd) {
    Folder f;
    const std::string attachment = "SGVsbG8sIHdvcmxkIQ==\r\n";
    const std::string text =
        "\nFrom: a@example.jp\r\nTo: b@example.jp\r\nSubject: mixed\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"XyZ\"\r\n\r\n"
        "preamble\r\n--XyZ\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nbody text\r\n"
        "--XyZ\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        attachment + "--XyZ--\r\n.\r\n";
    f.analyze(text);
    const std::string file = f.file(f.receive(), 0);
    const auto lines = partLines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].info, "X-PartInfo: text/plain; ");
    EXPECT_EQ(lines[1].info, "X-PartInfo: application/octet-stream; name=data.bin; ");
    expectOffsetsAtParts(file, lines,
                         {"Content-Type: text/plain", "Content-Type: application/octet-stream"});
    // The part lines close the header block.
    EXPECT_NE(file.find("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XyZ\"\r\n"
                        "X-PartInfo: text/plain; "),
              std::string::npos);
    // rd= is where the attachment part starts, blank-padded to its field.
    const std::string rd = std::to_string(lines[1].offset);
    EXPECT_EQ(file.substr(26, 22), " rd=" + rd + std::string(18 - rd.size(), ' '));
    EXPECT_EQ(file.substr(5, 7), "0.1.0.0");
    EXPECT_NE(file.find("\r\n\r\n" + attachment + "--XyZ--\r\n.\r\n"), std::string::npos);
    const store::RecordView r = f.record(f.receive(), 0);
    EXPECT_EQ(r.state, 1);
    EXPECT_EQ(r.attachments, 1);
    EXPECT_EQ(r.account, mail::kUnmatchedAccount);  // b@ is not one of the accounts
    EXPECT_EQ(r.texts[4], "b@example.jp");
}

std::string alternative(std::string_view boundary) {
    std::string b(boundary);
    return "--" + b + "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nplain\r\n--" + b +
           "\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>html</p>\r\n--" + b + "--\r\n";
}

// Which parts get part lines, the kind digit of the status line, where rd= points and how many
// attachments the record counts.
TEST(MailAnalyze, PartLinesKindAndAttachmentsFollowTheStructure) {
    const struct {
        const char* label;
        std::string headers, body;
        std::vector<std::string> parts;  // how the parts with part lines start
        const char* kind;                // st= second digit; null: not checked
        int rdPart;                      // the part rd= points at; -1 "all", -2 not checked
        int attachments;                 // -1 not checked
    } cases[] = {
        {"alternative: the plain part is readable",
         "multipart/alternative; boundary=alt1",
         alternative("alt1"),
         {"Content-Type: text/plain", "Content-Type: text/html"},
         "1",
         1,
         1},
        {"nested: leaf parts only",
         "multipart/mixed; boundary=\"outer\"",
         "--outer\r\nContent-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n" +
             alternative("inner") +
             "\r\n--outer\r\nContent-Type: image/png; name=\"a.png\"\r\n"
             "Content-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n--outer--\r\n",
         {"Content-Type: text/plain", "Content-Type: text/html", "Content-Type: image/png"},
         nullptr,
         -2,
         2},
        {"no closing boundary: no part lines",
         "multipart/mixed; boundary=b1",
         "--b1\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
         "--b1\r\nContent-Type: application/pdf; name=x.pdf\r\n\r\nJVBERi0=\r\n",
         {},
         "0",
         -1,
         0},
        {"a digest keeps rd=all",
         "multipart/digest; boundary=d",
         "--d\r\nContent-Type: text/plain\r\n\r\none\r\n--d\r\nContent-Type: message/rfc822"
         "\r\n\r\nSubject: inner\r\n\r\ntwo\r\n--d--\r\n",
         {"Content-Type: text/plain", "Content-Type: message/rfc822"},
         nullptr,
         -1,
         -1},
        {"single HTML part is kind 2", "TEXT/HTML", "<b>x</b>\r\n", {}, "2", -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Folder f;
        f.analyze("\nFrom: a@example.jp\r\nContent-Type: " + c.headers + "\r\n\r\n" + c.body +
                  ".\r\n");
        const std::string file = f.file(f.receive(), 0);
        const auto lines = partLines(file);
        expectOffsetsAtParts(file, lines, c.parts);
        const store::RecordView r = f.record(f.receive(), 0);
        if (c.kind) {
            EXPECT_EQ(file.substr(5, 3), std::string("0.") + c.kind);
            EXPECT_EQ(r.state, c.kind[0] - '0');
        }
        if (c.rdPart > -2) {
            const std::string rd = c.rdPart < 0 ? "all" : std::to_string(lines[c.rdPart].offset);
            EXPECT_EQ(file.substr(26, 22), " rd=" + rd + std::string(18 - rd.size(), ' '));
        }
        if (c.attachments >= 0) {
            EXPECT_EQ(r.attachments, c.attachments);
        }
        EXPECT_NE(file.find(c.body + ".\r\n"), std::string::npos);  // the body as it came
    }
}

TEST(MailAnalyze, PartialPieceIsStoredUndecodedAndReported) {
    Folder f;
    const std::string body = "From: x@example.jp\r\nSubject: whole\r\n\r\n=1B$B$3=1B(B\r\n";
    const std::string text =
        "\nFrom: a@example.jp\r\nSubject: piece\r\n"
        "Content-Type: Message/Partial; id=\"abc@example\"; number=1; total=2\r\n\r\n" +
        body + ".\r\n";
    const AnalyzeOutcome o = f.analyze(text);
    EXPECT_TRUE(o.partial);
    const std::string file = f.file(f.receive(), 0);
    EXPECT_EQ(file.substr(file.size() - body.size() - 3), body + ".\r\n");
}

// Exactly what is stored behind the status line, and the subject the index takes from it.
TEST(MailAnalyze, StoredLinesEndInCrLfAndNulBytesBecomeBlanks) {
    const struct {
        const char* label;
        std::string in, stored, subject;
    } cases[] = {
        {"lone LF", "\nFrom: a@example.jp\nSubject: eol\n\none\ntwo\n.\n",
         "From: a@example.jp\r\nSubject: eol\r\n\r\none\r\ntwo\r\n.\r\n", "eol"},
        {"lone CR", "\nFrom: a@example.jp\rSubject: eol\r\rone\rtwo\r.\r",
         "From: a@example.jp\r\nSubject: eol\r\n\r\none\r\ntwo\r\n.\r\n", "eol"},
        {"NUL bytes",
         std::string("\nFrom: a@example.jp\r\nSubject: n\0l\r\n\r\nbefore\0after\r\n.\r\n", 54),
         "From: a@example.jp\r\nSubject: n l\r\n\r\nbefore after\r\n.\r\n", "n l"},
        {"no end of the header block: an empty body", "\nFrom: a@example.jp\r\nSubject: s\r\n.\r\n",
         "From: a@example.jp\r\nSubject: s\r\n\r\n.\r\n", "s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Folder f;
        f.analyze(c.in);
        EXPECT_EQ(f.file(f.receive(), 0), kStatus + c.stored);
        EXPECT_EQ(f.record(f.receive(), 0).texts[2], c.subject);
    }
}

TEST(MailAnalyze, IndexTextsNeverHoldControlBytesAndAreCutOnCharacters) {
    Folder f;
    // A TAB and a BEL inside an encoded word decode into the subject.
    std::string kanji;
    for (int i = 0; i < 300; ++i)
        kanji += "漢";
    const std::string text =
        "\nFrom: x@example.jp\r\nSubject: =?UTF-8?Q?a=09b=07c?=\r\n"
        "X-Mailer: " +
        kanji + "\r\n\r\nbody\r\n.\r\n";
    f.analyze(text);
    const store::RecordView r = f.record(f.receive(), 0);
    EXPECT_EQ(r.texts[2], "a b c");
    // The mailer is cut to 62 bytes: 31 whole characters.
    EXPECT_EQ(r.texts[3].size(), 62u);
    EXPECT_EQ(r.texts[3], kanji.substr(0, 62));
    for (int k = 0; k < store::kTextCount; ++k) {
        for (char c : r.texts[k])
            EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << k;
    }
}

TEST(MailAnalyze, CharsetAndTransferEncodingAreReadWithoutCase) {
    Folder f;
    // "こんにちは" in UTF-8, Base64, with the charset as the second parameter.
    const std::string text =
        "\nFrom: a@example.jp\r\nSubject: utf\r\n"
        "Content-Type: Text/Plain; format=flowed; Charset=\"UTF-8\"\r\n"
        "Content-Transfer-Encoding: BASE64\r\n\r\n44GT44KT44Gr44Gh44Gv\r\n.\r\n";
    f.analyze(text);
    const std::string file = f.file(f.receive(), 0);
    EXPECT_NE(file.find("\r\n\r\nこんにちは"), std::string::npos) << file;
}

TEST(MailAnalyze, DeeplyNestedMultipartsStayBoundedAndWhole) {
    Folder f;
    std::string body = "--b0\r\nContent-Type: text/plain\r\n\r\nleaf\r\n--b0--\r\n";
    for (int depth = 1; depth < 60; ++depth) {
        const std::string b = "b" + std::to_string(depth);
        const std::string inner = "b" + std::to_string(depth - 1);
        body = "--" + b + "\r\nContent-Type: multipart/mixed; boundary=" + inner + "\r\n\r\n" +
               body + "--" + b + "--\r\n";
    }
    const std::string text =
        "\nFrom: a@example.jp\r\nContent-Type: multipart/mixed; boundary=b59\r\n\r\n" + body +
        ".\r\n";
    EXPECT_EQ(f.analyze(text).kind, AnalyzeOutcome::Stored);
    const std::string file = f.file(f.receive(), 0);
    // Everything of the body is there, the innermost text copied as it stood.
    EXPECT_NE(file.find("\r\n\r\nleaf\r\n--b0--\r\n"), std::string::npos);
    EXPECT_NE(file.find("--b59--\r\n.\r\n"), std::string::npos);
}

TEST(MailAnalyze, PartOffsetsStayRightWhenTheLinesPushThemPastADigit) {
    // Header padding moves the parts across 1,000 and 10,000 bytes; wherever the part lines push
    // an offset to one more digit, the offsets must still point at the parts.
    for (size_t pad :
         {850u, 870u, 880u, 890u, 900u, 905u, 910u, 920u, 9800u, 9860u, 9880u, 9900u}) {
        Folder f;
        const std::string text =
            "\nFrom: a@example.jp\r\nX-Pad: " + std::string(pad, 'p') +
            "\r\nContent-Type: multipart/mixed; boundary=zz\r\n\r\n"
            "--zz\r\nContent-Type: text/plain\r\n\r\nt\r\n"
            "--zz\r\nContent-Type: application/x-a; name=a\r\n\r\nAAAA\r\n"
            "--zz\r\nContent-Type: application/x-b; name=b\r\n\r\nBBBB\r\n--zz--\r\n.\r\n";
        f.analyze(text);
        const std::string file = f.file(f.receive(), 0);
        expectOffsetsAtParts(file, partLines(file),
                             {"Content-Type: text/plain", "Content-Type: application/x-a",
                              "Content-Type: application/x-b"});
    }
}

// A full receive tab asks for a temporary tab; the mail goes there, or the run stops without one.
TEST(MailAnalyze, FullReceiveTabAsksForATemporaryTab) {
    for (bool made : {true, false}) {
        SCOPED_TRACE(made);
        Folder f;
        f.receive().nextFileNo = 10000;
        Tab* const full = &f.receive();
        f.ctx.requestTemporaryTab = [&] {
            ++f.temporaryRequests;
            if (made) {
                ASSERT_TRUE(f.tabs.create(f.t.env, store::CreateMode::BasicTemporary));
            }
        };
        const AnalyzeOutcome o = f.analyze("\nFrom: a@example.jp\r\n\r\nx\r\n.\r\n");
        EXPECT_EQ(f.temporaryRequests, 1);
        if (made) {
            ASSERT_EQ(o.kind, AnalyzeOutcome::Stored);
            EXPECT_NE(o.tab, full);
            EXPECT_EQ(o.tab, &f.receive());
            EXPECT_NE(f.file(*o.tab, 0), "<missing>");
        } else {
            EXPECT_EQ(o.kind, AnalyzeOutcome::FailedStop);
            EXPECT_EQ(f.t.reporter.lastText(), kTemporaryTabFailed);
            EXPECT_EQ(f.index(*full).size(), store::kIndexHeaderSize);
        }
    }
}

TEST(MailAnalyze, DiscardingRuleStoresNothing) {
    Folder f;
    int asked = 0;
    f.ctx.receiveRules = [&](const rules::RuleSubject& s, RuleResult&) {
        ++asked;
        EXPECT_EQ(s.messageSize, 1234u);
        EXPECT_EQ(std::string(s.header->subject), "spam");
        return 1;
    };
    const AnalyzeOutcome o = f.analyze("\nFrom: a@example.jp\r\nSubject: spam\r\n\r\nx\r\n.\r\n");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(o.kind, AnalyzeOutcome::Discarded);
    EXPECT_EQ(f.file(f.receive(), 0), "<missing>");
    EXPECT_EQ(f.receive().nextFileNo, 0);
}

TEST(MailAnalyze, RuleSeesDecodedBodyTextAndSetsStatusDigits) {
    struct Case {
        int setRead, setMark, setColour;
        const char* digits;  // st= of the file
        uint8_t state, markColour;
    };
    const Case cases[] = {
        {1, 0, 0, "0.3.0.0", 3, 0},   {0, 1, 0, "0.0.1.0", 0, 0x10},  {0, 0, 9, "0.0.0.9", 0, 9},
        {0, 0, 12, "0.0.0.C", 0, 12}, {1, 1, 15, "0.3.1.0", 3, 0x1F},
    };
    for (const Case& c : cases) {
        Folder f;
        std::string seen;
        f.ctx.receiveRules = [&](const rules::RuleSubject& s, RuleResult& r) {
            for (const rules::TextPiece& p : s.body)
                seen.append(p.start, p.end);
            r.setRead = c.setRead;
            r.setMark = c.setMark;
            r.setColour = c.setColour;
            return 0;
        };
        f.analyze(
            "\nFrom: a@example.jp\r\nContent-Type: text/plain; charset=iso-2022-jp\r\n\r\n"
            "\x1b$B$3$s\x1b(B\r\n.\r\n");
        EXPECT_EQ(seen, "こん\r\n.\r\n");
        EXPECT_EQ(f.file(f.receive(), 0).substr(5, 7), c.digits);
        const store::RecordView r = f.record(f.receive(), 0);
        EXPECT_EQ(r.state, c.state);
        EXPECT_EQ(r.markColour, c.markColour);
        EXPECT_EQ(f.receive().noReadMailCount, c.setRead ? 0 : 1);
        EXPECT_EQ(f.receive().newMailCount, c.setRead ? 0 : 1);
    }
}

// Where a rule's tab sends the message: moved or copied to another tab; a full tab or the basic
// receive tab itself is ignored and the message stays in the receive tab, once.
TEST(MailAnalyze, RuleTabsMoveOrCopyAndFullOrOwnTabsAreIgnored) {
    const struct {
        const char* label;
        char target;  // 'o' another tab, 'f' a full one, 'r' the receive tab
        int32_t moveOrCopy;
        bool inTarget, inReceive;
    } cases[] = {
        {"move", 'o', 0, true, false},
        {"copy", 'o', 1, true, true},
        {"a full tab is ignored", 'f', 0, false, true},
        {"the receive tab itself", 'r', 0, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Folder f;
        auto other = f.tabs.create(f.t.env, store::CreateMode::NewTab, "仕事");
        ASSERT_TRUE(other);
        if (c.target == 'f') (*other)->nextFileNo = 10000;
        Tab* const target = c.target == 'r' ? &f.receive() : *other;
        f.ctx.receiveRules = [&](const rules::RuleSubject&, RuleResult& r) {
            r.targetTab = target;
            r.moveOrCopy = c.moveOrCopy;
            return 0;
        };
        EXPECT_EQ(f.analyze("\nFrom: a@example.jp\r\n\r\nx\r\n.\r\n").kind, AnalyzeOutcome::Stored);
        EXPECT_EQ(f.file(*target, 0) != "<missing>", c.inTarget);
        EXPECT_EQ(f.file(f.receive(), 0) != "<missing>", c.inReceive);
        EXPECT_EQ(f.file(f.receive(), 1), "<missing>");
        EXPECT_EQ(f.receive().allMailCount, c.inReceive ? 1 : 0);
        if (c.target == 'o') {
            EXPECT_EQ(f.record(*target, 0).fileNo, 0);
            EXPECT_EQ(target->allMailCount, 1);
        }
    }
}

struct FakeResponder final : rules::AutoResponder {
    bool reply(const rules::AutoRequest& r) override {
        replies.push_back(r.storedText);
        templates.push_back(r.templateName);
        numbers.push_back(r.fileNo);
        return succeed;
    }
    bool forward(const rules::AutoRequest& r) override {
        forwards.push_back(r.storedText);
        return succeed;
    }
    bool succeed = true;
    std::vector<std::string> replies, forwards, templates;
    std::vector<int> numbers;
};

// A receive rule that replies with "お礼" and forwards every message.
void answerAll(Folder& f, FakeResponder& responder) {
    ASSERT_EQ(store::readIndex(f.t.env, f.receive(), f.ctx.index), Err::None);
    f.ctx.responder = &responder;
    f.ctx.receiveRules = [](const rules::RuleSubject&, RuleResult& r) {
        sjis::copyField(r.replyTemplate, "お礼");
        r.forwardKind = 1;
        return 0;
    };
}

TEST(MailAnalyze, AutomaticReplyGetsItsOwnCopiesAndMarksTheMessageReplied) {
    for (bool succeed : {true, false}) {
        Folder f;
        FakeResponder responder;
        responder.succeed = succeed;
        answerAll(f, responder);
        const AnalyzeOutcome o = f.analyze("\nFrom: a@example.jp\r\n\r\nx\r\n.\r\n");
        EXPECT_EQ(o.kind, AnalyzeOutcome::Stored);
        const std::string file = f.file(f.receive(), 0);
        ASSERT_EQ(responder.replies.size(), 1u);
        EXPECT_EQ(responder.replies[0], file);
        EXPECT_EQ(responder.forwards.size(), 1u);
        EXPECT_EQ(responder.templates[0], "お礼");
        EXPECT_EQ(responder.numbers[0], 0);
        EXPECT_EQ(file.substr(5, 3), "0.6");
        // Replied mail is no arrival unless SinchakuIcon says so.
        ASSERT_NE(f.receive().items.next, nullptr);
        EXPECT_EQ(f.receive().items.next->newMark, 0);
        if (succeed) {
            EXPECT_TRUE(f.t.reporter.shown().empty());
        } else {
            ASSERT_EQ(f.t.reporter.shown().size(), 2u);
            EXPECT_EQ(f.t.reporter.shown()[0].text, kAutoReplyFailed);
            EXPECT_EQ(f.t.reporter.shown()[1].text, kAutoForwardFailed);
        }
    }
}

TEST(MailAnalyze, AutomaticListBounceAndOwnMailIsStoredButNeverAnswered) {
    const char* const unanswered[] = {
        "From: a@example.jp\r\nAuto-Submitted: auto-replied\r\n",
        "From: a@example.jp\r\nPrecedence: bulk\r\n",
        "From: a@example.jp\r\nList-Id: <news.example.jp>\r\n",
        "From: a@example.jp\r\nReturn-Path: <>\r\n",
        "From: MAILER-DAEMON@example.jp\r\n",
        "From: Me <me@example.jp>\r\n",
    };
    for (const char* headers : unanswered) {
        Folder f;
        FakeResponder responder;
        answerAll(f, responder);
        const AnalyzeOutcome o = f.analyze(std::string("\n") + headers + "\r\nx\r\n.\r\n");
        EXPECT_EQ(o.kind, AnalyzeOutcome::Stored) << headers;
        EXPECT_TRUE(responder.replies.empty()) << headers;
        EXPECT_TRUE(responder.forwards.empty()) << headers;
        // Stored as new, unread mail: not marked replied.
        EXPECT_EQ(f.file(f.receive(), 0).substr(5, 3), "0.0") << headers;
        ASSERT_NE(f.receive().items.next, nullptr);
        EXPECT_EQ(f.receive().items.next->newMark, 2) << headers;
    }
}

TEST(MailAnalyze, AccountIsFoundInToThenDeliveredToThenReceived) {
    Account first{}, second{};
    first.number = 3;
    sjis::copyField(first.mailAddress, "me@example.jp");
    first.next = &second;
    second.number = 7;
    sjis::copyField(second.mailAddress, "other@example.jp");
    const struct {
        const char* headers;
        uint8_t account;
    } cases[] = {
        {"To: Me <me@example.jp>\r\n", 3},
        {"To: list@example.jp\r\nDelivered-To: other@example.jp\r\n", 7},
        {"To: list@example.jp\r\nDelivered-To: nobody@example.jp\r\n"
         "Received: from x by y for <me@example.jp>\r\n",
         mail::kUnmatchedAccount},
        {"To: list@example.jp\r\nReceived: from x by y for <other@example.jp>\r\n", 7},
        {"Received: from x by y for <me@example.jp>\r\n", mail::kUnmatchedAccount},
    };
    for (const auto& c : cases) {
        std::string text = std::string("\nFrom: a@example.jp\r\n") + c.headers + "\r\nx\r\n.\r\n";
        std::vector<char> src(text.begin(), text.end());
        src.resize(src.size() + kHeadRepairRoom, '\0');
        std::vector<char> copy(headerCopyMax(text.size()));
        HeaderInfo h{};
        getHead(src, text.size(), copy, h);
        EXPECT_EQ(matchAccount(h, &first), c.account) << c.headers;
    }
}

TEST(MailAnalyze, OutgoingCopyGoesToTheLastTabWithTheRecipientAsOtherParty) {
    Folder f;
    bool asked = false;
    f.ctx.receiveRules = [&](const rules::RuleSubject&, RuleResult&) {
        asked = true;
        return 1;
    };
    const AnalyzeOutcome o = f.analyze(
        "\nFrom: Me <me@example.jp>\r\nTo: Hanako <hanako@example.jp>\r\nSubject: s\r\n\r\nx\r\n"
        ".\r\n",
        10, AnalyzeMode::OutgoingCopy);
    EXPECT_FALSE(asked);
    ASSERT_EQ(o.kind, AnalyzeOutcome::Stored);
    Tab* last = f.tabs.first();
    while (last->next && last->next != f.tabs.listHead())
        last = last->next;
    EXPECT_EQ(o.tab, last);
    const store::RecordView r = f.record(*last, 0);
    EXPECT_EQ(r.state, 0x14);
    EXPECT_EQ(r.texts[0], "Hanako");
    EXPECT_EQ(r.texts[1], "hanako@example.jp");
    EXPECT_EQ(r.texts[4], "me@example.jp");
    EXPECT_EQ(r.account, mail::kUnmatchedAccount);
    EXPECT_EQ(f.file(*last, 0).substr(5, 3), "1.4");
}

// Incoming lines that readers would take for part lines are dropped, others kept, and none is
// counted or pointed at.
TEST(MailAnalyze, ForgedPartInfoHeadersAreNotTakenForPartLines) {
    Folder f;
    f.analyze(
        "\nFrom: a@example.jp\r\nX-PartInfo: text/plain; 9999\r\n"
        "Content-Type: multipart/mixed; boundary=q\r\n\r\n"
        "--q\r\nX-PartInfo: image/gif; 1\r\nContent-Type: text/plain\r\n\r\nt\r\n--q--\r\n.\r\n");
    f.analyze(
        "\nFrom: a@example.jp\r\nx-PARTINFO: text/plain; 7777\r\nX-Partinfo: kept; 8888\r\n"
        "\r\nbody\r\n.\r\n");
    const std::string file = f.file(f.receive(), 0), other = f.file(f.receive(), 1);
    expectOffsetsAtParts(file, partLines(file), {"Content-Type: text/plain"});
    EXPECT_EQ(file.find("9999"), std::string::npos);
    EXPECT_EQ(other.find("7777"), std::string::npos);
    EXPECT_NE(other.find("X-Partinfo: kept; 8888\r\n"), std::string::npos);
    HeaderInfo h{};
    readStoredHeader(std::string_view(other).substr(store::kStatusLineSize - 1), h);
    EXPECT_EQ(h.partCount, 0);
}

TEST(MailAnalyze, StoredTimeIsWhatARebuildDerivesInAnyZone) {
    for (int64_t offset : {9 * 3600, 0, -5 * 3600, 13 * 3600 + 45 * 60}) {
        SCOPED_TRACE(offset);
        Folder f;
        f.t.clock = test::FakeClock(kNow + 17, offset);  // 17 s past the minute
        const AnalyzeOutcome o = f.analyze("\nFrom: a@example.jp\r\nSubject: t\r\n\r\nx\r\n.\r\n");
        ASSERT_EQ(o.kind, AnalyzeOutcome::Stored);
        const uint32_t derived = store::stampToSeconds(f.file(f.receive(), 0).substr(16, 10));
        EXPECT_NE(derived, 0u);
        EXPECT_EQ(f.record(f.receive(), 0).storedTime, derived);
        // In Japan's zone that is the moment itself, to the minute.
        if (offset == 9 * 3600) {
            EXPECT_EQ(derived, kNow);
        }
    }
}

}  // namespace
}  // namespace kolvy::mime
