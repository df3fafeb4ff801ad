#include <gtest/gtest.h>

#include "demux/mpeg_ts_demux.h"
#include "demux_test_util.h"

using tsb::Bytes;

namespace {

Bytes numberedPackets(int count, int pid = 0x100) {
    tsb::TsBuilder b;
    for (int i = 0; i < count; ++i)
        b.Packet(pid, Bytes(184, static_cast<std::uint8_t>(i)));
    return b.Data();
}

// Reads packets until ReadPacket gives 0; returns each result and first payload byte.
std::vector<std::pair<int, int>> readAll(CRawFile& file) {
    CMpegTsDemux demux;
    demux.SetRecording(file);
    std::vector<std::pair<int, int>> seen;
    std::uint8_t packet[kTsReadSize];
    for (int result; (result = demux.ReadPacket(packet)) != 0;)
        seen.emplace_back(result, packet[4]);
    return seen;
}

TEST(ReadPacket, FindsFirstPacketBehindLeadingGarbage) {
    Bytes data(100, 0x12);
    const Bytes packets = numberedPackets(4);
    data.insert(data.end(), packets.begin(), packets.end());
    OpenedRecording rec(data);
    CMpegTsDemux demux;
    demux.SetRecording(rec.file);
    std::uint8_t packet[kTsReadSize];
    ASSERT_EQ(demux.ReadPacket(packet), 1);
    EXPECT_EQ(rec.file.GetPosition(), 100u + 188u);
    EXPECT_EQ(packet[4], 0);
    // The last packet has only 188 bytes behind its start: the 190-byte read
    // fails there, as it does at every end of file.
    EXPECT_EQ(readAll(rec.file).size(), 2u);
}

TEST(ReadPacket, ReportsEach192BytePacketAsInvalidLengthAndStillFindsIt) {
    OpenedRecording rec(tsb::To192(numberedPackets(6)));
    const auto seen = readAll(rec.file);
    ASSERT_EQ(seen.size(), 5u);  // the last one has no two bytes behind it
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, -1) << i;
        EXPECT_EQ(seen[i].second, static_cast<int>(i));
    }
}

TEST(ReadPacket, SkipsReceiverBlockAfterPacket) {
    OpenedRecording rec(tsb::InsertReceiverBlock(numberedPackets(4), 1));
    const auto seen = readAll(rec.file);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::make_pair(1, 0));
    EXPECT_EQ(seen[1], std::make_pair(1, 1));  // followed by 0x7F
    EXPECT_EQ(seen[2], std::make_pair(1, 2));  // read 1,184 bytes later
}

TEST(ReadPacket, GivesUpAfter8193PositionsWithoutSync) {
    Bytes data(8193, 0x00);
    const Bytes packets = numberedPackets(3);
    data.insert(data.end(), packets.begin(), packets.end());
    OpenedRecording rec(data);
    CMpegTsDemux demux;
    demux.SetRecording(rec.file);
    std::uint8_t packet[kTsReadSize];
    EXPECT_EQ(demux.ReadPacket(packet), 0);
    // One byte less of garbage and the packet is found.
    OpenedRecording near(Bytes(data.begin() + 1, data.end()));
    demux.SetRecording(near.file);
    EXPECT_EQ(demux.ReadPacket(packet), 1);
    EXPECT_EQ(near.file.GetPosition(), 8192u + 188u);
}

TEST(ReadPacket, FileShorterThanAReadIsEndOfFile) {
    OpenedRecording rec(Bytes(189, 0x47));
    CMpegTsDemux demux;
    demux.SetRecording(rec.file);
    std::uint8_t packet[kTsReadSize];
    EXPECT_EQ(demux.ReadPacket(packet), 0);
}

TEST(GetPayload, HonoursAdaptationFieldAndFlags) {
    std::uint8_t payload[kTsPayloadSize];
    int length = -1;
    tsb::PacketOptions o;
    o.adaptationLength = 10;
    Bytes p = tsb::MakePacket(0x100, 0, Bytes(200, 0xAB), o);
    ASSERT_TRUE(CMpegTsDemux::GetPayload(p.data(), payload, length));
    EXPECT_EQ(length, 184 - 11);
    EXPECT_EQ(payload[0], 0xAB);
    EXPECT_EQ(payload[length - 1], 0xAB);

    p = tsb::MakePacket(0x100, 0, Bytes(184, 1));
    ASSERT_TRUE(CMpegTsDemux::GetPayload(p.data(), payload, length));
    EXPECT_EQ(length, 184);

    o = {};
    o.transportError = true;
    p = tsb::MakePacket(0x100, 0, Bytes(184, 1), o);
    EXPECT_FALSE(CMpegTsDemux::GetPayload(p.data(), payload, length));

    o = {};
    o.adaptationOnly = true;
    p = tsb::MakePacket(0x100, 0, {}, o);
    EXPECT_FALSE(CMpegTsDemux::GetPayload(p.data(), payload, length));
    EXPECT_EQ(length, 0);
}

