// The 2048-byte packs of the program-stream and VOB writers, byte by byte.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "output/output_file.h"
#include "output/pack_writer.h"
#include "output/mpeg_packet.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Pes {
    std::uint8_t id = 0;
    std::uint8_t flags = 0;
    Bytes header;  // the whole PES header
    Bytes data;    // after the header
};
struct Pack {
    std::uint64_t scr = 0;
    Bytes mux;
    int stuffing = 0;
    Pes pes;
    int padding = 0;  // bytes of the padding packet, 0 when none
};

std::uint64_t Stamp(const std::uint8_t* p) { return CPackWriter::ReadStamp(p); }

std::vector<Pack> Parse(const Bytes& file) {
    std::vector<Pack> packs;
    EXPECT_EQ(file.size() % 2048, 0u);
    for (std::size_t at = 0; at + 2048 <= file.size(); at += 2048) {
        const std::uint8_t* p = file.data() + at;
        Pack k;
        EXPECT_EQ(p[3], 0xBA);
        EXPECT_EQ(p[4] & 0xC4, 0x44);  // '01' and the first marker
        k.scr = CPackWriter::ReadScr(p + 4);
        k.mux.assign(p + 10, p + 13);
        k.stuffing = p[13] & 7;
        const std::uint8_t* e = p + 14 + k.stuffing;
        const int pesLength = 6 + ((e[4] << 8) | e[5]);
        k.pes.id = e[3];
        k.pes.flags = e[7];
        const int h = 9 + e[8];
        k.pes.header.assign(e, e + h);
        k.pes.data.assign(e + h, e + pesLength);
        const int used = 14 + k.stuffing + pesLength;
        if (used < 2048) {
            const std::uint8_t* pad = p + used;
            EXPECT_EQ(pad[3], 0xBE);
            k.padding = 6 + ((pad[4] << 8) | pad[5]);
            EXPECT_EQ(used + k.padding, 2048);
        }
        packs.push_back(k);
    }
    return packs;
}

CMpegPacket VideoPacket(std::uint64_t pts, int payload, std::optional<std::uint64_t> dts = {}) {
    Bytes d = {0, 0, 1, 0xE0, 0, 0, 0x84, 0x80, 5};
    Bytes stamp(5);
    CPackWriter::WriteStamp(pts, dts ? 3 : 2, stamp.data());
    d.insert(d.end(), stamp.begin(), stamp.end());
    if (dts) {
        d[7] = 0xC0;
        d[8] = 10;
        CPackWriter::WriteStamp(*dts, 1, stamp.data());
        d.insert(d.end(), stamp.begin(), stamp.end());
    }
    const int h = static_cast<int>(d.size());
    for (int i = 0; i < payload; ++i) d.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    CMpegPacket p;
    p.Init(0x100, pts, kKindVideo, 0);
    p.SetData(d.data(), static_cast<std::int32_t>(d.size()));
    p.m_headerLength = h;
    return p;
}

Bytes WritePackets(CPackWriter& w, const std::vector<CMpegPacket>& packets, std::uint8_t id,
                   std::uint8_t sub = 0) {
    TempDir dir;
    COutputFile f;
    platform::FileError err;
    EXPECT_TRUE(f.Create(dir.File("o.mpg"), &err));
    for (const CMpegPacket& p : packets) w.WritePacket(p, id, sub, f);
    f.Close();
    return ReadFileBytes(dir.File("o.mpg"));
}

Bytes Payloads(const std::vector<Pack>& packs) {
    Bytes all;
    for (const Pack& k : packs) all.insert(all.end(), k.pes.data.begin(), k.pes.data.end());
    return all;
}

TEST(PackWriter, LargePacketIsSplitIntoFullPacksWithThePtsOnlyInTheFirst) {
    CPackWriter w;
    w.SetScrBase(0);
    const CMpegPacket p = VideoPacket(90000, 4986);
    const auto packs = Parse(WritePackets(w, {p}, 0xE0));
    ASSERT_EQ(packs.size(), 3u);
    EXPECT_EQ(packs[0].pes.flags, 0x80);
    EXPECT_EQ(Stamp(packs[0].pes.header.data() + 9), 90000u);
    EXPECT_EQ(packs[0].pes.header.size() + packs[0].pes.data.size(), 2034u);
    for (std::size_t i = 1; i < packs.size(); ++i) {
        EXPECT_EQ(packs[i].pes.flags, 0) << i;
        EXPECT_EQ(packs[i].pes.header.size(), 9u) << i;  // no stale stamp bytes
    }
    for (const Pack& k : packs) {
        EXPECT_EQ(k.scr, 90000u);
        EXPECT_EQ(k.mux, (Bytes{0x01, 0x89, 0xC3}));
        EXPECT_EQ(k.pes.id, 0xE0);
    }
    EXPECT_EQ(Payloads(packs), Bytes(p.Data() + p.m_headerLength, p.Data() + p.Size()));
    EXPECT_GT(packs[2].padding, 8);
}

