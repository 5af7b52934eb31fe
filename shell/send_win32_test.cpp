// The send command of the real Kolvy.exe under Wine, against the real aiosmtpd of the
// smtp-servers fixture: drafts queued by kolvytool, "送信" through the main window's command,
// the choice dialog, the final confirmation and the attachment question answered as a user would;
// what the server received and what the program folder records afterwards.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "shell/send_win32_test_util.h"

namespace {

using namespace kolvy;
using namespace kolvy::test;
using namespace kolvy::test::send;

constexpr char kAttachmentQuestion[] =
    "添付ファイルのあるメールを送信しようとしています。よろしいですか？   ";

TEST_F(SendUnderWine, SelectedModeSendsTheFocusedDraftAfterTheFinalConfirmation) {
    option("SendAction", "1");
    queue("w4-selected-0");
    queue("w4-selected-1");
    ASSERT_TRUE(start());
    // The receive tab is current: the basic send tab is shown, its first row focused.
    HWND confirm = command();
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(textOf(confirm), "送信の最終確認");
    EXPECT_EQ(boxText(confirm), "1通 の送信待ちメールを送信します。      ");
    saveScreenshot(nullptr, "send-final-confirmation");
    press(confirm, IDOK);
    ASSERT_TRUE(waitSent(0));
    EXPECT_EQ(deliveredSubjects(), Subjects{"w4-selected-0"});
    EXPECT_EQ(message(1).find("X-Message-ID"), std::string::npos);
    saveScreenshot(k->main(), "send-main-window-after-selected-send");
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 1}, {0, kSent}, {1, kWaiting}}));
}

TEST_F(SendUnderWine, TargetTabModeSendsEveryWaitingDraftUnaskedThenHasNothingLeft) {
    option("SendAction", "2");
    option("SendConfirmDlg", "0");
    queue("w4-tab-0");
    queue("w4-tab-1");
    ASSERT_TRUE(start());
    k->command(kSendCommand);
    ASSERT_TRUE(waitSent(0));
    ASSERT_TRUE(waitSent(1));
    EXPECT_EQ(deliveredSubjects(), (Subjects{"w4-tab-0", "w4-tab-1"}));
    // The stored copy keeps the id the wire carried.
    const std::string stored = message(0);
    const size_t at = stored.find("\r\nX-Message-ID: ");
    ASSERT_NE(at, std::string::npos);
    const std::string id = stored.substr(at + 16, stored.find("\r\n", at + 2) - at - 16);
    bool found = false;
    for (const std::string& text : deliveredTexts())
        found = found || (text.find("Subject: w4-tab-0") != std::string::npos &&
                          text.find("Message-ID: " + id) != std::string::npos);
    EXPECT_TRUE(found) << id;
    HWND none = command();  // nothing is waiting any more
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(boxText(none), kNothingToSend);
    press(none, IDOK);
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 0}, {0, kSent}, {1, kSent}}));
}

TEST_F(SendUnderWine, AllTabsModeAsksTheFinalConfirmationForEverything) {
    option("SendAction", "3");
    queue("w4-all-0");
    ASSERT_TRUE(start());
    HWND confirm = command();
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(textOf(confirm), "送信の最終確認");
    EXPECT_EQ(boxText(confirm), "Kolvyメールの総ての送信待ちメールを送信します。    ");
    press(confirm, IDCANCEL);
    Sleep(1000);
    EXPECT_TRUE(deliveredSubjects().empty());  // Cancel ends the command
    confirm = command();
    ASSERT_NE(confirm, nullptr);
    press(confirm, IDOK);
    ASSERT_TRUE(waitSent(0));
    EXPECT_EQ(deliveredSubjects(), Subjects{"w4-all-0"});
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 0}, {0, kSent}}));
}

TEST_F(SendUnderWine, TheChoiceDialogOffersWhatCanBeSentAndNeverAddsAConfirmation) {
    option("SendAction", "0");
    option("SendConfirmDlg", "1");
    queue("w4-choice-0");
    queue("w4-choice-1");
    ASSERT_TRUE(start());
    HWND dlg = command();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(textOf(dlg), "送信処理の選択");
    HWND selected = GetDlgItem(dlg, kChoiceSelected), all = GetDlgItem(dlg, kChoiceAll);
    EXPECT_EQ(textOf(selected), "選択されている 「送信待ち」 メールを送信する");
    EXPECT_EQ(textOf(GetDlgItem(dlg, kChoiceTab)),
              "『送信』 タブ内の全ての 「送信待ち」 メールを送信する");
    EXPECT_EQ(textOf(all), "全送信用タブ内の全ての 「送信待ち」 メールを送信する");
    // The focused first row is a waiting draft: the first choice is offered and preselected;
    // with one send tab the third is not.
    EXPECT_TRUE(IsWindowEnabled(selected));
    EXPECT_EQ(SendMessageA(selected, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(all));
    saveScreenshot(dlg, "send-choice-dialog");
    press(dlg, IDCANCEL);
    Sleep(1000);
    EXPECT_EQ(k->box(0), nullptr);
    EXPECT_TRUE(deliveredSubjects().empty());

    dlg = command();
    ASSERT_NE(dlg, nullptr);
    SendMessageA(GetDlgItem(dlg, kChoiceTab), BM_CLICK, 0, 0);
    press(dlg, IDOK);
    ASSERT_TRUE(waitSent(0));
    ASSERT_TRUE(waitSent(1));
    EXPECT_EQ(k->box(0), nullptr);  // no final confirmation came
    EXPECT_EQ(deliveredSubjects().size(), 2u);
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 0}, {0, kSent}, {1, kSent}}));
}

