#pragma once
// Splits an elementary stream fed in pieces of any size into its start-code
// units: the bytes from one 00 00 01 prefix to the next. For H.264 and HEVC
// these are the NAL units of the Annex B byte stream; for MPEG-2 video the
// headers and slices. Only the first bytes of each unit are held (headers
// and parameter sets fit; slice data is not needed), so memory stays small
// whatever the stream holds.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace codec {

struct StartCodeUnit {
    std::uint64_t offset = 0;            // of its 00 00 01 prefix in the stream
    const std::uint8_t* data = nullptr;  // behind the prefix: the code byte(s) first
    std::size_t size = 0;                // bytes held (at most kHeld), trailing zero bytes removed
    std::uint64_t length = 0;            // bytes of the whole unit behind the prefix
};

class StartCodeSplitter {
  public:
    static constexpr std::size_t kHeld = 65536;
    using Handler = std::function<void(const StartCodeUnit&)>;

    explicit StartCodeSplitter(Handler handler) : m_handler(std::move(handler)) {}

    void Feed(const std::uint8_t* data, std::size_t size);
    // The stream ended: the unit under way is complete.
    void Finish();
    std::uint64_t Fed() const { return m_fed; }

  private:
    void append(const std::uint8_t* bytes, std::size_t count);
    void complete();

    Handler m_handler;
    std::uint64_t m_fed = 0;
    std::vector<std::uint8_t> m_work;  // carry of the last feed + this feed
    std::vector<std::uint8_t> m_unit;  // the unit under way (its first kHeld bytes)
    std::uint64_t m_unitOffset = 0;
    std::uint64_t m_unitLength = 0;
    bool m_inUnit = false;
    std::size_t m_trailingZeros = 0;  // zero bytes at the end of the unit so far
};

}  // namespace codec
