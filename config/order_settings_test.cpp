#include "config/order_settings.h"

#include <gtest/gtest.h>

#include "core/list.h"
#include "core/sjis.h"
#include "tests/support/ini_check.h"
#include "tests/support/test_env.h"

namespace kolvy::config {
namespace {

// Inputs: C dial, U hang up, T periodic, M mail check, L leave on server.
// Enabled controls: the same letters, K start-up receive, S schedule lists, H header lines (with
// the utility library).
struct Row {
    const char* flags;
    const char* enabled;
};
constexpr Row kPlainOrder[] = {
    {"-", "CUTMLK"},  {"C", "CUTMLK"},    {"U", "CUMLK"},    {"CU", "CUTMLK"},    {"T", "CTLKS"},
    {"CT", "CUTLKS"}, {"UT", "CLKS"},     {"CUT", "CUTLKS"}, {"M", "CUMK"},       {"CM", "CUMK"},
    {"UM", "CUMK"},   {"CUM", "CUMK"},    {"TM", "CKS"},     {"CTM", "CUKS"},     {"UTM", "CKS"},
    {"CUTM", "CUKS"}, {"L", "CUTLKH"},    {"CL", "CUTLKH"},  {"UL", "CULKH"},     {"CUL", "CUTLKH"},
    {"TL", "CTLKSH"}, {"CTL", "CUTLKSH"}, {"UTL", "CLKSH"},  {"CUTL", "CUTLKSH"}, {"ML", "CUKH"},
    {"CML", "CUKH"},  {"UML", "CUKH"},    {"CUML", "CUKH"},  {"TML", "CKSH"},     {"CTML", "CUKSH"},
    {"UTML", "CKSH"}, {"CUTML", "CUKSH"},
};

void setFlags(ReceiveOrder& o, std::string_view flags, bool startup) {
    int32_t* fields[] = {&o.telConnect, &o.telCut, &o.timer, &o.mailChecker, &o.leaveOnServer};
    for (size_t i = 0; i < 5; ++i)
        *fields[i] = flags.find("CUTML"[i]) != std::string_view::npos;
    o.receiveAtStart = startup;
}

std::string letters(const OrderEnabling& e) {
    const bool on[] = {e.telConnect,    e.telCut,         e.timer,    e.mailChecker,
                       e.leaveOnServer, e.receiveAtStart, e.schedule, e.headerLines};
    std::string s;
    for (size_t i = 0; i < 8; ++i)
        if (on[i]) s += "CUTMLKSH"[i];
    return s;
}

std::string without(std::string s, std::string_view drop) {
    std::erase_if(s, [&](char c) { return drop.find(c) != std::string_view::npos; });
    return s;
}

TEST(OrderEnablingRules, PlainTopLevelOrderEveryCombination) {
    for (const Row& row : kPlainOrder) {
        for (const bool startup : {false, true}) {
            ReceiveOrder o = blankOrder();
            setFlags(o, row.flags, startup);
            EXPECT_EQ(letters(orderEnabling(o, true)), row.enabled) << row.flags;
            EXPECT_EQ(letters(orderEnabling(o, false)), without(row.enabled, "H")) << row.flags;
        }
    }
}

TEST(OrderEnablingRules, FolderMemberEveryCombination) {
    for (const bool folderTimer : {false, true}) {
        ReceiveOrder folder = blankOrder();
        folder.isFolder = 1;
        folder.timer = folderTimer;
        for (const Row& row : kPlainOrder) {
            ReceiveOrder m = blankOrder();
            setFlags(m, row.flags, false);
            m.parent = &folder;
            // A member never has periodic or start-up receive of its own, and no mail check
            // inside a periodic folder.
            const std::string expected = without(row.enabled, folderTimer ? "TKSM" : "TKS");
            EXPECT_EQ(letters(orderEnabling(m, true)), expected) << row.flags << folderTimer;
        }
    }
}

TEST(OrderEnablingRules, FolderEveryCombination) {
    const struct {
        bool timer, memberChecks;
        const char* enabled;
    } rows[] = {{false, false, "TK"}, {true, false, "TKS"}, {false, true, "K"}, {true, true, "KS"}};
    for (const auto& r : rows) {
        ReceiveOrder members = blankOrder();
        ReceiveOrder folder = blankOrder();
        folder.isFolder = 1;
        folder.members = &members;
        folder.timer = r.timer;
        ReceiveOrder plain = blankOrder();
        ReceiveOrder checker = blankOrder();
        checker.mailChecker = r.memberChecks;
        listAppend(members, &plain);
        listAppend(members, &checker);
        for (const char* flags : {"-", "CUML"}) {  // a folder's own receive flags do not count
            setFlags(folder, flags, false);
            folder.timer = r.timer;
            EXPECT_EQ(letters(orderEnabling(folder, true)), r.enabled) << r.timer << r.memberChecks;
        }
    }
}

class OrderSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        t.write("Kolvy.ini",
                "[TagList]\r\nTagAcount=dial;lan\r\nTagOrder=100;101;102\r\n"
                "[dial]\r\nTagNo=0\r\nRasEntry=プロバイダ\r\n[lan]\r\nTagNo=1\r\n"
                "[100]\r\nTagNo=0\r\nOrderName=dial\r\nSelectPain=1\r\n"
                "[101]\r\nTagNo=1\r\nOrderName=lan\r\nKidou=1\r\n"
                "[102]\r\nSelectForA=1\r\nOrderName=folder\r\n");
        ASSERT_EQ(accounts.load(t.env), Err::None);
        ASSERT_EQ(orders.load(t.env, true), Err::None);
    }
    ReceiveOrder& order(int32_t id) { return *orders.byId(id); }
    bool flag(int32_t id, OrderFlag f, bool on) {
        return setOrderFlag(t.env, accounts, orders, order(id), f, on, true);
    }
    Err move(int32_t id, ReceiveOrder* folder) {
        return moveOrderToFolder(t.env, orders, order(id), folder);
    }
    bool ini(std::string_view entries) { return test::iniHolds(*t.ini, entries); }
    test::TestEnv t;
    AccountList accounts;
    OrderList orders;
};

