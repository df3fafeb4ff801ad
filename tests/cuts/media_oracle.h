#pragma once
// ffmpeg/ffprobe as oracles for the cut tests: test recordings, the video
// packets of a recording with their positions, decoded-picture hashes.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/run_command.h"

// MPEG-2 video with open GOPs of 12 and two B pictures, an MP2 track, in a
// transport stream.
void MakeTestRecording(const std::string& path, double seconds, const std::string& size);

struct VideoPacket {
    std::int64_t pts = 0;
    std::uint64_t pos = 0;  // the transport packet that starts the picture's PES
    bool key = false;
};
// The video packets of one stream ("v:0" or "i:0x200") in file order.
std::vector<VideoPacket> VideoPackets(const std::string& path, const std::string& stream);

// Decoded pictures by presentation time (in frames, rounded), with their MD5.
std::map<std::int64_t, std::string> PictureHashes(const std::string& path,
                                                  const std::string& stream);

// What ffmpeg says while decoding a stream; empty when it decodes cleanly.
std::string DecodeErrors(const std::string& path, const std::string& stream);
// Its lines, without the repetition notes.
int DecodeErrorCount(const std::string& path, const std::string& stream);

struct TestArea {
    std::uint64_t start = 0;  // bytes
    std::uint64_t end = 0;
};
// The pictures a soft cut keeps: everything but the GOPs from the first GOP
// start at or after each area's start up to the first one at or after its
// end, and the leading B pictures of the GOP it resumes with. An area near
// the data start goes from the data start.
std::vector<std::int64_t> KeptPictures(const std::vector<VideoPacket>& packets,
                                       std::vector<TestArea> areas, std::uint64_t dataStart,
                                       std::uint64_t length);

std::vector<unsigned char> SwapPairs(std::vector<unsigned char> bytes);

// The bytes of a recording's segment chain (name, name.001, ...) in order.
std::vector<unsigned char> JoinedSegments(const std::string& base);

// How a test writes a recording: one file, a segment chain, byte-pair swapped.
enum class Layout { Plain, Segmented, Swapped };
std::string LayoutName(Layout layout);
