#include "pop/testsupport/real_servers.h"

#include "config/accounts.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "platform/socket.h"
#include "tests/support/test_env.h"

namespace kolvy::test {
namespace {

std::string serversPath(std::string_view rel) {
    return std::string(KOLVY_POP_SERVERS_DIR) + "/" + std::string(rel);
}

// A path the script wrote (Linux form) as this build's program sees it.
std::string localPath(const std::string& linuxPath) {
#if defined(_WIN32)
    return linuxPath.empty() ? linuxPath : "Z:" + linuxPath;
#else
    return linuxPath;
#endif
}

}  // namespace

std::optional<PopServers> popServers() {
    auto fs = platform::makeFileSystem();
    auto text = platform::readWholeFile(*fs, serversPath("servers.txt"));
    if (!text) return std::nullopt;
    auto kv = keyValueLines(*text);
    auto port = [&](const char* key) {
        return static_cast<uint16_t>(kv.count(key) ? std::stoi(kv[key]) : 0);
    };
    PopServers s;
    s.user = kv["user"];
    s.password = kv["password"];
    s.caFile = localPath(kv["ca"]);
    s.dovecotPop3 = port("dovecot_pop3");
    s.dovecotPop3s = port("dovecot_pop3s");
    s.tls11Only = port("tls11_only");
    s.dovecotMaildir = localPath(kv["dovecot_maildir"]);
    s.mailutilsUser = kv["mailutils_user"];
    s.mailutilsPop3 = port("mailutils_pop3");
    s.mailutilsPop3s = port("mailutils_pop3s");
    s.mailutilsMbox = localPath(kv["mailutils_mbox"]);
    if (!s.dovecotPop3) return std::nullopt;
    return s;
}

bool PopServers::deliverToDovecot(std::string_view name, std::string_view message) const {
    auto fs = platform::makeFileSystem();
    // Written under tmp/ and moved into new/, as a delivery agent does.
    const std::string tmp = dovecotMaildir + "/tmp/" + std::string(name);
    const std::string dst = dovecotMaildir + "/new/" + std::string(name);
    if (platform::writeWholeFile(*fs, tmp, message) != Err::None) return false;
    return fs->rename(tmp, dst) == Err::None;
}

void PopServers::emptyDovecot() const {
    auto fs = platform::makeFileSystem();
    for (const char* sub : {"/new", "/cur"}) {
        const std::string folder = dovecotMaildir + sub;
        auto entries = fs->list(folder);
        if (!entries) continue;
        for (const auto& e : *entries)
            fs->remove(folder + "/" + e.name);
    }
}

bool PopServers::deliverToMailutils(std::string_view message) const {
    // mbox: a "From " separator line, LF line ends, body lines that could pass for a separator
    // quoted with ">", a blank line after the message.
    std::string mbox = "From kolvy@localhost Thu Jan  2 12:00:00 2025\n";
    size_t start = 0;
    while (start < message.size()) {
        size_t end = message.find('\n', start);
        if (end == std::string_view::npos) end = message.size();
        std::string_view line = message.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t quotes = 0;
        while (quotes < line.size() && line[quotes] == '>')
            ++quotes;
        if (line.substr(quotes, 5) == "From ") mbox += '>';
        mbox.append(line);
        mbox += '\n';
    }
    mbox += '\n';
    auto fs = platform::makeFileSystem();
    // Appended, so the file keeps the owner the server needs.
    return platform::appendToFile(*fs, mailutilsMbox, mbox) == Err::None;
}

void PopServers::emptyMailutils() const {
    auto fs = platform::makeFileSystem();
    auto f = fs->open(mailutilsMbox, platform::OpenMode::ReadWrite);
    if (f) (*f)->truncate(0);
}

Account PopServers::account(const char* name, int sslMode, bool apop, bool mailutils) const {
    Account a = config::blankAccount();
    sjis::copyField(a.name, name);
    sjis::copyField(a.pop3Server, "localhost");
    sjis::copyField(a.userId, mailutils ? mailutilsUser : user);
    sjis::copyField(a.password, password);
    const uint16_t plain = mailutils ? mailutilsPop3 : dovecotPop3;
    const uint16_t tls = mailutils ? mailutilsPop3s : dovecotPop3s;
    a.popPort = sslMode == 1 ? tls : plain;
    a.recvSsl = sslMode;
    a.certSsl = 0;
    a.apop = apop ? 1 : 0;
    return a;
}

}  // namespace kolvy::test
