#pragma once
// Times as the window shows them: 90 kHz stamps relative to the recording's
// first picture, as H:MM:SS.mmm.

#include <cstdint>
#include <string>

// Milliseconds as H:MM:SS.mmm (hours not limited to a day).
std::string MillisecondsText(std::int64_t ms);
// (stamp - first) / 90 kHz as H:MM:SS.mmm; a stamp before the first shows 0.
std::string StampText(std::int64_t stamp, std::int64_t first);
// "Cut-area N" followed by the area's times and its length, when it has any:
// "Cut-area 2   0:00:01.200 - 0:00:03.400  (0:00:02.200)"; an area with its
// start only shows "Cut-area 2   0:00:01.200 -", one that runs to the end of
// the recording with no picture there "Cut-area 2   0:00:01.200 - end".
std::string CutAreaRowText(const std::string& label, std::size_t index, std::int64_t startStamp,
                           std::int64_t endStamp, bool enabled, std::int64_t first);
