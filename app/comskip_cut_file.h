#pragma once
// The commercial list of the comskip detector: a header
// "FILE PROCESSING COMPLETE <frames> FRAMES AT <fps * 100>", a line of
// dashes, then one commercial per line as "START\tEND" frame numbers. comskip
// counts frames from 1: frame n is shown n - 1 frame durations after the
// first picture (its own EDL output gives the same times).

#include <string>
#include <vector>

#include "app/cut_span.h"

namespace comskip {

// recordingRate: the recording's frame rate, nullptr when unknown. Frames
// are counted at the recording's rate when the header's rate agrees with it
// (the header holds only hundredths), else at the header's rate.
CutFileContent Read(const std::string& text, const FrameRate* recordingRate);
// frames: the recording's length in frames, for the header. A span to the
// end ends at recordingEnd.
std::string Write(const std::vector<CutSpan>& spans, const FrameRate& rate, std::int64_t frames,
                  std::int64_t recordingEnd);

}  // namespace comskip
