// Fuzzes the snapshot decoder over in-memory input: elementary and program
// streams, every picture type, and the bitmap conversion of what comes out.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mpegsnap/bitmap_converter.h"
#include "mpegsnap/snapshot_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<mpegsnap::DecodedFrame> frames;
    const int decoded = mpegsnap::DecodeFramesFromMemory(data, size, 4, frames);
    if (decoded <= 0) return 0;
    // The bitmap of the snapshot frame, as DecodeSnapshot makes it. Large
    // frames only repeat the same arithmetic at a cost that slows the
    // search to a crawl under the sanitizers.
    mpegsnap::BitmapConverter converter;
    const mpegsnap::DecodedFrame& frame = frames[0];
    if (frame.width * frame.height <= 352 * 288) {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(frame.width + 2) *
                                             static_cast<std::size_t>(frame.height + 2) * 3 +
                                         4096);
        // Every bitmap fits the buffer the decoder allocates for it.
        if (converter.ConvertFrame(mpegsnap::BitmapConverter::kKindBitmap, frame.View(),
                                   buffer.data(), buffer.size()) <= 0 &&
            converter.Error() != -3)
            __builtin_trap();
    }
    return 0;
}
