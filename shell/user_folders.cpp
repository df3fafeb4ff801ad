#include "shell/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {
std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return {};
}

// XDG_VIDEOS_DIR="$HOME/Videos" or an absolute path, as xdg-user-dirs
// writes it; anything else is not taken.
std::string ConfiguredVideoFolder(const std::string& home) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string folder =
        config != nullptr && *config == '/' ? std::string(config) : home + "/.config";
    std::ifstream dirs(folder + "/user-dirs.dirs");
    const std::string key = "XDG_VIDEOS_DIR=\"";
    std::string line;
    while (std::getline(dirs, line)) {
        if (line.rfind(key, 0) != 0) continue;
        const std::size_t end = line.find('"', key.size());
        if (end == std::string::npos) return {};
        std::string value = line.substr(key.size(), end - key.size());
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        return !value.empty() && value[0] == '/' ? value : std::string();
    }
    return {};
}
}  // namespace

std::string UserVideoFolder() {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    const std::string configured = ConfiguredVideoFolder(home);
    return configured.empty() ? home + "/Videos" : configured;
}
