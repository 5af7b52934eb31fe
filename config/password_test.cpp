#include "config/password.h"

#include <gtest/gtest.h>

#include "mime/decode.h"
#include "mime/encode.h"

namespace kolvy::config {
namespace {

TEST(PasswordScrambling, KnownStoredForms) {
    // "abc" complemented is 9E 9D 9C, whose Base64 is "np2c": existing ini files hold this.
    EXPECT_EQ(scramblePassword("abc"), "np2c");
    EXPECT_EQ(unscramblePassword("np2c"), "abc");
    EXPECT_EQ(scramblePassword(""), "");
    EXPECT_EQ(unscramblePassword(""), "");
    // One and two trailing bytes are padded.
    EXPECT_EQ(scramblePassword("a"), "ng==");
    EXPECT_EQ(scramblePassword("ab"), "np0=");
    EXPECT_EQ(unscramblePassword("ng=="), "a");
    EXPECT_EQ(unscramblePassword("np0="), "ab");
}

TEST(PasswordScrambling, Base64AgainstTheRfcVectors) {
    const struct {
        const char* plain;
        const char* encoded;
    } cases[] = {{"", ""},
                 {"f", "Zg=="},
                 {"fo", "Zm8="},
                 {"foo", "Zm9v"},
                 {"foob", "Zm9vYg=="},
                 {"fooba", "Zm9vYmE="},
                 {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) {
        EXPECT_EQ(mime::encodeBase64(c.plain), c.encoded) << c.plain;
        EXPECT_EQ(mime::decodeBase64(c.encoded), c.plain) << c.encoded;
    }
    // Line breaks inside are skipped; decoding stops at "=" and at "-".
    EXPECT_EQ(mime::decodeBase64("Zm9v\r\nYmFy"), "foobar");
    EXPECT_EQ(mime::decodeBase64("Zm9v=YmFy"), "foo");
    EXPECT_EQ(mime::decodeBase64("Zm9v-YmFy"), "foo");
}

TEST(PasswordScrambling, EveryLengthAndByteSurvives) {
    // Passwords of 1..63 bytes made of every byte but 0xFF (whose complement ends the text).
    for (size_t len = 1; len <= 63; ++len) {
        std::string plain;
        for (size_t i = 0; i < len; ++i)
            plain += static_cast<char>((len * 37 + i * 11) % 0xFF);
        const std::string stored = scramblePassword(plain);
        EXPECT_EQ(stored.size(), scrambledLength(len));
        EXPECT_EQ(stored.find(plain), std::string::npos);
        if (plain.find('\0') == std::string::npos) {
            EXPECT_EQ(unscramblePassword(stored), plain) << len;
        }
    }
    EXPECT_EQ(unscramblePassword(scramblePassword("パスワード表ソ")), "パスワード表ソ");
    EXPECT_EQ(scrambledLength(63), 84u);
}

}  // namespace
}  // namespace kolvy::config
