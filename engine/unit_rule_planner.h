#pragma once
// Which sound, subtitle and teletext PES packets an H.264 or HEVC splice
// keeps: the packets are kept or dropped whole, by their time stamps, so
// that no audio frame is broken at a splice and the sound plays with the
// pictures it belongs to. Before a cut a packet stays when it starts before
// the first picture the cut removes; after it a packet stays when it (with
// its duration) reaches past the first picture shown there. A multiplexer
// sends sound somewhat before or after the pictures it plays with, so
// packets inside a cut area may stay and packets outside one may go.

#include <cstdint>
#include <vector>

#include "engine/unit_rule.h"

struct SeenUnitStart {
    std::uint16_t pid = 0;
    std::uint64_t position = 0;  // of the packet that starts the PES packet
    bool hasPts = false;
    std::int64_t pts = 0;
    std::uint64_t scannedTo = 0;  // the stretch read around it ends here
    bool audio = false;           // a sound stream: its packets last until the next
};

struct SpliceTimes {
    std::uint64_t from = 0;  // the stretch the cut leaves out
    std::uint64_t to = 0;
    bool hasCut = false;  // the first picture the cut removes (none for a leading cut)
    std::int64_t cut = 0;
    bool hasResume = false;  // the first picture shown after it (none at the end)
    std::int64_t resume = 0;
};

// starts: every PES start seen around the splices, in any order and possibly
// twice. reach: how far from a splice a PES packet is judged. The rules name
// only packets whose fate differs from the stretch they lie in.
std::vector<UnitRule> PlanUnitRules(std::vector<SeenUnitStart> starts,
                                    const std::vector<SpliceTimes>& splices, std::uint64_t reach);
