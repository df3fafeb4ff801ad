#pragma once
// Bit reader over the payload of one H.264 or HEVC NAL unit. The
// emulation-prevention byte (the 03 of every 00 00 03 the encoder inserted so
// that no start code appears inside a NAL unit) is removed first, so fields
// are read as the encoder wrote them. Reading past the end yields zero bits
// and sets a sticky error flag, as does an Exp-Golomb code of more than 32
// bits: a parser reads a whole structure and checks Failed() once.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec {

class RbspReader {
  public:
    // data: the NAL unit's bytes after its header. At most limit bytes of it
    // are taken (headers need only their first bytes of a large slice).
    RbspReader(const std::uint8_t* data, std::size_t size, std::size_t limit = SIZE_MAX);

    std::uint32_t Bits(int count);  // 0..32 bits
    bool Flag() { return Bits(1) != 0; }
    void Skip(std::uint64_t count);
    std::uint32_t Ue();  // ue(v)
    std::int32_t Se();   // se(v)
    // ue(v) that must not exceed max; a larger value fails the reader.
    std::uint32_t UeMax(std::uint32_t max);

    // More syntax follows before the rbsp_stop_one_bit.
    bool MoreRbspData() const;
    bool ByteAligned() const { return (m_bit & 7) == 0; }
    // Bits read so far: where the next field begins in the RBSP.
    std::uint64_t Position() const { return m_bit; }
    std::uint64_t BitsLeft() const;
    bool Failed() const { return m_failed; }
    void Fail() { m_failed = true; }

  private:
    std::vector<std::uint8_t> m_rbsp;
    std::uint64_t m_bit = 0;  // next bit to read
    bool m_failed = false;
};

}  // namespace codec
