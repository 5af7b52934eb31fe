// An answer made by a reply rule, end to end: a message received from the real dovecot is answered
// by a receive rule, kolvytool send delivers the answer to the real aiosmtpd, and Python's email
// package finds the answer's threading headers, its Auto-Submitted line and the quoted body. A
// second program folder with the same rule that receives the answer does not answer it again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/password.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "pop/testsupport/real_servers.h"
#include "rules/rule_book.h"
#include "rules/rule_file.h"
#include "rules/sort.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {
namespace {

struct ToolResult {
    int code = 0;
    std::string out, err;
};
ToolResult run(std::vector<std::string> args) {
    std::vector<std::string_view> v(args.begin(), args.end());
    ToolResult r;
    r.code = runTool(
        v, [&](std::string_view s) { r.out += s; }, [&](std::string_view s) { r.err += s; });
    return r;
}

[[maybe_unused]] std::optional<std::map<std::string, std::string>> smtpServers(
    platform::FileSystem& fs) {
    auto text = platform::readWholeFile(fs, std::string(KOLVY_SMTP_SERVERS_DIR) + "/servers.txt");
    if (!text) return std::nullopt;
    std::map<std::string, std::string> m;
    size_t at = 0;
    while (at < text->size()) {
        size_t end = text->find('\n', at);
        if (end == std::string::npos) end = text->size();
        const std::string line = text->substr(at, end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
        at = end + 1;
    }
    return m;
}

[[maybe_unused]] std::set<std::string> filesIn(platform::FileSystem& fs,
                                               const std::string& folder) {
    std::set<std::string> names;
    if (auto l = fs.list(folder)) {
        for (const platform::DirEntry& d : *l)
            if (!d.isDir && d.name.find(".rcpt") == std::string::npos &&
                d.name.find(".tmp") == std::string::npos)
                names.insert(d.name);
    }
    return names;
}

// A program folder whose account receives from dovecot and sends to aiosmtpd, with a receive
// rule that answers every message whose subject holds "ping" with the reply template "基本".
[[maybe_unused]] void setUpFolder(test::TestEnv& home, const test::PopServers& pop,
                                  const std::string& smtpPort, const std::string& address) {
    platform::Profile& ini = home.env.ini;
    ASSERT_EQ(ini.write("TagList", "TagAcount", "自宅"), Err::None);
    ASSERT_EQ(ini.write("自宅", "TagNo", "0"), Err::None);
    ASSERT_EQ(ini.write("自宅", "POP3Server", "127.0.0.1"), Err::None);
    ASSERT_EQ(ini.write("自宅", "POPPort", std::to_string(pop.dovecotPop3)), Err::None);
    ASSERT_EQ(ini.write("自宅", "UserID", pop.user), Err::None);
    ASSERT_EQ(ini.write("自宅", "Password", config::scramblePassword(pop.password)), Err::None);
    ASSERT_EQ(ini.write("自宅", "SMTPServer", "127.0.0.1"), Err::None);
    ASSERT_EQ(ini.write("自宅", "SMTPPort", smtpPort), Err::None);
    ASSERT_EQ(ini.write("自宅", "MailAddress", address), Err::None);
    ASSERT_EQ(ini.write("自宅", "From", "Kolvy User"), Err::None);
    ASSERT_EQ(ini.write("TagList", "TagOrder", "100"), Err::None);
    ASSERT_EQ(ini.write("100", "TagNo", "0"), Err::None);
    ASSERT_EQ(ini.write("100", "OrderName", "受信注文"), Err::None);
    ASSERT_EQ(ini.write("Option", "TimeOut", "30000"), Err::None);
    store::TabRegistry tabs;
    ASSERT_TRUE(tabs.load(home.env));
    rules::RegistryTabs directory(tabs);
    rules::RuleBook book;
    ASSERT_EQ(book.load(home.env, rules::RuleKind::Receive, directory, 3), Err::None);
    auto* rule = new Rule;
    rules::clearRule(*rule);
    rule->item1 = 3;  // Subject:
    rule->mode1 = 1;
    sjis::copyField(rule->keyword1, "ping");
    sjis::copyField(rule->replyTemplate, "基本");
    rule->replyTab = tabs.basicTab(store::kSendTab);
    book.addAtFileEnd(rules::RuleKind::Receive, rule);
    ASSERT_EQ(book.save(home.env, rules::RuleKind::Receive, directory), Err::None);
}

TEST(ComposeEndToEnd, RuleMadeReplyIsDeliveredAndNeverAnsweredBack) {
#ifdef _WIN32
    GTEST_SKIP() << "Python's email package reads the delivered answer on the Linux side";
#else
    test::TestEnv scratch;
    auto smtp = smtpServers(*scratch.fs);
    if (!smtp) GTEST_SKIP() << "the smtp-servers fixture has not run";
    auto pop = test::popServers();
    ASSERT_TRUE(pop.has_value()) << "the pop-servers fixture has not run";
    pop->emptyDovecot();

    test::TestEnv a;
    setUpFolder(a, *pop, smtp->at("aiosmtpd"), "me@example.jp");
    ASSERT_TRUE(pop->deliverToDovecot(
        "ping.kolvy",
        "From: Peer <peer@example.com>\r\nTo: me@example.jp\r\nSubject: ping =?ISO-2022-JP?B?"
        "GyRCMnFERBsoQg==?=\r\nMessage-ID: <ping-1@example.com>\r\n"
        "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\nfirst line\r\nend.\r\n"));
    const std::string homeA = toTerminal(a.env.programFolder);
    ToolResult r = run({"receive", homeA, toTerminal("受信注文")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored 1\n");
    const std::string draft = a.read("MailData\\送信\\0000.txt");
    ASSERT_NE(draft.find("Auto-Submitted: auto-replied\r\n"), std::string::npos) << draft;

    const std::string mailFolder = smtp->at("aiosmtpd_mail");
    const std::set<std::string> before = filesIn(*scratch.fs, mailFolder);
    r = run({"send", homeA});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "sent 1\n");
    std::string delivered;
    for (int i = 0; i < 100 && delivered.empty(); ++i) {
        for (const std::string& n : filesIn(*scratch.fs, mailFolder))
            if (!before.count(n)) delivered = mailFolder + "/" + n;
        if (delivered.empty()) platform::sleepMs(100);
    }
    ASSERT_FALSE(delivered.empty()) << "nothing arrived";

    // Python reads the answer on its own.
    scratch.write("check.py",
                  "import email, email.policy, sys\n"
                  "m = email.message_from_binary_file(open(sys.argv[1], 'rb'),"
                  " policy=email.policy.default)\n"
                  "body = m.get_body(('plain',)).get_content()\n"
                  "ok = (m['In-Reply-To'] == '<ping-1@example.com>'"
                  " and m['References'] == '<ping-1@example.com>'"
                  " and m['Auto-Submitted'] == 'auto-replied'"
                  " and m['To'].addresses[0].addr_spec == 'peer@example.com'"
                  " and m['Subject'].startswith('Re: ping ')"
                  " and '>first line\\n>end.\\n' in body.replace('\\r\\n', '\\n'))\n"
                  "print(m['Subject'], repr(body)) if not ok else None\n"
                  "sys.exit(0 if ok else 1)\n");
    std::string script = scratch.folder / "check.py";
    for (char& ch : script)
        if (ch == '\\') ch = '/';
    const std::string command = "/usr/bin/python3 '" + script + "' '" + delivered + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << delivered;

    // The peer runs Kolvy with the same rule: the answer arrives there and is not answered.
    auto answer = platform::readWholeFile(*scratch.fs, delivered);
    ASSERT_TRUE(answer.ok());
    pop->emptyDovecot();
    ASSERT_TRUE(pop->deliverToDovecot("answer.kolvy", *answer));
    test::TestEnv b;
    setUpFolder(b, *pop, smtp->at("aiosmtpd"), "peer@example.com");
    const std::string homeB = toTerminal(b.env.programFolder);
    r = run({"receive", homeB, toTerminal("受信注文")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored 1\n");
    EXPECT_EQ(b.read("MailData\\送信\\0000.txt"), "<missing>");
    EXPECT_NE(b.read("MailData\\受信\\0000.txt").find("Subject: Re: ping"), std::string::npos);
    pop->emptyDovecot();
#endif
}

void setEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// kolvytool compose with the tests' editor program: each mode, each save choice, a failed editor.
TEST(ComposeTool, DraftsMadeUnattendedWithAGivenEditor) {
    test::TestEnv home;
    ASSERT_EQ(home.env.ini.write("TagList", "TagAcount", "自宅"), Err::None);
    ASSERT_EQ(home.env.ini.write("自宅", "TagNo", "0"), Err::None);
    ASSERT_EQ(home.env.ini.write("自宅", "MailAddress", "me@example.jp"), Err::None);
    home.write("in.eml",
               "From: Peer <peer@example.com>\r\nTo: me@example.jp\r\nSubject: hello\r\n"
               "Message-ID: <h1@example.com>\r\n\r\nbody\r\n");
    const std::string h = toTerminal(home.env.programFolder);
    ToolResult r = run({"import", h, toTerminal(home.path("in.eml"))});
    ASSERT_EQ(r.code, 0) << r.err;
    setEnv("KOLVY_TEST_EDITOR_LOG", "");
    const std::string editor = KOLVY_TEST_EDITOR;
    const std::string sendTab = toTerminal("送信");
    struct Case {
        std::vector<std::string> args;
        std::string actions;
        int code;
        std::string out;
    } cases[] = {
        {{"new"}, "set=To=a@b.jp", 0, "stored " + sendTab + " 0 state 16\n"},
        {{"reply", toTerminal("受信"), "0"}, "append=ok", 0, "stored " + sendTab + " 1 state 18\n"},
        {{"forward", toTerminal("受信"), "0", "--kind", "1"},
         "set=To=a@b.jp",
         0,
         "stored " + sendTab + " 2 state 17\n"},
        {{"forward", toTerminal("受信"), "7"}, "keep", 2, ""},
        {{"new", "--kind", "5"}, "keep", 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.actions);
        setEnv("KOLVY_TEST_EDITOR_ACTIONS", c.actions);
        std::vector<std::string> args = {"compose", h};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"--editor", editor, "--save",
                                 c.args[0] == "reply" ? "unfinished" : "waiting"});
        r = run(args);
        EXPECT_EQ(r.code, c.code) << r.out << r.err;
        EXPECT_EQ(r.out, c.out) << r.err;
    }
    const std::string reply = home.read("MailData\\送信\\0001.txt");
    EXPECT_NE(reply.find("In-Reply-To: <h1@example.com>\r\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find(">body\r\nok\r\n"), std::string::npos) << reply;
    EXPECT_EQ(home.read("MailData\\送信\\添付\\0002\\hello.eml").substr(0, 5), "From:");
    // An editor that cannot start keeps the text as an unfinished draft.
    r = run(
        {"compose", h, "new", "--editor", toTerminal(home.path("none.exe")), "--save", "waiting"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored " + sendTab + " 3 state 18\n");
}

}  // namespace
}  // namespace kolvy::tool
