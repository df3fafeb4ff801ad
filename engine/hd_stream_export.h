#pragma once
// "Demux to MPEG" for a recording whose video is H.264 or HEVC: the video
// goes to an Annex B elementary stream (.h264, .hevc), starting at its first
// random-access point with the parameter sets it needs, and every audio
// track to a file of its own (.mp2, .ac3, .eac3, .aac; AAC in LATM becomes
// ADTS), in step with the pictures written. Cut areas are left out at
// random-access points. DVB subtitles and teletext have no elementary-stream
// file here: they are named in the progress list and left out.
//
// The transport packets are read with the demultiplexer's packet layer; the
// MPEG-2 unit assembly and synchroniser are not used (they know MPEG-2 video
// only).

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "demux/cut_area.h"
#include "demux/export_timeline.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/pmt_entry.h"
#include "demux/stamp_clock.h"
#include "output/channel_set.h"

class CRawFile;
class CHdAudioTrack;
namespace codec {
struct AssembledUnit;
}
class CHdVideoTrack;

class CHdStreamExport {
  public:
    // streams: the recording's streams as its opening found them; cuts: the
    // areas to leave out (none: the whole recording).
    CHdStreamExport(CRawFile& recording, const CPMT& streams, std::uint16_t videoPid,
                    const CCutList& cuts);
    ~CHdStreamExport();
    CHdStreamExport(const CHdStreamExport&) = delete;
    CHdStreamExport& operator=(const CHdStreamExport&) = delete;

    // One output channel per stream written, for the writer.
    CChannelSet& Output() { return m_output; }
    // Reads on from the recording's position for about `bytes`; false when
    // the data has ended (or a search for the packet sync was cancelled).
    bool Step(std::uint64_t bytes);
    // The data has ended: the last units are placed.
    void Finish();

    // Told where a long search for the packet sync has got; false ends it.
    void SetProgressHook(std::function<bool(std::uint64_t)> hook) {
        m_packets.SetProgressHook(std::move(hook));
    }
    bool Cancelled() const { return m_packets.Cancelled(); }
    // Damage in the recording and repairs made on its way out.
    int DataErrors() const;

  private:
    struct Route {
        std::int32_t continuity = -1;
        CHdVideoTrack* video = nullptr;
        CHdAudioTrack* audio = nullptr;
        bool scrambledSeen = false;
    };

    void addStreams(const CPMT& streams, std::uint16_t videoPid);
    CMpegChannel& addOutput(const sPMTEntry& stream);
    bool keepGroup(const codec::AssembledUnit& unit);
    void packet(const std::uint8_t* packet, bool invalidLength);
    void lose(Route& route);

    CRawFile& m_recording;
    CMpegTsDemux m_packets;  // the packet layer only
    CCutList m_cuts;
    CExportTimeline m_timeline;
    StampReference m_reference;
    CChannelSet m_output;
    std::unique_ptr<CHdVideoTrack> m_video;
    std::vector<std::unique_ptr<CHdAudioTrack>> m_audio;
    std::vector<std::pair<std::uint16_t, Route>> m_routes;
    int m_packetErrors = 0;
};
