#pragma once
// HD recordings for the cut tests, made with ffmpeg once per machine, and
// ffprobe's view of their sound.

#include <cstdint>
#include <string>
#include <vector>

#include "media_oracle.h"

namespace hdcut {

// 1920x1080 interlaced H.264, 6 s: open GOPs of 24 pictures whose I pictures
// carry a recovery point SEI (the first is an IDR picture), three B pictures
// in a pyramid; AAC and E-AC-3 5.1.
std::string H264Recording();
// 720x576 interlaced H.264, 6 s, the same GOPs, whose sequence and picture
// parameter sets come only with its IDR picture (the first); AAC.
std::string H264SetsOnceRecording();
// 1280x720 HEVC, 6 s: a CRA picture every 24 pictures with RASL pictures
// behind it; AAC and E-AC-3 5.1.
std::string HevcRecording();

// Two cut areas of a recording: from inside its second GOP to inside its
// fourth, and from inside its fifth to inside its sixth. Empty when it has
// fewer GOPs.
std::vector<TestArea> TwoAreas(const std::vector<VideoPacket>& packets);

struct AudioPacket {
    std::int64_t pts = 0;
    std::string hash;
    bool operator<(const AudioPacket& other) const {
        return pts != other.pts ? pts < other.pts : hash < other.hash;
    }
};
// The packets (frames) of one audio stream ("a:0"), with an MD5 of their
// data, in presentation order.
std::vector<AudioPacket> AudioPackets(const std::string& path, const std::string& stream);

// How many NAL units of an HEVC or H.264 type the recording's video packets
// hold.
int NalUnitsOfType(const std::string& path, int type);

}  // namespace hdcut
