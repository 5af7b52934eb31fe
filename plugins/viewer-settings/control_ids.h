// Control ids of Brellin's two windows, shared with the tests that drive them from outside.
#pragma once

namespace kolvy::viewer {

// The settings dialog.
enum SettingsControl : int {
    kFontType = 100,
    kFontSize,
    kSpaceBar,
    kLineDown,
    kReadOnJump,
    kReadAfterTime,
    kReadSeconds,
    kReadOnOpen,
    kGeneral0 = 120,  // five switches
    kTitle0 = 130,    // ten switches
    kShortcutList = 150,
    kShortcutChange,
    kShortcutStandard,
    kHeaderBox,
    kHeaderStandard,
};

// The view-script editor.
enum EditorControl : int {
    kAddress = 200,
    kEffect,
    kBox,
    kHighlightChoice,
    kBeginLine,
    kEndLine,
    kHighlight,
    kHighlightLabel,
    kSize,
    kBold,
    kItalic,
    kEdge,
    kTextColour,
    kBackColour,
    kDeleteAddress,
    kDeleteEffect,
    kHelp,
    kRegister,
    kClose,
    kSample,
};

}  // namespace kolvy::viewer
