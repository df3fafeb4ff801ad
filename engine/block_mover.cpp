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
                      ? kBlockSize / static_cast<std::size_t>(packetStride) * static_cast<std::size_t>(packetStride)
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
        while (next < drops.size() && drops[next].to <= m_read) ++next;
        if (next < drops.size() && m_read >= drops[next].from) {
            const CutDrop& drop = drops[next++];
            logCut(drop);
            if (drop.reachesEnd) break;
            if (drop.videoOnly)
                moveWithoutVideo(drop.to);
            else
                m_read = drop.to;
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

void CBlockMover::moveWithoutVideo(std::uint64_t to) {
    // The packets of the other streams (sound above all) stay, so that no
    // audio frame is broken here.
    while (m_read < to) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kFilterChunk, to - m_read));
        readExactly(m_block.data(), count);
        std::size_t kept = 0;
        for (std::size_t at = 0; at < count; at += kPacketSize) {
            const std::size_t size = std::min(kPacketSize, count - at);
            const std::uint8_t* packet = m_block.data() + at;
            const bool video = size == kPacketSize && packet[0] == 0x47 &&
                               (((packet[1] & 0x1F) << 8) | packet[2]) == m_videoPid;
            if (video) continue;
            std::memmove(m_block.data() + kept, packet, size);
            kept += size;
        }
        m_destination.Seek(static_cast<std::int64_t>(m_write), CRawFile::begin);
        m_destination.Write(m_block.data(), kept);
        m_read += count;
        m_write += kept;
    }
}
