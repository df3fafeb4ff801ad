#pragma once
// Moves a recording's data from a read position to a write position in 1 MiB
// blocks, leaving out the planned drops. The same file may be source and
// destination: the write position never passes the read position, and a block
// that has not moved is not rewritten.

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "engine/cut_drop.h"

class CRawFile;

class CBlockMover {
  public:
    static constexpr std::size_t kBlockSize = 1 << 20;
    // Called before every block; false asks a copying run to stop.
    using ProgressFn = std::function<bool(std::uint64_t readPosition)>;

    // Blocks are whole multiples of the packet stride, so that a copy that
    // stops early still ends on a packet boundary.
    CBlockMover(CRawFile& source, CRawFile& destination, bool inPlace, std::uint16_t videoPid,
                bool hardCut, std::int32_t packetStride, ProgressFn progress);

    // Moves source bytes [readPosition, end of the source) without the drops
    // to the destination from writePosition on. File errors propagate as
    // platform::FileException; the positions then say where it stopped.
    void Run(std::uint64_t readPosition, std::uint64_t writePosition,
             const std::vector<CutDrop>& drops);

    // The sound streams: at a cut, their PES packets are kept or dropped
    // whole, so that no audio frame is broken at a splice.
    void SetAudioPids(std::set<std::uint16_t> pids) { m_audioPids = std::move(pids); }

    std::uint64_t ReadPosition() const { return m_read; }
    std::uint64_t WritePosition() const { return m_write; }
    bool Cancelled() const { return m_cancelled; }

  private:
    void logCut(const CutDrop& drop) const;
    void moveBlock(std::size_t count);
    enum class Verdict { Keep, Drop, Stop };
    // The filter may change a packet it keeps; it then sets m_changed.
    using PacketFilter = std::function<Verdict(std::uint8_t* packet, std::size_t size)>;
    // Moves the packets of [read position, to) that the filter keeps; stops
    // before the first packet it answers Stop for.
    void filterPackets(std::uint64_t to, const PacketFilter& filter);
    void moveWithoutVideo(std::uint64_t to);
    void completeOpenUnits(std::uint64_t to);
    void skipPartialUnits(std::uint64_t limit, bool afterSplice);
    void readExactly(std::uint8_t* buffer, std::size_t count);

    CRawFile& m_source;
    CRawFile& m_destination;
    bool m_inPlace;
    std::uint16_t m_videoPid;
    std::set<std::uint16_t> m_audioPids;
    bool m_hardCut;
    ProgressFn m_progress;
    std::size_t m_blockSize;
    std::vector<std::uint8_t> m_block;
    std::uint64_t m_read = 0;
    std::uint64_t m_write = 0;
    bool m_cancelled = false;
    bool m_changed = false;
};
