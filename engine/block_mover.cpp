#include "engine/block_mover.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "demux/raw_file.h"
#include "platform/file.h"
#include "shell/log.h"

namespace {
constexpr std::size_t kPacketSize = 188;
// Whole packets, so that a stretch is filtered packet by packet.
constexpr std::size_t kFilterChunk = (CBlockMover::kBlockSize / kPacketSize) * kPacketSize;
// How far around a cut the sound's PES packets are completed or skipped: a
// PES of a sound stream spans a few packets, far below this.
constexpr std::uint64_t kUnitReach = 1 << 20;

std::uint16_t pidOf(const std::uint8_t* packet) {
    return static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
}
bool isUnitStart(const std::uint8_t* packet) {
    return (packet[1] & 0x40) != 0;
}
bool isWholePacket(const std::uint8_t* packet, std::size_t size) {
    return size == kPacketSize && packet[0] == 0x47;
}
// An adaptation field with a PCR: its flags byte follows the length byte.
bool carriesPcr(const std::uint8_t* packet) {
    return (packet[3] & 0x20) != 0 && packet[4] > 0 && (packet[5] & 0x10) != 0;
}
constexpr std::uint8_t kDiscontinuityIndicator = 0x80;
}  // namespace

CBlockMover::CBlockMover(CRawFile& source, CRawFile& destination, bool inPlace,
                         std::uint16_t videoPid, bool hardCut, std::int32_t packetStride,
                         ProgressFn progress)
    : m_source(source),
      m_destination(destination),
      m_inPlace(inPlace),
      m_videoPid(videoPid),
      m_hardCut(hardCut),
      m_progress(std::move(progress)),
      m_blockSize(packetStride > 0 && static_cast<std::size_t>(packetStride) <= kBlockSize
                      ? kBlockSize / static_cast<std::size_t>(packetStride) *
                            static_cast<std::size_t>(packetStride)
                      : kBlockSize),
      m_block(kBlockSize) {}

void CBlockMover::Run(std::uint64_t readPosition, std::uint64_t writePosition,
                      const std::vector<CutDrop>& drops) {
    m_read = readPosition;
    m_write = writePosition;
    const std::uint64_t end = m_source.GetLength();
    std::size_t next = 0;
    while (m_read < end) {
        // Passed over drops (behind the start) are of no concern.
        while (next < drops.size() && drops[next].to <= m_read)
            ++next;
        if (next < drops.size() && m_read >= drops[next].from) {
            const CutDrop& drop = drops[next++];
            logCut(drop);
            if (drop.reachesEnd) break;
            if (drop.videoOnly) {
                moveWithoutVideo(drop.to);
                continue;
            }
            if (drop.kind == CutDrop::Area)
                completeOpenUnits(std::min(drop.to, drop.from + kUnitReach));
            m_read = drop.to;
            const std::uint64_t limit = next < drops.size() ? drops[next].from : end;
            skipPartialUnits(std::min(limit, m_read + kUnitReach), drop.kind == CutDrop::Area);
            continue;
        }
        // A copy stops on cancel; a run in place goes on, since stopping
        // would leave the recording half moved.
        if (!m_progress(m_read) && !m_inPlace) {
            m_cancelled = true;
            return;
        }
        const std::uint64_t limit = next < drops.size() ? drops[next].from : end;
        moveBlock(static_cast<std::size_t>(std::min<std::uint64_t>(m_blockSize, limit - m_read)));
    }
}

void CBlockMover::logCut(const CutDrop& drop) const {
    if (drop.kind != CutDrop::Area) return;
    LogWrite("Detected cut at " + std::to_string(static_cast<std::uint32_t>(m_read)), 1);
    if (drop.reachesEnd)
        LogWrite("Cut stops at end of stream => exit", 1);
    else
        LogWrite(m_hardCut ? "Performing hard cut" : "Performing soft cut", 1);
}

