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

#include "config/password.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "rules/rule_book.h"
#include "rules/rule_file.h"
#include "rules/sort.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {
namespace {

int runQuiet(std::vector<std::string> args, std::string& out, std::string& err) {
    std::vector<std::string_view> v(args.begin(), args.end());
    return runTool(
        v, [&](std::string_view s) { out += s; }, [&](std::string_view s) { err += s; });
}

// servers.txt of the fixture; paths as this build sees them.
std::optional<std::map<std::string, std::string>> smtpServers(platform::FileSystem& fs) {
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
#ifdef _WIN32
    for (const char* k : {"aiosmtpd_mail", "exim_maildir"}) {
        if (m.count(k)) m[k] = "Z:" + m[k];
    }
#endif
    return m;
}

std::set<std::string> filesIn(platform::FileSystem& fs, const std::string& folder) {
    std::set<std::string> names;
    if (auto l = fs.list(folder)) {
        for (const platform::DirEntry& e : *l) {
            if (!e.isDir && e.name.find(".rcpt") == std::string::npos &&
                e.name.find(".tmp") == std::string::npos) {
                names.insert(e.name);
            }
        }
    }
    return names;
}

// The one file that appeared in `folder` since `before` (delivery may lag a little).
std::string newFile(platform::FileSystem& fs, const std::string& folder,
                    const std::set<std::string>& before) {
    for (int i = 0; i < 100; ++i) {
        for (const std::string& n : filesIn(fs, folder)) {
            if (!before.count(n)) return sjis::joinPath(folder, n);
        }
        platform::sleepMs(100);
    }
    return {};
}

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
        servers = smtpServers(*e.fs);
        if (!servers) GTEST_SKIP() << "the smtp-servers fixture has not run";
    }
    std::string commLog() {
        std::string all;
        if (auto l = e.fs->list(e.path("_Log"))) {
            for (const platform::DirEntry& d : *l)
                all += e.read("_Log\\" + d.name);
        }
        return all;
    }
    // Account "自宅" sending through `port` with the fixture's SMTP user.
    void account(test::TestEnv& home, const std::string& port, int sendSsl, int smtpAuth) {
        const auto& s = *servers;
        platform::Profile& ini = home.env.ini;
        ASSERT_EQ(ini.write("TagList", "TagAcount", "自宅"), Err::None);
        ASSERT_EQ(ini.write("自宅", "TagNo", "0"), Err::None);
        ASSERT_EQ(ini.write("自宅", "SMTPServer", "127.0.0.1"), Err::None);
        ASSERT_EQ(ini.write("自宅", "SMTPPort", port), Err::None);
        ASSERT_EQ(ini.write("自宅", "MailAddress", "me@example.jp"), Err::None);
        ASSERT_EQ(ini.write("自宅", "UserID", "pop-user"), Err::None);
        ASSERT_EQ(ini.write("自宅", "Password", config::scramblePassword("pop-pw")), Err::None);
        ASSERT_EQ(ini.write("自宅", "SmtpUserID", s.at("user")), Err::None);
        ASSERT_EQ(ini.write("自宅", "SmtpPassword", config::scramblePassword(s.at("password"))),
                  Err::None);
        ASSERT_EQ(ini.write("自宅", "SendSSL", std::to_string(sendSsl)), Err::None);
        ASSERT_EQ(ini.write("自宅", "SMTPAuth", std::to_string(smtpAuth)), Err::None);
        ASSERT_EQ(ini.write("自宅", "CertSSL", "0"), Err::None);
        ASSERT_EQ(ini.write("Option", "TimeOut", "20000"), Err::None);
    }
    // The draft and its two attachments in the test's folder.
    void writeDraft() {
        std::string binary;
        for (int i = 0; i < 1000; ++i)
            binary += static_cast<char>(i * 7);
        e.write("data.bin", binary);
        e.write("メモ.txt", "メモの中身\r\n");
        e.write("draft.txt", toTerminal(kDraft));
    }
    std::vector<std::string> draftArgs(const std::string& home) {
        return {"draft",
                home,
                toTerminal(e.folder / "draft.txt"),
                "--attach",
                toTerminal(e.folder / "data.bin"),
                toTerminal(e.folder / "メモ.txt")};
    }
    static std::string posix(std::string p) {
        for (char& c : p)
            c = c == '\\' ? '/' : c;
        return p;
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
            "\", \"attachments\": [[\"data.bin\", \"" + posix(e.folder / "data.bin") + "\"], [\"" +
            toTerminal("メモ.txt") + "\", \"" + posix(toTerminal(e.folder / "メモ.txt")) + "\"]]}";
        e.write("expect.json", expect);
        return posix(e.folder / "expect.json");
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
    writeDraft();
    for (const Transport& t : kTransports) {
        SCOPED_TRACE(t.name);
        if (!s.count(t.server)) continue;
        const bool exim = std::string_view(t.server).substr(0, 4) == "exim";
        const std::string folder = exim ? s.at("exim_maildir") + "/new" : s.at("aiosmtpd_mail");
        test::TestEnv home;
        account(home, s.at(t.server), t.sendSsl, t.smtpAuth);
        const std::string h = toTerminal(home.env.programFolder);
        std::string out, err;
        ASSERT_EQ(runQuiet(draftArgs(h), out, err), 0) << err;
        const std::set<std::string> before = filesIn(*e.fs, folder);
        out.clear();
        const int code = runQuiet({"send", h}, out, err);
        EXPECT_EQ(out, "sent 1\n") << err;
        EXPECT_EQ(code, 0) << err;
        const std::string delivered = newFile(*e.fs, folder, before);
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
        EXPECT_EQ(check("'" + posix(delivered) + "'"), 0) << delivered;
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
    writeDraft();
    test::TestEnv home;
    account(home, servers->at("aiosmtpd"), 0, 1);
    {
        // Pieces of 1 KB for every message of 1 KB or more.
        store::TabRegistry tabs;
        ASSERT_TRUE(tabs.load(home.env));
        rules::RegistryTabs directory(tabs);
        rules::RuleBook book;
        ASSERT_EQ(book.load(home.env, rules::RuleKind::Send, directory, 3), Err::None);
        auto* split = new Rule;
        rules::clearRule(*split);
        split->sizeKB = 1;
        split->split = 1;
        book.addAtFileEnd(rules::RuleKind::Send, split);
        ASSERT_EQ(book.save(home.env, rules::RuleKind::Send, directory), Err::None);
    }
    const std::string h = toTerminal(home.env.programFolder);
    std::string out, err;
    ASSERT_EQ(runQuiet(draftArgs(h), out, err), 0) << err;
    const std::string folder = servers->at("aiosmtpd_mail");
    const std::set<std::string> before = filesIn(*e.fs, folder);
    out.clear();
    EXPECT_EQ(runQuiet({"send", h}, out, err), 0) << err;
    EXPECT_EQ(out, "sent 1\n");
    std::string pieces;
    int count = 0;
    for (const std::string& n : filesIn(*e.fs, folder)) {
        if (before.count(n)) continue;
        pieces += " '" + posix(sjis::joinPath(folder, n)) + "'";
        ++count;
    }
    EXPECT_GE(count, 3) << "a message of several KB in 1 KB pieces";
    EXPECT_EQ(check("--partial" + pieces), 0) << pieces;
#endif
}

}  // namespace
}  // namespace kolvy::tool
