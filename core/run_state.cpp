#include "core/run_state.h"

namespace kolvy {

RunState& runState() {
    static RunState state;
    return state;
}

}  // namespace kolvy
