#include "pop/listing.h"

#include <gtest/gtest.h>

#include <string>

namespace kolvy::pop {
namespace {

TEST(Listing, SizesByTheNumberEachLineNames) {
    struct Case {
        std::string reply;
        ListingStatus status;
        std::vector<std::pair<int32_t, uint64_t>> sizes;
    };
    const Case cases[] = {
        {"+OK 2 messages\r\n1 120\r\n2 0\r\n.\r\n", ListingStatus::Ok, {{1, 120}, {2, 0}}},
        {"+OK\r\n.\r\n", ListingStatus::Empty, {}},
        {"+OK\n1 5\n.\n", ListingStatus::Ok, {{1, 5}}},
        {"-ERR locked\r\n", ListingStatus::Refused, {}},
        {"", ListingStatus::Refused, {}},
        {"+OK\r\n3 3000000000\r\n1 5000000000\r\n.\r\n",
         ListingStatus::Ok,
         {{3, 3000000000u}, {1, 5000000000u}}},
        {"+OK\r\n1 99999999999999999999999\r\n.\r\n", ListingStatus::Ok, {{1, UINT64_MAX}}},
        {"+OK\r\n1  7\r\n.\r\n", ListingStatus::Ok, {{1, 7}}},
        {"+OK\r\n1\r\n.\r\n", ListingStatus::Malformed, {}},           // no blank
        {"+OK\r\n1 x\r\n.\r\n", ListingStatus::Malformed, {}},         // no size
        {"+OK\r\nx 1\r\n.\r\n", ListingStatus::Malformed, {}},         // no number
        {"+OK\r\n0 1\r\n.\r\n", ListingStatus::Malformed, {}},         // numbers start at 1
        {"+OK\r\n1 1\r\n1 2\r\n.\r\n", ListingStatus::Malformed, {}},  // listed twice
        {"+OK\r\n1234567890 1\r\n.\r\n", ListingStatus::Malformed, {}},
        {"+OK\r\n1 1\r\n", ListingStatus::Malformed, {}},  // no "." line
    };
    for (const Case& c : cases) {
        std::vector<ListedSize> out;
        EXPECT_EQ(parseList(c.reply, out), c.status) << c.reply;
        if (c.status != ListingStatus::Ok) continue;
        ASSERT_EQ(out.size(), c.sizes.size()) << c.reply;
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].number, c.sizes[i].first) << c.reply;
            EXPECT_EQ(out[i].size, c.sizes[i].second) << c.reply;
        }
    }
}

TEST(Listing, IdsAreTheRestOfTheLineAfterTheFirstBlank) {
    std::vector<ListedId> out;
    ASSERT_EQ(parseUidl("+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n3 \r\n2 a b\r\n.\r\n", out),
              ListingStatus::Ok);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].number, 1);
    EXPECT_EQ(out[0].id, "whqtswO00WBw418f9t5JxYwZ");
    EXPECT_EQ(out[1].number, 3);
    EXPECT_EQ(out[1].id, "");
    EXPECT_EQ(out[2].id, "a b");
    ASSERT_EQ(parseUidl("+OK\r\n1 a\r\tb\r\n.\r\n", out), ListingStatus::Ok);
    EXPECT_EQ(out[0].id, "a");
    EXPECT_EQ(parseUidl("+OK\r\n.\r\n", out), ListingStatus::Empty);
    EXPECT_EQ(parseUidl("-ERR no\r\n", out), ListingStatus::Refused);
    EXPECT_EQ(parseUidl("+OK\r\n1 a\r\n1 b\r\n.\r\n", out), ListingStatus::Malformed);
    EXPECT_EQ(parseUidl("+OK\r\n.x\r\n.\r\n", out), ListingStatus::Malformed);
}

}  // namespace
}  // namespace kolvy::pop
