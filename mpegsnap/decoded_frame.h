#pragma once
// One decoded frame with its planes at the stream's own size, for callers
// that compare or store the planes themselves.

#include <cstdint>
#include <vector>

#include "mpegsnap/bitmap_converter.h"

namespace mpegsnap {

struct DecodedFrame {
    int width = 0;         // horizontal_size
    int height = 0;        // vertical_size
    int chromaFormat = 1;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    int matrixCoefficients = 0;
    bool progressiveFrame = true;
    bool mpeg2 = true;
    int pictureType = 1;        // of the frame (of its first field): 1 I, 2 P, 3 B
    int temporalReference = 0;  // display position within its group of pictures
    // Planes without padding: luma width x height; chroma halved (rounded up)
    // across for 4:2:0 and 4:2:2, and down for 4:2:0.
    std::vector<std::uint8_t> y, cb, cr;

    int ChromaWidth() const { return chromaFormat == 3 ? width : (width + 1) / 2; }
    int ChromaHeight() const { return chromaFormat == 1 ? (height + 1) / 2 : height; }

    FrameView View() const {
        FrameView view;
        view.y = y.data();
        view.cb = cb.data();
        view.cr = cr.data();
        view.lumaStride = width;
        view.chromaStride = ChromaWidth();
        view.width = width;
        view.height = height;
        view.chromaFormat = chromaFormat;
        view.matrixCoefficients = matrixCoefficients;
        view.progressiveFrame = progressiveFrame;
        view.mpeg2 = mpeg2;
        return view;
    }
};

}  // namespace mpegsnap
