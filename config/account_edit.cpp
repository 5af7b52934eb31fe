#include "config/account_edit.h"

#include <cstring>
#include <new>
#include <vector>

#include "core/ascii.h"
#include "core/list.h"
#include "core/sjis.h"
#include "report/report.h"

namespace kolvy::config {

namespace {

// Single-byte characters an account name cannot hold: the ini reads "[", "]", ";", "=" and ","
// as structure, the UIDL file name cannot hold the path and wildcard characters, and control
// bytes would break both.
bool forbiddenInName(unsigned char c) {
    if (c < 0x20 || c == 0x7F) return true;
    return std::strchr(".\"/\\[];:|=,*?<>", c) != nullptr;
}

bool reservedName(std::string_view name) {
    // Other sections of the ini.
    for (const char* s : {"Option", "TagList", "TabOption", "CustColors", "WordHistory"}) {
        if (sjis::equalsNoCaseAscii(name, s)) return true;
    }
    // Tab and order sections are numbers.
    bool digits = !name.empty();
    for (const char c : name)
        digits = digits && c >= '0' && c <= '9';
    if (digits) return true;
    // Device names cannot be file names.
    for (const char* s : {"CON", "PRN", "AUX", "NUL"}) {
        if (sjis::equalsNoCaseAscii(name, s)) return true;
    }
    if (name.size() == 4 && name[3] >= '1' && name[3] <= '9' &&
        (sjis::equalsNoCaseAscii(name.substr(0, 3), "COM") ||
         sjis::equalsNoCaseAscii(name.substr(0, 3), "LPT"))) {
        return true;
    }
    // Blanks around a name are trimmed by the ini; the settings list begins with this entry.
    if (ascii::isBlank(name.front()) || ascii::isBlank(name.back())) return true;
    return name == "新規作成";
}

bool allowedAddressByte(unsigned char c) {
    return c == 0x21 || (c >= 0x23 && c <= 0x27) || c == 0x2B || (c >= 0x2D && c <= 0x39) ||
           (c >= 0x3F && c <= 0x5A) || (c >= 0x5E && c <= 0x7B) || c == 0x7D;
}

AccountCheck refuse(AccountField focus, std::string text) {
    return {false, focus, std::move(text)};
}

// The fields the settings dialog edits, copied from the form into the stored record.
void copyEditable(Account& to, const Account& from) {
    std::memcpy(to.name, from.name, sizeof to.name);
    std::memcpy(to.pop3Server, from.pop3Server, sizeof to.pop3Server);
    std::memcpy(to.smtpServer, from.smtpServer, sizeof to.smtpServer);
    std::memcpy(to.userId, from.userId, sizeof to.userId);
    std::memcpy(to.password, from.password, sizeof to.password);
    std::memcpy(to.fromName, from.fromName, sizeof to.fromName);
    std::memcpy(to.mailAddress, from.mailAddress, sizeof to.mailAddress);
    std::memcpy(to.rasEntry, from.rasEntry, sizeof to.rasEntry);
    std::memcpy(to.smtpUserId, from.smtpUserId, sizeof to.smtpUserId);
    std::memcpy(to.smtpPassword, from.smtpPassword, sizeof to.smtpPassword);
    to.popPort = from.popPort;
    to.smtpPort = from.smtpPort;
    to.apop = from.apop;
    to.smtpAuth = from.smtpAuth;
    to.popBeforeSmtp = from.popBeforeSmtp;
    to.waitTime = from.waitTime;
    to.recvSsl = from.recvSsl;
    to.sendSsl = from.sendSsl;
}

void moveUidlFile(Env& env, std::string_view from, std::string_view to) {
    const std::string src = env.path(uidlFileName(from));
    if (!env.fs.exists(src)) return;
    // The fetch history follows the account; a stale file under the new name belonged to an
    // account that no longer exists.
    env.fs.replace(src, env.path(uidlFileName(to)));
}

}  // namespace

AccountCheck checkRequiredFields(const Account& f) {
    struct Required {
        const char* value;
        AccountField field;
        const char* label;
    };
    const Required required[] = {
        {f.name, AccountField::Name, "「 アカウント名（見出し）」"},
        {f.userId, AccountField::UserId, "「 ユーザID 」"},
        {f.password, AccountField::Password, "「 パスワード 」"},
        {f.fromName, AccountField::FromName, "「 名前（メール覧）」"},
        {f.mailAddress, AccountField::MailAddress, "「 メールアドレス 」"},
    };
    for (const Required& r : required) {
        if (r.value[0] == '\0') return refuse(r.field, std::string(r.label) + kNotFilledSuffix);
    }
    return {};
}

AccountCheck checkAccountName(const Account& form, const AccountList& accounts,
                              const Account* editing) {
    const std::string_view name = sjis::fieldView(form.name);
    for (size_t i = 0; i < name.size();) {
        const size_t len = sjis::charLen(name, i);
        // Trail bytes of double-byte characters can look like "\\" or "[": only whole
        // single-byte characters count.
        if (len == 1 && forbiddenInName(static_cast<unsigned char>(name[i]))) {
            return refuse(AccountField::Name, kBadNameCharText);
        }
        i += len;
    }
    if (name.empty() || reservedName(name)) return refuse(AccountField::Name, kReservedNameText);
    if (accounts.nameTaken(name, editing)) return refuse(AccountField::Name, kSameNameText);
    return {};
}

AccountCheck checkAddresses(const Account& form) {
    if (sjis::contains(sjis::fieldView(form.fromName), "@")) {
        return refuse(AccountField::FromName, kAtInFromNameText);
    }
    const std::string_view address = sjis::fieldView(form.mailAddress);
    bool ok = sjis::contains(address, "@");
    for (const char c : address)
        ok = ok && allowedAddressByte(static_cast<unsigned char>(c));
    if (!ok) return refuse(AccountField::MailAddress, kBadAddressText);
    return {};
}

bool accountDiffers(const Account& a, const Account& b) {
    Account left = blankAccount();
    Account right = blankAccount();
    copyEditable(left, a);
    copyEditable(right, b);
    auto same = [](const char* x, const char* y, size_t n) { return std::strncmp(x, y, n) == 0; };
    return !same(left.name, right.name, sizeof left.name) ||
           !same(left.pop3Server, right.pop3Server, sizeof left.pop3Server) ||
           !same(left.smtpServer, right.smtpServer, sizeof left.smtpServer) ||
           !same(left.userId, right.userId, sizeof left.userId) ||
           !same(left.password, right.password, sizeof left.password) ||
           !same(left.fromName, right.fromName, sizeof left.fromName) ||
           !same(left.mailAddress, right.mailAddress, sizeof left.mailAddress) ||
           !same(left.rasEntry, right.rasEntry, sizeof left.rasEntry) ||
           !same(left.smtpUserId, right.smtpUserId, sizeof left.smtpUserId) ||
           !same(left.smtpPassword, right.smtpPassword, sizeof left.smtpPassword) ||
           left.popPort != right.popPort || left.smtpPort != right.smtpPort ||
           left.apop != right.apop || left.smtpAuth != right.smtpAuth ||
           left.popBeforeSmtp != right.popBeforeSmtp || left.waitTime != right.waitTime ||
           left.recvSsl != right.recvSsl || left.sendSsl != right.sendSsl;
}

Account newAccountForm() {
    Account a = blankAccount();
    a.popPort = 110;
    a.smtpPort = 25;
    a.certSsl = 1;
    return a;
}

ReceiveOrder* addAutomaticOrder(Env& env, OrderList& orders, const Account& account,
                                bool* becameSelected) {
    ReceiveOrder* o = orders.appendNew();
    if (!o) {
        report::notice(env, kOrderLimitText);
        return nullptr;
    }
    o->accountNumber = account.number;
    sjis::copyField(o->name, sjis::fieldView(account.name));
    o->selected = orders.totalCount() == 1 ? 1 : 0;
    if (becameSelected) *becameSelected = o->selected != 0;
    writeAutomaticOrder(env, *o);
    orders.saveLists(env);
    return o;
}

RegisterResult registerAccount(Env& env, AccountList& accounts, OrderList& orders,
                               const Account& form, Account* editing) {
    RegisterResult r;
    auto refused = [&](const AccountCheck& c) {
        report::notice(env, c.text);
        r.outcome = AccountOutcome::Refused;
        r.focus = c.focus;
        return r;
    };
    if (AccountCheck c = checkRequiredFields(form); !c.ok) return refused(c);
    if (AccountCheck c = checkAccountName(form, accounts, editing); !c.ok) return refused(c);
    if (editing) {
        if (!accountDiffers(*editing, form)) {
            r.outcome = AccountOutcome::Unchanged;
            r.account = editing;
            return r;
        }
        if (report::ask(env, kConfirmChangeText) != platform::Answer::Ok) {
            r.outcome = AccountOutcome::Cancelled;
            r.account = editing;
            return r;
        }
    } else if (!accounts.freeNumber()) {
        return refused({false, AccountField::None, kAccountLimitText});
    }
    if (AccountCheck c = checkAddresses(form); !c.ok) return refused(c);

    if (!editing) {
        if (!orders.freeId()) return refused({false, AccountField::None, kOrderLimitText});
        auto* a = new (std::nothrow) Account(newAccountForm());
        if (!a) {
            r.outcome = AccountOutcome::Refused;  // out of memory: the list is left as it was
            return r;
        }
        copyEditable(*a, form);
        a->recvSslProtocol = form.recvSslProtocol;
        a->sendSslProtocol = form.sendSslProtocol;
        a->certSsl = form.certSsl;
        a->number = *accounts.freeNumber();
        accounts.append(a);
        addAutomaticOrder(env, orders, *a, &r.paneRedraw);
        accounts.saveAccount(env, *a);
        report::notice(env, kRegisteredText);
        r.outcome = AccountOutcome::Created;
        r.account = a;
        return r;
    }
    const std::string previous(sjis::fieldView(editing->name));
    copyEditable(*editing, form);
    if (previous != sjis::fieldView(editing->name)) {
        moveUidlFile(env, previous, sjis::fieldView(editing->name));
    }
    accounts.saveAccount(env, *editing, previous);
    if (!orders.refersToAccount(editing->number)) {
        addAutomaticOrder(env, orders, *editing, &r.paneRedraw);
    }
    r.outcome = AccountOutcome::Changed;
    r.account = editing;
    return r;
}

DeleteResult deleteAccount(Env& env, AccountList& accounts, OrderList& orders, Account* account) {
    DeleteResult r;
    if (!account) return r;
    const std::string name(sjis::fieldView(account->name));
    if (report::ask(env, name + kDeleteAccountSuffix) != platform::Answer::Ok) return r;
    const int32_t number = account->number;
    r.paneRedraw = orders.topLevelCount() == 1;
    accounts.remove(account);
    accounts.writeNameList(env);
    env.ini.removeSection(name);

    std::vector<ReceiveOrder*> doomed;
    orders.forEach([&](ReceiveOrder* o) {
        if (!o->isFolder && o->accountNumber == number) doomed.push_back(o);
    });
    for (ReceiveOrder* o : doomed) {
        env.ini.removeSection(orderSection(o->id));
        orders.unlink(o);
        OrderList::destroy(o);
    }
    orders.saveLists(env);
    const std::string uidl = env.path(uidlFileName(name));
    if (env.fs.exists(uidl)) env.fs.remove(uidl);
    r.deleted = true;
    return r;
}

}  // namespace kolvy::config
