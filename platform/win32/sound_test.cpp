// The sound call of the new-mail notice: a missing file is silence, never the system's default
// sound in its place.
#include <gtest/gtest.h>

#include "platform/win32/win32.h"
#include "tests/support/test_env.h"

namespace kolvy::platform::win32 {
namespace {

TEST(SoundFile, MissingFilesAndFoldersPlayNothing) {
    test::TempFolder folder;
    EXPECT_FALSE(playSoundFile(folder / "sinchaku.wav"));
    EXPECT_FALSE(playSoundFile(folder.path()));
    EXPECT_FALSE(playSoundFile(""));
}

}  // namespace
}  // namespace kolvy::platform::win32
