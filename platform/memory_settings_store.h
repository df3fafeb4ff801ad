#pragma once
// A settings store held in memory, for tests and as the default until a front
// end installs its own.

#include <map>
#include <variant>

#include "platform/settings_store.h"

namespace platform {

class MemorySettingsStore : public ISettingsStore {
  public:
    std::optional<std::uint32_t> GetInt(std::string_view group,
                                        std::string_view key) const override;
    void SetInt(std::string_view group, std::string_view key, std::uint32_t value) override;
    std::optional<std::string> GetString(std::string_view group,
                                         std::string_view key) const override;
    void SetString(std::string_view group, std::string_view key, std::string_view value) override;
    std::optional<std::vector<std::uint8_t>> GetBinary(std::string_view group,
                                                       std::string_view key) const override;
    void SetBinary(std::string_view group, std::string_view key,
                   const std::vector<std::uint8_t>& value) override;
    void RemoveGroup(std::string_view group) override;
    std::vector<std::string> ChildGroups(std::string_view group) const override;

    bool HasGroup(std::string_view group) const;  // any value at or below group
    std::size_t ValueCount() const { return m_values.size(); }

  private:
    using Value = std::variant<std::uint32_t, std::string, std::vector<std::uint8_t>>;
    const Value* find(std::string_view group, std::string_view key) const;
    std::map<std::string, Value> m_values;  // "group/key" -> value
};

}  // namespace platform
