#include "engine/nal_splice_planner.h"

#include <algorithm>
#include <map>

#include "codec/nal_unit.h"
#include "demux/cut_area.h"
#include "demux/raw_file.h"
#include "engine/cut_planner.h"
#include "engine/rule_stretches.h"
#include "engine/splice_packets.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {
// How far (at least) a random-access picture is searched for after a cut
// position, and how far the stretch before it is read: an HD GOP and what came with it
// (parameter sets, the pictures before it) lie within these at the rates
// broadcasts use.
constexpr std::uint64_t kSearch = 4 << 20;
constexpr std::uint64_t kBehind = 4 << 20;
// Where a recording that sends its parameter sets only once has them.
constexpr std::uint64_t kRecordingSetsReach = 16 << 20;
// An area that starts this close to the data start is cut from the start.
constexpr std::uint64_t kLeadingCutReach = 262144;
// How far from a splice sound and subtitles are judged by their time stamps:
// multiplexers send them up to a second or so before or after the pictures.
constexpr std::uint64_t kUnitReach = 4 << 20;
// What follows a random-access picture that the splice needs read: the
// picture itself, its leading pictures, and the sound sent with them (judged
// as far as kUnitReach). Each stretch is read this far past the search, so a
// point found in it is rarely read a second time.
constexpr std::uint64_t kAfterPoint = kUnitReach;

std::uint64_t below(std::uint64_t position, std::uint64_t distance) {
    return position > distance ? position - distance : 0;
}
}  // namespace

CNalSplicePlanner::CNalSplicePlanner(CRawFile& source, const CutFormat& format,
                                     std::uint16_t videoPid, std::uint64_t dataStart,
                                     std::int32_t syncOffset, Streams streams)
    : m_source(source),
      m_format(format),
      m_videoPid(videoPid),
      m_dataStart(dataStart),
      m_syncOffset(static_cast<std::uint64_t>(syncOffset)),
      m_length(source.GetReadableLength()),
      m_streams(std::move(streams)),
      m_window(source, videoPid, static_cast<std::uint64_t>(syncOffset), format.packetSize),
      m_list(m_streams.codec, m_streams.intraIsRandomAccess) {
    std::set<std::uint16_t> units = m_streams.audioPids;
    units.insert(m_streams.otherPids.begin(), m_streams.otherPids.end());
    m_window.SetUnitPids(units);
}

const std::vector<std::uint8_t>& CNalSplicePlanner::recordingSets() {
    if (!m_recordingSets) {
        CVideoPayloadWindow start(m_source, m_videoPid, m_syncOffset, m_format.packetSize);
        start.Load(m_dataStart, std::min(m_length, m_dataStart + kRecordingSetsReach));
        m_recordingSets = m_list.SetsBefore(start, start.Size(), {});
    }
    return *m_recordingSets;
}

std::vector<NalPicture> CNalSplicePlanner::pictures() {
    return m_list.Build(m_window, m_primer);
}

std::vector<NalPicture> CNalSplicePlanner::loadAround(std::uint64_t position) {
    m_window.Load(std::max(m_dataStart, below(position, kBehind)),
                  std::min(m_length, position + kSearch + kAfterPoint));
    noteUnitStarts();
    m_primer.clear();
    std::vector<NalPicture> found = pictures();
    const bool point = std::any_of(found.begin(), found.end(), [&](const NalPicture& p) {
        return p.unit.IsRandomAccess() && p.unit.decodable && p.packet >= position;
    });
    // The stretch read holds no parameter sets: a recording that sends them
    // only at its start (or only with its IDR pictures) has them there.
    if (!point && !recordingSets().empty()) {
        m_primer = recordingSets();
        found = pictures();
    }
    return found;
}

void CNalSplicePlanner::noteUnitStarts() {
    for (const CVideoPayloadWindow::UnitStart& start : m_window.UnitStarts()) {
        SeenUnitStart seen;
        seen.pid = start.pid;
        seen.position = start.position;
        seen.hasPts = start.hasPts;
        seen.pts = start.pts;
        seen.scannedTo = m_window.LoadedTo();
        seen.audio = m_streams.audioPids.contains(start.pid);
        m_unitStarts.push_back(seen);
    }
}

bool CNalSplicePlanner::beginsPacket(std::size_t offset) const {
    std::size_t esStart = 0, count = 0, payloadAt = 0;
    if (!m_window.VideoBytesOf(m_window.FindVideoPacketBack(offset), &esStart, &count, &payloadAt))
        return false;
    // Zero bytes before the prefix belong to the start code (zero_byte).
    const std::uint8_t* es = m_window.Data();
    return std::all_of(es + esStart, es + offset, [](std::uint8_t b) { return b == 0; });
}

