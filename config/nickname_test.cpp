#include "config/nickname.h"

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace kolvy::config {
namespace {

TEST(Nicknames, LinesInFileOrder) {
    test::TestEnv t;
    Nicknames n;
    n.load(t.env);
    EXPECT_TRUE(n.entries().empty());  // no file
    t.write("Nickname.txt",
            "taro@example.jp;太郎\r\n\r\n\r\nhana@example.jp;花子ソ\r\nno separator here\r\n"
            "taro@example.jp;second\r\nlast@example.jp;最後");
    n.load(t.env);
    auto nick = [&](std::string_view a) { return n.find(a) ? *n.find(a) : std::string("-"); };
    ASSERT_EQ(n.entries().size(), 4u);
    EXPECT_EQ(n.entries()[1].address + ";" + n.entries()[1].nickname, "hana@example.jp;花子ソ");
    EXPECT_EQ(nick("taro@example.jp"), "太郎");  // the first entry wins
    EXPECT_EQ(nick("last@example.jp"), "最後");
    EXPECT_FALSE(n.find("TARO@example.jp") || n.find("nobody"));
}

// 125 key and 62 nickname bytes before a double-byte character: the character goes whole.
TEST(Nicknames, FieldLimitsNeverSplitACharacter) {
    Nicknames n;
    n.parse(std::string(125, 'k') + "表;" + std::string(62, 'n') + "ソ\r\n" +
            std::string(126, 'a') + ";" + std::string(63, 'b'));
    ASSERT_EQ(n.entries().size(), 2u);
    EXPECT_EQ(n.entries()[0].address, std::string(125, 'k'));
    EXPECT_EQ(n.entries()[0].nickname, std::string(62, 'n'));
    EXPECT_EQ(n.entries()[1].address, std::string(126, 'a'));
    EXPECT_EQ(n.entries()[1].nickname, std::string(63, 'b'));
}

}  // namespace
}  // namespace kolvy::config
