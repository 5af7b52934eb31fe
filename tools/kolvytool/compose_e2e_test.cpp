// An answer made by a reply rule, end to end: a message received from the real dovecot is answered
// by a receive rule, kolvytool send delivers the answer to the real aiosmtpd, and Python's email
// package finds the answer's threading headers, its Auto-Submitted line and the quoted body. A
// second program folder with the same rule that receives the answer does not answer it again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "pop/testsupport/real_servers.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool_test_util.h"

namespace kolvy::tool {
namespace {

using test::runTool;

// A program folder whose account receives from dovecot and sends to aiosmtpd, with a receive
// rule that answers every message whose subject holds "ping" with the reply template "基本".
[[maybe_unused]] void setUpFolder(test::TestEnv& home, const test::PopServers& pop,
                                  const std::string& smtpPort, const std::string& address) {
    test::writePopOrder(home.env.ini, pop.dovecotPop3, pop.user, pop.password, false, 30000);
    test::writeIni(home.env.ini, "[自宅]\nSMTPServer=127.0.0.1\nSMTPPort=" + smtpPort +
                                     "\nMailAddress=" + address + "\nFrom=Kolvy User\n");
    test::addRule(home.env, rules::RuleKind::Receive, [](Rule& r, store::TabRegistry& tabs) {
        test::matchSubject(r, "ping");
        sjis::copyField(r.replyTemplate, "基本");
        r.replyTab = tabs.basicTab(store::kSendTab);
    });
}

TEST(ComposeEndToEnd, RuleMadeReplyIsDeliveredAndNeverAnsweredBack) {
#ifdef _WIN32
    GTEST_SKIP() << "Python's email package reads the delivered answer on the Linux side";
#else
    test::TestEnv scratch;
    auto smtp = test::smtpServers(*scratch.fs);
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
    test::ToolRun r = runTool({"receive", test::home(a.env), toTerminal("受信注文")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored 1\n");
    const std::string draft = a.read("MailData\\送信\\0000.txt");
    ASSERT_NE(draft.find("Auto-Submitted: auto-replied\r\n"), std::string::npos) << draft;

    const std::string mailFolder = smtp->at("aiosmtpd_mail");
    const auto before = test::deliveredFiles(*scratch.fs, mailFolder);
    r = runTool({"send", test::home(a.env)});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "sent 1\n");
    const std::string delivered = test::newDelivery(*scratch.fs, mailFolder, before);
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
    const std::string command = "/usr/bin/python3 '" + test::posixPath(scratch.path("check.py")) +
                                "' '" + test::posixPath(delivered) + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << delivered;

    // The peer runs Kolvy with the same rule: the answer arrives there and is not answered.
    auto answer = platform::readWholeFile(*scratch.fs, delivered);
    ASSERT_TRUE(answer.ok());
    pop->emptyDovecot();
    ASSERT_TRUE(pop->deliverToDovecot("answer.kolvy", *answer));
    test::TestEnv b;
    setUpFolder(b, *pop, smtp->at("aiosmtpd"), "peer@example.com");
    r = runTool({"receive", test::home(b.env), toTerminal("受信注文")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "stored 1\n");
    EXPECT_EQ(b.read("MailData\\送信\\0000.txt"), "<missing>");
    EXPECT_NE(b.read("MailData\\受信\\0000.txt").find("Subject: Re: ping"), std::string::npos);
    pop->emptyDovecot();
#endif
}

// kolvytool compose with the tests' editor program: each mode, each save choice, a failed editor.
TEST(ComposeTool, DraftsMadeUnattendedWithAGivenEditor) {
    test::TestEnv home;
    test::writeIni(home.env.ini,
                   "[TagList]\nTagAcount=自宅\n[自宅]\nTagNo=0\n"
                   "MailAddress=me@example.jp\n");
    home.write("in.eml",
               "From: Peer <peer@example.com>\r\nTo: me@example.jp\r\nSubject: hello\r\n"
               "Message-ID: <h1@example.com>\r\n\r\nbody\r\n");
    const std::string h = test::home(home.env);
    ASSERT_EQ(runTool({"import", h, toTerminal(home.path("in.eml"))}).code, 0);
    test::setEnv("KOLVY_TEST_EDITOR_LOG", "");
    const std::string stored = "stored " + toTerminal("送信") + " ";
    const std::string in = toTerminal("受信");
    const struct {
        std::vector<std::string> args;
        const char* actions;
        int code;
        std::string out;
    } cases[] = {
        {{"new"}, "set=To=a@b.jp", 0, stored + "0 state 16\n"},
        {{"reply", in, "0"}, "append=ok", 0, stored + "1 state 18\n"},
        {{"forward", in, "0", "--kind", "1"}, "set=To=a@b.jp", 0, stored + "2 state 17\n"},
        {{"forward", in, "7"}, "keep", 2, ""},
        {{"new", "--kind", "5"}, "keep", 2, ""},
        // An editor that cannot start keeps the text as an unfinished draft.
        {{"new", "--editor", toTerminal(home.path("none.exe"))}, "", 0, stored + "3 state 18\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back() + " " + c.actions);
        test::setEnv("KOLVY_TEST_EDITOR_ACTIONS", c.actions);
        std::vector<std::string> args = {"compose", h};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (std::find(args.begin(), args.end(), "--editor") == args.end())
            args.insert(args.end(), {"--editor", KOLVY_TEST_EDITOR});
        args.insert(args.end(), {"--save", c.args[0] == "reply" ? "unfinished" : "waiting"});
        const test::ToolRun r = runTool(args);
        EXPECT_EQ(r.code, c.code) << r.out << r.err;
        EXPECT_EQ(r.out, c.out) << r.err;
    }
    const std::string reply = home.read("MailData\\送信\\0001.txt");
    EXPECT_NE(reply.find("In-Reply-To: <h1@example.com>\r\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find(">body\r\nok\r\n"), std::string::npos) << reply;
    EXPECT_EQ(home.read("MailData\\送信\\添付\\0002\\hello.eml").substr(0, 5), "From:");
}

}  // namespace
}  // namespace kolvy::tool
