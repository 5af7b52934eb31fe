// Natively the SSL functions are linked in: "loading" always succeeds.
#include <cstring>

#include "external/ssl_binding.h"

namespace kolvy::external {
namespace {

class LinkedSource final : public SymbolSource {
  public:
    bool load() override { return true; }
    void* find(const char* name) override {
        if (!std::strcmp(name, "ZV_SSL_HandShake")) return fn(&ZV_SSL_HandShake);
        if (!std::strcmp(name, "ZV_SSL_Shutdown")) return fn(&ZV_SSL_Shutdown);
        if (!std::strcmp(name, "ZV_SSL_Read")) return fn(&ZV_SSL_Read);
        if (!std::strcmp(name, "ZV_SSL_Write")) return fn(&ZV_SSL_Write);
        return nullptr;
    }

  private:
    template <class F>
    static void* fn(F f) {
        return reinterpret_cast<void*>(f);
    }
};

}  // namespace

std::unique_ptr<SymbolSource> makeSslSymbolSource(const char*) {
    return std::make_unique<LinkedSource>();
}

}  // namespace kolvy::external
