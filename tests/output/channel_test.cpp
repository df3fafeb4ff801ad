// Channel ring, assembly buffer, time texts and the channel set's packet choice.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "output/channel_set.h"
#include "output/mpeg_channel.h"
#include "output/mpeg_channel_exception.h"
#include "shell/log.h"
#include "support/temp_dir.h"

namespace {

CMpegPacket MakePacket(std::uint16_t pid, std::uint64_t pts, std::uint8_t fill = 0xAB) {
    CMpegPacket p;
    p.Init(pid, pts, kKindVideo, 0);
    std::vector<std::uint8_t> bytes(16, fill);
    p.SetData(bytes.data(), 16);
    return p;
}

std::vector<std::string> g_lines;

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_lines.clear();
        SetLogListener([](const std::string& t) { g_lines.push_back(t); });
    }
    void TearDown() override { SetLogListener(nullptr); }
};

TEST_F(ChannelTest, RingHoldsCapacityMinusOneThenThrowsWithoutLosingPackets) {
    CMpegChannel c(2, 0x100, 1024);
    EXPECT_EQ(c.RingCapacity(), 10);
    for (int i = 0; i < 9; ++i) c.Add(MakePacket(0x100, 1000 + i, static_cast<std::uint8_t>(i)));
    EXPECT_EQ(c.Count(), 9);
    try {
        c.Add(MakePacket(0x100, 5000));
        FAIL() << "a full ring must throw";
    } catch (const CMpegChannelException& e) {
        EXPECT_EQ(e.Message(), "PES Buffer Full!!!");
    }
    // The oldest packet is still there, unchanged.
    ASSERT_EQ(c.Count(), 9);
    EXPECT_EQ(c.GetTail().m_pts, 1000u);
    EXPECT_EQ(c.GetTail().Data()[0], 0);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(c.GetTail().m_pts, 1000u + i);
        c.RemoveTail();
    }
    EXPECT_TRUE(c.IsEmpty());
    EXPECT_THROW(c.GetTail(), std::logic_error);
}

TEST_F(ChannelTest, CountersFoldBackWhenBothPassTheCapacity) {
    CMpegChannel c(2, 0x100, 64);
    c.SetCountersForTesting(18, 12);
    c.Add(MakePacket(0x100, 77));
    EXPECT_EQ(c.Head(), 9);
    EXPECT_EQ(c.Tail(), 2);
    EXPECT_EQ(c.Slot(8).m_pts, 77u);
    EXPECT_EQ(c.Slot(8).Size(), 16);
}

TEST_F(ChannelTest, AudioRingIsThirtyAndSetRingSizeDropsPackets) {
    CMpegChannel a(3, 0x200, 64);
    EXPECT_EQ(a.RingCapacity(), 30);
    a.Add(MakePacket(0x200, 1));
    a.SetRingSize(1000);
    EXPECT_EQ(a.RingCapacity(), 1000);
    EXPECT_TRUE(a.IsEmpty());
    for (int i = 0; i < 999; ++i) a.Add(MakePacket(0x200, i));
    EXPECT_THROW(a.Add(MakePacket(0x200, 1)), CMpegChannelException);
}

TEST_F(ChannelTest, RemoveTailFreesTheBytes) {
    CMpegChannel c(3, 0x200, 64);
    c.Add(MakePacket(0x200, 5));
    const CMpegPacket& slot = c.Slot(0);
    EXPECT_EQ(slot.Size(), 16);
    c.RemoveTail();
    EXPECT_EQ(slot.Size(), 0);
}

TEST_F(ChannelTest, AppendOfExactlyTheFreeSpaceThrowsOneLessFits) {
    CMpegChannel c(4, 0x200, 100);
    std::vector<std::uint8_t> bytes(100, 7);
    c.Append(bytes.data(), 40);
    EXPECT_THROW(c.Append(bytes.data(), 60), CMpegChannelException);
    EXPECT_EQ(c.BufferFill(), 40);
    c.Append(bytes.data(), 59);
    EXPECT_EQ(c.BufferFill(), 99);
    EXPECT_EQ(c.Buffer()[98], 7);
}

