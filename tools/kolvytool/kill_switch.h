// The kill switch of the crash tests: with KOLVY_KILL_AT=N in the environment the tool's file
// system kills the process at its Nth call (opening, reading, writing, flushing, moving, removing,
// listing ...), as a crash or a SIGKILL would: nothing is closed, flushed or unwound. A write met
// by the kill gets half of its bytes first, so torn writes are tried too. Without the variable
// the real file system is used as it is.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace kolvy::tool {

// The file system of a tool run: the real one, or the real one behind the kill switch.
std::unique_ptr<platform::FileSystem> makeToolFileSystem();

// Ends the process at once, as SIGKILL does.
[[noreturn]] void killNow();

}  // namespace kolvy::tool
