// What a unit of work needs from the world: the platform services and the process-wide switches
// that decide how failures are reported. One Env per process (tests make their own).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace kolvy {

struct Env {
    platform::FileSystem& fs;
    platform::Profile& ini;  // Kolvy.ini
    platform::Reporter& reporter;
    platform::Clock& clock;
    std::string programFolder;  // Shift_JIS, without a trailing separator

    // Set by a run started without a user at the screen (timer, DDE, tray, console tool):
    // failures go to the communication log instead of a message box.
    std::atomic<bool> unattended{false};
    // Option/LogOut: attended runs log their failures too.
    std::atomic<bool> logOut{false};
    // Option/LogSize: size at which a receive or send log is rotated.
    std::atomic<uint64_t> logSize{50000000};

    std::string path(std::string_view relative) const;
};

}  // namespace kolvy
