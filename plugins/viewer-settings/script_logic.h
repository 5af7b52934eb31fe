// The view-script file and the checks of the view-script editor, apart from its window.
//
// "_ViewScript\ViewScript.txt" holds every address's script, rewritten whole after each change:
// written to a temporary file, flushed and moved over the old one; only then are the other files
// of the folder deleted, so a crash leaves the old or the new file, never an empty folder.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/platform.h"
#include "plugins/viewer-settings/viewer_records.h"

namespace kolvy::viewer {

inline constexpr char kScriptFolder[] = "_ViewScript";
inline constexpr char kScriptFile[] = "ViewScript.txt";
inline constexpr char kScriptTemp[] = "ViewScript.tmp";
inline constexpr uint32_t kWhite = 0xFFFFFF;
// "設定1" .. "設定99": the effects the editor can reach.
inline constexpr int kMaxEffects = 99;
inline constexpr int kDefaultFontIndex = 7;  // "14"

std::string formatScripts(const ViewScriptNode& head);
// Reads a view-script file as the viewer does, appending to `head`. Lines it does not know are
// skipped, texts are cut to their fields, numbers out of range are brought into range. Returns
// false when memory ran out (the list then holds what was read so far).
bool parseScripts(std::string_view text, ViewScriptNode& head);
void freeEffects(ViewScriptNode& node);
void freeScripts(ViewScriptNode& head);
ViewScriptNode* findScript(ViewScriptNode& head, std::string_view address);
int effectCount(const ViewScriptNode& node);
ViewEffect* effectAt(ViewScriptNode& node, int index);  // null when there is no such effect

// Why a save failed, for the message the editor shows.
enum class SaveFailure { None, Open, Write };
// Writes `text` as the folder's view-script file and then deletes every other file there.
SaveFailure saveScriptFile(platform::FileSystem& fs, std::string_view folder,
                           std::string_view text);

// The editor's controls.
struct EffectForm {
    std::string address, beginLine, endLine, highlight;
    int fontSizeIndex = kDefaultFontIndex;
    bool bold = false, italic = false;
    int edgeType = 0;
    std::optional<uint32_t> textColor, textBkColor;  // chosen so far
};
enum class Focus { None, Address, Texts, Colour };
struct RegisterCheck {
    const char* message = nullptr;  // null: no refusal
    Focus focus = Focus::None;
    bool askRename = false;  // the selected node's address was edited: ask before renaming
};
// The checks of "登録・変更(&R)", in order; `selected` is the address node being edited or null.
RegisterCheck checkRegister(const EffectForm& form, ViewScriptNode& head,
                            const ViewScriptNode* selected);
// The form of a stored effect (address left empty).
EffectForm formOf(const ViewEffect& effect);
// Copies the controls into an effect; a missing colour becomes black text on white.
void applyForm(const EffectForm& form, ViewEffect& effect);

// Custom colours of the colour chooser: section CustColors of "Ombrel.ini", keys "0".."15".
std::array<uint32_t, 16> readCustomColours(platform::Profile& ini);
Err writeCustomColours(platform::Profile& ini, const std::array<uint32_t, 16>& colours);

}  // namespace kolvy::viewer
