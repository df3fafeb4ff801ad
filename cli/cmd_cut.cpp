// ravelo-cli cut: "Remove cuts in recording" without a window. The recording
// itself is rewritten and shortened.

#include <cstdio>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "cli/command.h"
#include "cli/recording_args.h"
#include "cli/terminal_progress.h"
#include "cli/terminal_prompts.h"
#include "engine/function_mng.h"
#include "shell/progress.h"
#include "shell/prompts.h"

namespace cli {
namespace {

struct CutOptions {
    std::string recording;
    std::vector<std::string> cuts;
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
        } else if (arg == "--cut" && i + 1 < args.size()) {
            options.cuts.push_back(args[++i]);
        } else if (arg.rfind("--cut=", 0) == 0) {
            options.cuts.push_back(arg.substr(6));
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "ravelo-cli cut: unknown option or missing value '%s'\n",
                         arg.c_str());
            return false;
        } else if (options.recording.empty()) {
            options.recording = arg;
        } else {
            std::fprintf(stderr, "ravelo-cli cut: more than one recording given\n");
            return false;
        }
    }
    if (options.recording.empty()) {
        std::fprintf(stderr, "ravelo-cli cut: no recording given (see ravelo-cli cut --help)\n");
        return false;
    }
    for (const std::string& range : options.cuts) {
        Mark from, to;
        std::string error;
        if (!ParseMarkRange(range, from, to, &error)) {
            std::fprintf(stderr, "ravelo-cli cut: %s\n", error.c_str());
            return false;
        }
    }
    return true;
}

int runCut(const std::vector<std::string>& args) {
    CutOptions options;
    if (!parseOptions(args, options)) return kExitError;
    CRecordingModel model;
    if (!OpenRecording(model, options.recording)) return kExitError;
    if (model.IsReadOnly()) {
        std::fprintf(stderr, "ravelo-cli cut: %s cannot be written\n", options.recording.c_str());
        model.CloseWithoutSaving();
        return kExitError;
    }
    if (!options.cuts.empty()) model.m_cutList.clear();
    for (const std::string& range : options.cuts) {
        CCutArea area;
        std::string error;
        if (!MakeCutArea(model, range, area, &error)) {
            std::fprintf(stderr, "ravelo-cli cut: %s\n", error.c_str());
            model.CloseWithoutSaving();
            return kExitError;
        }
        model.m_cutList.push_back(area);
    }
    CutPrompts prompts(options.yes);
    TerminalProgress progress(false);
    SetPrompts(&prompts);
    SetProgress(&progress);
    SetActiveRecording(&model);
    const JobResult result = FunctionMng().FnProcessSource();
    FunctionMng().m_pDoc = nullptr;  // the model goes with this command
    SetActiveRecording(nullptr);
    SetProgress(nullptr);
    SetPrompts(nullptr);
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
