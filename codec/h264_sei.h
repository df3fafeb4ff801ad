#pragma once
// H.264 supplemental enhancement information (7.3.2.3, D.1): the messages of
// one SEI NAL unit, of which the recovery point (payload type 6) tells an
// I picture from which decoding may start.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/nal_unit.h"

namespace codec::h264 {

struct RecoveryPoint {
    int recoveryFrameCount = 0;
    bool exactMatch = false;
    bool brokenLink = false;
};

struct SeiMessages {
    std::vector<int> payloadTypes;  // in the order they came
    bool hasRecoveryPoint = false;
    RecoveryPoint recoveryPoint;
};

// rbsp: the NAL unit after its header. Messages read before damage are kept
// (the result is then Broken).
ParseResult ParseSei(const std::uint8_t* rbsp, std::size_t size, SeiMessages& sei);

}  // namespace codec::h264
