// What the viewer settings dialog shows and stores, apart from its window: the values, the key
// codes and their texts, and the "Ombrel.ini" keys they are written to.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "platform/platform.h"
#include "plugins/viewer-settings/viewer_records.h"

namespace kolvy::viewer {

inline constexpr char kOmbrelSection[] = "Option";
inline constexpr int kShortcutCount = 12;
extern const std::array<int, kShortcutCount> kStandardKeys;
extern const std::array<const char*, kShortcutCount> kActionNames;

// Font sizes offered in both dialogs; the half sizes are stored rounded down.
inline constexpr int kFontSizeCount = 11;
extern const std::array<const char*, kFontSizeCount> kFontSizeLabels;
extern const std::array<int, kFontSizeCount> kFontSizeValues;
// The list entry that shows a stored size: the whole size, never a half (10 shows "10", not
// "10.5"); a size not in the list shows `fallback`.
int fontSizeIndex(int size, int fallbackIndex);

// Modes of the Brellin dialog.
enum class Mode { Full = 0, Reduced = 1 };

// The key code of a key pressed while a shortcut is edited, or 0 when that key cannot be a
// shortcut. Ctrl wins over Shift when both are held.
int shortcutCode(unsigned virtualKey, bool shift, bool ctrl);
// "Ctrl+K", "Shift+Delete", "F1".
std::string keyText(int code);
// The "ShortCut" value: "81;112;C75;S78".
std::string formatShortcuts(std::span<const int> codes);
// Reads a "ShortCut" value as a viewer would; entries that are not numbers count as 0, and at
// most kShortcutCount entries are taken.
std::vector<int> parseShortcuts(std::string_view value);
// Index of the first code also used by a later one (0 codes are not keys), or -1.
int firstDuplicate(std::span<const int> codes);
std::string duplicateMessage(int code);

// Header names of the "CustomHeaderStr" box: one per line, blank lines dropped, each cut to
// what the viewer's field holds.
std::vector<std::string> headerLines(std::string_view boxText);
std::string headerBoxText(const CustomHeaderNode& head);
std::string joinHeaders(const std::vector<std::string>& names);
std::vector<std::string> splitHeaders(std::string_view value);
// Replaces the viewer's header list; false when memory ran out (the list then holds what fitted).
bool rebuildHeaders(CustomHeaderNode& head, const std::vector<std::string>& names);
void freeHeaders(CustomHeaderNode& head);

inline constexpr int kTitleFieldCount = 10;
extern const std::array<const char*, kTitleFieldCount> kTitleKeys;
extern const std::array<const char*, kTitleFieldCount> kTitleLabels;
inline constexpr int kGeneralCount = 5;
extern const std::array<const char*, kGeneralCount> kGeneralKeys;
extern const std::array<const char*, kGeneralCount> kGeneralLabels;

// The values of the dialog's controls.
struct SettingsValues {
    int fontSizeIndex = 7;  // "14"
    std::string fontFace;
    int spaceBar = 0;  // list index: 0 = one page
    int lineDown = 1;  // 1..49
    bool readOnUnreadJump = false, readAfterTime = false, readOnOpen = false;
    int readSeconds = 1;  // 1..20
    std::array<bool, kGeneralCount> general{};
    std::array<bool, kTitleFieldCount> title{};
    bool operator==(const SettingsValues&) const = default;
};
// The record as the dialog shows it; values out of the lists' ranges are brought into them.
SettingsValues valuesFromRecord(const ViewerSettings& record);
// Stores the values into the record; the reduced mode leaves the title switches, PositionFix
// and NoDoubleWindow alone.
void storeValues(const SettingsValues& values, Mode mode, ViewerSettings& record);
// Writes the values' keys; the reduced mode skips the keys it leaves alone.
Err writeValues(platform::Profile& ini, const SettingsValues& values, Mode mode);

// OK on the shortcut list: pending keys become the keys, "ShortCut" is written, pending keys are
// cleared. Returns the committed codes in action order.
Err commitShortcuts(platform::Profile& ini, ShortcutNode& head, std::vector<int>& codes_out);

}  // namespace kolvy::viewer
