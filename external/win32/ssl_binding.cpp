// On Win32 the SSL functions live in "Zorvan2.dll", loaded by name (program folder first).
#include <windows.h>

#include "external/ssl_binding.h"

namespace kolvy::external {
namespace {

class DllSource final : public SymbolSource {
  public:
    explicit DllSource(const char* name) : name_(name) {}
    // Kept loaded for the life of the process: the bound functions point into it.
    bool load() override {
        if (!module_) module_ = LoadLibraryA(name_);
        return module_ != nullptr;
    }
    void* find(const char* name) override {
        if (!module_) return nullptr;
        return reinterpret_cast<void*>(GetProcAddress(module_, name));
    }

  private:
    const char* name_;
    HMODULE module_ = nullptr;
};

}  // namespace

std::unique_ptr<SymbolSource> makeSslSymbolSource(const char* libraryName) {
    return std::make_unique<DllSource>(libraryName);
}

}  // namespace kolvy::external
