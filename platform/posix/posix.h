// Internals shared by the POSIX backend files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kolvy::platform::posix {

// Shift_JIS path with '\\' separators -> UTF-8 path with '/' (nullopt when not convertible).
std::optional<std::string> nativePath(std::string_view sjisPath);
// UTF-8 name from the file system -> Shift_JIS (nullopt when the name has no CP932 form).
std::optional<std::string> programName(std::string_view utf8Name);

}  // namespace kolvy::platform::posix
