#include "codec/h264_splice_rewriter.h"

#include "codec/annexb_nals.h"
#include "codec/h264_slice_header.h"
#include "codec/nal_unit.h"

namespace codec {

namespace {

using namespace h264;

int modulo(std::int64_t value, int modulus) {
    const std::int64_t r = value % modulus;
    return static_cast<int>(r < 0 ? r + modulus : r);
}

}  // namespace

void H264SpliceRewriter::learnNal(const std::uint8_t* nal, std::size_t size) {
    if (size < kHeaderSize + 1) return;
    const int type = NalType(nal[0]);
    if (type == kSps) {
        Sps sps;
        if (ParseSps(nal + kHeaderSize, size - kHeaderSize, sps) == ParseResult::Ok) m_sps[sps.id] = sps;
    } else if (type == kPps) {
        Pps pps;
        if (ParsePps(nal + kHeaderSize, size - kHeaderSize, pps) == ParseResult::Ok) m_pps[pps.id] = pps;
    }
}

void H264SpliceRewriter::Learn(const std::uint8_t* data, std::size_t size) {
    for (const NalSpan& nal : SplitNals(data, size))
        learnNal(data + nal.begin, nal.end - nal.begin);
}

H264SpliceRewriter::Picture H264SpliceRewriter::Inspect(const std::vector<std::uint8_t>& au) {
    Picture picture;
    for (const NalSpan& nal : SplitNals(au.data(), au.size())) {
        const std::uint8_t* p = au.data() + nal.begin;
        const std::size_t n = nal.end - nal.begin;
        if (n < kHeaderSize || !IsSlice(NalType(p[0]))) {
            learnNal(p, n);
            continue;
        }
        SliceHeader slice;
        if (ParseSliceHeader(p, n, m_pps, m_sps, slice) != ParseResult::Ok) return picture;
        const Sps& sps = m_sps.at(slice.spsId);
        picture.parsed = true;
        picture.idr = slice.IsIdr();
        picture.reference = slice.nalRefIdc != 0;
        picture.field = slice.fieldPic;
        picture.bottomField = slice.bottomField;
        picture.frameNum = slice.frameNum;
        picture.pocType = sps.pocType;
        picture.pocLsb = slice.pocLsb;
        picture.maxPocLsb = 1 << sps.log2MaxPocLsb;
        picture.maxFrameNum = 1 << sps.log2MaxFrameNum;
        return picture;
    }
    return picture;
}

// The picture order count a decoder derives for lsb after the last
// reference picture (8.2.1.1), with the msb it takes.
std::int64_t H264SpliceRewriter::derivePoc(int lsb, int maxLsb, std::int64_t& msb) const {
    msb = m_prevPocMsb;
    if (lsb < m_prevPocLsb && m_prevPocLsb - lsb >= maxLsb / 2)
        msb += maxLsb;
    else if (lsb > m_prevPocLsb && lsb - m_prevPocLsb > maxLsb / 2)
        msb -= maxLsb;
    return msb + lsb;
}

// The first picture after the splice: it follows the last reference
// picture in frame_num, and is shown a frame after the last picture shown.
void H264SpliceRewriter::beginShift(const Picture& picture) {
    m_frameNumShift =
        modulo(std::int64_t{m_prevRefFrameNum} + 1 - picture.frameNum, picture.maxFrameNum);
    m_pocShift = 0;
    if (picture.pocType != 0 || m_maxPoc == std::numeric_limits<std::int64_t>::min()) return;
    const int maxLsb = picture.maxPocLsb;
    // Two counts per frame; a little more when the count the decoder would
    // derive lies on the wrong side of its window.
    for (std::int64_t target = m_maxPoc + 2; target < m_maxPoc + 2 + maxLsb; target += 2) {
        std::int64_t msb = 0;
        const int lsb = modulo(target, maxLsb);
        if (derivePoc(lsb, maxLsb, msb) > m_maxPoc) {
            m_pocShift = modulo(std::int64_t{lsb} - picture.pocLsb, maxLsb);
            return;
        }
    }
}

void H264SpliceRewriter::rewriteSlices(std::vector<std::uint8_t>& au) {
    std::vector<std::uint8_t> out;
    out.reserve(au.size() + 16);
    std::size_t copied = 0;
    for (const NalSpan& nal : SplitNals(au.data(), au.size())) {
        const std::uint8_t* p = au.data() + nal.begin;
        const std::size_t n = nal.end - nal.begin;
        SliceHeader slice;
        if (n < kHeaderSize || !IsSlice(NalType(p[0])) ||
            ParseSliceHeader(p, n, m_pps, m_sps, slice) != ParseResult::Ok)
            continue;
        std::vector<std::uint8_t> rbsp = Unescape(p + kHeaderSize, n - kHeaderSize);
        const int maxFrameNum = 1 << slice.frameNumBits;
        PutBits(rbsp, slice.frameNumBit, slice.frameNumBits,
                static_cast<std::uint32_t>(modulo(std::int64_t{slice.frameNum} + m_frameNumShift, maxFrameNum)));
        if (slice.pocLsbBits > 0)
            PutBits(rbsp, slice.pocLsbBit, slice.pocLsbBits,
                    static_cast<std::uint32_t>(
                        modulo(std::int64_t{slice.pocLsb} + m_pocShift, 1 << slice.pocLsbBits)));
        out.insert(out.end(), au.begin() + static_cast<std::ptrdiff_t>(copied),
                   au.begin() + static_cast<std::ptrdiff_t>(nal.begin + kHeaderSize));
        const std::vector<std::uint8_t> escaped = Escape(rbsp);
        out.insert(out.end(), escaped.begin(), escaped.end());
        copied = nal.end;
    }
    out.insert(out.end(), au.begin() + static_cast<std::ptrdiff_t>(copied), au.end());
    au = std::move(out);
}

void H264SpliceRewriter::noteWritten(const Picture& picture) {
    m_written = true;
    const int frameNum = modulo(std::int64_t{picture.frameNum} + m_frameNumShift, picture.maxFrameNum);
    if (picture.reference) m_prevRefFrameNum = frameNum;
    if (picture.pocType != 0) return;
    const int lsb = modulo(std::int64_t{picture.pocLsb} + m_pocShift, picture.maxPocLsb);
    std::int64_t msb = 0;
    const std::int64_t poc = derivePoc(lsb, picture.maxPocLsb, msb);
    if (picture.reference) {
        m_prevPocMsb = msb;
        m_prevPocLsb = lsb;
    }
    if (poc > m_maxPoc) m_maxPoc = poc;
}

void H264SpliceRewriter::Write(std::vector<std::uint8_t>& au, const Picture& picture) {
    if (!picture.parsed) return;
    if (picture.idr) {
        // An IDR picture starts the counts anew; a decoder shows what it
        // holds first.
        m_splicePending = false;
        m_frameNumShift = m_pocShift = 0;
        m_prevRefFrameNum = 0;
        m_prevPocMsb = 0;
        m_prevPocLsb = 0;
        m_maxPoc = std::numeric_limits<std::int64_t>::min();
    } else if (m_splicePending) {
        m_splicePending = false;
        if (m_written) beginShift(picture);
    }
    if (Shifting()) rewriteSlices(au);
    noteWritten(picture);
}

}  // namespace codec
