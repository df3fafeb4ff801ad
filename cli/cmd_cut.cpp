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
    explicit CutPrompts(bool yes) : m_yes(yes) {}
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

int runCut(const std::vector<std::string>& args) {
    CutOptions options;
    if (!parseOptions(args, options)) return kExitError;
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
    CutPrompts prompts(options.yes);
    const JobResult result = RunJob(model, prompts, [] { return FunctionMng().FnProcessSource(); });
    // After the cut the stored areas no longer fit the recording: the job
    // stored the emptied list. Otherwise nothing of this run is stored.
    model.CloseWithoutSaving();
    if (result == JobResult::Done) return kExitOk;
    if (result == JobResult::NotStarted) std::fprintf(stderr, "ravelo-cli cut: nothing done\n");
    return kExitError;
}

const CommandRegistrar registrar{
    Command{"cut", "remove the cut areas from the recording itself (\"Remove cuts in recording\")",
            "Usage: ravelo-cli cut RECORDING --yes [--cut FROM-TO]...\n\n"
            "Removes the cut areas from RECORDING in place, shortening it. This cannot be\n"
            "undone: without --yes the question is asked on the terminal and nothing is\n"
            "done unless it is answered yes. Afterwards the stored cut list is empty.\n\n"
            "  --yes, -y       do it without asking\n"
            "  --cut FROM-TO   cut this area instead of the stored ones (repeatable); FROM and\n"
            "                  TO are sector numbers (512 bytes) or times H:MM:SS[.mmm]\n\n"
            "Exit codes: 0 ok, 2 error (the recording may then be damaged: see the message).\n",
            runCut}};

}  // namespace
}  // namespace cli
