#pragma once
// Access units (pictures, in stream order) of a video elementary stream as
// the codec layer reports them: where each begins, whether decoding may
// start there, and whether it is a leading picture of the last
// random-access point (decoded after it, shown before it).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "codec/video_format.h"

namespace codec {

enum class RandomAccess {
    None,
    SequenceHeader,  // MPEG-2: sequence header and I picture
    Idr,             // H.264 IDR picture, HEVC IDR
    RecoveryPoint,   // H.264 I picture with a recovery point SEI
    Intra,           // H.264 I picture, in a stream that marks no random-access points
    Cra,             // HEVC clean random access
    Bla,             // HEVC broken link access
};

struct AccessUnit {
    std::uint64_t offset = 0;  // of its first byte (start code) in the elementary stream
    int pictureType = 0;       // 1 I, 2 P, 3 B of its first slice; 0 unknown
    RandomAccess randomAccess = RandomAccess::None;
    // Shown before the last random-access point although it follows it:
    // dropped when decoding starts at that point unless decodable.
    bool leading = false;
    // A leading picture that refers to nothing before the random-access
    // point (HEVC RADL; MPEG-2 B pictures of a closed GOP): it may stay.
    bool leadingDecodable = false;
    // H.264 field pictures: a frame is two units.
    bool field = false;
    bool bottomField = false;
    int frameNum = 0;  // H.264 frame_num, to pair the fields of a frame
    // The parameter sets the picture refers to were seen before it.
    bool decodable = true;

    bool IsRandomAccess() const { return randomAccess != RandomAccess::None; }
};

// Reads an elementary stream fed in pieces of any size and reports its
// access units in stream order. A unit is reported once its first picture
// header has been read; its end is the next unit's offset (or the end of the
// stream).
class IAccessUnitScanner {
  public:
    virtual ~IAccessUnitScanner() = default;
    virtual void Feed(const std::uint8_t* data, std::size_t size) = 0;
    // The stream ended: the unit under way is read to its end.
    virtual void Finish() = 0;
    // Units reported since the last call.
    std::vector<AccessUnit> TakeUnits() { return std::exchange(m_units, {}); }
    // The format of the latest sequence-level header seen.
    virtual std::optional<VideoFormat> Format() const = 0;
    // The parameter sets seen so far (the latest of each id), as an Annex B
    // byte stream a decoder may be given before a random-access point; empty
    // for codecs that repeat what they need at every such point.
    virtual std::vector<std::uint8_t> ParameterSets() const { return {}; }
    // Bytes fed so far.
    std::uint64_t Fed() const { return m_fed; }

  protected:
    std::vector<AccessUnit> m_units;
    std::uint64_t m_fed = 0;
};

}  // namespace codec
