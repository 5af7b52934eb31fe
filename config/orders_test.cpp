#include "config/orders.h"

#include <gtest/gtest.h>

#include "config/accounts.h"
#include "core/list.h"
#include "core/sjis.h"
#include "tests/support/ini_check.h"
#include "tests/support/test_env.h"

namespace kolvy::config {
namespace {

constexpr char kIni[] =
    "[TagList]\r\nTagOrder=100;103;101\r\n"
    "[100]\r\nTagNo=0\r\nSelectForA=0\r\nTelConnect=1\r\nTelCut=1\r\nMailChecker=0\r\n"
    "Nokosu=1\r\nOrderDownLoadLine=1\r\nOrderDownLoadLineGyousu=20\r\nKidou=1\r\nTimer=1\r\n"
    "Jikoku=2\r\nFunn=3\r\nStartJikoku=8\r\nStartFunn=30\r\nSelectPain=0\r\nOrderName=自宅\r\n"
    "[103]\r\nSelectForA=1\r\nChildMenu=104;105\r\nKidou=0\r\nTimer=1\r\nSelectPain=1\r\n"
    "OrderName=まとめ\r\n"
    "[104]\r\nTagNo=1\r\nSelectForA=0\r\nMailChecker=1\r\nNokosu=1\r\nTimer=0\r\n"
    "OrderName=仕事\r\n"
    "[105]\r\nTagNo=2\r\nSelectForA=0\r\nNokosu=1\r\nOrderName=趣味\r\n"
    "[101]\r\nTagNo=2\r\nOrderName=趣味だけ\r\n";

// An order's settings in ini key order: TagNo SelectForA TelConnect TelCut MailChecker Nokosu
// OrderDownLoadLine(Gyousu) Kidou Timer Jikoku Funn StartJikoku StartFunn SelectPain.
std::vector<int> settings(const ReceiveOrder& o) {
    return {o.accountNumber,  o.isFolder,      o.telConnect,      o.telCut,
            o.mailChecker,    o.leaveOnServer, o.headerLinesOnly, o.headerLines,
            o.receiveAtStart, o.timer,         o.intervalHours,   o.intervalFiveMinutes,
            o.baseHour,       o.baseMinute,    o.selected};
}

class Orders : public ::testing::Test {
  protected:
    OrderList& load(const char* ini, bool utilityLibrary, Err want = Err::None) {
        t.write("Kolvy.ini", ini);
        EXPECT_EQ(orders.load(t.env, utilityLibrary), want);
        return orders;
    }
    test::TestEnv t;
    OrderList orders;
};

TEST_F(Orders, LoadsTopLevelOrdersFoldersAndMembers) {
    load(kIni, true);
    EXPECT_EQ(std::tuple(orders.topLevelCount(), orders.totalCount()), std::tuple(3u, 5u));
    ReceiveOrder* home = orders.byMenuPosition(3);
    ASSERT_TRUE(home);
    EXPECT_EQ(home->id, 100);
    EXPECT_EQ(settings(*home), (std::vector<int>{0, 0, 1, 1, 0, 1, 1, 20, 1, 1, 2, 3, 8, 30, 0}));
    EXPECT_STREQ(home->name, "自宅");
    ReceiveOrder* folder = orders.byMenuPosition(4);
    ASSERT_TRUE(folder);
    EXPECT_EQ(settings(*folder),
              (std::vector<int>{kOrderWithoutAccount, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
    EXPECT_STREQ(folder->childList, "104;105");
    EXPECT_EQ(orders.selected(), folder);
    ASSERT_EQ(listSize(*folder->members), 2u);
    ReceiveOrder* work = orders.byId(104);
    ASSERT_TRUE(work);
    EXPECT_EQ(work->parent, folder);
    EXPECT_EQ(accountNumberOf(*folder), 1);
    // A member with mail check and leave-on-server is put right, in the file too.
    EXPECT_EQ(std::tuple(work->mailChecker, work->leaveOnServer), std::tuple(1, 0));
    EXPECT_TRUE(test::iniHolds(*t.ini, "104/Nokosu=0"));
    EXPECT_EQ(orders.byId(105)->leaveOnServer, 1);
    EXPECT_EQ(orders.byMenuPosition(5)->id, 101);
    for (const ReceiveOrder* none :
         {orders.byMenuPosition(6), orders.byMenuPosition(2), orders.byId(102)})
        EXPECT_EQ(none, nullptr);
    EXPECT_EQ(orders.freeId(), 102);
    EXPECT_TRUE(orders.refersToAccount(1));
    EXPECT_FALSE(orders.refersToAccount(3));
    EXPECT_FALSE(orders.refersToAccount(kOrderWithoutAccount));  // folders have no account
}

TEST_F(Orders, DownloadKeysNeedTheUtilityLibrary) {
    load(kIni, false);
    EXPECT_EQ(std::tuple(orders.byId(100)->headerLinesOnly, orders.byId(100)->headerLines),
              std::tuple(0, 0));
}

TEST_F(Orders, FolderInsideAFolderFailsTheLoad) {
    load(
        "[TagList]\r\nTagOrder=100\r\n[100]\r\nSelectForA=1\r\nChildMenu=101\r\n"
        "[101]\r\nSelectForA=1\r\n",
        false, Err::Damaged);
    EXPECT_EQ(t.reporter.lastText(), kIniError);
}

TEST_F(Orders, BadAndRepeatedIdsAreSkipped) {
    load(
        "[TagList]\r\nTagOrder=abc;99;150;100;;100;102\r\n"
        "[100]\r\nSelectForA=1\r\nChildMenu=100;101;101;7\r\n[101]\r\nTagNo=4\r\n"
        "[102]\r\nTagNo=5\r\nJikoku=40\r\nStartFunn=-3\r\n",
        false);
    EXPECT_EQ(std::tuple(orders.topLevelCount(), orders.totalCount()), std::tuple(2u, 3u));
    EXPECT_EQ(orders.byId(101)->parent, orders.byId(100));
    EXPECT_EQ(orders.byId(102)->parent, nullptr);
    // List positions out of their lists are read as the nearest position.
    EXPECT_EQ(orders.byId(102)->intervalHours, kMaxIntervalHours);
    EXPECT_EQ(orders.byId(102)->baseMinute, 0);
}

TEST_F(Orders, SavingTheListsAndSelectingForThePane) {
    load(kIni, true);
    ReceiveOrder* folder = orders.byId(103);
    ReceiveOrder* work = orders.byId(104);
    orders.unlink(work);
    orders.appendTo(nullptr, work);
    ASSERT_EQ(orders.saveLists(t.env), Err::None);
    EXPECT_TRUE(test::iniHolds(*t.ini, "TagList/TagOrder=100;103;101;104|103/ChildMenu=105"));
    EXPECT_STREQ(folder->childList, "105");
    ReceiveOrder* hobby = orders.byId(105);
    orders.unlink(hobby);
    OrderList::destroy(hobby);
    ASSERT_EQ(orders.saveLists(t.env), Err::None);
    EXPECT_TRUE(test::iniHolds(*t.ini, "103/ChildMenu!"));  // an empty folder has none

    ASSERT_EQ(orders.selectForPane(t.env, orders.byId(101)), Err::None);
    EXPECT_TRUE(test::iniHolds(*t.ini, "103/SelectPain=0|101/SelectPain=1"));
    EXPECT_EQ(orders.selected(), orders.byId(101));
    EXPECT_EQ(folder->selected, 0);

    OrderList back;
    ASSERT_EQ(back.load(t.env, true), Err::None);
    EXPECT_EQ(std::tuple(back.totalCount(), back.selected()->id), std::tuple(4u, 101));
    EXPECT_EQ(back.byId(104)->parent, nullptr);
    EXPECT_TRUE(listEmpty(*back.byId(103)->members));
}

TEST_F(Orders, FiftyIdsAtMost) {
    for (int i = 0; i < kMaxOrders; ++i)
        EXPECT_EQ(orders.appendNew()->id, kFirstOrderId + i);
    EXPECT_EQ(orders.appendNew(), nullptr);
    EXPECT_EQ(orders.freeId(), std::nullopt);
    ReceiveOrder* o = orders.byId(120);
    orders.unlink(o);
    OrderList::destroy(o);
    EXPECT_EQ(orders.appendNew()->id, 120);
}

TEST_F(Orders, NewOrderSectionsHoldTheirKeysOnly) {
    t.write("Kolvy.ini", "[100]\r\nKidou=1\r\nJikoku=3\r\n");
    ReceiveOrder o = blankOrder();
    o.id = 100;
    o.accountNumber = 2;
    o.selected = 1;
    sjis::copyField(o.name, "自宅");
    using Keys = std::vector<std::string>;
    ASSERT_EQ(writeAutomaticOrder(t.env, o), Err::None);
    EXPECT_EQ(t.ini->keys("100"), (Keys{"TagNo", "SelectForA", "TelConnect", "TelCut", "Timer",
                                        "SelectPain", "MailChecker", "OrderName"}));
    EXPECT_TRUE(test::iniHolds(*t.ini, "100/TagNo=2|100/SelectPain=1"));
    ASSERT_EQ(writeCopiedOrder(t.env, o), Err::None);
    EXPECT_EQ(t.ini->keys("100"), (Keys{"TagNo", "SelectForA", "TelConnect", "TelCut", "Timer",
                                        "MailChecker", "Nokosu", "OrderName"}));
    ASSERT_EQ(writeNewFolder(t.env, o), Err::None);
    EXPECT_EQ(t.ini->keys("100"), (Keys{"SelectForA", "Timer", "OrderName"}));
    EXPECT_TRUE(test::iniHolds(*t.ini, "100/SelectForA=1"));
}

}  // namespace
}  // namespace kolvy::config
