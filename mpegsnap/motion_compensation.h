#pragma once
// Motion-compensated prediction with half-sample interpolation. Every
// reference position is clamped to the reference plane, so a damaged vector
// can never read outside it.

#include "mpegsnap/frame_buffer.h"

namespace mpegsnap {

class MotionCompensation {
  public:
    // Forms the w x h prediction at (x, y) of dst from ref, displaced by
    // (mvx, mvy) in half samples; with average the prediction is averaged
    // with what dst holds (bidirectional and dual-prime prediction).
    static void PredictBlock(const PlaneView& dst, const PlaneView& ref, int x, int y, int w, int h,
                             int mvx, int mvy, bool average);

    // The same for the luma block at (x, y) and the chroma blocks that go
    // with it; refField/dstField -1 for frames, 0 or 1 for a field.
    static void Predict(const FrameBuffer& ref, int refField, const FrameBuffer& dst, int dstField,
                        int chromaFormat, int x, int y, int w, int h, int mvx, int mvy,
                        bool average);
};

}  // namespace mpegsnap
