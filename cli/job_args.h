#pragma once
// What the copying commands share: the recording and --cut arguments, the
// areas given on the command line, and running one job with terminal
// progress over the opened recording.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/function_mng.h"

class CRecordingModel;
class IPrompts;

namespace cli {

// --log FILE [--log-level N]: the log of the window's format, at any level.
struct LogOptions {
    std::string file;
    int level = 1;
};

struct JobArgs {
    std::string recording;
    std::vector<std::string> cuts;  // FROM-TO texts
    bool quiet = false;
    LogOptions log;
};

// Takes args[i] when it is --log FILE or --log-level N (advancing i past its
// value); *error is set when the value is missing or bad.
bool TakeLogOption(const std::vector<std::string>& args, std::size_t& i, LogOptions& out,
                   std::string* error);
// Opens the log file asked for; false with the reason on stderr.
bool OpenLog(const char* command, const LogOptions& log);

// Takes args[i] when it is the recording, a --cut, --quiet or a log option
// (advancing i past its value). False, with the reason on stderr, for an
// unknown option or a second recording.
bool TakeJobArgument(const char* command, const std::vector<std::string>& args, std::size_t& i,
                     JobArgs& out);
// After the loop: a recording was given and every FROM-TO parses.
bool CheckJobArguments(const char* command, const JobArgs& args);

// Areas given with --cut replace the stored ones for this run only. False,
// with the reason on stderr, when one of them cannot be resolved, or when
// none is given and the stored areas belong to another recording of the same
// name.
bool UseCutOptions(const char* command, CRecordingModel& model,
                   const std::vector<std::string>& cuts);

// Runs job over the model as the active recording, with these prompts and a
// terminal progress display; the process-wide hooks are reset afterwards.
JobResult RunJob(CRecordingModel& model, IPrompts& prompts, bool quiet,
                 const std::function<JobResult()>& job);

// The exit code of a finished job; a warning line for a job that finished
// with warnings, the reason for one that was cancelled.
int ExitCode(const char* command, JobResult result);

}  // namespace cli