bool CNalSplicePlanner::dropped(std::uint64_t position, const std::vector<UnitRule>& more) const {
    auto droppedBy = [position](const std::vector<UnitRule>& rules) {
        return std::any_of(rules.begin(), rules.end(), [position](const UnitRule& rule) {
            return rule.action == UnitRule::Drop && position >= rule.from && position < rule.to;
        });
    };
    for (const Cut& cut : m_cuts)
        if ((position >= cut.from && position < cut.to) || droppedBy(cut.resume)) return true;
    return droppedBy(more);
}

void CNalSplicePlanner::Plan(const std::vector<ByteArea>& areas) {
    for (const ByteArea& area : areas) {
        Cut cut;
        cut.leading = area.start <= m_dataStart + kLeadingCutReach;
        cut.from = m_dataStart;
        if (!cut.leading) {
            std::vector<NalPicture> found = loadAround(area.start);
            std::optional<std::size_t> point = firstPoint(found, area.start);
            if (point && found[*point].packet >= area.end) {
                LogPrint(FormatString("Warning: the cut area from sector %llu to %llu holds no "
                                      "random-access picture: it is kept",
                                      static_cast<unsigned long long>(area.start / kSectorSize),
                                      static_cast<unsigned long long>(area.end / kSectorSize)),
                         1);
                ++m_keptAreas;
                continue;
            }
            if (!point) {
                LogWrite("No random-access picture after the cut start: cut at its packet", 1);
                cut.from = m_window.PacketStartAtOrAfter(area.start);
            } else {
                cut.from = found[*point].packet;
                if (!coversPictures(cut.from)) {
                    found = loadAround(cut.from);
                    point = firstPoint(found, cut.from);
                }
                if (point) analyzeCutStart(cut, found, *point);
            }
        }
        if (area.end >= m_length) {
            cut.to = m_length;
            cut.reachesEnd = true;
        } else {
            std::vector<NalPicture> found = loadAround(area.end);
            std::optional<std::size_t> point = firstPoint(found, area.end);
            if (point) {
                cut.to = found[*point].packet;
                if (!coversPictures(cut.to)) {
                    found = loadAround(cut.to);
                    point = firstPoint(found, cut.to);
                }
            } else {
                LogWrite("No random-access picture after the cut end: cut at its packet", 1);
                cut.to = std::min(m_window.PacketStartAtOrAfter(area.end), m_length);
                dropPicturesToEnd(cut, found);
            }
            if (point && found[*point].packet == cut.to) analyzeResume(cut, found, *point);
        }
        if (!m_cuts.empty() && cut.from <= m_cuts.back().to) {
            // The cuts meet: one cut, resuming where the later one does.
            Cut& last = m_cuts.back();
            if (cut.to > last.to) {
                last.to = cut.to;
                last.resume = std::move(cut.resume);
                last.point = cut.point;
                last.times.hasResume = cut.times.hasResume;
                last.times.resume = cut.times.resume;
            }
            last.reachesEnd = last.reachesEnd || cut.reachesEnd;
            continue;
        }
        if (cut.from < cut.to) m_cuts.push_back(std::move(cut));
    }
    finish();
}

void CNalSplicePlanner::finish() {
    std::vector<SpliceTimes> times;
    std::vector<CutDrop> areasToDrop;
    for (Cut& cut : m_cuts) {
        cut.times.from = cut.from;
        cut.times.to = cut.to;
        times.push_back(cut.times);
        CutDrop area;
        area.from = cut.from;
        area.to = cut.to;
        area.kind = cut.leading ? CutDrop::LeadingArea : CutDrop::Area;
        area.reachesEnd = cut.reachesEnd;
        areasToDrop.push_back(area);
        for (UnitRule& rule : cut.resume)
            if (!cut.reachesEnd) m_rules.push_back(std::move(rule));
        if (m_streams.codec != StreamCodec::H264 || cut.leading || cut.reachesEnd || !cut.point)
            continue;
        VideoSplice splice = *cut.point;
        if (!splice.idr) {
            if (!cut.before.valid) {
                LogWrite("No reference picture before a cut: the pictures after it keep their "
                         "numbers",
                         1);
                continue;
            }
            splice.previousFrameNum = cut.before.frameNum;
            splice.previousPocLsb = cut.before.pocLsb;
            splice.pocGap = cut.before.pocGap;
        }
        m_splices.push_back(splice);
    }
    for (UnitRule& rule : PlanUnitRules(m_unitStarts, times, kUnitReach))
        m_rules.push_back(std::move(rule));
    std::stable_sort(m_rules.begin(), m_rules.end(),
                     [](const UnitRule& a, const UnitRule& b) { return a.from < b.from; });
    m_drops = BuildStretches(areasToDrop, m_rules);
    m_areas = std::move(areasToDrop);
}

