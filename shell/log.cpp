#include "shell/log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <utility>

#include "shell/preferences.h"
#include "shell/text.h"

namespace {

struct LogState {
    int level = 0;
    int indent = 0;
    std::FILE* file = nullptr;
    std::string path;
    LogListener listener;
};

LogState& state() {
    static LogState s;
    return s;
}

bool admitted(int level) {
    return state().level != 0 && level <= state().level;
}

constexpr int kMaxSameSecondLogs = 9;

constexpr char kSpaces[] = "                                                       ";  // 55
constexpr int kMaxIndent = sizeof(kSpaces) - 1;

// Creates the file for this run alone: a file that another running instance
// holds stays as it is (true is returned only when the file is ours).
bool openFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // Truncated only once it is ours: two instances started in one second
    // must not write into, or empty, one file.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    state().file = ::fdopen(fd, "wb");
    if (!state().file) {
        ::close(fd);
        return false;
    }
    state().path = path;
    return true;
}

}  // namespace

void LogOpen() {
    LogClose();
    state().level = static_cast<int>(CPreferences::GetLogLevelAtStartup());
    if (state().level == 0) return;
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "Debug%H-%M-%S", &local);
    const std::string base = JoinPath(JoinPath(CPreferences::GetOutputPath(), "~log"), stamp);
    // Another instance started in the same second holds that name: this run
    // writes a file of its own next to it. A failure is swallowed: later
    // writes are simply dropped.
    if (openFile(base + ".log")) return;
    for (int n = 2; n <= kMaxSameSecondLogs; ++n)
        if (openFile(base + "(" + std::to_string(n) + ").log")) return;
}

bool LogOpenFile(int level, const std::string& path) {
    LogClose();
    state().level = level;
    return level == 0 || openFile(path);
}

void LogOpenForTesting(int level, const std::string& path) {
    LogOpenFile(level, path);
}

void LogClose() {
    if (state().file) std::fclose(state().file);
    state().file = nullptr;
    state().path.clear();
    state().level = 0;
    state().indent = 0;
}

void LogWrite(const std::string& text, int level) {
    if (!admitted(level) || !state().file) return;
    int n = std::min(2 * state().indent, kMaxIndent);
    if (n > 0) std::fwrite(kSpaces, 1, static_cast<std::size_t>(n), state().file);
    std::fwrite(text.data(), 1, text.size(), state().file);
    std::fwrite("\r\n", 1, 2, state().file);
    std::fflush(state().file);
}

void LogEnter(const char* name, int level) {
    if (!admitted(level)) return;
    LogWrite(std::string("\\ ") + name, level);
    state().indent += 2;
}

void LogLeave(int level) {
    if (!admitted(level)) return;
    state().indent -= 2;
    LogWrite("/ ", level);
}

void LogPrint(const std::string& text, int level) {
    if (state().listener) state().listener(text);
    LogWrite(text, level);
}

void LogPrintf(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);  // cuts, never overflows
    va_end(args);
    LogPrint(buffer, 1);
}

void SetLogListener(LogListener listener) {
    state().listener = std::move(listener);
}

int LogLevel() {
    return state().level;
}
std::string LogFilePath() {
    return state().path;
}
