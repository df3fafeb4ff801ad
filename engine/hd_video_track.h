#pragma once
// The video of an H.264/HEVC recording on its way into an elementary-stream
// file: access units are assembled from the PID's payloads, the splicer
// decides what goes out (groups of pictures in cut areas and after damage
// stay out, leading pictures after a splice too), and each picture written
// extends the runs of the export's time line, which places the sound.

#include <cstdint>
#include <functional>
#include <string>

#include "codec/access_unit_assembler.h"
#include "codec/video_splicer.h"
#include "demux/pmt_entry.h"
#include "demux/stamp_clock.h"

class CExportTimeline;
class CMpegChannel;

class CHdVideoTrack {
  public:
    // keepGroup: whether the group of pictures a random-access point begins
    // goes into the output (its stamp against the cut areas).
    using GroupFilter = std::function<bool(const codec::AssembledUnit&)>;

    CHdVideoTrack(const sPMTEntry& stream, CMpegChannel& output, CExportTimeline& timeline,
                  StampReference& reference, GroupFilter keepGroup);

    void Feed(const codec::VideoPayload& payload, bool unitStart, bool lost);
    void Lose() { m_assembler.Lose(); }
    // The data has ended: the last unit is taken, the time line closed.
    void Finish();

    std::uint16_t Pid() const { return m_pid; }
    // The first PTS of the stream (for the cut areas' wrap rule), when seen.
    bool HasFirstStamp() const { return m_hasFirstStamp; }
    std::uint64_t FirstStamp() const { return m_firstStamp; }
    int DataErrors() const { return m_dataErrors; }
    // Pictures (frames) written.
    std::int64_t Frames() const { return m_frames; }

  private:
    void take(codec::AssembledUnit& unit);
    void left(codec::VideoSplicer::Verdict verdict, const codec::AssembledUnit& unit);
    void commitReleased();
    void commit(codec::VideoSplicer::Released& picture);
    std::int64_t sourceTime(const codec::AssembledUnit& unit, bool decoding);
    void reportDamage();
    void endRun();
    std::string label() const;

    std::uint16_t m_pid;
    StreamCodec m_codec;
    CMpegChannel& m_output;
    CExportTimeline& m_timeline;
    CStampClock m_clock;
    GroupFilter m_keepGroup;
    codec::AccessUnitAssembler m_assembler;
    codec::VideoSplicer m_splicer;
    bool m_hasFirstStamp = false;
    std::uint64_t m_firstStamp = 0;
    bool m_anyWritten = false;
    std::int64_t m_frames = 0;
    std::int64_t m_decodedTo = 0;  // source time the video has been decoded to
    std::int64_t m_frameTicks = 3600;
    bool m_frameTicksKnown = false;
    // Pictures left out after damage, reported when the output resumes.
    std::int64_t m_damagedPictures = 0;
    std::int64_t m_damageAt = 0;
    bool m_inCut = false;
    int m_dataErrors = 0;
};
