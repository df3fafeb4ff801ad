#pragma once
// The splice of an H.264 or HEVC recording around one cut area, as "Copy
// edited recording" makes it: the splice planner says where the kept data
// ends (at the random-access picture at or after the area's start) and where
// it resumes (at the one at or after its end, without the leading pictures
// that refer to what the cut removed). The last picture shown before the
// splice is the last one in display order of the pictures decoded from the
// random-access picture before the end; the first shown after it is the
// picture the data resumes with, or a kept leading picture shown before it
// (HEVC RADL).

#include <cstdint>
#include <vector>

#include "app/qt/splice_finder.h"
#include "codec/av_picture_decoder.h"
#include "engine/cut_format.h"
#include "engine/nal_splice_planner.h"

class CRawFile;
class CVideoPayloadWindow;

class CNalSpliceFinder {
  public:
    CNalSpliceFinder(CRawFile& recording, std::uint16_t videoPid, const CutFormat& format,
                     std::uint64_t dataStart, std::int32_t syncOffset,
                     CNalSplicePlanner::Streams streams);

    SplicePreview Find(const CCutArea& area);

  private:
    SplicePicture LastShownBefore(std::uint64_t end);
    SplicePicture FirstShownAt(std::uint64_t start, const std::vector<UnitRule>& rules);
    // The pictures of the window; read again with the parameter sets of the
    // recording's start when the window's own give no decodable
    // random-access picture (a recording that sends them only once).
    std::vector<NalPicture> PicturesOf(const CVideoPayloadWindow& window,
                                       std::vector<std::uint8_t>& primer);
    CVideoPayloadWindow MakeWindow() const;
    // Decodes the parameter sets in force at pictures[first] and the
    // pictures chosen, and gives the picture shown first or last.
    SplicePicture Decode(const CVideoPayloadWindow& window, const std::vector<NalPicture>& pictures,
                         const std::vector<std::size_t>& chosen,
                         const std::vector<std::uint8_t>& primer,
                         codec::AvPictureDecoder::Shown which) const;

    CRawFile& m_recording;
    std::uint16_t m_videoPid;
    CutFormat m_format;
    std::uint64_t m_dataStart;
    std::int32_t m_syncOffset;
    std::uint64_t m_length;
    CNalSplicePlanner::Streams m_streams;
    CNalPictureList m_list;
};
