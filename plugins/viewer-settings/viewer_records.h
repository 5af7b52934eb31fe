// Records the mail viewer owns and hands to this library by pointer.
#pragma once

struct ViewerSettings;
struct ShortcutNode;
struct CustomHeaderNode;
struct ViewScriptNode;
