#pragma once
// Synthetic MPEG-2 transport streams for tests: packets (PID, continuity
// counter, adaptation field, payload-unit start, transport error), PES
// packets with PTS/DTS, PAT/PMT sections with descriptors, MPEG-1 Layer II
// and AC-3 frames, MPEG-2 video start-code skeletons, and the receiver
// variants (192-byte packets, 0x7F blocks, byte-swapped files, segment
// chains, Topfield headers).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tsb {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kPictureTicks = 3600;  // 25 pictures per second

// --- single packets -------------------------------------------------------
struct PacketOptions {
    bool unitStart = false;
    bool transportError = false;
    // -1: no adaptation field unless stuffing is needed; 0..183: an
    // adaptation field of that length byte (stuffed with 0xFF).
    int adaptationLength = -1;
    bool adaptationOnly = false;  // adaptation_field_control 2
    int scrambling = 0;
};
// One 188-byte packet; payload is cut or stuffed to fit.
Bytes MakePacket(int pid, int cc, const Bytes& payload, const PacketOptions& options = {});

// --- PSI sections ---------------------------------------------------------
struct PmtStream {
    int type = 2;
    int pid = 0;
    Bytes descriptors;  // the ES_info bytes as they stand
};
Bytes PatSection(int tsId, const std::vector<std::pair<int, int>>& programs);  // (program, PMT PID)
Bytes PmtSection(int program, int pcrPid, const std::vector<PmtStream>& streams, int version = 0,
                 bool currentNext = true, const Bytes& programInfo = {});
Bytes LanguageDescriptor(const std::string& language, int audioType = 0);  // tag 0x0A
Bytes TeletextDescriptor(const std::string& language);                     // tag 0x56
Bytes SubtitlingDescriptor(const std::string& language);                   // tag 0x59
Bytes Ac3Descriptor();                                                     // tag 0x6A
Bytes StreamIdentifierDescriptor(int tag);                                 // tag 0x52

// --- elementary-stream data -------------------------------------------------
// A PES packet: header with PTS (and DTS), then data. length 0 for video.
Bytes PesPacket(int streamId, std::optional<std::int64_t> pts, std::optional<std::int64_t> dts,
                const Bytes& data, bool unbounded = false);
// MPEG-1 Layer II frame of the right size (padding 0), filled with 0x55.
Bytes MpegAudioFrame(int kbits = 192, int sampleRate = 48000, bool crc = false);
// AC-3 sync frame (fscod 0 = 48 kHz); frmsizecod picks the bit rate.
Bytes Ac3Frame(int frmsizecod = 30, int acmod = 7, bool lfe = true, int fscod = 0);
// Sequence header (12 bytes + extension-free rest), GOP header, picture
// header of type 1 I, 2 P, 3 B, each followed by filler of size bytes.
Bytes SequenceHeader(int width, int height, int aspect, int frameRateCode = 3);
Bytes GopHeader();
Bytes PictureHeader(int codingType, int temporalReference = 0);
Bytes Filler(std::size_t size);  // bytes that hold no start code

// --- a stream under construction ---------------------------------------------
class TsBuilder {
  public:
    // Appends one packet; the builder counts continuity per PID.
    void Packet(int pid, const Bytes& payload, const PacketOptions& options = {});
    // A PES (or any payload unit) cut into packets, the first with PUSI set.
    void Unit(int pid, const Bytes& unit);
    // A section behind a pointer field of 0, cut into packets.
    void Section(int pid, const Bytes& section);
    void Raw(const Bytes& bytes) { m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end()); }
    int NextCc(int pid) const;
    void SetCc(int pid, int cc) { m_cc[pid] = cc & 15; }

    const Bytes& Data() const { return m_bytes; }
    Bytes& Data() { return m_bytes; }
    std::size_t PacketCount() const { return m_bytes.size() / 188; }

  private:
    Bytes m_bytes;
    std::map<int, int> m_cc;
};

// --- whole recordings ----------------------------------------------------------
struct AudioTrack {
    int pid = 0;
    bool ac3 = false;
    std::string language = "deu";
    int kbits = 0;  // 0: 192 for MPEG audio, 448 for AC-3
};

struct RecordingPlan {
    bool withPmt = true;
    int pmtPid = 0x1000;
    int program = 1;
    int videoPid = 0x100;  // 0: a radio recording
    int width = 720, height = 576, aspect = 2;
    std::vector<AudioTrack> audio = {{0x101, false, "deu", 0}};
    bool teletext = false;  // a teletext stream on PID 0x105 in the PMT
    int gops = 10;
    int gopLength = 12;               // pictures, "IBB PBB ..."
    std::int64_t firstPts = 900000;   // stamp of the first picture
    std::size_t pictureBytes = 3000;  // filler per picture (I pictures twice that)
    int psiEvery = 12;                // PAT/PMT before every n-th picture
    int frameRateCode = 3;            // of the sequence header: 3 is 25, 4 is 30000/1001
};

// Ticks from the first picture to picture n at a frame_rate_code's rate, rounded down.
std::int64_t PictureStamp(int frameRateCode, std::int64_t picture);

// Video pictures each in their own PES with a PTS (display order = stream
// order, so stamps rise by one picture), audio frames interleaved by time.
Bytes BuildRecording(const RecordingPlan& plan);

// --- receiver variants ---------------------------------------------------------------
// 192-byte packets: four bytes (a time code) before each 188-byte packet.
Bytes To192(const Bytes& ts);
// A 1,184-byte receiver block (first byte 0x7F) after the packet at index.
Bytes InsertReceiverBlock(const Bytes& ts, std::size_t packetIndex);
// Every pair of bytes swapped (an odd last byte stays).
Bytes ByteSwap(const Bytes& data);
// A Topfield header: size bytes (564 for .tts/.raw, 1692 for .rec) with the
// PMT, video and audio PIDs at bytes 20, 24 and 26.
Bytes TopfieldHeader(std::size_t size, int pmtPid, int videoPid, int audioPid);
// Writes data as the segment chain name, name.001, ... (or Film~0.vid,
// Film~1.vid ... when name ends in "~0.vid") with the given segment sizes
// (the last segment takes the rest). Returns the paths.
std::vector<std::string> WriteSegments(const std::string& name, const Bytes& data,
                                       const std::vector<std::size_t>& sizes);

// The 33-bit PTS field of a PES header, encoded (5 bytes, prefix 0010 or 0011).
Bytes EncodeTimeStamp(std::int64_t stamp, int prefix);

}  // namespace tsb
