#include "app/qt/engine_snapshot_source.h"

#include "codec/snapshot_file.h"

SnapshotCapture CEngineSnapshotSource::Capture(CRecordingModel& model, std::uint64_t sector,
                                               std::int64_t currentStamp,
                                               const std::string& m2vPath, bool save) {
    return CaptureSnapshot(model, sector, currentStamp, m2vPath, save);
}

void CEngineSnapshotSource::Decode(const std::string& m2vPath, const std::string& bmpPath) {
    // MPEG-2, H.264 or HEVC: the cut-out tells.
    codec::WriteSnapshotBitmap(m2vPath, bmpPath);
}

ISnapshotSource& EngineSnapshotSource() {
    static CEngineSnapshotSource source;
    return source;
}
