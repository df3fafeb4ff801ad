#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "demux/start_code.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The plain definition the scanner must agree with.
std::size_t naiveFind(const Bytes& d, std::size_t from, int code) {
    for (std::size_t i = from; i + 4 <= d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && (code < 0 || d[i + 3] == code)) return i;
    return mpeg::kNotFound;
}

std::size_t find(const Bytes& d, std::size_t from, int code) {
    return code < 0 ? FindStartCodePrefix(d.data(), d.size(), from)
                    : FindStartCode(d.data(), d.size(), from, static_cast<std::uint8_t>(code));
}

// Coded-picture-like bytes: mostly random, with zero runs, lone 01 bytes and
// start codes planted at random places (also straddling the 16-byte steps).
Bytes randomStream(std::mt19937& rng, std::size_t size) {
    Bytes d(size);
    for (auto& b : d) b = static_cast<std::uint8_t>(rng() % 7 == 0 ? rng() % 3 : rng());
    const int codes[] = {0x00, 0xB3, 0xB8, 0x01, 0xAF};
    for (std::size_t n = size / 60; n-- > 0;) {
        const std::size_t at = rng() % size;
        const Bytes code = {0, 0, 1, static_cast<std::uint8_t>(codes[rng() % 5])};
        for (std::size_t k = 0; k < code.size() && at + k < size; ++k) d[at + k] = code[k];
    }
    return d;
}

TEST(StartCode, AgreesWithThePlainSearchEverywhere) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const Bytes d = randomStream(rng, 1 + rng() % 400);
        for (int code : {-1, 0x00, 0xB3, 0xB8}) {
            for (std::size_t from = 0; from <= d.size() + 1; from += 1 + rng() % 5) {
                ASSERT_EQ(find(d, from, code), naiveFind(d, from, code))
                    << "size " << d.size() << " from " << from << " code " << code;
            }
        }
    }
}

TEST(StartCode, NeedsTheWholeCodeInsideTheBuffer) {
    Bytes d(40, 0xFF);
    // A prefix whose code byte would lie beyond the end is not a start code.
    d[37] = 0;
    d[38] = 0;
    d[39] = 1;
    EXPECT_EQ(FindStartCodePrefix(d.data(), d.size(), 0), mpeg::kNotFound);
    d.push_back(0xB3);
    EXPECT_EQ(FindStartCode(d.data(), d.size(), 0, 0xB3), 37u);
    EXPECT_EQ(FindStartCode(d.data(), d.size(), 38, 0xB3), mpeg::kNotFound);
}

TEST(StartCode, LongZeroRunsEndInTheirStartCode) {
    // Zero stuffing before a start code: the code begins at the last two zeros.
    Bytes d(100, 0);
    d.push_back(1);
    d.push_back(0xB8);
    d.resize(d.size() + 30, 0x55);
    EXPECT_EQ(FindStartCode(d.data(), d.size(), 0, 0xB8), 98u);
    EXPECT_EQ(FindStartCode(d.data(), d.size(), 0, 0xB3), mpeg::kNotFound);
    EXPECT_EQ(FindStartCodePrefix(d.data(), d.size(), 0), 98u);
}

}  // namespace
