#include "report/report.h"

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace kolvy::report {
namespace {

using platform::Answer;
using platform::Buttons;
using platform::Icon;

constexpr char kText[] = "mokuji.binファイルを開けませんでした。   ";
constexpr char kLog[] = "_Log\\通信ログ2412.txt";

class Reporting : public ::testing::Test {
  protected:
    Reporting() { t.clock.setLocal(2024, 12, 5); }
    test::TestEnv t;
};

TEST_F(Reporting, AttendedShowsABoxAndLogsNothing) {
    report(t.env, kText);
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    const auto& box = t.reporter.shown()[0];
    EXPECT_EQ(box.text, kText);  // trailing blanks are part of the text
    EXPECT_EQ(box.caption, "Kolvyメール");
    EXPECT_EQ(box.icon, Icon::Exclamation);
    EXPECT_EQ(box.buttons, Buttons::Ok);
    notice(t.env, "未送信のメールがあります。   ");
    EXPECT_EQ(t.reporter.shown()[1].icon, Icon::Information);
    EXPECT_FALSE(t.fs->exists(t.path(kLog)));
}

TEST_F(Reporting, UnattendedLogsTheOneLineFormInstead) {
    t.env.unattended = true;
    report(t.env, kText);
    report(t.env, "一行目    \n二行目  \n");
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_EQ(t.read(kLog), "mokuji.binファイルを開けませんでした。\r\n一行目二行目\r\n");
}

// The one policy every module reports through: who gets a box and who a log line, by how the
// run was started and whether it is being aborted.
TEST_F(Reporting, BoxAndLogLineByRunKind) {
    const struct {
        bool unattended, logOut;
        Abort abort;
        size_t boxes;
        bool logged;
    } cases[] = {{false, false, Abort::No, 1, false}, {false, true, Abort::No, 1, true},
                 {true, false, Abort::No, 0, true},   {true, true, Abort::No, 0, true},
                 {false, false, Abort::Yes, 0, true}, {true, false, Abort::Yes, 0, true}};
    for (const auto& c : cases) {
        test::TestEnv e;
        e.clock.setLocal(2024, 12, 5);
        e.env.unattended = c.unattended;
        e.env.logOut = c.logOut;
        report(e.env, "ボックスの文   ", "ログの行", Icon::Exclamation, c.abort);
        const std::string where = std::to_string(c.unattended) + std::to_string(c.logOut) +
                                  std::to_string(c.abort == Abort::Yes);
        EXPECT_EQ(e.reporter.shown().size(), c.boxes) << where;
        if (c.boxes) {
            EXPECT_EQ(e.reporter.lastText(), "ボックスの文   ") << where;
        }
        EXPECT_EQ(e.read(kLog), c.logged ? "ログの行\r\n" : "<missing>") << where;
        // The log half alone follows the same rule and never shows a box.
        logFailure(e.env, "続き", c.abort);
        EXPECT_EQ(e.reporter.shown().size(), c.boxes) << where;
        EXPECT_EQ(e.read(kLog), c.logged ? "ログの行\r\n続き\r\n" : "<missing>") << where;
    }
}

TEST_F(Reporting, RetriesAreLoggedWhenFailuresAre) {
    platform::RetryNote note = retryNote(t.env, "_UIDL\\仕事.txt");
    note(1, Err::Access);  // attended without LogOut: nothing
    EXPECT_EQ(t.read(kLog), "<missing>");
    t.env.logOut = true;
    note(2, Err::Access);
    EXPECT_EQ(t.read(kLog),
              "_UIDL\\仕事.txt：2回目が失敗しました（access denied）。再試行します。\r\n");
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(Reporting, QuestionsDefaultToCancel) {
    EXPECT_EQ(ask(t.env, "削除しますか？"), Answer::Cancel);
    EXPECT_EQ(t.reporter.shown()[0].buttons, Buttons::OkCancel);
    EXPECT_EQ(t.reporter.shown()[0].icon, Icon::Question);
    t.reporter.answer(Answer::Ok);
    EXPECT_EQ(ask(t.env, "削除しますか？", Icon::Information), Answer::Ok);

    t.env.unattended = true;
    t.reporter.answer(Answer::Ok);  // nobody is there to give it
    EXPECT_EQ(ask(t.env, "削除しますか？   "), Answer::Cancel);
    EXPECT_EQ(t.reporter.shown().size(), 2u);
    EXPECT_EQ(t.read(kLog), "削除しますか？\r\n");
}

}  // namespace
}  // namespace kolvy::report
