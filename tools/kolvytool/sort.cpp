// "sort": the command rules over a tab, exactly as the program's sort command runs them.
#include <string>
#include <vector>

#include "mime/stored_reader.h"
#include "rules/sort.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {

int sortToolCommand(Tool& tool, std::span<const std::string_view> args) {
    const Arguments a = splitArguments(args);
    if (a.positional.empty() || a.positional.size() > 2 || !a.options.empty()) {
        tool.err("usage: kolvytool sort <program-folder> [<tab-name>]\n");
        return 2;
    }
    std::vector<std::string> sjisArgs;
    sjisArgs.push_back(tool.env.programFolder);
    if (a.positional.size() == 2) sjisArgs.push_back(fromTerminal(a.positional[1]));
    const std::vector<std::string_view> views(sjisArgs.begin(), sjisArgs.end());
    mime::StoredReader reader;
    std::string output;
    const int code = rules::sortCommand(tool.env, views, reader, output);
    (code == 0 ? tool.out : tool.err)(toTerminal(output));
    return code;
}

}  // namespace kolvy::tool
