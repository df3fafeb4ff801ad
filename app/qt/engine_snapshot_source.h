#pragma once
// The engine's picture search (the capture rules of the recording model) and
// the built-in MPEG-2 still decoder, as the view's picture source.

#include "app/qt/snapshot_source.h"

class CEngineSnapshotSource : public ISnapshotSource {
  public:
    SnapshotCapture Capture(CRecordingModel& model, std::uint64_t sector, std::int64_t currentStamp,
                            const std::string& m2vPath, bool save) override;
    void Decode(const std::string& m2vPath, const std::string& bmpPath) override;
};
