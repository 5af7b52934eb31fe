// Starting another program and waiting for it to end (the external editor of drafts).
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"

namespace kolvy::platform {

// The command line "<program> <argument>": the argument is always in double quotes (a path with
// blanks must reach the program as one argument), the program only when it holds blanks and is
// not quoted already ("C:\Program Files\..." would otherwise start "C:\Program").
std::string quotedCommandLine(std::string_view program, std::string_view argument);

// Starts `program` (Shift_JIS path or a name the platform searches for) with one argument and
// waits until it ends. Returns its exit code, or Err::NotFound / Err::Access / Err::Io when it
// could not be started at all.
Result<int> runAndWait(std::string_view program, std::string_view argument);

// The editor used when the user named none: notepad.exe on Windows; natively $VISUAL or $EDITOR
// when set, else empty (the caller says that no editor is set).
std::string defaultEditor();

}  // namespace kolvy::platform
