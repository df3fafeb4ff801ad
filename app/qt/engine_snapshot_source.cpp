#include "app/qt/engine_snapshot_source.h"

#include "mpegsnap/snapshot_decoder.h"

SnapshotCapture CEngineSnapshotSource::Capture(CRecordingModel& model, std::uint64_t sector,
                                               std::int64_t currentStamp,
                                               const std::string& m2vPath, bool save) {
    return CaptureSnapshot(model, sector, currentStamp, m2vPath, save);
}

void CEngineSnapshotSource::Decode(const std::string& m2vPath, const std::string& bmpPath) {
    // The decoder takes a printf-style name; a "%" the user typed is literal.
    std::string pattern;
    for (char c : bmpPath) {
        if (c == '%') pattern += '%';
        pattern += c;
    }
    mpegsnap::DecodeSnapshot(m2vPath, pattern);
}

ISnapshotSource& EngineSnapshotSource() {
    static CEngineSnapshotSource source;
    return source;
}