TEST_F(ChannelTest, TakenBufferKeepsItsBytesAndTheChannelStartsAfresh) {
    CMpegChannel c(2, 0x100, 100);
    const std::vector<std::uint8_t> unit = {1, 2, 3, 4, 5, 6};
    c.Append(unit.data(), 6);
    const std::vector<std::uint8_t> taken = c.TakeBuffer(4);
    EXPECT_EQ(taken, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(c.BufferFill(), 0);
    // The new buffer has the whole capacity again, and no more.
    std::vector<std::uint8_t> bytes(99, 9);
    c.Append(bytes.data(), 99);
    EXPECT_EQ(c.Buffer()[0], 9);
    EXPECT_THROW(c.Append(bytes.data(), 1), CMpegChannelException);
}

TEST_F(ChannelTest, PacketCopiesAreDeepAndNoneDataIsZeroFilled) {
    CMpegPacket a = MakePacket(1, 2, 0x11);
    CMpegPacket b = a;
    b.Data()[0] = 0x22;
    EXPECT_EQ(a.Data()[0], 0x11);
    a.SetData(nullptr, 8);
    ASSERT_EQ(a.Size(), 8);
    EXPECT_EQ(a.Data()[7], 0);
    a.Clear();
    EXPECT_EQ(a.Size(), 0);
    EXPECT_EQ(a.m_pid, 0);
}

TEST_F(ChannelTest, FormatTimeCountsFromTheStreamStart) {
    CMpegChannel c(2, 0x100, 16);
    c.m_startPTS = 1000;
    EXPECT_EQ(c.FormatTime(1000 + 3723004ull * 90), "1:02:03,004");
    EXPECT_EQ(c.FormatTime(1000), "0:00:00,000");
    EXPECT_EQ(c.FormatTime(1000 + 59999ull * 90), "0:00:59,999");
    EXPECT_EQ(c.FormatTime(1000 + 36000000ull * 90), "10:00:00,000");
    // A stamp that wrapped past 2^33 since the start counts on.
    c.m_startPTS = (1ull << 33) - 90000;
    EXPECT_EQ(c.FormatTime(9000), "0:00:01,100");
}

TEST_F(ChannelTest, GrowingTheRingKeepsItsPacketsInOrder) {
    CMpegChannel c(3, 0x101, 16);
    c.SetRingSize(4);
    c.SetCountersForTesting(6, 6);  // empty; the next packet goes to slot 2
    CMpegPacket p;
    auto add = [&](std::uint64_t pts) {
        p.Init(0x101, pts, kKindMpegAudio, 0);
        c.Add(p);
    };
    for (std::uint64_t pts = 1; pts <= 3; ++pts) add(pts);  // slots 2, 3, 0: full
    c.GrowRing(40);
    for (std::uint64_t pts = 4; pts <= 30; ++pts) add(pts);
    EXPECT_EQ(c.Count(), 30);
    for (std::uint64_t pts = 1; pts <= 30; ++pts) {
        ASSERT_EQ(c.GetTail().m_pts, pts);
        c.RemoveTail();
    }
    EXPECT_TRUE(c.IsEmpty());
}

TEST_F(ChannelTest, SetFindsRemovesAndPicksTheOldestPacket) {
    CChannelSet set;
    CMpegChannel* video = set.Add(0x100, std::make_unique<CMpegChannel>(2, 0x100, 16));
    CMpegChannel* audio1 = set.Add(0x200, std::make_unique<CMpegChannel>(3, 0x200, 16));
    CMpegChannel* audio2 = set.Add(0x300, std::make_unique<CMpegChannel>(6, 0x300, 16));
    EXPECT_EQ(set.m_videoChannel, video);
    EXPECT_EQ(set.m_videoIndex, 0);
    EXPECT_EQ(set.Lookup(0x200), audio1);
    EXPECT_EQ(set.Lookup(0x999), nullptr);
    EXPECT_EQ(set.NextPacket(), nullptr);

    audio2->Add(MakePacket(0x300, 500));
    audio1->Add(MakePacket(0x200, 500));
    video->Add(MakePacket(0x100, 900));
    CMpegChannel* from = nullptr;
    CMpegPacket* p = set.NextPacket(&from);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(from, audio1);  // equal PTS: the channel added first wins
    audio1->RemoveTail();
    EXPECT_EQ(set.NextPacket(&from)->m_pid, 0x300);
    audio2->RemoveTail();
    EXPECT_EQ(set.NextPacket(&from)->m_pid, 0x100);

    set.Remove(0);
    EXPECT_EQ(set.Count(), 3);
    set.Remove(0x100);
    EXPECT_EQ(set.Count(), 2);
    EXPECT_EQ(set.m_videoChannel, nullptr);
    EXPECT_EQ(set.Lookup(0x100), nullptr);
    EXPECT_EQ(video->m_pid, 0x100);  // removed, still alive
    set.Remove(0x200);
    EXPECT_EQ(set.Channels().front(), audio2);
}

// A full ring, a full assembly buffer and a tail taken from an empty ring
// each leave their line in the log before they throw.
TEST_F(ChannelTest, OverflowsAndAnEmptyTailAreLogged) {
    TempDir dir;
    LogOpenForTesting(1, dir.File("channel.log"));
    CMpegChannel ring(2, 0x100, 64);
    for (int i = 0; i < 9; ++i) ring.Add(MakePacket(0x100, i));
    EXPECT_THROW(ring.Add(MakePacket(0x100, 9)), CMpegChannelException);
    CMpegChannel buffer(4, 0x200, 10);
    const std::vector<std::uint8_t> bytes(10, 1);
    EXPECT_THROW(buffer.Append(bytes.data(), 10), CMpegChannelException);
    CMpegChannel empty(6, 0x300, 10);
    EXPECT_THROW(empty.GetTail(), std::logic_error);
    LogClose();
    const std::vector<unsigned char> log = ReadFileBytes(dir.File("channel.log"));
    EXPECT_EQ(std::string(log.begin(), log.end()),
              "Channel::Add(): PES Buffer Full!!!\r\n"
              "MPEG Buffer Full!!!, StreamType: 4\r\n"
              "Channel::GetTail() failed\r\n");
    // The progress list does not get them: they are log-file lines.
    EXPECT_TRUE(g_lines.empty());
}

TEST_F(ChannelTest, NextPacketComparesUnsigned64Bit) {
    CChannelSet set;
    CMpegChannel* a = set.Add(1, std::make_unique<CMpegChannel>(3, 1, 16));
    CMpegChannel* b = set.Add(2, std::make_unique<CMpegChannel>(3, 2, 16));
    a->Add(MakePacket(1, 0x1FFFFFFFFull));
    b->Add(MakePacket(2, 0x0FFFFFFFFull));
    EXPECT_EQ(set.NextPacket()->m_pid, 2);
}

}  // namespace
