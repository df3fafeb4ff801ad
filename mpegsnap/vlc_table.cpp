#include "mpegsnap/vlc_table.h"

#include <cstring>
#include <stdexcept>

namespace mpegsnap {

namespace {
std::uint32_t codeBits(const char* text, int& length) {
    std::uint32_t bits = 0;
    length = 0;
    for (const char* c = text; *c; ++c) {
        if (*c == ' ') continue;
        bits = (bits << 1) | (*c == '1' ? 1u : 0u);
        ++length;
    }
    return bits;
}
}  // namespace

VlcTable::VlcTable(const std::vector<Code>& codes, int rootBits) : m_rootBits(rootBits) {
    m_entries.resize(std::size_t{1} << rootBits);
    // First pass: how many bits each root prefix needs below it.
    std::vector<int> subBits(m_entries.size(), 0);
    for (const Code& code : codes) {
        int length = 0;
        const std::uint32_t bits = codeBits(code.bits, length);
        if (length > rootBits) {
            const std::uint32_t prefix = bits >> (length - rootBits);
            if (length - rootBits > subBits[prefix]) subBits[prefix] = length - rootBits;
        }
    }
    for (std::size_t prefix = 0; prefix < subBits.size(); ++prefix) {
        if (subBits[prefix] == 0) continue;
        m_entries[prefix].value = static_cast<std::int32_t>(m_entries.size());
        m_entries[prefix].length = static_cast<std::int8_t>(-subBits[prefix]);
        m_entries.resize(m_entries.size() + (std::size_t{1} << subBits[prefix]));
    }
    for (const Code& code : codes) {
        int length = 0;
        const std::uint32_t bits = codeBits(code.bits, length);
        if (length <= rootBits) {
            const int spare = rootBits - length;
            for (std::uint32_t i = 0; i < (1u << spare); ++i) {
                Entry& entry = m_entries[(bits << spare) | i];
                if (entry.length != 0) throw std::logic_error("VLC codes are not prefix-free");
                entry = Entry{code.value, static_cast<std::int8_t>(length)};
            }
            continue;
        }
        const Entry root = m_entries[bits >> (length - rootBits)];
        const int sub = -root.length;
        const int rest = length - rootBits;
        const std::uint32_t low = bits & ((1u << rest) - 1);
        const int spare = sub - rest;
        for (std::uint32_t i = 0; i < (1u << spare); ++i) {
            Entry& entry = m_entries[static_cast<std::size_t>(root.value) + ((low << spare) | i)];
            if (entry.length != 0) throw std::logic_error("VLC codes are not prefix-free");
            entry = Entry{code.value, static_cast<std::int8_t>(rest)};
        }
    }
}

}  // namespace mpegsnap
