#pragma once
// The first fields of an H.264 slice header (7.3.3), up to the picture order
// count: enough to tell where a picture starts, its type, its field parity
// and its display order relative to a random-access point.

#include <cstddef>
#include <cstdint>
#include <map>

#include "codec/h264_parameter_sets.h"
#include "codec/nal_unit.h"

namespace codec::h264 {

struct SliceHeader {
    int nalType = 0;
    int nalRefIdc = 0;
    int firstMb = 0;
    int sliceType = 0;  // 0..9; % 5: 0 P, 1 B, 2 I, 3 SP, 4 SI
    int ppsId = 0;
    int spsId = 0;
    int frameNum = 0;
    bool fieldPic = false;
    bool bottomField = false;
    int idrPicId = 0;
    int pocLsb = 0;  // pic_order_cnt_lsb when the SPS codes POC type 0
    // Where frame_num and pic_order_cnt_lsb lie in the RBSP behind the NAL
    // header (bit positions), and their widths, for a rewrite in place.
    std::uint64_t frameNumBit = 0;
    std::uint64_t pocLsbBit = 0;
    int frameNumBits = 0;
    int pocLsbBits = 0;  // 0 unless POC type 0

    bool IsIntra() const { return sliceType % 5 == 2 || sliceType % 5 == 4; }
    bool IsIdr() const { return nalType == kIdrSlice; }
    // 1 I, 2 P, 3 B, as MPEG-2 numbers its picture types.
    int PictureType() const;
};

// nal: the whole NAL unit, header byte included. The parameter sets are
// looked up by id; Unsupported when the slice refers to one not seen.
ParseResult ParseSliceHeader(const std::uint8_t* nal, std::size_t size,
                             const std::map<int, Pps>& ppsById, const std::map<int, Sps>& spsById,
                             SliceHeader& slice);

}  // namespace codec::h264
