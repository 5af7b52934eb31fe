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
            "taro@example.jp;太郎\r\n\r\n\r\nhana@example.jp;花子ソ\r\n"
            "no separator here\r\n"
            "taro@example.jp;second\r\n"
            "last@example.jp;最後");
    n.load(t.env);
    ASSERT_EQ(n.entries().size(), 4u);
    EXPECT_EQ(n.entries()[1].address, "hana@example.jp");
    EXPECT_EQ(n.entries()[1].nickname, "花子ソ");
    ASSERT_TRUE(n.find("taro@example.jp"));
    EXPECT_EQ(*n.find("taro@example.jp"), "太郎");  // the first entry wins
    EXPECT_EQ(*n.find("last@example.jp"), "最後");
    EXPECT_FALSE(n.find("TARO@example.jp"));
    EXPECT_FALSE(n.find("nobody"));
}

TEST(Nicknames, FieldLimitsNeverSplitACharacter) {
    Nicknames n;
    // 125 ASCII bytes and a double-byte character: the key keeps 125 bytes.
    const std::string key = std::string(125, 'k') + "表";
    // 62 ASCII bytes and a double-byte character: the nickname keeps 62.
    const std::string nick = std::string(62, 'n') + "ソ";
    n.parse(key + ";" + nick + "\r\n" + std::string(126, 'a') + ";" + std::string(63, 'b'));
    ASSERT_EQ(n.entries().size(), 2u);
    EXPECT_EQ(n.entries()[0].address, std::string(125, 'k'));
    EXPECT_EQ(n.entries()[0].nickname, std::string(62, 'n'));
    EXPECT_EQ(n.entries()[1].address, std::string(126, 'a'));
    EXPECT_EQ(n.entries()[1].nickname, std::string(63, 'b'));
}

}  // namespace
}  // namespace kolvy::config
