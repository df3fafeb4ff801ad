#include "engine/cut_planner.h"

#include <algorithm>

#include "demux/raw_file.h"
#include "demux/start_code.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {
// How far a GOP start is searched for: a GOP of a high-rate broadcast is well
// below this, so finding none means the video is missing, unknown or damaged.
constexpr std::uint64_t kGopSearchSize = 4 << 20;
// An area that starts this close to the data start is cut from the start.
constexpr std::uint64_t kLeadingCutReach = 262144;
constexpr int kBPicture = 3;
}  // namespace

CCutPlanner::CCutPlanner(CRawFile& source, const CutFormat& format, std::uint16_t videoPid,
                         std::uint64_t dataStart, std::int32_t syncOffset)
    : m_source(source),
      m_format(format),
      m_videoPid(videoPid),
      m_dataStart(dataStart),
      m_syncOffset(syncOffset),
      m_length(source.GetReadableLength()),
      m_window(source, videoPid, static_cast<std::uint64_t>(syncOffset), format.packetSize) {}

std::uint64_t CCutPlanner::AlignToPacket(std::uint64_t offset) const {
    const auto stride = static_cast<std::uint64_t>(m_format.packetStride);
    return offset - offset % stride + static_cast<std::uint64_t>(m_syncOffset);
}

std::vector<ByteArea> CCutPlanner::MergeAreas(const CCutList& cuts, std::uint64_t dataStart,
                                              std::uint64_t length) {
    std::vector<ByteArea> areas;
    const std::uint64_t maxSector = length / kSectorSize + 1;  // no overflow below
    for (const CCutArea& cut : cuts) {
        if (!cut.IsEnabled || cut.SectorEnd <= cut.SectorStart) continue;
        ByteArea area;
        area.start = std::max(std::min(cut.SectorStart, maxSector) * kSectorSize, dataStart);
        area.end = std::min(std::min(cut.SectorEnd, maxSector) * kSectorSize, length);
        if (area.start < area.end) areas.push_back(area);
    }
    std::sort(areas.begin(), areas.end(),
              [](const ByteArea& a, const ByteArea& b) { return a.start < b.start; });
    std::vector<ByteArea> merged;
    for (const ByteArea& area : areas) {
        if (!merged.empty() && area.start <= merged.back().end)
            merged.back().end = std::max(merged.back().end, area.end);
        else
            merged.push_back(area);
    }
    return merged;
}

std::vector<CutDrop> CCutPlanner::Plan(const CCutList& cuts) {
    const bool nal = m_streams && (m_streams->codec == StreamCodec::H264 ||
                                   m_streams->codec == StreamCodec::Hevc);
    if (nal && !m_format.hardCut) {
        CNalSplicePlanner planner(m_source, m_format, m_videoPid, m_dataStart, m_syncOffset,
                                  *m_streams);
        planner.Plan(MergeAreas(cuts, m_dataStart, m_length));
        m_byRules = true;
        m_rules = planner.Rules();
        m_splices = planner.Splices();
        m_keptAreas = planner.KeptAreas();
        return planner.Drops();
    }
    std::vector<CutDrop> drops;
    for (const ByteArea& area : MergeAreas(cuts, m_dataStart, m_length)) {
        const bool leading = area.start <= m_dataStart + kLeadingCutReach;
        if (m_format.hardCut)
            HardCut(area, leading, drops);
        else
            SoftCut(area, leading, drops);
    }
    return normalize(std::move(drops));
}

void CCutPlanner::HardCut(const ByteArea& area, bool leading, std::vector<CutDrop>& drops) {
    CutDrop drop;
    drop.kind = leading ? CutDrop::LeadingArea : CutDrop::Area;
    drop.from = leading ? m_dataStart : std::max(AlignToPacket(area.start), m_dataStart);
    drop.reachesEnd = area.end >= m_length;
    drop.to = drop.reachesEnd ? m_length : std::min(AlignToPacket(area.end), m_length);
    if (drop.from < drop.to) drops.push_back(drop);
}

