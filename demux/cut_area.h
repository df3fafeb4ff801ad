#pragma once
// One cut area: a stretch of the recording between two marks that the jobs
// leave out. Sectors are 512 bytes; stamps are 90 kHz time stamps of the
// pictures shown when the marks were set.

#include <cstdint>
#include <string>
#include <vector>

struct CCutArea {
    std::string text;  // always empty; kept with the record
    std::uint64_t SectorStart = 0;
    std::uint64_t SectorEnd = 0;
    std::int64_t PTSStart = 0;
    std::int64_t PTSEnd = 0;
    bool IsEnabled = false;
};

using CCutList = std::vector<CCutArea>;

constexpr std::uint64_t kSectorSize = 512;