TEST(GetPayload, AdaptationFieldFillingThePacketLeavesNoPayload) {
    std::uint8_t payload[kTsPayloadSize];
    int length = -1;
    tsb::PacketOptions o;
    o.adaptationLength = 183;
    Bytes p = tsb::MakePacket(0x100, 0, {}, o);
    EXPECT_FALSE(CMpegTsDemux::GetPayload(p.data(), payload, length));
    EXPECT_EQ(length, 0);
    // A length byte beyond the packet is bounded by the packet.
    p[4] = 250;
    EXPECT_FALSE(CMpegTsDemux::GetPayload(p.data(), payload, length));
    EXPECT_EQ(length, 0);
}

TEST(CheckContinuity, CountsMissingRepeatedAndBackwardPackets) {
    std::int32_t last = -1;
    EXPECT_EQ(CMpegTsDemux::CheckContinuity(last, 5), 0);  // first packet
    EXPECT_EQ(CMpegTsDemux::CheckContinuity(last, 6), 0);
    EXPECT_EQ(CMpegTsDemux::CheckContinuity(last, 6), -1);  // repeated
    EXPECT_EQ(CMpegTsDemux::CheckContinuity(last, 7), 0);
    EXPECT_EQ(CMpegTsDemux::CheckContinuity(last, 9), 1);
    EXPECT_EQ(CMpegTsDemux::CheckContinuity(last, 8), 14);  // went back by one
    EXPECT_EQ(last, 8);
    EXPECT_EQ(CMpegTsDemux::CheckContinuity(last, 0), 7);  // 9..15 missing across the wrap
    last = 15;
    EXPECT_EQ(CMpegTsDemux::CheckContinuity(last, 0), 0);
}

CCutArea area(std::uint64_t s0, std::uint64_t s1, std::int64_t p0, std::int64_t p1,
              bool enabled = true) {
    CCutArea a;
    a.SectorStart = s0;
    a.SectorEnd = s1;
    a.PTSStart = p0;
    a.PTSEnd = p1;
    a.IsEnabled = enabled;
    return a;
}

TEST(FindCutArea, MatchesByStampWithWrapAndSkipsDisabledAreas) {
    constexpr std::int64_t wrap = std::int64_t{1} << 33;
    const std::int64_t start = wrap - 90000;  // one second before the wrap
    CCutList areas = {area(10, 20, start + 1000, start + 2000, false),
                      area(10, 20, start + 1000, start + 2000),
                      area(30, 40, wrap + 9000, wrap + 18000)};
    EXPECT_EQ(CMpegTsDemux::FindCutArea(areas, start, start + 1500, 0, 100000), &areas[1]);
    // 10000 lies after the wrap: it counts as 2^33 + 10000.
    EXPECT_EQ(CMpegTsDemux::FindCutArea(areas, start, 10000, 0, 100000), &areas[2]);
    EXPECT_EQ(CMpegTsDemux::FindCutArea(areas, start, 20000, 0, 100000), nullptr);
    EXPECT_EQ(CMpegTsDemux::FindCutArea(areas, start, start + 2000, 0, 100000),
              nullptr);  // end excluded
}

TEST(FindCutArea, AreaRunningToTheEndMatchesByPosition) {
    CCutList areas = {area(1000, 99800, 0, 1), area(100, 200, 0, 1)};
    EXPECT_EQ(CMpegTsDemux::FindCutArea(areas, 0, 5000, 5000, 100000), &areas[0]);
    EXPECT_EQ(CMpegTsDemux::FindCutArea(areas, 0, 5000, 150, 100000),
              nullptr);  // ends far from the end
    // In a recording shorter than 512 sectors every area ends "near the end".
    EXPECT_EQ(CMpegTsDemux::FindCutArea(areas, 0, 5000, 150, 300), &areas[1]);
}

TEST(BitRateEstimate, ClampsAndUsesWrapAwareDuration) {
    EXPECT_EQ(EstimateBitRate(1000, 1000, 0, 5000000), 4000);
    EXPECT_EQ(EstimateBitRate(0, 900000, 0, 20000000), 8000);  // 16,000 kbit/s limited
    EXPECT_EQ(EstimateBitRate(0, 900000, 0, 1000000), 2000);   // 800 kbit/s limited
    EXPECT_EQ(EstimateBitRate(0, 900000, 0, 6250000), 5000);
    constexpr std::int64_t wrap = std::int64_t{1} << 33;
    EXPECT_EQ(EstimateBitRate(wrap - 450000, 450000, 0, 6250000), 5000);  // across the wrap
    EXPECT_EQ(PtsDifference(wrap - 10, 5), 15);
}

TEST(ReadPesPts, ReadsOnlyFlaggedStamps) {
    std::int64_t pts = -1;
    const Bytes withPts = tsb::PesPacket(0xE0, std::int64_t{0x1FFFFFFFF}, std::nullopt, {1, 2});
    EXPECT_TRUE(ReadPesPts(withPts.data(), static_cast<int>(withPts.size()), pts));
    EXPECT_EQ(pts, 0x1FFFFFFFF);
    const Bytes without = tsb::PesPacket(0xE0, std::nullopt, std::nullopt, Bytes(20, 0x21));
    pts = 7;
    EXPECT_FALSE(ReadPesPts(without.data(), static_cast<int>(without.size()), pts));
    EXPECT_FALSE(ReadPesPts(withPts.data(), 13, pts));  // header cut short
    EXPECT_EQ(pts, 7);
}

}  // namespace
