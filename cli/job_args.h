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

struct JobArgs {
    std::string recording;
    std::vector<std::string> cuts;  // FROM-TO texts
};

// Takes args[i] when it is the recording or a --cut (advancing i past its
// value). False, with the reason on stderr, for an unknown option or a second
// recording.
bool TakeJobArgument(const char* command, const std::vector<std::string>& args, std::size_t& i,
                     JobArgs& out);
// After the loop: a recording was given and every FROM-TO parses.
bool CheckJobArguments(const char* command, const JobArgs& args);

// Areas given with --cut replace the stored ones for this run only. False,
// with the reason on stderr, when one of them cannot be resolved.
bool UseCutOptions(const char* command, CRecordingModel& model,
                   const std::vector<std::string>& cuts);

// Runs job over the model as the active recording, with these prompts and a
// terminal progress display; the process-wide hooks are reset afterwards.
JobResult RunJob(CRecordingModel& model, IPrompts& prompts, const std::function<JobResult()>& job);

}  // namespace cli
