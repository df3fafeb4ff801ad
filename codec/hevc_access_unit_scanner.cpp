#include "codec/hevc_access_unit_scanner.h"

#include "codec/rbsp_reader.h"

namespace codec {

using namespace hevc;

void HevcAccessUnitScanner::onUnit(const StartCodeUnit& unit) {
    if (unit.size < kHeaderSize || (unit.data[0] & 0x80) != 0) return;  // forbidden_zero_bit
    // Units of other layers (scalable or multiview extensions) ride along in
    // the base layer's access unit.
    if (LayerId(unit.data) != 0) return;
    const int type = NalType(unit.data);
    if (IsVcl(type)) {
        onSlice(type, unit);
        return;
    }
    if (StartsAccessUnit(type) && beginsAccessUnit()) startAccessUnit(unit.offset);
    if (type == kVps || type == kSps || type == kPps) onParameterSet(type, unit);
}

void HevcAccessUnitScanner::onParameterSet(int type, const StartCodeUnit& unit) {
    const std::uint8_t* rbsp = unit.data + kHeaderSize;
    const std::size_t size = unit.size - kHeaderSize;
    const std::vector<std::uint8_t> bytes(unit.data, unit.data + unit.size);
    if (type == kVps) {
        Vps vps;
        if (ParseVps(rbsp, size, vps) == ParseResult::Ok) {
            m_vps[vps.id] = vps;
            m_vpsBytes[vps.id] = bytes;
        }
    } else if (type == kSps) {
        Sps sps;
        if (ParseSps(rbsp, size, sps) == ParseResult::Ok) {
            m_sps[sps.id] = sps;
            m_spsBytes[sps.id] = bytes;
        }
    } else {
        Pps pps;
        if (ParsePps(rbsp, size, pps) == ParseResult::Ok) {
            m_pps[pps.id] = pps;
            m_ppsBytes[pps.id] = bytes;
        }
    }
}

// The slice segment header up to slice_type (7.3.6.1).
HevcAccessUnitScanner::SliceStart HevcAccessUnitScanner::readSliceStart(
    int type, const StartCodeUnit& unit) const {
    SliceStart start;
    RbspReader r(unit.data + kHeaderSize, unit.size - kHeaderSize, 32);
    start.firstInPicture = r.Flag();
    if (IsIrap(type)) r.Skip(1);  // no_output_of_prior_pics_flag
    const auto ppsId = static_cast<int>(r.UeMax(63));
    if (r.Failed()) return start;
    const auto pps = m_pps.find(ppsId);
    if (pps == m_pps.end()) return start;
    const auto sps = m_sps.find(pps->second.spsId);
    if (sps == m_sps.end() || !m_vps.contains(sps->second.vpsId)) return start;
    start.spsId = sps->first;
    start.parsed = true;
    if (!start.firstInPicture) return start;
    r.Skip(static_cast<std::uint64_t>(pps->second.extraSliceHeaderBits));
    const std::uint32_t sliceType = r.UeMax(2);  // 0 B, 1 P, 2 I
    if (!r.Failed()) start.pictureType = 3 - static_cast<int>(sliceType);
    return start;
}

void HevcAccessUnitScanner::onSlice(int type, const StartCodeUnit& unit) {
    const SliceStart slice = readSliceStart(type, unit);
    // A slice segment not flagged first belongs to the picture under way,
    // unless none is: then this picture began before the data did.
    if (!slice.firstInPicture && m_unitHasPicture) return;
    if (beginsAccessUnit()) startAccessUnit(unit.offset);
    m_unitHasPicture = true;
    AccessUnit au;
    au.offset = m_unitStart;
    au.decodable = slice.parsed && slice.firstInPicture;
    au.pictureType = slice.pictureType;
    if (slice.parsed) m_activeSps = slice.spsId;
    if (au.decodable && IsIrap(type))
        au.randomAccess = IsIdr(type)       ? RandomAccess::Idr
                          : type == kCraNut ? RandomAccess::Cra
                          : type <= kBlaNLp ? RandomAccess::Bla
                                            : RandomAccess::Cra;
    au.leading = IsRasl(type) || IsRadl(type);
    au.leadingDecodable = IsRadl(type);
    m_units.push_back(au);
}

std::optional<VideoFormat> HevcAccessUnitScanner::Format() const {
    auto it = m_sps.find(m_activeSps);
    if (it == m_sps.end()) {
        if (m_sps.empty()) return std::nullopt;
        it = m_sps.begin();
    }
    const auto vps = m_vps.find(it->second.vpsId);
    return it->second.Format(vps == m_vps.end() ? nullptr : &vps->second);
}

std::vector<std::uint8_t> HevcAccessUnitScanner::ParameterSets() const {
    std::vector<std::uint8_t> out;
    auto put = [&out](const std::map<int, std::vector<std::uint8_t>>& sets) {
        for (const auto& [id, nal] : sets) {
            out.insert(out.end(), {0, 0, 0, 1});
            out.insert(out.end(), nal.begin(), nal.end());
        }
    };
    put(m_vpsBytes);
    put(m_spsBytes);
    put(m_ppsBytes);
    return out;
}

}  // namespace codec
