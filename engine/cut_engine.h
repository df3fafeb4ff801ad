#pragma once
// The byte-level cut engine behind "Copy edited recording" and "Remove cuts in
// recording": keeps the recording's header, finds its first packet, plans the
// cuts, moves the rest block by block and sets the new length. Source and
// destination are the same object for a run in place; such a run keeps a
// journal beside the recording, and a run that finds the journal of an
// interrupted one finishes that run instead of planning a new one.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "demux/cut_area.h"
#include "engine/block_mover.h"
#include "engine/cut_format.h"
#include "engine/cut_journal.h"
#include "engine/function_mng.h"
#include "engine/nal_splice_planner.h"

class CRawFile;

class CCutEngine {
  public:
    CCutEngine(CRawFile& source, CRawFile& destination, std::uint16_t videoPid,
               CBlockMover::ProgressFn progress);

    // In place: called once the recording is complete, before its journal
    // goes; the caller stores the emptied cut list there, so that no moment
    // leaves neither the journal nor a list that fits the recording.
    void SetOnComplete(std::function<void()> onComplete) { m_onComplete = std::move(onComplete); }

    // The sound streams whose PES packets are kept whole at a soft cut.
    void SetAudioPids(std::set<std::uint16_t> pids) { m_audioPids = std::move(pids); }
    // The recording's video codec and PES streams: H.264 and HEVC video is
    // cut at random-access points (see CNalSplicePlanner).
    void SetStreams(const CNalSplicePlanner::Streams& streams) { m_streams = streams; }

    // Done, DoneWithWarnings (an area was kept), Cancelled (a copy only) or
    // Failed with ErrorMessage() set.
    JobResult Run(const CCutList& cuts);

    bool InPlace() const { return m_inPlace; }
    // In place: the run finished an interrupted one.
    bool Resumed() const { return m_resumed; }
    // In place, after a failure that left a journal: the cut areas that
    // describe the recording as it now is (what a retry removes).
    bool Interrupted() const { return m_interrupted; }
    const CCutList& RemainingAreas() const { return m_remaining; }
    std::int32_t PacketStride() const { return m_format.packetStride; }
    std::int32_t SyncOffset() const { return m_syncOffset; }
    const std::string& ErrorMessage() const { return m_error; }

  private:
    JobResult copy(const CCutList& cuts);
    JobResult cutInPlace(const CCutList& cuts);
    // The header, the first packet and the drops of a new run; returns the
    // position the data is read from.
    std::uint64_t plan(const CCutList& cuts);
    CBlockMover& makeMover();
    void copyHeader();
    std::uint64_t findFirstPacket(std::uint64_t from);
    void checkTfGetSync();
    void reportRenumbering() const;
    // An area was kept, or slices after a cut could not be renumbered.
    bool warned() const;
    void describeFailure(const std::string& reason);

    CRawFile& m_source;
    CRawFile& m_destination;
    bool m_inPlace;
    std::uint16_t m_videoPid;
    std::set<std::uint16_t> m_audioPids;
    std::optional<CNalSplicePlanner::Streams> m_streams;
    CBlockMover::ProgressFn m_progress;
    CutFormat m_format;
    std::int32_t m_syncOffset = 0;
    CutJournalPlan m_plan;
    int m_keptAreas = 0;
    std::function<void()> m_onComplete;
    std::unique_ptr<CBlockMover> m_mover;
    std::unique_ptr<CCutJournal> m_journal;
    bool m_resumed = false;
    bool m_interrupted = false;
    CCutList m_remaining;
    std::string m_error;
};
