// Which menu entries and tool-bar buttons a send or receive run greys: what would edit the
// mail or the settings the run is using. "送受信の中断(&C)" never is.
#pragma once

#include "core/run_state.h"

namespace kolvy::shell {

// A command, or for a submenu entry its first command: greyed while a run of `run` is active.
bool greyedDuringRun(int command, RunKind run);

}  // namespace kolvy::shell