void CCutPlanner::SoftCut(const ByteArea& area, bool leading, std::vector<CutDrop>& drops) {
    CutDrop drop;
    drop.kind = leading ? CutDrop::LeadingArea : CutDrop::Area;
    drop.from = m_dataStart;
    if (!leading) {
        // The kept data runs on to the end of the GOP the area starts in.
        std::size_t index = 0;
        std::optional<std::uint64_t> gop = gopStartAtOrAfter(area.start, &index);
        if (gop && *gop >= area.end) {
            // A soft cut removes whole GOPs: this area holds none, so
            // nothing of it goes. The user must hear of it.
            LogPrint(FormatString("Warning: the cut area from sector %llu to %llu holds no GOP "
                                  "start: it is kept",
                                  static_cast<unsigned long long>(area.start / kSectorSize),
                                  static_cast<unsigned long long>(area.end / kSectorSize)),
                     1);
            ++m_keptAreas;
            return;
        }
        if (!gop) LogWrite("No sequence header after the cut start: cut at its packet", 1);
        drop.from = gop ? *gop : m_window.PacketStartAtOrAfter(area.start);
    }
    if (area.end >= m_length) {
        drop.to = m_length;
        drop.reachesEnd = true;
        drops.push_back(drop);
        return;
    }
    std::size_t index = 0;
    std::optional<std::uint64_t> resume = gopStartAtOrAfter(area.end, &index);
    if (!resume) {
        LogWrite("No sequence header after the cut end: cut at its packet", 1);
        drop.to = std::min(m_window.PacketStartAtOrAfter(area.end), m_length);
        drops.push_back(drop);
        return;
    }
    drop.to = *resume;
    drops.push_back(drop);
    if (std::optional<CutDrop> pictures = leadingPictures(index)) drops.push_back(*pictures);
}

std::optional<std::uint64_t> CCutPlanner::gopStartAtOrAfter(std::uint64_t position,
                                                            std::size_t* esIndex) {
    m_window.Load(position, std::min(position + kGopSearchSize, m_length));
    const std::size_t header = m_window.FindStartCode(0, mpeg::kSequenceHeaderCode);
    if (header == mpeg::kNotFound) return std::nullopt;
    *esIndex = header;
    return m_window.FindVideoPacketBack(header);
}

std::optional<CutDrop> CCutPlanner::leadingPictures(std::size_t sequenceHeader) {
    const std::size_t first = m_window.FindStartCode(sequenceHeader, mpeg::kPictureStartCode);
    if (first == mpeg::kNotFound) return std::nullopt;
    // A closed GOP's B pictures refer to nothing before it: they stay.
    const std::size_t group = m_window.FindStartCode(sequenceHeader, mpeg::kGroupStartCode);
    if (group != mpeg::kNotFound && group < first && m_window.IsClosedGop(group))
        return std::nullopt;
    std::size_t picture = m_window.FindStartCode(first + 4, mpeg::kPictureStartCode);
    if (picture == mpeg::kNotFound || m_window.PictureCodingType(picture) != kBPicture)
        return std::nullopt;
    const std::size_t firstB = picture;
    do {
        picture = m_window.FindStartCode(picture + 4, mpeg::kPictureStartCode);
    } while (picture != mpeg::kNotFound && m_window.PictureCodingType(picture) == kBPicture);
    CutDrop drop;
    drop.kind = CutDrop::LeadingPictures;
    drop.videoOnly = true;
    drop.from = m_window.FindVideoPacketBack(firstB);
    // The file ends within the run of B pictures: they go to its end.
    drop.to = picture == mpeg::kNotFound ? m_length : m_window.FindVideoPacketBack(picture);
    // A B picture that begins in the packet ending the I picture cannot be
    // taken out without it: then the pictures stay.
    if (drop.from <= m_window.FindVideoPacketBack(first) || drop.from >= drop.to)
        return std::nullopt;
    return drop;
}

std::vector<CutDrop> CCutPlanner::normalize(std::vector<CutDrop> drops) {
    std::stable_sort(drops.begin(), drops.end(),
                     [](const CutDrop& a, const CutDrop& b) { return a.from < b.from; });
    std::vector<CutDrop> result;
    for (CutDrop drop : drops) {
        if (!result.empty() && drop.from < result.back().to) {
            CutDrop& last = result.back();
            if (last.videoOnly == drop.videoOnly) {
                last.to = std::max(last.to, drop.to);
                last.reachesEnd = last.reachesEnd || drop.reachesEnd;
                continue;
            }
            if (!last.videoOnly) {  // the whole stretch goes already
                drop.from = last.to;
                if (drop.from >= drop.to) continue;
            } else {
                last.to = drop.from;
                if (last.from >= last.to) result.pop_back();
            }
        }
        result.push_back(drop);
    }
    return result;
}