TEST_F(OrderSettings, DialingNeedsTheAccountsDialUpEntry) {
    EXPECT_FALSE(flag(101, OrderFlag::TelConnect, true));
    EXPECT_EQ(t.reporter.lastText(), kNoDialUpEntryText);
    EXPECT_TRUE(ini("101/TelConnect!"));
    EXPECT_TRUE(flag(100, OrderFlag::TelConnect, true));
    EXPECT_TRUE(ini("100/TelConnect=1"));
    ASSERT_TRUE(flag(100, OrderFlag::TelCut, true) && flag(100, OrderFlag::Timer, true));
    t.reporter.clear();
    // Periodic receive with hang-up needs the dialling to stay.
    EXPECT_FALSE(flag(100, OrderFlag::TelConnect, false));
    EXPECT_EQ(t.reporter.lastText(), kTimerWithHangUpText);
    EXPECT_EQ(order(100).telConnect, 1);
    EXPECT_TRUE(ini("100/TelConnect=1"));
}

TEST_F(OrderSettings, GreyedOutBoxesCannotBeTickedButCanBeCleared) {
    ASSERT_TRUE(flag(101, OrderFlag::MailChecker, true));
    EXPECT_FALSE(flag(101, OrderFlag::LeaveOnServer, true));
    EXPECT_FALSE(flag(101, OrderFlag::HeaderLinesOnly, true));
    order(101).leaveOnServer = 1;  // as a hand-edited ini may have it
    EXPECT_TRUE(flag(101, OrderFlag::LeaveOnServer, false));
    EXPECT_TRUE(ini("101/Nokosu=0"));
    EXPECT_FALSE(flag(102, OrderFlag::MailChecker, true));
}

TEST_F(OrderSettings, OnlyOneStartupReceive) {
    EXPECT_FALSE(flag(100, OrderFlag::ReceiveAtStart, true));  // Cancel
    EXPECT_EQ(t.reporter.lastText(), kOneStartupReceiveText);
    EXPECT_EQ(order(101).receiveAtStart, 1);
    EXPECT_TRUE(ini("100/Kidou!"));
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_TRUE(flag(100, OrderFlag::ReceiveAtStart, true));
    EXPECT_EQ(order(101).receiveAtStart, 0);
    EXPECT_TRUE(ini("101/Kidou=0|100/Kidou=1"));
}

TEST_F(OrderSettings, ScheduleValuesStayInTheirLists) {
    const struct {
        OrderValue what;
        int value;
        Err want;
    } cases[] = {{OrderValue::IntervalFiveMinutes, 11, Err::None},
                 {OrderValue::IntervalFiveMinutes, 12, Err::Invalid},
                 {OrderValue::BaseMinute, 59, Err::None},
                 {OrderValue::BaseHour, 24, Err::Invalid},
                 {OrderValue::HeaderLines, 49, Err::None},
                 {OrderValue::HeaderLines, -1, Err::Invalid}};
    for (const auto& c : cases)
        EXPECT_EQ(setOrderValue(t.env, order(100), c.what, c.value), c.want) << c.value;
    EXPECT_TRUE(
        ini("100/Funn=11|100/StartFunn=59|100/OrderDownLoadLineGyousu=49|100/StartJikoku!"));
    EXPECT_EQ(order(100).intervalFiveMinutes, 11);
}

