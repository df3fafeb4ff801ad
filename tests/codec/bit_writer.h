#pragma once
// Writes syntax elements bit by bit, for hand-made NAL units: fixed-width
// fields, Exp-Golomb codes, the stop bit, and the emulation-prevention bytes
// an encoder inserts.

#include <cstdint>
#include <vector>

class BitWriter {
  public:
    BitWriter& Bits(std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bit(static_cast<int>((value >> i) & 1));
        return *this;
    }
    BitWriter& Flag(bool value) { return Bits(value ? 1 : 0, 1); }
    BitWriter& Ue(std::uint32_t value) {
        const std::uint64_t code = static_cast<std::uint64_t>(value) + 1;
        int length = 0;
        while ((code >> length) > 1)
            ++length;
        Bits(0, length);
        return Bits(code, length + 1);
    }
    BitWriter& Se(std::int32_t value) {
        return Ue(value > 0 ? static_cast<std::uint32_t>(2 * value - 1)
                            : static_cast<std::uint32_t>(-2 * static_cast<std::int64_t>(value)));
    }
    BitWriter& Byte(std::uint8_t value) { return Bits(value, 8); }
    // rbsp_trailing_bits: the stop bit, then zeros to the byte boundary.
    BitWriter& Trailing() {
        bit(1);
        while (m_bits % 8 != 0)
            bit(0);
        return *this;
    }
    // Zero bits to the byte boundary.
    BitWriter& Align() {
        while (m_bits % 8 != 0)
            bit(0);
        return *this;
    }
    // The bytes with emulation prevention: 00 00 followed by 00..03 gets a
    // 03 between.
    std::vector<std::uint8_t> Escaped() const {
        std::vector<std::uint8_t> out;
        int zeros = 0;
        for (std::uint8_t b : m_bytes) {
            if (zeros >= 2 && b <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    }
    const std::vector<std::uint8_t>& Raw() const { return m_bytes; }

  private:
    void bit(int b) {
        if (m_bits % 8 == 0) m_bytes.push_back(0);
        if (b) m_bytes.back() |= static_cast<std::uint8_t>(0x80 >> (m_bits % 8));
        ++m_bits;
    }
    std::vector<std::uint8_t> m_bytes;
    std::uint64_t m_bits = 0;
};
