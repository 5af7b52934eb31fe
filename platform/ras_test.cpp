// The system's dial-up service on a machine without phone-book entries (natively there is no
// service; Wine's is a stub without entries): nothing is ever dialled or hung up.
#include "platform/ras.h"

#include <gtest/gtest.h>

namespace kolvy::platform {
namespace {

TEST(Ras, WithoutEntriesNothingIsDialled) {
    auto ras = makeRas();
    ASSERT_NE(ras, nullptr);
    for (const char* entry : {"", "プロバイダ", "an entry that nobody made"}) {
        EXPECT_EQ(ras->dialParams(entry), Ras::Params::Unavailable) << entry;
        uintptr_t connection = 7;
        EXPECT_NE(ras->dial(entry, connection), 0u) << entry;
        EXPECT_EQ(connection, 0u) << entry;
    }
    ras->hangUp(0);  // no connection: nothing to end, nothing to crash
}

}  // namespace
}  // namespace kolvy::platform
