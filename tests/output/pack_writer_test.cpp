// The 2048-byte packs of the program-stream and VOB writers, byte by byte:
// how a PES packet of a given size fills its pack, the clock and rate fields.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "output/output_file.h"
#include "output/pack_writer.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Lays out one pack with a PES packet of pesSize bytes (filled with 0x5A)
// and returns the file.
Bytes OnePack(int pesSize, bool endCode = false, std::uint64_t scr = 0,
              std::uint32_t rate = CPackWriter::kMuxRate) {
    TempDir dir;
    COutputFile f;
    platform::FileError err;
    EXPECT_TRUE(f.Create(dir.File("p.mpg"), &err));
    std::uint8_t* pes = CPackWriter::LayOutPack(f, scr, rate, pesSize, endCode);
    EXPECT_NE(pes, nullptr);
    if (pes) std::fill(pes, pes + pesSize, 0x5A);
    f.Close();
    return ReadFileBytes(dir.File("p.mpg"));
}

// The free room of a pack goes into the pack header as stuffing below 8
// bytes, else into a padding packet; every pack is exactly 2048 bytes.
TEST(PackWriter, FreeRoomIsStuffingBelowEightBytesElseAPaddingPacket) {
    struct Case {
        int pes;           // PES packet bytes in the pack
        int stuffing;      // pack_stuffing_length
        int padding;       // bytes of the padding packet, 0 for none
    };
    // A full piece of 2034 bytes; 2030 bytes leave 4 stuffing bytes (byte
    // 13 is 0xFC); 2026 bytes leave an 8-byte padding packet whose length
    // field is 2; the 960-byte last piece of a 5,000-byte packet (header 14)
    // leaves a padding packet of 1074 bytes.
    for (const Case c : {Case{2034, 0, 0}, Case{2030, 4, 0}, Case{2027, 7, 0}, Case{2026, 0, 8},
                         Case{960, 0, 1074}, Case{0, 0, 2034}}) {
        SCOPED_TRACE(c.pes);
        const Bytes p = OnePack(c.pes);
        ASSERT_EQ(p.size(), 2048u);
        EXPECT_EQ(p[13], 0xF8 | c.stuffing);
        for (int i = 0; i < c.stuffing; ++i) EXPECT_EQ(p[14 + i], 0xFF);
        const int pesAt = 14 + c.stuffing;
        if (c.pes > 0) {
            EXPECT_EQ(p[pesAt], 0x5A);
            EXPECT_EQ(p[pesAt + c.pes - 1], 0x5A);
        }
        const int padAt = pesAt + c.pes;
        if (c.padding > 0) {
            EXPECT_EQ(Bytes(p.begin() + padAt, p.begin() + padAt + 4), (Bytes{0, 0, 1, 0xBE}));
            EXPECT_EQ((p[padAt + 4] << 8) | p[padAt + 5], c.padding - 6);
            EXPECT_EQ(p[padAt + c.padding - 1], 0xFF);
            EXPECT_EQ(padAt + c.padding, 2048);
        } else {
            EXPECT_EQ(padAt, 2048);
        }
    }
}

TEST(PackWriter, LastPackEndsWithTheProgramEndCode) {
    // 4 bytes less room: 2030 bytes fill it completely, 2020 leave a padding packet.
    Bytes p = OnePack(2030, true);
    ASSERT_EQ(p.size(), 2048u);
    EXPECT_EQ(p[13], 0xF8);
    EXPECT_EQ(Bytes(p.end() - 4, p.end()), (Bytes{0, 0, 1, 0xB9}));
    p = OnePack(2020, true);
    EXPECT_EQ(Bytes(p.begin() + 2034, p.begin() + 2038), (Bytes{0, 0, 1, 0xBE}));
    EXPECT_EQ(Bytes(p.end() - 4, p.end()), (Bytes{0, 0, 1, 0xB9}));
    // A PES packet larger than the room is refused, nothing is written.
    TempDir dir;
    COutputFile f;
    platform::FileError err;
    ASSERT_TRUE(f.Create(dir.File("x.mpg"), &err));
    EXPECT_EQ(CPackWriter::LayOutPack(f, 0, CPackWriter::kMuxRate, 2031, true), nullptr);
    EXPECT_EQ(CPackWriter::LayOutPack(f, 0, CPackWriter::kMuxRate, 2035, false), nullptr);
    f.Close();
    EXPECT_TRUE(ReadFileBytes(dir.File("x.mpg")).empty());
}

TEST(PackWriter, ClockAndMuxRateFields) {
    const std::uint64_t big = (1ull << 32) + 12345;
    Bytes p = OnePack(100, false, big, CPackWriter::kAc3MuxRate);
    EXPECT_EQ(Bytes(p.begin(), p.begin() + 4), (Bytes{0, 0, 1, 0xBA}));
    EXPECT_EQ(p[4] & 0xC4, 0x44);  // '01' and the first marker
    EXPECT_EQ(CPackWriter::ReadScr(p.data() + 4), big);
    EXPECT_EQ(p[9], 1);  // SCR extension 0, marker
    EXPECT_EQ(Bytes(p.begin() + 10, p.begin() + 13), (Bytes{0x00, 0xA7, 0xFB}));
    EXPECT_EQ(CPackWriter::ReadMuxRate(p.data() + 10), 10750u);
    p = OnePack(100, false, 0, CPackWriter::kMuxRate);
    EXPECT_EQ(Bytes(p.begin() + 4, p.begin() + 13),
              (Bytes{0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3}));

    // A pack of 2048 bytes at 10.08 Mbit/s takes 146.3 ticks, at 4.3 Mbit/s 342.9.
    EXPECT_EQ(CPackWriter::PackTicks(25200), 147);
    EXPECT_EQ(CPackWriter::PackTicks(10750), 343);

    Bytes stamp(5);
    for (std::uint64_t v : {0ull, 1ull, 90000ull, (1ull << 33) - 1}) {
        CPackWriter::WriteStamp(v, 3, stamp.data());
        EXPECT_EQ(stamp[0] >> 4, 3);
        EXPECT_EQ(stamp[0] & 1, 1);
        EXPECT_EQ(stamp[2] & 1, 1);
        EXPECT_EQ(stamp[4] & 1, 1);
        EXPECT_EQ(CPackWriter::ReadStamp(stamp.data()), v);
    }
}

}  // namespace
