#include "codec/rbsp_reader.h"

#include <algorithm>

namespace codec {

RbspReader::RbspReader(const std::uint8_t* data, std::size_t size, std::size_t limit) {
    const std::size_t n = std::min(size, limit);
    m_rbsp.reserve(n);
    int zeros = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = data[i];
        if (zeros >= 2 && b == 0x03) {
            zeros = 0;  // emulation_prevention_three_byte
            continue;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        m_rbsp.push_back(b);
    }
}

std::uint32_t RbspReader::Bits(int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t byte = m_bit >> 3;
        int bit = 0;
        if (byte < m_rbsp.size())
            bit = (m_rbsp[byte] >> (7 - (m_bit & 7))) & 1;
        else
            m_failed = true;
        ++m_bit;
        value = (value << 1) | static_cast<std::uint32_t>(bit);
    }
    return value;
}

void RbspReader::Skip(std::uint64_t count) {
    m_bit += count;
    if (m_bit > 8 * static_cast<std::uint64_t>(m_rbsp.size())) m_failed = true;
}

std::uint32_t RbspReader::Ue() {
    int leadingZeros = 0;
    while (!Flag()) {
        if (m_failed || ++leadingZeros > 31) {
            m_failed = true;
            return 0;
        }
    }
    if (leadingZeros == 0) return 0;
    return ((std::uint32_t{1} << leadingZeros) - 1) + Bits(leadingZeros);
}

std::int32_t RbspReader::Se() {
    const std::uint32_t k = Ue();
    const auto magnitude = static_cast<std::int32_t>((k + 1) / 2);
    return (k & 1) ? magnitude : -magnitude;
}

std::uint32_t RbspReader::UeMax(std::uint32_t max) {
    const std::uint32_t value = Ue();
    if (value > max) m_failed = true;
    return value > max ? max : value;
}

bool RbspReader::MoreRbspData() const {
    if (m_failed) return false;
    // The stop bit is the last 1 bit of the payload (trailing zero bytes
    // aside): more data exists while a 1 bit lies beyond the next bit.
    std::size_t last = m_rbsp.size();
    while (last > 0 && m_rbsp[last - 1] == 0)
        --last;
    if (last == 0) return false;
    const std::uint8_t b = m_rbsp[last - 1];
    int trailing = 0;
    while (((b >> trailing) & 1) == 0)
        ++trailing;
    const std::uint64_t stopBit = 8 * static_cast<std::uint64_t>(last - 1) + (7 - trailing);
    return m_bit < stopBit;
}

std::uint64_t RbspReader::BitsLeft() const {
    const std::uint64_t total = 8 * static_cast<std::uint64_t>(m_rbsp.size());
    return m_bit >= total ? 0 : total - m_bit;
}

}  // namespace codec