void CBlockMover::readExactly(std::uint8_t* buffer, std::size_t count) {
    m_source.Seek(static_cast<std::int64_t>(m_read), CRawFile::begin);
    if (m_source.Read(buffer, count) != count)
        throw platform::FileException(EIO, m_source.GetFilePath(),
                                      "The recording ended before its stated length");
}

void CBlockMover::moveBlock(std::size_t count) {
    // In place, data that has not moved is where it belongs already.
    if (!(m_inPlace && m_read == m_write)) {
        readExactly(m_block.data(), count);
        m_destination.Seek(static_cast<std::int64_t>(m_write), CRawFile::begin);
        m_destination.Write(m_block.data(), count);
    }
    m_read += count;
    m_write += count;
}

void CBlockMover::filterPackets(std::uint64_t to, const PacketFilter& filter) {
    bool stopped = false;
    while (m_read < to && !stopped) {
        m_changed = false;
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(kFilterChunk, to - m_read));
        readExactly(m_block.data(), count);
        std::size_t kept = 0;
        std::size_t at = 0;
        for (; at < count; at += kPacketSize) {
            const std::size_t size = std::min(kPacketSize, count - at);
            const std::uint8_t* packet = m_block.data() + at;
            const Verdict verdict = filter(m_block.data() + at, size);
            if (verdict == Verdict::Stop) {
                stopped = true;
                break;
            }
            if (verdict == Verdict::Drop) continue;
            std::memmove(m_block.data() + kept, packet, size);
            kept += size;
        }
        // In place the kept packets may be where they belong already.
        if (kept > 0 && !(m_inPlace && m_read == m_write && kept == at && !m_changed)) {
            m_destination.Seek(static_cast<std::int64_t>(m_write), CRawFile::begin);
            m_destination.Write(m_block.data(), kept);
        }
        m_read += at;
        m_write += kept;
    }
}

void CBlockMover::moveWithoutVideo(std::uint64_t to) {
    // The packets of the other streams (sound above all) stay, so that no
    // audio frame is broken here.
    filterPackets(to, [this](std::uint8_t* packet, std::size_t size) {
        return isWholePacket(packet, size) && pidOf(packet) == m_videoPid ? Verdict::Drop
                                                                          : Verdict::Keep;
    });
}

void CBlockMover::completeOpenUnits(std::uint64_t to) {
    // The sound PES packets under way where the kept data ends are finished
    // from the stretch that is cut out, up to the next unit start of each.
    std::set<std::uint16_t> open = m_audioPids;
    filterPackets(to, [&open](std::uint8_t* packet, std::size_t size) {
        if (open.empty()) return Verdict::Stop;
        if (!isWholePacket(packet, size) || !open.count(pidOf(packet))) return Verdict::Drop;
        if (!isUnitStart(packet)) return Verdict::Keep;
        open.erase(pidOf(packet));
        return Verdict::Drop;
    });
}

void CBlockMover::skipPartialUnits(std::uint64_t limit, bool afterSplice) {
    // Where the data resumes, the rest of a sound PES whose start was cut out
    // is no use to anyone: it goes up to the stream's next unit start. The
    // first PCR after a splice gets the discontinuity indicator, so that a
    // player takes the jump of the clock for a new time base.
    std::set<std::uint16_t> waiting = m_audioPids;
    bool pcrMarked = !afterSplice || m_hardCut;
    filterPackets(limit, [&](std::uint8_t* packet, std::size_t size) {
        if (waiting.empty() && pcrMarked) return Verdict::Stop;
        if (!isWholePacket(packet, size)) return Verdict::Keep;
        if (waiting.count(pidOf(packet))) {
            if (!isUnitStart(packet)) return Verdict::Drop;
            waiting.erase(pidOf(packet));
        }
        if (!pcrMarked && carriesPcr(packet)) {
            packet[5] |= kDiscontinuityIndicator;
            pcrMarked = m_changed = true;
        }
        return Verdict::Keep;
    });
}
