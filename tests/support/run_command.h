#pragma once
// Runs a shell command for a test (ffmpeg, ffprobe, ravelo-cli) and gives
// what it wrote to its standard output (and standard error, with 2>&1).

#include <string>

std::string RunCommand(const std::string& command);