std::optional<std::size_t> CNalSplicePlanner::firstPoint(const std::vector<NalPicture>& found,
                                                         std::uint64_t position) const {
    for (std::size_t i = 0; i < found.size(); ++i)
        if (found[i].unit.IsRandomAccess() && found[i].unit.decodable && found[i].packet >= position)
            return i;
    return std::nullopt;
}

bool CNalSplicePlanner::coversPictures(std::uint64_t point) const {
    return m_window.LoadedTo() >= m_length || point + kAfterPoint <= m_window.LoadedTo();
}

void CNalSplicePlanner::analyzeCutStart(Cut& cut, const std::vector<NalPicture>& found,
                                        std::size_t point) {
    Before& before = cut.before;
    // The first picture the cut removes: the earliest shown of its GOP.
    for (std::size_t i = point; i < found.size(); ++i) {
        if (i > point && found[i].unit.IsRandomAccess()) break;
        if (!found[i].hasPts) continue;
        if (!cut.times.hasCut || found[i].pts < cut.times.cut) cut.times.cut = found[i].pts;
        cut.times.hasCut = true;
    }
    if (m_streams.codec != StreamCodec::H264 || !found[point].sliceRead) return;

    // The last reference picture kept before the splice, and how far the
    // pictures kept before it are shown past it.
    const codec::h264::SliceNumbering& numbering = found[point].numbering;
    bool anchored = false;  // a picture to derive the order counts from
    bool any = false;       // a picture shown since the last IDR picture
    std::int64_t previousMsb = 0, referencePoc = 0, latest = 0;
    std::int32_t previousLsb = 0;
    for (std::size_t i = 0; i < point; ++i) {
        const NalPicture& picture = found[i];
        if (!picture.sliceRead || dropped(picture.packet, {})) continue;
        if (!(picture.numbering == numbering)) {
            before = Before{};  // another sequence: its numbering does not go on
            anchored = any = false;
            continue;
        }
        std::int64_t msb = 0;
        std::int64_t poc = picture.slice.pocLsb;
        if (picture.slice.IsIdr()) {
            // Everything before an IDR picture is shown before it.
            before = Before{};
            any = false;
        } else if (anchored) {
            poc = pocOf(picture, previousMsb, previousLsb, &msb);
        }
        latest = any ? std::max(latest, poc) : poc;
        any = true;
        if (!anchored || picture.slice.nalRefIdc != 0) {
            anchored = true;
            previousMsb = msb;
            previousLsb = picture.slice.pocLsb;
        }
        if (picture.slice.nalRefIdc != 0) {
            referencePoc = poc;
            before.valid = true;
            before.frameNum = picture.slice.frameNum;
            before.pocLsb = picture.slice.pocLsb;
        }
    }
    if (before.valid && numbering.pocType == 0) {
        const std::int64_t gap = latest + 2 - referencePoc;
        if (gap < 1 || gap >= (std::int64_t{1} << numbering.log2MaxPocLsb) / 2) {
            LogWrite("The pictures before a cut cannot be numbered on: kept as they are", 1);
            before.valid = false;
        }
        before.pocGap = static_cast<std::int32_t>(gap);
    }
}

std::int64_t CNalSplicePlanner::pocOf(const NalPicture& picture, std::int64_t previousMsb,
                                      std::int32_t previousLsb, std::int64_t* msb) const {
    // ITU-T H.264 8.2.1.1: the most significant part follows the previous
    // reference picture's.
    const std::int64_t max = std::int64_t{1} << picture.numbering.log2MaxPocLsb;
    const std::int64_t lsb = picture.slice.pocLsb;
    *msb = previousMsb;
    if (lsb < previousLsb && previousLsb - lsb >= max / 2)
        *msb = previousMsb + max;
    else if (lsb > previousLsb && lsb - previousLsb > max / 2)
        *msb = previousMsb - max;
    return *msb + lsb;
}

