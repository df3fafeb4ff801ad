#pragma once
// The pictures of one video unit (a sequence header and what follows it up to
// the next one, in coding order), as the program-stream multiplexer needs
// them: where each picture's access unit begins, its temporal reference, and
// whether it is one field of a frame coded as two field pictures.

#include <cstddef>
#include <cstdint>
#include <vector>

struct sPictureInfo {
    std::int32_t offset = 0;  // first byte of the access unit in the scanned bytes
    std::int32_t tref = 0;    // temporal_reference
    std::uint8_t type = 0;    // picture_coding_type: 1 I, 2 P, 3 B
    bool field = false;       // picture_structure is a top or bottom field
};

class CPictureScan {
public:
    // The access units of es[0, n) in coding order. The first begins at byte
    // 0: the sequence and GOP headers belong to the picture they lead to.
    // Bytes without a picture start code give one access unit.
    static std::vector<sPictureInfo> Pictures(const std::uint8_t* es, std::size_t n);

    // frame_rate_code of a sequence header at the start of es as 90 kHz
    // ticks per frame, numerator over denominator (25 Hz: 90000 / 25 = 3600 / 1;
    // 29.97 Hz: 90000 * 1001 / 30000). False without a usable header.
    static bool FramePeriod(const std::uint8_t* es, std::size_t n, std::int64_t& num,
                            std::int64_t& den);

    // Index of the next start code prefix 00 00 01 at or after from whose
    // code byte lies inside es; n when there is none.
    static std::size_t NextStartCode(const std::uint8_t* es, std::size_t n, std::size_t from);
};
