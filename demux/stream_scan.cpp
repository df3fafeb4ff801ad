// Stream discovery: the PMT and the PES streams of a sample of the recording,
// the bit-rate estimate, and the channels of a demultiplexing run.

#include <algorithm>
#include <map>

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

struct sPIDInfo {
    std::int32_t count = 0;     // PES starts after the first
    std::int32_t streamId = 0;  // of the first
    std::int32_t pid = 0;
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
}  // namespace

struct CMpegTsDemux::ScanState {
    bool pmtTaken = false;
    std::map<int, sPIDInfo> discovered;  // by PID
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
    if (!state.pmtTaken && CPmtParser::IsPMTSection(payload + 1, length - 1)) {
        CPMT found;
        CPmtParser parser(found);
        parser.OnPMTSection(payload + 1, length - 1);
        if (!found.empty()) {
            pmtPid = static_cast<std::uint16_t>(TsPid(packet));
            m_pmt = std::move(found);
            state.pmtTaken = true;
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
    if (!kept) return;
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
    if (it == state.discovered.end())
        state.discovered.emplace(pid, sPIDInfo{0, streamId, pid});
    else
        ++it->second.count;
}

void CMpegTsDemux::finishScan(ScanState& state, std::uint16_t& videoPid, std::uint16_t& audioPid,
                              std::uint16_t& ac3Pid) {
    if (state.pmtTaken) {
        // A stream the PMT lists but whose PID carried no PES start in the
        // sample is not used.
        std::erase_if(m_pmt, [&](const sPMTEntry& e) { return !state.discovered.contains(e.pid); });
        state.pmtTaken = !m_pmt.empty();
    }
    if (state.pmtTaken) {
        // The PIDs come from the entries that stand, so none names a stream
        // that was just removed. The first MPEG audio wins, and a caller's
        // audio PID stays.
        for (const sPMTEntry& e : m_pmt) {
            const auto pid = static_cast<std::uint16_t>(e.pid);
            if (IsMpegAudio(e.streamType) && audioPid == 0) audioPid = pid;
            if (e.streamType == kStreamVideo) videoPid = pid;
            if (e.streamType == kStreamAC3) ac3Pid = pid;
        }
    } else {
        m_pmt.clear();
        for (const auto& [pid, info] : state.discovered) {
            sPMTEntry e;
            e.pid = pid;
            if (isVideoId(info.streamId)) {
                e.streamType = kStreamVideo;
                videoPid = static_cast<std::uint16_t>(pid);
            } else if (isAudioId(info.streamId)) {
                e.streamType = kStreamMpeg2Audio;
                e.language = "std";
                audioPid = static_cast<std::uint16_t>(pid);
            } else {
                e.streamType = kStreamAC3;
                e.language = "std";
                ac3Pid = static_cast<std::uint16_t>(pid);
            }
            m_pmt.push_back(e);
        }
    }
    SetEstimatedBitRate(
        EstimateBitRate(state.firstPts, state.lastPts, state.firstPosition, state.lastPosition));
}

std::int32_t EstimateBitRate(std::int64_t firstPts, std::int64_t lastPts,
                             std::uint64_t firstPosition, std::uint64_t lastPosition) {
    const double durationMs = static_cast<double>(PtsDifference(firstPts, lastPts)) / 90.0;
    if (static_cast<std::int64_t>(durationMs) == 0) return 4000;
    const double bytes = static_cast<double>(lastPosition) - static_cast<double>(firstPosition);
    const double rate = bytes * 8.0 / durationMs;
    return static_cast<std::int32_t>(std::clamp(rate, 2000.0, 8000.0));
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
        if (e.streamType == kStreamPrivateOther) continue;
        const auto pid = static_cast<std::uint16_t>(e.pid);
        m_channels->Add(pid,
                        std::make_unique<CMpegChannel>(e.streamType, pid, kInputChannelBufferSize));
        if (e.streamType == kStreamVideo) m_channels->m_videoPid = pid;
    }
}
