// ravelo-cli copy: "Copy edited recording" without a window.

#include <cstdio>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "cli/command.h"
#include "cli/job_args.h"
#include "cli/recording_args.h"
#include "cli/terminal_prompts.h"
#include "engine/function_mng.h"
#include "platform/file.h"
#include "shell/prompts.h"

namespace cli {
namespace {

struct CopyOptions {
    JobArgs job;
    std::string output;
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
        } else if (!TakeJobArgument("copy", args, i, options.job)) {
            return false;
        }
    }
    return CheckJobArguments("copy", options.job);
}

int runCopy(const std::vector<std::string>& args) {
    CopyOptions options;
    if (!parseOptions(args, options)) return kExitError;
    CRecordingModel model;
    if (!OpenRecording(model, options.job.recording)) return kExitError;
    // Areas given here are for this run only: the stored list stays.
    if (!UseCutOptions("copy", model, options.job.cuts)) {
        model.CloseWithoutSaving();
        return kExitError;
    }
    CopyPrompts prompts(options);
    const JobResult result = RunJob(model, prompts, [] { return FunctionMng().FnProcessCopy(); });
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
