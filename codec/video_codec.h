#pragma once
// What is codec-specific about a recording's video, behind one interface:
// finding random-access points and picture boundaries (the access-unit
// scanner), cutting out the picture at a position (the picture cutter),
// reading sizes and aspect, telling leading pictures, and decoding one
// picture. MPEG-2 video has its own decoder; H.264 and HEVC decode through
// libavcodec. The picture search, the document and the window use only this.

#include <cstdint>
#include <memory>
#include <string>

#include "codec/access_unit.h"
#include "codec/picture_cutter.h"
#include "demux/pmt_entry.h"
#include "mpegsnap/decoded_frame.h"

namespace codec {

class IVideoCodec {
  public:
    virtual ~IVideoCodec() = default;
    virtual StreamCodec Id() const = 0;
    virtual std::unique_ptr<IAccessUnitScanner> NewScanner() const = 0;
    // stream: the video stream's entry (for what earlier searches learned).
    virtual std::unique_ptr<IPictureCutter> NewPictureCutter(const sPMTEntry& stream) const = 0;
    // How far the picture search reads behind the last video packet before
    // a random-access point: what the picture needs lies within this.
    virtual std::uint64_t SearchWindow() const = 0;
    // How far the search reads at the most before it gives up finding a
    // point at all (a scrambled stream has none); 0: as long as video comes.
    virtual std::uint64_t SearchLimit() const = 0;
    // Decodes the first picture of a cut-out. False, with the reason, when
    // none can be decoded.
    virtual bool DecodePicture(const std::uint8_t* data, std::size_t size,
                               mpegsnap::DecodedFrame& frame, std::string* error) const = 0;
};

// The codec of a stream; nullptr for streams that carry no video.
const IVideoCodec* VideoCodecFor(StreamCodec codec);

// Which codec wrote a cut-out: MPEG-2 cut-outs begin with a sequence header,
// H.264 ones with a sequence parameter set, HEVC ones with a video parameter
// set (the parameter sets are always carried first). Unknown otherwise.
StreamCodec CodecOfCutOut(const std::uint8_t* data, std::size_t size);

}  // namespace codec
