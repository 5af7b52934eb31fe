// Templates, expansion, quoting, HTML to text, the Date line, the header check and the helpers
// of the composer, over texts and the stored forms of the corpus messages.
#include <gtest/gtest.h>

#include "compose/check.h"
#include "compose/composer.h"
#include "compose/expand.h"
#include "compose/templates.h"
#include "config/accounts.h"
#include "core/sjis.h"
#include "mime/analyze.h"
#include "platform/process.h"
#include "tests/support/failing_fs.h"
#include "tests/support/test_env.h"

namespace kolvy::compose {
namespace {

// The stored file text of a corpus message, as analysis writes it.
std::string storedCorpus(const std::string& name) {
    const std::string raw = test::readFile(std::string(KOLVY_COMPOSE_CORPUS) + "/" + name + ".eml");
    EXPECT_FALSE(raw.empty()) << name;
    return mime::analyzeText("\n" + raw + ".\r\n", "2612071030").fileText();
}

std::string storedText(std::string_view message) {
    return std::string("\f st=0.0.0.0 dt=2612071030 rd=all               \r\n") +
           std::string(message);
}

// ------------------------------------------------------------------------------ templates
TEST(Templates, FilesRoundTripByteForByte) {
    const std::vector<std::vector<Template>> lists = {
        {defaultTemplate(kReplyTemplate)},
        {{"基本", "From: $To\r\nTo: $ReplyTo\r\nSubject: Re: $Subject", "本文\r\n\r\n"},
         {"英語", "From: a@b.jp\r\nTo: \r\nSubject: ", ""},
         {"表", "Subject: 表示", "ソ\r\n$\">\"$Body"}},  // trail bytes 0x5C, 0x7C
        {{"x", "", ""}}};
    for (const auto& list : lists) {
        const std::string bytes = formatTemplates(list);
        EXPECT_EQ(parseTemplates(bytes), list);
        EXPECT_EQ(formatTemplates(parseTemplates(bytes)), bytes);
    }
}

TEST(Templates, FileLayoutAndFramingBytes) {
    const std::string bytes = formatTemplates({{"a", "H: 1\r\n\r\n", "B"}, {"b", "", ""}});
    EXPECT_EQ(bytes, std::string("\fa\r\nH: 1\r\n\x01") + "B\r\n\fb\r\n\r\n\x01\r\n");
    // Bytes that would break the framing never reach the file.
    const std::string odd = formatTemplates({{"n\r\x01m", "A\x01", "x\fy"}});
    EXPECT_EQ(parseTemplates(odd), (std::vector<Template>{{"nm", "A", "x y"}}));
    EXPECT_TRUE(parseTemplates("no form feed").empty());
}

TEST(Templates, DefaultsOfEveryKind) {
    struct Case {
        int kind;
        std::string file, header, body;
    } cases[] = {
        {kNewTemplate, "Template_New.txt", "From: $AcountPain\r\nTo: \r\nSubject: ", ""},
        {kReplyTemplate, "Template_Reply.txt", "From: $To\r\nTo: $ReplyTo\r\nSubject: Re: $Subject",
         "$FromNameさん\r\n\r\n$\">\"$Body"},
        {kForwardTemplate, "Template_Forwoad.txt",
         "From: $AcountPain\r\nTo: \r\nSubject: Fw: $Subject",
         "\r\n----これは転送メールです----\r\n\r\n$AllHeader\r\n\r\n$Body"},
        {kSignTemplate, "Template_Sign.txt", "",
         "\r\n********************************\r\n$AcountPain\r\n"
         "********************************\r\n"}};
    test::TestEnv t;
    for (const Case& c : cases) {
        EXPECT_EQ(templateFileName(c.kind), c.file);
        // No file yet.
        EXPECT_EQ(loadTemplates(t.env, c.kind),
                  (std::vector<Template>{{"基本", c.header, c.body}}));
    }
}

TEST(Templates, SavedListLoadsBackAndBrokenFileGivesDefault) {
    test::TestEnv t;
    const std::vector<Template> list = {
        {"基本", "From: $AcountPain\r\nTo: \r\nSubject: ", ""},
        {"社内", "From: $AcountPain\r\nTo: x@y.jp\r\nSubject: 報告", "各位\r\n"}};
    ASSERT_EQ(saveTemplates(t.env, kNewTemplate, list), Err::None);
    EXPECT_EQ(loadTemplates(t.env, kNewTemplate), list);
    EXPECT_EQ(t.read("Template_New.txt"), formatTemplates(list));
    t.write("Template_Reply.txt", "garbage");
    EXPECT_EQ(loadTemplates(t.env, kReplyTemplate)[0], defaultTemplate(kReplyTemplate));
}

TEST(Templates, SaveFailureAtAnyStepKeepsTheOldOrTheNewFileAndSaysSo) {
    test::TestEnv t;
    const std::vector<Template> list = {{"基本", "To: \r\nSubject: ", "本文\r\n"}};
    const std::string old = formatTemplates({defaultTemplate(kSignTemplate)});
    test::FailingFileSystem failing(*t.fs);
    test::EnvOver over(t, failing);
    test::failEachStep(
        failing,
        [&] {
            t.write("Template_Sign.txt", old);
            t.reporter.clear();
        },
        [&](int n) {
            const Err e = saveTemplates(over.env, kSignTemplate, list);
            EXPECT_EQ(t.read("Template_Sign.txt"), e == Err::None ? formatTemplates(list) : old)
                << n;
            EXPECT_EQ(t.reporter.shown().size(), e == Err::None ? 0u : 1u) << n;
            EXPECT_EQ(t.read("Template_Sign.txt.tmp"), "<missing>") << n;
        });
}

TEST(Templates, EditorNamingRules) {
    const std::vector<Template> list = {{"基本", "", ""}, {"社内", "", ""}};
    struct Case {
        std::string name;
        int index;
        const char* expect;
    } cases[] = {{"", -1, kTemplateNameMissing},
                 {"新規作成", -1, kTemplateNameMissing},
                 {"社内", -1, kTemplateNameTaken},
                 {"社内", 0, kTemplateNameTaken},
                 {"社内", 1, nullptr},
                 {"新しい", -1, nullptr}};
    for (const Case& c : cases) {
        const auto got = checkTemplateName(list, c.name, c.index);
        EXPECT_EQ(got ? std::string(*got) : "-", c.expect ? c.expect : "-") << c.name;
    }
}

// ------------------------------------------------------------------------------ expansion
struct Accounts {
    Accounts() {
        for (int i = 0; i < 3; ++i) {
            a[i] = config::blankAccount();
            a[i].number = i;
            if (i) a[i - 1].next = &a[i];
        }
        sjis::copyField(a[0].mailAddress, "");  // an account without address is skipped
        sjis::copyField(a[1].fromName, "受付");
        sjis::copyField(a[1].mailAddress, "info@example.jp");
        sjis::copyField(a[2].fromName, "鈴木");
        sjis::copyField(a[2].mailAddress, "Hanako@Example.jp");
    }
    Account a[3];
};

ExpandContext context(const Accounts& acc) {
    ExpandContext c;
    c.accounts = &acc.a[0];
    c.paneAccount = &acc.a[1];
    c.timeText = "26/12/07 (月) 10:30";
    return c;
}

TEST(Expand, EveryVariableAgainstAStoredMessage) {
    Accounts acc;
    auto m = SourceMessage::fromFile(
        storedText("From: \"山田 太郎\" <taro@example.com>\r\nTo: hanako@example.jp\r\n"
                   "Subject: 会議\r\nReply-To: list@example.org\r\nMessage-ID: <id1@x>\r\n"
                   "X-PartInfo: 0\r\n\r\n本文です。\r\n"));
    struct Case {
        std::string text, expect;
    } cases[] = {
        {"$AcountPain", "受付 <info@example.jp>"},
        {"$Time", "26/12/07 (月) 10:30"},
        {"$FromName", "山田 太郎"},
        {"x  $From", "x <taro@example.com>"},  // one of two blanks goes
        {"$To", "鈴木 <Hanako@Example.jp>"},   // the address compared without case
        {"$Subject", "会議"},
        {"$ReplyTo", "list@example.org"},
        {"$Body", "本文です。\r\n"},
        {"$AllHeader",
         "From: \"山田 太郎\" <taro@example.com>\r\nTo: hanako@example.jp\r\nSubject: 会議\r\n"
         "Reply-To: list@example.org\r\nMessage-ID: <id1@x>"},
        {"$Unknown!", "Unknown!"},
        {"100$", "100"}};
    for (const Case& c : cases)
        EXPECT_EQ(expand(c.text, context(acc), m.get(), true), c.expect) << c.text;
    // Without a body $Body and $AllHeader give nothing; without a message only two variables live.
    EXPECT_EQ(expand("[$Body$AllHeader]", context(acc), m.get(), false), "[]");
    EXPECT_EQ(expand("$AcountPain/$Subject/$Time", context(acc), nullptr, false),
              "受付 <info@example.jp>/Subject/26/12/07 (月) 10:30");
}

TEST(Expand, CorpusMessagesOfEachEncoding) {
    Accounts acc;
    struct Case {
        std::string name, subjectPart, bodyPart;
    } cases[] = {{"jis_7bit", "会議", ">こんにちは"},
                 {"utf8_base64_single", "", ">"},
                 {"utf8_qp_single", "", ">"},
                 {"alternative", "", ">"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto m = SourceMessage::fromFile(storedCorpus(c.name));
        const std::string subject(sjis::fieldView(m->info().subject));
        const std::string out =
            expand(defaultTemplate(kReplyTemplate).header, context(acc), m.get(), true);
        EXPECT_NE(out.find("Subject: Re: " + subject), std::string::npos) << out;
        EXPECT_EQ(out.find('\n', out.rfind("Subject:")), std::string::npos);
        EXPECT_TRUE(c.subjectPart.empty() || sjis::contains(subject, c.subjectPart));
        const std::string body =
            expand(defaultTemplate(kReplyTemplate).body, context(acc), m.get(), true);
        // Every line of the quoted body carries the prefix.
        const size_t quoted = body.find("\r\n\r\n") + 4;
        for (size_t p = quoted; p < body.size(); p = body.find("\r\n", p) + 2)
            EXPECT_EQ(body[p], '>') << body.substr(p, 20);
        EXPECT_TRUE(sjis::contains(body, c.bodyPart));
        EXPECT_EQ(body.substr(body.size() - 2), "\r\n");
    }
}

TEST(Expand, ReplyToMissingSubjectAndHtml) {
    Accounts acc;
    auto noSubject = SourceMessage::fromFile(
        storedText("From: Bob <bob@example.com>\r\nTo: info@example.jp\r\n\r\nhi\r\n"));
    const std::string h =
        expand(defaultTemplate(kReplyTemplate).header, context(acc), noSubject.get(), true);
    EXPECT_EQ(h, "From: 受付 <info@example.jp>\r\nTo: Bob <bob@example.com>\r\nSubject: Re: ");
    auto html = SourceMessage::fromFile(
        storedText("From: a@b.jp\r\nTo: info@example.jp\r\nContent-Type: text/html\r\n\r\n"
                   "   <html><body><p>One &amp;lt; two</p><br>end</body></html>\r\n"));
    EXPECT_EQ(expand("$Body", context(acc), html.get(), true), "One &lt; two\r\n\r\nend\r\n");
}

// A hostile subject or name cannot add a header line to a reply.
TEST(Expand, DecodedValuesCannotInjectHeaderLines) {
    Accounts acc;
    auto m = SourceMessage::fromFile(
        storedText("From: =?ISO-2022-JP?B?x?= <a@b.jp>\r\nTo: info@example.jp\r\n"
                   "Subject: hi\r\nReply-To: x@y.jp\r\n\r\nbody\r\n"));
    // The stored header reader hands decoded values through; put line breaks into them.
    HeaderInfo& info = const_cast<HeaderInfo&>(m->info());
    sjis::copyField(info.subject, "hi\r\nBcc: victim@evil.jp");
    std::string replyTo = "x@y.jp\r\nBcc: v2@evil.jp";
    info.replyToStart = replyTo.data();
    info.replyToEnd = replyTo.data() + replyTo.size();
    DraftRequest r;
    const Template t = defaultTemplate(kReplyTemplate);
    r.tmpl = &t;
    r.source = m.get();
    r.ruleMade = true;
    r.forwardFrom = "me@example.jp\nBcc: v3@evil.jp";
    const std::string draft = replyDraft(r, context(acc));
    const std::string header = draft.substr(0, draft.find("\r\n\r\n") + 2);
    EXPECT_EQ(header.find("\nBcc:"), std::string::npos) << header;
    EXPECT_NE(header.find("Subject: Re: hi  Bcc: victim@evil.jp\r\n"), std::string::npos);
    EXPECT_NE(header.find("Auto-Submitted: auto-replied\r\n"), std::string::npos);
    EXPECT_EQ(header.find('\0'), std::string::npos);
}

TEST(Quote, EveryPrefixLength) {
    Accounts acc;
    auto m = SourceMessage::fromFile(storedText("From: a@b.jp\r\n\r\nline1\r\n\r\nline3.\r\n"));
    for (std::string prefix : {"", ">", "> ", ">>>", "｜>", "＞＞"}) {
        const std::string form = "$\"" + prefix + "\"$Body";
        const std::string expect =
            prefix + "line1\r\n" + prefix + "\r\n" + prefix + "line3.\r\n";  // the period stays
        EXPECT_EQ(expand("Q:" + form, context(acc), m.get(), true), "Q:" + expect) << prefix;
    }
    // Five characters are not a prefix: the form is not recognised.
    EXPECT_EQ(expand("$\">>>>>\"$Body", context(acc), m.get(), true),
              "\">>>>>\"line1\r\n\r\nline3.\r\n");
}

TEST(Quote, OnlyALoneDotLineIsDropped) {
    struct Case {
        std::string body, expect;
    } cases[] = {{"end.\r\n", ">end.\r\n"},
                 {"a\r\n.\r\n", ">a\r\n"},
                 {"a\r\n.", ">a\r\n"},
                 {".", ">\r\n"},
                 {"a\r\n..\r\n", ">a\r\n>..\r\n"},
                 {"\r\n\r\n", ">\r\n"},
                 {"", ">\r\n"},
                 {"x\ny\n", ">x\r\n>y\r\n"}};
    for (const Case& c : cases)
        EXPECT_EQ(quoteBody(c.body, ">"), c.expect) << c.body;
}

// A body far larger than any fixed buffer is quoted whole.
TEST(Quote, FiveMegabyteBodyWithFourCharacterPrefix) {
    std::string body;
    const std::string line = std::string(70, 'x') + "\r\n";
    while (body.size() < 5u << 20)
        body += line;
    const std::string out = quoteBody(body, "> > ");
    const size_t lines = body.size() / line.size();
    EXPECT_EQ(out.size(), body.size() + lines * 4);
    EXPECT_EQ(out.substr(out.size() - 76), "> > " + line);
}

TEST(Html, ConversionTable) {
    struct Case {
        std::string html, expect;
        size_t limit = 10000;  // line length; double-byte characters count two
    } cases[] = {{"abcdef", "abcd\r\nef", 4},
                 {"ああa", "ああ\r\na", 4},
                 {"a  \t b", "a b"},
                 {"&nbsp;&#160;&#8220;x&#8221;", "   x "},
                 {"&copy;&quot;&amp;&lt;&gt;", "(c)\"&<>"},
                 {"&amp;amp;", "&amp;"},  // one level of escaping goes
                 {"a\r\n\r\nb", "ab"},
                 {"<style>p{}</style>x", "x"},
                 {"<strong>kept</strong>", "kept\r\n"},
                 {"<head><title>T</title><meta></head>b", "T\r\nb"},
                 {"<head><OHE><title>T</title></head>b", "T\r\nb"},  // 'O' is no '/'
                 {"<b>bold</b>", "bold\r\n"},
                 {"<table><tr><td>c</td></tr></table>", "c\r\n\r\n"},
                 {"a<br>b<BR>c", "a\r\nb\r\nc"},
                 {"a</p></p></p></p></p>b", "a\r\n\r\n\r\nb"},
                 {"a<br>　全角", "a　全角"},
                 {"<p>unterminated", "unterminated"},
                 {"x<", "x"}};
    for (const Case& c : cases)
        EXPECT_EQ(htmlToText(c.html, c.limit), c.expect) << c.html;
}

TEST(DateLine, Format) {
    const std::pair<platform::LocalTime, const char*> cases[] = {
        {{2026, 3, 9, 7, 5, 9, 1}, "Date: Mon, 9 Mar 2026 07:05:09 +0900\r\n"},
        {{2026, 12, 31, 23, 5, 9, 6}, "Date: Sat, 31 Dec 2026 23:05:09 +0900\r\n"}};
    for (const auto& [time, line] : cases)
        EXPECT_EQ(dateLine(time), line);
}

TEST(Drafts, ReplyForwardAndResend) {
    Accounts acc;
    auto m = SourceMessage::fromFile(
        storedText("From: Bob <bob@example.com>\r\nTo: info@example.jp\r\nSubject: S\r\n"
                   "Message-ID: <m1@example.com>\r\nContent-Type: text/html\r\n\r\n<p>hi</p>\r\n"));
    DraftRequest r;
    r.source = m.get();
    r.now.year = 2026;
    const Template reply = defaultTemplate(kReplyTemplate);
    r.tmpl = &reply;
    const std::string d = replyDraft(r, context(acc));
    EXPECT_EQ(d.substr(0, d.find("Date:")),
              "From: 受付 <info@example.jp>\r\nTo: Bob <bob@example.com>\r\nSubject: Re: S\r\n");
    EXPECT_NE(d.find("+0900\r\nIn-Reply-To: <m1@example.com>\r\nReferences: <m1@example.com>\r\n"
                     "\r\nBobさん\r\n\r\n>hi\r\n"),
              std::string::npos)
        << d;
    EXPECT_EQ(d.find("Auto-Submitted"), std::string::npos);
    const Template fw = defaultTemplate(kForwardTemplate);
    r.tmpl = &fw;
    r.forwardFrom = "info@example.jp";
    r.forwardTo = "boss@example.jp";
    const std::string f = forwardDraft(r, context(acc));
    EXPECT_EQ(f.substr(0, f.find("Date:")),
              "From: info@example.jp\r\nTo: boss@example.jp\r\nSubject: Fw: S\r\n");
    EXPECT_EQ(f.find("In-Reply-To"), std::string::npos);
    EXPECT_NE(f.find("----これは転送メールです----\r\n\r\nFrom: Bob"), std::string::npos);
    EXPECT_EQ(resendDraft(*m, "boss@example.jp", "info@example.jp", false),
              "Resent-To: boss@example.jp\r\nResent-From: info@example.jp\r\n"
              "X-Content-Type: html\r\n" +
                  std::string(m->message()));
}

// ------------------------------------------------------------------------------ header check
TEST(HeaderCheck, ModesAndMessages) {
    const std::string base = "From: a@b.jp\r\nTo: c@d.jp\r\nSubject: s\r\n";
    auto missing = [](const char* pattern, const char* name) {
        std::string s(pattern);
        return s.replace(s.find("%s"), 2, name);
    };
    struct Case {
        std::string text;
        CheckMode mode;
        std::string message;
        NoAddress noAddress = NoAddress::None;
    } cases[] = {
        {base + "\r\nbody", CheckMode::Draft, ""},
        {base + "X-Face: x\r\n\r\n", CheckMode::Draft, ""},
        {base + "X-Mailer: m\r\n\r\n", CheckMode::Draft, kAutomaticHeaders},
        {base + "Message-ID: <x>\r\n", CheckMode::ReplyDraft, kAutomaticHeaders},
        {base + "In-Reply-To: <x>\r\nReferences: <x>\r\n", CheckMode::ReplyDraft, ""},
        {base + "In-Reply-To: <x>\r\n", CheckMode::Draft, kAutomaticHeaders},
        {base + "Date: x\r\n", CheckMode::Draft, ""},
        {base + "Date: x\r\n", CheckMode::Template, kAutomaticHeaders},
        {base + "Received: x\r\n", CheckMode::Draft, kUnknownHeader},
        {base + "Received: x\r\nMessage-ID: <x>\r\n", CheckMode::EditedDraft, ""},
        {"To: c@d.jp\r\nSubject: s\r\n", CheckMode::Draft, missing(kMissingDraft, "From:")},
        {"From: a@b.jp\r\nSubject: s\r\n", CheckMode::Template, missing(kMissingTemplate, "To:")},
        {"From: a@b.jp\r\nTo: c@d.jp\r\n\r\nSubject: s\r\n", CheckMode::Draft,
         missing(kMissingDraft, "Subject:")},
        {base + "Subject: t\r\n", CheckMode::Draft, kDuplicateHeaders},
        {"From: a@b.jp, e@f.jp\r\nTo: c@d.jp\r\nSubject: s\r\n", CheckMode::Draft,
         kSeveralFromAddresses},
        {"From: $AcountPain\r\nTo: $ReplyTo\r\nSubject: \r\n", CheckMode::NewTemplate,
         kNewTemplateVariables},
        {"From: $AcountPain\r\nTo: \r\nSubject: \r\n", CheckMode::NewTemplate, ""},
        {"From: a@b.jp\r\nTo: \r\nSubject: s\r\n", CheckMode::Draft, "", NoAddress::To},
        {base + "Cc: nobody\r\n", CheckMode::Draft, "", NoAddress::Cc},
        {"From: me\r\nTo: c@d.jp\r\nSubject: s\r\nBcc: x\r\n", CheckMode::Draft, "",
         NoAddress::From},
        {"From: a@b.jp\r\nTo: \r\nSubject: s\r\n", CheckMode::Template, ""},
        {"Resent-To: boss@x.jp\r\nResent-From: a@b.jp\r\nReceived: r\r\nTo: undisclosed\r\n",
         CheckMode::ResendDraft, ""},
        {"Resent-To: \r\nResent-From: a@b.jp\r\nFrom: x@y.jp\r\n", CheckMode::ResendDraft, "",
         NoAddress::ResentTo},
        {"Resent-From: a@b.jp\r\nFrom: x@y.jp\r\nTo: z@y.jp\r\nSubject: s\r\n",
         CheckMode::ResendDraft, missing(kMissingDraft, "Resent-To:")}};
    for (const Case& c : cases) {
        const HeaderCheck got = checkHeader(c.text, c.mode);
        EXPECT_EQ(got.message, c.message) << c.text;
        EXPECT_EQ(got.noAddress, c.noAddress) << c.text;
    }
    EXPECT_EQ(
        checkHeader("Resent-To: b@c.jp\r\nResent-From: Me <a@b.jp>\r\n\r\n", CheckMode::ResendDraft)
            .resentFrom,
        " Me <a@b.jp>");
}

// ------------------------------------------------------------------------------ helpers
TEST(Accounts, WholeAddressesOnly) {
    struct Case {
        std::string text, address;
        bool found;
    } cases[] = {{"a@b.jp", "a@b.jp", true},
                 {"aa@b.jp", "a@b.jp", false},
                 {"a@b.jp.evil", "a@b.jp", false},
                 {"<A@B.JP>", "a@b.jp", true},
                 {"for <a@b.jp>; Mon", "a@b.jp", true},
                 {"to a@b.jp.", "a@b.jp", true},
                 {"xa@b.jp", "a@b.jp", false},
                 {"a@b.jp", "", false}};
    for (const Case& c : cases)
        EXPECT_EQ(containsAddress(c.text, c.address), c.found) << c.text << " " << c.address;
    Accounts acc;
    EXPECT_EQ(accountByAddress(&acc.a[0], "hanako@example.JP"), &acc.a[2]);
    EXPECT_EQ(accountByAddress(&acc.a[0], "o@example.jp"), nullptr);
    EXPECT_EQ(accountByAddress(&acc.a[0], ""), nullptr);  // the account without address
}

TEST(EmlName, SafeFileNames) {
    struct Case {
        std::string subject, expect;
    } cases[] = {{"Re: [ml:123] a.b,c=d;e|f\"g/h\\i?*<>", "Re ml123 abcdefghi"},
                 {"", "temp"},
                 {"...", "temp"},
                 {"con", "_con"},
                 {"COM1", "_COM1"},
                 {"表示", "表示"},  // trail byte 0x5C is no backslash
                 {std::string(62, 'a') + "あ", std::string(62, 'a')},
                 {"ok  ", "ok"}};
    for (const Case& c : cases)
        EXPECT_EQ(emlBaseName(c.subject), c.expect) << c.subject;
}

TEST(Process, CommandLineQuoting) {
    const char* cases[][3] = {
        {"notepad.exe", "C:\\k\\_Tmp\\a b.txt", "notepad.exe \"C:\\k\\_Tmp\\a b.txt\""},
        {"C:\\Program Files\\ed\\ed.exe", "x", "\"C:\\Program Files\\ed\\ed.exe\" \"x\""},
        {"\"C:\\Program Files\\ed.exe\"", "x", "\"C:\\Program Files\\ed.exe\" \"x\""}};
    for (const auto& c : cases)
        EXPECT_EQ(platform::quotedCommandLine(c[0], c[1]), c[2]);
}

TEST(States, AnsweredStateKeepsOutgoingStates) {
    struct Case {
        uint8_t state;
        bool forward;
        uint8_t expect;
    } cases[] = {{0, false, 6}, {1, false, 7},  {5, false, 8},   {9, false, 6},  {0, true, 9},
                 {4, true, 10}, {16, true, 16}, {17, false, 17}, {18, true, 18}, {20, true, 20}};
    for (const Case& c : cases)
        EXPECT_EQ(answeredState(c.state, c.forward), c.expect);
}

}  // namespace
}  // namespace kolvy::compose
