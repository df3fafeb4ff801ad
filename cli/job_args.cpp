#include "cli/job_args.h"

#include <cstdio>

#include "app/recording_model.h"
#include "cli/command.h"
#include "shell/log.h"
#include "cli/recording_args.h"
#include "cli/terminal_progress.h"
#include "shell/progress.h"
#include "shell/prompts.h"

namespace cli {

bool TakeLogOption(const std::vector<std::string>& args, std::size_t& i, LogOptions& out,
                   std::string* error) {
    const std::string& arg = args[i];
    if (arg != "--log" && arg != "--log-level") return false;
    if (i + 1 >= args.size()) {
        *error = arg + " needs a value";
        return true;
    }
    const std::string& value = args[++i];
    if (arg == "--log") {
        out.file = value;
    } else if (value.size() == 1 && value[0] >= '1' && value[0] <= '3') {
        out.level = value[0] - '0';
    } else {
        *error = "--log-level is 1, 2 or 3";
    }
    return true;
}

bool OpenLog(const char* command, const LogOptions& log) {
    if (log.file.empty()) return true;
    if (LogOpenFile(log.level, log.file)) return true;
    std::fprintf(stderr, "ravelo-cli %s: cannot create the log file %s (or it is in use)\n", command,
                 log.file.c_str());
    return false;
}

bool TakeJobArgument(const char* command, const std::vector<std::string>& args, std::size_t& i,
                     JobArgs& out) {
    const std::string& arg = args[i];
    std::string error;
    if (TakeLogOption(args, i, out.log, &error)) {
        if (error.empty()) return true;
        std::fprintf(stderr, "ravelo-cli %s: %s\n", command, error.c_str());
        return false;
    }
    if (arg == "--quiet" || arg == "-q") {
        out.quiet = true;
    } else if (arg == "--cut" && i + 1 < args.size()) {
        out.cuts.push_back(args[++i]);
    } else if (arg.rfind("--cut=", 0) == 0) {
        out.cuts.push_back(arg.substr(6));
    } else if (!arg.empty() && arg[0] == '-') {
        std::fprintf(stderr, "ravelo-cli %s: unknown option or missing value '%s'\n", command,
                     arg.c_str());
        return false;
    } else if (out.recording.empty()) {
        out.recording = arg;
    } else {
        std::fprintf(stderr, "ravelo-cli %s: more than one recording given\n", command);
        return false;
    }
    return true;
}

bool CheckJobArguments(const char* command, const JobArgs& args) {
    if (args.recording.empty()) {
        std::fprintf(stderr, "ravelo-cli %s: no recording given (see ravelo-cli %s --help)\n",
                     command, command);
        return false;
    }
    for (const std::string& range : args.cuts) {
        Mark from, to;
        std::string error;
        if (!ParseMarkRange(range, from, to, &error)) {
            std::fprintf(stderr, "ravelo-cli %s: %s\n", command, error.c_str());
            return false;
        }
    }
    return true;
}

bool UseCutOptions(const char* command, CRecordingModel& model,
                   const std::vector<std::string>& cuts) {
    if (cuts.empty() && model.CutListForeign()) {
        std::fprintf(stderr,
                     "ravelo-cli %s: the cut areas stored for %s belong to another recording of "
                     "the same name (its first picture or its length differs): not used. Give the "
                     "areas with --cut, or remove the stored ones with 'ravelo-cli cuts %s "
                     "--clear'.\n",
                     command, model.Recording().GetFileTitle().c_str(),
                     model.Recording().GetFilePath().c_str());
        return false;
    }
    if (!cuts.empty()) model.m_cutList.clear();
    for (const std::string& range : cuts) {
        CCutArea area;
        std::string error;
        if (!MakeCutArea(model, range, area, &error)) {
            std::fprintf(stderr, "ravelo-cli %s: %s\n", command, error.c_str());
            return false;
        }
        model.m_cutList.push_back(area);
    }
    return true;
}

JobResult RunJob(CRecordingModel& model, IPrompts& prompts, bool quiet,
                 const std::function<JobResult()>& job) {
    TerminalProgress progress(quiet);
    // The tool writes its outputs where it is told: no work folders.
    FunctionMng().m_workFolders = false;
    SetPrompts(&prompts);
    SetProgress(&progress);
    SetActiveRecording(&model);
    const JobResult result = job();
    FunctionMng().m_pDoc = nullptr;  // the model goes with this command
    SetActiveRecording(nullptr);
    SetProgress(nullptr);
    SetPrompts(nullptr);
    FunctionMng().m_workFolders = true;
    return result;
}

int ExitCode(const char* command, JobResult result) {
    switch (result) {
        case JobResult::Done: return kExitOk;
        case JobResult::DoneWithWarnings:
            std::fprintf(stderr, "ravelo-cli %s: warning: finished, but not everything went as asked (see above)\n",
                         command);
            return kExitWarnings;
        case JobResult::Cancelled:
            std::fprintf(stderr, "ravelo-cli %s: cancelled\n", command);
            return kExitError;
        case JobResult::NotStarted:
            std::fprintf(stderr, "ravelo-cli %s: nothing done\n", command);
            return kExitError;
        default: return kExitError;
    }
}

}  // namespace cli
