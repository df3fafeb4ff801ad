#pragma once
// The program's trace file: one per run, in <output path>/~log, named by the
// start time. Lines are indented by scope, end in CR LF and are flushed one by
// one, so the file is complete even if the program dies.

#include <functional>
#include <string>

// Levels: 0 off, 1 function calls, 2 important details, 3 all details.
// Reads "LogLevel" (default 0) and creates the file when it is not 0, for this
// process alone (an exclusive lock; a second instance started in the same
// second writes "Debug<time>(2).log").
void LogOpen();
void LogClose();  // closes the file and resets the log state (program end, tests)

void LogWrite(const std::string& text, int level);
void LogEnter(const char* name, int level);
void LogLeave(int level);
// Also shows the text in the progress window's message list (via the listener).
void LogPrint(const std::string& text, int level);
// printf into a 512-byte buffer (longer texts are cut), then LogPrint at level 1.
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// LogPrint hands every text to the listener; the progress window installs one.
using LogListener = std::function<void(const std::string&)>;
void SetLogListener(LogListener listener);

int LogLevel();
std::string LogFilePath();  // empty when no file is open

// Opens the log at a given level and file, bypassing the settings (the
// command-line tool's --log). False when the file cannot be created or
// another running instance holds it.
bool LogOpenFile(int level, const std::string& path);
void LogOpenForTesting(int level, const std::string& path);

// Closes a log scope on every way out of a block.
class LogScope {
  public:
    LogScope(const char* name, int level) : m_level(level) { LogEnter(name, level); }
    ~LogScope() { LogLeave(m_level); }
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;

  private:
    int m_level;
};
