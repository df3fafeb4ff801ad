// The slice loop of the demultiplexer on whole synthetic recordings: each
// stream's packet sequence, the jump over a cut area, and the search for the
// packet sync over damaged stretches.

#include <gtest/gtest.h>

#include <algorithm>

#include "demux_test_util.h"
#include "shell/text.h"
#include "support/ts_damage.h"

namespace {

using tsb::Bytes;

constexpr int kVideo = 0x100;

// The offsets of the packets of pid, in order.
std::vector<std::size_t> PacketsOf(const Bytes& ts, int pid) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i + 188 <= ts.size(); i += 188)
        if ((((ts[i + 1] & 0x1F) << 8) | ts[i + 2]) == pid) at.push_back(i);
    return at;
}

Bytes Erase(const Bytes& ts, std::size_t at, std::size_t length) {
    Bytes out = ts;
    out.erase(out.begin() + static_cast<std::ptrdiff_t>(at),
              out.begin() + static_cast<std::ptrdiff_t>(at + length));
    return out;
}

Bytes Insert(const Bytes& ts, std::size_t at, const Bytes& bytes) {
    Bytes out = ts;
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
    return out;
}

// A repeated packet (same counter) is dropped without a word; a missing one
// is reported with the position behind the packet after the gap, and the
// GOP it tore keeps only its whole pictures.
TEST(DemuxLoop, RepeatedPacketIsDroppedAndAMissingOneIsReported) {
    tsb::RecordingPlan plan;
    plan.gops = 4;
    const Bytes clean = tsb::BuildRecording(plan);
    const DemuxResult reference = DemuxAll(clean);
    ASSERT_EQ(reference.units.at(kVideo).size(), 4u);

    const std::vector<std::size_t> video = PacketsOf(clean, kVideo);
    const std::size_t repeated = video[video.size() / 3];
    const DemuxResult twice =
        DemuxAll(Insert(clean, repeated + 188, Bytes(clean.begin() + static_cast<long>(repeated),
                                                     clean.begin() + static_cast<long>(repeated + 188))));
    EXPECT_FALSE(twice.Logged("Detected TS packet")) << twice.lines.size();
    ASSERT_EQ(twice.units.at(kVideo).size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(twice.units.at(kVideo)[i].Bytes(), reference.units.at(kVideo)[i].Bytes()) << i;

    const std::size_t lost = video[video.size() / 3];
    const DemuxResult gap = DemuxAll(Erase(clean, lost, 188));
    // The packet after the gap now lies where the lost one was.
    EXPECT_TRUE(gap.Logged("Detected TS packet sequence error @" + Hex64(lost + 188)));
    EXPECT_EQ(gap.Count("Detected TS packet sequence error @"), 1);
    EXPECT_TRUE(gap.Logged("Dropping Video Frame @ PTS "));
    ASSERT_EQ(gap.units.at(kVideo).size(), 4u);
    // The damaged GOP is its undamaged self cut short; the GOP after it
    // carries the drop mark.
    int cut = -1;
    for (std::size_t i = 0; i < 4; ++i) {
        const CMpegPacket& u = gap.units.at(kVideo)[i];
        const CMpegPacket& whole = reference.units.at(kVideo)[i];
        if (u.Size() == whole.Size()) continue;
        cut = static_cast<int>(i);
        ASSERT_LT(u.Size(), whole.Size());
        EXPECT_TRUE(std::equal(u.Data(), u.Data() + u.Size(), whole.Data()));
    }
    ASSERT_GE(cut, 0);
    ASSERT_LT(cut, 3);
    EXPECT_EQ(gap.units.at(kVideo)[static_cast<std::size_t>(cut) + 1].m_flag, 1);
}

// A cut area of about 1.7 MB: the loop seeks to 1 MiB before its end rather
// than reading through it (the zeros in its middle would cost a search for
// the packet sync), and the first packet of each stream after the seek is no
// sequence error. (AC-3 sound: MPEG audio would leave the area 160 ms early
// and end it for the video as well.)
TEST(DemuxLoop, JumpOverACutAreaSkipsItsMiddleAndReportsNoGap) {
    tsb::RecordingPlan plan;
    plan.gops = 60;
    plan.audio = {{0x101, true, "deu", 0}};
    const Bytes clean = tsb::BuildRecording(plan);
    const std::int64_t gopTicks = 12 * tsb::kPictureTicks;
    auto gopAt = [&](int g) {
        return damage::OffsetOfPts(clean, kVideo, plan.firstPts + g * gopTicks);
    };
    CCutArea area;
    area.IsEnabled = true;
    area.PTSStart = plan.firstPts + 10 * gopTicks;
    area.PTSEnd = plan.firstPts + 50 * gopTicks;
    area.SectorStart = gopAt(10) / kSectorSize;
    area.SectorEnd = gopAt(50) / kSectorSize;
    ASSERT_GT(gopAt(50) - gopAt(20), std::size_t{1} << 20);
    // Zeros where the jump passes over, well before its target.
    const Bytes damaged = damage::Overwrite(clean, gopAt(15), 20000, false);

    const DemuxResult r = DemuxAll(damaged, {area});
    EXPECT_FALSE(r.Logged("Lost TS sync")) << "the zeros were read";
    EXPECT_FALSE(r.Logged("Detected TS packet sequence error")) << r.lines.size();
    const auto& units = r.units.at(kVideo);
    ASSERT_EQ(units.size(), 20u);
    EXPECT_EQ(units[9].m_pts, static_cast<std::uint64_t>(plan.firstPts + 9 * gopTicks));
    EXPECT_EQ(units[10].m_pts, static_cast<std::uint64_t>(plan.firstPts + 50 * gopTicks));

    // Without the area the zeros are read.
    EXPECT_TRUE(DemuxAll(damaged).Logged("Lost TS sync"));
}

// A stretch of zeros of 8 MiB: the search for the sync tells the progress
// hook where it is, block by block, and stops when the hook says so.
TEST(DemuxLoop, SearchOverALongStretchOfZerosReportsProgressAndSeesCancel) {
    tsb::RecordingPlan plan;
    plan.gops = 3;
    const Bytes part = tsb::BuildRecording(plan);
    Bytes ts = part;
    const std::size_t zerosAt = ts.size(), zeros = std::size_t{8} << 20;
    ts.resize(ts.size() + zeros, 0);
    plan.firstPts += 3 * 12 * tsb::kPictureTicks;
    const Bytes after = tsb::BuildRecording(plan);
    ts.insert(ts.end(), after.begin(), after.end());

    std::vector<std::uint64_t> seen;
    const DemuxResult all = DemuxAll(ts, {}, [&](std::uint64_t at) {
        seen.push_back(at);
        return true;
    });
    EXPECT_FALSE(all.cancelled);
    EXPECT_TRUE(all.Logged("Lost TS sync: skipped "));
    EXPECT_EQ(all.units.at(kVideo).size(), 6u);
    ASSERT_GE(seen.size(), zeros / 65536);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen.back(), zerosAt + zeros / 2);

    int calls = 0;
    const DemuxResult stopped = DemuxAll(ts, {}, [&](std::uint64_t) { return ++calls < 10; });
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(calls, 10);
    EXPECT_LT(stopped.position, zerosAt + zeros);
    EXPECT_FALSE(stopped.Logged("Lost TS sync"));
    EXPECT_LE(stopped.units.count(kVideo) ? stopped.units.at(kVideo).size() : 0, 3u);
}

