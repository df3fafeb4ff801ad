// The start-code splitter against a plain reading of the byte stream: the
// same units (offset, length, held bytes) whatever the pieces it is fed in,
// prefixes split across pieces, zero_bytes and trailing zeros, units longer
// than what is held.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/start_code_splitter.h"

namespace {

struct Unit {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Unit&) const = default;
};

// Every 00 00 01 followed by a code byte starts a unit; a unit ends where
// the next begins, less the zero bytes before that.
std::vector<Unit> reference(const std::vector<std::uint8_t>& s) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + 3 < s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            starts.push_back(i);
            i += 2;
        }
    std::vector<Unit> units;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t begin = starts[k] + 3;
        std::size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
        while (end > begin && s[end - 1] == 0)
            --end;
        Unit unit;
        unit.offset = starts[k];
        unit.length = end - begin;
        const std::size_t held = std::min<std::size_t>(end - begin, codec::StartCodeSplitter::kHeld);
        unit.bytes.assign(s.begin() + static_cast<std::ptrdiff_t>(begin),
                          s.begin() + static_cast<std::ptrdiff_t>(begin + held));
        units.push_back(unit);
    }
    return units;
}

std::vector<Unit> split(const std::vector<std::uint8_t>& s, const std::vector<std::size_t>& pieces) {
    std::vector<Unit> units;
    codec::StartCodeSplitter splitter([&units](const codec::StartCodeUnit& unit) {
        units.push_back({unit.offset, unit.length, {unit.data, unit.data + unit.size}});
    });
    std::size_t at = 0;
    for (std::size_t k = 0; at < s.size(); ++k) {
        const std::size_t n = std::min(pieces[k % pieces.size()], s.size() - at);
        splitter.Feed(s.data() + at, n);
        at += n;
    }
    splitter.Finish();
    EXPECT_EQ(splitter.Fed(), s.size());
    return units;
}

// Short units dense with zero runs and prefixes, one longer than kHeld.
std::vector<std::uint8_t> stream(unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> s;
    for (int unit = 0; unit < 300; ++unit) {
        const int zeros = static_cast<int>(random() % 4);  // zero_byte, trailing zeros
        s.insert(s.end(), static_cast<std::size_t>(zeros), 0);
        s.insert(s.end(), {0, 0, 1});
        const std::size_t size =
            unit == 150 ? codec::StartCodeSplitter::kHeld + 1000 : random() % 12;
        for (std::size_t i = 0; i < size; ++i)
            s.push_back(random() % 3 == 0 ? 0 : static_cast<std::uint8_t>(random() % 3));
    }
    return s;
}

}  // namespace

TEST(StartCodeSplitter, AnyPiecesGiveTheUnitsOfTheStream) {
    for (unsigned seed : {1u, 2u, 3u}) {
        const std::vector<std::uint8_t> s = stream(seed);
        const std::vector<Unit> expected = reference(s);
        ASSERT_GT(expected.size(), 300u);  // prefixes inside the units too
        for (const std::vector<std::size_t>& pieces :
             std::vector<std::vector<std::size_t>>{{s.size()}, {1}, {2}, {3}, {4}, {5},
                                                   {2, 1, 7}, {1, 3, 1, 64}, {188, 1, 2},
                                                   {70000, 1}}) {
            EXPECT_EQ(split(s, pieces), expected) << seed << " first piece " << pieces[0];
        }
    }
}

TEST(StartCodeSplitter, PrefixWithoutCodeByteAtTheEndIsData) {
    const std::vector<std::uint8_t> s{0, 0, 1, 0x09, 0xF0, 0, 0, 1};
    for (std::size_t piece : {1u, 2u, 3u, 8u}) {
        const std::vector<Unit> units = split(s, {piece});
        ASSERT_EQ(units.size(), 1u) << piece;
        EXPECT_EQ(units[0].offset, 0u);
        EXPECT_EQ(units[0].length, 5u);  // 09 F0 00 00 01
        EXPECT_EQ(units[0].bytes, (std::vector<std::uint8_t>{0x09, 0xF0, 0, 0, 1}));
    }
}
