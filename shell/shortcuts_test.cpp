#include "shell/shortcuts.h"

#include <gtest/gtest.h>

#include "shell/command_ids.h"
#include "shell/toolbar_layout.h"

namespace kolvy::shell {
namespace {

// The default key of every action as the user sees it, and what the action does.
struct DefaultCase {
    const char* key;
    ShortcutKind kind;
    int command;
};
using K = ShortcutKind;
// clang-format off
const DefaultCase kDefaults[kShortcutCount] = {
    {"Q", K::Command, 40038}, {"F1", K::Command, 40034}, {"J", K::Command, 40003},
    {"S", K::Command, 40004}, {"Z", K::Command, 40005}, {"N", K::Command, 40007},
    {"R", K::Command, 40008}, {"T", K::Command, 40006}, {"B", K::Command, 40037},
    {"F", K::Command, 40010}, {"K", K::Command, 40009}, {"E", K::Command, 40011},
    {"F4", K::Command, 40017}, {"Y", K::Command, 40019}, {"A", K::Command, 40036},
    {"Ctrl+W", K::Command, 40080}, {"M", K::Command, 40056}, {"C", K::Command, 40057},
    {"Delete", K::Command, 40058}, {"Shift+Delete", K::Command, 40059}, {"U", K::Command, 40060},
    {"X", K::Command, 40061}, {"W", K::Command, 40062}, {"G", K::Command, 40063},
    {"L", K::Command, 40023}, {"F3", K::NextTab, 0}, {"F2", K::PreviousTab, 0},
    {"V", K::PaneDown, 0}, {"Shift+V", K::PaneUp, 0}, {"F5", K::Command, 40087},
    {"O", K::Command, 40096}, {"Ctrl+1", K::Program, 1}, {"Ctrl+2", K::Program, 2},
    {"Ctrl+3", K::Program, 3}, {"F6", K::Command, 40084}, {"Shift+F7", K::MoveUp, 0},
    {"Shift+F8", K::MoveDown, 0},
};
// clang-format on

TEST(Shortcuts, EveryDefaultKeyReachesItsOwnAction) {
    const ShortcutKeys keys = defaultShortcuts();
    for (int a = 0; a < kShortcutCount; ++a) {
        SCOPED_TRACE(a);
        EXPECT_EQ(shortcutName(keys[a]), kDefaults[a].key);
        EXPECT_EQ(shortcutAction(keys, keys[a]), a);
        EXPECT_EQ(shortcutAction(a).kind, kDefaults[a].kind);
        EXPECT_EQ(shortcutAction(a).command, kDefaults[a].command);
    }
    EXPECT_EQ(repeatedShortcut(keys), 0);
}

TEST(Shortcuts, KeyCodesAsTheWindowMakesThem) {
    const ShortcutKeys keys = defaultShortcuts();
    struct Case {
        int vk;
        bool shift, ctrl;
        int action;
    };
    const Case cases[] = {
        {46, true, false, 19},    // Shift+Delete: complete delete, not delete
        {46, false, false, 18},   // Delete
        {13, false, false, -1},   // Enter is below the first shortcut key
        {13, true, false, -1},    // so is Shift+Enter
        {45, false, false, -1},   // Insert likewise
        {87, true, true, -1},     // Ctrl+Shift+W is not Ctrl+W
        {87, false, true, 15},    // Ctrl+W
        {87, false, false, 22},   // W
        {86, true, false, 28},    // Shift+V
        {118, false, false, -1},  // F7 alone is nothing
        {49, false, true, 31},    // Ctrl+1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vk);
        EXPECT_EQ(shortcutAction(keys, shortcutCode(c.vk, c.shift, c.ctrl)), c.action);
    }
}

TEST(Shortcuts, BrokenStoredListsReadWithDefaultsWhereBroken) {
    const ShortcutKeys d = defaultShortcuts();
    struct Case {
        const char* stored;
        int slot;      // the entry looked at
        int expected;  // its key code
    };
    const Case cases[] = {
        {"", 0, d[0]},       {"65", 0, 65},  // fewer entries: the rest keep their defaults
        {"65", 36, d[36]},   {"C65;S66", 1, 1066}, {"X65", 0, d[0]},  // unknown prefix
        {"abc;70", 0, d[0]},                                          // not a number
        {"abc;70", 1, 70},   {"13", 0, d[0]},  // below the first shortcut key
        {"255", 0, d[0]},                      // beyond the last virtual key
        {"65x", 0, d[0]},    {"S", 0, d[0]},       {"-46", 0, d[0]},
        {";;70", 2, 70},  // empty entries are defaults too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(parseShortcuts(c.stored)[static_cast<size_t>(c.slot)], c.expected);
    }
    // More than 37 entries: the extra ones are ignored.
    std::string longer = std::string(kDefaultShortcuts) + ";65;66;67";
    EXPECT_EQ(parseShortcuts(longer), d);
}

TEST(Shortcuts, RepeatedKeysReadAsTheyAreAndTheEarlierActionWins) {
    // Action 2 (receive) and action 3 (send) both on J.
    const ShortcutKeys keys = parseShortcuts("81;112;74;74");
    EXPECT_EQ(keys[3], 74);
    EXPECT_EQ(shortcutAction(keys, 74), 2);
    EXPECT_EQ(repeatedShortcut(keys), 74);
    EXPECT_EQ(shortcutName(repeatedShortcut(keys)), "J");
}

TEST(Shortcuts, StoredFormRoundTrips) {
    EXPECT_EQ(formatShortcuts(defaultShortcuts()), kDefaultShortcuts);
    ShortcutKeys keys = defaultShortcuts();
    keys[0] = shortcutCode(113, false, true);
    keys[1] = shortcutCode(46, true, false);
    EXPECT_EQ(parseShortcuts(formatShortcuts(keys)), keys);
    EXPECT_EQ(formatShortcuts(keys).substr(0, 9), "C113;S46;");
}

TEST(ToolBarLayouts, StoredListsReadSafely) {
    const std::vector<int> all = {1,  2,  3,  4,  5,  6,  7,  8,  9, 10,
                                  11, 12, 13, 14, 15, 16, 17, 18, 19};
    struct Case {
        const char* stored;
        std::vector<int> shown, hidden;
    };
    const Case cases[] = {
        {kDefaultToolBar,
         {1, 2, 3, 0, 4, 5, 0, 9, 11, 12},
         {6, 7, 8, 10, 13, 14, 15, 16, 17, 18, 19, 0}},
        {"100", {}, all},  // every button in the hidden list
        {"100;100;5", {}, {5, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        {"3;3;1;100;3;2", {3, 1}, {2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        {"1;20;-1;x;99;0;100",
         {1, 0},
         {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        const ToolBarLayout l = parseToolBar(c.stored);
        EXPECT_EQ(l.shown, c.shown);
        EXPECT_EQ(l.hidden, c.hidden);
    }
    // Without the end mark the text is no layout.
    for (const char* broken : {"", "1;2;3", "garbage", "20;21"}) {
        EXPECT_EQ(parseToolBar(broken), defaultToolBar()) << broken;
    }
}

TEST(ToolBarLayouts, StoredFormRoundTripsAndButtonsKeepTheirCommands) {
    EXPECT_EQ(formatToolBar(defaultToolBar()), kDefaultToolBar);
    EXPECT_EQ(formatToolBar(parseToolBar("100")),
              "100;1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19");
    EXPECT_EQ(toolButton(1).command, cmd::kReceive);
    EXPECT_EQ(toolButton(10).command, cmd::kPeriodicSwitch);
    EXPECT_EQ(toolButton(19).command, cmd::kEmptyTrash);
    EXPECT_STREQ(toolButton(15).tip, "タブ（基本以外）を閉じる");
}

}  // namespace
}  // namespace kolvy::shell

namespace kolvy::shell {
namespace {
TEST(HotKeys, ControlFlagsBecomeRegisterFlags) {
    struct Case {
        int control, registered;
    };
    // Shift 1 -> 4, Ctrl 2 -> 2, Alt 4 -> 1; the extended-key flag (8) is no modifier.
    const Case cases[] = {{0, 0}, {1, 4}, {2, 2}, {4, 1}, {3, 6},
                          {5, 5}, {6, 3}, {7, 7}, {8, 0}, {9, 4}};
    for (const Case& c : cases)
        EXPECT_EQ(hotKeyModifiers(c.control), c.registered) << c.control;
}
}  // namespace
}  // namespace kolvy::shell

#include "shell/exit_rules.h"

namespace kolvy::shell {
namespace {
TEST(Exits, NoExitCutsARunOrAWaitingComposer) {
    using A = ExitAction;
    using S = ExitSource;
    struct Case {
        ExitState state;
        S source;
        A action;
    };
    const Case cases[] = {
        {{false, false, 0}, S::Tray, A::DestroyNow},
        {{true, false, 0}, S::Tray, A::CloseChecks},  // the close check refuses with its text
        {{false, true, 0}, S::Tray, A::CloseChecks},
        {{false, false, 1}, S::Tray, A::Refuse},
        {{true, false, 2}, S::Tray, A::CloseChecks},
        {{false, false, 0}, S::Deferred, A::DestroyNow},
        {{true, false, 0}, S::Deferred, A::Wait},
        {{false, true, 0}, S::Deferred, A::Wait},
        {{false, false, 1}, S::Deferred, A::Wait},
        {{false, false, 0}, S::Close, A::CloseChecks},
        {{false, false, 3}, S::Close, A::Refuse},
        {{true, false, 3}, S::Close, A::CloseChecks},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.source));
        SCOPED_TRACE(c.state.composersWaiting);
        EXPECT_EQ(exitDecision(c.state, c.source), c.action);
    }
}
}  // namespace
}  // namespace kolvy::shell
