// The decoder's entry points: the snapshot bitmap and the plane-level decode.

#include <cstdio>
#include <new>
#include <string>

#include "mpegsnap/snapshot_decoder.h"
#include "platform/file.h"

namespace mpegsnap {

namespace {
// Formats the output pattern with the integer 1. Only integer conversions
// (with flags and width) and "%%" are expanded: any other "%" sequence is
// kept as it stands, so a name can never make the formatting read arguments
// that are not there.
std::string formatOutputName(const std::string& pattern) {
    std::string name;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            name += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            name += '%';
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < pattern.size() && std::string("-+ 0#").find(pattern[end]) != std::string::npos)
            ++end;
        while (end < pattern.size() && end - i < 8 && pattern[end] >= '0' && pattern[end] <= '9')
            ++end;
        if (end < pattern.size() &&
            (pattern[end] == 'd' || pattern[end] == 'i' || pattern[end] == 'u')) {
            const std::string conversion = pattern.substr(i, end - i) + "d";
            char text[64];
            std::snprintf(text, sizeof(text), conversion.c_str(), 1);
            name += text;
            i = end;
            continue;
        }
        name += '%';
    }
    return name;
}


int decodeFrames(SnapshotDecoder& decoder, int count, std::vector<DecodedFrame>& out) {
    int decoded = 0;
    while (decoded < count) {
        const int result = decoder.DecodeNextFrame();
        if (result != 1) return decoded > 0 ? decoded : result;
        out.push_back(decoder.CurrentFrame());
        ++decoded;
    }
    return decoded;
}
}  // namespace

int DecodeSnapshot(const std::string& inputPath, const std::string& outputPattern) {
    SnapshotDecoder decoder;
    if (decoder.InitFile(inputPath) < 0) return 1;
    const SequenceHeader& sequence = decoder.Sequence();
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(sequence.verticalSize + 2) *
                          static_cast<std::size_t>(sequence.horizontalSize + 2) * 3 +
                      4096);
    } catch (const std::bad_alloc&) {
        return 2;
    }
    if (decoder.DecodeNextFrame() != 1) return 0;
    const int bytes =
        decoder.ConvertFrame(BitmapConverter::kKindBitmap, buffer.data(), buffer.size());
    if (bytes <= 0) return 0;
    platform::WriteWholeFile(formatOutputName(outputPattern), buffer.data(), static_cast<std::size_t>(bytes));
    return 0;
}

int DecodeFrames(const std::string& path, int count, std::vector<DecodedFrame>& out) {
    SnapshotDecoder decoder;
    const int init = decoder.InitFile(path);
    if (init < 0) return init;
    return decodeFrames(decoder, count, out);
}

int DecodeFramesFromMemory(const std::uint8_t* data, std::size_t size, int count,
                           std::vector<DecodedFrame>& out) {
    SnapshotDecoder decoder;
    const int init = decoder.Init(std::vector<std::uint8_t>(data, data + size));
    if (init < 0) return init;
    return decodeFrames(decoder, count, out);
}

}  // namespace mpegsnap
