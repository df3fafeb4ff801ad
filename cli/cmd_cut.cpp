// ravelo-cli cut: "Remove cuts in recording" without a window. The recording
// itself is rewritten and shortened.

#include <cstdio>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "cli/command.h"
#include "cli/job_args.h"
#include "cli/recording_args.h"
#include "cli/terminal_prompts.h"
#include "engine/function_mng.h"
#include "shell/prompts.h"

namespace cli {
namespace {

struct CutOptions {
    JobArgs job;
    bool yes = false;
};

// The irreversible-operation question: answered by --yes, else asked on the
// terminal (and answered No without one).
class CutPrompts : public TerminalPrompts {
  public:
    CutPrompts(bool yes, bool quiet) : TerminalPrompts(std::nullopt, quiet), m_yes(yes) {}
    PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons buttons,
                     PromptIcon icon) override {
        if (m_yes && buttons == PromptButtons::YesNo) return PromptAnswer::Yes;
        return TerminalPrompts::Ask(caption, text, buttons, icon);
    }

  private:
    bool m_yes;
};

bool parseOptions(const std::vector<std::string>& args, CutOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (!TakeJobArgument("cut", args, i, options.job)) {
            return false;
        }
    }
    return CheckJobArguments("cut", options.job);
}

// What is about to go, before the question: every area with its sectors and
// times from the first picture.
void printAreas(const CRecordingModel& model) {
    const std::string title = model.Recording().GetFileTitle();
    if (model.HasUnfinishedRun())
        std::fprintf(stderr, "An interrupted removal of cut areas from %s is completed.\n",
                     title.c_str());
    std::size_t enabled = 0;
    for (const CCutArea& area : model.m_cutList) enabled += area.IsEnabled ? 1 : 0;
    std::fprintf(stderr, "Cut areas to remove from %s: %zu\n", title.c_str(), enabled);
    PrintCutAreas(stderr, model, model.m_cutList);
}

int runCut(const std::vector<std::string>& args) {
    CutOptions options;
    if (!parseOptions(args, options)) return kExitError;
    if (!OpenLog("cut", options.job.log)) return kExitError;
    CRecordingModel model;
    if (!OpenRecording(model, options.job.recording)) return kExitError;
    if (model.IsReadOnly()) {
        std::fprintf(stderr, "ravelo-cli cut: %s cannot be written\n",
                     options.job.recording.c_str());
        model.CloseWithoutSaving();
        return kExitError;
    }
    if (!UseCutOptions("cut", model, options.job.cuts)) {
        model.CloseWithoutSaving();
        return kExitError;
    }
    printAreas(model);
    CutPrompts prompts(options.yes, options.job.quiet);
    const JobResult result = RunJob(model, prompts, options.job.quiet,
                                    [] { return FunctionMng().FnProcessSource(); });
    // After the cut the stored areas no longer fit the recording: the job
    // stored the emptied list (or, after a failure, the areas a retry
    // removes). Otherwise nothing of this run is stored.
    model.CloseWithoutSaving();
    return ExitCode("cut", result);
}

const CommandRegistrar registrar{
    Command{"cut", "remove the cut areas from the recording itself (\"Remove cuts in recording\")",
            "Usage: ravelo-cli cut RECORDING --yes [--cut FROM-TO]... [--quiet]\n"
            "                    [--log FILE [--log-level N]]\n\n"
            "Removes the cut areas from RECORDING in place, shortening it. This cannot be\n"
            "undone: the areas are listed, and without --yes the question is asked on the\n"
            "terminal and nothing is done unless it is answered yes. Afterwards the stored\n"
            "cut list is empty.\n\n"
            "  --yes, -y       do it without asking\n"
            "  --cut FROM-TO   cut this area instead of the stored ones (repeatable); FROM and\n"
            "                  TO are sector numbers (512 bytes) or times H:MM:SS[.mmm]\n"
            "  --quiet         no progress bar and no message lines; only warnings and errors\n"
            "  --log FILE      write the log of the job to FILE; --log-level 1 (default), 2\n"
            "                  or 3 (all details)\n\n"
            "A journal beside the recording (RECORDING.cutjournal) records the run as it\n"
            "goes: if it stops (an error, a crash, a power cut), running the same command\n"
            "again completes it exactly. Until then the other jobs refuse the recording.\n"
            "Stored cut areas of another recording of the same name are not used: the\n"
            "command then stops unless --cut is given.\n"
            "Exit codes: 0 ok, 1 done with warnings (a cut area holds no GOP start and was\n"
            "kept), 2 error or nothing done.\n",
            runCut}};

}  // namespace
}  // namespace cli