TEST(PackWriter, FreeRoomBelowEightIsStuffingFromEightAPaddingPacket) {
    CPackWriter w;
    w.SetScrBase(0);
    auto four = Parse(WritePackets(w, {VideoPacket(0, 2034 - 14 - 4)}, 0xE0));
    ASSERT_EQ(four.size(), 1u);
    EXPECT_EQ(four[0].stuffing, 4);
    EXPECT_EQ(four[0].padding, 0);
    auto eight = Parse(WritePackets(w, {VideoPacket(0, 2034 - 14 - 8)}, 0xE0));
    ASSERT_EQ(eight.size(), 1u);
    EXPECT_EQ(eight[0].stuffing, 0);
    EXPECT_EQ(eight[0].padding, 8);
    // A packet that holds no payload writes nothing.
    EXPECT_TRUE(WritePackets(w, {VideoPacket(0, 0)}, 0xE0).empty());
}

TEST(PackWriter, DtsMovesWithThePtsOrIsDroppedWhenItWouldFallBelowZero) {
    CPackWriter w;
    w.SetScrBase(0);
    CMpegPacket p = VideoPacket(7200000000ull, 100, 7200000000ull - 10800);
    p.m_pts = 50000;  // the new output stamp
    auto packs = Parse(WritePackets(w, {p}, 0xE0));
    ASSERT_EQ(packs.size(), 1u);
    EXPECT_EQ(packs[0].pes.flags, 0xC0);
    EXPECT_EQ(Stamp(packs[0].pes.header.data() + 9), 50000u);
    EXPECT_EQ(Stamp(packs[0].pes.header.data() + 14), 50000u - 10800);
    EXPECT_EQ(packs[0].pes.header[9] >> 4, 3);
    EXPECT_EQ(packs[0].pes.header[14] >> 4, 1);
    p.m_pts = 3600;  // DTS would be negative: left out
    packs = Parse(WritePackets(w, {p}, 0xE0));
    EXPECT_EQ(packs[0].pes.flags, 0x80);
    EXPECT_EQ(packs[0].pes.header.size(), 14u);
}

TEST(PackWriter, Ac3FramesGetExtensionAndSubStreamHeaderAndAlwaysComplete) {
    for (int frame : {1792, 2560}) {
        CPackWriter w;
        w.SetScrBase(0);
        CMpegPacket p = VideoPacket(0, frame);
        p.m_kind = kKindAC3;
        p.Data()[3] = 0xBD;
        p.m_pts = 12345;
        const auto packs = Parse(WritePackets(w, {p}, 0xBD, 0x81));
        ASSERT_EQ(packs.size(), frame > 2034 - 21 ? 2u : 1u);
        EXPECT_EQ(packs[0].pes.id, 0xBD);
        EXPECT_EQ(packs[0].pes.flags, 0x81);
        EXPECT_EQ(packs[0].pes.header.size(), 17u);  // 9 + PTS + P-STD extension
        EXPECT_EQ(Bytes(packs[0].pes.header.begin() + 14, packs[0].pes.header.end()),
                  (Bytes{0x1E, 0x40, 0x20}));
        EXPECT_EQ(Bytes(packs[0].pes.data.begin(), packs[0].pes.data.begin() + 4),
                  (Bytes{0x81, 0x01, 0x00, 0x01}));
        Bytes all;
        for (const Pack& k : packs) all.insert(all.end(), k.pes.data.begin() + 4, k.pes.data.end());
        EXPECT_EQ(all, Bytes(p.Data() + p.m_headerLength, p.Data() + p.Size())) << frame;
        if (packs.size() == 2) {
            EXPECT_EQ(packs[1].pes.flags, 0x01);
            EXPECT_EQ(Bytes(packs[1].pes.data.begin(), packs[1].pes.data.begin() + 4),
                      (Bytes{0x81, 0x00, 0x00, 0x00}));
        }
    }
}

TEST(PackWriter, ClockRunsOn33BitsAndMuxRateStartsOverOnReset) {
    CPackWriter w;
    w.SetScrBase(0);
    const std::uint64_t big = (1ull << 32) + 5;
    auto packs = Parse(WritePackets(w, {VideoPacket(big, 10)}, 0xE0));
    EXPECT_EQ(packs[0].scr, big);
    EXPECT_EQ(Stamp(packs[0].pes.header.data() + 9), big);
    // A stamp below the base wraps on the 33-bit circle.
    w.SetScrBase(1000);
    packs = Parse(WritePackets(w, {VideoPacket(400, 10)}, 0xE0));
    EXPECT_EQ(packs[0].scr, (1ull << 33) - 600);
    w.SetAc3MuxRate();
    EXPECT_EQ(Parse(WritePackets(w, {VideoPacket(2000, 10)}, 0xE0))[0].mux, (Bytes{0x00, 0xA7, 0xFB}));
    w.Reset();
    EXPECT_FALSE(w.HasScrBase());
    packs = Parse(WritePackets(w, {VideoPacket(2000, 10)}, 0xE0));
    EXPECT_EQ(packs[0].mux, (Bytes{0x01, 0x89, 0xC3}));
    EXPECT_EQ(packs[0].scr, 0u);  // the first packet sets the base
}

}  // namespace
