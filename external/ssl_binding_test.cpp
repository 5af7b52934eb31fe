#include "external/ssl_binding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "tests/support/test_env.h"

namespace kolvy::external {
namespace {

int KOLVY_STDCALL fakeShutdown(char*) {
    return 0;
}

// A library that loads (or not) and holds the functions named in `present`.
class FakeSource final : public SymbolSource {
  public:
    FakeSource(bool loads, std::set<std::string> present, int* loadsSeen, int* findsSeen)
        : loads_(loads),
          present_(std::move(present)),
          loadsSeen_(loadsSeen),
          findsSeen_(findsSeen) {}
    bool load() override {
        ++*loadsSeen_;
        return loads_;
    }
    void* find(const char* name) override {
        ++*findsSeen_;
        return present_.count(name) ? reinterpret_cast<void*>(&fakeShutdown) : nullptr;
    }

  private:
    bool loads_;
    std::set<std::string> present_;
    int *loadsSeen_, *findsSeen_;
};

TEST(SslBinding, MissingLibraryIsReportedWithItsName) {
    test::TestEnv t;
    t.env.logOut = true;
    t.clock.setLocal(2025, 3, 1);
    int loads = 0, finds = 0;
    SslBinder b(std::make_unique<FakeSource>(false, std::set<std::string>{}, &loads, &finds));
    EXPECT_EQ(b.bind(t.env), 1);
    EXPECT_EQ(t.reporter.lastText(), "Zorvan2.dllが読み込めません。   ");
    EXPECT_EQ(t.read("_Log\\通信ログ2503.txt"), "Zorvan2.dllが読み込めません。\r\n");
    EXPECT_EQ(finds, 0);
}

// Row 4 misses nothing: the library binds once for good.
TEST(SslBinding, EachMissingFunctionIsNamedAndFoundOnesAreKept) {
    const char* names[] = {"ZV_SSL_HandShake", "ZV_SSL_Shutdown", "ZV_SSL_Read", "ZV_SSL_Write"};
    for (int missing = 0; missing <= 4; ++missing) {
        SCOPED_TRACE(missing);
        test::TestEnv t;
        t.env.unattended = true;
        t.clock.setLocal(2025, 3, 1);
        std::set<std::string> present;
        for (int i = 0; i < 4; ++i) {
            if (i != missing) present.insert(names[i]);
        }
        int loads = 0, finds = 0;
        SslBinder b(std::make_unique<FakeSource>(true, present, &loads, &finds));
        const int failed = missing < 4 ? 1 : 0;
        EXPECT_EQ(b.bind(t.env), failed);
        EXPECT_EQ(b.functions().complete(), !failed);
        EXPECT_TRUE(t.reporter.shown().empty());  // unattended: the log only
        EXPECT_EQ(
            t.read("_Log\\通信ログ2503.txt"),
            failed ? std::string(names[missing]) + "関数が呼び出せません。\r\n" : "<missing>");
        EXPECT_EQ(finds, std::min(missing + 1, 4));  // in order, stopping at the missing one
        // A second attempt loads nothing again and looks up only what is still missing.
        EXPECT_EQ(b.bind(t.env), failed);
        EXPECT_EQ(loads, 1);
        EXPECT_EQ(finds, failed ? missing + 2 : 4);
    }
}

TEST(SslBinding, TheProcessLibraryHasAllFourFunctions) {
    test::TestEnv t;
    EXPECT_EQ(BindSslFunctions(t.env), 0) << t.reporter.lastText();
    EXPECT_TRUE(sslFunctions().complete());
}

}  // namespace
}  // namespace kolvy::external
