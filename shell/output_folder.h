#pragma once
// Makes sure the output folder and its work folders exist.

#include <string>

// The default output path (none stored) is created when missing. A stored one
// that does not exist is reported (and the settings dialog opened to fix it);
// then "~log", "~temp" and "~demux" are created below it.
void CheckOutputFolder();

// <output path>/~log, ~temp, ~demux
std::string WorkFolder(const char* name);
