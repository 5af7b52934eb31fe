// The real message box: caption, text, and Cancel as the default button of a question. A helper
// thread plays the user: it finds the box, reads it and presses Enter.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "tests/support/screenshot.h"

namespace kolvy::platform {
namespace {

struct SeenBox {
    std::string text;
    bool found = false;
};

// Waits for a top-level dialog with the caption, reads its message text and answers with Enter.
void pressEnterOnBox(const char* caption, const char* shot, SeenBox& seen) {
    for (int i = 0; i < 200 && !seen.found; ++i) {
        HWND box = FindWindowA("#32770", caption);
        if (box) {
            char buf[512] = {};
            GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);  // the static text of a message box
            seen.text = buf;
            seen.found = true;
            Sleep(300);
            test::saveScreenshot(box, shot);
            PostMessageA(box, WM_KEYDOWN, VK_RETURN, 0);
            PostMessageA(box, WM_KEYUP, VK_RETURN, 0);
            // Enter activates the default button; make sure the box really goes away.
            for (int j = 0; j < 50 && IsWindow(box); ++j)
                Sleep(100);
            if (IsWindow(box)) PostMessageA(box, WM_CLOSE, 0, 0);
            return;
        }
        Sleep(50);
    }
}

TEST(MessageBoxReporter, QuestionDefaultsToCancel) {
    auto reporter = makeReporter();
    SeenBox seen;
    std::thread user(pressEnterOnBox, "Kolvyメール", "reporter_question", std::ref(seen));
    const Answer a =
        reporter->show("削除しますか？   ", "Kolvyメール", Icon::Question, Buttons::OkCancel);
    user.join();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.text, "削除しますか？   ");
    EXPECT_EQ(a, Answer::Cancel);
}

TEST(MessageBoxReporter, NoticeIsAcknowledgedWithOk) {
    auto reporter = makeReporter();
    SeenBox seen;
    std::thread user(pressEnterOnBox, "Kolvyメール", "reporter_notice", std::ref(seen));
    const Answer a = reporter->show("お知らせ", "Kolvyメール", Icon::Information, Buttons::Ok);
    user.join();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.text, "お知らせ");
    EXPECT_EQ(a, Answer::Ok);
}

}  // namespace
}  // namespace kolvy::platform
