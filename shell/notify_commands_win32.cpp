#include "shell/shell_context_win32.h"

namespace kolvy::shell::win32 {

void registerNotifyCommands(ShellContext& c) {
    (void)c;
}

}  // namespace kolvy::shell::win32
