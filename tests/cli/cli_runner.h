#pragma once
// Runs the ravelo-cli binary with a settings file of the test's own.

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

struct CliResult {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline std::string ReadText(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// command is run by the shell with stdout and stderr caught in files.
inline CliResult RunShell(const std::string& command, const TempDir& dir) {
    const std::string out = dir.File("stdout.txt"), err = dir.File("stderr.txt");
    const int status =
        std::system((command + " >" + ShellQuote(out) + " 2>" + ShellQuote(err)).c_str());
    CliResult result;
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadText(out);
    result.err = ReadText(err);
    return result;
}

inline CliResult RunCli(const std::string& args, const TempDir& dir) {
    const std::string cli = std::string(RAVELO_BINARY_DIR) + "/cli/ravelo-cli";
    return RunShell("RAVELO_SETTINGS=" + ShellQuote(dir.File("settings.ini")) + " " +
                        ShellQuote(cli) + " " + args,
                    dir);
}
