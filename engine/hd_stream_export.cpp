#include "engine/hd_stream_export.h"

#include <algorithm>
#include <utility>

#include "demux/raw_file.h"
#include "engine/hd_audio_track.h"
#include "engine/hd_video_track.h"
#include "output/mpeg_channel.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {
// The last 512 bytes of a recording are never demultiplexed (receivers leave
// a partial block there), as in the MPEG-2 jobs.
constexpr std::uint64_t kTailGuard = 512;
constexpr std::int32_t kOutputRing = 256;

bool isExportedAudio(StreamCodec codec) {
    return codec == StreamCodec::MpegAudio || codec == StreamCodec::Ac3 ||
           codec == StreamCodec::Eac3 || codec == StreamCodec::Aac || codec == StreamCodec::AacLatm;
}
}  // namespace

CHdStreamExport::CHdStreamExport(CRawFile& recording, const CPMT& streams, std::uint16_t videoPid,
                                 const CCutList& cuts)
    : m_recording(recording), m_cuts(cuts) {
    m_packets.SetRecording(recording);
    addStreams(streams, videoPid);
}

CHdStreamExport::~CHdStreamExport() = default;

CMpegChannel& CHdStreamExport::addOutput(const sPMTEntry& stream) {
    const auto pid = static_cast<std::uint16_t>(stream.pid);
    auto channel = std::make_unique<CMpegChannel>(stream.streamType, pid, 0);
    channel->SetRingSize(kOutputRing);
    return *m_output.Add(pid, std::move(channel));
}

// The video first, then the sound in the order of the programme; streams
// without an elementary-stream file are named.
void CHdStreamExport::addStreams(const CPMT& streams, std::uint16_t videoPid) {
    for (const sPMTEntry& stream : streams) {
        if (stream.pid != videoPid || !IsVideo(stream.streamType)) continue;
        CMpegChannel& out = addOutput(stream);
        m_video = std::make_unique<CHdVideoTrack>(
            stream, out, m_timeline, m_reference,
            [this](const codec::AssembledUnit& unit) { return keepGroup(unit); });
        Route route;
        route.video = m_video.get();
        m_routes.emplace_back(videoPid, route);
        break;
    }
    for (const sPMTEntry& stream : streams) {
        const auto pid = static_cast<std::uint16_t>(stream.pid);
        if (pid == videoPid || std::any_of(m_routes.begin(), m_routes.end(),
                                           [pid](const auto& r) { return r.first == pid; }))
            continue;
        const StreamCodec codec = EntryCodec(stream);
        if (!IsAudio(stream.streamType) || !isExportedAudio(codec)) {
            LogPrint(std::string(CodecDisplayName(codec)) + " PID " + Hex16(pid) +
                         (stream.language.empty() ? "" : " (" + stream.language + ")") +
                         ": not exported, elementary-stream files take the video and the sound",
                     1);
            continue;
        }
        CMpegChannel& out = addOutput(stream);
        m_audio.push_back(std::make_unique<CHdAudioTrack>(stream, out, m_timeline, m_reference));
        Route route;
        route.audio = m_audio.back().get();
        m_routes.emplace_back(pid, route);
    }
}

// A group of pictures goes out unless its random-access point lies in a cut
// area: by the stamp a mark set on it has, or, for an area that runs to the
// end of the recording, by its position.
bool CHdStreamExport::keepGroup(const codec::AssembledUnit& unit) {
    if (m_cuts.empty() || !m_video || !m_video->HasFirstStamp()) return true;
    return CMpegTsDemux::FindCutArea(m_cuts, static_cast<std::int64_t>(m_video->FirstStamp()),
                                     static_cast<std::int64_t>(unit.stamp), unit.position >> 9,
                                     m_recording.GetLength() >> 9) == nullptr;
}

void CHdStreamExport::lose(Route& route) {
    if (route.video) route.video->Lose();
    if (route.audio) route.audio->Lose();
}

void CHdStreamExport::packet(const std::uint8_t* data, bool invalidLength) {
    int length = 0;
    const std::uint8_t* payload = CMpegTsDemux::PayloadOf(data, length);
    if (payload == nullptr) return;
    const int pid = TsPid(data);
    auto found = std::find_if(m_routes.begin(), m_routes.end(),
                              [pid](const auto& r) { return r.first == pid; });
    if (found == m_routes.end()) return;
    Route& route = found->second;
    const int missing = CMpegTsDemux::CheckContinuity(route.continuity, TsContinuity(data));
    if (missing == -1 || missing == 14) return;  // a repeated packet
    const bool lost = missing != 0 || invalidLength;
    if (lost) {
        ++m_packetErrors;
        LogPrint(std::string(invalidLength ? "Detected invalid TS packet length @"
                                           : "Detected TS packet sequence error @") +
                     Hex64(m_recording.GetPosition()),
                 1);
    }
    // Scrambled packets carry nothing a decoder can use: their bytes count as lost.
    if ((data[3] & 0xC0) != 0) {
        if (!std::exchange(route.scrambledSeen, true)) {
            ++m_packetErrors;
            LogPrint("Stream PID=" + Hex16(static_cast<std::uint16_t>(pid)) +
                         " seems to be (partly) scrambled!!! Its scrambled packets are left out",
                     1);
        }
        lose(route);
        return;
    }
    if (route.video) {
        codec::VideoPayload video;
        video.data = payload;
        video.length = length;
        video.positionAfter = m_recording.GetPosition();
        video.adaptationControl = (data[3] >> 4) & 3;
        route.video->Feed(video, TsUnitStart(data), lost);
        for (auto& audio : m_audio) audio->Place();
    } else if (route.audio) {
        route.audio->Feed(payload, length, TsUnitStart(data), lost);
    }
}

bool CHdStreamExport::Step(std::uint64_t bytes) {
    const std::uint64_t length = m_recording.GetLength();
    const std::uint64_t endMark = length > kTailGuard ? length - kTailGuard : 0;
    const std::uint64_t until = m_recording.GetPosition() + bytes;
    while (m_recording.GetPosition() < endMark) {
        if (m_recording.GetPosition() >= until) return true;
        const std::uint64_t before = m_recording.GetPosition();
        const std::uint8_t* data = nullptr;
        const int read = m_packets.NextPacket(data);
        if (read == 0) {
            if (before + kTsPacketSize < endMark) {
                const CMpegTsDemux::Resync found = m_packets.resync(before + 1);
                if (found == CMpegTsDemux::Resync::Found) {
                    for (auto& [pid, route] : m_routes) lose(route);
                    continue;
                }
                if (found == CMpegTsDemux::Resync::Cancelled) return false;
            }
            LogPrint("Not a valid TS-packet found at position " + Hex64(m_recording.GetPosition()), 1);
            return false;
        }
        packet(data, read == -1);
    }
    LogWrite("Reached end of stream", 1);
    return false;
}

void CHdStreamExport::Finish() {
    if (m_video) m_video->Finish();
    m_timeline.Finish();
    for (auto& audio : m_audio) {
        audio->Finish();
        audio->Place();
    }
}

int CHdStreamExport::DataErrors() const {
    int errors = m_packetErrors + m_packets.DataErrors();
    if (m_video) errors += m_video->DataErrors();
    for (const auto& audio : m_audio) errors += audio->DataErrors();
    return errors;
}
