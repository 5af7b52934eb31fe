// kolvytool send against the real SMTP servers of the smtp-servers fixture (aiosmtpd and exim),
// over each transport and AUTH method: what the servers deliver is read back by independent
// readers (Python's email package and nkf) and must equal the draft.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_env.h"
#include "tools/kolvytool/tool_test_util.h"

namespace kolvy::tool {
namespace {

using test::posixPath;
using test::runTool;

struct Transport {
    const char* name;
    const char* server;  // key of servers.txt
    int sendSsl, smtpAuth;
    const char* authLine;  // what the log shows of the AUTH command; null: none
};

const Transport kTransports[] = {
    {"aiosmtpd plain, HELO", "aiosmtpd", 0, 0, nullptr},
    {"aiosmtpd plain, automatic (CRAM-MD5)", "aiosmtpd", 0, 1, "AUTH CRAM-MD5"},
    {"aiosmtpd STARTTLS, PLAIN", "aiosmtpd", 2, 3, "AUTH PLAIN -----"},
    {"aiosmtpd 465, LOGIN", "aiosmtpd_tls", 1, 4, "AUTH LOGIN"},
    {"exim plain, CRAM-MD5", "exim", 0, 2, "AUTH CRAM-MD5"},
    {"exim STARTTLS, automatic", "exim", 2, 1, "AUTH CRAM-MD5"},
    {"exim 465, PLAIN", "exim_tls", 1, 3, "AUTH PLAIN -----"},
    {"exim STARTTLS, LOGIN", "exim", 2, 4, "AUTH LOGIN"},
};

constexpr char kDraft[] =
    "From: 山田太郎 <me@example.jp>\n"
    "To: 花子 <hanako@example.jp>\n"
    "Cc: jiro@example.jp, 三郎 <saburo@example.jp>\n"
    "Bcc: hidden@example.jp\n"
    "Subject: 会議の資料について（第３回）のお知らせ\n"
    "\n"
    "花子さん\n"
    "\n"
    "資料を添付します。\n"
    ".\n"
    "..two dots\n"
    "以上、よろしくお願いします。\n";

class SendServers : public ::testing::Test {
  protected:
    void SetUp() override {
        servers = test::smtpServers(*e.fs);
        if (!servers) GTEST_SKIP() << "the smtp-servers fixture has not run";
        std::string binary;
        for (int i = 0; i < 1000; ++i)
            binary += static_cast<char>(i * 7);
        e.write("data.bin", binary);
        e.write("メモ.txt", "メモの中身\r\n");
        e.write("draft.txt", toTerminal(kDraft));
    }
    // A program folder whose account "自宅" sends through `port` with the fixture's SMTP user,
    // and the draft with its two attachments queued there.
    void queueDraft(test::TestEnv& home, const std::string& port, int sendSsl, int smtpAuth) {
        const auto& s = *servers;
        test::writeIni(home.env.ini,
                       "[TagList]\nTagAcount=自宅\n[自宅]\nTagNo=0\nSMTPServer=127.0.0.1\n"
                       "MailAddress=me@example.jp\nUserID=pop-user\nCertSSL=0\nPassword=" +
                           config::scramblePassword("pop-pw") + "\nSMTPPort=" + port +
                           "\nSmtpUserID=" + s.at("user") +
                           "\nSmtpPassword=" + config::scramblePassword(s.at("password")) +
                           "\nSendSSL=" + std::to_string(sendSsl) + "\nSMTPAuth=" +
                           std::to_string(smtpAuth) + "\n[Option]\nTimeOut=20000\n");
        const test::ToolRun r =
            runTool({"draft", test::home(home.env), toTerminal(e.folder / "draft.txt"), "--attach",
                     toTerminal(e.folder / "data.bin"), toTerminal(e.folder / "メモ.txt")});
        ASSERT_EQ(r.code, 0) << r.err;
    }
    // What the readers must find, as JSON in the test's folder; returns its path.
    std::string expectJson() {
        const std::string expect =
            std::string("{\"subject\": \"") + toTerminal("会議の資料について（第３回）のお知らせ") +
            "\", \"from\": \"me@example.jp\", \"to\": [\"hanako@example.jp\"], "
            "\"cc\": [\"jiro@example.jp\", \"saburo@example.jp\"], "
            "\"body\": \"" +
            toTerminal("花子さん") + "\\n\\n" + toTerminal("資料を添付します。") +
            "\\n.\\n..two dots\\n" + toTerminal("以上、よろしくお願いします。") +
            "\", \"attachments\": [[\"data.bin\", \"" + posixPath(e.folder / "data.bin") +
            "\"], [\"" + toTerminal("メモ.txt") + "\", \"" +
            posixPath(toTerminal(e.folder / "メモ.txt")) + "\"]]}";
        e.write("expect.json", expect);
        return posixPath(e.folder / "expect.json");
    }
    int check(const std::string& files) {
        const std::string command = std::string("/usr/bin/python3 ") + KOLVY_SMTP_CHECKER + " '" +
                                    expectJson() + "' " + files;
        return std::system(command.c_str());
    }
    test::TestEnv e;
    std::optional<std::map<std::string, std::string>> servers;
};

TEST_F(SendServers, DeliveredMessagesEqualTheDraftInIndependentReaders) {
    const auto& s = *servers;
    for (const Transport& t : kTransports) {
        SCOPED_TRACE(t.name);
        if (!s.count(t.server)) continue;
        const bool exim = std::string_view(t.server).substr(0, 4) == "exim";
        const std::string folder = exim ? s.at("exim_maildir") + "/new" : s.at("aiosmtpd_mail");
        test::TestEnv home;
        queueDraft(home, s.at(t.server), t.sendSsl, t.smtpAuth);
        const std::set<std::string> before = test::deliveredFiles(*e.fs, folder);
        const test::ToolRun r = runTool({"send", test::home(home.env)});
        EXPECT_EQ(r.out, "sent 1\n") << r.err;
        EXPECT_EQ(r.code, 0) << r.err;
        const std::string delivered = test::newDelivery(*e.fs, folder, before);
        ASSERT_FALSE(delivered.empty()) << "nothing arrived";
        std::string log;
        if (auto l = home.fs->list(home.path("_Log"))) {
            for (const platform::DirEntry& d : *l)
                log += home.read("_Log\\" + d.name);
        }
        if (t.authLine) {
            EXPECT_NE(log.find(t.authLine), std::string::npos) << log;
        }
        EXPECT_EQ(log.find(s.at("password")), std::string::npos) << log;
#ifndef _WIN32
        EXPECT_EQ(check("'" + posixPath(delivered) + "'"), 0) << delivered;
#else
        auto text = platform::readWholeFile(*e.fs, delivered);
        ASSERT_TRUE(static_cast<bool>(text));
        EXPECT_NE(text->find("Content-Type: multipart/mixed;"), std::string::npos);
#endif
    }
}

TEST_F(SendServers, SplitPiecesJoinBackToTheDraft) {
#ifdef _WIN32
    GTEST_SKIP() << "the readers run on the Linux side";
#else
    test::TestEnv home;
    // Pieces of 1 KB for every message of 1 KB or more.
    test::addRule(home.env, rules::RuleKind::Send, [](Rule& r, store::TabRegistry&) {
        r.sizeKB = 1;
        r.split = 1;
    });
    queueDraft(home, servers->at("aiosmtpd"), 0, 1);
    const std::string folder = servers->at("aiosmtpd_mail");
    const std::set<std::string> before = test::deliveredFiles(*e.fs, folder);
    const test::ToolRun r = runTool({"send", test::home(home.env)});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "sent 1\n");
    std::string pieces;
    int count = 0;
    for (const std::string& n : test::deliveredFiles(*e.fs, folder)) {
        if (before.count(n)) continue;
        pieces += " '" + posixPath(sjis::joinPath(folder, n)) + "'";
        ++count;
    }
    EXPECT_GE(count, 3) << "a message of several KB in 1 KB pieces";
    EXPECT_EQ(check("--partial" + pieces), 0) << pieces;
#endif
}

}  // namespace
}  // namespace kolvy::tool
