#pragma once
// The pictures (access units) of an H.264 or HEVC elementary stream loaded
// into a video payload window, as the cut planner needs them: where each
// begins and in which packet, its time stamp, what the codec layer's scanner
// says of it (random-access point, leading picture), whether it carries its
// parameter sets, where its slice headers are, and for H.264 the numbering
// fields of its first slice.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/access_unit.h"
#include "codec/h264_slice_header.h"
#include "codec/h264_slice_renumber.h"
#include "demux/pmt_entry.h"

class CVideoPayloadWindow;

struct NalPicture {
    std::size_t offset = 0;  // of its first byte in the window's elementary stream
    std::size_t end = 0;     // where the next one begins
    std::uint64_t packet = 0;  // the packet that holds its first byte
    bool hasPts = false;       // a PES header with a time stamp begins it
    std::int64_t pts = 0;
    codec::AccessUnit unit;
    // Its sequence and picture parameter sets (and HEVC video parameter
    // set) come within it, before its first slice.
    bool carriesSets = false;
    // It begins with an access unit delimiter, which ends here (else 0).
    std::size_t delimiterEnd = 0;
    // Offsets of the NAL unit header of each of its slices.
    std::vector<std::size_t> slices;
    int nalType = -1;  // of its first slice
    // H.264: its first slice's header, when its parameter sets were known.
    bool sliceRead = false;
    codec::h264::SliceHeader slice;
    codec::h264::SliceNumbering numbering;
};

class CNalPictureList {
  public:
    // codec: H264 or Hevc. intraIsRandomAccess: an H.264 stream that marks no
    // random-access points. primer: parameter sets (Annex B) in force before
    // the window, for a window that does not hold them itself.
    CNalPictureList(StreamCodec codec, bool intraIsRandomAccess);

    std::vector<NalPicture> Build(const CVideoPayloadWindow& window,
                                  const std::vector<std::uint8_t>& primer) const;
    // The parameter sets in force at `offset` of the window (the latest of
    // each id seen before it), as an Annex B byte stream.
    std::vector<std::uint8_t> SetsBefore(const CVideoPayloadWindow& window, std::size_t offset,
                                         const std::vector<std::uint8_t>& primer) const;

  private:
    StreamCodec m_codec;
    bool m_intraIsRandomAccess;
};
