#include "config/account_edit.h"

#include <gtest/gtest.h>

#include "core/list.h"
#include "core/sjis.h"
#include "tests/support/ini_check.h"
#include "tests/support/test_env.h"

namespace kolvy::config {
namespace {

Account form(std::string_view name, std::string_view address = "taro@example.jp") {
    Account a = newAccountForm();
    sjis::copyField(a.name, name);
    sjis::copyField(a.pop3Server, "pop.example.jp");
    sjis::copyField(a.userId, "taro");
    sjis::copyField(a.password, "secret");
    sjis::copyField(a.fromName, "山田　太郎");  // the full-width blank is 81 40: no "@"
    sjis::copyField(a.mailAddress, address);
    return a;
}

TEST(AccountChecks, RequiredFieldsInOrder) {
    const struct {
        char (Account::*field)[64];
        AccountField focus;
        const char* text;
    } cases[] = {
        {&Account::name, AccountField::Name,
         "「 アカウント名（見出し）」 が記入されていません。   "},
        {&Account::userId, AccountField::UserId, "「 ユーザID 」 が記入されていません。   "},
        {&Account::password, AccountField::Password, "「 パスワード 」 が記入されていません。   "},
        {&Account::fromName, AccountField::FromName,
         "「 名前（メール覧）」 が記入されていません。   "},
        {&Account::mailAddress, AccountField::MailAddress,
         "「 メールアドレス 」 が記入されていません。   "}};
    Account noServers = form("a");
    noServers.pop3Server[0] = '\0';
    EXPECT_TRUE(checkRequiredFields(noServers).ok);
    for (size_t i = 0; i < std::size(cases); ++i) {
        Account a = form("a");
        // Emptying this field and every later one: the first one is named.
        for (size_t j = i; j < std::size(cases); ++j)
            (a.*cases[j].field)[0] = '\0';
        const AccountCheck c = checkRequiredFields(a);
        EXPECT_EQ(std::tuple(c.ok, c.focus, c.text),
                  std::tuple(false, cases[i].focus, cases[i].text));
    }
}

TEST(AccountChecks, AccountNames) {
    AccountList accounts;
    auto* existing = new Account(form("Work"));
    existing->number = 0;
    accounts.append(existing);
    auto* wide = new Account(form("ａｂ"));
    wide->number = 1;
    accounts.append(wide);
    const struct {
        const char* refusal;  // null = accepted
        std::vector<std::string> names;
    } cases[] = {
        // Half-width katakana; trail bytes "[" (ー 81 5B), "\\" (5C) and "|" (ポ 83 7C).
        {nullptr, {"ｱｶｳﾝﾄ12", "メール", "ソフト表", "ポイント", "Option2", "1a"}},
        {kBadNameCharText,
         {"a.b", "a;b", "[a]", "a\\b", "a\"b", "a/b", "a:b", "a|b", "a=b", "a,b", "a*b", "a?b",
          "a<b>", "a\tb"}},
        {kReservedNameText,
         {"Option", "option", "TAGLIST", "TabOption", "custcolors", "WordHistory", "0", "123",
          "CON", "com1", "Lpt9", " a", "a ", "新規作成"}},
        {kSameNameText, {"Work", "work", "ＡＢ"}},  // "work": one ini section, one UIDL file
    };
    for (const auto& c : cases) {
        for (const std::string& name : c.names) {
            const AccountCheck r = checkAccountName(form(name), accounts, nullptr);
            EXPECT_EQ(std::tuple(r.ok, r.focus, r.text),
                      std::tuple(!c.refusal, c.refusal ? AccountField::Name : AccountField::None,
                                 std::string(c.refusal ? c.refusal : "")))
                << name;
        }
    }
    // Changing an account may keep its name or change its case.
    EXPECT_TRUE(checkAccountName(form("Work"), accounts, existing).ok);
    EXPECT_TRUE(checkAccountName(form("WORK"), accounts, existing).ok);
    EXPECT_FALSE(checkAccountName(form("ＡＢ"), accounts, existing).ok);
}

TEST(AccountChecks, Addresses) {
    const struct {
        const char *fromName, *address;
        AccountField refused;  // None = accepted
    } cases[] = {{"山田　太郎", "a_b-c.d+e@example.com", AccountField::None},
                 {"ｱ＠ｲ", "x@example.jp", AccountField::None},  // full-width at sign is not "@"
                 {"me@home", "x@example.jp", AccountField::FromName},
                 {"山田", "a b@example.jp", AccountField::MailAddress},
                 {"山田", "a(b@example.jp", AccountField::MailAddress},
                 {"山田", "ab.example.jp", AccountField::MailAddress},
                 {"山田", "表@example.jp", AccountField::MailAddress},
                 {"山田", "<a@example.jp>", AccountField::MailAddress}};
    for (const auto& c : cases) {
        Account a = form("x", c.address);
        sjis::copyField(a.fromName, c.fromName);
        const AccountCheck r = checkAddresses(a);
        const char* text = c.refused == AccountField::FromName      ? kAtInFromNameText
                           : c.refused == AccountField::MailAddress ? kBadAddressText
                                                                    : "";
        EXPECT_EQ(std::tuple(r.ok, r.focus, r.text),
                  std::tuple(c.refused == AccountField::None, c.refused, std::string(text)))
            << c.fromName << " " << c.address;
    }
}

TEST(AccountChecks, ChangeDetectionCoversEveryEditableField) {
    const Account base = form("x");
    for (char(Account::*text)[64] :
         {&Account::name, &Account::pop3Server, &Account::smtpServer, &Account::userId,
          &Account::password, &Account::fromName, &Account::mailAddress, &Account::rasEntry,
          &Account::smtpUserId, &Account::smtpPassword}) {
        Account changed = base;
        (changed.*text)[0] ^= 1;
        EXPECT_TRUE(accountDiffers(base, changed)) << base.*text;
    }
    for (int32_t Account::*number :
         {&Account::popPort, &Account::smtpPort, &Account::apop, &Account::smtpAuth,
          &Account::popBeforeSmtp, &Account::waitTime, &Account::recvSsl, &Account::sendSsl}) {
        Account changed = base;
        changed.*number += 1;
        EXPECT_TRUE(accountDiffers(base, changed)) << base.*number;
    }
    // What the settings do not edit is no change; bytes after a field's NUL are not either.
    Account same = base;
    same.number = 7;
    same.certSsl = 0;
    same.recvSslProtocol = 3;
    same.sendPending = 1;
    same.userId[10] = 'z';
    EXPECT_FALSE(accountDiffers(base, same));
}

class AccountEditing : public ::testing::Test {
  protected:
    RegisterResult create(std::string_view name) {
        t.reporter.clear();
        return registerAccount(t.env, accounts, orders, form(name), nullptr);
    }
    bool remove(Account* a, bool ok = true) {
        if (ok) t.reporter.answer(platform::Answer::Ok);
        return deleteAccount(t.env, accounts, orders, a).deleted;
    }
    test::TestEnv t;
    AccountList accounts;
    OrderList orders;
};

TEST_F(AccountEditing, CreatingGivesTheAccountAnAutomaticOrder) {
    RegisterResult r = create("自宅");
    ASSERT_EQ(r.outcome, AccountOutcome::Created);
    EXPECT_EQ(std::tuple(r.paneRedraw, r.account->number, r.account->certSsl),
              std::tuple(true, 0, 1));
    EXPECT_EQ(t.reporter.lastText(), kRegisteredText);
    EXPECT_EQ(t.reporter.shown().back().icon, platform::Icon::Information);
    ReceiveOrder* o = orders.byId(100);
    ASSERT_TRUE(o);
    EXPECT_EQ(std::tuple(o->accountNumber, o->selected), std::tuple(0, 1));
    EXPECT_STREQ(o->name, "自宅");
    EXPECT_TRUE(test::iniHolds(
        *t.ini, "TagList/TagOrder=100|100/SelectPain=1|自宅/CertSSL=1|自宅/POPPort=110"));
    r = create("仕事");
    ASSERT_EQ(r.outcome, AccountOutcome::Created);
    EXPECT_EQ(std::tuple(r.paneRedraw, r.account->number, orders.byId(101)->selected),
              std::tuple(false, 1, 0));
    // A long account name is cut to the order name's 47 bytes.
    ASSERT_EQ(create(std::string(46, 'n') + "表" + "z").outcome, AccountOutcome::Created);
    EXPECT_EQ(std::string(orders.byId(102)->name), std::string(46, 'n'));
    // Everything round-trips through the ini.
    AccountList a2;
    OrderList o2;
    ASSERT_EQ(a2.load(t.env), Err::None);
    ASSERT_EQ(o2.load(t.env, false), Err::None);
    EXPECT_EQ(std::tuple(a2.size(), o2.totalCount(), o2.selected()->id), std::tuple(3u, 3u, 100));
    EXPECT_STREQ(a2.byNumber(1)->password, "secret");
}

TEST_F(AccountEditing, LimitsOfAccountsAndOrders) {
    for (int i = 0; i < kMaxAccounts; ++i)
        ASSERT_EQ(create("a" + std::to_string(i)).outcome, AccountOutcome::Created);
    EXPECT_EQ(create("one too many").outcome, AccountOutcome::Refused);
    EXPECT_EQ(t.reporter.lastText(), kAccountLimitText);
    ASSERT_TRUE(remove(accounts.byNumber(3)));
    RegisterResult r = create("again");
    ASSERT_EQ(r.outcome, AccountOutcome::Created);
    EXPECT_EQ(r.account->number, 3);
    // Fill the order ids: the next account cannot get its order and is not created.
    while (orders.appendNew()) {
    }
    ASSERT_TRUE(remove(accounts.byNumber(5)));
    while (orders.appendNew()) {
    }
    const size_t before = accounts.size();
    EXPECT_EQ(create("no order left").outcome, AccountOutcome::Refused);
    EXPECT_EQ(t.reporter.lastText(), kOrderLimitText);
    EXPECT_EQ(accounts.size(), before);
    EXPECT_TRUE(test::iniHolds(*t.ini, "no order left/TagNo!"));
}

TEST_F(AccountEditing, ChangingAsksRenamesTheSectionAndTheUidlFile) {
    Account* a = create("old").account;
    ASSERT_TRUE(a);
    t.write("_UIDL\\old.txt", "id1\r\nid2\r\n");
    t.write("_UIDL\\new.txt", "stale\r\n");
    t.reporter.clear();
    // Nothing changed: nothing asked, nothing saved.
    EXPECT_EQ(registerAccount(t.env, accounts, orders, *a, a).outcome, AccountOutcome::Unchanged);
    EXPECT_TRUE(t.reporter.shown().empty());
    Account f = *a;
    sjis::copyField(f.name, "new");
    sjis::copyField(f.password, "パスワード");
    EXPECT_EQ(registerAccount(t.env, accounts, orders, f, a).outcome, AccountOutcome::Cancelled);
    EXPECT_EQ(t.reporter.lastText(), kConfirmChangeText);
    EXPECT_STREQ(a->name, "old");
    EXPECT_EQ(t.read("_UIDL\\old.txt"), "id1\r\nid2\r\n");
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_EQ(registerAccount(t.env, accounts, orders, f, a).outcome, AccountOutcome::Changed);
    EXPECT_STREQ(a->name, "new");
    EXPECT_TRUE(test::iniHolds(*t.ini, "old!|TagList/TagAcount=new"));
    EXPECT_EQ(t.read("_UIDL\\new.txt") + t.read("_UIDL\\old.txt"), "id1\r\nid2\r\n<missing>");
    EXPECT_EQ(orders.totalCount(), 1u);  // its order still refers to it
    // A change of an account no order refers to gives it an automatic order.
    t.reporter.answer(platform::Answer::Ok);
    ReceiveOrder* o = orders.byId(100);
    orders.unlink(o);
    OrderList::destroy(o);
    sjis::copyField(f.smtpServer, "smtp.example.jp");
    EXPECT_EQ(registerAccount(t.env, accounts, orders, f, a).outcome, AccountOutcome::Changed);
    ASSERT_EQ(orders.totalCount(), 1u);
    EXPECT_EQ(orders.head().next->accountNumber, a->number);
    AccountList back;
    ASSERT_EQ(back.load(t.env), Err::None);
    EXPECT_STREQ(back.byName("new")->password, "パスワード");
}

TEST_F(AccountEditing, RefusalsOfARegistration) {
    create("a");
    t.reporter.clear();
    RegisterResult r = registerAccount(t.env, accounts, orders, form("b", "no-at-sign"), nullptr);
    EXPECT_EQ(std::tuple(r.outcome, r.focus),
              std::tuple(AccountOutcome::Refused, AccountField::MailAddress));
    EXPECT_EQ(t.reporter.lastText(), kBadAddressText);
    EXPECT_EQ(t.reporter.shown().back().icon, platform::Icon::Information);
    r = registerAccount(t.env, accounts, orders, form("A"), nullptr);
    EXPECT_EQ(r.outcome, AccountOutcome::Refused);
    EXPECT_EQ(t.reporter.lastText(), kSameNameText);
    EXPECT_EQ(accounts.size(), 1u);
}

TEST_F(AccountEditing, DeletingCascadesOverOrdersInFoldersToo) {
    Account* a = create("a").account;
    create("b");
    t.write("_UIDL\\a.txt", "id\r\n");
    ReceiveOrder* folder = orders.appendNew();
    ASSERT_TRUE(orders.makeFolder(folder));
    for (const int32_t account : {a->number, 1}) {
        ReceiveOrder* member = orders.appendNew();
        orders.unlink(member);
        member->accountNumber = account;
        orders.appendTo(folder, member);
    }
    ASSERT_EQ(orders.saveLists(t.env), Err::None);
    ASSERT_TRUE(test::iniHolds(*t.ini, "102/ChildMenu=103;104"));
    t.ini->write("103", "TagNo", "0");
    t.reporter.clear();
    EXPECT_FALSE(remove(a, false));  // Cancel
    EXPECT_EQ(t.reporter.lastText(), "a を削除していいですか？   ");
    EXPECT_EQ(accounts.size(), 2u);
    EXPECT_FALSE(remove(nullptr, false));  // "新規作成"
    t.reporter.answer(platform::Answer::Ok);
    const DeleteResult r = deleteAccount(t.env, accounts, orders, a);
    EXPECT_EQ(std::tuple(r.deleted, r.paneRedraw, accounts.size()), std::tuple(true, false, 1u));
    EXPECT_TRUE(test::iniHolds(
        *t.ini, "a!|TagList/TagAcount=b|TagList/TagOrder=101;102|100!|103!|102/ChildMenu=104"));
    EXPECT_EQ(t.read("_UIDL\\a.txt"), "<missing>");
    // The last member goes with its account: the folder stays, without ChildMenu.
    EXPECT_TRUE(remove(accounts.byNumber(1)));
    EXPECT_TRUE(test::iniHolds(*t.ini, "TagList/TagOrder=102|102/ChildMenu!"));
    EXPECT_TRUE(listEmpty(*folder->members));
}

}  // namespace
}  // namespace kolvy::config
