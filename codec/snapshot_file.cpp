#include "codec/snapshot_file.h"

#include <new>
#include <vector>

#include "codec/video_codec.h"
#include "mpegsnap/bitmap_converter.h"
#include "mpegsnap/snapshot_decoder.h"
#include "platform/file.h"
#include "shell/log.h"

namespace codec {

namespace {
// A cut-out never comes near this; a larger file is not ours.
constexpr std::uint64_t kMaxCutOut = 64u << 20;

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    platform::PlatformFile file;
    platform::FileError error;
    if (!file.Open(path, platform::modeRead, &error) || error.Failed()) return false;
    try {
        const std::uint64_t size = file.Length();
        if (size > kMaxCutOut) return false;
        bytes.resize(static_cast<std::size_t>(size));
        return file.ReadAt(0, bytes.data(), bytes.size()) == bytes.size();
    } catch (const platform::FileException&) {
        return false;
    }
}

// The window's decoder takes a printf-style name: a "%" is doubled.
std::string asPattern(const std::string& path) {
    std::string pattern;
    for (char c : path) {
        if (c == '%') pattern += '%';
        pattern += c;
    }
    return pattern;
}

}  // namespace

bool DecodeCutOutFile(const std::string& path, mpegsnap::DecodedFrame& frame, std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!readFile(path, bytes)) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    StreamCodec id = CodecOfCutOut(bytes.data(), bytes.size());
    if (id == StreamCodec::Unknown) id = StreamCodec::Mpeg2Video;  // the decoder says why not
    return VideoCodecFor(id)->DecodePicture(bytes.data(), bytes.size(), frame, error);
}

void WriteSnapshotBitmap(const std::string& cutOutPath, const std::string& bmpPath) {
    std::vector<std::uint8_t> head(16);
    try {
        platform::PlatformFile file;
        platform::FileError error;
        if (!file.Open(cutOutPath, platform::modeRead, &error) || error.Failed()) return;
        head.resize(file.ReadAt(0, head.data(), head.size()));
    } catch (const platform::FileException&) {
        return;
    }
    const StreamCodec id = CodecOfCutOut(head.data(), head.size());
    if (id != StreamCodec::H264 && id != StreamCodec::Hevc) {
        mpegsnap::DecodeSnapshot(cutOutPath, asPattern(bmpPath));
        return;
    }
    mpegsnap::DecodedFrame frame;
    std::string why;
    if (!DecodeCutOutFile(cutOutPath, frame, &why)) {
        LogWrite("Picture not decoded: " + why, 1);
        return;
    }
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(frame.height + 2) *
                          static_cast<std::size_t>(frame.width + 2) * 3 +
                      4096);
    } catch (const std::bad_alloc&) {
        return;
    }
    mpegsnap::BitmapConverter converter;
    const int bytes = converter.ConvertFrame(mpegsnap::BitmapConverter::kKindBitmap, frame.View(),
                                             buffer.data(), buffer.size());
    if (bytes <= 0) return;
    platform::WriteWholeFile(bmpPath, buffer.data(), static_cast<std::size_t>(bytes));
}

}  // namespace codec
