#pragma once
// Cut lists of other programs, in and out: MPlayer/Kodi EDL, VDR marks and
// comskip's frame list. Imported stretches are placed on pictures the way
// the command line's marks are (PlaceMarkAtTime) and set by the editing
// rules, like marks set in the window; export writes what the enabled areas
// mean in time from the recording's first picture.

#include <optional>
#include <string>
#include <vector>

#include "demux/cut_area.h"

class CRecordingModel;

enum class CutFileFormat { Edl, VdrMarks, Comskip };

// "edl", "vdr", "comskip".
std::optional<CutFileFormat> CutFileFormatFromName(const std::string& name);
// By the file's name: *.edl, "marks" or *.vdr, *.txt (comskip).
std::optional<CutFileFormat> CutFileFormatFromPath(const std::string& path);
std::string CutFileFormatName(CutFileFormat format);

struct CutImport {
    CCutList areas;                  // in the file's order, each enabled
    std::vector<std::string> notes;  // "line N: ..." for what was left out
    std::string error;               // "line N: ..." for a malformed file
    bool Failed() const { return !error.empty(); }
};

// The recording's time base becomes its own first picture (as when the
// window shows a recording), then each stretch is placed on pictures.
CutImport ImportCutList(CRecordingModel& model, const std::string& text, CutFileFormat format);
// False with *error when the format counts frames and the recording's frame
// rate is unknown.
bool ExportCutList(CRecordingModel& model, CutFileFormat format, std::string& text,
                   std::string* error);

// ExportCutList written to path by WriteCutFile; a path that is the recording
// or one of its segments is refused.
bool ExportCutFile(CRecordingModel& model, CutFileFormat format, const std::string& path,
                   std::string* error);

// Reads a cut list of at most 1 MiB.
bool ReadCutFile(const std::string& path, std::string& text, std::string* error);
// Writes through a temporary file beside path, renamed into place only when
// every byte is on disk, so a failed write leaves any old file as it was.
bool WriteCutFile(const std::string& path, const std::string& text, std::string* error);
