// Receiving whole orders against the real dovecot of the pop-servers fixture: a folder's members
// in turn, the stop at the first failure, and what the communication log says.
#include <gtest/gtest.h>

#include "config/accounts.h"
#include "config/orders.h"
#include "core/sjis.h"
#include "pop/receive_order.h"
#include "pop/testsupport/real_servers.h"
#include "pop/testsupport/recording_sink.h"
#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

class OrderReceive : public ::testing::Test {
  protected:
    void SetUp() override {
        auto s = test::popServers();
        ASSERT_TRUE(s.has_value()) << "the pop-servers fixture has not run";
        servers = *s;
        servers.emptyDovecot();
        t.clock.setLocal(2025, 3, 4, 5, 6, 7);
    }
    void TearDown() override { servers.emptyDovecot(); }

    // Account `number` on dovecot: plain USER/PASS, or TLS on connect with APOP.
    void addAccount(int32_t number, const char* name, bool tls) {
        auto* a = new Account(servers.account(name, tls ? 1 : 0, tls));
        a->number = number;
        accounts.append(a);
    }
    ReceiveOrder* member(ReceiveOrder* folder, const char* name, int32_t account) {
        auto* m = new ReceiveOrder(config::blankOrder());
        m->id = *orders.freeId();
        m->accountNumber = account;
        sjis::copyField(m->name, name);
        orders.appendTo(folder, m);
        return m;
    }
    OrderRun receive(const ReceiveOrder& order) {
        ReceiveContext c(t.env, sink, rules);
        c.options.timeoutMs = 20000;
        return receiveOrder(c, accounts, order);
    }
    std::string commLog() const { return t.read("_Log/通信ログ2503.txt"); }

    test::PopServers servers;
    test::TestEnv t;
    config::AccountList accounts;
    config::OrderList orders;
    test::RecordingSink sink;
    NoSizeRules rules;
};

std::string message(int i) {
    return "From: a@example.jp\r\nSubject: order " + std::to_string(i) + "\r\n\r\n.dot line\r\n";
}

TEST_F(OrderReceive, FolderMembersRunInTurnAndEachFetchesOnlyWhatIsNew) {
    addAccount(0, "平文", false);
    addAccount(1, "暗号", true);
    ReceiveOrder* folder = orders.appendNew();
    ASSERT_TRUE(folder && orders.makeFolder(folder));
    sjis::copyField(folder->name, "まとめて");
    ReceiveOrder* first = member(folder, "一つ目", 0);
    first->leaveOnServer = 1;
    member(folder, "二つ目", 1);
    ASSERT_TRUE(servers.deliverToDovecot("1.kolvy", message(1)));
    ASSERT_TRUE(servers.deliverToDovecot("2.kolvy", message(2)));

    ASSERT_EQ(orderByName(orders, "まとめて"), folder);
    ASSERT_EQ(orderByName(orders, "二つ目"), first->next);
    EXPECT_EQ(orderByName(orders, "まとめ"), nullptr);

    // The first member leaves both on the server; the second (TLS, APOP) knows nothing of the
    // first's ids, fetches both again and deletes them.
    const OrderRun run = receive(*folder);
    EXPECT_EQ(run.result, kReceiveDone) << t.reporter.lastText();
    EXPECT_EQ(run.members, 2);
    ASSERT_EQ(sink.stored.size(), 4u);
    EXPECT_NE(sink.bodies()[0].find("\r\n\r\n.dot line\r\n"), std::string::npos)
        << "a line starting with a dot arrives unstuffed";
    EXPECT_EQ(receive(*first).result, kReceiveNoMail);
    const std::string log = commLog();
    EXPECT_NE(log.find("\r\n\r\n2025/3/4 5:6:7 受信開始\r\n"), std::string::npos) << log;
    const size_t a = log.find("一つ目を受信"), b = log.find("二つ目を受信");
    EXPECT_TRUE(a != std::string::npos && b != std::string::npos && a < b) << log;
}

TEST_F(OrderReceive, AMemberThatNeedsTheScreenStopsTheRunAsAFailure) {
    addAccount(0, "平文", false);
    ReceiveOrder* folder = orders.appendNew();
    ASSERT_TRUE(folder && orders.makeFolder(folder));
    sjis::copyField(folder->name, "順番");
    member(folder, "電話", 0)->telConnect = 1;
    member(folder, "あと", 0);
    ASSERT_TRUE(servers.deliverToDovecot("1.kolvy", message(1)));

    OrderRun run = receive(*folder);
    EXPECT_EQ(run.result, kReceiveFailed);
    EXPECT_EQ(run.members, 0);
    EXPECT_TRUE(sink.stored.empty());
    EXPECT_NE(commLog().find("電話はダイアルアップかメールチェッカを使うため"), std::string::npos);
    EXPECT_EQ(commLog().find("あとを受信"), std::string::npos) << "the run stops at the failure";

    // A plain order whose account is gone fails the same way; the mail stays on the server.
    ReceiveOrder* lost = orders.appendNew();
    ASSERT_NE(lost, nullptr);
    sjis::copyField(lost->name, "孤児");
    lost->accountNumber = 7;
    run = receive(*lost);
    EXPECT_EQ(run.result, kReceiveFailed);
    EXPECT_NE(commLog().find("孤児のアカウントがありません。"), std::string::npos);
    ReceiveOrder* plain = orders.appendNew();
    ASSERT_NE(plain, nullptr);
    plain->accountNumber = 0;
    EXPECT_EQ(receive(*plain).result, kReceiveDone);
    EXPECT_EQ(sink.stored.size(), 1u);
}

}  // namespace
}  // namespace kolvy::pop
