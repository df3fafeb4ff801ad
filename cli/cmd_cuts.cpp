// ravelo-cli cuts: lists, adds to or clears the cut list stored for a
// recording, in the same settings store the window uses, and brings cut lists
// of other programs in and out.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/cut_interchange.h"
#include "app/cut_list.h"
#include "app/recording_model.h"
#include "cli/command.h"
#include "cli/recording_args.h"
#include "platform/file.h"

namespace cli {
namespace {

void printCutList(const CRecordingModel& model) {
    if (model.CutListForeign()) {
        std::printf("Stored for another recording of the same name (not used here):\n");
        PrintCutAreas(stdout, model, model.ForeignCutList());
    }
    if (model.m_cutList.empty()) {
        std::printf("No cut areas.\n");
        return;
    }
    PrintCutAreas(stdout, model, model.m_cutList);
}

// A cut-list file given with --import or --export, and its format.
struct CutFileArg {
    std::string path;
    std::optional<CutFileFormat> format;
};

bool takeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& option,
               std::string& value) {
    const std::string& arg = args[i];
    if (arg.rfind(option + "=", 0) == 0) {
        value = arg.substr(option.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        std::fprintf(stderr, "ravelo-cli cuts: %s needs a value\n", option.c_str());
        return false;
    }
    return true;
}

bool isOption(const std::string& arg, const std::string& option) {
    return arg == option || arg.rfind(option + "=", 0) == 0;
}

// --format, else the file's name, must say what the file holds.
bool resolveFormat(CutFileArg& file, const std::optional<CutFileFormat>& given) {
    if (file.path.empty()) return true;
    file.format = given ? given : CutFileFormatFromPath(file.path);
    if (file.format) return true;
    std::fprintf(stderr,
                 "ravelo-cli cuts: cannot tell the format of '%s' by its name; give "
                 "--format edl|vdr|comskip\n",
                 file.path.c_str());
    return false;
}

void printNotes(const std::string& path, const std::vector<std::string>& notes) {
    for (const std::string& note : notes)
        std::fprintf(stderr, "ravelo-cli cuts: %s, %s\n", path.c_str(), note.c_str());
}

bool importCuts(CRecordingModel& model, const CutFileArg& file, const std::string& text,
                bool& warnings) {
    const CutImport imported = ImportCutList(model, text, *file.format);
    printNotes(file.path, imported.notes);
    warnings = warnings || !imported.notes.empty();
    if (imported.Failed()) {
        std::fprintf(stderr, "ravelo-cli cuts: %s, %s\n", file.path.c_str(),
                     imported.error.c_str());
        return false;
    }
    model.m_cutList.insert(model.m_cutList.end(), imported.areas.begin(), imported.areas.end());
    return true;
}

bool exportCuts(CRecordingModel& model, const CutFileArg& file) {
    std::string error;
    if (!ExportCutFile(model, *file.format, file.path, &error)) {
        std::fprintf(stderr, "ravelo-cli cuts: %s\n", error.c_str());
        return false;
    }
    std::printf("Written %s (%s).\n", file.path.c_str(), CutFileFormatName(*file.format).c_str());
    return true;
}

int runCuts(const std::vector<std::string>& args) {
    std::string path;
    std::vector<std::string> ranges;
    bool clear = false, overwrite = false;
    CutFileArg importFile, exportFile;
    std::optional<CutFileFormat> format;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--clear") {
            clear = true;
        } else if (arg == "--overwrite") {
            overwrite = true;
        } else if (isOption(arg, "--import")) {
            if (!takeValue(args, i, "--import", importFile.path)) return kExitError;
        } else if (isOption(arg, "--export")) {
            if (!takeValue(args, i, "--export", exportFile.path)) return kExitError;
        } else if (isOption(arg, "--format")) {
            std::string name;
            if (!takeValue(args, i, "--format", name)) return kExitError;
            format = CutFileFormatFromName(name);
            if (!format) {
                std::fprintf(stderr, "ravelo-cli cuts: unknown format '%s' (edl, vdr, comskip)\n",
                             name.c_str());
                return kExitError;
            }
        } else if (arg == "--add" || arg.rfind("--add=", 0) == 0) {
            if (arg == "--add" && i + 1 >= args.size()) {
                std::fprintf(stderr, "ravelo-cli cuts: --add needs FROM-TO\n");
                return kExitError;
            }
            ranges.push_back(arg == "--add" ? args[++i] : arg.substr(6));
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "ravelo-cli cuts: unknown option '%s'\n", arg.c_str());
            return kExitError;
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "ravelo-cli cuts: more than one recording given\n");
            return kExitError;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "ravelo-cli cuts: no recording given (see ravelo-cli cuts --help)\n");
        return kExitError;
    }
    // Marks are checked before the recording is opened, so a typing error
    // costs no scan.
    for (const std::string& range : ranges) {
        Mark from, to;
        std::string error;
        if (!ParseMarkRange(range, from, to, &error)) {
            std::fprintf(stderr, "ravelo-cli cuts: %s\n", error.c_str());
            return kExitError;
        }
    }
    if (!resolveFormat(importFile, format) || !resolveFormat(exportFile, format)) return kExitError;
    // The cut-list files are checked before the recording is opened, too.
    std::string importText, error;
    if (!importFile.path.empty() && !ReadCutFile(importFile.path, importText, &error)) {
        std::fprintf(stderr, "ravelo-cli cuts: %s\n", error.c_str());
        return kExitError;
    }
    if (!exportFile.path.empty() && !overwrite && platform::FileExists(exportFile.path)) {
        std::fprintf(stderr, "ravelo-cli cuts: %s exists (--overwrite replaces it)\n",
                     exportFile.path.c_str());
        return kExitError;
    }
    CRecordingModel model;
    if (!OpenRecording(model, path)) return kExitError;
    if (clear) {
        cutlist::RemoveAll(model.m_cutList);
        model.DiscardForeignCutList();
    }
    bool warnings = false;
    if (!importFile.path.empty() && !importCuts(model, importFile, importText, warnings)) {
        model.CloseWithoutSaving();  // nothing of this run is stored
        return kExitError;
    }
    for (const std::string& range : ranges) {
        CCutArea area;
        std::string error;
        if (!MakeCutArea(model, range, area, &error)) {
            std::fprintf(stderr, "ravelo-cli cuts: %s\n", error.c_str());
            model.CloseWithoutSaving();  // nothing of this run is stored
            return kExitError;
        }
        model.m_cutList.push_back(area);
    }
    if (!exportFile.path.empty() && !exportCuts(model, exportFile)) {
        model.CloseWithoutSaving();
        return kExitError;
    }
    printCutList(model);
    model.Close();  // stores the list
    return warnings ? kExitWarnings : kExitOk;
}

