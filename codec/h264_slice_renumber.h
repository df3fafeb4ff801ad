#pragma once
// Renumbers an H.264 slice header where it lies: frame_num and
// pic_order_cnt_lsb are fixed-width fields (ITU-T H.264 7.3.3), so a new
// value takes exactly the bits of the old one and the slice keeps its size.
// A cut that joins pictures of two stretches of a stream uses this to make
// the pictures after the splice continue the numbering of those before it:
// without it a decoder takes them for pictures lost in transmission (a gap
// in frame_num) or shows them out of order (their picture order counts
// compare arbitrarily with the earlier ones).

#include <cstddef>
#include <cstdint>

#include "codec/h264_parameter_sets.h"

namespace codec::h264 {

// What the active sequence parameter set says about the two fields.
struct SliceNumbering {
    int log2MaxFrameNum = 4;
    bool frameMbsOnly = true;
    bool separateColourPlane = false;
    int pocType = 0;
    int log2MaxPocLsb = 4;

    static SliceNumbering Of(const Sps& sps);
    bool operator==(const SliceNumbering&) const = default;
};

enum class RenumberResult {
    Renumbered,  // the fields were changed in place
    Idr,         // an IDR slice: its numbering starts anew, nothing changed
    NotASlice,   // no slice of a coded picture
    Broken,      // the header cannot be read from the bytes given
    Emulation,   // the new bits would need other emulation-prevention bytes: unchanged
};

// nal: the NAL unit from its header byte on, with its emulation-prevention
// bytes; the first few dozen bytes suffice. frame_num becomes
// (frame_num + frameNumDelta) mod MaxFrameNum and, for picture order count
// type 0, pic_order_cnt_lsb becomes (lsb + pocLsbDelta) mod MaxPicOrderCntLsb.
RenumberResult RenumberSlice(std::uint8_t* nal, std::size_t size, const SliceNumbering& numbering,
                             int frameNumDelta, int pocLsbDelta);

}  // namespace codec::h264
