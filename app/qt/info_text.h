#pragma once
// The information box of the cut editor: file size, bit rate, resolution,
// aspect ratio and one line per audio track, plus the entries of the audio
// combo box (MPEG audio and the audio codecs of HD recordings, not AC-3;
// with the PID as the entry's data).

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "demux/pmt_entry.h"

struct InfoText {
    std::string text;  // lines end in "\r\n", fields are separated by tabs
    std::vector<std::pair<std::string, int>> audioEntries;  // combo text, PID
};

// header: the 12 bytes of the sequence header of the picture shown.
InfoText BuildInfoText(std::uint64_t recordingLength, std::int32_t bitRate,
                       const std::array<std::uint8_t, 12>& header, const CPMT& streams);

// Width, height and aspect code from the sequence header's second word.
int PictureWidth(const std::array<std::uint8_t, 12>& header);
int PictureHeight(const std::array<std::uint8_t, 12>& header);
int AspectCode(const std::array<std::uint8_t, 12>& header);
