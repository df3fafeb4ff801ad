// ravelo-cli copy: "Copy edited recording" without a window.

#include <cstdio>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "demux/raw_file.h"
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
// an existing file, or segment files of an earlier copy under that name, are
// replaced only with --overwrite.
class CopyPrompts : public TerminalPrompts {
  public:
    explicit CopyPrompts(const CopyOptions& options)
        : TerminalPrompts(std::nullopt, options.job.quiet), m_options(options) {}
    std::optional<std::string> SaveFileName(const std::string& proposed,
                                            const std::string&) override {
        const std::string path = m_options.output.empty() ? proposed : m_options.output;
        const std::size_t segments = CRawFile::ExistingLaterSegments(path).size();
        if ((platform::FileExists(path) || segments > 0) && !m_options.overwrite) {
            std::string what = path;
            if (segments > 0) what += " and " + std::to_string(segments) + " segment files";
            std::fprintf(stderr, "ravelo-cli copy: %s exist%s (use --overwrite to replace %s)\n",
                         what.c_str(), segments > 0 ? "" : "s", segments > 0 ? "them" : "it");
            return std::nullopt;
        }
        return path;
    }
    // The question about an earlier copy's segment files: --overwrite said yes.
    PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons buttons,
                     PromptIcon icon) override {
        if (buttons == PromptButtons::YesNo && m_options.overwrite) return PromptAnswer::Yes;
        return TerminalPrompts::Ask(caption, text, buttons, icon);
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
    if (!OpenLog("copy", options.job.log)) return kExitError;
    CRecordingModel model;
    if (!OpenRecording(model, options.job.recording)) return kExitError;
    // Areas given here are for this run only: the stored list stays.
    if (!UseCutOptions("copy", model, options.job.cuts)) {
        model.CloseWithoutSaving();
        return kExitError;
    }
    CopyPrompts prompts(options);
    const JobResult result = RunJob(model, prompts, options.job.quiet,
                                    [] { return FunctionMng().FnProcessCopy(); });
    model.CloseWithoutSaving();
    return ExitCode("copy", result);
}

const CommandRegistrar registrar{
    Command{"copy", "copy a recording without its cut areas (\"Copy edited recording\")",
            "Usage: ravelo-cli copy RECORDING [-o FILE] [--cut FROM-TO]... [--overwrite]\n"
            "                     [--quiet] [--log FILE [--log-level N]]\n\n"
            "Writes a copy of RECORDING without its cut areas, in the recording's own\n"
            "format, segment layout and byte order. Each cut is made at a GOP start of the\n"
            "video: for H.264 and HEVC a random-access picture (IDR, recovery point, IRAP),\n"
            "the pictures that refer to pictures before it left out, sound and subtitles\n"
            "kept or dropped whole by their time stamps (Humax .vid: on 32 KiB blocks).\n\n"
            "  -o FILE         the copy; default \"<name> (copy).<ext>\" beside the recording\n"
            "  --cut FROM-TO   cut this area instead of the stored ones (repeatable); FROM and\n"
            "                  TO are sector numbers (512 bytes) or times H:MM:SS[.mmm]\n"
            "  --overwrite     replace an existing FILE and the segment files of an earlier\n"
            "                  copy under its name (FILE.001, ...)\n"
            "  --quiet         no progress bar and no message lines; only warnings and errors\n"
            "  --log FILE      write the log of the job to FILE; --log-level 1 (default), 2\n"
            "                  or 3 (all details)\n\n"
            "Stored cut areas of another recording of the same name are not used: the\n"
            "command then stops unless --cut is given.\n"
            "Exit codes: 0 ok, 1 done with warnings (a cut area holds no GOP start and was\n"
            "kept), 2 error.\n",
            runCopy}};

}  // namespace
}  // namespace cli
