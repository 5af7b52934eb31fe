// Opening the mail checker: each missing piece is told with its text, the library is loaded
// once, and the checker gets the addresses of the program's own flags.
#include "pop/checker_bridge.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/support/test_env.h"

namespace kolvy::pop {
namespace {

int32_t* gAbortSeen = nullptr;
int32_t* gBoxSeen = nullptr;
int gMakeResult = 0;
uintptr_t gWindow = 0;

int KOLVY_STDCALL makeWindow(uintptr_t window, int32_t, int32_t* abort, int32_t* box) {
    gWindow = window;
    gAbortSeen = abort;
    gBoxSeen = box;
    *abort = 1;  // the checker's own abort button
    return gMakeResult;
}
int KOLVY_STDCALL mailCheck(int32_t, int32_t) {
    return 0;
}

struct FakeLoader final : CheckerLoader {
    bool loads = true;
    int loadCalls = 0;
    std::string loadedName;
    std::map<std::string, void*> entries;
    bool load(const std::string& name) override {
        ++loadCalls;
        loadedName = name;
        return loads;
    }
    void* entry(const char* name) override {
        auto it = entries.find(name);
        return it == entries.end() ? nullptr : it->second;
    }
};

TEST(CheckerBridge, EachMissingPieceIsToldWithItsText) {
    struct Case {
        bool loads, hasWindow, hasCheck;
        int make;
        const char* box;
        bool mailCheckKept;
    } cases[] = {
        {false, true, true, 0, kTextCheckerLoad, false},
        {true, false, true, 0, kTextCheckerNoWindow, false},
        {true, true, false, 0, kTextCheckerNoCheck, false},
        {true, true, true, 3, kTextCheckerFailed, true},
        {true, true, true, 0, nullptr, true},
    };
    for (const Case& c : cases) {
        test::TestEnv t;
        RunState state;
        FakeLoader loader;
        loader.loads = c.loads;
        if (c.hasWindow) loader.entries["MakeCheckerWindow"] = reinterpret_cast<void*>(&makeWindow);
        if (c.hasCheck) loader.entries["MailCheck"] = reinterpret_cast<void*>(&mailCheck);
        gMakeResult = c.make;
        CheckerBridge bridge(t.env, loader, state);
        EXPECT_EQ(bridge.open(0x4242, 2), c.box ? 1 : 0);
        EXPECT_EQ(t.reporter.lastText(), c.box ? c.box : "");
        if (c.box) {
            EXPECT_EQ(t.reporter.shown()[0].icon, platform::Icon::Exclamation);
        }
        EXPECT_EQ(bridge.mailCheck() != nullptr, c.mailCheckKept);
        EXPECT_FALSE(bridge.checkerOpen());
        EXPECT_EQ(state.boxShowing.load(), 0);
    }
}

TEST(CheckerBridge, TheCheckerWritesTheProgramsOwnFlags) {
    test::TestEnv t;
    RunState state;
    FakeLoader loader;
    loader.entries["MakeCheckerWindow"] = reinterpret_cast<void*>(&makeWindow);
    loader.entries["MailCheck"] = reinterpret_cast<void*>(&mailCheck);
    gMakeResult = 0;
    CheckerBridge bridge(t.env, loader, state);
    ASSERT_EQ(bridge.open(0x4242, 0), 0);
    EXPECT_EQ(gWindow, 0x4242u);
    EXPECT_EQ(static_cast<void*>(gAbortSeen), static_cast<void*>(&state.abortRequested));
    EXPECT_EQ(static_cast<void*>(gBoxSeen), static_cast<void*>(&state.boxShowing));
    EXPECT_EQ(state.abortRequested.load(), 1);
    EXPECT_EQ(loader.loadedName, kCheckerDefault);
    // Loaded once for the process.
    ASSERT_EQ(bridge.open(0x4242, 2), 0);
    EXPECT_EQ(loader.loadCalls, 1);
    EXPECT_EQ(bridge.mailCheck(), &mailCheck);
}

TEST(CheckerBridge, TheOptionNamesTheLibrary) {
    test::TestEnv t;
    t.ini->write("Option", "MailChecker", "Other.dll");
    EXPECT_EQ(checkerLibraryName(*t.ini), "Other.dll");
    t.ini->write("Option", "MailChecker", "");
    EXPECT_EQ(checkerLibraryName(*t.ini), kCheckerDefault);
}

}  // namespace
}  // namespace kolvy::pop
