#include "app/mark_placement.h"

#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "demux/cut_area.h"

namespace {
// A stamp no picture has: the first capture is never "the same picture".
constexpr std::int64_t kNoStamp = -1;

SnapshotCapture captureAt(CRecordingModel& model, std::uint64_t sector) {
    return CaptureSnapshot(model, sector, kNoStamp, std::string());
}

std::uint64_t sectorCount(const CRecordingModel& model) {
    return model.Recording().GetLength() / kSectorSize;
}

void fixTimeBase(CRecordingModel& model) {
    if (model.m_firstPTS == 0) captureAt(model, 0);  // the first picture fixes the time base
}
}  // namespace

PlacedMark PlaceMarkAtSector(CRecordingModel& model, std::uint64_t sector) {
    fixTimeBase(model);
    const std::uint64_t sectors = sectorCount(model);
    if (sector > sectors) sector = sectors;
    const SnapshotCapture c = captureAt(model, sector);
    PlacedMark placed;
    placed.sector = c.sector;
    placed.pictureFound = c.pictureFound;
    placed.stamp = c.pictureFound ? c.stamp : 0;
    return placed;
}

PlacedMark PlaceMarkAtTime(CRecordingModel& model, std::int64_t ticks) {
    fixTimeBase(model);
    std::uint64_t lo = 0, hi = sectorCount(model);
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        const SnapshotCapture c = captureAt(model, mid);
        if (!c.pictureFound || c.stamp - model.m_firstPTS >= ticks)
            hi = mid;
        else
            lo = mid + 1;
    }
    const PlacedMark placed = PlaceMarkAtSector(model, lo);
    // Past the last random-access picture no picture can be found: the mark
    // goes to the end of the recording, as the window's End key puts it. Left
    // where the search stopped, with no stamp, it matched no picture and the
    // area it closes was never cut.
    if (!placed.pictureFound && lo < sectorCount(model))
        return PlaceMarkAtSector(model, sectorCount(model));
    return placed;
}
