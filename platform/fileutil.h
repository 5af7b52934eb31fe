// Whole-file helpers over the platform layer, shared by every writer.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kolvy::platform {

// Reads a whole file; refuses (Err::Invalid) files larger than maxBytes.
Result<std::string> readWholeFile(FileSystem& fs, std::string_view path,
                                  uint64_t maxBytes = 1ull << 31);
// Whether a write waits until the data is on the disk.
enum class Flush { ToDisk, ToCache };
// Creates or truncates, writes, flushes, closes.
Err writeWholeFile(FileSystem& fs, std::string_view path, std::string_view data,
                   Flush flush = Flush::ToDisk);
// Replaces a file so that a crash leaves either the old or the new content, never a mix: write
// `tmpPath`, flush, then one replace-existing move. On failure the temporary file is deleted and
// the old file is untouched.
Err replaceFileContents(FileSystem& fs, std::string_view path, std::string_view tmpPath,
                        std::string_view data, Flush flush = Flush::ToDisk);
// Removes a folder and everything below it, as far as it can (what cannot be removed stays).
void removeTree(FileSystem& fs, const std::string& path);
// Opens (or creates) and appends, flushes, closes.
Err appendToFile(FileSystem& fs, std::string_view path, std::string_view data);
// Creates a folder and the missing folders above it.
Err makeDirs(FileSystem& fs, std::string_view path);

}  // namespace kolvy::platform
