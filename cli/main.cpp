// ravelo-cli: Ravelo's jobs without a window.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command.h"
#include "platform/allocator.h"
#include "platform/settings_store.h"
#include "ravelo_version.h"
#include "shell/qt/qsettings_store.h"

namespace cli {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> commands;
    return commands;
}

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: ravelo-cli COMMAND [ARGS...]\n"
                 "       ravelo-cli COMMAND --help\n"
                 "       ravelo-cli --help | --version\n\nCommands:\n");
    for (const Command& command : registry())
        std::fprintf(out, "  %-10s %s\n", command.name.c_str(), command.summary.c_str());
}
}  // namespace

const std::vector<Command>& Commands() { return registry(); }
CommandRegistrar::CommandRegistrar(Command command) { registry().push_back(std::move(command)); }

}  // namespace cli

int main(int argc, char** argv) {
    platform::KeepFreedBlocks();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        cli::printUsage(stderr);
        return cli::kExitError;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        cli::printUsage(stdout);
        return cli::kExitOk;
    }
    if (args[0] == "--version") {
        std::printf("ravelo-cli %s\n", RAVELO_VERSION);
        return cli::kExitOk;
    }
    for (const cli::Command& command : cli::Commands()) {
        if (command.name != args[0]) continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        for (const std::string& arg : rest) {
            if (arg == "--help" || arg == "-h") {
                std::printf("%s", command.usage.c_str());
                return cli::kExitOk;
            }
        }
        // The same store the window uses, unless RAVELO_SETTINGS names an INI
        // file (tests, scripts).
        const char* ini = std::getenv("RAVELO_SETTINGS");
        QSettingsStore store = ini ? QSettingsStore(QString::fromLocal8Bit(ini)) : QSettingsStore();
        platform::SetSettingsStore(&store);
        int code = command.run(rest);
        store.Sync();
        platform::SetSettingsStore(nullptr);
        return code;
    }
    std::fprintf(stderr, "ravelo-cli: unknown command '%s' (see ravelo-cli --help)\n", args[0].c_str());
    return cli::kExitError;
}
