// ravelo-cli demux / mpeg / vob: the window's "Demux to MPEG", "Create MPEG
// File" and "Create VOB File" jobs on one recording.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "cli/command.h"
#include "cli/job_args.h"
#include "cli/recording_args.h"
#include "cli/terminal_progress.h"
#include "cli/terminal_prompts.h"
#include "engine/function_mng.h"
#include "platform/file.h"
#include "platform/key_state.h"
#include "shell/progress.h"
#include "shell/prompts.h"

namespace cli {
namespace {

// --ignore-cuts stands for the Ctrl key held down at the start of the job.
class FlagKeys : public platform::IKeyState {
public:
    explicit FlagKeys(bool ctrl) : m_ctrl(ctrl) {}
    bool IsCtrlDown() const override { return m_ctrl; }
    bool IsShiftDown() const override { return false; }

private:
    bool m_ctrl;
};

struct Options {
    std::string path;
    std::string folder;
    std::optional<std::uint16_t> audio;
    std::vector<std::string> cuts;
    bool ignoreCuts = false;
    std::optional<bool> overwrite;
    bool quiet = false;
    LogOptions log;
};

bool ParsePid(const std::string& text, std::uint16_t& pid) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || value == 0 || value > 0x1FFF) return false;
    pid = static_cast<std::uint16_t>(value);
    return true;
}

