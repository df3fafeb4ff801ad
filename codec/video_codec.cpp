#include "codec/video_codec.h"

#include "codec/av_picture_decoder.h"
#include "codec/h264_access_unit_scanner.h"
#include "codec/hevc_access_unit_scanner.h"
#include "codec/mpeg2_access_unit_scanner.h"
#include "codec/mpeg2_picture_cutter.h"
#include "codec/nal_picture_cutter.h"
#include "codec/nal_unit.h"
#include "mpegsnap/snapshot_decoder.h"

namespace codec {

namespace {

class Mpeg2VideoCodec : public IVideoCodec {
  public:
    // The search window of the MPEG-2 picture search: about 2 MB behind the
    // last video packet before the sequence header.
    static constexpr std::uint64_t kWindow = 2072576;

    StreamCodec Id() const override { return StreamCodec::Mpeg2Video; }
    std::unique_ptr<IAccessUnitScanner> NewScanner() const override {
        return std::make_unique<Mpeg2AccessUnitScanner>();
    }
    std::unique_ptr<IPictureCutter> NewPictureCutter(const sPMTEntry&) const override {
        return std::make_unique<Mpeg2PictureCutter>();
    }
    std::uint64_t SearchWindow() const override { return kWindow; }
    // The search window moves with the video for as long as it comes.
    std::uint64_t SearchLimit() const override { return 0; }
    bool DecodePicture(const std::uint8_t* data, std::size_t size, mpegsnap::DecodedFrame& frame,
                       std::string* error) const override {
        std::vector<mpegsnap::DecodedFrame> frames;
        const int result = mpegsnap::DecodeFramesFromMemory(data, size, 1, frames);
        if (result == 1) {
            frame = std::move(frames.front());
            return true;
        }
        if (error)
            *error = "the MPEG-2 picture cannot be decoded (error " + std::to_string(result) + ")";
        return false;
    }
};

class NalVideoCodec : public IVideoCodec {
  public:
    // An HD intra picture is up to a few megabytes: a 2160p HEVC IRAP at a
    // high rate, with the stream's audio packets between its packets.
    static constexpr std::uint64_t kWindow = 16u << 20;
    static constexpr std::size_t kCapacity = 16u << 20;
    // Broadcasters send a random-access point at least every few seconds:
    // 64 MiB hold more than ten seconds at 40 Mbit/s. A stream without one
    // there (scrambled, or its parameter sets never sent) has none to show,
    // and a search over a whole recording would make opening it take as
    // long as reading it.
    static constexpr std::uint64_t kLimit = 64u << 20;

    explicit NalVideoCodec(StreamCodec id) : m_id(id) {}

    StreamCodec Id() const override { return m_id; }
    std::unique_ptr<IAccessUnitScanner> NewScanner() const override {
        if (m_id == StreamCodec::Hevc) return std::make_unique<HevcAccessUnitScanner>();
        return std::make_unique<H264AccessUnitScanner>();
    }
    std::unique_ptr<IPictureCutter> NewPictureCutter(const sPMTEntry& stream) const override {
        std::unique_ptr<IAccessUnitScanner> scanner = NewScanner();
        if (m_id == StreamCodec::H264)
            static_cast<H264AccessUnitScanner&>(*scanner).SetIntraIsRandomAccess(
                stream.randomAccessMarks == 2);
        return std::make_unique<NalPictureCutter>(std::move(scanner), kCapacity);
    }
    std::uint64_t SearchWindow() const override { return kWindow; }
    std::uint64_t SearchLimit() const override { return kLimit; }
    bool DecodePicture(const std::uint8_t* data, std::size_t size, mpegsnap::DecodedFrame& frame,
                       std::string* error) const override {
        return AvPictureDecoder::Decode(m_id, data, size, frame, error);
    }

  private:
    StreamCodec m_id;
};

}  // namespace

const IVideoCodec* VideoCodecFor(StreamCodec codec) {
    static const Mpeg2VideoCodec mpeg2;
    static const NalVideoCodec h264(StreamCodec::H264);
    static const NalVideoCodec hevc(StreamCodec::Hevc);
    switch (codec) {
        case StreamCodec::Mpeg2Video:
            return &mpeg2;
        case StreamCodec::H264:
            return &h264;
        case StreamCodec::Hevc:
            return &hevc;
        default:
            return nullptr;
    }
}

StreamCodec CodecOfCutOut(const std::uint8_t* p, std::size_t size) {
    std::size_t at = 0;
    while (at < size && at < 4 && p[at] == 0)
        ++at;
    if (at < 2 || at + 2 >= size || p[at] != 1) return StreamCodec::Unknown;
    const std::uint8_t* header = p + at + 1;
    if (header[0] == 0xB3) return StreamCodec::Mpeg2Video;
    if (hevc::NalType(header) == hevc::kVps && header[1] == 0x01) return StreamCodec::Hevc;
    if ((header[0] & 0x80) == 0 && h264::NalType(header[0]) == h264::kSps) return StreamCodec::H264;
    return StreamCodec::Unknown;
}

}  // namespace codec
