// Windows tests: a picture of what the test showed, for a person to look at afterwards.
#pragma once

#include <windows.h>

#include <string>

namespace kolvy::test {

// Saves the window (or the whole screen for null) as KOLVY_SCREENSHOT_DIR\<name>.bmp and returns
// the path, or "" when there is no screenshot folder or the capture failed.
std::string saveScreenshot(HWND window, const std::string& name);

}  // namespace kolvy::test
