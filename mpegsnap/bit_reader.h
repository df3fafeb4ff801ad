#pragma once
// Big-endian bit reader over a byte range held in memory. Bits are served from
// a 64-bit cache; reading past the end yields zero bits and sets a sticky
// overrun flag, so a parser may read a whole syntax element and check once.

#include <cstddef>
#include <cstdint>

namespace mpegsnap {

class BitReader {
  public:
    BitReader() = default;
    BitReader(const std::uint8_t* data, std::size_t size) { Reset(data, size); }

    void Reset(const std::uint8_t* data, std::size_t size) {
        m_next = data;
        m_end = data + size;
        m_cache = 0;
        m_bits = 0;
        m_consumed = 0;
        m_total = static_cast<std::uint64_t>(size) * 8;
        Refill();
    }

    // Up to 32 bits without consuming them.
    std::uint32_t Peek(int count) {
        if (m_bits < count) Refill();
        return static_cast<std::uint32_t>(m_cache >> (64 - count));
    }
    void Skip(int count) {
        if (m_bits < count) Refill();
        m_cache <<= count;
        m_bits -= count;
        m_consumed += static_cast<std::uint64_t>(count);
    }
    // Unchecked access for hot loops: after Need(n), up to n bits may be
    // shown and dropped without further checks (n <= 57).
    void Need(int count) {
        if (m_bits < count) Refill();
    }
    std::uint32_t Show(int count) const {
        return static_cast<std::uint32_t>(m_cache >> (64 - count));
    }
    void Drop(int count) {
        m_cache <<= count;
        m_bits -= count;
        m_consumed += static_cast<std::uint64_t>(count);
    }

    // Up to 32 bits.
    std::uint32_t Get(int count) {
        if (count == 0) return 0;
        const std::uint32_t value = Peek(count);
        Skip(count);
        return value;
    }
    bool GetBit() { return Get(1) != 0; }

    // True once more bits were consumed than the range holds.
    bool Overrun() const { return m_consumed > m_total; }
    std::uint64_t BitsLeft() const { return Overrun() ? 0 : m_total - m_consumed; }
    std::uint64_t Position() const { return m_consumed; }

    void AlignToByte() { Skip(static_cast<int>((8 - (m_consumed & 7)) & 7)); }

  private:
    void Refill() {
        // Fill whole bytes into the free low part of the cache; past the end
        // the cache fills with zeros.
        if (m_end - m_next >= 8) {
            std::uint64_t word = 0;
            for (int i = 0; i < 8; ++i)
                word = (word << 8) | m_next[i];
            const int bytes = (64 - m_bits) >> 3;
            const int spare = 64 - m_bits - bytes * 8;
            m_cache |= (word >> m_bits) & ~((std::uint64_t{1} << spare) - 1);
            m_next += bytes;
            m_bits += bytes * 8;
            return;
        }
        while (m_bits <= 56) {
            const std::uint64_t byte = m_next < m_end ? *m_next++ : 0;
            m_cache |= byte << (56 - m_bits);
            m_bits += 8;
        }
    }

    const std::uint8_t* m_next = nullptr;
    const std::uint8_t* m_end = nullptr;
    std::uint64_t m_cache = 0;
    int m_bits = 0;  // valid bits at the top of the cache
    std::uint64_t m_consumed = 0;
    std::uint64_t m_total = 0;
};

}  // namespace mpegsnap
