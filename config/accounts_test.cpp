#include "config/accounts.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "config/password.h"
#include "core/list.h"
#include "core/sjis.h"
#include "tests/support/failing_fs.h"
#include "tests/support/ini_check.h"
#include "tests/support/test_env.h"

namespace kolvy::config {
namespace {

Account* makeAccount(int32_t number, std::string_view name) {
    auto* a = new Account(blankAccount());
    a->number = number;
    sjis::copyField(a->name, name);
    return a;
}

class Accounts : public ::testing::Test {
  protected:
    test::TestEnv t;
    std::string ini() { return t.read("Kolvy.ini"); }
};

// Every ini write goes through the file system: a failure at any step of saving an account is
// returned, never passed over, and leaves an ini whose account list is the old or the new one.
// (The Windows profile functions write the file themselves: no file system to fail there.)
#ifndef _WIN32
TEST_F(Accounts, SaveFailureAtAnyStepIsReturned) {
    AccountList list;
    Account* a = makeAccount(0, "自宅");
    sjis::copyField(a->pop3Server, "pop.example.jp");
    list.append(a);
    const std::string old = "[TagList]\r\nTagAcount=\r\n";
    test::FailingFileSystem failing(*t.fs);
    test::EnvOver over(t, failing, true);
    const int rounds = test::failEachStep(
        failing, [&] { t.write("Kolvy.ini", old); },
        [&](int n) {
            const Err e = list.saveAccount(over.env, *a);
            EXPECT_EQ(e != Err::None, failing.failed()) << n;
            const std::string text = ini();
            EXPECT_TRUE(text.starts_with(old) ||
                        text.starts_with("[TagList]\r\nTagAcount=自宅\r\n"))
                << n << text;
        });
    EXPECT_GT(rounds, 20);  // each key is a write of its own
}
#endif

TEST_F(Accounts, SavedSectionHoldsEveryKeyInItsOrder) {
    AccountList list;
    Account* a = makeAccount(0, "自宅");
    const std::pair<char(Account::*)[64], const char*> texts[] = {
        {&Account::pop3Server, "pop.example.jp"},
        {&Account::smtpServer, "smtp.example.jp"},
        {&Account::userId, "taro"},
        {&Account::password, "abc"},
        {&Account::fromName, "山田 太郎"},
        {&Account::mailAddress, "taro@example.jp"},
        {&Account::smtpUserId, "smtp-taro"},
        {&Account::smtpPassword, "abc"}};
    for (const auto& [field, text] : texts)
        sjis::copyField(a->*field, text);
    int32_t Account::*const numbers[] = {
        &Account::popPort,         &Account::smtpPort,        &Account::apop,    &Account::smtpAuth,
        &Account::popBeforeSmtp,   &Account::waitTime,        &Account::recvSsl, &Account::sendSsl,
        &Account::recvSslProtocol, &Account::sendSslProtocol, &Account::certSsl};
    const int32_t values[] = {995, 587, 1, 1, 1, 5, 1, 2, 3, 4, 1};
    for (size_t i = 0; i < std::size(numbers); ++i)
        a->*numbers[i] = values[i];
    list.append(a);
    ASSERT_EQ(list.saveAccount(t.env, *a), Err::None);
    const std::string text = ini();
    EXPECT_NE(text.find("[TagList]\r\nTagAcount=自宅\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[自宅]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n"
                        "UserID=taro\r\nPassword=np2c\r\nFrom=山田 太郎\r\n"
                        "MailAddress=taro@example.jp\r\nRasEntry=\r\nPOPPort=995\r\n"
                        "SMTPPort=587\r\nAPOP=1\r\nSMTPAuth=1\r\nPOPBeforeSMTP=1\r\nWaitTime=5\r\n"
                        "SmtpUserID=smtp-taro\r\nRecvSSL=1\r\nSendSSL=2\r\nRecvSSLProtocol=3\r\n"
                        "SendSSLProtocol=4\r\nCertSSL=1\r\nSmtpPassword=np2c\r\nTagNo=0\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("=abc"), std::string::npos);  // never the plain password
    AccountList back;
    ASSERT_EQ(back.load(t.env), Err::None);
    ASSERT_EQ(back.size(), 1u);
    const Account& b = *back.at(0);
    EXPECT_EQ(std::memcmp(&b, a, offsetof(Account, smtpPassword) + sizeof a->smtpPassword), 0);
    EXPECT_EQ(std::memcmp(&b.recvSsl, &a->recvSsl, sizeof(Account) - offsetof(Account, recvSsl)),
              0);
}

TEST_F(Accounts, HandWrittenIniWithDefaults) {
    t.write("Kolvy.ini",
            "[TagList]\r\ntagAcount=仕事;趣味\r\n"
            "[仕事]\r\nTagNo=3\r\nUserID=hanako\r\nPassword=np2c\r\nPOPPort=110\r\n"
            "[趣味]\r\nTagNo=7\r\nCertSSL=0\r\n");
    AccountList list;
    ASSERT_EQ(list.load(t.env), Err::None);
    ASSERT_EQ(list.size(), 2u);
    Account* work = list.byName("仕事");
    ASSERT_TRUE(work);
    EXPECT_EQ(std::string(work->userId) + "/" + work->password, "hanako/abc");
    // certSsl is 1 when the key is missing.
    EXPECT_EQ(std::tuple(work->number, work->popPort, work->smtpPort, work->certSsl),
              std::tuple(3, 110, 0, 1));
    EXPECT_EQ(list.byNumber(7), list.at(1));
    EXPECT_EQ(list.at(1)->certSsl, 0);
    for (const Account* none : {list.byNumber(4), list.at(2), list.byName("仕事 ")})
        EXPECT_EQ(none, nullptr);
    EXPECT_EQ(list.freeNumber(), 0);
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(Accounts, FullLengthFieldsAndPasswordsSurviveSaveAndReload) {
    AccountList list;
    // 63 bytes, the last character double-byte: the whole field.
    const std::string longText = std::string(61, 'p') + "表";
    std::string password;
    for (int i = 0; i < 63; ++i)
        password += static_cast<char>(0x21 + i * 3);
    Account* a = makeAccount(5, std::string(61, 'n') + "ソ");
    sjis::copyField(a->password, password);
    sjis::copyField(a->smtpPassword, "パスワード表ソ能");
    sjis::copyField(a->userId, longText);
    sjis::copyField(a->rasEntry, longText);
    list.append(a);
    ASSERT_EQ(sjis::fieldView(a->password).size(), 63u);
    ASSERT_EQ(list.saveAccount(t.env, *a), Err::None);
    EXPECT_EQ(t.ini->read(a->name, "Password")->size(), 84u);

    AccountList back;
    ASSERT_EQ(back.load(t.env), Err::None);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(sjis::fieldView(back.at(0)->name), sjis::fieldView(a->name));
    EXPECT_EQ(sjis::fieldView(back.at(0)->password), password);
    EXPECT_STREQ(back.at(0)->smtpPassword, "パスワード表ソ能");
    EXPECT_EQ(sjis::fieldView(back.at(0)->userId), longText);
    EXPECT_EQ(sjis::fieldView(back.at(0)->rasEntry), longText);
}

TEST_F(Accounts, TwentyLongNamesAllLoad) {
    AccountList list;
    for (int i = 0; i < kMaxAccounts; ++i) {
        const std::string prefix = (i < 10 ? "0" : "") + std::to_string(i);
        Account* a = makeAccount(i, prefix + std::string(58, 'x'));
        list.append(a);
        ASSERT_EQ(list.saveAccount(t.env, *a), Err::None);
    }
    EXPECT_GT(t.ini->read("TagList", "TagAcount")->size(), 1024u);
    EXPECT_EQ(list.freeNumber(), std::nullopt);
    AccountList back;
    ASSERT_EQ(back.load(t.env), Err::None);
    EXPECT_EQ(back.size(), 20u);
    EXPECT_EQ(back.at(19)->number, 19);
    // Deleting account 3 makes 3 the next number.
    back.remove(back.byNumber(3));
    EXPECT_EQ(back.freeNumber(), 3);
}

TEST_F(Accounts, BadEntriesAreReportedOnceAndKeptWhileTheOthersLoad) {
    const std::string tooLong(64, 'L');
    t.write("Kolvy.ini", "[TagList]\r\nTagAcount=A;NoNumber;B;Dup;Range;;a;" + tooLong +
                             ";C\r\n"
                             "[A]\r\nTagNo=0\r\n[NoNumber]\r\nUserID=kept\r\n[B]\r\nTagNo=1\r\n"
                             "[Dup]\r\nTagNo=1\r\n[Range]\r\nTagNo=20\r\n[" +
                             tooLong + "]\r\nTagNo=4\r\n[C]\r\nTagNo=2\r\n");
    AccountList list;
    EXPECT_EQ(list.load(t.env), Err::Damaged);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_EQ(t.reporter.lastText(), kIniReadError);
    EXPECT_EQ(t.reporter.shown()[0].icon, platform::Icon::Exclamation);
    ASSERT_EQ(list.size(), 3u);  // A, B, C: "a" names A's section again
    EXPECT_STREQ(list.at(2)->name, "C");
    EXPECT_EQ(list.keptNames(), (std::vector<std::string>{"NoNumber", "Dup", "Range", tooLong}));
    // The next save keeps every entry listed and every section in place.
    ASSERT_EQ(list.saveAccount(t.env, *list.at(0)), Err::None);
    EXPECT_TRUE(test::iniHolds(
        *t.ini, "TagList/TagAcount=A;B;C;NoNumber;Dup;Range;" + tooLong + "|NoNumber/UserID=kept"));
    // A kept name is taken, in any case.
    EXPECT_TRUE(list.nameTaken("nonumber") && list.nameTaken("c"));
    EXPECT_FALSE(list.nameTaken("c", list.at(2)) || list.nameTaken("D"));
}

TEST_F(Accounts, RenameDropsTheOldSectionAndStaleKeys) {
    t.write("Kolvy.ini", "[New]\r\nStale=1\r\n");
    AccountList list;
    Account* a = makeAccount(0, "Old");
    list.append(a);
    ASSERT_EQ(list.saveAccount(t.env, *a), Err::None);
    sjis::copyField(a->name, "New");
    ASSERT_EQ(list.saveAccount(t.env, *a, std::string_view("Old")), Err::None);
    EXPECT_TRUE(test::iniHolds(*t.ini, "Old!|New/Stale!|New/TagNo=0|TagList/TagAcount=New"));
    EXPECT_EQ(uidlFileName("New"), "_UIDL\\New.txt");
}

TEST_F(Accounts, EmptyOrMissingListMeansNoAccounts) {
    AccountList list;
    for (const char* text : {"", "[TagList]\r\nTagAcount=\r\n"}) {
        t.write("Kolvy.ini", text);
        EXPECT_EQ(list.load(t.env), Err::None);
        EXPECT_TRUE(list.empty());
    }
    EXPECT_TRUE(t.reporter.shown().empty());
}

}  // namespace
}  // namespace kolvy::config
