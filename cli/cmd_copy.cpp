// ravelo-cli copy: "Copy edited recording" without a window.

#include <cstdio>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "cli/command.h"
#include "cli/recording_args.h"
#include "cli/terminal_progress.h"
#include "cli/terminal_prompts.h"
#include "engine/function_mng.h"
#include "platform/file.h"
#include "shell/progress.h"
#include "shell/prompts.h"

namespace cli {
namespace {

struct CopyOptions {
    std::string recording;
    std::string output;
    std::vector<std::string> cuts;
    bool overwrite = false;
};

// The save dialog's part: the file given with -o, else the proposed name;
// an existing file is replaced only with --overwrite.
class CopyPrompts : public TerminalPrompts {
  public:
    explicit CopyPrompts(const CopyOptions& options) : m_options(options) {}
    std::optional<std::string> SaveFileName(const std::string& proposed,
                                            const std::string&) override {
        const std::string path = m_options.output.empty() ? proposed : m_options.output;
        if (platform::FileExists(path) && !m_options.overwrite) {
            std::fprintf(stderr, "ravelo-cli copy: %s exists (use --overwrite to replace it)\n",
                         path.c_str());
            return std::nullopt;
        }
        return path;
    }

  private:
    const CopyOptions& m_options;
};

bool parseOptions(const std::vector<std::string>& args, CopyOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--overwrite") {
            options.overwrite = true;
        } else if ((arg == "-o" || arg == "--output") && hasValue) {
            options.output = args[++i];
        } else if (arg == "--cut" && hasValue) {
            options.cuts.push_back(args[++i]);
        } else if (arg.rfind("--cut=", 0) == 0) {
            options.cuts.push_back(arg.substr(6));
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "ravelo-cli copy: unknown option or missing value '%s'\n",
                         arg.c_str());
            return false;
        } else if (options.recording.empty()) {
            options.recording = arg;
        } else {
            std::fprintf(stderr, "ravelo-cli copy: more than one recording given\n");
            return false;
        }
    }
    if (options.recording.empty()) {
        std::fprintf(stderr, "ravelo-cli copy: no recording given (see ravelo-cli copy --help)\n");
        return false;
    }
    for (const std::string& range : options.cuts) {
        Mark from, to;
        std::string error;
        if (!ParseMarkRange(range, from, to, &error)) {
            std::fprintf(stderr, "ravelo-cli copy: %s\n", error.c_str());
            return false;
        }
    }
    return true;
}

int runCopy(const std::vector<std::string>& args) {
    CopyOptions options;
    if (!parseOptions(args, options)) return kExitError;
    CRecordingModel model;
    if (!OpenRecording(model, options.recording)) return kExitError;
    // Areas given here are for this run only: the stored list stays.
    if (!options.cuts.empty()) model.m_cutList.clear();
    for (const std::string& range : options.cuts) {
        CCutArea area;
        std::string error;
        if (!MakeCutArea(model, range, area, &error)) {
            std::fprintf(stderr, "ravelo-cli copy: %s\n", error.c_str());
            model.CloseWithoutSaving();
            return kExitError;
        }
        model.m_cutList.push_back(area);
    }
    CopyPrompts prompts(options);
    TerminalProgress progress(false);
    SetPrompts(&prompts);
    SetProgress(&progress);
    SetActiveRecording(&model);
    const JobResult result = FunctionMng().FnProcessCopy();
    FunctionMng().m_pDoc = nullptr;  // the model goes with this command
    SetActiveRecording(nullptr);
    SetProgress(nullptr);
    SetPrompts(nullptr);
    model.CloseWithoutSaving();
    if (result == JobResult::Done) return kExitOk;
    if (result == JobResult::Cancelled) std::fprintf(stderr, "ravelo-cli copy: cancelled\n");
    return kExitError;
}

const CommandRegistrar registrar{
    Command{"copy", "copy a recording without its cut areas (\"Copy edited recording\")",
            "Usage: ravelo-cli copy RECORDING [-o FILE] [--cut FROM-TO]... [--overwrite]\n\n"
            "Writes a copy of RECORDING without its cut areas, in the recording's own\n"
            "format, segment layout and byte order. Each cut is made at a GOP start of the\n"
            "video (Humax .vid: on 32 KiB blocks).\n\n"
            "  -o FILE         the copy; default \"<name> (copy).<ext>\" beside the recording\n"
            "  --cut FROM-TO   cut this area instead of the stored ones (repeatable); FROM and\n"
            "                  TO are sector numbers (512 bytes) or times H:MM:SS[.mmm]\n"
            "  --overwrite     replace an existing FILE\n\n"
            "Exit codes: 0 ok, 2 error.\n",
            runCopy}};

}  // namespace
}  // namespace cli
