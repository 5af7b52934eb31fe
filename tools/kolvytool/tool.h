// kolvytool, the console companion: migration and repair on a program folder through the same
// code paths as the program. Commands sit in one table; each is a function over the tool's
// context and its arguments (options may stand anywhere among them).
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/accounts.h"
#include "platform/env.h"
#include "platform/platform.h"
#include "store/tabs.h"

namespace kolvy::tool {

// What every command gets: the program folder opened as on a start (default tabs on the first),
// its accounts, and where to print (texts already in the terminal's encoding).
struct Tool {
    Env& env;
    store::TabRegistry& tabs;
    config::AccountList& accounts;
    std::function<void(std::string_view)> out;  // standard output
    std::function<void(std::string_view)> err;  // standard error
};

// The arguments after the command name, split into positional ones and options ("--name").
struct Arguments {
    std::vector<std::string_view> positional;
    std::vector<std::string_view> options;
    bool has(std::string_view option) const;
};
Arguments splitArguments(std::span<const std::string_view> args);

using CommandFn = int (*)(Tool&, std::span<const std::string_view> args);
struct Command {
    std::string_view name;
    std::string_view usage;  // the line of the help text, after "kolvytool "
    CommandFn run;
    // Changes the folder: runs only while it holds the folder's writer lock.
    bool writes = true;
};
// The command table. A new command is one more entry here.
std::span<const Command> commands();

// Texts from the command line (UTF-8 on Linux, the ANSI code page on Windows) to Shift_JIS and
// back for printing.
std::string fromTerminal(std::string_view text);
std::string toTerminal(std::string_view sjis);

// A whole run: argv without the program name. Opens the program folder (the first argument after
// the command), dispatches, returns the exit code.
int runTool(std::span<const std::string_view> argv,
            const std::function<void(std::string_view)>& out,
            const std::function<void(std::string_view)>& err);
// The same over a given file system (tests put faults and power cuts in it).
int runToolOn(platform::FileSystem& fs, std::span<const std::string_view> argv,
              const std::function<void(std::string_view)>& out,
              const std::function<void(std::string_view)>& err);

// The commands.
int importCommand(Tool& tool, std::span<const std::string_view> args);
int listCommand(Tool& tool, std::span<const std::string_view> args);
int checkCommand(Tool& tool, std::span<const std::string_view> args);
int extractCommand(Tool& tool, std::span<const std::string_view> args);
int sortToolCommand(Tool& tool, std::span<const std::string_view> args);
int receiveCommand(Tool& tool, std::span<const std::string_view> args);
int sendCommand(Tool& tool, std::span<const std::string_view> args);
int draftCommand(Tool& tool, std::span<const std::string_view> args);
int composeCommand(Tool& tool, std::span<const std::string_view> args);

// Messages of an mbox file: the "From " separator lines dropped, ">From " unquoted.
std::vector<std::string> splitMbox(std::string_view mbox);

}  // namespace kolvy::tool
