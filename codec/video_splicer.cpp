#include "codec/video_splicer.h"

#include <algorithm>
#include <utility>

#include "codec/annexb_nals.h"
#include "codec/nal_unit.h"

namespace codec {

namespace {

// Which NAL units of an access unit hold parameter sets, and whether one is
// an access unit delimiter (which must stay first).
struct NalKinds {
    bool sps = false;
    bool pps = false;
    bool vps = false;
    std::size_t afterDelimiter = 0;  // where parameter sets may be put
};

NalKinds kindsOf(StreamCodec codec, const std::vector<std::uint8_t>& au) {
    const bool hevc = codec == StreamCodec::Hevc;
    const int spsType = hevc ? int{hevc::kSps} : int{h264::kSps};
    const int ppsType = hevc ? int{hevc::kPps} : int{h264::kPps};
    const int audType = hevc ? int{hevc::kAud} : int{h264::kAud};
    NalKinds kinds;
    const std::vector<NalSpan> nals = SplitNals(au.data(), au.size());
    for (std::size_t i = 0; i < nals.size(); ++i) {
        const NalSpan& nal = nals[i];
        if (nal.end - nal.begin < 2) continue;
        const std::uint8_t* header = au.data() + nal.begin;
        const int type = hevc ? hevc::NalType(header) : h264::NalType(header[0]);
        if (hevc && type == hevc::kVps) kinds.vps = true;
        if (type == spsType) kinds.sps = true;
        if (type == ppsType) kinds.pps = true;
        if (i == 0 && type == audType)
            kinds.afterDelimiter = i + 1 < nals.size() ? nals[i + 1].prefix : au.size();
    }
    return kinds;
}

}  // namespace

VideoSplicer::Decision VideoSplicer::Take(AssembledUnit& unit, bool keepGroup,
                                          const std::vector<std::uint8_t>& parameterSets) {
    if (m_codec == StreamCodec::H264) m_picture = m_h264.Inspect(unit.bytes);
    Decision decision;
    if (unit.cutShort) {
        decision.verdict = Verdict::CutShort;
        endHeld(unit);
        m_inGroup = false;
        m_dropping = Verdict::CutShort;
        m_afterSplice = true;
        return decision;
    }
    if (unit.unit.IsRandomAccess() && unit.unit.decodable) {
        if (!unit.damaged) return startGroup(unit, keepGroup, parameterSets);
        // A point that lost packets: its group is lost to the damage, unless
        // the caller leaves it out anyway. The group before ended whole.
        release();
        m_inGroup = false;
        m_dropping = keepGroup ? Verdict::Damaged : Verdict::Cut;
        m_afterSplice = true;
        decision.verdict = m_dropping;
        return decision;
    }
    if (!m_inGroup) {
        decision.verdict = m_dropping;
        return decision;
    }
    if (unit.damaged || !unit.unit.decodable) {
        endHeld(unit);
        m_inGroup = false;
        m_dropping = Verdict::Damaged;
        m_afterSplice = true;
        decision.verdict = Verdict::Damaged;
        return decision;
    }
    bool decodable = true;
    const bool leading = isLeading(unit, decodable);
    if (leading && m_dropLeading && !decodable) {
        decision.verdict = Verdict::Leading;
        return decision;
    }
    decision.leading = leading;
    write(unit, decision, false);
    return decision;
}

VideoSplicer::Decision VideoSplicer::startGroup(AssembledUnit& unit, bool keepGroup,
                                                const std::vector<std::uint8_t>& parameterSets) {
    Decision decision;
    decision.randomAccess = true;
    if (m_codec == StreamCodec::H264) {
        m_leading = {};
        if (m_picture.parsed && m_picture.pocType == 0) {
            m_leading.running = true;
            m_leading.pocLsb = m_picture.pocLsb;
            m_leading.maxPocLsb = m_picture.maxPocLsb;
            m_leading.frameNum = m_picture.frameNum;
            m_leading.field = m_picture.field;
            m_leading.bottomField = m_picture.bottomField;
            m_leading.pairPending = m_picture.field;
        }
    }
    // The group before ended whole at this point.
    release();
    if (!keepGroup) {
        m_inGroup = false;
        m_dropping = Verdict::Cut;
        m_afterSplice = true;
        decision.verdict = Verdict::Cut;
        return decision;
    }
    m_inGroup = true;
    m_dropLeading = m_afterSplice;
    decision.spliced = m_afterSplice;
    if (m_afterSplice) {
        const NalKinds kinds = kindsOf(m_codec, unit.bytes);
        const bool complete = kinds.sps && kinds.pps && (kinds.vps || m_codec != StreamCodec::Hevc);
        if (!complete) insertParameterSets(unit, parameterSets);
        if (m_anyWritten && m_codec == StreamCodec::Hevc) craToBla(unit);
        m_afterSplice = false;
    }
    write(unit, decision, decision.spliced && m_anyWritten);
    return decision;
}

// Whether the unit is shown before the random-access point it follows, and
// whether it can be decoded without what lies before that point.
bool VideoSplicer::isLeading(const AssembledUnit& unit, bool& decodable) {
    if (m_codec == StreamCodec::Hevc) {
        decodable = unit.unit.leadingDecodable;
        return unit.unit.leading;
    }
    decodable = false;
    return m_codec == StreamCodec::H264 && h264Leading(m_picture);
}

// H.264 pictures right behind the point with a lower picture order count
// lead it; the first one shown after it ends the run. The point's own second
// field neither leads nor ends the run.
bool VideoSplicer::h264Leading(const H264SpliceRewriter::Picture& picture) {
    H264Leading& run = m_leading;
    if (!run.running || !picture.parsed || picture.pocType != 0 ||
        picture.maxPocLsb != run.maxPocLsb) {
        run.running = false;
        return false;
    }
    if (std::exchange(run.pairPending, false) && picture.field &&
        picture.bottomField != run.bottomField && picture.frameNum == run.frameNum)
        return false;
    int difference = picture.pocLsb - run.pocLsb;
    if (difference > run.maxPocLsb / 2) difference -= run.maxPocLsb;
    if (difference < -run.maxPocLsb / 2) difference += run.maxPocLsb;
    if (difference < 0) return true;
    run.running = false;
    return false;
}

void VideoSplicer::insertParameterSets(AssembledUnit& unit, const std::vector<std::uint8_t>& sets) const {
    if (sets.empty()) return;
    const std::size_t at = kindsOf(m_codec, unit.bytes).afterDelimiter;
    unit.bytes.insert(unit.bytes.begin() + static_cast<std::ptrdiff_t>(at), sets.begin(), sets.end());
}

// BLA_W_LP for every slice of a CRA picture: the NAL unit type is the six
// bits behind the forbidden zero bit, and no zero byte can arise.
void VideoSplicer::craToBla(AssembledUnit& unit) const {
    for (const NalSpan& nal : SplitNals(unit.bytes.data(), unit.bytes.size())) {
        if (nal.end - nal.begin < hevc::kHeaderSize) continue;
        std::uint8_t& first = unit.bytes[nal.begin];
        if (hevc::NalType(&first) == hevc::kCraNut)
            first = static_cast<std::uint8_t>((first & 0x81) | (hevc::kBlaWLp << 1));
    }
}

// Whether the unit is the second field of the frame whose first field was
// the last unit written.
bool VideoSplicer::secondField(const AccessUnit& unit) {
    if (!unit.field) {
        m_firstFieldOpen = false;
        return false;
    }
    if (m_firstFieldOpen && unit.bottomField != m_firstFieldBottom && unit.frameNum == m_firstFieldNum) {
        m_firstFieldOpen = false;
        return true;
    }
    m_firstFieldOpen = true;
    m_firstFieldNum = unit.frameNum;
    m_firstFieldBottom = unit.bottomField;
    return false;
}

void VideoSplicer::write(AssembledUnit& unit, Decision& decision, bool spliceBefore) {
    decision.verdict = Verdict::Write;
    decision.newFrame = !secondField(unit.unit);
    m_anyWritten = true;
    // An I or P picture: what is held is whole, and shown before it.
    if (decision.newFrame && unit.unit.pictureType != 3) release();
    Held held;
    held.out.unit = std::move(unit);
    held.out.decision = decision;
    held.picture = m_picture;
    held.spliceBefore = spliceBefore;
    m_held.push_back(std::move(held));
}

void VideoSplicer::release() {
    for (Held& held : m_held) {
        if (m_codec == StreamCodec::H264) {
            if (held.spliceBefore) m_h264.Splice();
            m_h264.Write(held.out.unit.bytes, held.picture);
        }
        m_released.push_back(std::move(held.out));
    }
    m_held.clear();
}

void VideoSplicer::dropHeld() {
    m_droppedHeld += static_cast<int>(m_held.size());
    m_held.clear();
}

// A unit that cannot go out ends what is held. An I or P picture (that
// begins a frame) is shown after everything held, which is whole: it goes
// out. A B picture is shown before the last I or P picture held, which
// would leave a hole in what is shown: that picture goes, and what follows
// it. A picture whose type could not be read counts as a B picture.
void VideoSplicer::endHeld(const AssembledUnit& unit) {
    const AccessUnit& au = unit.unit;
    const bool secondOfHeld = au.field && m_firstFieldOpen && au.bottomField != m_firstFieldBottom &&
                              au.frameNum == m_firstFieldNum;
    if ((au.pictureType == 1 || au.pictureType == 2) && !secondOfHeld)
        release();
    else
        dropHeld();
}

}  // namespace codec
