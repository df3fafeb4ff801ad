// Stream discovery: the PMT and the PES streams of a sample of the recording,
// the bit-rate estimate, and the channels of a demultiplexing run.

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <vector>

#include "demux/mpeg_ts_demux.h"
#include "demux/pmt_parser.h"
#include "demux/raw_file.h"
#include "output/channel_set.h"
#include "output/mpeg_channel.h"
#include "shell/log.h"

namespace {
// The sample: 1.5 MiB from the start, then the rest of 2 MiB from 4 MiB
// before the end, so streams that start late are seen too.
constexpr std::uint64_t kSampleSize = 2097152;
constexpr std::uint64_t kHeadSample = 1572864;
constexpr std::uint64_t kTailDistance = 4194304;

// The upper limit of the bit-rate estimate: MPEG-2 recordings of these
// receivers stay below 8 Mbit/s, HD recordings in H.264 or HEVC run at 10 to
// 20 Mbit/s and UHD ones higher.
constexpr std::int32_t kMaxMpeg2BitRate = 8000;
constexpr std::int32_t kMaxHdBitRate = 80000;

// Bytes of the first PES payload of a PID kept to tell its codec when no
// PMT names it.
constexpr int kSniffSize = 16;

struct sPIDInfo {
    std::int32_t count = 0;     // PES starts after the first
    std::int32_t streamId = 0;  // of the first
    std::int32_t pid = 0;
    std::array<std::uint8_t, kSniffSize> head{};  // its first payload bytes
    int headLength = 0;
};

// First 00 00 01 in the payload, trying start positions 0 .. length - 5.
int findStartCode(const std::uint8_t* payload, int length) {
    for (int i = 0; i + 5 <= length; ++i) {
        if (payload[i] == 0 && payload[i + 1] == 0 && payload[i + 2] == 1) return i;
    }
    return -1;
}

bool holdsAc3Sync(const std::uint8_t* payload, int length) {
    for (int i = 0; i + 1 < length; ++i) {
        if (payload[i] == 0x0B && payload[i + 1] == 0x77) return true;
    }
    return false;
}

bool isVideoId(int id) {
    return id >= 0xE0 && id <= 0xEF;
}
bool isAudioId(int id) {
    return id >= 0xC0 && id <= 0xCF;
}

// The elementary-stream bytes at the start of a PES packet that begins at
// pes[0]: up to kSniffSize of them.
int pesDataHead(const std::uint8_t* pes, int length, std::uint8_t* out) {
    if (length < 9) return 0;
    const int from = 9 + pes[8];
    const int n = std::clamp(length - from, 0, kSniffSize);
    std::copy_n(pes + from, n, out);
    return n;
}

// Offset of the first NAL unit header (behind 00 00 01) in a PES payload's
// first bytes, or -1.
int firstNalHeader(const std::uint8_t* p, int n) {
    for (int i = 0; i + 4 < n; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i + 3;
    return -1;
}

// Video found without a PMT is MPEG-2 unless its first PES starts the way an
// H.264 or HEVC access unit does: an access unit delimiter or a parameter
// set. (The same bytes in MPEG-2 video would be a slice right behind the PES
// header, where MPEG-2 has a sequence, GOP or picture header.)
std::int32_t sniffVideoType(const sPIDInfo& info) {
    const int at = firstNalHeader(info.head.data(), info.headLength);
    if (at < 0) return kStreamVideo;
    const std::uint8_t b = info.head[static_cast<std::size_t>(at)];
    const std::uint8_t next = info.head[static_cast<std::size_t>(at + 1)];
    // HEVC: access unit delimiter (35) or video parameter set (32) of layer
    // 0, temporal id 0.
    if ((b == 0x46 || b == 0x40) && next == 0x01) return kStreamHevc;
    // H.264: access unit delimiter with primary_pic_type and its stop bit,
    // or a sequence parameter set of a known profile.
    if (b == 0x09 && (next & 0x1F) == 0x10) return kStreamH264;
    if ((b & 0x9F) == 0x07 && (b & 0x60) != 0 &&
        (next == 66 || next == 77 || next == 88 || next == 100 || next == 110 || next == 122))
        return kStreamH264;
    return kStreamVideo;
}

// MPEG audio unless the first frame is AAC: an ADTS header (layer bits 00)
// or an LOAS/LATM sync word.
std::int32_t sniffAudioType(const sPIDInfo& info) {
    const auto& h = info.head;
    if (info.headLength < 2) return kStreamMpeg2Audio;
    if (h[0] == 0xFF && (h[1] & 0xF6) == 0xF0) return kStreamAacAdts;
    if (h[0] == 0x56 && (h[1] & 0xE0) == 0xE0) return kStreamAacLatm;
    return kStreamMpeg2Audio;
}

// Private stream 1 with the 0B 77 sync word: E-AC-3 when its bsid is 11 to
// 16 (ATSC A/52 Annex E), AC-3 otherwise.
std::int32_t sniffPrivateType(const sPIDInfo& info) {
    const auto& h = info.head;
    for (int i = 0; i + 5 < info.headLength; ++i) {
        if (h[static_cast<std::size_t>(i)] != 0x0B || h[static_cast<std::size_t>(i) + 1] != 0x77)
            continue;
        const int bsid = h[static_cast<std::size_t>(i) + 5] >> 3;
        return bsid > 10 && bsid <= 16 ? kStreamEac3 : kStreamAC3;
    }
    return kStreamAC3;
}

// A PMT section that does not fit into one packet (a PMT with many subtitle
// and audio streams easily exceeds 183 bytes), gathered from the packets of
// its PID that follow.
class SectionGatherer {
  public:
    // The whole section once its last packet has come (valid until the next
    // call), else nullptr.
    const std::uint8_t* Add(const std::uint8_t* packet, const std::uint8_t* payload, int length,
                            int& sectionLength) {
        if (length <= 0) return nullptr;
        const int pid = TsPid(packet);
        if (TsUnitStart(packet)) {
            // A new section of the PID gathered ends it; another PID's PES
            // start does not.
            if (pid == m_pid) m_pid = -1;
            start(packet, payload, length);
            return nullptr;
        }
        if (pid != m_pid) return nullptr;
        // A lost packet breaks the section: it waits for the next repetition.
        if (TsContinuity(packet) != ((m_lastCc + 1) & 0x0F)) {
            m_pid = -1;
            return nullptr;
        }
        m_lastCc = TsContinuity(packet);
        m_bytes.insert(m_bytes.end(), payload, payload + length);
        if (m_bytes.size() < m_needed) return nullptr;
        m_pid = -1;
        sectionLength = static_cast<int>(m_needed);
        return m_bytes.data();
    }

  private:
    void start(const std::uint8_t* packet, const std::uint8_t* payload, int length) {
        const int at = 1 + payload[0];  // behind the pointer field
        if (at + 3 > length || payload[at] != 2 || (payload[at + 1] & 0x80) == 0) return;
        const int sectionLength = ((payload[at + 1] & 0x0F) << 8) | payload[at + 2];
        if (sectionLength > 1021 || at + 3 + sectionLength <= length) return;
        m_pid = TsPid(packet);
        m_lastCc = TsContinuity(packet);
        m_needed = static_cast<std::size_t>(3 + sectionLength);
        m_bytes.assign(payload + at, payload + length);
    }

    int m_pid = -1;
    int m_lastCc = -1;
    std::size_t m_needed = 0;
    std::vector<std::uint8_t> m_bytes;
};
}  // namespace

struct CMpegTsDemux::ScanState {
    bool pmtTaken = false;
    SectionGatherer section;
    std::map<int, sPIDInfo> discovered;  // by PID
    // PIDs that carried PES packets of private stream 1 without AC-3 sync
    // (DVB subtitles, teletext, and AAC that some multiplexers send as
    // private stream 1): they confirm PMT entries of those kinds.
    std::set<int> privatePes;
    bool havePts = false;
    std::int64_t firstPts = 0, lastPts = 0;
    std::uint64_t firstPosition = 0, lastPosition = 0;
};

bool CMpegTsDemux::ScanStreams(CRawFile& recording, std::uint16_t& pmtPid, std::uint16_t& videoPid,
                               std::uint16_t& audioPid, std::uint16_t& ac3Pid) {
    m_recording = &recording;
    m_pmt.clear();
    recording.SeekToStart();
    const std::uint64_t fileLength = recording.GetLength();
    ScanState state;
    std::uint8_t packet[kTsReadSize];
    std::uint8_t payload[kTsPayloadSize];
    bool jumped = false;
    for (std::uint64_t count = 0; count < kSampleSize; count += kTsPacketSize) {
        if (!jumped && count > kHeadSample && fileLength > kTailDistance) {
            recording.Seek(static_cast<std::int64_t>(fileLength - kTailDistance), CRawFile::begin);
            jumped = true;
        }
        if (ReadPacket(packet) == 0) {
            // The end of the recording ends the sample; a stretch without sync
            // is only passed over.
            if (recording.GetPosition() + kTsReadSize > fileLength) break;
            continue;
        }
        int length = 0;
        if (!GetPayload(packet, payload, length)) continue;
        scanPacket(state, packet, payload, length, pmtPid, videoPid, audioPid, ac3Pid);
    }
    finishScan(state, videoPid, audioPid, ac3Pid);
    return true;
}

void CMpegTsDemux::scanPacket(ScanState& state, const std::uint8_t* packet,
                              const std::uint8_t* payload, int length, std::uint16_t& pmtPid,
                              std::uint16_t&, std::uint16_t&, std::uint16_t&) {
    if (!state.pmtTaken) {
        const std::uint8_t* section = payload + 1;
        int sectionLength = length - 1;
        if (!CPmtParser::IsPMTSection(section, sectionLength))
            section = state.section.Add(packet, payload, length, sectionLength);
        if (section != nullptr && CPmtParser::IsPMTSection(section, sectionLength)) {
            CPMT found;
            CPmtParser parser(found);
            parser.OnPMTSection(section, sectionLength);
            if (!found.empty()) {
                pmtPid = static_cast<std::uint16_t>(TsPid(packet));
                m_pmt = std::move(found);
                state.pmtTaken = true;
            }
        }
    }
    // PIDs 0x0000-0x001F carry the PAT, CAT and the DVB service tables, and
    // 0x1FFF is padding: bytes 00 00 01 E0 inside a table are no video.
    const int pid = TsPid(packet);
    if (pid < 0x20 || pid == 0x1FFF) return;
    const int start = findStartCode(payload, length);
    if (start < 0) return;
    const int streamId = payload[start + 3];
    const bool kept = isVideoId(streamId) || isAudioId(streamId) ||
                      (streamId == 0xBD && holdsAc3Sync(payload, length));
    if (!kept) {
        if (streamId == 0xBD) state.privatePes.insert(pid);
        return;
    }
    std::int64_t pts = 0;
    if (ReadPesPts(payload + start, length - start, pts)) {
        const std::uint64_t position = m_recording->GetPosition();
        if (!state.havePts) {
            state.havePts = true;
            state.firstPts = pts;
            state.firstPosition = position;
        }
        state.lastPts = pts;
        state.lastPosition = position;
    }
    auto it = state.discovered.find(pid);
    if (it == state.discovered.end()) {
        sPIDInfo info{0, streamId, pid};
        info.headLength = pesDataHead(payload + start, length - start, info.head.data());
        state.discovered.emplace(pid, info);
    } else {
        ++it->second.count;
    }
}

void CMpegTsDemux::finishScan(ScanState& state, std::uint16_t& videoPid, std::uint16_t& audioPid,
                              std::uint16_t& ac3Pid) {
    if (state.pmtTaken) {
        // A stream the PMT lists but whose PID carried no PES start in the
        // sample is not used.
        std::erase_if(m_pmt, [&](const sPMTEntry& e) {
            const bool privateKind = e.codec == StreamCodec::DvbSubtitle ||
                                     e.codec == StreamCodec::Teletext ||
                                     e.codec == StreamCodec::Aac || e.codec == StreamCodec::AacLatm;
            return !state.discovered.contains(e.pid) &&
                   !(privateKind && state.privatePes.contains(e.pid));
        });
        state.pmtTaken = !m_pmt.empty();
    }
    if (state.pmtTaken) {
        // The PIDs come from the entries that stand, so none names a stream
        // that was just removed. The first MPEG audio wins, and a caller's
        // audio PID stays.
        for (const sPMTEntry& e : m_pmt) {
            const auto pid = static_cast<std::uint16_t>(e.pid);
            if (IsMpegAudio(e.streamType) && audioPid == 0) audioPid = pid;
            if (IsVideo(e.streamType)) videoPid = pid;
            if (e.streamType == kStreamAC3) ac3Pid = pid;
        }
    } else {
        m_pmt.clear();
        for (const auto& [pid, info] : state.discovered) {
            sPMTEntry e;
            e.pid = pid;
            if (isVideoId(info.streamId)) {
                e.streamType = sniffVideoType(info);
                videoPid = static_cast<std::uint16_t>(pid);
            } else if (isAudioId(info.streamId)) {
                e.streamType = sniffAudioType(info);
                e.language = "std";
                if (e.streamType == kStreamMpeg2Audio) audioPid = static_cast<std::uint16_t>(pid);
            } else {
                e.streamType = sniffPrivateType(info);
                e.language = "std";
                if (e.streamType == kStreamAC3) ac3Pid = static_cast<std::uint16_t>(pid);
            }
            e.codec = EntryCodec(e);
            m_pmt.push_back(e);
        }
    }
    const bool hd = std::any_of(m_pmt.begin(), m_pmt.end(), [](const sPMTEntry& e) {
        return e.streamType == kStreamH264 || e.streamType == kStreamHevc;
    });
    SetEstimatedBitRate(EstimateBitRate(state.firstPts, state.lastPts, state.firstPosition,
                                        state.lastPosition, hd ? kMaxHdBitRate : kMaxMpeg2BitRate));
}

std::int32_t EstimateBitRate(std::int64_t firstPts, std::int64_t lastPts,
                             std::uint64_t firstPosition, std::uint64_t lastPosition,
                             std::int32_t maximum) {
    const double durationMs = static_cast<double>(PtsDifference(firstPts, lastPts)) / 90.0;
    if (static_cast<std::int64_t>(durationMs) == 0) return 4000;
    const double bytes = static_cast<double>(lastPosition) - static_cast<double>(firstPosition);
    const double rate = bytes * 8.0 / durationMs;
    return static_cast<std::int32_t>(std::clamp(rate, 2000.0, static_cast<double>(maximum)));
}

bool CMpegTsDemux::Init(CRawFile& recording, std::uint16_t& pmtPid, std::uint16_t& videoPid,
                        std::uint16_t& audioPid, std::uint16_t& ac3Pid) {
    LogScope scope("CMpegTsDemux::Init", 1);
    ScanStreams(recording, pmtPid, videoPid, audioPid, ac3Pid);
    createChannels();
    recording.SeekToStart();
    return true;
}

void CMpegTsDemux::createChannels() {
    m_channels = std::make_unique<CChannelSet>();
    for (const sPMTEntry& e : m_pmt) {
        // Streams the jobs cannot write yet (H.264, HEVC, AAC, E-AC-3,
        // subtitles, teletext) get no channel.
        if (!IsEngineStream(e.streamType)) continue;
        const auto pid = static_cast<std::uint16_t>(e.pid);
        m_channels->Add(pid,
                        std::make_unique<CMpegChannel>(e.streamType, pid, kInputChannelBufferSize));
        if (e.streamType == kStreamVideo) m_channels->m_videoPid = pid;
    }
}
