#include "app/qt/splice_finder.h"

#include <algorithm>
#include <vector>

#include "app/qt/nal_splice_finder.h"
#include "app/recording_model.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/packet_size.h"
#include "demux/raw_file.h"
#include "demux/start_code.h"
#include "engine/cut_format.h"
#include "engine/cut_planner.h"
#include "engine/nal_cut_streams.h"
#include "engine/video_payload_window.h"
#include "mpegsnap/snapshot_decoder.h"

namespace {
// A GOP of a high-rate broadcast fits in this, as the cut planner assumes.
constexpr std::uint64_t kGopReach = 4 << 20;
// Topfield recordings may carry bytes between their header and the first
// packet; the cut engine looks for it within its first block.
constexpr std::size_t kFirstPacketSearch = 1 << 20;
constexpr std::size_t kPacketSize = 188;
constexpr std::uint8_t kSyncByte = 0x47;
// More pictures than any GOP holds: a damaged stream cannot keep the
// decoder going for long.
constexpr int kMaxPictures = 400;

struct DecodedRun {
    std::vector<mpegsnap::DecodedFrame> frames;
    int aspectCode = 0;
};

// Decodes the pictures of es in decode order, as many as decode.
DecodedRun DecodeRun(const std::uint8_t* es, std::size_t size, int limit) {
    DecodedRun run;
    mpegsnap::SnapshotDecoder decoder;
    if (decoder.Init(std::vector<std::uint8_t>(es, es + size)) != 1) return run;
    run.aspectCode = decoder.Sequence().aspectRatioCode;
    while (static_cast<int>(run.frames.size()) < limit && decoder.DecodeNextFrame() == 1)
        run.frames.push_back(decoder.CurrentFrame());
    return run;
}

// The picture start codes of the window from `from` on, in decode order.
std::vector<std::size_t> PictureStarts(const CVideoPayloadWindow& window, std::size_t from) {
    std::vector<std::size_t> starts;
    for (std::size_t at = window.FindStartCode(from, mpeg::kPictureStartCode);
         at != mpeg::kNotFound; at = window.FindStartCode(at + 4, mpeg::kPictureStartCode))
        starts.push_back(at);
    return starts;
}
}  // namespace

SplicePreview CSpliceFinder::Find(const CCutArea& area) {
    SplicePreview preview;
    if (!m_model.IsOpen() || m_model.m_videoPid == 0 || !area.IsEnabled) return preview;
    CRawFile& recording = m_model.Recording();
    FindDataStart();
    if (const auto streams = NalCutStreams(m_model)) {
        preview = FindNal(area, *streams);
        recording.SeekToStart();
        return preview;
    }
    const CutFormat format = CutFormatFor(recording.GetFileExtension());
    CCutPlanner planner(recording, format, m_model.m_videoPid, m_dataStart, m_syncOffset);
    const std::vector<CutDrop> drops = planner.Plan(CCutList{area});
    auto cut = std::find_if(drops.begin(), drops.end(), [](const CutDrop& drop) {
        return drop.kind == CutDrop::Area || drop.kind == CutDrop::LeadingArea;
    });
    if (cut == drops.end()) {
        preview.outcome = SplicePreview::Outcome::Kept;
        return preview;
    }
    preview.outcome = SplicePreview::Outcome::Cut;
    preview.keptEnd = cut->from;
    preview.resume = cut->to;
    const bool leadingDropped = std::any_of(drops.begin(), drops.end(), [&](const CutDrop& drop) {
        return drop.kind == CutDrop::LeadingPictures && drop.from >= cut->to;
    });
    if (cut->kind == CutDrop::LeadingArea)
        preview.before.state = SplicePicture::State::RecordingStart;
    else
        preview.before = LastPictureBefore(cut->from);
    if (cut->reachesEnd)
        preview.after.state = SplicePicture::State::RecordingEnd;
    else
        preview.after = FirstPictureAt(cut->to, leadingDropped);
    recording.SeekToStart();
    return preview;
}

SplicePreview CSpliceFinder::FindNal(const CCutArea& area,
                                     const CNalSplicePlanner::Streams& streams) {
    // The packet grid as the cut engine finds it: 192-byte packets carry
    // a 4-byte prefix before the sync byte.
    CRawFile& recording = m_model.Recording();
    const PacketLayout layout = DetectPacketLayout(recording, 0);
    const CutFormat format =
        CutFormatFor(recording.GetFileExtension(), layout.found ? layout.size : kPacketSize);
    const std::size_t prefix = format.packetSize - kPacketSize;
    std::int32_t syncOffset = m_syncOffset;
    if (!format.findFirstPacket && format.packetSize != kPacketSize && layout.firstSync >= prefix)
        syncOffset = static_cast<std::int32_t>((layout.firstSync - prefix) % format.packetSize);
    CNalSpliceFinder finder(recording, m_model.m_videoPid, format, m_dataStart, syncOffset,
                            streams);
    return finder.Find(area);
}

