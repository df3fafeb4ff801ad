#pragma once
// The cut planner's part for H.264 and HEVC recordings. Each cut area is
// left out from the random-access picture at or after its start (an IDR
// picture, an I picture with a recovery point SEI, an HEVC IRAP picture: the
// points the picture search finds, where the marks land) to the one at or
// after its end. At that splice:
//  - the leading pictures of the picture the data resumes with, which refer
//    to pictures before it that the cut removed (H.264 pictures shown
//    before it, HEVC RASL pictures), are left out of the video;
//  - its parameter sets are put in front of it when it does not carry them;
//  - an HEVC CRA picture becomes a BLA picture, so that decoders start its
//    coded video sequence anew, and the H.264 pictures from it on continue
//    the numbering of those before the cut (see engine/video_splice.h);
//  - the first PCR after it marks the new time base;
//  - where no random-access picture follows up to the end of the recording,
//    the video after the cut is left out (it refers to what the cut removed);
//  - the sound, subtitle and teletext PES packets are kept or dropped whole
//    by their time stamps (see engine/unit_rule_planner.h).

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "demux/pmt_entry.h"
#include "engine/cut_drop.h"
#include "engine/cut_format.h"
#include "engine/nal_picture_list.h"
#include "engine/unit_rule.h"
#include "engine/unit_rule_planner.h"
#include "engine/video_payload_window.h"
#include "engine/video_splice.h"

class CRawFile;
struct ByteArea;

class CNalSplicePlanner {
  public:
    struct Streams {
        StreamCodec codec = StreamCodec::H264;
        bool intraIsRandomAccess = false;  // an H.264 stream that marks no points
        std::set<std::uint16_t> audioPids;
        std::set<std::uint16_t> otherPids;  // subtitles, teletext
    };

    CNalSplicePlanner(CRawFile& source, const CutFormat& format, std::uint16_t videoPid,
                      std::uint64_t dataStart, std::int32_t syncOffset, Streams streams);

    // areas: merged and clipped (CCutPlanner::MergeAreas).
    void Plan(const std::vector<ByteArea>& areas);

    const std::vector<CutDrop>& Drops() const { return m_drops; }
    // Each cut whole (Area or LeadingArea): where the kept data ends and
    // where it resumes, before the drops are split up by the rules.
    const std::vector<CutDrop>& Cuts() const { return m_areas; }
    const std::vector<UnitRule>& Rules() const { return m_rules; }
    const std::vector<VideoSplice>& Splices() const { return m_splices; }
    int KeptAreas() const { return m_keptAreas; }

  private:
    // What comes before a splice, for the H.264 numbering after it.
    struct Before {
        bool valid = false;
        std::int32_t frameNum = 0, pocLsb = 0, pocGap = 2;
    };
    struct Cut {
        std::uint64_t from = 0, to = 0;
        bool leading = false;
        bool reachesEnd = false;
        SpliceTimes times;
        Before before;
        // At `to`: the leading pictures left out and the packets rewritten.
        std::vector<UnitRule> resume;
        // The random-access picture at `to` (H.264), its numbering.
        std::optional<VideoSplice> point;
    };

    std::vector<NalPicture> loadAround(std::uint64_t position);
    std::vector<NalPicture> pictures();
    // The first random-access picture whose packet starts at or after position.
    std::optional<std::size_t> firstPoint(const std::vector<NalPicture>& found,
                                          std::uint64_t position) const;
    // The window holds what a splice at the picture of `point` needs.
    bool coversPictures(std::uint64_t point) const;
    void analyzeCutStart(Cut& cut, const std::vector<NalPicture>& found, std::size_t point);
    void analyzeResume(Cut& cut, const std::vector<NalPicture>& found, std::size_t point);
    void dropLeadingPictures(const std::vector<NalPicture>& found, std::size_t point, Cut& cut);
    // No random-access picture follows the cut up to the end of the
    // recording: the video from its end on is left out, the rest stays.
    void dropPicturesToEnd(Cut& cut, const std::vector<NalPicture>& found);
    void rewriteFirstPackets(const std::vector<NalPicture>& found, std::size_t point, Cut& cut);
    void finish();
    std::int64_t pocOf(const NalPicture& picture, std::int64_t previousMsb,
                       std::int32_t previousLsb, std::int64_t* msb) const;
    // Left out by an earlier cut, or by these rules.
    bool dropped(std::uint64_t position, const std::vector<UnitRule>& more) const;
    // The picture at `offset` begins its packet's video bytes.
    bool beginsPacket(std::size_t offset) const;
    void noteUnitStarts();
    const std::vector<std::uint8_t>& recordingSets();

    CRawFile& m_source;
    CutFormat m_format;
    std::uint16_t m_videoPid;
    std::uint64_t m_dataStart;
    std::uint64_t m_syncOffset;
    std::uint64_t m_length;
    Streams m_streams;
    CVideoPayloadWindow m_window;
    CNalPictureList m_list;
    std::vector<std::uint8_t> m_primer;  // parameter sets the window was read with
    std::optional<std::vector<std::uint8_t>> m_recordingSets;
    std::vector<Cut> m_cuts;
    std::vector<SeenUnitStart> m_unitStarts;
    std::vector<CutDrop> m_areas;
    std::vector<CutDrop> m_drops;
    std::vector<UnitRule> m_rules;
    std::vector<VideoSplice> m_splices;
    int m_keptAreas = 0;
};
