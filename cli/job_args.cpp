#include "cli/job_args.h"

#include <cstdio>

#include "app/recording_model.h"
#include "cli/recording_args.h"
#include "cli/terminal_progress.h"
#include "shell/progress.h"
#include "shell/prompts.h"

namespace cli {

bool TakeJobArgument(const char* command, const std::vector<std::string>& args, std::size_t& i,
                     JobArgs& out) {
    const std::string& arg = args[i];
    if (arg == "--cut" && i + 1 < args.size()) {
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

JobResult RunJob(CRecordingModel& model, IPrompts& prompts, const std::function<JobResult()>& job) {
    TerminalProgress progress(false);
    SetPrompts(&prompts);
    SetProgress(&progress);
    SetActiveRecording(&model);
    const JobResult result = job();
    FunctionMng().m_pDoc = nullptr;  // the model goes with this command
    SetActiveRecording(nullptr);
    SetProgress(nullptr);
    SetPrompts(nullptr);
    return result;
}

}  // namespace cli
