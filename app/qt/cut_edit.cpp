#include "app/qt/cut_edit.h"

namespace cutedit {

std::size_t Append(CCutList& list) {
    list.emplace_back();
    return list.size() - 1;
}

void RemoveAt(CCutList& list, std::size_t index) {
    if (index < list.size()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
}

void SetStartMark(CCutList& list, std::size_t index, std::uint64_t sector, std::int64_t stamp) {
    if (index >= list.size()) return;
    CCutArea& area = list[index];
    area.SectorStart = sector;
    area.PTSStart = stamp;
    if (area.SectorEnd < sector) {
        area.SectorEnd = sector;
        area.PTSEnd = stamp;
    }
    area.IsEnabled = area.SectorStart != area.SectorEnd;
}

void SetEndMark(CCutList& list, std::size_t index, std::uint64_t sector, std::int64_t stamp) {
    if (index >= list.size()) return;
    CCutArea& area = list[index];
    if (sector < area.SectorStart) {
        area.SectorEnd = area.SectorStart;
        area.PTSEnd = area.PTSStart;
    } else {
        area.SectorEnd = sector;
        area.PTSEnd = stamp;
    }
    area.IsEnabled = area.SectorStart != area.SectorEnd;
}

}  // namespace cutedit