void CNalSplicePlanner::analyzeResume(Cut& cut, const std::vector<NalPicture>& found,
                                      std::size_t point) {
    dropLeadingPictures(found, point, cut);
    rewriteFirstPackets(found, point, cut);
    const NalPicture& picture = found[point];
    if (m_streams.codec != StreamCodec::H264 || !picture.sliceRead) return;
    VideoSplice splice;
    splice.at = cut.to;
    splice.idr = picture.slice.IsIdr();
    splice.numbering = picture.numbering;
    splice.frameNum = picture.slice.frameNum;
    splice.pocLsb = picture.slice.pocLsb;
    cut.point = splice;
}

void CNalSplicePlanner::dropPicturesToEnd(Cut& cut, const std::vector<NalPicture>& found) {
    // Only where what was read reaches the end of the recording.
    if (m_window.LoadedTo() < m_length) return;
    // No picture there (scrambled or damaged video): its packets stay as
    // they are.
    if (std::none_of(found.begin(), found.end(),
                     [&cut](const NalPicture& p) { return p.packet >= cut.to; }))
        return;
    LogWrite("The pictures after the cut end refer to those it removes: they are left out", 1);
    UnitRule rule;
    rule.from = cut.to;
    rule.to = m_length;
    rule.pid = m_videoPid;
    rule.action = UnitRule::Drop;
    cut.resume.push_back(rule);
}

void CNalSplicePlanner::dropLeadingPictures(const std::vector<NalPicture>& found,
                                            std::size_t point, Cut& cut) {
    const NalPicture& picture = found[point];
    std::vector<bool> leading(found.size(), false);
    std::vector<bool> decodable(found.size(), false);
    if (m_streams.codec == StreamCodec::Hevc) {
        for (std::size_t i = point + 1; i < found.size() && found[i].unit.leading; ++i) {
            leading[i] = true;
            decodable[i] = found[i].unit.leadingDecodable;  // RADL
        }
    } else if (picture.sliceRead && !picture.slice.IsIdr() && picture.numbering.pocType == 0) {
        // The pictures decoded after it but shown before it, up to the first
        // shown after it (the second field of its own frame aside).
        std::int64_t msb = 0;
        std::int64_t previousMsb = 0;
        std::int32_t previousLsb = picture.slice.pocLsb;
        const std::int64_t pointPoc = picture.slice.pocLsb;
        for (std::size_t i = point + 1; i < found.size(); ++i) {
            const NalPicture& next = found[i];
            if (!next.sliceRead || !(next.numbering == picture.numbering)) break;
            const bool secondField = i == point + 1 && next.slice.fieldPic && picture.slice.fieldPic &&
                                     next.slice.frameNum == picture.slice.frameNum &&
                                     next.slice.bottomField != picture.slice.bottomField;
            const std::int64_t poc = pocOf(next, previousMsb, previousLsb, &msb);
            if (next.slice.nalRefIdc != 0) {
                previousMsb = msb;
                previousLsb = next.slice.pocLsb;
            }
            if (secondField) continue;
            if (poc >= pointPoc) break;
            leading[i] = true;
        }
    }
    cut.times.hasResume = picture.hasPts;
    cut.times.resume = picture.pts;
    bool previousKept = true;
    for (std::size_t i = point + 1; i < found.size(); ++i) {
        if (!leading[i]) {
            previousKept = true;
            continue;
        }
        // A RADL picture stays; so does one whose end is not in the window.
        if (decodable[i] || i + 1 >= found.size()) {
            if (decodable[i] && found[i].hasPts && found[i].pts < cut.times.resume)
                cut.times.resume = found[i].pts;
            previousKept = true;
            continue;
        }
        // A picture that begins in the packet where a kept one ends cannot
        // be taken out without it.
        if (previousKept && !beginsPacket(found[i].offset)) {
            LogWrite("A leading picture shares a packet with the picture before it: it stays", 1);
            continue;
        }
        previousKept = false;
        UnitRule rule;
        rule.from = found[i].packet;
        rule.to = found[i + 1].packet;
        rule.pid = m_videoPid;
        rule.action = UnitRule::Drop;
        if (rule.from < rule.to) cut.resume.push_back(rule);
    }
}

