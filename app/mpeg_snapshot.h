#pragma once
// The picture search: from a byte position, the next random-access point of
// the video (an MPEG-2 sequence header, an H.264 IDR or recovery point, an
// HEVC IRAP picture: the codec layer knows which), cut out into a small
// elementary-stream file for the decoder; on the way, the first audio frame
// header of every audio stream, which gives the information box its sample
// rates, bit rates and channel layouts.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/video_format.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/pmt_entry.h"

class CRawFile;

class CMpegSnapshot {
  public:
    // The window of a recording without video (the codecs have their own).
    static constexpr std::uint64_t kWindowNoVideo = 5242880;

    CMpegSnapshot() = default;
    CMpegSnapshot(const CMpegSnapshot&) = delete;
    CMpegSnapshot& operator=(const CMpegSnapshot&) = delete;

    bool Init(CRawFile& recording, std::uint16_t pmtPid, std::uint16_t videoPid,
              std::uint16_t audioPid);
    // Searches from position; writes the cut-out video to path (nothing is
    // written when path is empty). True when a picture was found and every
    // audio stream's frame header was read.
    bool ExtractPicture(std::uint64_t position, const std::string& path);
    // Fills the entry's sample rate, bit rates and layout from the first
    // frame header in a PES payload; false (entry unchanged) when there is
    // none or the entry is no audio stream.
    static bool ParseAudioHeader(const std::uint8_t* payload, int length, sPMTEntry& entry);

    CPMT m_streams;  // a copy of the document's streams during one extraction
    std::uint16_t m_videoPid = 0;
    // 00 00 01 B3 and the 8 bytes after it: size, aspect, frame rate, bit
    // rate. For H.264 and HEVC the same bytes with the picture's size and
    // aspect (for readers of MPEG-2 headers).
    std::array<std::uint8_t, 12> m_sequenceHeader{};
    codec::VideoFormat m_format;          // of the picture found
    std::uint64_t m_picturePosition = 0;  // just behind the packet where the picture begins
    std::int64_t m_pictureStamp = 0;
    bool m_pictureFound = false;  // a random-access point was found (audio aside)
    bool m_audioDone = false;
    bool m_writeFailed = false;

  private:
    bool handleAudio(const std::uint8_t* payload, int length, int pid);
    bool allAudioRead() const;
    StreamCodec videoCodec() const;
    void writeCutOut(const std::string& path, const std::vector<std::uint8_t>& bytes);

    CRawFile* m_recording = nullptr;
    CMpegTsDemux m_packets;  // the packet layer
};

// The process-wide extractor.
CMpegSnapshot& MpegSnapshot();

// Sequence-header fields of the 12 captured bytes.
int SequenceWidth(const std::array<std::uint8_t, 12>& header);
int SequenceHeight(const std::array<std::uint8_t, 12>& header);
int SequenceAspect(const std::array<std::uint8_t, 12>& header);
