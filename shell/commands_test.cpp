#include "shell/commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "shell/command_ids.h"
#include "shell/run_status.h"
#include "tests/support/test_env.h"

namespace kolvy::shell {
namespace {

struct Dispatching : ::testing::Test {
    test::TestEnv t;
    RunState state;
    CommandRouter router{t.env, state};
    std::vector<int> ran;
    CommandRouter::Handler record() {
        return [this](int id) { ran.push_back(id); };
    }
};

TEST_F(Dispatching, BusyChecksDecideBeforeTheHandlerRuns) {
    router.add(cmd::kReceive, record());
    router.add(cmd::kOptions, record(), kCmdNotDuringRun);
    router.add(cmd::kTabFirst, record(), kCmdWhileProcessing, cmd::kTabLast);
    struct Case {
        bool processing, running;
        int id;
        CommandRouter::Outcome outcome;
        bool boxShown;
    };
    using O = CommandRouter::Outcome;
    const Case cases[] = {
        {false, false, cmd::kReceive, O::Started, false},
        {true, false, cmd::kReceive, O::Refused, true},
        {true, false, cmd::kTabFirst + 3, O::Started, false},
        {false, true, cmd::kOptions, O::Ignored, false},
        {false, true, cmd::kReceive, O::Started, false},  // the receive command says why itself
        {false, false, cmd::kPrint, O::Unknown, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        state.processing = c.processing;
        state.active = c.running ? 1 : 0;
        ran.clear();
        const size_t boxes = t.reporter.shown().size();
        EXPECT_EQ(router.dispatch(c.id), c.outcome);
        EXPECT_EQ(ran.size(), c.outcome == O::Started ? 1u : 0u);
        EXPECT_EQ(t.reporter.shown().size(), boxes + (c.boxShown ? 1 : 0));
        if (c.boxShown) {
            EXPECT_EQ(t.reporter.shown().back().text, kProcessingNow);
        }
    }
}

TEST(RunFlag, OneRunAtATimeWhoeverStartsIt) {
    RunState s;
    EXPECT_TRUE(s.tryBegin(RunKind::Receive));
    EXPECT_FALSE(s.tryBegin(RunKind::Send));
    EXPECT_FALSE(s.tryBegin(RunKind::Receive));
    EXPECT_EQ(s.kind(), RunKind::Receive);
    s.end();
    EXPECT_FALSE(s.running());
    EXPECT_TRUE(s.tryBegin(RunKind::Send));
}

TEST(StatusTexts, CountedStatesCarryTheirNumbers) {
    EXPECT_EQ(statusText(5, 3, 12, 0), "     3 / 12 番目のメールを受信しています");
    EXPECT_EQ(statusText(6, 3, 12, 7), "     7 / 12 通－ダウンロードが完了しました");
    EXPECT_EQ(statusText(19, 1, 2, 3), "     中断処理中（２０秒程かかることがあります）");
    EXPECT_EQ(statusText(29, 0, 0, 0), "ごみ箱のメールを削除しています");
    EXPECT_EQ(statusText(30, 0, 0, 0), "");
    EXPECT_EQ(statusText(-1, 0, 0, 0), "");
}

}  // namespace
}  // namespace kolvy::shell
