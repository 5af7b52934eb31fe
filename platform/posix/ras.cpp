#include "platform/ras.h"

namespace kolvy::platform {
namespace {

// No remote-access service here: no entry can be read, so nothing is ever dialled.
class NoRas final : public Ras {
  public:
    Params dialParams(std::string_view) override { return Params::Unavailable; }
    uint32_t dial(std::string_view, uintptr_t& connection) override {
        connection = 0;
        return 1;
    }
    void hangUp(uintptr_t) override {}
};

}  // namespace

std::unique_ptr<Ras> makeRas() {
    return std::make_unique<NoRas>();
}

}  // namespace kolvy::platform
