#include "pop/testsupport/real_servers.h"

#include "platform/fileutil.h"
#include "platform/platform.h"
#include "platform/socket.h"

namespace kolvy::test {
namespace {

std::string serversPath(std::string_view rel) {
    return std::string(KOLVY_POP_SERVERS_DIR) + "/" + std::string(rel);
}

// A path the script wrote (Linux form) as this build's program sees it.
std::string localPath(const std::string& linuxPath) {
#if defined(_WIN32)
    return "Z:" + linuxPath;
#else
    return linuxPath;
#endif
}

}  // namespace

std::optional<PopServers> popServers() {
    auto fs = platform::makeFileSystem();
    auto text = platform::readWholeFile(*fs, serversPath("servers.txt"));
    if (!text) return std::nullopt;
    PopServers s;
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        const std::string line = text->substr(start, end - start);
        start = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "user") s.user = value;
        if (key == "password") s.password = value;
        if (key == "ca") s.caFile = localPath(value);
        if (key == "dovecot_pop3") s.dovecotPop3 = static_cast<uint16_t>(std::stoi(value));
        if (key == "dovecot_pop3s") s.dovecotPop3s = static_cast<uint16_t>(std::stoi(value));
        if (key == "tls11_only") s.tls11Only = static_cast<uint16_t>(std::stoi(value));
        if (key == "dovecot_maildir") s.dovecotMaildir = localPath(value);
        if (key == "mailutils_user") s.mailutilsUser = value;
        if (key == "mailutils_pop3") s.mailutilsPop3 = static_cast<uint16_t>(std::stoi(value));
        if (key == "mailutils_pop3s") s.mailutilsPop3s = static_cast<uint16_t>(std::stoi(value));
        if (key == "mailutils_mbox") s.mailutilsMbox = localPath(value);
    }
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

}  // namespace kolvy::test