const CommandRegistrar registrar{
    Command{"cuts", "list, add to, clear, import or export the cut areas of a recording",
            "Usage: ravelo-cli cuts RECORDING [--clear] [--import FILE] [--add FROM-TO]...\n"
            "                          [--export FILE [--overwrite]] [--format edl|vdr|comskip]\n\n"
            "Lists the cut areas stored for RECORDING (by its file title, in the same\n"
            "settings store the window uses), after clearing them with --clear, adding\n"
            "the areas of a cut list with --import and one area per --add, in this order;\n"
            "--export then writes the enabled areas as a cut list. FROM and TO are each a\n"
            "sector number (512 bytes) or a time H:MM:SS[.mmm] from the first picture.\n"
            "Each mark is set the way the window sets it: on the next picture at that\n"
            "position (a time is found by bisection over the recording); imported times\n"
            "are placed the same way.\n\n"
            "  --add FROM-TO   add a cut area, e.g. --add 0:01:00-0:02:30.5 or --add 2048-8192\n"
            "  --clear         remove every stored cut area first\n"
            "  --import FILE   add the areas of a cut list (--clear --import replaces them)\n"
            "  --export FILE   write the cut areas to FILE; --overwrite replaces a file\n"
            "  --format F      the cut list's format, else told by the name (*.edl; marks or\n"
            "                  *.vdr; *.txt for comskip):\n"
            "                  edl      MPlayer/Kodi: START END ACTION in seconds, action 0 cut,\n"
            "                           3 commercial break (1 mute and 2 scene are passed over)\n"
            "                  vdr      VDR marks: H:MM:SS.FF lines; VDR keeps what lies\n"
            "                           between mark 1 and 2, 3 and 4, ...: the rest is cut\n"
            "                  comskip  comskip's frame list: FILE PROCESSING COMPLETE header,\n"
            "                           then START END frame numbers (from 1) per commercial\n\n"
            "Exit codes: 0 ok, 1 lines of the imported list were passed over (said on\n"
            "stderr), 2 error: a malformed list (its line is named), a file that cannot\n"
            "be read or written; nothing is stored then.\n",
            runCuts}};

}  // namespace
}  // namespace cli
