#pragma once
// The transport-stream demultiplexer: reads a recording as 188-byte packets,
// keeps the packets of the programme's elementary streams, checks each
// stream's continuity, skips the user's cut areas and hands the payloads to
// the unit assembly of their stream type, which fills the stream's channel.
//
// The packet layer (ReadPacket, GetPayload, CheckContinuity, FindCutArea) is
// in mpeg_ts_demux.cpp, the stream discovery (ScanStreams, Init) in
// stream_scan.cpp, the slice loop (Demux) in demux_loop.cpp and the unit
// assembly in unit_assembly.cpp (video) and audio_assembly.cpp (audio).

#include <cstdint>
#include <functional>
#include <memory>

#include "demux/cut_area.h"
#include "demux/pmt_entry.h"

class CRawFile;
class CChannelSet;   // output/channel_set.h
class CMpegChannel;  // output/mpeg_channel.h

// One transport packet: 188 bytes, of which 4 are the header.
constexpr int kTsPacketSize = 188;
// ReadPacket's buffer: the packet and the first two bytes that follow it.
constexpr int kTsReadSize = 190;
constexpr int kTsPayloadSize = 184;
constexpr std::uint8_t kTsSyncByte = 0x47;
// Some receivers store a 1,184-byte block after a packet; it starts with 0x7F.
constexpr std::uint8_t kReceiverBlockMark = 0x7F;
constexpr int kReceiverBlockSize = 1184;
// ReadPacket gives up after this many byte positions without a sync byte.
constexpr int kResyncRange = 8192;
// Each input channel's assembly buffer.
constexpr int kInputChannelBufferSize = 2097152;

// Header fields of a transport packet (ISO/IEC 13818-1), packet[0] = 0x47.
inline int TsPid(const std::uint8_t* packet) {
    return ((packet[1] & 0x1F) << 8) | packet[2];
}
inline bool TsUnitStart(const std::uint8_t* packet) {
    return (packet[1] & 0x40) != 0;
}
inline int TsContinuity(const std::uint8_t* packet) {
    return packet[3] & 0x0F;
}

// The process-wide bit-rate estimate in kbit/s of the last stream scan
// (default 4000); the view steps by time with it.
std::int32_t EstimatedBitRate();
void SetEstimatedBitRate(std::int32_t kbits);

// The scan's estimate from the first and last stamp of the sample and their
// file positions: 4000 when no time passed, else limited to 2000..maximum
// (8000 for MPEG-2 recordings, more for H.264 and HEVC ones).
std::int32_t EstimateBitRate(std::int64_t firstPts, std::int64_t lastPts,
                             std::uint64_t firstPosition, std::uint64_t lastPosition,
                             std::int32_t maximum = 8000);

// Wrap-aware difference of two 33-bit time stamps: later - earlier, taken
// modulo 2^33, so a stamp that wrapped past 2^33 still counts forward.
std::int64_t PtsDifference(std::int64_t earlier, std::int64_t later);

// The 33-bit PTS of a PES header that starts at pes[0] (00 00 01 id ...),
// read from bytes 9..13. False (and pts unchanged) when the header flags no
// PTS or fewer than 14 bytes are held.
bool ReadPesPts(const std::uint8_t* pes, int length, std::int64_t& pts);

class CMpegTsDemux {
  public:
    CMpegTsDemux();
    ~CMpegTsDemux();
    CMpegTsDemux(const CMpegTsDemux&) = delete;
    CMpegTsDemux& operator=(const CMpegTsDemux&) = delete;

    // Stream discovery, then one channel per stream; leaves the recording at
    // position 0. The PID places receive what was found.
    bool Init(CRawFile& recording, std::uint16_t& pmtPid, std::uint16_t& videoPid,
              std::uint16_t& audioPid, std::uint16_t& ac3Pid);
    // Samples the recording (its first 1.5 MiB and about 0.5 MiB from 4 MiB
    // before its end) for the PMT and the PES streams, fills the PID table
    // and sets the bit-rate estimate. The audio place is only written from a
    // PMT while it holds 0, so a caller's starting value stays.
    bool ScanStreams(CRawFile& recording, std::uint16_t& pmtPid, std::uint16_t& videoPid,
                     std::uint16_t& audioPid, std::uint16_t& ac3Pid);

    // One slice: processes packets until a channel's ring is nearly full
    // (true) or the data has ended (false). Throws CMpegChannelException.
    bool Demux();

    // The packet layer reads from this recording (Init and ScanStreams set it).
    void SetRecording(CRawFile& recording) { m_recording = &recording; }
    CRawFile* Recording() const { return m_recording; }

    // Reads the next packet into packet (190 bytes): 1 when it is followed by
    // a sync byte or a receiver block, -1 when by anything else, 0 when no
    // packet was found (end of file, or no sync byte within 8,193 positions).
    int ReadPacket(std::uint8_t* packet);
    // As ReadPacket, but packet points at the packet where it lies (in the
    // recording's read buffer, or in a copy held here), valid until the next
    // call or the next read of the recording.
    int NextPacket(const std::uint8_t*& packet);
    // Copies the payload (up to 184 bytes) and gives its length; false when
    // the packet carries none (adaptation field only, transport error).
    static bool GetPayload(const std::uint8_t* packet, std::uint8_t* payload, int& length);
    // The same payload in place: a pointer into packet, or nullptr for none.
    static const std::uint8_t* PayloadOf(const std::uint8_t* packet, int& length);
    // Packets missing before this one: 0 in sequence (or first packet), -1
    // repeated, 1..14 missing (14 also when the counter went back by one).
    // last becomes cc.
    static int CheckContinuity(std::int32_t& last, int cc);

