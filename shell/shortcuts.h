// Shortcut keys: the 37 actions, their keys as stored in Option/ShortCut, the names shown for
// them, and which command each action is.
//
// A key code is a virtual-key code, +1000 with Shift, +2000 with Ctrl. Stored, each entry is the
// virtual-key code in decimal with "S" (Shift) or "C" (Ctrl) in front.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kolvy::shell {

inline constexpr int kShortcutCount = 37;
inline constexpr char kShortcutKey[] = "ShortCut";
inline constexpr char kDefaultShortcuts[] =
    "81;112;74;83;90;78;82;84;66;70;75;69;115;89;65;C87;77;67;46;S46;85;88;87;71;76;114;113;86;"
    "S86;116;79;C49;C50;C51;117;S118;S119";
// Virtual keys below this one (Enter, arrows, Space …) are never shortcuts.
inline constexpr int kFirstShortcutKey = 46;
inline constexpr int kShiftCode = 1000;
inline constexpr int kCtrlCode = 2000;

using ShortcutKeys = std::array<int, kShortcutCount>;

int shortcutCode(int virtualKey, bool shift, bool ctrl);
// Every entry that is missing or no key (not a number, a key outside 46..254, an unknown
// prefix) takes its default; entries past the 37th are ignored. Repeated keys stay: the
// lower-numbered action wins when the key is pressed.
ShortcutKeys parseShortcuts(std::string_view stored);
std::string formatShortcuts(const ShortcutKeys& keys);
ShortcutKeys defaultShortcuts();

// "Shift+", "Ctrl+" and the key's name ("Delete", "F1", "A", "1" …).
std::string shortcutName(int code);
// The first action whose key is `code`; -1 when none, and for keys below 46.
int shortcutAction(const ShortcutKeys& keys, int code);
// The first key that an earlier action already has; 0 when every key is different.
int repeatedShortcut(const ShortcutKeys& keys);

// What the actions are. Most are commands; the others the window does itself.
enum class ShortcutKind {
    Command,
    NextTab,
    PreviousTab,
    PaneDown,
    PaneUp,
    Program,
    MoveUp,
    MoveDown
};
struct ShortcutAction {
    const char* name;  // as the shortcut dialog lists it
    ShortcutKind kind;
    int command;  // the command id, or the program slot 1..3
};
const ShortcutAction& shortcutAction(int action);

}  // namespace kolvy::shell

namespace kolvy::shell {
// The hot-key control stores its modifiers with Shift and Alt the other way round from what
// registering a hot key takes: hot-key control flags (Shift 1, Ctrl 2, Alt 4) to register
// flags (Alt 1, Ctrl 2, Shift 4).
int hotKeyModifiers(int controlFlags);
}  // namespace kolvy::shell
