#pragma once
// Chooses what a cut leaves out. The enabled cut areas are taken in the order
// of their position, overlapping ones merged and all of them clipped to the
// recording's data; then each area's cut points are chosen: for a soft cut the
// GOP starts of the video around it, for a hard cut its bounds rounded to the
// packet stride. Nothing outside an area is dropped unless the GOP structure
// calls for it, and where no GOP start can be found the area is cut at packet
// bounds.

#include <cstdint>
#include <optional>
#include <vector>

#include "demux/cut_area.h"
#include "engine/cut_drop.h"
#include "engine/cut_format.h"
#include "engine/nal_splice_planner.h"
#include "engine/unit_rule.h"
#include "engine/video_payload_window.h"
#include "engine/video_splice.h"

class CRawFile;

struct ByteArea {
    std::uint64_t start = 0;
    std::uint64_t end = 0;  // exclusive
};

class CCutPlanner {
  public:
    // dataStart: the first byte after the header (the first packet of a
    // Topfield recording); packets start at syncOffset modulo 188.
    CCutPlanner(CRawFile& source, const CutFormat& format, std::uint16_t videoPid,
                std::uint64_t dataStart, std::int32_t syncOffset);

    // The enabled areas in bytes: clipped to [dataStart, length), sorted,
    // overlapping or touching ones merged, empty or reversed ones left out.
    static std::vector<ByteArea> MergeAreas(const CCutList& cuts, std::uint64_t dataStart,
                                            std::uint64_t length);

    // The recording's streams: an H.264 or HEVC video is cut at its
    // random-access points with the splices of CNalSplicePlanner; MPEG-2
    // video (the default) at its GOP starts.
    void SetStreams(const CNalSplicePlanner::Streams& streams) { m_streams = streams; }

    // What to leave out, sorted by position and free of overlaps.
    std::vector<CutDrop> Plan(const CCutList& cuts);
    // H.264 and HEVC: the splices are settled by these rules and the H.264
    // pictures after them renumbered.
    bool ByRules() const { return m_byRules; }
    const std::vector<UnitRule>& Rules() const { return m_rules; }
    const std::vector<VideoSplice>& Splices() const { return m_splices; }

    std::uint64_t AlignToPacket(std::uint64_t offset) const;
    // Areas of the last plan that were kept, having no GOP start to cut at.
    int KeptAreas() const { return m_keptAreas; }

  private:
    void HardCut(const ByteArea& area, bool leading, std::vector<CutDrop>& drops);
    void SoftCut(const ByteArea& area, bool leading, std::vector<CutDrop>& drops);
    // The packet of the first sequence header at or after `position`; leaves
    // the window loaded there, with *esIndex the header's index in it.
    std::optional<std::uint64_t> gopStartAtOrAfter(std::uint64_t position, std::size_t* esIndex);
    // The B pictures that follow the first I picture of the GOP at esIndex
    // and refer to the GOP before it, which is gone.
    std::optional<CutDrop> leadingPictures(std::size_t sequenceHeader);
    static std::vector<CutDrop> normalize(std::vector<CutDrop> drops);

    CRawFile& m_source;
    CutFormat m_format;
    std::uint16_t m_videoPid;
    std::uint64_t m_dataStart;
    std::int32_t m_syncOffset;
    std::uint64_t m_length;
    CVideoPayloadWindow m_window;
    int m_keptAreas = 0;
    std::optional<CNalSplicePlanner::Streams> m_streams;
    bool m_byRules = false;
    std::vector<UnitRule> m_rules;
    std::vector<VideoSplice> m_splices;
};
