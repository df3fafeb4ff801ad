#pragma once
// The byte-level cut engine behind "Copy edited recording" and "Remove cuts in
// recording": keeps the recording's header, finds its first packet, plans the
// cuts, moves the rest block by block and sets the new length. Source and
// destination are the same object for a run in place.

#include <cstdint>
#include <set>
#include <string>

#include "demux/cut_area.h"
#include "engine/block_mover.h"
#include "engine/cut_format.h"
#include "engine/function_mng.h"

class CRawFile;

class CCutEngine {
  public:
    CCutEngine(CRawFile& source, CRawFile& destination, std::uint16_t videoPid,
               CBlockMover::ProgressFn progress);

    // The sound streams whose PES packets are kept whole at a soft cut.
    void SetAudioPids(std::set<std::uint16_t> pids) { m_audioPids = std::move(pids); }

    // Done, Cancelled (a copy only) or Failed with ErrorMessage() set.
    JobResult Run(const CCutList& cuts);

    bool InPlace() const { return m_inPlace; }
    std::int32_t PacketStride() const { return m_format.packetStride; }
    std::int32_t SyncOffset() const { return m_syncOffset; }
    const std::string& ErrorMessage() const { return m_error; }

  private:
    JobResult cut(const CCutList& cuts, CBlockMover& mover);
    void copyHeader();
    std::uint64_t findFirstPacket(std::uint64_t from);
    void checkTfGetSync();
    void describeFailure(const std::string& reason, const CBlockMover& mover);

    CRawFile& m_source;
    CRawFile& m_destination;
    bool m_inPlace;
    std::uint16_t m_videoPid;
    std::set<std::uint16_t> m_audioPids;
    CBlockMover::ProgressFn m_progress;
    CutFormat m_format;
    std::int32_t m_syncOffset = 0;
    std::string m_error;
};
