#include "config/accounts.h"

#include <new>

#include "config/password.h"
#include "core/list.h"
#include "core/sjis.h"
#include "report/report.h"

namespace kolvy::config {

namespace {

// TagAcount holds twenty names of up to 63 bytes plus the kept entries: read it whole.
constexpr size_t kNameListMax = 64 * 1024;
// A scrambled password of a full field: Base64 of 63 bytes.
constexpr size_t kStoredPasswordMax = scrambledLength(kAccountTextMax);

int32_t toInt32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int32_t readInt32(platform::Profile& ini, std::string_view section, std::string_view key,
                  int32_t def) {
    return toInt32(platform::readInt(ini, section, key, def));
}

template <size_t N>
void readText(platform::Profile& ini, std::string_view section, std::string_view key,
              char (&field)[N]) {
    sjis::copyField(field, platform::readString(ini, section, key, {}, N - 1));
}

template <size_t N>
void readPassword(platform::Profile& ini, std::string_view section, std::string_view key,
                  char (&field)[N]) {
    // The stored form is a third longer than the password: read it with room for all of it.
    const std::string stored = platform::readString(ini, section, key, {}, kStoredPasswordMax + 16);
    sjis::copyField(field, unscramblePassword(stored));
}

std::vector<std::string_view> splitList(std::string_view text) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = sjis::find(text, ';', start);
        if (end == std::string_view::npos) end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace

Account blankAccount() {
    Account a{};
    a.number = kOrderWithoutAccount;
    return a;
}

AccountList::~AccountList() {
    listFreeAll(head_);
}

size_t AccountList::size() const {
    return listSize(head_);
}

Account* AccountList::byNumber(int32_t number) {
    for (Account* a : listRange(head_)) {
        if (a->number == number) return a;
    }
    return nullptr;
}

Account* AccountList::at(size_t index) {
    for (Account* a : listRange(head_)) {
        if (index-- == 0) return a;
    }
    return nullptr;
}

Account* AccountList::byName(std::string_view name) {
    for (Account* a : listRange(head_)) {
        if (sjis::fieldView(a->name) == name) return a;
    }
    return nullptr;
}

std::optional<int32_t> AccountList::freeNumber() const {
    bool used[kMaxAccounts] = {};
    for (const Account* a = head_.next; a; a = a->next) {
        if (a->number >= 0 && a->number < kMaxAccounts) used[a->number] = true;
    }
    for (int32_t n = 0; n < kMaxAccounts; ++n) {
        if (!used[n]) return n;
    }
    return std::nullopt;
}

bool AccountList::nameTaken(std::string_view name, const Account* except) const {
    // The ini compares section names without case and the file system compares UIDL file names
    // without case (full-width letters too): either would make two accounts share one.
    for (const Account* a = head_.next; a; a = a->next) {
        if (a != except && sjis::equalsNoCase(sjis::fieldView(a->name), name)) return true;
    }
    for (const std::string& k : kept_) {
        if (sjis::equalsNoCase(k, name)) return true;
    }
    return false;
}

void AccountList::append(Account* account) {
    listAppend(head_, account);
}

void AccountList::remove(Account* account) {
    listUnlink(head_, account);
    delete account;
}

bool readAccountSection(platform::Profile& ini, std::string_view name, Account& out) {
    out.number = readInt32(ini, name, "TagNo", kOrderWithoutAccount);
    if (out.number < 0 || out.number >= kMaxAccounts) return false;
    readText(ini, name, "POP3Server", out.pop3Server);
    readText(ini, name, "SMTPServer", out.smtpServer);
    readText(ini, name, "UserID", out.userId);
    readPassword(ini, name, "Password", out.password);
    readText(ini, name, "From", out.fromName);
    readText(ini, name, "MailAddress", out.mailAddress);
    out.popPort = readInt32(ini, name, "POPPort", 0);
    out.smtpPort = readInt32(ini, name, "SMTPPort", 0);
    out.apop = readInt32(ini, name, "APOP", 0);
    out.smtpAuth = readInt32(ini, name, "SMTPAuth", 0);
    out.popBeforeSmtp = readInt32(ini, name, "POPBeforeSMTP", 0);
    out.waitTime = readInt32(ini, name, "WaitTime", 0);
    readText(ini, name, "RasEntry", out.rasEntry);
    readText(ini, name, "SmtpUserID", out.smtpUserId);
    readPassword(ini, name, "SmtpPassword", out.smtpPassword);
    out.recvSsl = readInt32(ini, name, "RecvSSL", 0);
    out.sendSsl = readInt32(ini, name, "SendSSL", 0);
    out.recvSslProtocol = readInt32(ini, name, "RecvSSLProtocol", 0);
    out.sendSslProtocol = readInt32(ini, name, "SendSSLProtocol", 0);
    out.certSsl = readInt32(ini, name, "CertSSL", 1);
    out.sendPending = 0;
    return true;
}

Err AccountList::load(Env& env) {
    const std::string list =
        platform::readString(env.ini, kTagListSection, kTagAccountKey, {}, kNameListMax);
    if (list.empty()) return Err::None;
    bool damaged = false;
    bool used[kMaxAccounts] = {};
    for (std::string_view name : splitList(list)) {
        if (name.empty()) continue;
        // A second mention of a name reads the same section: nothing to load or keep.
        bool seen = false;
        for (const Account* a = head_.next; a && !seen; a = a->next)
            seen = sjis::equalsNoCaseAscii(sjis::fieldView(a->name), name);
        for (const std::string& k : kept_)
            seen = seen || sjis::equalsNoCaseAscii(k, name);
        if (seen) continue;

        Account* a = new (std::nothrow) Account(blankAccount());
        if (!a) return Err::NoMemory;
        const bool fits = name.size() <= kAccountTextMax;
        if (fits) sjis::copyField(a->name, name);
        if (!fits || !readAccountSection(env.ini, name, *a) || used[a->number]) {
            delete a;
            kept_.emplace_back(name);
            damaged = true;
            continue;
        }
        used[a->number] = true;
        listAppend(head_, a);
    }
    if (damaged) report::report(env, kIniReadError);
    return damaged ? Err::Damaged : Err::None;
}

Err AccountList::writeNameList(Env& env) const {
    std::string list;
    for (const Account* a = head_.next; a; a = a->next) {
        if (!list.empty()) list += ';';
        list += sjis::fieldView(a->name);
    }
    for (const std::string& k : kept_) {
        if (!list.empty()) list += ';';
        list += k;
    }
    return env.ini.write(kTagListSection, kTagAccountKey, list);
}

Err AccountList::saveAccount(Env& env, const Account& a,
                             std::optional<std::string_view> previousName) const {
    Err first = writeNameList(env);
    auto keep = [&first](Err e) {
        if (first == Err::None) first = e;
    };
    const std::string name(sjis::fieldView(a.name));
    if (previousName && *previousName != name) keep(env.ini.removeSection(*previousName));
    keep(env.ini.removeSection(name));
    platform::Profile& ini = env.ini;
    auto text = [&](std::string_view key, std::string_view value) {
        keep(ini.write(name, key, value));
    };
    auto number = [&](std::string_view key, int32_t value) {
        keep(platform::writeInt(ini, name, key, value));
    };
    text("POP3Server", sjis::fieldView(a.pop3Server));
    text("SMTPServer", sjis::fieldView(a.smtpServer));
    text("UserID", sjis::fieldView(a.userId));
    text("Password", scramblePassword(sjis::fieldView(a.password)));
    text("From", sjis::fieldView(a.fromName));
    text("MailAddress", sjis::fieldView(a.mailAddress));
    text("RasEntry", sjis::fieldView(a.rasEntry));
    number("POPPort", a.popPort);
    number("SMTPPort", a.smtpPort);
    number("APOP", a.apop);
    number("SMTPAuth", a.smtpAuth);
    number("POPBeforeSMTP", a.popBeforeSmtp);
    number("WaitTime", a.waitTime);
    text("SmtpUserID", sjis::fieldView(a.smtpUserId));
    number("RecvSSL", a.recvSsl);
    number("SendSSL", a.sendSsl);
    number("RecvSSLProtocol", a.recvSslProtocol);
    number("SendSSLProtocol", a.sendSslProtocol);
    number("CertSSL", a.certSsl);
    text("SmtpPassword", scramblePassword(sjis::fieldView(a.smtpPassword)));
    number("TagNo", a.number);
    return first;
}

std::string uidlFileName(std::string_view accountName) {
    std::string p = "_UIDL\\";
    p += accountName;
    p += ".txt";
    return p;
}

}  // namespace kolvy::config
