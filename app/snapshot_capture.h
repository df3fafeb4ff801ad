#pragma once
// The position and time-stamp rules of a snapshot, shared by the window and
// the command-line tool: from the current sector, the picture search finds
// the next picture at a random-access point (whatever the video codec); the
// current position and stamp move to it. Decoding and showing the picture
// are the caller's business.

#include <array>
#include <cstdint>
#include <string>

#include "codec/video_format.h"

class CRecordingModel;

struct SnapshotCapture {
    bool pictureFound = false;   // a random-access point was found
    bool audioComplete = false;  // every audio stream's frame header was read
    bool found = false;          // both: what the view calls "found"
    bool samePicture = false;    // the picture already shown: no new picture here
    bool limited = false;        // searched from 256 KiB before the end
    std::uint64_t sector = 0;    // the new current sector
    std::int64_t stamp = 0;      // the new current stamp (may exceed 33 bits)
    std::uint64_t picturePosition = 0;
    // MPEG-2: the picture's sequence header; other codecs: one with the
    // picture's size and aspect (see codec::SequenceHeaderBytes).
    std::array<std::uint8_t, 12> sequenceHeader{};
    codec::VideoFormat format;  // codec, size, aspect, frame rate, ... of the picture
    int width = 0;
    int height = 0;
    int aspect = 0;  // aspect_ratio_information: 2 4:3, 3 16:9, 4 2.21:1
};

// The search window before the end of a recording: a position inside the last
// 256 KiB is searched from there.
constexpr std::uint64_t kSnapshotTail = 262144;

// Runs the picture search at sector (the view's current position, with the
// stamp of the picture shown there) and writes the cut-out video to m2vPath
// (nothing when empty). Copies the streams' audio details back into the
// model and sets its first stamp when it has none. With save set, the same
// picture counts as new.
SnapshotCapture CaptureSnapshot(CRecordingModel& model, std::uint64_t sector,
                                std::int64_t currentStamp, const std::string& m2vPath,
                                bool save = false);

// The work file the window's snapshot uses: <output path>/~temp/pic.m2v.
std::string SnapshotPicturePath();

// The latest picture stamp of the video PES headers in the last 4 MiB of the
// recording, wrap-aware against the model's first stamp (so it may exceed 33
// bits). False when there is no video or no stamp there.
bool FindLastPictureStamp(CRecordingModel& model, std::int64_t& stamp);
