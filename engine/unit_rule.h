#pragma once
// What a splice of an H.264 or HEVC recording does to single packets of one
// PID, beyond the stretches it leaves out: the sound, subtitle and teletext
// PES packets kept or dropped whole by their time stamps, the leading
// pictures of the random-access picture it resumes with, the packet that
// gets the parameter sets in front of that picture, and the first PCR after
// it, which gets the discontinuity indicator.

#include <cstdint>
#include <vector>

struct UnitRule {
    enum Action : std::uint8_t {
        Keep,     // inside a cut area: the packets of [from, to) stay
        Drop,     // outside one: they go
        Replace,  // the packet at `from` is written as `packets` instead
    };
    std::uint64_t from = 0;  // packet positions, [from, to)
    std::uint64_t to = 0;
    std::uint16_t pid = 0;
    Action action = Keep;
    std::vector<std::uint8_t> packets;  // Replace: whole packets, prefixes included

    bool operator==(const UnitRule&) const = default;
};
