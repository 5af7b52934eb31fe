#include <windows.h>

#include <mmsystem.h>

#include "platform/win32/win32.h"

namespace kolvy::platform::win32 {

bool playSoundFile(const std::string& path) {
    // No file, no sound: the system's default sound must not stand in for a missing one.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return PlaySoundA(path.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT) != FALSE;
}

}  // namespace kolvy::platform::win32
