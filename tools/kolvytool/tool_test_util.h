// What the kolvytool tests share: the tool run in-process, settings written into the ini as text,
// a rule added to a rule file, and the check that a program folder is sound.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/password.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "rules/rule_book.h"
#include "rules/rule_file.h"
#include "rules/rule_tables.h"
#include "rules/sort.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::test {

struct ToolRun {
    int code = 0;
    std::string out, err;
};

// The tool with the arguments a terminal gives; over `fs` when given.
inline ToolRun runTool(std::vector<std::string> args, platform::FileSystem* fs = nullptr) {
    std::vector<std::string_view> v(args.begin(), args.end());
    ToolRun r;
    const auto out = [&](std::string_view s) { r.out += s; };
    const auto err = [&](std::string_view s) { r.err += s; };
    r.code = fs ? tool::runToolOn(*fs, v, out, err) : tool::runTool(v, out, err);
    return r;
}

inline std::string home(const Env& env) {
    return tool::toTerminal(env.programFolder);
}

inline void expectSound(const Env& env) {
    const ToolRun c = runTool({"check", home(env)});
    EXPECT_EQ(c.code, 0) << c.out << c.err;
}

// "[section]" and "key=value" lines, each key written through the profile.
inline void writeIni(platform::Profile& ini, std::string_view text) {
    std::string section;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.starts_with('[')) {
            section = line.substr(1, line.size() - 2);
        } else if (const size_t eq = line.find('='); eq != std::string_view::npos) {
            ASSERT_EQ(ini.write(section, line.substr(0, eq), line.substr(eq + 1)), Err::None)
                << line;
        }
    }
}

// Account "自宅" on the POP3 server at 127.0.0.1:`port` and its order "受信注文".
inline void writePopOrder(platform::Profile& ini, uint16_t port, std::string_view user,
                          std::string_view password, bool leave, int timeoutMs) {
    writeIni(ini,
             "[TagList]\nTagAcount=自宅\nTagOrder=100\n[自宅]\nTagNo=0\nPOP3Server=127.0.0.1\n"
             "MailAddress=me@example.jp\nUserID=" +
                 std::string(user) + "\nPassword=" + config::scramblePassword(password) +
                 "\nPOPPort=" + std::to_string(port) +
                 "\n[100]\nTagNo=0\nOrderName=受信注文\nNokosu=" + (leave ? "1" : "0") +
                 "\n[Option]\nTimeOut=" + std::to_string(timeoutMs) + "\n");
}

// A rule whose Subject: holds `keyword`.
inline void matchSubject(Rule& r, const char* keyword) {
    for (int32_t i = 1; i <= rules::kItemCount; ++i) {
        if (rules::itemName(i) == "Subject:") r.item1 = i;
    }
    sjis::copyField(r.keyword1, keyword);
    r.mode1 = 1;
}

// One rule more at the end of the `kind` file: `fill(rule, tabs)` makes it; a tab named `newTab`
// is created first.
template <class Fill>
void addRule(Env& env, rules::RuleKind kind, Fill fill, std::string_view newTab = {}) {
    store::TabRegistry tabs;
    ASSERT_TRUE(tabs.load(env));
    if (!newTab.empty()) {
        ASSERT_TRUE(tabs.create(env, store::CreateMode::NewTab, newTab).ok());
    }
    rules::RegistryTabs directory(tabs);
    rules::RuleBook book;
    ASSERT_EQ(book.load(env, kind, directory, 3), Err::None);
    auto* rule = new Rule;
    rules::clearRule(*rule);
    fill(*rule, tabs);
    book.addAtFileEnd(kind, rule);
    ASSERT_EQ(book.save(env, kind, directory), Err::None);
    for (Tab* tab = tabs.first(); tab && tab != tabs.listHead(); tab = tab->next)
        store::freeItems(*tab);
}

#ifdef KOLVY_SMTP_SERVERS_DIR
// servers.txt of the smtp-servers fixture, with the mail folders as this build sees them.
inline std::optional<std::map<std::string, std::string>> smtpServers(platform::FileSystem& fs) {
    auto text = platform::readWholeFile(fs, std::string(KOLVY_SMTP_SERVERS_DIR) + "/servers.txt");
    if (!text) return std::nullopt;
    auto m = keyValueLines(*text);
#ifdef _WIN32
    for (const char* k : {"aiosmtpd_mail", "exim_maildir"}) {
        if (m.count(k)) m[k] = "Z:" + m[k];
    }
#endif
    return m;
}
#endif

// A path for the Linux side's programs (Python, nkf): separators as slashes.
inline std::string posixPath(std::string p) {
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

// The delivered messages in a server's mail folder (not its recipient lists or half-written
// files).
inline std::set<std::string> deliveredFiles(platform::FileSystem& fs, const std::string& folder) {
    std::set<std::string> names;
    if (auto l = fs.list(folder)) {
        for (const platform::DirEntry& d : *l) {
            if (!d.isDir && d.name.find(".rcpt") == std::string::npos &&
                d.name.find(".tmp") == std::string::npos)
                names.insert(d.name);
        }
    }
    return names;
}

// The one file that appeared in `folder` since `before` (delivery may lag a little); empty when
// none did.
inline std::string newDelivery(platform::FileSystem& fs, const std::string& folder,
                               const std::set<std::string>& before) {
    for (int i = 0; i < 100; ++i) {
        for (const std::string& n : deliveredFiles(fs, folder)) {
            if (!before.count(n)) return sjis::joinPath(folder, n);
        }
        platform::sleepMs(100);
    }
    return {};
}

}  // namespace kolvy::test
