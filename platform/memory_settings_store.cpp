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

namespace {
// The length of the well-formed UTF-8 sequence at text[at], or 0.
std::size_t utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned min = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, min = 0x10000;
    else return 0;
    if (at + length > text.size()) return 0;
    unsigned code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}
}  // namespace

std::string EscapeGroupName(std::string_view name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t at = 0; at < name.size();) {
        const char c = name[at];
        const std::size_t length = utf8Length(name, at);
        if (c == '%' || c == '/' || c == '\\' || length == 0) {
            // A byte that is no part of a UTF-8 character (a name written in
            // another code page) is kept as its value: a store that holds
            // text would replace it, and two names would share one group.
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
            ++at;
            continue;
        }
        out.append(name.substr(at, length));
        at += length;
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
