// kolvytool's entry: the arguments as the terminal gave them, the texts printed as they come.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/kolvytool/tool.h"

int main(int argc, char** argv) {
    std::vector<std::string_view> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    return kolvy::tool::runTool(
        args, [](std::string_view s) { std::fwrite(s.data(), 1, s.size(), stdout); },
        [](std::string_view s) { std::fwrite(s.data(), 1, s.size(), stderr); });
}
