#include "app/cut_list.h"

#include <optional>
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

// Sectors of recordings beyond 2 TiB need more than 32 bits: the high part is
// stored under a key of its own, so that readers of the 32-bit key alone still
// find what they always found.
void storeSector(const std::string& group, const char* key, std::uint64_t sector) {
    platform::ISettingsStore& store = platform::Settings();
    store.SetInt(group, key, static_cast<std::uint32_t>(sector));
    if (sector >> 32) store.SetInt(group, std::string(key) + "High", static_cast<std::uint32_t>(sector >> 32));
}

std::optional<std::uint64_t> loadSector(const std::string& group, const char* key) {
    platform::ISettingsStore& store = platform::Settings();
    const std::optional<std::uint32_t> low = store.GetInt(group, key);
    if (!low) return std::nullopt;
    const std::string highKey = std::string(key) + "High";
    const std::optional<std::uint32_t> high = store.GetInt(group, highKey);
    return std::uint64_t{high.value_or(0)} << 32 | *low;
}

// Returns whether the stored entry is enabled. A damaged entry (a sector
// missing or refused by the store, an end before the start) gives a disabled
// area: it is shown, but nothing is cut by it.
bool loadArea(const std::string& group, CCutArea& area) {
    platform::ISettingsStore& store = platform::Settings();
    if (store.GetInt(group, "IsEnabled").value_or(0) == 0) return false;
    const std::optional<std::uint64_t> start = loadSector(group, "SectorStart");
    const std::optional<std::uint64_t> end = loadSector(group, "SectorEnd");
    area.SectorStart = start.value_or(0);
    area.SectorEnd = end.value_or(0);
    if (!fromBytes(store.GetBinary(group, "PTSStart"), area.PTSStart)) area.PTSStart = 0;
    if (!fromBytes(store.GetBinary(group, "PTSEnd"), area.PTSEnd)) area.PTSEnd = 0;
    updateEnabled(area);
    if (!start || !end || area.SectorStart > area.SectorEnd) area.IsEnabled = false;
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
        storeSector(sub, "SectorStart", area.SectorStart);
        storeSector(sub, "SectorEnd", area.SectorEnd);
        store.SetBinary(sub, "PTSStart", toBytes(area.PTSStart));
        store.SetBinary(sub, "PTSEnd", toBytes(area.PTSEnd));
        store.SetInt(sub, "IsEnabled", 1);
    }
}

void Load(CCutList& list, std::int64_t& firstPts, const std::string& title) {
    std::optional<std::int64_t> stored;
    Load(list, stored, title);
    if (stored) firstPts = *stored;
}

void Load(CCutList& list, std::optional<std::int64_t>& firstPts, const std::string& title) {
    platform::ISettingsStore& store = platform::Settings();
    const std::string group = GroupName(title);
    list.clear();
    std::int64_t stored = 0;
    firstPts.reset();
    if (fromBytes(store.GetBinary(group, "FirstPTS"), stored)) firstPts = stored;
    for (int i = 0;; ++i) {
        const std::string sub = group + "/" + std::to_string(i);
        CCutArea area;
        const bool enabled = loadArea(sub, area);
        if (enabled)
            list.push_back(area);  // disabled when damaged
        else
            store.RemoveGroup(sub);
        if (!(i + 1 < kProbedIndices || enabled)) break;
    }
    if (list.empty()) store.RemoveGroup(group);
}

}  // namespace cutlist
