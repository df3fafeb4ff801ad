#include "codec/h264_access_unit_scanner.h"

#include "codec/h264_sei.h"

namespace codec {

using namespace h264;

void H264AccessUnitScanner::startH264AccessUnit(std::uint64_t offset) {
    startAccessUnit(offset);
    m_recoveryPoint = false;
}

void H264AccessUnitScanner::onUnit(const StartCodeUnit& unit) {
    if (unit.size < kHeaderSize || (unit.data[0] & 0x80) != 0) return;  // forbidden_zero_bit
    const int type = NalType(unit.data[0]);
    if (IsSlice(type)) {
        onSlice(unit);
        return;
    }
    if (StartsAccessUnit(type) && beginsAccessUnit()) startH264AccessUnit(unit.offset);
    const std::uint8_t* rbsp = unit.data + kHeaderSize;
    const std::size_t size = unit.size - kHeaderSize;
    if (type == kSps) {
        Sps sps;
        if (ParseSps(rbsp, size, sps) == ParseResult::Ok) {
            m_sps[sps.id] = sps;
            m_spsBytes[sps.id].assign(unit.data, unit.data + unit.size);
        }
    } else if (type == kPps) {
        Pps pps;
        if (ParsePps(rbsp, size, pps) == ParseResult::Ok) {
            m_pps[pps.id] = pps;
            m_ppsBytes[pps.id].assign(unit.data, unit.data + unit.size);
        }
    } else if (type == kSei) {
        SeiMessages sei;
        ParseSei(rbsp, size, sei);  // messages before damage count
        if (sei.hasRecoveryPoint) {
            m_recoveryPoint = true;
            m_sawMarks = true;
        }
    } else if (type == kEndOfSequence || type == kEndOfStream) {
        m_lastSlice.reset();  // the next picture begins anew
    }
}

// 7.4.1.2.4: the first slice of a new picture differs from the last slice of
// the previous one in one of these.
bool H264AccessUnitScanner::startsNewPicture(const SliceHeader& s) const {
    if (!m_lastSlice) return true;
    const SliceHeader& p = *m_lastSlice;
    return s.firstMb == 0 || s.frameNum != p.frameNum || s.ppsId != p.ppsId ||
           s.fieldPic != p.fieldPic || s.bottomField != p.bottomField ||
           (s.nalRefIdc == 0) != (p.nalRefIdc == 0) || s.pocLsb != p.pocLsb ||
           s.IsIdr() != p.IsIdr() || (s.IsIdr() && s.idrPicId != p.idrPicId);
}

void H264AccessUnitScanner::onSlice(const StartCodeUnit& unit) {
    SliceHeader slice;
    const ParseResult result = ParseSliceHeader(unit.data, unit.size, m_pps, m_sps, slice);
    const bool parsed = result == ParseResult::Ok;
    if (!parsed) {
        // A slice whose header cannot be read (damage, or parameter sets not
        // seen yet) belongs to the picture under way; after an access unit
        // delimiter or parameter sets it begins one that cannot be decoded.
        slice = SliceHeader{};
        slice.nalType = NalType(unit.data[0]);
        slice.firstMb = -1;
    }
    const bool fresh = !m_unitHasPicture || (parsed && startsNewPicture(slice));
    if (fresh) {
        if (beginsAccessUnit()) startH264AccessUnit(unit.offset);
        m_unitHasPicture = true;
        reportPicture(slice, parsed, parsed && slice.firstMb == 0);
    }
    m_lastSlice = parsed ? std::optional<SliceHeader>(slice) : std::nullopt;
}

void H264AccessUnitScanner::reportPicture(const SliceHeader& slice, bool parsed, bool complete) {
    AccessUnit au;
    au.offset = m_unitStart;
    au.decodable = parsed && complete;
    if (parsed) {
        m_activeSps = slice.spsId;
        au.pictureType = slice.PictureType();
        au.field = slice.fieldPic;
        au.bottomField = slice.bottomField;
        au.frameNum = slice.frameNum;
        if (slice.IsIdr()) m_sawMarks = true;
        if (complete) {
            if (slice.IsIdr())
                au.randomAccess = RandomAccess::Idr;
            else if (slice.IsIntra() && m_recoveryPoint)
                au.randomAccess = RandomAccess::RecoveryPoint;
            else if (slice.IsIntra() && m_intraIsRandomAccess)
                au.randomAccess = RandomAccess::Intra;
        }
        if (au.IsRandomAccess()) {
            const Sps& sps = m_sps.at(slice.spsId);
            m_inLeadingRun = sps.pocType == 0 && !slice.IsIdr();
            m_rapPocLsb = slice.pocLsb;
            m_rapMaxPocLsb = 1 << sps.log2MaxPocLsb;
        } else {
            au.leading = isLeading(slice);
        }
    }
    m_units.push_back(au);
}

// Pictures right behind an I picture that are shown before it (the B
// pictures of an open GOP) lead it; the first picture shown after it ends
// the run. Only POC type 0 streams reorder this way.
bool H264AccessUnitScanner::isLeading(const SliceHeader& slice) {
    if (!m_inLeadingRun) return false;
    const auto sps = m_sps.find(slice.spsId);
    if (sps == m_sps.end() || sps->second.pocType != 0) {
        m_inLeadingRun = false;
        return false;
    }
    int difference = slice.pocLsb - m_rapPocLsb;
    if (difference > m_rapMaxPocLsb / 2) difference -= m_rapMaxPocLsb;
    if (difference < -m_rapMaxPocLsb / 2) difference += m_rapMaxPocLsb;
    if (difference < 0) return true;
    m_inLeadingRun = false;
    return false;
}

std::optional<VideoFormat> H264AccessUnitScanner::Format() const {
    auto it = m_sps.find(m_activeSps);
    if (it == m_sps.end()) {
        if (m_sps.empty()) return std::nullopt;
        it = m_sps.begin();
    }
    return it->second.Format();
}

std::vector<std::uint8_t> H264AccessUnitScanner::ParameterSets() const {
    std::vector<std::uint8_t> out;
    auto put = [&out](const std::vector<std::uint8_t>& nal) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    };
    for (const auto& [id, nal] : m_spsBytes)
        put(nal);
    for (const auto& [id, nal] : m_ppsBytes)
        put(nal);
    return out;
}

}  // namespace codec
