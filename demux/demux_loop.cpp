// The slice loop of the demultiplexer: packets in, payloads to the unit
// assembly of their stream, until a channel's ring is nearly full.

#include <algorithm>
#include <vector>

#include "demux/mpeg_ts_demux.h"
#include "demux/raw_file.h"
#include "output/channel_set.h"
#include "output/mpeg_channel.h"
#include "shell/log.h"
#include "shell/text.h"

namespace {
// The last 512 bytes of a recording are never demultiplexed (receivers leave
// a partial block there).
constexpr std::uint64_t kTailGuard = 512;
constexpr std::size_t kResyncBlock = 1 << 16;
// One payload can finish up to two short audio frames; the slice ends while
// there is still room for them in the ring.
constexpr std::int32_t kRingReserve = 3;
}  // namespace

// After ReadPacket gave up (no sync byte within 8 KiB) the search goes on to
// the end of the recording: a sync byte with another one a packet later. A
// damaged stretch costs only its own bytes, not the rest of the recording.
bool CMpegTsDemux::resync(std::uint64_t from) {
    const std::uint64_t length = m_recording->GetLength();
    std::vector<std::uint8_t> block(kResyncBlock + kTsPacketSize + 1);
    for (std::uint64_t at = from; at + kTsPacketSize < length; at += kResyncBlock) {
        m_recording->Seek(static_cast<std::int64_t>(at), CRawFile::begin);
        const std::size_t got = m_recording->Read(block.data(), block.size());
        for (std::size_t i = 0; i + kTsPacketSize < got && i < kResyncBlock; ++i) {
            if (block[i] == kTsSyncByte && block[i + kTsPacketSize] == kTsSyncByte) {
                const std::uint64_t found = at + i;
                ++m_dataErrors;
                LogPrint("Lost TS sync: skipped " + std::to_string(found - from) + " bytes from " +
                             Hex64(from),
                         1);
                m_recording->Seek(static_cast<std::int64_t>(found), CRawFile::begin);
                for (sPMTEntry& e : m_pmt) e.lastContinuity = -1;
                return true;
            }
        }
    }
    m_recording->Seek(static_cast<std::int64_t>(from), CRawFile::begin);
    return false;
}

bool CMpegTsDemux::Demux() {
    const std::uint64_t length = m_recording->GetLength();
    const std::uint64_t endMark = length > kTailGuard ? length - kTailGuard : 0;
    while (m_recording->GetPosition() < endMark) {
        const std::uint64_t before = m_recording->GetPosition();
        const std::uint8_t* packet = nullptr;
        const int read = NextPacket(packet);
        if (read == 0) {
            if (before + kTsPacketSize < endMark && resync(before + 1)) continue;
            LogPrint("Not a valid TS-packet found at position " +
                         Hex64(m_recording->GetPosition()),
                     1);
            flushVideo();
            LogWrite("Reached end of stream", 1);
            return false;
        }
        int payloadLength = 0;
        const std::uint8_t* payload = PayloadOf(packet, payloadLength);
        if (payload == nullptr) continue;
        const int pid = TsPid(packet);
        auto entry = std::find_if(m_pmt.begin(), m_pmt.end(), [pid](const sPMTEntry& e) {
            return static_cast<std::uint16_t>(e.pid) == pid;
        });
        if (entry == m_pmt.end()) continue;
        CMpegChannel* channel = m_channels->Lookup(static_cast<std::uint16_t>(pid));
        if (!channel) continue;
        const int missing = CheckContinuity(entry->lastContinuity, TsContinuity(packet));
        if (missing == -1 || missing == 14) continue;
        if (missing != 0 || read == -1) {
            ++m_dataErrors;
            LogPrint(std::string(read == -1 ? "Detected invalid TS packet length @"
                                            : "Detected TS packet sequence error @") +
                         Hex64(m_recording->GetPosition()),
                     1);
            channel->m_errorMark = 1;
        }
        if (assemble(*channel, payload, payloadLength, TsUnitStart(packet)) == Step::Stop)
            return false;
        if (m_dropPid >= 0) {
            std::erase_if(m_pmt, [this](const sPMTEntry& e) { return e.pid == m_dropPid; });
            m_dropPid = -1;
        }
        if (channel->Count() >= channel->RingCapacity() - kRingReserve) return true;
    }
    flushVideo();
    LogWrite("Reached end of stream", 1);
    return false;
}

// The last GOP has no sequence header after it to close it: at the end of the
// data it is queued as it stands, unless it lies in a cut area.
void CMpegTsDemux::flushVideo() {
    CMpegChannel* video = m_channels->m_videoChannel;
    if (!video || !video->m_started || video->m_inCut || video->m_errorMark ||
        video->BufferFill() <= video->m_unitHeaderLength || video->Count() >= video->RingCapacity() - 1)
        return;
    std::int64_t pts = 0;
    if (!ReadPesPts(video->Buffer(), video->m_unitHeaderLength, pts)) return;
    if (FindCutArea(pts)) return;
    // The data may end inside the last picture (and the last 512 bytes are
    // never read): that picture is left out rather than passed on broken.
    const std::uint8_t* d = video->Buffer();
    int end = video->BufferFill();
    int lastPicture = -1;
    for (int i = video->m_unitHeaderLength; i + 3 < end; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0) lastPicture = i;
    int firstPicture = -1;
    for (int i = video->m_unitHeaderLength; i + 3 < end && firstPicture < 0; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0) firstPicture = i;
    if (lastPicture <= firstPicture) return;  // not even one whole picture
    end = lastPicture;
    queueUnit(*video, static_cast<std::uint64_t>(pts), kKindVideo, end);
    video->EmptyBuffer();
}
