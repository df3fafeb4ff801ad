#pragma once
// One audio track of an H.264/HEVC recording on its way into an
// elementary-stream file: its PES packets are cut into frames (LATM turned
// into ADTS), each frame is timed on the programme's clock, and it is
// written where the pictures written say it plays (CExportTimeline): frames
// beside left-out pictures are passed over, the audio begins within half a
// frame of the first picture, and it stays in step at every splice. Missing
// sound is made good with silent frames of the track's own kind (E-AC-3
// with silent AC-3 frames, which E-AC-3 decoders play as well); where none
// can be made (AAC channels given by a program config element, E-AC-3 at
// half rates) the gap is reported.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "codec/audio_frame_splitter.h"
#include "codec/latm_to_adts.h"
#include "demux/pmt_entry.h"
#include "demux/stamp_clock.h"

class CExportTimeline;
class CMpegChannel;

class CHdAudioTrack {
  public:
    CHdAudioTrack(const sPMTEntry& stream, CMpegChannel& output, const CExportTimeline& timeline,
                  StampReference& reference);

    // One payload of the track's PID (its PES header included where a PES
    // begins). lost: packets of the PID were lost before it.
    void Feed(const std::uint8_t* payload, int length, bool unitStart, bool lost);
    void Lose();
    // The data has ended.
    void Finish();
    // Writes (or passes over) every frame whose place the video now tells.
    void Place();

    std::uint16_t Pid() const { return m_pid; }
    // Damage seen and gaps reported.
    int DataErrors() const { return m_dataErrors; }

  private:
    struct Waiting {
        std::vector<std::uint8_t> bytes;
        std::int64_t start = 0;  // source time
        std::int64_t ticks = 0;
        int samples = 0;
        int sampleRate = 0;
        bool afterLoss = false;
    };

    void takeFrames();
    void convertLatm(codec::AudioFrameSplitter::Frame& frame);
    void queue(std::vector<std::uint8_t>&& bytes, int samples, int sampleRate, bool afterLoss,
               bool hasPts, std::uint64_t pts);
    std::int64_t advance(int samples, int sampleRate, std::int64_t& remainder) const;
    void write(const Waiting& frame);
    void makeGood(const Waiting& frame, std::int64_t missing);
    Waiting silenceLike(const Waiting& frame) const;
    std::string label() const;

    StreamCodec m_codec;
    std::uint16_t m_pid;
    CMpegChannel& m_output;
    const CExportTimeline& m_timeline;
    CStampClock m_clock;
    codec::AudioFrameSplitter m_splitter;
    codec::LatmToAdts m_latm;
    std::string m_latmFault;  // the last reason a LOAS frame could not be taken
    // LOAS frames before the first configuration: the stream was configured
    // before the recording began, most likely as it is at its first one.
    std::vector<codec::AudioFrameSplitter::Frame> m_unconfigured;
    std::deque<Waiting> m_waiting;
    // Where the next frame without a stamp of its own begins.
    bool m_timed = false;
    std::int64_t m_next = 0;
    std::int64_t m_nextRemainder = 0;
    // What has been written: ticks (and the part of a tick owed).
    std::int64_t m_written = 0;
    std::int64_t m_writtenRemainder = 0;
    // Sound missing that could not be made good: the frames after it are
    // placed as if it had been.
    std::int64_t m_unfilled = 0;
    std::size_t m_cursor = 0;
    bool m_anyWritten = false;
    int m_dataErrors = 0;
    int m_invalidSeen = 0;
};