void CSpliceFinder::FindDataStart() {
    CRawFile& recording = m_model.Recording();
    const CutFormat format = CutFormatFor(recording.GetFileExtension());
    m_dataStart = format.headerSize;
    m_syncOffset = 0;
    if (!format.findFirstPacket) return;
    std::vector<std::uint8_t> block(kFirstPacketSearch);
    recording.Seek(static_cast<std::int64_t>(m_dataStart), CRawFile::begin);
    block.resize(recording.Read(block.data(), block.size()));
    for (std::size_t i = 0; i + kPacketSize < block.size(); ++i) {
        if (block[i] != kSyncByte || block[i + kPacketSize] != kSyncByte) continue;
        m_dataStart += i;
        m_syncOffset = static_cast<std::int32_t>(m_dataStart % kPacketSize);
        return;
    }
}

SplicePicture CSpliceFinder::LastPictureBefore(std::uint64_t end) {
    SplicePicture picture;
    CVideoPayloadWindow window(m_model.Recording(), m_model.m_videoPid,
                               static_cast<std::uint64_t>(m_syncOffset));
    window.Load(end > m_dataStart + kGopReach ? end - kGopReach : m_dataStart, end);
    // The kept GOP starts at the last sequence header before the splice.
    std::size_t gop = mpeg::kNotFound;
    for (std::size_t at = window.FindStartCode(0, mpeg::kSequenceHeaderCode); at != mpeg::kNotFound;
         at = window.FindStartCode(at + 4, mpeg::kSequenceHeaderCode))
        gop = at;
    if (gop == mpeg::kNotFound) return picture;
    // B pictures are shown before the reference picture that follows them in
    // decode order, so the last reference picture is the last one shown. No
    // picture refers to a B picture: they are left out before decoding.
    const std::vector<std::size_t> starts = PictureStarts(window, gop);
    if (starts.empty()) return picture;
    std::vector<std::uint8_t> references(window.Data() + gop, window.Data() + starts[0]);
    std::vector<std::size_t> kept;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        if (window.PictureCodingType(starts[i]) == mpegsnap::kPictureB) continue;
        const std::size_t next = i + 1 < starts.size() ? starts[i + 1] : window.Size();
        references.insert(references.end(), window.Data() + starts[i], window.Data() + next);
        kept.push_back(starts[i]);
    }
    const DecodedRun run = DecodeRun(references.data(), references.size(), kMaxPictures);
    if (run.frames.empty()) return picture;
    const std::size_t last = run.frames.size() - 1;
    picture.state = SplicePicture::State::Picture;
    picture.frame = run.frames[last];
    picture.aspectCode = run.aspectCode;
    // One picture start code per frame (no field pictures): the frame's own
    // PES header carries its stamp.
    if (kept.size() == run.frames.size() || kept.size() == run.frames.size() + 1)
        picture.hasStamp = PesStampAt(window.FindVideoPacketBack(kept[last]), picture.stamp);
    return picture;
}

SplicePicture CSpliceFinder::FirstPictureAt(std::uint64_t start, bool leadingPicturesDropped) {
    SplicePicture picture;
    CRawFile& recording = m_model.Recording();
    CVideoPayloadWindow window(recording, m_model.m_videoPid,
                               static_cast<std::uint64_t>(m_syncOffset));
    const std::uint64_t end = std::min(start + kGopReach, recording.GetLength());
    window.Load(start, end);
    const std::size_t gop = window.FindStartCode(0, mpeg::kSequenceHeaderCode);
    if (gop == mpeg::kNotFound) {
        // Only the last bytes of the recording are kept after the area, and
        // no picture starts in them.
        if (end == recording.GetLength()) picture.state = SplicePicture::State::RecordingEnd;
        return picture;
    }
    // The I picture and the picture after it: a B picture shown before it
    // when the GOP's leading B pictures are kept.
    const DecodedRun run = DecodeRun(window.Data() + gop, window.Size() - gop, 2);
    if (run.frames.empty()) return picture;
    std::size_t shown = 0;
    // B pictures kept after the I picture (a closed GOP's) are shown before it.
    if (!leadingPicturesDropped && run.frames.size() > 1 &&
        run.frames[1].pictureType == mpegsnap::kPictureB &&
        run.frames[1].temporalReference < run.frames[0].temporalReference)
        shown = 1;
    picture.state = SplicePicture::State::Picture;
    picture.frame = run.frames[shown];
    picture.aspectCode = run.aspectCode;
    const std::vector<std::size_t> starts = PictureStarts(window, gop);
    if (shown < starts.size())
        picture.hasStamp = PesStampAt(window.FindVideoPacketBack(starts[shown]), picture.stamp);
    return picture;
}

bool CSpliceFinder::PesStampAt(std::uint64_t position, std::int64_t& stamp) {
    CRawFile& recording = m_model.Recording();
    std::uint8_t packet[kPacketSize];
    recording.Seek(static_cast<std::int64_t>(position), CRawFile::begin);
    if (recording.Read(packet, kPacketSize) != kPacketSize || packet[0] != kSyncByte ||
        !TsUnitStart(packet) || TsPid(packet) != m_model.m_videoPid)
        return false;
    int length = 0;
    const std::uint8_t* payload = CMpegTsDemux::PayloadOf(packet, length);
    if (payload == nullptr || length < 4 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1)
        return false;
    return ReadPesPts(payload, length, stamp);
}
