#include "demux/start_code.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Every start code begins with two zero bytes, and in coded pictures a zero
// pair is rare (about one in 1,600 bytes), while a lone 01 byte is common
// (one in 70). So the scan looks for zero pairs, many positions at a time,
// and checks the rest only there.

namespace {
// The first i in [from, last] with buffer[i] == buffer[i + 1] == 0, where
// last + 1 < length; kNotFound if there is none.
using PairFinder = std::size_t (*)(const std::uint8_t*, std::size_t, std::size_t, std::size_t);

std::size_t findPairPlain(const std::uint8_t* buffer, std::size_t, std::size_t from,
                          std::size_t last) {
    for (std::size_t i = from; i <= last; ++i)
        if (buffer[i] == 0 && buffer[i + 1] == 0) return i;
    return mpeg::kNotFound;
}

#if defined(__x86_64__)
// The lowest set bit of a lane mask is the first pair of the block at i.
std::size_t firstPairOf(std::uint32_t pairs, std::size_t i, std::size_t last) {
    const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(pairs));
    return at <= last ? at : mpeg::kNotFound;
}

// Blocks of kBlock positions, whose lane masks come from `mask` (two loads,
// at i and i + 1; the second one ends at buffer[i + kBlock]). The last block
// is laid over the end of the buffer, overlapping the one before it, with the
// positions already searched masked off; a buffer shorter than one block goes
// to `shorter`. Always inlined, so that each instance runs with the
// instruction set of the function it is written into.
using LaneMask = std::uint32_t (*)(const std::uint8_t*);
template <std::size_t kBlock, LaneMask mask, PairFinder shorter>
[[gnu::always_inline]] inline std::size_t findPairInBlocks(const std::uint8_t* buffer,
                                                           std::size_t length, std::size_t from,
                                                           std::size_t last) {
    if (length < kBlock + 1) return shorter(buffer, length, from, last);
    std::size_t i = from;
    for (; i + kBlock + 1 <= length && i <= last; i += kBlock)
        if (const std::uint32_t pairs = mask(buffer + i)) return firstPairOf(pairs, i, last);
    if (i > last) return mpeg::kNotFound;
    const std::size_t tail = length - kBlock - 1;
    const std::uint32_t pairs = mask(buffer + tail) & (~0u << (i - tail));
    return pairs != 0 ? firstPairOf(pairs, tail, last) : mpeg::kNotFound;
}

std::uint32_t pairMaskSse2(const std::uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(here, zero), _mm_cmpeq_epi8(next, zero))));
}

std::size_t findPairSse2(const std::uint8_t* buffer, std::size_t length, std::size_t from,
                         std::size_t last) {
    return findPairInBlocks<16, pairMaskSse2, findPairPlain>(buffer, length, from, last);
}

__attribute__((target("avx2"))) std::uint32_t pairMaskAvx2(const std::uint8_t* p) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(here, zero), _mm256_cmpeq_epi8(next, zero))));
}

__attribute__((target("avx2"))) std::size_t findPairAvx2(const std::uint8_t* buffer,
                                                        std::size_t length, std::size_t from,
                                                        std::size_t last) {
    return findPairInBlocks<32, pairMaskAvx2, findPairSse2>(buffer, length, from, last);
}

PairFinder ChoosePairFinder() {
    return __builtin_cpu_supports("avx2") ? findPairAvx2 : findPairSse2;
}
#else
PairFinder ChoosePairFinder() {
    return findPairPlain;
}
#endif

// `accept` judges the code byte.
template <typename Accept>
std::size_t scan(const std::uint8_t* buffer, std::size_t length, std::size_t from, Accept accept) {
    if (length < 4 || from > length - 4) return mpeg::kNotFound;
    static const PairFinder findPair = ChoosePairFinder();
    const std::size_t last = length - 4;  // the last place a whole start code can begin
    for (std::size_t at = from; (at = findPair(buffer, length, at, last)) != mpeg::kNotFound;
         ++at) {
        if (buffer[at + 2] == 1 && accept(buffer[at + 3])) return at;
    }
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
