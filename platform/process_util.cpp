#include "platform/process.h"

namespace kolvy::platform {

std::string quotedCommandLine(std::string_view program, std::string_view argument) {
    std::string line;
    const bool quoted = !program.empty() && program.front() == '"';
    const bool blanks = program.find(' ') != std::string_view::npos;
    if (blanks && !quoted) {
        line += '"';
        line += program;
        line += '"';
    } else {
        line += program;
    }
    line += " \"";
    line += argument;
    line += '"';
    return line;
}

}  // namespace kolvy::platform
