// The file layer's behaviour, the same on both backends (natively the POSIX one, under Wine the
// Win32 one).
#include <gtest/gtest.h>

#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "tests/support/test_env.h"

namespace kolvy::platform {
namespace {

class Files : public ::testing::Test {
  protected:
    test::TempFolder dir;
    std::unique_ptr<FileSystem> fs = makeFileSystem();
    std::string at(std::string_view rel) { return dir / rel; }
    std::string content(std::string_view rel) {
        auto d = readWholeFile(*fs, at(rel));
        return d ? *d : "<" + std::string(errName(d.error())) + ">";
    }
};

TEST_F(Files, OpenModesCreateTruncateAndAppendAsNamed) {
    EXPECT_EQ(fs->open(at("none.txt"), OpenMode::Read).error(), Err::NotFound);
    EXPECT_EQ(fs->open(at("none.txt"), OpenMode::ReadWrite).error(), Err::NotFound);
    EXPECT_FALSE(fs->exists(at("none.txt")));  // neither mode creates

    ASSERT_EQ(writeWholeFile(*fs, at("a.txt"), "0123456789"), Err::None);
    EXPECT_EQ(fs->open(at("a.txt"), OpenMode::CreateNew).error(), Err::Exists);
    EXPECT_EQ(content("a.txt"), "0123456789");

    {
        auto f = fs->open(at("a.txt"), OpenMode::ReadWrite);
        ASSERT_TRUE(f);
        EXPECT_EQ((*f)->writeAt(2, "ab"), Err::None);
        char buf[3];
        auto n = (*f)->readAt(8, buf);
        ASSERT_TRUE(n);
        EXPECT_EQ(std::string(buf, *n), "89");
        EXPECT_EQ(*(*f)->size(), 10u);
    }
    EXPECT_EQ(content("a.txt"), "01ab456789");

    ASSERT_EQ(appendToFile(*fs, at("a.txt"), "XY"), Err::None);
    ASSERT_EQ(appendToFile(*fs, at("new.txt"), "first"), Err::None);
    EXPECT_EQ(content("a.txt"), "01ab456789XY");
    EXPECT_EQ(content("new.txt"), "first");

    {
        auto f = fs->open(at("a.txt"), OpenMode::CreateTruncate);
        ASSERT_TRUE(f);
        EXPECT_EQ(*(*f)->size(), 0u);
    }
    EXPECT_EQ(*fs->fileSize(at("a.txt")), 0u);
}

TEST_F(Files, MovesNeverOverwriteButReplaceDoes) {
    ASSERT_EQ(writeWholeFile(*fs, at("old.txt"), "old"), Err::None);
    ASSERT_EQ(writeWholeFile(*fs, at("new.txt"), "new"), Err::None);
    EXPECT_EQ(fs->rename(at("new.txt"), at("old.txt")), Err::Exists);
    EXPECT_EQ(content("old.txt"), "old");
    EXPECT_EQ(fs->replace(at("new.txt"), at("old.txt")), Err::None);
    EXPECT_EQ(content("old.txt"), "new");
    EXPECT_FALSE(fs->exists(at("new.txt")));

    EXPECT_EQ(fs->copy(at("old.txt"), at("copy.txt"), true), Err::None);
    EXPECT_EQ(fs->copy(at("old.txt"), at("copy.txt"), true), Err::Exists);
    EXPECT_EQ(content("copy.txt"), "new");

    ASSERT_EQ(replaceFileContents(*fs, at("copy.txt"), at("Tmp.bin"), "swapped"), Err::None);
    EXPECT_EQ(content("copy.txt"), "swapped");
    EXPECT_FALSE(fs->exists(at("Tmp.bin")));
}

TEST_F(Files, ShiftJisNamesWithBackslashTrailBytes) {
    // 表 and ソ end in byte 0x5C: the layer must not split the names there.
    const std::string folder = at("表示\\ソフト");
    ASSERT_EQ(makeDirs(*fs, folder), Err::None);
    EXPECT_TRUE(fs->isDir(folder));
    ASSERT_EQ(writeWholeFile(*fs, sjis::joinPath(folder, "能力.txt"), "x"), Err::None);
    ASSERT_EQ(fs->makeDir(sjis::joinPath(folder, "添付")), Err::None);
    EXPECT_EQ(fs->makeDir(sjis::joinPath(folder, "添付")), Err::Exists);

    auto entries = fs->list(folder);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    bool sawFile = false, sawDir = false;
    for (const auto& e : *entries) {
        if (e.name == "能力.txt") {
            sawFile = !e.isDir && e.size == 1;
        } else if (e.name == "添付") {
            sawDir = e.isDir && e.plainDir;
        }
    }
    EXPECT_TRUE(sawFile);
    EXPECT_TRUE(sawDir);

    EXPECT_EQ(fs->rename(folder, at("表示\\表")), Err::None);
    EXPECT_EQ(content("表示\\表\\能力.txt"), "x");
    EXPECT_NE(fs->removeDir(at("表示\\表")), Err::None);  // not empty
    EXPECT_EQ(fs->remove(at("表示\\表\\能力.txt")), Err::None);
    EXPECT_EQ(fs->removeDir(at("表示\\表\\添付")), Err::None);
    EXPECT_EQ(fs->removeDir(at("表示\\表")), Err::None);
    EXPECT_FALSE(fs->exists(at("表示\\表")));
}

TEST_F(Files, FoldersAreNotFiles) {
    ASSERT_EQ(fs->makeDir(at("d")), Err::None);
    EXPECT_FALSE(fs->open(at("d"), OpenMode::Read));
    EXPECT_FALSE(fs->fileSize(at("d")));
    EXPECT_NE(fs->remove(at("d")), Err::None);
    EXPECT_TRUE(fs->isDir(at("d")));
    EXPECT_EQ(fs->list(at("missing")).error(), Err::NotFound);
}

TEST(FileLock, ASecondHolderWaitsThenIsRefusedUntilTheFirstLetsGo) {
    test::TempFolder dir;
    const std::string path = dir / "名前.lock";
    auto first = lockFile(path, 0);
    ASSERT_TRUE(first);
    auto fs = makeFileSystem();
    EXPECT_TRUE(fs->exists(path));
    auto second = lockFile(path, 300);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error(), Err::Access);
    (*first).reset();
    auto third = lockFile(path, 0);
    EXPECT_TRUE(third);
    EXPECT_FALSE(lockFile(dir / "無い\\a.lock", 0));  // no such folder
}

TEST(FileNames, UnitsCountedAsTheFileSystemCountsThem) {
    struct Case {
        std::string name;
        size_t windows, posix;
    };
    const Case cases[] = {{"report.pdf", 10, 10}, {"日本語.txt", 7, 13}, {"ｶﾀｶﾅ", 4, 12}};
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    for (const Case& c : cases)
        EXPECT_EQ(fileNameUnits(c.name), windows ? c.windows : c.posix) << c.name;
    std::string longName;
    for (int i = 0; i < 96; ++i)
        longName += "資";
    // 96 UTF-16 units fit; natively they are 288 bytes of UTF-8, which do not.
    EXPECT_EQ(fileNameUnits(longName) <= kFileNameUnitsMax, windows);
}

}  // namespace
}  // namespace kolvy::platform
