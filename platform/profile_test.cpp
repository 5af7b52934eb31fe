// Profile-string conformance: the same cases run natively against the emulation and under Wine
// against GetPrivateProfileStringA / WritePrivateProfileStringA, so the emulation is proven.
#include <gtest/gtest.h>

#include "platform/fileutil.h"
#include "platform/platform.h"
#include "tests/support/failing_fs.h"
#include "tests/support/test_env.h"

namespace kolvy::platform {
namespace {

class ProfileStrings : public ::testing::Test {
  protected:
    test::TempFolder dir;
    std::unique_ptr<FileSystem> fs = makeFileSystem();
    std::string file = dir / "Kolvy.ini";
    std::unique_ptr<Profile> ini = makeProfile(file);
    void writeRaw(std::string_view text) { ASSERT_EQ(writeWholeFile(*fs, file, text), Err::None); }
    std::string raw() {
        auto d = readWholeFile(*fs, file);
        return d ? *d : "<missing>";
    }
};

#ifndef _WIN32
// Natively the emulation writes through the file system it is given: a failure at any step of a
// write leaves the old settings or the new ones, whole, and the next read sees what is on disk.
TEST_F(ProfileStrings, WriteFailureAtAnyStepKeepsTheOldOrTheNewFile) {
    const std::string old = "[Option]\r\nLogOut=0\r\nLogSize=100\r\n";
    const std::string written = "[Option]\r\nLogOut=1\r\nLogSize=100\r\n";
    test::FailingFileSystem failing(*fs);
    auto through = makeProfile(file, failing);
    const int rounds = test::failEachStep(
        failing, [&] { writeRaw(old); },
        [&](int n) {
            const Err e = through->write("Option", "LogOut", "1");
            EXPECT_EQ(raw(), e == Err::None ? written : old) << n;
            EXPECT_FALSE(fs->exists(file + ".tmp")) << n;
            EXPECT_EQ(through->read("Option", "LogOut"), e == Err::None ? "1" : "0") << n;
        });
    EXPECT_GE(rounds, 3);  // at least the create, the write and the move were failed
}
#endif

TEST_F(ProfileStrings, FirstWriteCreatesTheFileWithCrLfLines) {
    EXPECT_FALSE(ini->read("Option", "LogOut"));
    EXPECT_FALSE(fs->exists(file));
    ASSERT_EQ(ini->write("Option", "LogOut", "1"), Err::None);
    ASSERT_EQ(ini->write("TagList", "TagTab", "0;1;2"), Err::None);
    ASSERT_EQ(ini->write("Option", "LogSize", "100"), Err::None);
    const std::string text = raw();
    EXPECT_NE(text.find("[Option]\r\nLogOut=1\r\nLogSize=100\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[TagList]\r\nTagTab=0;1;2\r\n"), std::string::npos) << text;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    EXPECT_EQ(ini->read("Option", "LogOut"), "1");
}

TEST_F(ProfileStrings, NamesCompareWithoutCaseAndUpdatesStayInPlace) {
    ASSERT_EQ(ini->write("TabOption", "TabFontSize", "13"), Err::None);
    ASSERT_EQ(ini->write("taboption", "TABFONTSIZE", "14"), Err::None);
    EXPECT_EQ(ini->read("TABOPTION", "tabfontsize"), "14");
    EXPECT_EQ(ini->keys("TabOption").size(), 1u);
    EXPECT_EQ(ini->sections().size(), 1u);
}

TEST_F(ProfileStrings, OwnWritesNeverHideOrUndoAnotherWritersChange) {
    ASSERT_EQ(ini->write("0", "AllMailCount", "1"), Err::None);
    ASSERT_EQ(ini->write("0", "AllMailCount", "1"), Err::None);  // unchanged
    EXPECT_EQ(raw(), "[0]\r\nAllMailCount=1\r\n");
    // Another program rewrites the file right after; the next call sees it and keeps it.
    writeRaw("[0]\r\nAllMailCount=22\r\nNextFileNo=3\r\n");
    EXPECT_EQ(ini->read("0", "AllMailCount"), "22");
    writeRaw("[0]\r\nAllMailCount=5\r\nNextFileNo=3\r\nWaitMailCount=0\r\n");
    ASSERT_EQ(ini->write("0", "AllMailCount", "5"), Err::None);
    ASSERT_EQ(ini->write("0", "EditMailCount", "0"), Err::None);
    EXPECT_EQ(raw(),
              "[0]\r\nAllMailCount=5\r\nNextFileNo=3\r\nWaitMailCount=0\r\nEditMailCount=0\r\n");
}

TEST_F(ProfileStrings, ShiftJisBytesPassUntouched) {
    // A section named in Japanese and values with 0x5C trail bytes (表, ソ).
    ASSERT_EQ(ini->write("受信", "TabName", "表ソ能"), Err::None);
    ASSERT_EQ(ini->write("0", "TabName", "ごみ箱"), Err::None);
    EXPECT_EQ(ini->read("受信", "TabName"), "表ソ能");
    EXPECT_EQ(ini->read("0", "TabName"), "ごみ箱");
    EXPECT_NE(raw().find("[受信]\r\nTabName=表ソ能\r\n"), std::string::npos);
    // Two katakana differing only in a trail byte that looks like a letter are two sections.
    ASSERT_EQ(ini->write("\x83\x41", "k", "1"), Err::None);
    ASSERT_EQ(ini->write("\x83\x61", "k", "2"), Err::None);
    EXPECT_EQ(ini->read("\x83\x41", "k"), "1");
    EXPECT_EQ(ini->read("\x83\x61", "k"), "2");
}

TEST_F(ProfileStrings, ReadingTrimsBlanksAndStripsMatchingQuotes) {
    writeRaw(
        "[S]\r\n"
        "  Plain   =   some value  \r\n"
        "Double=\"quoted text\"\r\n"
        "Single='single'\r\n"
        "Mixed=\"mixed'\r\n"
        "Inner=a \"b\" c\r\n"
        "Empty=\r\n"
        "Lone=\"\r\n"
        "[Other]\r\n"
        "Plain=other\r\n");
    std::vector<std::string> values;
    for (const std::string& key : ini->keys("S"))
        values.push_back(key + "=" + ini->read("S", key).value_or("<none>"));
    EXPECT_EQ(values,
              (std::vector<std::string>{"Plain=some value", "Double=quoted text", "Single=single",
                                        "Mixed=\"mixed'", "Inner=a \"b\" c", "Empty=", "Lone=\""}));
    EXPECT_EQ(ini->read("Other", "Plain"), "other");
    EXPECT_FALSE(ini->read("S", "Missing"));
}

TEST_F(ProfileStrings, DeletingKeysAndSections) {
    ASSERT_EQ(ini->write("3", "TabName", "x"), Err::None);
    ASSERT_EQ(ini->write("3", "GomiKara_JyusinNichiji", "5"), Err::None);
    ASSERT_EQ(ini->write("4", "TabName", "y"), Err::None);
    ASSERT_EQ(ini->removeKey("3", "tabname"), Err::None);
    EXPECT_FALSE(ini->read("3", "TabName"));
    EXPECT_EQ(ini->read("3", "GomiKara_JyusinNichiji"), "5");
    ASSERT_EQ(ini->removeSection("3"), Err::None);
    EXPECT_FALSE(ini->read("3", "GomiKara_JyusinNichiji"));
    EXPECT_TRUE(ini->keys("3").empty());
    EXPECT_EQ(ini->read("4", "TabName"), "y");
    EXPECT_EQ(ini->removeSection("no such"), Err::None);
    EXPECT_EQ(ini->sections(), (std::vector<std::string>{"4"}));
}

TEST_F(ProfileStrings, ValuesThatWouldBreakTheFileAreRefused) {
    EXPECT_EQ(ini->write("S", "K", "a\r\nb=c"), Err::Invalid);
    EXPECT_EQ(ini->write("S", "K\n", "v"), Err::Invalid);
    EXPECT_EQ(ini->write("S\r", "K", "v"), Err::Invalid);
    EXPECT_FALSE(ini->read("S", "K"));
}

TEST_F(ProfileStrings, NumbersInTheProgramsForms) {
    ASSERT_EQ(writeInt(*ini, "0", "NoReadMailCount", -3), Err::None);
    ASSERT_EQ(writeHex(*ini, "0", "Color", 0xffaa55), Err::None);
    ASSERT_EQ(ini->write("0", "Junk", "abc"), Err::None);
    ASSERT_EQ(ini->write("0", "Blank", ""), Err::None);
    EXPECT_EQ(ini->read("0", "Color"), "0xffaa55");
    EXPECT_EQ(readInt(*ini, "0", "NoReadMailCount", 0), -3);
    EXPECT_EQ(readInt(*ini, "0", "Color", 0), 0xffaa55);
    EXPECT_EQ(readInt(*ini, "0", "Missing", 645), 645);
    EXPECT_EQ(readInt(*ini, "0", "Blank", 7), 7);
    EXPECT_EQ(readInt(*ini, "0", "Junk", 7), 0);
    EXPECT_EQ(readString(*ini, "0", "Missing", "def"), "def");
    ASSERT_EQ(ini->write("0", "TabName", "受信トレイ"), Err::None);
    EXPECT_EQ(readString(*ini, "0", "TabName", "", 5), "受信");  // cut on a character boundary
    EXPECT_EQ(parseNumber("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(parseNumber("-0x10"), -16);
    EXPECT_FALSE(parseNumber("x"));
}

}  // namespace
}  // namespace kolvy::platform
