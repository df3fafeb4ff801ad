#pragma once
// Passes a stretch of a recording on packet by packet: in a stretch of unit
// rules each packet is kept, dropped or replaced as the rule for its PID and
// position says (or as the stretch's default has it); elsewhere every packet
// stays. Notes where the video packets of the result carry video, for the
// renumbering of H.264 slices after a splice.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/h264_renumberer.h"
#include "engine/unit_rule.h"

class CUnitFilter {
  public:
    // packetSize: 188, or 192 for packets behind a 4-byte prefix.
    CUnitFilter(std::uint16_t videoPid, std::size_t packetSize);

    // Sorted by their start.
    void SetRules(const std::vector<UnitRule>* rules) { m_rules = rules; }

    // count source bytes read at position into out. With rules, packets no
    // rule names are kept or dropped by keepByDefault. video (when given)
    // receives the video packets of out. True when out differs from the
    // source bytes.
    bool Filter(const std::uint8_t* in, std::size_t count, std::uint64_t position, bool withRules,
                bool keepByDefault, std::vector<std::uint8_t>& out,
                std::vector<CH264Renumberer::Packet>* video);

    // Where the video bytes of a transport packet begin: after its header,
    // its adaptation field and (at a unit start) its PES header; 0 when the
    // packet carries no video bytes that can be read.
    static std::size_t VideoPayloadAt(const std::uint8_t* packet);

  private:
    const UnitRule* ruleFor(std::uint16_t pid, std::uint64_t position) const;
    void noteVideo(const std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t origin,
                   std::vector<CH264Renumberer::Packet>& video) const;

    std::uint16_t m_videoPid;
    std::size_t m_packetSize;
    std::size_t m_syncAt;
    const std::vector<UnitRule>* m_rules = nullptr;
    std::vector<const UnitRule*> m_candidates;  // the rules of the stretch being filtered
};
