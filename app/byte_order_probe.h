#pragma once
// Some receivers store every pair of bytes swapped. The probe counts MPEG
// video sequence-header start codes (00 00 01 B3) in the first 1,024,000
// bytes read both ways and keeps the reading that finds more (plain on a tie);
// where neither finds one (H.264 and HEVC video), it counts the video PES
// headers (00 00 01 E0 to EF) instead.

#include <cstdint>

class CRawFile;

struct ByteOrderCounts {
    int swapped = 0;
    int plain = 0;
};

// Sets the recording's byte order and returns both counts.
ByteOrderCounts ProbeByteOrder(CRawFile& recording);
