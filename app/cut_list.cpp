#include "app/cut_list.h"

#include <utility>
#include <vector>

#include "platform/settings_store.h"

namespace cutlist {

namespace {
// Indices below this are always probed when loading; above it, loading stops
// at the first index without an enabled area.
constexpr int kProbedIndices = 30;

std::vector<std::uint8_t> toBytes(std::int64_t value) {
    std::vector<std::uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
    return bytes;
}

bool fromBytes(const std::optional<std::vector<std::uint8_t>>& bytes, std::int64_t& value) {
    if (!bytes || bytes->size() != 8) return false;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | (*bytes)[i];
    value = static_cast<std::int64_t>(v);
    return true;
}

void updateEnabled(CCutArea& area) {
    area.IsEnabled = area.SectorStart != area.SectorEnd;
}

bool loadArea(const std::string& group, CCutArea& area) {
    platform::ISettingsStore& store = platform::Settings();
    if (store.GetInt(group, "IsEnabled").value_or(0) == 0) return false;
    area.SectorStart = store.GetInt(group, "SectorStart").value_or(0);
    area.SectorEnd = store.GetInt(group, "SectorEnd").value_or(0);
    if (!fromBytes(store.GetBinary(group, "PTSStart"), area.PTSStart)) area.PTSStart = 0;
    if (!fromBytes(store.GetBinary(group, "PTSEnd"), area.PTSEnd)) area.PTSEnd = 0;
    // A damaged entry must not give an area whose end lies before its start.
    if (area.SectorStart > area.SectorEnd) {
        std::swap(area.SectorStart, area.SectorEnd);
        std::swap(area.PTSStart, area.PTSEnd);
    }
    updateEnabled(area);
    return true;
}
}  // namespace

std::size_t Append(CCutList& list) {
    list.emplace_back();
    return list.size() - 1;
}

void RemoveAt(CCutList& list, std::size_t index) {
    if (index < list.size()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
}

void RemoveAll(CCutList& list) {
    list.clear();
}

void SetStartMark(CCutArea& area, std::uint64_t sector, std::int64_t stamp) {
    area.SectorStart = sector;
    area.PTSStart = stamp;
    if (area.SectorEnd < sector) {
        area.SectorEnd = sector;
        area.PTSEnd = stamp;
    }
    updateEnabled(area);
}

void SetEndMark(CCutArea& area, std::uint64_t sector, std::int64_t stamp) {
    if (sector < area.SectorStart) {
        // An end before the start collapses the area onto its start.
        area.SectorEnd = area.SectorStart;
        area.PTSEnd = area.PTSStart;
    } else {
        area.SectorEnd = sector;
        area.PTSEnd = stamp;
    }
    updateEnabled(area);
}

std::string GroupName(const std::string& title) {
    return "CutList/" + platform::EscapeGroupName(title);
}

void Save(const CCutList& list, std::int64_t firstPts, const std::string& title) {
    platform::ISettingsStore& store = platform::Settings();
    const std::string group = GroupName(title);
    store.RemoveGroup(group);
    bool anyEnabled = false;
    for (const CCutArea& area : list)
        anyEnabled = anyEnabled || area.IsEnabled;
    // Loading deletes a group without areas, "FirstPTS" and all, so a group
    // holding only the stamp would be clutter.
    if (!anyEnabled) return;
    store.SetBinary(group, "FirstPTS", toBytes(firstPts));
    for (std::size_t i = 0; i < list.size(); ++i) {
        const CCutArea& area = list[i];
        if (!area.IsEnabled) continue;
        const std::string sub = group + "/" + std::to_string(i);
        store.SetInt(sub, "SectorStart", static_cast<std::uint32_t>(area.SectorStart));
        store.SetInt(sub, "SectorEnd", static_cast<std::uint32_t>(area.SectorEnd));
        store.SetBinary(sub, "PTSStart", toBytes(area.PTSStart));
        store.SetBinary(sub, "PTSEnd", toBytes(area.PTSEnd));
        store.SetInt(sub, "IsEnabled", 1);
    }
}

void Load(CCutList& list, std::int64_t& firstPts, const std::string& title) {
    platform::ISettingsStore& store = platform::Settings();
    const std::string group = GroupName(title);
    list.clear();
    std::int64_t stored = 0;
    if (fromBytes(store.GetBinary(group, "FirstPTS"), stored)) firstPts = stored;
    for (int i = 0;; ++i) {
        const std::string sub = group + "/" + std::to_string(i);
        CCutArea area;
        const bool enabled = loadArea(sub, area);
        if (enabled)
            list.push_back(area);
        else
            store.RemoveGroup(sub);
        if (!(i + 1 < kProbedIndices || enabled)) break;
    }
    if (list.empty()) store.RemoveGroup(group);
}

}  // namespace cutlist
