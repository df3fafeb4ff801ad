#pragma once
// Where the view's pictures come from: the picture search cuts the next
// picture out of the recording into a small MPEG-2 video file (and moves the
// position and stamp to it), the decoder turns that file into a bitmap.
// Tests install a scripted source.

#include <cstdint>
#include <string>

#include "app/snapshot_capture.h"

class ISnapshotSource {
  public:
    virtual ~ISnapshotSource() = default;
    virtual SnapshotCapture Capture(CRecordingModel& model, std::uint64_t sector,
                                    std::int64_t currentStamp, const std::string& m2vPath,
                                    bool save) = 0;
    // Decodes the picture of m2vPath into a 24-bit bitmap file.
    virtual void Decode(const std::string& m2vPath, const std::string& bmpPath) = 0;
};

// The engine's picture search and the built-in decoder.
ISnapshotSource& EngineSnapshotSource();
