#include "app/qt/nal_splice_finder.h"

#include <algorithm>

#include "demux/raw_file.h"
#include "engine/cut_planner.h"
#include "engine/video_payload_window.h"

namespace {
// An HD GOP of a high-rate broadcast, with its parameter sets, fits in this
// (the splice planner searches as far).
constexpr std::uint64_t kGopReach = 4 << 20;
// Where a recording that sends its parameter sets only once has them.
constexpr std::uint64_t kSetsReach = 4 << 20;
// More pictures than any GOP holds: a damaged stream cannot keep the
// decoder going for long.
constexpr std::size_t kMaxPictures = 400;

bool IsPoint(const NalPicture& picture) {
    return picture.unit.IsRandomAccess() && picture.unit.decodable;
}

bool VideoDropped(const std::vector<UnitRule>& rules, std::uint16_t pid, std::uint64_t packet) {
    return std::any_of(rules.begin(), rules.end(), [&](const UnitRule& rule) {
        return rule.pid == pid && rule.action == UnitRule::Drop && packet >= rule.from &&
               packet < rule.to;
    });
}
}  // namespace

CNalSpliceFinder::CNalSpliceFinder(CRawFile& recording, std::uint16_t videoPid,
                                   const CutFormat& format, std::uint64_t dataStart,
                                   std::int32_t syncOffset, CNalSplicePlanner::Streams streams)
    : m_recording(recording),
      m_videoPid(videoPid),
      m_format(format),
      m_dataStart(dataStart),
      m_syncOffset(syncOffset),
      m_length(recording.GetReadableLength()),
      m_streams(std::move(streams)),
      m_list(m_streams.codec, m_streams.intraIsRandomAccess) {}

SplicePreview CNalSpliceFinder::Find(const CCutArea& area) {
    SplicePreview preview;
    CNalSplicePlanner planner(m_recording, m_format, m_videoPid, m_dataStart, m_syncOffset,
                              m_streams);
    planner.Plan(CCutPlanner::MergeAreas(CCutList{area}, m_dataStart, m_length));
    if (planner.Cuts().empty()) {
        preview.outcome = SplicePreview::Outcome::Kept;
        return preview;
    }
    const CutDrop& cut = planner.Cuts().front();
    preview.outcome = SplicePreview::Outcome::Cut;
    preview.keptEnd = cut.from;
    preview.resume = cut.to;
    if (cut.kind == CutDrop::LeadingArea)
        preview.before.state = SplicePicture::State::RecordingStart;
    else
        preview.before = LastShownBefore(cut.from);
    if (cut.reachesEnd)
        preview.after.state = SplicePicture::State::RecordingEnd;
    else
        preview.after = FirstShownAt(cut.to, planner.Rules());
    return preview;
}

CVideoPayloadWindow CNalSpliceFinder::MakeWindow() const {
    return CVideoPayloadWindow(m_recording, m_videoPid, static_cast<std::uint64_t>(m_syncOffset),
                               m_format.packetSize);
}

std::vector<NalPicture> CNalSpliceFinder::PicturesOf(const CVideoPayloadWindow& window,
                                                     std::vector<std::uint8_t>& primer) {
    primer.clear();
    std::vector<NalPicture> found = m_list.Build(window, primer);
    if (std::any_of(found.begin(), found.end(), IsPoint)) return found;
    CVideoPayloadWindow start = MakeWindow();
    start.Load(m_dataStart, std::min(m_length, m_dataStart + kSetsReach));
    primer = m_list.SetsBefore(start, start.Size(), {});
    if (primer.empty()) return found;
    return m_list.Build(window, primer);
}

SplicePicture CNalSpliceFinder::LastShownBefore(std::uint64_t end) {
    CVideoPayloadWindow window = MakeWindow();
    window.Load(end > m_dataStart + kGopReach ? end - kGopReach : m_dataStart, end);
    std::vector<std::uint8_t> primer;
    const std::vector<NalPicture> found = PicturesOf(window, primer);
    // Decoding starts at the last random-access picture the copy keeps; every
    // picture after it up to the splice is kept and decoded, and the decoder
    // gives them out in display order once it is drained.
    auto point = std::find_if(found.rbegin(), found.rend(), IsPoint);
    if (point == found.rend()) return {};
    const auto first = static_cast<std::size_t>(found.rend() - point) - 1;
    std::vector<std::size_t> chosen;
    for (std::size_t i = first; i < found.size() && chosen.size() < kMaxPictures; ++i)
        chosen.push_back(i);
    return Decode(window, found, chosen, primer, codec::AvPictureDecoder::Shown::Last);
}

SplicePicture CNalSpliceFinder::FirstShownAt(std::uint64_t start,
                                             const std::vector<UnitRule>& rules) {
    SplicePicture picture;
    CVideoPayloadWindow window = MakeWindow();
    const std::uint64_t end = std::min(start + kGopReach, m_length);
    window.Load(start, end);
    std::vector<std::uint8_t> primer;
    const std::vector<NalPicture> found = PicturesOf(window, primer);
    auto point = std::find_if(found.begin(), found.end(), [&](const NalPicture& p) {
        return IsPoint(p) && !VideoDropped(rules, m_videoPid, p.packet);
    });
    if (point == found.end()) {
        // No random-access picture follows up to the end: the copy leaves
        // the video after the cut out, or has none there.
        if (end == m_length || VideoDropped(rules, m_videoPid, start))
            picture.state = SplicePicture::State::RecordingEnd;
        return picture;
    }
    // The picture the data resumes with, and the leading pictures behind it
    // that the copy keeps (they are shown before it).
    const auto first = static_cast<std::size_t>(point - found.begin());
    std::vector<std::size_t> chosen{first};
    for (std::size_t i = first + 1;
         i < found.size() && found[i].unit.leading && chosen.size() < kMaxPictures; ++i)
        if (!VideoDropped(rules, m_videoPid, found[i].packet)) chosen.push_back(i);
    return Decode(window, found, chosen, primer, codec::AvPictureDecoder::Shown::First);
}

SplicePicture CNalSpliceFinder::Decode(const CVideoPayloadWindow& window,
                                       const std::vector<NalPicture>& pictures,
                                       const std::vector<std::size_t>& chosen,
                                       const std::vector<std::uint8_t>& primer,
                                       codec::AvPictureDecoder::Shown which) const {
    SplicePicture picture;
    if (chosen.empty()) return picture;
    const std::vector<std::uint8_t> sets =
        m_list.SetsBefore(window, pictures[chosen.front()].offset, primer);
    std::vector<codec::CodedUnit> units;
    units.push_back({sets.data(), sets.size(), false, 0});
    for (std::size_t i : chosen) {
        const NalPicture& p = pictures[i];
        const std::size_t end = std::min(p.end, window.Size());
        if (p.offset >= end) continue;
        units.push_back({window.Data() + p.offset, end - p.offset, p.hasPts, p.pts});
    }
    codec::ShownPicture shown;
    if (!codec::AvPictureDecoder::DecodeRun(m_streams.codec, units, which, shown)) return picture;
    picture.state = SplicePicture::State::Picture;
    picture.frame = std::move(shown.frame);
    picture.aspectCode = shown.aspectCode;
    picture.hasStamp = shown.hasPts;
    picture.stamp = shown.pts;
    return picture;
}
