#pragma once
// Makes sure the output folder and its work folders exist.

#include <string>

// When the output path does not exist the user is told (and asked to fix it in
// the settings dialog); then "~log", "~temp" and "~demux" are created below it.
void CheckOutputFolder();

// <output path>/~log, ~temp, ~demux
std::string WorkFolder(const char* name);
