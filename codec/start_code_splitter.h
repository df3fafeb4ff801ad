#pragma once
// Splits an elementary stream fed in pieces of any size into its start-code
// units: the bytes from one 00 00 01 prefix to the next. For H.264 and HEVC
// these are the NAL units of the Annex B byte stream; for MPEG-2 video the
// headers and slices. A unit that lies wholly in one piece is handed on
// where it lies; of one that spans pieces only the first bytes are held
// (headers and parameter sets fit; slice data is not needed), so memory
// stays small whatever the stream holds.

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
    void openUnit(std::uint64_t offset);
    // Splits data (stream offset base) from `from` on; openHere: the unit
    // under way began there and nothing of it is held yet.
    void split(const std::uint8_t* data, std::size_t size, std::uint64_t base, std::size_t from,
               bool openHere);
    void completeIn(const std::uint8_t* bytes, std::size_t count);

    Handler m_handler;
    std::uint64_t m_fed = 0;
    std::vector<std::uint8_t> m_carry;  // the last bytes fed, not handed on yet
    std::vector<std::uint8_t> m_unit;  // the unit under way (its first kHeld bytes)
    std::uint64_t m_unitOffset = 0;
    std::uint64_t m_unitLength = 0;
    bool m_inUnit = false;
    std::size_t m_trailingZeros = 0;  // zero bytes at the end of the unit so far
};

}  // namespace codec
