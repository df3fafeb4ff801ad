// ravelo-cli cuts: lists, adds to or clears the cut list stored for a
// recording, in the same settings store the window uses.

#include <cstdio>
#include <string>
#include <vector>

#include "app/cut_list.h"
#include "app/recording_model.h"
#include "cli/command.h"
#include "cli/recording_args.h"

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

int runCuts(const std::vector<std::string>& args) {
    std::string path;
    std::vector<std::string> ranges;
    bool clear = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--clear") {
            clear = true;
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
    CRecordingModel model;
    if (!OpenRecording(model, path)) return kExitError;
    if (clear) {
        cutlist::RemoveAll(model.m_cutList);
        model.DiscardForeignCutList();
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
    printCutList(model);
    model.Close();  // stores the list
    return kExitOk;
}

const CommandRegistrar registrar{
    Command{"cuts", "list, add to or clear the cut areas stored for a recording",
            "Usage: ravelo-cli cuts RECORDING [--add FROM-TO]... [--clear]\n\n"
            "Lists the cut areas stored for RECORDING (by its file title, in the same\n"
            "settings store the window uses), after clearing them with --clear and\n"
            "adding one area per --add. FROM and TO are each a sector number (512 bytes)\n"
            "or a time H:MM:SS[.mmm] from the first picture. Each mark is set the way the\n"
            "window sets it: on the next picture at that position (a time is found by\n"
            "bisection over the recording).\n\n"
            "  --add FROM-TO   add a cut area, e.g. --add 0:01:00-0:02:30.5 or --add 2048-8192\n"
            "  --clear         remove every stored cut area first\n\n"
            "Exit codes: 0 ok, 2 error (nothing is stored then).\n",
            runCuts}};

}  // namespace
}  // namespace cli
