#pragma once
// Writes bit fields most significant bit first onto the end of a byte
// vector, for the frames the program makes itself (silent audio frames).

#include <cstdint>
#include <vector>

class BitPacker {
  public:
    explicit BitPacker(std::vector<std::uint8_t>& out) : m_out(out) {}
    void Put(std::uint32_t value, int bits) {
        for (int b = bits - 1; b >= 0; --b) {
            if (m_bit == 0) m_out.push_back(0);
            if ((value >> b) & 1) m_out.back() |= static_cast<std::uint8_t>(0x80 >> m_bit);
            m_bit = (m_bit + 1) & 7;
        }
    }

  private:
    std::vector<std::uint8_t>& m_out;
    int m_bit = 0;
};
