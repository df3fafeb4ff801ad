#pragma once
// The editing rules of a recording's cut list and its storage in the settings
// store under "CutList/<title>", where the window and the command-line tool
// find it again by the recording's file title.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "demux/cut_area.h"

namespace cutlist {

// Every area touched keeps SectorStart <= SectorEnd, and is enabled exactly
// when its two marks differ.
std::size_t Append(CCutList& list);  // a new empty, disabled area; returns its index
void RemoveAt(CCutList& list, std::size_t index);
void RemoveAll(CCutList& list);
void SetStartMark(CCutArea& area, std::uint64_t sector, std::int64_t stamp);
void SetEndMark(CCutArea& area, std::uint64_t sector, std::int64_t stamp);

// "CutList/" + the escaped title.
std::string GroupName(const std::string& title);

// Replaces what is stored for title: "FirstPTS" and one group per enabled
// area ("0", "1", ... by list index, so disabled areas leave gaps). An empty
// or wholly disabled list leaves no group behind. Sectors of 2^32 and above
// keep their high 32 bits under "SectorStartHigh"/"SectorEndHigh".
void Save(const CCutList& list, std::int64_t firstPts, const std::string& title);
// Reads the stored areas (indices 0..29 always probed, beyond that until the
// first gap), renumbered by list position; disabled or missing entries are
// deleted from the store, and the group goes when nothing was loaded.
// firstPts is replaced only by a stored value of exactly 8 bytes. A stored
// area with a sector missing or refused, or its end before its start, loads
// disabled.
void Load(CCutList& list, std::int64_t& firstPts, const std::string& title);
// The same; firstPts is empty when no 8-byte value is stored.
void Load(CCutList& list, std::optional<std::int64_t>& firstPts, const std::string& title);

}  // namespace cutlist
