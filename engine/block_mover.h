#pragma once
// Moves a recording's data from a read position to a write position in 1 MiB
// blocks, leaving out the planned drops. The same file may be source and
// destination: the write position never passes the read position, and a block
// that has not moved is not rewritten.
//
// Where the mover is (positions, the drop it works on, the sound streams whose
// PES packets are still being completed or skipped) is one small record, so
// that a run in place can be journaled before its bytes move and resumed
// after an interruption exactly where the journal says.

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "engine/cut_drop.h"
#include "engine/h264_renumberer.h"
#include "engine/unit_filter.h"
#include "engine/unit_rule.h"
#include "engine/video_splice.h"

class CRawFile;

struct MoverState {
    enum Phase : std::uint8_t {
        Blocks,        // whole blocks up to the next drop
        WithoutVideo,  // a stretch whose video packets go (leading B pictures)
        Completing,    // the sound PES packets under way where the kept data ends
        Skipping,      // where the data resumes: sound PES rests, the first PCR
        Finished,      // everything is moved; write is the new length
        Units,         // a stretch judged packet by packet by the unit rules
    };
    std::uint64_t read = 0;
    std::uint64_t write = 0;
    std::uint32_t nextDrop = 0;   // the first drop not yet entered
    Phase phase = Blocks;
    std::uint64_t phaseEnd = 0;   // where the filtering stretch ends
    std::uint64_t resumeAt = 0;   // Completing: where the data resumes afterwards
    bool pcrMarked = true;        // Skipping: the splice's first PCR is marked
    std::vector<std::uint16_t> pids;  // sound PIDs still open or waiting, sorted
    // H.264 splices: the next one not yet entered, the numbering in force and
    // the header bytes it changes in packets not yet moved.
    std::uint32_t nextSplice = 0;
    RenumberState renumber;
    std::vector<PendingByte> pending;
    bool operator==(const MoverState&) const = default;
};

// The record of a run in place (the cut journal) as the mover uses it.
class IMoverJournal {
  public:
    virtual ~IMoverJournal() = default;
    // The run can be redone from state: what was written before is on the
    // disk, and the source from state.read on is untouched.
    virtual void Commit(const MoverState& state) = 0;
    // A write of data at `at` reaches source bytes that are not moved yet:
    // the data and the state after it are recorded first.
    virtual void Stage(std::uint64_t at, const std::uint8_t* data, std::size_t count,
                       const MoverState& after) = 0;
};

class CBlockMover {
  public:
    static constexpr std::size_t kBlockSize = 1 << 20;
    // Called before every block; false asks a copying run to stop.
    using ProgressFn = std::function<bool(std::uint64_t readPosition)>;

    // Blocks are whole multiples of the packet stride, so that a copy that
    // stops early still ends on a packet boundary. packetSize is 188, or 192
    // for packets with a 4-byte prefix (kept with its packet).
    CBlockMover(CRawFile& source, CRawFile& destination, bool inPlace, std::uint16_t videoPid,
                bool hardCut, std::int32_t packetStride, ProgressFn progress,
                std::size_t packetSize = 188);

    // The sound streams: at a cut, their PES packets are kept or dropped
    // whole, so that no audio frame is broken at a splice.
    void SetAudioPids(std::set<std::uint16_t> pids) { m_audioPids = std::move(pids); }
    // In place: the journal that makes the run resumable.
    void SetJournal(IMoverJournal* journal) { m_journal = journal; }
    // H.264 and HEVC: the splices settle the sound, the leading pictures and
    // the packets to rewrite by these rules (sorted by their start) instead
    // of completing and skipping PES packets, and renumber the H.264 slices
    // after these splices (sorted by position).
    void SetUnitRules(const std::vector<UnitRule>* rules, const std::vector<VideoSplice>* splices);
    // Slices after a splice whose numbering could not be changed.
    int RenumberFailures() const { return m_renumberFailures; }
    std::uint64_t FirstRenumberFailure() const { return m_firstRenumberFailure; }

    // Moves source bytes [readPosition, end of the source) without the drops
    // to the destination from writePosition on.
    void Run(std::uint64_t readPosition, std::uint64_t writePosition,
             const std::vector<CutDrop>& drops);
    // Goes on from a state (a new run starts from {read, write}). File errors
    // propagate as platform::FileException; State() then says where it stopped.
    void Resume(const MoverState& state, const std::vector<CutDrop>& drops);

    const MoverState& State() const { return m_state; }
    std::uint64_t ReadPosition() const { return m_state.read; }
    std::uint64_t WritePosition() const { return m_state.write; }
    bool Cancelled() const { return m_cancelled; }

  private:
    enum class Verdict { Keep, Drop, Stop };

    bool blockStep(std::uint64_t end);
    // The steps of a run by unit rules.
    bool ruleStep(std::uint64_t end);
    bool filteredChunk(std::uint64_t limit, bool withRules, bool keepByDefault);
    std::size_t lookAhead(std::uint64_t from, std::uint64_t limit, std::uint8_t* bytes,
                          std::uint64_t* positions, std::size_t count);
    std::uint64_t nextEvent(std::uint64_t end) const;
    void filterStep();
    void enterDrop(const CutDrop& drop, std::uint64_t end);
    void enterSkipping(bool afterSplice, std::uint64_t end);
    void endPhase(std::uint64_t end);
    Verdict judge(std::uint8_t* packet, std::size_t size, bool& changed);
    void logCut(const CutDrop& drop) const;
    void moveBlock(std::size_t count);
    void readSource(std::uint64_t position, std::uint8_t* buffer, std::size_t count);
    void writeChunk(const MoverState& before, const std::uint8_t* data, std::size_t count);

    CRawFile& m_source;
    CRawFile& m_destination;
    bool m_inPlace;
    std::uint16_t m_videoPid;
    std::set<std::uint16_t> m_audioPids;
    bool m_hardCut;
    ProgressFn m_progress;
    std::size_t m_packetSize;
    std::size_t m_syncAt;  // the sync byte's place in a packet: after the prefix
    std::size_t m_blockSize;
    std::size_t m_filterChunk;
    std::vector<std::uint8_t> m_block;
    std::vector<std::uint8_t> m_out;  // a filtered chunk of a run by unit rules
    const std::vector<UnitRule>* m_rules = nullptr;
    const std::vector<VideoSplice>* m_splices = nullptr;
    CUnitFilter m_filter;
    std::vector<CH264Renumberer::Packet> m_video;
    int m_renumberFailures = 0;
    std::uint64_t m_firstRenumberFailure = 0;
    const std::vector<CutDrop>* m_drops = nullptr;
    IMoverJournal* m_journal = nullptr;
    std::uint64_t m_committedRead = 0;  // the source is untouched from here on
    MoverState m_state;
    std::uint64_t m_end = 0;  // the readable length when the run began
    bool m_cancelled = false;
};