TEST_F(OrderSettings, FoldersCopiesRenamesAndMoves) {
    EXPECT_EQ(createOrderFolder(t.env, orders, ""), nullptr);
    EXPECT_EQ(t.reporter.lastText(), kNoNameText);
    // A folder named longer than the field keeps 47 bytes, cut on a character boundary.
    ReceiveOrder* f = createOrderFolder(t.env, orders, std::string(46, 'f') + "表");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->id, 103);
    EXPECT_EQ(std::string(f->name), std::string(46, 'f'));
    EXPECT_TRUE(ini("103/SelectForA=1|TagList/TagOrder=100;101;102;103"));
    ReceiveOrder* copy = copyOrder(t.env, orders, order(100), "コピー");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->accountNumber, 0);
    EXPECT_EQ(renameOrder(t.env, *copy, "別名"), Err::None);
    EXPECT_TRUE(ini("104/TagNo=0|104/OrderName=別名"));

    ReceiveOrder& folder = order(102);
    ASSERT_EQ(move(100, &folder), Err::None);
    EXPECT_EQ(order(100).parent, &folder);
    EXPECT_TRUE(ini("102/ChildMenu=100|100/SelectPain!"));  // members have no pane selection
    EXPECT_EQ(orders.selected(), &folder);
    // Refused moves: the copy uses the member's account; periodic orders; mail checks into a
    // periodic folder.
    EXPECT_EQ(moveOrderToFolder(t.env, orders, *copy, &folder), Err::Exists);
    EXPECT_EQ(t.reporter.lastText(), kSameAccountInFolderText);
    order(101).timer = 1;
    EXPECT_EQ(move(101, &folder), Err::Invalid);
    EXPECT_EQ(t.reporter.lastText(), kTimerInFolderText);
    order(101).timer = 0;
    order(101).mailChecker = 1;
    folder.timer = 1;
    EXPECT_EQ(move(101, &folder), Err::Invalid);
    EXPECT_EQ(t.reporter.lastText(), kMailCheckInTimerFolderText);
    folder.timer = 0;
    ASSERT_EQ(move(101, &folder), Err::None);
    EXPECT_TRUE(ini("102/ChildMenu=100;101|101/Kidou!"));
    EXPECT_EQ(order(101).receiveAtStart, 0);
    // Up and down within the folder, out of it and up at the top level.
    EXPECT_TRUE(moveOrderUp(t.env, orders, order(101)));
    EXPECT_TRUE(ini("102/ChildMenu=101;100"));
    EXPECT_FALSE(moveOrderUp(t.env, orders, order(101)));
    EXPECT_TRUE(moveOrderDown(t.env, orders, order(101)));
    EXPECT_FALSE(moveOrderDown(t.env, orders, order(101)));
    EXPECT_EQ(order(101).parent, &folder);
    ASSERT_EQ(move(100, nullptr), Err::None);
    EXPECT_TRUE(ini("TagList/TagOrder=102;103;104;100"));
    EXPECT_TRUE(moveOrderUp(t.env, orders, order(100)));
    EXPECT_TRUE(ini("TagList/TagOrder=102;103;100;104"));
    EXPECT_EQ(order(100).parent, nullptr);
}

TEST_F(OrderSettings, DeletingAFolderAsksForItsMembersToo) {
    ReceiveOrder& folder = order(102);
    ASSERT_EQ(move(101, &folder), Err::None);
    EXPECT_FALSE(deleteOrder(t.env, orders, &folder));  // Cancel on the first question
    EXPECT_EQ(t.reporter.lastText(), "folderを削除していいですか？    ");
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_FALSE(deleteOrder(t.env, orders, &folder));  // Cancel on the second
    EXPECT_EQ(t.reporter.lastText(), kDeleteFolderContentsText);
    t.reporter.answer(platform::Answer::Ok);
    t.reporter.answer(platform::Answer::Ok);
    EXPECT_TRUE(deleteOrder(t.env, orders, &folder));
    EXPECT_TRUE(ini("102!|101!|TagList/TagOrder=100"));
    EXPECT_EQ(orders.totalCount(), 1u);
}

TEST_F(OrderSettings, ClosingWritesTheStartupWaitOnlyWhenItChanges) {
    ASSERT_EQ(closeOrderSettings(t.env, orders, 30), Err::None);
    EXPECT_TRUE(ini("Option/BootWaitTime=30"));
    ASSERT_EQ(closeOrderSettings(t.env, orders, 999), Err::None);
    EXPECT_EQ(t.ini->read("Option", "BootWaitTime"), std::to_string(kMaxBootWaitSeconds));
    order(101).receiveAtStart = 0;
    ASSERT_EQ(closeOrderSettings(t.env, orders, 30), Err::None);
    EXPECT_TRUE(ini("Option/BootWaitTime=0"));
    t.ini->removeKey("Option", "BootWaitTime");
    ASSERT_EQ(closeOrderSettings(t.env, orders, 30), Err::None);
    EXPECT_TRUE(ini("Option/BootWaitTime!"));  // 0 already: not written
}

}  // namespace
}  // namespace kolvy::config