// Garbage in the middle of a GOP: the sync is found again behind it, and the
// GOP it tore keeps only its pictures before the garbage (never its bytes
// from both sides joined into broken pictures).
TEST(DemuxLoop, LostSyncMarksTheTornGop) {
    tsb::RecordingPlan plan;
    plan.gops = 6;
    const Bytes clean = tsb::BuildRecording(plan);
    const DemuxResult reference = DemuxAll(clean);
    const std::size_t at = damage::OffsetOfPts(clean, kVideo, plan.firstPts + 2 * 12 * tsb::kPictureTicks +
                                                                   6 * tsb::kPictureTicks);
    const DemuxResult r = DemuxAll(Insert(clean, at + 3 * 188, Bytes(20000, 0x11)));
    EXPECT_TRUE(r.Logged("Lost TS sync: skipped "));
    EXPECT_TRUE(r.Logged("Dropping Video Frame @ PTS "));
    const auto& units = r.units.at(kVideo);
    ASSERT_EQ(units.size(), 6u);
    const CMpegPacket& torn = units[2];
    const CMpegPacket& whole = reference.units.at(kVideo)[2];
    ASSERT_LT(torn.Size(), whole.Size());
    EXPECT_TRUE(std::equal(torn.Data(), torn.Data() + torn.Size(), whole.Data()));
    EXPECT_EQ(units[3].m_flag, 1);
}

}  // namespace
