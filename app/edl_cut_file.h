#pragma once
// MPlayer/Kodi edit decision lists: one entry per line, "START END ACTION",
// times in seconds ("75.5"), as [H:]MM:SS[.fff] or, in Kodi's form, as
// frame numbers "#1887". Action 0 (cut) and 3 (commercial break) leave the
// stretch out; 1 (mute) and 2 (scene marker) do not cut and are passed over.
// A line without an action is a cut, as Kodi reads it.

#include <string>
#include <vector>

#include "app/cut_span.h"

namespace edl {

// rate: the recording's frame rate for "#frame" times; nullptr when unknown.
CutFileContent Read(const std::string& text, const FrameRate* rate);
// One "START\tEND\t0" line per span, seconds with three decimals rounded
// down (so that each time reads back onto the same picture). A span to the
// end ends at recordingEnd.
std::string Write(const std::vector<CutSpan>& spans, std::int64_t recordingEnd);

}  // namespace edl
