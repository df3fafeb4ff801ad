#pragma once
// Where an H.264 recording resumes after a cut, and what its pictures are
// numbered there. The pictures after the splice continue the frame_num and
// picture order count of those before it (see codec/h264_slice_renumber.h)
// until the next IDR picture starts the numbering anew. The numbers are the
// source's; the block mover adds the shift an earlier splice left in force.

#include <cstdint>

#include "codec/h264_slice_renumber.h"

struct VideoSplice {
    std::uint64_t at = 0;  // the first packet of the random-access picture
    bool idr = false;      // it is an IDR picture: nothing to continue
    codec::h264::SliceNumbering numbering;
    // The last reference picture kept before the splice.
    std::int32_t previousFrameNum = 0;
    std::int32_t previousPocLsb = 0;
    // Picture order count of the random-access picture after the splice
    // minus that of the previous reference picture: past every picture kept
    // before the splice.
    std::int32_t pocGap = 2;
    // The random-access picture.
    std::int32_t frameNum = 0;
    std::int32_t pocLsb = 0;

    bool operator==(const VideoSplice&) const = default;
};

// The numbering the mover is applying to the slices it passes on.
struct RenumberState {
    bool active = false;
    std::int32_t frameNumDelta = 0;
    std::int32_t pocLsbDelta = 0;
    codec::h264::SliceNumbering numbering;
    // How much of a start code (00, 00 00, 00 00 01) ends the video moved last.
    std::uint8_t prefix = 0;

    bool operator==(const RenumberState&) const = default;

    // Entering a splice: the shift that makes its pictures continue the
    // numbering in force before it.
    void Enter(const VideoSplice& splice);
};
