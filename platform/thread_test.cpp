// Workers post to the main thread; the main thread receives the messages in order.
#include <gtest/gtest.h>

#include <thread>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kolvy::platform {
namespace {

std::vector<ThreadMessage> receivePosted(size_t count) {
#ifdef _WIN32
    std::vector<ThreadMessage> out;
    MSG msg;
    for (int i = 0; i < 100 && out.size() < count; ++i) {
        while (PeekMessageA(&msg, nullptr, 0x8000, 0x80FF, PM_REMOVE)) {
            out.push_back({msg.message, msg.wParam, msg.lParam});
        }
        if (out.size() < count) Sleep(10);
    }
    return out;
#else
    (void)count;
    return drainPosted();
#endif
}

TEST(MainThread, WorkerPostsArriveInOrder) {
    MainThread& main = mainThread();
#ifdef _WIN32
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue must exist first
#endif
    std::thread worker([&] {
        EXPECT_TRUE(main.post({0x800D, 1, 2}));
        EXPECT_TRUE(main.post({0x800C, 3, -4}));
    });
    worker.join();
    const auto got = receivePosted(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, 0x800Du);
    EXPECT_EQ(got[0].wParam, 1u);
    EXPECT_EQ(got[1].message, 0x800Cu);
    EXPECT_EQ(got[1].lParam, -4);
}

}  // namespace
}  // namespace kolvy::platform
