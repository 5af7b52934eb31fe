#include "config/password.h"

#include <gtest/gtest.h>

#include "mime/decode.h"
#include "mime/encode.h"

namespace kolvy::config {
namespace {

// Stored forms existing ini files hold ("abc" complemented is 9E 9D 9C, Base64 "np2c"), and the
// Base64 beneath them against the RFC 4648 vectors.
TEST(PasswordScrambling, KnownStoredForms) {
    const std::pair<const char*, const char*> stored[] = {
        {"abc", "np2c"}, {"", ""}, {"a", "ng=="}, {"ab", "np0="}};
    for (const auto& [plain, form] : stored) {
        EXPECT_EQ(scramblePassword(plain), form);
        EXPECT_EQ(unscramblePassword(form), plain);
    }
}

TEST(PasswordScrambling, Base64AgainstTheRfcVectors) {
    const std::pair<const char*, const char*> rfc[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},
                                                       {"foob", "Zm9vYg=="},
                                                       {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : rfc) {
        EXPECT_EQ(mime::encodeBase64(plain), encoded);
        EXPECT_EQ(mime::decodeBase64(encoded), plain);
    }
    // Line breaks inside are skipped; decoding stops at "=" and at "-".
    const std::pair<const char*, const char*> odd[] = {
        {"Zm9v\r\nYmFy", "foobar"}, {"Zm9v=YmFy", "foo"}, {"Zm9v-YmFy", "foo"}};
    for (const auto& [in, out] : odd)
        EXPECT_EQ(mime::decodeBase64(in), out) << in;
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
            EXPECT_EQ(unscramblePassword(stored), plain);
        }
    }
    EXPECT_EQ(unscramblePassword(scramblePassword("パスワード表ソ")), "パスワード表ソ");
    EXPECT_EQ(scrambledLength(63), 84u);
}

}  // namespace
}  // namespace kolvy::config
