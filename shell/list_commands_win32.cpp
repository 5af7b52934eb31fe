#include "shell/shell_context_win32.h"

namespace kolvy::shell::win32 {

void registerListCommands(ShellContext& c) {
    (void)c;
}

}  // namespace kolvy::shell::win32
