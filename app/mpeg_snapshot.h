#pragma once
// The picture search: from a byte position, the next MPEG video sequence
// header, cut out with the pictures up to the next B picture into a small
// elementary-stream file for the snapshot decoder; on the way, the first audio
// frame header of every audio stream, which gives the information box its
// sample rates and bit rates.

#include <array>
#include <cstdint>
#include <string>

#include "demux/mpeg_ts_demux.h"
#include "demux/pmt_entry.h"

class CRawFile;

class CMpegSnapshot {
  public:
    static constexpr std::size_t kOutputSize = 2072576;
    static constexpr std::uint64_t kWindowVideo = 2072576;
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
    // Fills the entry's sample rate and bit rates from the first frame header
    // in a PES payload; false (entry unchanged) when there is none.
    static bool ParseAudioHeader(const std::uint8_t* payload, int length, sPMTEntry& entry);

    CPMT m_streams;  // a copy of the document's streams during one extraction
    std::uint16_t m_videoPid = 0;
    // 00 00 01 B3 and the 8 bytes after it: size, aspect, frame rate, bit rate.
    std::array<std::uint8_t, 12> m_sequenceHeader{};
    std::uint64_t m_picturePosition = 0;  // just behind the packet of the sequence header
    std::int64_t m_pictureStamp = 0;
    bool m_pictureFound = false;  // a sequence header was found (audio aside)
    bool m_audioDone = false;
    bool m_writeFailed = false;

  private:
    struct Search;
    bool handleAudio(const std::uint8_t* payload, int length, int pid);
    bool handleVideo(Search& search, const std::uint8_t* payload, int length);
    void append(Search& search, const std::uint8_t* bytes, int count);
    bool allAudioRead() const;

    CRawFile* m_recording = nullptr;
    CMpegTsDemux m_packets;  // the packet layer
};

// The process-wide extractor.
CMpegSnapshot& MpegSnapshot();

// Sequence-header fields of the 12 captured bytes.
int SequenceWidth(const std::array<std::uint8_t, 12>& header);
int SequenceHeight(const std::array<std::uint8_t, 12>& header);
int SequenceAspect(const std::array<std::uint8_t, 12>& header);
