// The packet layer of the demultiplexer: finding packets, taking their
// payloads, the continuity check and the cut-area lookup.

#include "demux/mpeg_ts_demux.h"

#include <cstring>

#include "demux/raw_file.h"
#include "output/channel_set.h"
#include "output/mpeg_channel.h"
#include "shell/log.h"

namespace {
constexpr std::int64_t kPtsWrap = std::int64_t{1} << 33;
std::int32_t g_bitRate = 4000;
}  // namespace

std::int32_t EstimatedBitRate() {
    return g_bitRate;
}
void SetEstimatedBitRate(std::int32_t kbits) {
    g_bitRate = kbits;
}

std::int64_t PtsDifference(std::int64_t earlier, std::int64_t later) {
    return (later - earlier) & (kPtsWrap - 1);
}

bool ReadPesPts(const std::uint8_t* pes, int length, std::int64_t& pts) {
    // PES header: 00 00 01 id, length (2), flags (2), header length, PTS (5).
    if (length < 14 || (pes[7] & 0x80) == 0) return false;
    pts = (std::int64_t{(pes[9] >> 1) & 0x07} << 30) | (std::int64_t{pes[10]} << 22) |
          (std::int64_t{pes[11] >> 1} << 15) | (std::int64_t{pes[12]} << 7) | (pes[13] >> 1);
    return true;
}

CMpegTsDemux::CMpegTsDemux() : m_channels(std::make_unique<CChannelSet>()) {}

CMpegTsDemux::~CMpegTsDemux() = default;

int CMpegTsDemux::ReadPacket(std::uint8_t* packet) {
    // The current position and the next kResyncRange positions are tried.
    for (int attempt = 0;; ++attempt) {
        if (m_recording->Read(packet, kTsReadSize) < static_cast<std::size_t>(kTsReadSize)) {
            LogWrite("End of File detected", 1);
            return 0;
        }
        if (packet[0] == kTsSyncByte) break;
        if (attempt == kResyncRange) return 0;
        m_recording->Seek(-(kTsReadSize - 1), CRawFile::current);
    }
    m_recording->Seek(-(kTsReadSize - kTsPacketSize), CRawFile::current);
    return followerResult(packet[kTsPacketSize]);
}

int CMpegTsDemux::NextPacket(const std::uint8_t*& packet) {
    // The common case, a packet where one is expected, is taken in place
    // from the read buffer; anything else goes the searching way.
    const std::uint8_t* held = m_recording->Peek(kTsReadSize);
    if (held != nullptr && held[0] == kTsSyncByte) {
        m_recording->Seek(kTsPacketSize, CRawFile::current);
        packet = held;
        return followerResult(held[kTsPacketSize]);
    }
    packet = m_packetCopy;
    return ReadPacket(m_packetCopy);
}

// What follows a packet: the next sync byte, a receiver block (skipped), or
// anything else (the packet has an invalid length).
int CMpegTsDemux::followerResult(std::uint8_t next) {
    if (next == kReceiverBlockMark) {
        m_recording->Seek(kReceiverBlockSize, CRawFile::current);
        return 1;
    }
    return next == kTsSyncByte ? 1 : -1;
}

const std::uint8_t* CMpegTsDemux::PayloadOf(const std::uint8_t* packet, int& length) {
    const int adaptationControl = (packet[3] >> 4) & 0x03;
    const bool transportError = (packet[1] & 0x80) != 0;
    length = kTsPayloadSize;
    if (adaptationControl == 2) length = 0;
    if (adaptationControl == 3) {
        // The adaptation field's length byte plus that many bytes, never more
        // than the packet holds: a length of 183 leaves no payload at all.
        int adaptation = 1 + packet[4];
        if (adaptation > kTsPayloadSize) adaptation = kTsPayloadSize;
        length -= adaptation;
    }
    if (transportError || length == 0) return nullptr;
    return packet + kTsPacketSize - length;
}

bool CMpegTsDemux::GetPayload(const std::uint8_t* packet, std::uint8_t* payload, int& length) {
    const std::uint8_t* held = PayloadOf(packet, length);
    if (held == nullptr) return false;
    std::memcpy(payload, held, static_cast<std::size_t>(length));
    return true;
}

int CMpegTsDemux::CheckContinuity(std::int32_t& last, int cc) {
    int missing = 0;
    if (last >= 0) {
        missing = cc - last;
        if (cc < last) missing += 16;
        missing -= 1;
    }
    last = cc;
    return missing;
}

CCutArea* CMpegTsDemux::FindCutArea(CCutList& areas, std::int64_t startPts, std::int64_t pts,
                                    std::uint64_t positionSector, std::uint64_t lengthSector) {
    if (pts < startPts) pts += kPtsWrap;  // the 33-bit stamp wrapped since the start
    for (CCutArea& area : areas) {
        if (area.IsEnabled && area.PTSStart <= pts && pts < area.PTSEnd) return &area;
    }
    // An area that runs to within 512 sectors of the end cannot be told by
    // its end stamp: the file position decides. Compared without "length -
    // 512", which would wrap for a recording shorter than 256 KiB.
    for (CCutArea& area : areas) {
        if (area.IsEnabled && area.SectorStart < positionSector &&
            positionSector < area.SectorEnd && area.SectorEnd + 512 > lengthSector)
            return &area;
    }
    return nullptr;
}

CCutArea* CMpegTsDemux::FindCutArea(std::int64_t pts) {
    const CMpegChannel* video = m_channels->m_videoChannel;
    if (video == nullptr || m_recording == nullptr) return nullptr;
    return FindCutArea(m_cutAreas, static_cast<std::int64_t>(video->m_startPTS), pts,
                       m_recording->GetPosition() >> 9, m_recording->GetLength() >> 9);
}
