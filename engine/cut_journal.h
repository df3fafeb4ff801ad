#pragma once
// The journal of a run that removes cut areas in place: a small file beside
// the recording ("Film.ts.cutjournal") that holds what the run does (the
// planned drops, the recording's cut format) and where it is. It is written
// and flushed before the bytes it describes move, so that after a failure, a
// killed process or a power cut the next run finishes the recording exactly
// as one uninterrupted run would have.
//
// Layout: a header with the plan, two state slots written in turn (a torn
// write leaves the other one valid) and one staged write (data that must be
// written again because it overlaps source bytes not yet moved). Every part
// carries a checksum; the slot with the highest sequence number counts.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "demux/cut_area.h"
#include "engine/block_mover.h"
#include "engine/cut_drop.h"
#include "engine/cut_format.h"
#include "engine/unit_rule.h"
#include "engine/video_splice.h"
#include "platform/file.h"

class CRawFile;

// What a run in place does; fixed when it begins.
struct CutJournalPlan {
    std::uint64_t length = 0;  // the recording's length when the run began
    CutFormat format;
    std::int32_t syncOffset = 0;
    std::uint16_t videoPid = 0;
    std::vector<std::uint16_t> audioPids;
    std::vector<CutDrop> drops;
    CCutList areas;  // the enabled areas the run removes, as the user marked them
    // H.264 and HEVC recordings: the splices are settled by unit rules, and
    // the H.264 slices after them renumbered.
    bool byRules = false;
    std::vector<UnitRule> rules;
    std::vector<VideoSplice> splices;
};

struct CutJournalRecord {
    CutJournalPlan plan;
    MoverState state;  // where the run is (a staged write already counted in)
    bool staged = false;
    std::uint64_t stagedAt = 0;
    std::vector<std::uint8_t> stagedData;
    std::uint64_t sequence = 0;
    std::uint32_t version = 0;   // of the journal's layout
    std::uint64_t slotBase = 0;  // where its state slots begin
};

class CCutJournal : public IMoverJournal {
  public:
    enum class Found {
        None,     // no journal: no run is under way
        Record,   // an interrupted run
        Torn,     // written only in part: the run never moved a byte
        Foreign,  // does not fit the recording (or is damaged)
    };

    static std::string PathFor(const std::string& recordingPath);
    // Reads the journal beside the recording without changing anything.
    static Found Read(const CRawFile& recording, CutJournalRecord* record, std::string* why);
    // A new run: the journal with its plan and first state, flushed together
    // with its folder entry. Throws platform::FileException.
    static std::unique_ptr<CCutJournal> Create(CRawFile& recording, const CutJournalPlan& plan,
                                               const MoverState& state);
    // Takes over an interrupted run: writes a staged write again, then
    // records the state after it.
    static std::unique_ptr<CCutJournal> Resume(CRawFile& recording, const CutJournalRecord& record);
    // The areas that describe the recording as an interrupted run left it:
    // the stretch already moved forward is one area, the areas not yet
    // reached keep their places.
    static CCutList Describe(const CutJournalRecord& record);

    void Commit(const MoverState& state) override;
    void Stage(std::uint64_t at, const std::uint8_t* data, std::size_t count,
               const MoverState& after) override;
    // The run is complete: the journal goes.
    void Remove();

  private:
    CCutJournal(CRawFile& recording, std::string path, std::uint64_t slotBase,
                std::uint64_t sequence, std::uint32_t version);
    void writeRecord(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);

    CRawFile& m_recording;
    std::string m_path;
    platform::PlatformFile m_file;
    std::uint64_t m_slotBase;
    std::uint64_t m_sequence;
    std::uint32_t m_version;
};