TEST_F(SendUnderWine, ACancelledAttachmentQuestionStopsTheRunAndEarlierMailStaysSent) {
    option("SendAction", "2");
    option("SendConfirmDlg", "0");
    option("TenpuConfirmDlg", "1");
    queue("w4-attach-0");
    queue("w4-attach-1", true);
    queue("w4-attach-2");
    ASSERT_TRUE(start());
    HWND question = command(30000);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(textOf(question), "Kolvyメール");
    EXPECT_EQ(boxText(question), kAttachmentQuestion);
    saveScreenshot(nullptr, "send-attachment-question");
    press(question, IDCANCEL);
    ASSERT_TRUE(waitSent(0));
    Sleep(1000);
    EXPECT_EQ(deliveredSubjects(), Subjects{"w4-attach-0"});
    EXPECT_EQ(message(2).find("X-Message-ID"), std::string::npos);

    question = command(30000);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(boxText(question), kAttachmentQuestion);
    press(question, IDOK);
    ASSERT_TRUE(waitSent(1));
    ASSERT_TRUE(waitSent(2));
    EXPECT_EQ(deliveredSubjects(), (Subjects{"w4-attach-0", "w4-attach-1", "w4-attach-2"}));
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 0}, {0, kSent}, {1, kSentAttached}, {2, kSent}}));
}

TEST_F(SendUnderWine, SelectedModeNeedsTheSendTabOpen) {
    option("SendAction", "1");
    option("SendOpenBasicTab", "0");
    queue("w4-closed-0");
    ASSERT_TRUE(start());
    // The receive tab stays current: nothing of the send tab is selected.
    HWND b = command();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(boxText(b), "送信用タブが開かれていません。    ");
    press(b, IDOK);
    Sleep(1000);
    EXPECT_TRUE(deliveredSubjects().empty());
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 1}, {0, kWaiting}}));
}

TEST_F(SendUnderWine, WithNothingSelectedTheChoiceDialogPreselectsTheTab) {
    option("SendAction", "0");
    queue("w4-unselected-0");
    // The remembered focus names no message of the tab: no row is selected when it is shown.
    set("1", "FocusedPos", "99");
    ASSERT_TRUE(start());
    HWND dlg = command();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(textOf(dlg), "送信処理の選択");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, kChoiceSelected)));
    EXPECT_EQ(SendMessageA(GetDlgItem(dlg, kChoiceTab), BM_GETCHECK, 0, 0), BST_CHECKED);
    saveScreenshot(dlg, "send-choice-dialog-nothing-selected");
    press(dlg, IDOK);
    ASSERT_TRUE(waitSent(0));
    EXPECT_EQ(deliveredSubjects(), Subjects{"w4-unselected-0"});
    closeCleanly(*k);
}

TEST_F(SendUnderWine, TimedSendingSendsTheDueTabUnattended) {
    option("TenpuConfirmDlg", "1");  // never asked in a run nobody watches
    queue("w4-timed-0", true);
    // The send timer first looks 60 s after the window is made: start the program well inside a
    // minute, and put the tab's start time on the minute of that first look (a start time counts
    // as due, every 5 minutes from there).
    SYSTEMTIME now;
    for (GetLocalTime(&now); now.wSecond < 5 || now.wSecond > 45; GetLocalTime(&now))
        Sleep(500);
    const int due = (now.wHour * 60 + now.wMinute + 1) % 1440;
    for (const auto& [key, v] : {std::pair<const char*, int>{"SousinTimer", 1},
                                 {"StartJikoku", due / 60},
                                 {"StartFunn", due % 60},
                                 {"Jikoku", 0},
                                 {"Funn", 1}})
        set("1", key, std::to_string(v));
    ASSERT_TRUE(start());
    ASSERT_TRUE(waitSent(0, 100000));
    EXPECT_EQ(k->box(0), nullptr);
    EXPECT_EQ(deliveredSubjects(), Subjects{"w4-timed-0"});
    closeCleanly(*k);
    EXPECT_EQ(indexStates(), (States{{-1, 0}, {0, kSentAttached}}));
}

}  // namespace