    // The enabled cut area that holds pts (or the current file position when
    // the area runs to the end of the recording); nullptr when none. The unit
    // assembly clears IsEnabled once a cut has been passed.
    CCutArea* FindCutArea(std::int64_t pts);
    // The rule itself, without channels and file: startPts is the video
    // stream's first stamp (pts below it wrapped past 2^33), position and
    // length are in sectors.
    static CCutArea* FindCutArea(CCutList& areas, std::int64_t startPts, std::int64_t pts,
                                 std::uint64_t positionSector, std::uint64_t lengthSector);

    void SetCutList(const CCutList& areas) { m_cutAreas = areas; }
    CCutList& CutList() { return m_cutAreas; }

    // The PID table: one entry per elementary stream kept.
    CPMT& Streams() { return m_pmt; }
    const CPMT& Streams() const { return m_pmt; }
    // The input channels, one per stream whose type is not 5.
    CChannelSet& Channels() { return *m_channels; }

  private:
    // Stream scan helpers (stream_scan.cpp).
    struct ScanState;
    void scanPacket(ScanState& state, const std::uint8_t* packet, const std::uint8_t* payload,
                    int length, std::uint16_t& pmtPid, std::uint16_t& videoPid,
                    std::uint16_t& audioPid, std::uint16_t& ac3Pid);
    void finishScan(ScanState& state, std::uint16_t& videoPid, std::uint16_t& audioPid,
                    std::uint16_t& ac3Pid);
    void createChannels();

    CRawFile* m_recording = nullptr;  // not owned
    CPMT m_pmt;
    CCutList m_cutAreas;
    std::unique_ptr<CChannelSet> m_channels;

    // ---- Demux loop and unit assembly (demux_loop.cpp, unit_assembly.cpp) ----
    // What one assembly step asks of the slice loop.
    enum class Step { Next, Stop };
    Step assemble(CMpegChannel& channel, const std::uint8_t* payload, int length, bool unitStart);
    Step assembleVideo(CMpegChannel& channel, const std::uint8_t* payload, int length,
                       bool unitStart);
    bool takeVideoHeader(CMpegChannel& channel, const std::uint8_t* payload, int length,
                         int& headerLength);
    void sealVideoUnit(CMpegChannel& channel);
    int wholePicturesEnd(CMpegChannel& channel) const;
    bool unitHasPicture(CMpegChannel& channel) const;
    void noteVideoBitRate(CMpegChannel& channel, const std::uint8_t* sequence, int length);
    void assembleAudio(CMpegChannel& channel, const std::uint8_t* payload, int length,
                       bool unitStart);
    // Audio (audio_assembly.cpp).
    bool startPes(CMpegChannel& channel, const std::uint8_t*& payload, int& length);
    void startFrame(CMpegChannel& channel);
    int readFrameHeader(CMpegChannel& channel, const std::uint8_t* q, int r);
    static int frameEnd(const CMpegChannel& channel, const std::uint8_t* q, int r, int need);
    bool startsInTime(CMpegChannel& channel);
    void abandonFrame(CMpegChannel& channel);
    void loseFrameStep(CMpegChannel& channel);
    void cutFrames(CMpegChannel& channel, const std::uint8_t* payload, int length);
    void queueUnit(CMpegChannel& channel, std::uint64_t pts, std::uint32_t kind, int length);
    void jumpOverCut(const CCutArea& area);
    int followerResult(std::uint8_t next);
    void flushVideo();
    void markStreamsEnded();

    // NextPacket's copy of a packet that had to be searched for.
    std::uint8_t m_packetCopy[kTsReadSize] = {};
    // The PES header of the last video PES that began in a payload.
    std::uint8_t m_videoHeader[255] = {};
    int m_videoHeaderLength = 0;
    // Video that shows no sequence header for this many bytes is scrambled;
    // raised with the bit rate of the stream's sequence headers.
    std::int32_t m_scrambledVideoFill = 2048000;
    // A stream found scrambled by its assembly; its PID-table entry goes.
    int m_dropPid = -1;
    // Damage reported by the slice loop and the assembly (sequence errors,
    // invalid packets and frames, dropped units, lost sync).
    int m_dataErrors = 0;

    // Told where a long search for the packet sync has got; false ends it.
    std::function<bool(std::uint64_t)> m_progressHook;
    bool m_cancelled = false;

  public:
    // After NextPacket found no packet: the search goes on from `from` to the
    // end of the recording for a sync byte with another one a packet later,
    // reporting the bytes passed over; the recording is left there (or at
    // `from` when there is none).
    enum class Resync { Found, NotFound, Cancelled };
    Resync resync(std::uint64_t from);
    int DataErrors() const { return m_dataErrors; }
    // Called with the position while the sync is searched for over a long
    // damaged stretch; returning false ends the demultiplexing (Demux then
    // returns false and Cancelled is true).
    void SetProgressHook(std::function<bool(std::uint64_t)> hook) { m_progressHook = std::move(hook); }
    bool Cancelled() const { return m_cancelled; }

  private:
    // ---- end of the Demux loop and unit assembly block ----
};
