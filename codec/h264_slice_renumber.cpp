#include "codec/h264_slice_renumber.h"

#include <vector>

#include "codec/nal_unit.h"

namespace codec::h264 {

namespace {

// The NAL unit's payload with its emulation-prevention bytes taken out, each
// byte remembering where it lies in the NAL unit.
struct Payload {
    std::vector<std::uint8_t> rbsp;
    std::vector<std::size_t> at;          // index in the NAL unit of each rbsp byte
    std::vector<std::size_t> prevention;  // indexes of the emulation-prevention bytes
};

Payload payloadOf(const std::uint8_t* nal, std::size_t size) {
    Payload p;
    int zeros = 0;
    for (std::size_t i = kHeaderSize; i < size; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            p.prevention.push_back(i);
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        p.rbsp.push_back(nal[i]);
        p.at.push_back(i);
    }
    return p;
}

class BitCursor {
  public:
    explicit BitCursor(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    std::uint32_t Bits(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_bit >= m_bytes.size() * 8) {
                m_failed = true;
                return 0;
            }
            value = (value << 1) | ((m_bytes[m_bit / 8] >> (7 - m_bit % 8)) & 1u);
            ++m_bit;
        }
        return value;
    }
    std::uint32_t Ue() {
        int zeros = 0;
        while (!m_failed && Bits(1) == 0)
            if (++zeros > 31) m_failed = true;
        if (m_failed) return 0;
        return (1u << zeros) - 1 + Bits(zeros);
    }
    std::size_t Position() const { return m_bit; }
    bool Failed() const { return m_failed; }

  private:
    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_bit = 0;
    bool m_failed = false;
};

void putBits(std::vector<std::uint8_t>& bytes, std::size_t bit, int count, std::uint32_t value) {
    for (int i = 0; i < count; ++i, ++bit) {
        const auto mask = static_cast<std::uint8_t>(0x80u >> (bit % 8));
        if ((value >> (count - 1 - i)) & 1u)
            bytes[bit / 8] |= mask;
        else
            bytes[bit / 8] &= static_cast<std::uint8_t>(~mask);
    }
}

std::uint32_t wrapped(std::uint32_t value, int delta, int log2Max) {
    const std::int64_t max = std::int64_t{1} << log2Max;
    std::int64_t result = (static_cast<std::int64_t>(value) + delta) % max;
    if (result < 0) result += max;
    return static_cast<std::uint32_t>(result);
}

// Whether the NAL unit's bytes up to `last` still read back as the payload
// they stand for: no 00 00 00/01/02 (a start code or a forbidden sequence),
// a 00 00 03 only where a prevention byte stands, and every prevention byte
// still behind two zero bytes.
bool emulationSafe(const std::uint8_t* nal, std::size_t size, std::size_t last,
                   const std::vector<std::size_t>& prevention) {
    int zeros = 0;
    std::size_t next = 0;  // the next prevention byte to meet
    for (std::size_t i = kHeaderSize; i < size && i <= last + 3; ++i) {
        const bool isPrevention = next < prevention.size() && prevention[next] == i;
        if (isPrevention) ++next;
        if (zeros >= 2) {
            if (nal[i] <= 2) return false;
            if (nal[i] == 3) {
                if (!isPrevention) return false;
                zeros = 0;
                continue;
            }
        }
        if (isPrevention) return false;  // its zeros are gone: it would be read as data
        zeros = nal[i] == 0 ? zeros + 1 : 0;
    }
    return true;
}

}  // namespace

SliceNumbering SliceNumbering::Of(const Sps& sps) {
    SliceNumbering n;
    n.log2MaxFrameNum = sps.log2MaxFrameNum;
    n.frameMbsOnly = sps.frameMbsOnly;
    n.separateColourPlane = sps.separateColourPlane;
    n.pocType = sps.pocType;
    n.log2MaxPocLsb = sps.log2MaxPocLsb;
    return n;
}

RenumberResult RenumberSlice(std::uint8_t* nal, std::size_t size, const SliceNumbering& numbering,
                             int frameNumDelta, int pocLsbDelta) {
    if (size < kHeaderSize + 1 || (nal[0] & 0x80) != 0) return RenumberResult::NotASlice;
    const int type = NalType(nal[0]);
    if (type == kIdrSlice) return RenumberResult::Idr;
    if (type != kSlice) return RenumberResult::NotASlice;
    if (numbering.log2MaxFrameNum < 4 || numbering.log2MaxFrameNum > 16 ||
        numbering.log2MaxPocLsb < 4 || numbering.log2MaxPocLsb > 16)
        return RenumberResult::Broken;

    Payload payload = payloadOf(nal, size);
    BitCursor r(payload.rbsp);
    r.Ue();  // first_mb_in_slice
    r.Ue();  // slice_type
    r.Ue();  // pic_parameter_set_id
    if (numbering.separateColourPlane) r.Bits(2);  // colour_plane_id
    const std::size_t frameNumAt = r.Position();
    const std::uint32_t frameNum = r.Bits(numbering.log2MaxFrameNum);
    if (!numbering.frameMbsOnly && r.Bits(1) != 0) r.Bits(1);  // field_pic_flag, bottom_field_flag
    const bool hasLsb = numbering.pocType == 0;
    const std::size_t lsbAt = r.Position();
    const std::uint32_t lsb = hasLsb ? r.Bits(numbering.log2MaxPocLsb) : 0;
    if (r.Failed()) return RenumberResult::Broken;

    std::vector<std::uint8_t> rbsp = payload.rbsp;
    putBits(rbsp, frameNumAt, numbering.log2MaxFrameNum,
            wrapped(frameNum, frameNumDelta, numbering.log2MaxFrameNum));
    if (hasLsb)
        putBits(rbsp, lsbAt, numbering.log2MaxPocLsb,
                wrapped(lsb, pocLsbDelta, numbering.log2MaxPocLsb));

    std::vector<std::pair<std::size_t, std::uint8_t>> before;
    std::size_t last = 0;
    for (std::size_t i = 0; i < rbsp.size(); ++i) {
        if (rbsp[i] == payload.rbsp[i]) continue;
        before.emplace_back(payload.at[i], nal[payload.at[i]]);
        nal[payload.at[i]] = rbsp[i];
        last = payload.at[i];
    }
    if (!before.empty() && !emulationSafe(nal, size, last, payload.prevention)) {
        for (const auto& [index, value] : before)
            nal[index] = value;
        return RenumberResult::Emulation;
    }
    return RenumberResult::Renumbered;
}

}  // namespace codec::h264
