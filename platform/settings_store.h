#pragma once
// The per-user settings store: groups ("Defaults", "Demux",
// "CutList/<title>/0", ...) holding 32-bit integers, strings and binary
// values. Group paths use "/" between levels.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ISettingsStore {
  public:
    virtual ~ISettingsStore() = default;

    virtual std::optional<std::uint32_t> GetInt(std::string_view group,
                                                std::string_view key) const = 0;
    virtual void SetInt(std::string_view group, std::string_view key, std::uint32_t value) = 0;
    virtual std::optional<std::string> GetString(std::string_view group,
                                                 std::string_view key) const = 0;
    virtual void SetString(std::string_view group, std::string_view key,
                           std::string_view value) = 0;
    virtual std::optional<std::vector<std::uint8_t>> GetBinary(std::string_view group,
                                                               std::string_view key) const = 0;
    virtual void SetBinary(std::string_view group, std::string_view key,
                           const std::vector<std::uint8_t>& value) = 0;
    // Removes the group with all its values and every group below it.
    virtual void RemoveGroup(std::string_view group) = 0;
    // Names of the groups directly below group.
    virtual std::vector<std::string> ChildGroups(std::string_view group) const = 0;
    virtual void Sync() {}
};

// The store the program uses; a front end installs its backend at start-up.
// Until then an in-memory store serves (tests never touch the user's own).
ISettingsStore& Settings();
void SetSettingsStore(ISettingsStore* store);  // nullptr restores the in-memory default

// A recording title may hold characters that would split or alias a group
// path ("/", "\"): they are escaped as %XX, and so is the escape character
// itself, and every byte that is not part of a well-formed UTF-8 character.
std::string EscapeGroupName(std::string_view name);

}  // namespace platform