void CNalSplicePlanner::rewriteFirstPackets(const std::vector<NalPicture>& found,
                                            std::size_t point, Cut& cut) {
    const NalPicture& picture = found[point];
    const std::uint8_t* es = m_window.Data();
    // The bytes of the picture's elementary stream that change.
    std::map<std::size_t, std::uint8_t> patches;
    if (m_streams.codec == StreamCodec::Hevc && !cut.leading &&
        picture.nalType == codec::hevc::kCraNut) {
        // A CRA picture after a splice is a broken link: as a BLA picture it
        // starts a new coded video sequence, whatever was decoded before.
        for (std::size_t header : picture.slices)
            if (header < m_window.Size())
                patches[header] = static_cast<std::uint8_t>((es[header] & 0x81) |
                                                            (codec::hevc::kBlaWLp << 1));
    }
    std::vector<std::uint8_t> sets;
    if (!picture.carriesSets) {
        sets = m_list.SetsBefore(m_window, picture.offset, m_primer);
        if (sets.empty()) LogWrite("No parameter sets known for the picture after a cut", 1);
    }
    // The first PCR after the splice starts the new time base.
    std::optional<std::uint64_t> pcr;
    if (!cut.leading) {
        for (std::uint64_t position : m_window.PcrPackets()) {
            if (position < cut.to || dropped(position, cut.resume)) continue;
            pcr = position;
            break;
        }
    }

    std::size_t esStart = 0, count = 0, payloadAt = 0;
    const std::uint8_t* first = m_window.PacketAt(cut.to);
    if (first == nullptr || !m_window.VideoBytesOf(cut.to, &esStart, &count, &payloadAt)) return;
    const CSplicePackets packets(m_format.packetSize);
    const std::uint64_t packetSize = m_format.packetSize;
    const std::size_t syncAt = m_format.packetSize - 188;
    // Copies of packets that change but keep their size.
    std::map<std::uint64_t, std::vector<std::uint8_t>> copies;
    auto copyOf = [&](std::uint64_t position) -> std::vector<std::uint8_t>* {
        auto it = copies.find(position);
        if (it != copies.end()) return &it->second;
        const std::uint8_t* raw = m_window.PacketAt(position);
        if (raw == nullptr) return nullptr;
        return &copies.emplace(position, std::vector<std::uint8_t>(raw, raw + packetSize)).first->second;
    };
    for (const auto& [index, value] : patches) {
        const std::uint64_t at = m_window.FilePositionOf(index);
        const std::uint64_t packet = m_window.FindVideoPacketBack(index);
        if (std::vector<std::uint8_t>* copy = copyOf(packet)) (*copy)[at - packet] = value;
    }
    if (pcr)
        if (std::vector<std::uint8_t>* copy = copyOf(*pcr))
            CSplicePackets::MarkDiscontinuity(copy->data() + syncAt);

    if (!sets.empty() && picture.offset >= esStart && picture.offset < esStart + count) {
        // The picture's first packet carries its delimiter (if any), then
        // the parameter sets, then what it carried; what came before the
        // picture in that packet belonged to pictures the cut removed.
        std::vector<std::uint8_t> video(es + picture.offset, es + esStart + count);
        for (const auto& [index, value] : patches)
            if (index >= picture.offset && index < esStart + count) video[index - picture.offset] = value;
        std::size_t insertAt = 0;
        if (picture.delimiterEnd > picture.offset && picture.delimiterEnd <= esStart + count)
            insertAt = picture.delimiterEnd - picture.offset;
        video.insert(video.begin() + static_cast<std::ptrdiff_t>(insertAt), sets.begin(), sets.end());
        UnitRule rule;
        rule.from = cut.to;
        rule.to = cut.to + packetSize;
        rule.pid = m_videoPid;
        rule.action = UnitRule::Replace;
        rule.packets = packets.Repack(first, payloadAt, video, pcr && *pcr == cut.to);
        copies.erase(cut.to);
        cut.resume.push_back(std::move(rule));
    }
    for (auto& [position, bytes] : copies) {
        UnitRule rule;
        rule.from = position;
        rule.to = position + packetSize;
        rule.pid = static_cast<std::uint16_t>(((bytes[syncAt + 1] & 0x1F) << 8) | bytes[syncAt + 2]);
        rule.action = UnitRule::Replace;
        rule.packets = std::move(bytes);
        cut.resume.push_back(std::move(rule));
    }
    // In place the added packets need room that the cut made: the video
    // packets it left out before them (those read here are counted).
    const std::size_t room = m_window.VideoPacketsIn(std::max(cut.from, m_window.LoadedFrom()), cut.to);
    for (UnitRule& rule : cut.resume) {
        if (rule.from != cut.to || rule.action != UnitRule::Replace) continue;
        const std::size_t added = rule.packets.size() / packetSize - 1;
        if (added > room) {
            LogWrite("No room for the parameter sets at a cut: they are not repeated", 1);
            const std::uint8_t* raw = m_window.PacketAt(cut.to);
            rule.packets.assign(raw, raw + packetSize);
            if (pcr && *pcr == cut.to) CSplicePackets::MarkDiscontinuity(rule.packets.data() + syncAt);
        }
    }
}
