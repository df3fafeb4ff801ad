#pragma once
// ravelo-cli's subcommands register themselves: each cmd_<name>.cpp defines
// one Command and a static CommandRegistrar for it.

#include <functional>
#include <string>
#include <vector>

namespace cli {

// Exit codes, as tools of this kind use them.
constexpr int kExitOk = 0;
constexpr int kExitWarnings = 1;  // finished, but reported data errors
constexpr int kExitError = 2;

struct Command {
    std::string name;
    std::string summary;  // one line for the command list
    std::string usage;    // the full help text of the command
    std::function<int(const std::vector<std::string>& args)> run;
};

const std::vector<Command>& Commands();

struct CommandRegistrar {
    explicit CommandRegistrar(Command command);
};

}  // namespace cli
