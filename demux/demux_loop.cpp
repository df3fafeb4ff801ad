// The slice loop of the demultiplexer: packets in, payloads to the unit
// assembly of their stream, until a channel's ring is nearly full.

#include <algorithm>
#include <cstring>
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
// The bytes lost belong to every stream: each channel's unit under way is
// marked as damaged. A stretch of a gigabyte takes a while: the progress hook
// is told where the search is, and may end it.
CMpegTsDemux::Resync CMpegTsDemux::resync(std::uint64_t from) {
    const std::uint64_t length = m_recording->GetLength();
    std::vector<std::uint8_t> block(kResyncBlock + kTsPacketSize + 1);
    for (std::uint64_t at = from; at + kTsPacketSize < length; at += kResyncBlock) {
        if (m_progressHook && !m_progressHook(at)) {
            m_cancelled = true;
            return Resync::Cancelled;
        }
        m_recording->Seek(static_cast<std::int64_t>(at), CRawFile::begin);
        const std::size_t got = m_recording->Read(block.data(), block.size());
        const std::size_t candidates = std::min(got, kResyncBlock);
        const std::uint8_t* data = block.data();
        for (std::size_t i = 0; i + kTsPacketSize < got && i < candidates; ++i) {
            const void* sync = std::memchr(data + i, kTsSyncByte, candidates - i);
            if (!sync) break;
            i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(sync) - data);
            if (i + kTsPacketSize >= got || data[i + kTsPacketSize] != kTsSyncByte) continue;
            const std::uint64_t found = at + i;
            ++m_dataErrors;
            LogPrint("Lost TS sync: skipped " + std::to_string(found - from) + " bytes from " +
                         Hex64(from),
                     1);
            m_recording->Seek(static_cast<std::int64_t>(found), CRawFile::begin);
            for (sPMTEntry& e : m_pmt) e.lastContinuity = -1;
            for (CMpegChannel* c : m_channels->Channels()) c->m_errorMark = 1;
            return Resync::Found;
        }
    }
    m_recording->Seek(static_cast<std::int64_t>(from), CRawFile::begin);
    return Resync::NotFound;
}

bool CMpegTsDemux::Demux() {
    const std::uint64_t length = m_recording->GetLength();
    const std::uint64_t endMark = length > kTailGuard ? length - kTailGuard : 0;
    while (m_recording->GetPosition() < endMark) {
        const std::uint64_t before = m_recording->GetPosition();
        const std::uint8_t* packet = nullptr;
        const int read = NextPacket(packet);
        if (read == 0) {
            if (before + kTsPacketSize < endMark) {
                const Resync found = resync(before + 1);
                if (found == Resync::Found) continue;
                if (found == Resync::Cancelled) {
                    markStreamsEnded();
                    return false;
                }
            }
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
        if (assemble(*channel, payload, payloadLength, TsUnitStart(packet)) == Step::Stop) {
            markStreamsEnded();  // the rest is not demultiplexed
            return false;
        }
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

// Nothing more arrives for any stream: the synchroniser need not wait for
// one of them any more.
void CMpegTsDemux::markStreamsEnded() {
    for (CMpegChannel* c : m_channels->Channels()) c->m_atEnd = 1;
}

// The data has ended. The last GOP has no sequence header after it to close
// it: it is queued as it stands, unless it lies in a cut area. The data may
// end inside its last picture (the last 512 bytes are never read), so it is
// cut as after a loss.
void CMpegTsDemux::flushVideo() {
    markStreamsEnded();
    CMpegChannel* video = m_channels->m_videoChannel;
    if (!video || !video->m_started || video->m_inCut ||
        video->BufferFill() <= video->m_unitHeaderLength || video->Count() >= video->RingCapacity() - 1)
        return;
    std::int64_t pts = 0;
    if (!ReadPesPts(video->Buffer(), video->m_unitHeaderLength, pts)) return;
    if (FindCutArea(pts)) return;
    if (!video->m_unitSealed) {
        const int end = wholePicturesEnd(*video);
        if (end < 0) return;
        video->TruncateBuffer(end);
    }
    if (!unitHasPicture(*video)) return;
    queueUnit(*video, static_cast<std::uint64_t>(pts), kKindVideo, video->BufferFill());
    video->EmptyBuffer();
    video->m_unitPTSValid = 0;
}
