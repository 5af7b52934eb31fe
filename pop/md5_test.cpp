#include "pop/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace kolvy::pop {
namespace {

TEST(Md5, Rfc1321SuiteWholeAndBytewise) {
    struct Vector {
        std::string input, hex;
    } const vectors[] = {
        // The test suite of RFC 1321, appendix A.5.
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // The APOP digest of RFC 1939's example.
        {"<1896.697170952@dbc.mtview.ca.us>tanstaaf", "c4c9334bac560ecc979e58001b3e22fb"},
        // 55, 56 and 64 bytes are where the padding takes one or two blocks.
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.input.size() > 80 ? std::to_string(v.input.size()) : v.input);
        EXPECT_EQ(md5Hex(v.input), v.hex);
        EXPECT_STREQ(Md5Hex(v.input.c_str()), v.hex.c_str());
        // Pieces of 1 and 7 bytes cross every block boundary.
        for (size_t piece : {1u, 7u}) {
            Md5 m;
            for (size_t i = 0; i < v.input.size(); i += piece)
                m.add(std::string_view(v.input).substr(i, piece));
            EXPECT_EQ(toHex(m.finish()), v.hex) << "pieces of " << piece;
        }
    }
}

TEST(HmacMd5, Rfc2104AndRfc2202Vectors) {
    struct Case {
        std::string key, data, hex;
    } const cases[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        // A key longer than the block is replaced by its digest.
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        // The CRAM-MD5 example of RFC 2195.
        {"tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>",
         "b913a602c7eda7a495b4e6e7334d3890"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toHex(hmacMd5(c.key, c.data)), c.hex) << c.data;
}

}  // namespace
}  // namespace kolvy::pop
