#pragma once
// Where the view's pictures come from: the picture search cuts the next
// picture out of the recording into a small MPEG-2 video file, the decoder
// turns that into a bitmap. Tests install a scripted source.

#include <array>
#include <cstdint>
#include <string>

class CRecordingModel;

struct SnapshotResult {
    bool found = false;                 // a picture and every audio header were read
    std::uint64_t picturePosition = 0;  // byte position just after the picture's packet
    std::int64_t pictureStamp = 0;      // its PTS (90 kHz)
    std::array<std::uint8_t, 12> sequenceHeader{};  // 00 00 01 B3 and the 8 bytes after it
};

class ISnapshotSource {
public:
    virtual ~ISnapshotSource() = default;
    // Searches from bytePosition and writes the cut-out video to m2vPath; the
    // model's stream list gets the audio details found on the way.
    virtual SnapshotResult Extract(CRecordingModel& model, std::uint64_t bytePosition,
                                   const std::string& m2vPath) = 0;
    // Decodes the picture of m2vPath into a 24-bit bitmap file.
    virtual void Decode(const std::string& m2vPath, const std::string& bmpPath) = 0;
};

// The engine's picture search and decoder.
ISnapshotSource& EngineSnapshotSource();
