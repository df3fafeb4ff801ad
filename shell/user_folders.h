#pragma once
// The user's own folders as the desktop names them (the XDG user directories).

#include <string>

// The user's video folder: XDG_VIDEOS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs
// (~/.config when unset), else ~/Videos. Empty when no home folder is known.
std::string UserVideoFolder();
