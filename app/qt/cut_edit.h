#pragma once
// The cut-list edits the view makes, with the rules every edited area keeps:
// SectorStart <= SectorEnd, and an area is enabled exactly when its marks differ.

#include <cstddef>
#include <cstdint>

#include "demux/cut_area.h"

namespace cutedit {

std::size_t Append(CCutList& list);
void RemoveAt(CCutList& list, std::size_t index);
void SetStartMark(CCutList& list, std::size_t index, std::uint64_t sector, std::int64_t stamp);
void SetEndMark(CCutList& list, std::size_t index, std::uint64_t sector, std::int64_t stamp);

}  // namespace cutedit
