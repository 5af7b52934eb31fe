#include "report/logs.h"

#include <gtest/gtest.h>

#include "platform/fileutil.h"
#include "report/report.h"
#include "tests/support/test_env.h"

namespace kolvy::report {
namespace {

class Logs : public ::testing::Test {
  protected:
    test::TestEnv t;
};

TEST_F(Logs, CommunicationLogLineEndings) {
    t.clock.setLocal(2005, 1, 20, 10, 30);  // January 2005 logs go to "0501"
    appendCommLog(t.env, "plain");
    appendCommLog(t.env, "ends in LF\n");
    appendCommLog(t.env, "continued\x01");
    appendCommLog(t.env, " here");
    EXPECT_EQ(t.read("_Log\\通信ログ0501.txt"), "plain\r\nends in LF\ncontinued here\r\n");
    t.clock.setLocal(2026, 12, 1);
    appendCommLog(t.env, "next month");
    EXPECT_EQ(t.read("_Log\\通信ログ2612.txt"), "next month\r\n");
}

TEST_F(Logs, IndexErrorLogLinesAreStamped) {
    t.clock.setLocal(2005, 12, 15, 9, 5);
    appendErrorLog2(
        t.env,
        "目次リード関数で、『 受信 』タブのメール番号[ 3 ]番以前のメールでエラーがありました。");
    appendErrorLog2(t.env, "second");
    EXPECT_EQ(t.read("ErrorLog2.txt"),
              "0512150905: 目次リード関数で、『 受信 』タブのメール番号[ 3 "
              "]番以前のメールでエラーがありました。\n"
              "0512150905: second\n");
}

TEST_F(Logs, RunLogRotatesAtLogSizeToTheFirstFreeNumber) {
    t.clock.setLocal(2005, 12, 3);
    t.env.logSize = 100;
    const std::string dir = "_Log\\受信ログ\\";
    t.write(dir + "受信ログ0512.txt", std::string(150, 'x'));
    {
        RunLog log = RunLog::open(t.env, RunLogKind::Receive);
        ASSERT_TRUE(log.isOpen());
        log.write("+OK\r\n");
    }
    EXPECT_EQ(t.read(dir + "受信ログ0512_1.txt"), std::string(150, 'x'));
    EXPECT_EQ(t.read(dir + "受信ログ0512.txt"), "+OK\r\n");

    t.write(dir + "受信ログ0512.txt", std::string(100, 'y'));  // exactly LogSize rotates too
    RunLog::open(t.env, RunLogKind::Receive).write("again");
    EXPECT_EQ(t.read(dir + "受信ログ0512_1.txt"), std::string(150, 'x'));
    EXPECT_EQ(t.read(dir + "受信ログ0512_2.txt"), std::string(100, 'y'));
    EXPECT_EQ(t.read(dir + "受信ログ0512.txt"), "again");

    {
        RunLog send = RunLog::open(t.env, RunLogKind::Send);
        send.write("220 ready\r\n");
    }
    EXPECT_EQ(t.read("_Log\\送信ログ\\送信ログ0512.txt"), "220 ready\r\n");
    EXPECT_TRUE(t.reporter.shown().empty());
}

TEST_F(Logs, RunLogThatCannotOpenIsReportedAndTheRunGoesOn) {
    t.clock.setLocal(2005, 12, 3);
    // A folder where the log file should be: the open fails.
    ASSERT_EQ(platform::makeDirs(*t.fs, t.path("_Log\\受信ログ\\受信ログ0512.txt")), Err::None);
    RunLog log = RunLog::open(t.env, RunLogKind::Receive);
    EXPECT_FALSE(log.isOpen());
    log.write("ignored");  // harmless
    ASSERT_EQ(t.reporter.shown().size(), 1u);
    EXPECT_EQ(t.reporter.shown()[0].text, kRunLogOpenFailed);
    EXPECT_EQ(t.reporter.shown()[0].icon, platform::Icon::Exclamation);

    t.reporter.clear();
    t.env.unattended = true;
    RunLog::open(t.env, RunLogKind::Receive);
    EXPECT_TRUE(t.reporter.shown().empty());
    EXPECT_EQ(t.read("_Log\\通信ログ0512.txt"),
              "ログファイルが開けません。前回送受信中にエラーで終了した可能性があります。"
              "申し訳ありませんが、ウインドウズを再起動してください。\r\n");
}

}  // namespace
}  // namespace kolvy::report
