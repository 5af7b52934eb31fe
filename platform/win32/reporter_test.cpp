// The real message box: caption, text, and Cancel as the default button of a question. A helper
// thread plays the user: it finds the box, reads it and presses Enter.
#include <windows.h>

#include <gtest/gtest.h>

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

// Waits for a shown top-level dialog with the caption, reads its message text and answers with
// Enter. The first window of a fresh Wine process can take many seconds on a loaded machine, so
// the wait is long; giving up early would leave the box open and the test hung.
void pressEnterOnBox(const char* caption, const char* shot, SeenBox& seen) {
    const ULONGLONG deadline = GetTickCount64() + 120000;
    HWND box = nullptr;
    while (GetTickCount64() < deadline) {
        box = FindWindowA("#32770", caption);
        if (box && IsWindowVisible(box)) break;
        box = nullptr;
        Sleep(50);
    }
    if (!box) return;
    Sleep(300);
    char buf[512] = {};
    GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);  // the static text of a message box
    seen.text = buf;
    seen.found = true;
    test::saveScreenshot(box, shot);
    // Enter activates the default button. A key posted before the box takes input is lost, so
    // it is pressed again until the box goes away; only then does closing stand in for it.
    for (int tries = 0; tries < 10 && IsWindow(box); ++tries) {
        PostMessageA(box, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageA(box, WM_KEYUP, VK_RETURN, 0);
        for (int j = 0; j < 30 && IsWindow(box); ++j)
            Sleep(100);
    }
    if (IsWindow(box)) PostMessageA(box, WM_CLOSE, 0, 0);
}

// Enter on a question is Cancel, its default; on a notice it is OK.
TEST(MessageBoxReporter, QuestionDefaultsToCancelAndNoticeIsAcknowledgedWithOk) {
    const struct Case {
        const char *text, *shot;
        Icon icon;
        Buttons buttons;
        Answer answer;
    } cases[] = {{"削除しますか？   ", "reporter_question", Icon::Question, Buttons::OkCancel,
                  Answer::Cancel},
                 {"お知らせ", "reporter_notice", Icon::Information, Buttons::Ok, Answer::Ok}};
    auto reporter = makeReporter();
    for (const Case& c : cases) {
        SeenBox seen;
        std::thread user(pressEnterOnBox, "Kolvyメール", c.shot, std::ref(seen));
        const Answer a = reporter->show(c.text, "Kolvyメール", c.icon, c.buttons);
        user.join();
        ASSERT_TRUE(seen.found) << c.shot;
        EXPECT_EQ(seen.text, c.text);
        EXPECT_EQ(a, c.answer) << c.shot;
    }
}

}  // namespace
}  // namespace kolvy::platform