// Returns an exit code on error, nullopt when the options are fine.
std::optional<int> ParseOptions(const std::string& name, const std::vector<std::string>& args,
                                Options& o) {
    auto fail = [&name](const std::string& message) {
        std::fprintf(stderr, "ravelo-cli %s: %s\n", name.c_str(), message.c_str());
        return kExitError;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        std::string logError;
        if (TakeLogOption(args, i, o.log, &logError)) {
            if (!logError.empty()) return fail(logError);
        } else if (a == "-o") {
            if (!value(o.folder)) return fail("-o needs a folder");
        } else if (a == "--audio") {
            std::uint16_t pid = 0;
            if (!value(v) || !ParsePid(v, pid)) return fail("--audio needs a PID (1..8191, or 0x...)");
            o.audio = pid;
        } else if (a == "--cut") {
            if (!value(v)) return fail("--cut needs FROM-TO");
            o.cuts.push_back(v);
        } else if (a == "--ignore-cuts") {
            o.ignoreCuts = true;
        } else if (a == "--overwrite" || a == "--no-overwrite") {
            if (o.overwrite && *o.overwrite != (a == "--overwrite"))
                return fail("--overwrite and --no-overwrite exclude each other");
            o.overwrite = a == "--overwrite";
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (!a.empty() && a[0] == '-') {
            return fail("unknown option '" + a + "'");
        } else if (o.path.empty()) {
            o.path = a;
        } else {
            return fail("more than one recording given");
        }
    }
    if (o.path.empty()) return fail("no recording given (see ravelo-cli " + name + " --help)");
    if (!o.folder.empty() && !platform::IsDirectory(o.folder))
        return fail("output folder '" + o.folder + "' does not exist");
    for (const std::string& range : o.cuts) {
        Mark from, to;
        std::string error;
        if (!ParseMarkRange(range, from, to, &error)) return fail(error);
    }
    return std::nullopt;
}

// The MPEG job keeps one audio stream: the one asked for, else the first
// MPEG audio stream, as the window's combo box preselects it. A PID that is
// no audio stream of the recording gives 0 with the reason on stderr.
std::uint16_t ChooseAudio(const CRecordingModel& model, const Options& o) {
    if (o.audio) {
        std::string pids;
        for (const sPMTEntry& e : model.m_streams) {
            if (!IsAudio(e.streamType)) continue;
            if (e.pid == *o.audio) return *o.audio;
            pids += (pids.empty() ? "" : ", ") + std::to_string(e.pid);
        }
        std::fprintf(stderr, "ravelo-cli: --audio %u is no audio stream of %s (audio PIDs: %s)\n",
                     *o.audio, model.Recording().GetFileTitle().c_str(),
                     pids.empty() ? "none" : pids.c_str());
        return 0;
    }
    for (const sPMTEntry& e : model.m_streams)
        if (IsMpegAudio(e.streamType)) return static_cast<std::uint16_t>(e.pid);
    for (const sPMTEntry& e : model.m_streams)
        if (IsAudio(e.streamType) && IsEngineStream(e.streamType))
            return static_cast<std::uint16_t>(e.pid);
    return 0;
}

int Run(const std::string& name, OutputKind kind, const std::vector<std::string>& args) {
    Options o;
    if (auto code = ParseOptions(name, args, o)) return *code;
    if (!OpenLog(name.c_str(), o.log)) return kExitError;
    CRecordingModel model;
    if (!OpenRecording(model, o.path)) return kExitError;
    // Areas given here replace the stored ones for this job only; stored
    // areas of another recording of the same name are never used.
    if (!(o.ignoreCuts && o.cuts.empty()) && !UseCutOptions(name.c_str(), model, o.cuts)) {
        model.CloseWithoutSaving();
        return kExitError;
    }
    // The VOB keeps every stream unless one audio stream is asked for, as the
    // window does when its combo box offers a track.
    const bool oneAudio = kind == OutputMpeg || (kind == OutputVob && o.audio);
    const std::uint16_t audio = oneAudio ? ChooseAudio(model, o) : 0;
    if (oneAudio && o.audio && audio == 0) {
        model.CloseWithoutSaving();
        return kExitError;
    }
    TerminalProgress progress(o.quiet);
    TerminalPrompts prompts(o.overwrite, o.quiet);
    FlagKeys keys(o.ignoreCuts);
    SetProgress(&progress);
    SetPrompts(&prompts);
    platform::SetKeyState(&keys);
    SetActiveRecording(&model);
    CFunctionMng& driver = FunctionMng();
    driver.m_outputFolder = o.folder;
    // With -o the work folders below the output path are of no use.
    driver.m_workFolders = o.folder.empty();
    const JobResult result = driver.FnCreateOutput(audio, kind);
    driver.m_outputFolder.clear();
    driver.m_workFolders = true;
    driver.m_pDoc = nullptr;
    SetActiveRecording(nullptr);
    platform::SetKeyState(nullptr);
    SetPrompts(nullptr);
    SetProgress(nullptr);
    model.CloseWithoutSaving();  // the job leaves the stored cut list as it was

    if (result == JobResult::NotStarted) {
        std::fprintf(stderr,
                     "ravelo-cli %s: not started: nothing was replaced (see --overwrite)\n",
                     name.c_str());
        return kExitError;
    }
    return ExitCode(name.c_str(), result);
}

const char* const kOptions =
    "  -o DIR            write the outputs into DIR (default: the output folder of the\n"
    "                    settings + /~demux, or the recording's folder with\n"
    "                    \"UseSourceAsOutputPath\")\n"
    "  --cut FROM-TO     leave out this area instead of the stored cut areas; FROM and\n"
    "                    TO are sectors (512 bytes) or times H:MM:SS[.mmm] from the\n"
    "                    first picture; may be given more than once\n"
    "  --ignore-cuts     process the whole recording (the window's Ctrl key)\n"
    "  --overwrite       replace existing output files without asking\n"
    "  --no-overwrite    never replace them (the job is not started)\n"
    "  --quiet           no progress bar and no message lines; only warnings and errors\n"
    "  --log FILE        write the log of the job to FILE; --log-level 1 (default), 2\n"
    "                    or 3 (all details)\n\n"
    "Every file the job would write is checked before any is written. Without\n"
    "--overwrite/--no-overwrite one question on the terminal names all that exist;\n"
    "with --no-overwrite, or without a terminal, nothing is replaced and the job\n"
    "does not start. Stored cut areas of another recording of the same name are\n"
    "not used: the job then stops unless --cut or --ignore-cuts is given.\n"
    "Recordings of 192-byte packets are refused (copy and cut take them).\n"
    "Exit codes: 0 done, 1 done with warnings (data errors in the recording such as\n"
    "sequence errors, dropped frames or padding, or an output that stayed empty),\n"
    "2 failed, cancelled or not started.\n";

const CommandRegistrar demuxRegistrar{Command{
    "demux", "demultiplex a recording into elementary streams (.m2v, .h264, .mp2, .aac, ...)",
    std::string("Usage: ravelo-cli demux RECORDING [-o DIR] [--cut FROM-TO]... [--ignore-cuts]\n"
                "                    [--overwrite|--no-overwrite] [--quiet]\n\n"
                "Writes one file per stream, with the audio kept in sync with the video\n"
                "(silence for missing sound, GOPs dropped for long gaps), leaving out\n"
                "the cut areas. H.264/HEVC video is written from its first random-access\n"
                "point and resumes at one after each cut area; AAC in LATM is written as\n"
                "ADTS; subtitles and teletext are not written.\n\n") +
        kOptions,
    [](const std::vector<std::string>& args) { return Run("demux", OutputEs, args); }}};

const CommandRegistrar mpegRegistrar{Command{
    "mpeg", "remultiplex a recording into one MPEG program stream (.mpg)",
    std::string("Usage: ravelo-cli mpeg RECORDING [-o DIR] [--audio PID] [--cut FROM-TO]...\n"
                "                   [--ignore-cuts] [--overwrite|--no-overwrite] [--quiet]\n\n"
                "Writes the video and one audio stream as an MPEG-2 program stream.\n\n"
                "  --audio PID       the audio stream to keep (default: the first MPEG audio)\n") +
        kOptions,
    [](const std::vector<std::string>& args) { return Run("mpeg", OutputMpeg, args); }}};

const CommandRegistrar vobRegistrar{Command{
    "vob", "remultiplex a recording into one VOB file (.vob)",
    std::string("Usage: ravelo-cli vob RECORDING [-o DIR] [--audio PID] [--cut FROM-TO]...\n"
                "                  [--ignore-cuts] [--overwrite|--no-overwrite] [--quiet]\n\n"
                "Writes the video and every audio stream (or only the one --audio names)\n"
                "into one VOB file for DVD authoring.\n\n"
                "  --audio PID       the one audio stream to keep (default: all of them)\n") +
        kOptions,
    [](const std::vector<std::string>& args) { return Run("vob", OutputVob, args); }}};

}  // namespace
}  // namespace cli
