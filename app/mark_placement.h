#pragma once
// Where a cut mark lands: on a picture, the way the window sets a mark. From a
// sector the picture search finds the next picture; a time from the first
// picture is found by bisection over the recording's sectors. The command
// line's marks and imported cut lists both go through here.

#include <cstdint>

class CRecordingModel;

struct PlacedMark {
    std::uint64_t sector = 0;
    std::int64_t stamp = 0;     // of the picture found (may exceed 33 bits after a wrap)
    bool pictureFound = false;  // false: the sector stays as given, stamp 0
};

// The next picture from sector (its position / 512 - 1) and its stamp. A
// sector beyond the end is taken as the end. Sets the model's first stamp
// when it has none.
PlacedMark PlaceMarkAtSector(CRecordingModel& model, std::uint64_t sector);

// The first picture at or after ticks (90 kHz) from the first picture; beyond
// the last one, the picture the window shows at the end (positions in the
// last 256 KiB are searched from 256 KiB before the end, and the mark stays
// at the end of the recording).
PlacedMark PlaceMarkAtTime(CRecordingModel& model, std::int64_t ticks);
