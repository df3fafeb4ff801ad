#include "codec/h264_slice_header.h"

#include "codec/rbsp_reader.h"

namespace codec::h264 {

namespace {
// The fields wanted lie within the first bytes of a slice; a large slice is
// not copied whole.
constexpr std::size_t kHeaderBytes = 64;
}  // namespace

int SliceHeader::PictureType() const {
    switch (sliceType % 5) {
        case 2:
        case 4:
            return 1;
        case 1:
            return 3;
        default:
            return 2;
    }
}

ParseResult ParseSliceHeader(const std::uint8_t* nal, std::size_t size,
                             const std::map<int, Pps>& ppsById, const std::map<int, Sps>& spsById,
                             SliceHeader& slice) {
    if (size < kHeaderSize + 1) return ParseResult::Broken;
    SliceHeader s;
    s.nalType = NalType(nal[0]);
    s.nalRefIdc = NalRefIdc(nal[0]);
    RbspReader r(nal + kHeaderSize, size - kHeaderSize, kHeaderBytes);
    s.firstMb = static_cast<int>(r.UeMax(139264));
    s.sliceType = static_cast<int>(r.UeMax(9));
    s.ppsId = static_cast<int>(r.UeMax(255));
    if (r.Failed()) return ParseResult::Broken;
    const auto pps = ppsById.find(s.ppsId);
    if (pps == ppsById.end()) return ParseResult::Unsupported;
    const auto found = spsById.find(pps->second.spsId);
    if (found == spsById.end()) return ParseResult::Unsupported;
    const Sps& sps = found->second;
    s.spsId = sps.id;
    if (sps.separateColourPlane) r.Skip(2);  // colour_plane_id
    s.frameNumBit = r.Position();
    s.frameNumBits = sps.log2MaxFrameNum;
    s.frameNum = static_cast<int>(r.Bits(sps.log2MaxFrameNum));
    if (!sps.frameMbsOnly) {
        s.fieldPic = r.Flag();
        if (s.fieldPic) s.bottomField = r.Flag();
    }
    if (s.IsIdr()) s.idrPicId = static_cast<int>(r.UeMax(65535));
    if (sps.pocType == 0) {
        s.pocLsbBit = r.Position();
        s.pocLsbBits = sps.log2MaxPocLsb;
        s.pocLsb = static_cast<int>(r.Bits(sps.log2MaxPocLsb));
    }
    if (r.Failed()) return ParseResult::Broken;
    slice = s;
    return ParseResult::Ok;
}

}  // namespace codec::h264
