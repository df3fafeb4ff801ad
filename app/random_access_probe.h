#pragma once
// Whether an H.264 stream marks its random-access points. Most broadcasts
// send IDR pictures or I pictures with a recovery point SEI; a few encoders
// send neither, and then their plain I pictures are where decoding can
// start. The probe reads the video from the start of the recording until it
// sees a mark (or a bounded stretch without one).

#include <cstdint>

class CRawFile;

// 1 the stream marks its random-access points, 2 it has I pictures but no
// marks, 0 nothing to tell (no I picture in the stretch read). Leaves the
// recording's position where it was.
std::int32_t ProbeRandomAccessMarks(CRawFile& recording, std::uint16_t videoPid);
