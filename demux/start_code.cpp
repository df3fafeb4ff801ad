#include "demux/start_code.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
bool IsStartCodeAt(const std::uint8_t* p) {
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Every start code begins with two zero bytes, and in coded pictures a zero
// pair is rare (about one in 1,600 bytes), while a lone 01 byte is common
// (one in 70). So the scan looks for zero pairs, 16 positions at a time, and
// checks the rest only there. `accept` judges the code byte.
template <typename Accept>
std::size_t scan(const std::uint8_t* buffer, std::size_t length, std::size_t from, Accept accept) {
    if (length < 4 || from > length - 4) return mpeg::kNotFound;
    const std::size_t last = length - 4;  // the last place a whole start code can begin
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    // Two loads, at i and i + 1: the second reads up to buffer[i + 16].
    for (; i + 17 <= length; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer + i + 1));
        auto pairs = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(here, zero), _mm_cmpeq_epi8(next, zero))));
        while (pairs != 0) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(pairs));
            if (at > last) return mpeg::kNotFound;
            if (buffer[at + 2] == 1 && accept(buffer[at + 3])) return at;
            pairs &= pairs - 1;
        }
    }
#endif
    for (; i <= last; ++i)
        if (IsStartCodeAt(buffer + i) && accept(buffer[i + 3])) return i;
    return mpeg::kNotFound;
}
}  // namespace

std::size_t FindStartCode(const std::uint8_t* buffer, std::size_t length, std::size_t from,
                          std::uint8_t code) {
    return scan(buffer, length, from, [code](std::uint8_t c) { return c == code; });
}

std::size_t FindStartCodePrefix(const std::uint8_t* buffer, std::size_t length, std::size_t from) {
    return scan(buffer, length, from, [](std::uint8_t) { return true; });
}
