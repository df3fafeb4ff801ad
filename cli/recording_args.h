#pragma once
// Shared by the subcommands that take a recording and cut marks: opening the
// recording the way the window does (the settings store is installed by main),
// and FROM-TO marks given as sector numbers or times H:MM:SS[.mmm] counted
// from the recording's first picture, each resolved the way the window sets a
// mark (the picture search at that position).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "demux/cut_area.h"

class CRecordingModel;

namespace cli {

struct Mark {
    bool isTime = false;
    std::uint64_t sector = 0;  // when !isTime
    std::int64_t ms = 0;       // when isTime: milliseconds from the first picture
};

// "12345" or "1:02:03" / "1:02:03.5" / "0:00:07.250".
bool ParseMark(const std::string& text, Mark& mark, std::string* error);
// "FROM-TO".
bool ParseMarkRange(const std::string& text, Mark& from, Mark& to, std::string* error);

struct ResolvedMark {
    std::uint64_t sector = 0;
    std::int64_t stamp = 0;     // of the picture found (may exceed 33 bits after a wrap)
    bool pictureFound = false;  // false: the sector stays as given, stamp 0
};

// The picture search at the mark: a sector gives the next picture's sector
// (its position / 512 - 1) and stamp; a time is found by bisection over the
// recording's sectors for the first picture at or after that time (beyond the
// last one, the picture the window shows at the end: positions in the last
// 256 KiB are searched from 256 KiB before the end). Sets the model's first
// stamp when it has none.
ResolvedMark ResolveMark(CRecordingModel& model, const Mark& mark);

// Parses and resolves "FROM-TO" into a cut area set by the editing rules
// (start mark, then end mark). False with a message that says what is wrong:
// the text is bad, FROM lies after TO, a mark lies beyond the end, or both
// land on the same picture.
bool MakeCutArea(CRecordingModel& model, const std::string& range, CCutArea& area,
                 std::string* error);

// Opens the recording; on failure prints "ravelo-cli: <message>" to stderr.
bool OpenRecording(CRecordingModel& model, const std::string& path);

// One line per area: "Cut-area N: sectors S-E, H:MM:SS.mmm-H:MM:SS.mmm" (the
// times from the first picture; left out where the marks carry no stamps).
void PrintCutAreas(std::FILE* out, const CRecordingModel& model, const CCutList& areas);

// Milliseconds as H:MM:SS.mmm.
std::string FormatMs(std::int64_t ms);

// An area's times from the first picture. An end mark that found no picture
// (past the last random-access picture) closes the area at the end of the
// recording and carries no stamp: its time is "end".
std::string AreaStartText(const CRecordingModel& model, const CCutArea& area);
std::string AreaEndText(const CRecordingModel& model, const CCutArea& area);
bool AreaRunsToTheEnd(const CCutArea& area);

}  // namespace cli

namespace cli {
// A JSON string literal, quoted and escaped.
std::string JsonString(const std::string& text);
}  // namespace cli
