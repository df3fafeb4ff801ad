#include "platform/memory_settings_store.h"

#include <set>

namespace platform {

namespace {
std::string fullKey(std::string_view group, std::string_view key) {
    std::string k(group);
    k += '/';
    k += key;
    return k;
}

bool isBelow(const std::string& fullKey, std::string_view group) {
    return fullKey.size() > group.size() && fullKey.compare(0, group.size(), group) == 0 &&
           fullKey[group.size()] == '/';
}

MemorySettingsStore& defaultStore() {
    static MemorySettingsStore store;
    return store;
}

ISettingsStore* g_store = nullptr;
}  // namespace

ISettingsStore& Settings() {
    return g_store ? *g_store : defaultStore();
}
void SetSettingsStore(ISettingsStore* store) {
    g_store = store;
}

std::string EscapeGroupName(std::string_view name) {
    std::string out;
    for (char c : name) {
        switch (c) {
            case '%':
                out += "%25";
                break;
            case '/':
                out += "%2F";
                break;
            case '\\':
                out += "%5C";
                break;
            default:
                out += c;
        }
    }
    return out;
}

const MemorySettingsStore::Value* MemorySettingsStore::find(std::string_view group,
                                                            std::string_view key) const {
    auto it = m_values.find(fullKey(group, key));
    return it == m_values.end() ? nullptr : &it->second;
}

std::optional<std::uint32_t> MemorySettingsStore::GetInt(std::string_view group,
                                                         std::string_view key) const {
    const Value* v = find(group, key);
    if (v && std::holds_alternative<std::uint32_t>(*v)) return std::get<std::uint32_t>(*v);
    return std::nullopt;
}

void MemorySettingsStore::SetInt(std::string_view group, std::string_view key,
                                 std::uint32_t value) {
    m_values[fullKey(group, key)] = value;
}

std::optional<std::string> MemorySettingsStore::GetString(std::string_view group,
                                                          std::string_view key) const {
    const Value* v = find(group, key);
    if (v && std::holds_alternative<std::string>(*v)) return std::get<std::string>(*v);
    return std::nullopt;
}

void MemorySettingsStore::SetString(std::string_view group, std::string_view key,
                                    std::string_view value) {
    m_values[fullKey(group, key)] = std::string(value);
}

std::optional<std::vector<std::uint8_t>> MemorySettingsStore::GetBinary(
    std::string_view group, std::string_view key) const {
    const Value* v = find(group, key);
    if (v && std::holds_alternative<std::vector<std::uint8_t>>(*v))
        return std::get<std::vector<std::uint8_t>>(*v);
    return std::nullopt;
}

void MemorySettingsStore::SetBinary(std::string_view group, std::string_view key,
                                    const std::vector<std::uint8_t>& value) {
    m_values[fullKey(group, key)] = value;
}

void MemorySettingsStore::RemoveGroup(std::string_view group) {
    for (auto it = m_values.begin(); it != m_values.end();)
        it = isBelow(it->first, group) ? m_values.erase(it) : std::next(it);
}

std::vector<std::string> MemorySettingsStore::ChildGroups(std::string_view group) const {
    std::set<std::string> names;
    for (const auto& [key, value] : m_values) {
        if (!isBelow(key, group)) continue;
        std::string rest = key.substr(group.size() + 1);
        auto slash = rest.find('/');
        if (slash != std::string::npos) names.insert(rest.substr(0, slash));
    }
    return {names.begin(), names.end()};
}

bool MemorySettingsStore::HasGroup(std::string_view group) const {
    for (const auto& entry : m_values)
        if (isBelow(entry.first, group)) return true;
    return false;
}

}  // namespace platform
