#include <gtest/gtest.h>

#include <algorithm>

#include "app/mpeg_snapshot.h"
#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "app_test_util.h"
#include "support/temp_dir.h"
#include "support/ts_builder.h"

using tsb::Bytes;

namespace {

constexpr std::int64_t kGopTicks = 12 * tsb::kPictureTicks;
constexpr std::int64_t kWrap = std::int64_t{1} << 33;

tsb::RecordingPlan broadcast() {
    tsb::RecordingPlan plan;
    plan.audio = {{0x101, false, "deu", 0}, {0x102, false, "eng", 128}, {0x103, true, "deu", 0}};
    plan.aspect = 3;
    return plan;
}

class SnapshotTest : public AppTest {
  protected:
    void open(const Bytes& data, const std::string& name = "Film.ts") {
        path = dir.File(name);
        WriteFileBytes(path, data);
        std::string error;
        ASSERT_TRUE(model.Open(path, &error)) << error;
    }
    // Byte offset of the packet holding the n-th sequence header, and the
    // position just behind it.
    static std::uint64_t sequenceHeaderPacketEnd(const Bytes& data, int n) {
        for (std::size_t at = 0; at + 188 <= data.size(); at += 188) {
            const auto begin = data.begin() + static_cast<std::ptrdiff_t>(at);
            const Bytes code = {0x00, 0x00, 0x01, 0xB3};
            if (std::search(begin, begin + 188, code.begin(), code.end()) != begin + 188 &&
                n-- == 0)
                return at + 188;
        }
        return 0;
    }

    TempDir dir;
    std::string path;
    CRecordingModel model;
};

TEST_F(SnapshotTest, ExtractsTheFirstPictureAndEveryAudioHeader) {
    const Bytes data = tsb::BuildRecording(broadcast());
    open(data);
    CMpegSnapshot& snap = MpegSnapshot();
    snap.Init(model.Recording(), model.m_pmtPid, model.m_videoPid, model.m_audioPid);
    snap.m_streams = model.m_streams;
    const std::string m2v = dir.File("pic.m2v");
    ASSERT_TRUE(snap.ExtractPicture(0, m2v));
    EXPECT_EQ(snap.m_pictureStamp, 900000);
    EXPECT_EQ(snap.m_picturePosition, sequenceHeaderPacketEnd(data, 0));
    const Bytes header = tsb::SequenceHeader(720, 576, 3);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), snap.m_sequenceHeader.begin()));
    EXPECT_EQ(SequenceWidth(snap.m_sequenceHeader), 720);
    EXPECT_EQ(SequenceHeight(snap.m_sequenceHeader), 576);
    EXPECT_EQ(SequenceAspect(snap.m_sequenceHeader), 3);

    const auto& s = snap.m_streams;
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[1].sampleRate, 48000);
    EXPECT_EQ(s[1].mpegBitRate, 192);
    EXPECT_EQ(s[2].mpegBitRate, 128);
    EXPECT_EQ(s[3].sampleRate, 48000);
    EXPECT_EQ(s[3].ac3BitRate, 448);
    EXPECT_EQ(s[3].ac3CodingMode, 7);
    EXPECT_EQ(s[3].ac3Lfe, 1);

    // The cut-out: the sequence header up to the first B picture's packet,
    // with no second sequence header.
    const Bytes out = ReadFileBytes(m2v);
    ASSERT_GE(out.size(), 12u);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), out.begin()));
    const Bytes seq = {0x00, 0x00, 0x01, 0xB3};
    EXPECT_EQ(std::search(out.begin() + 4, out.end(), seq.begin(), seq.end()), out.end());
    const Bytes bPicture = tsb::PictureHeader(3, 1);
    EXPECT_NE(std::search(out.begin(), out.end(), bPicture.begin(), bPicture.end()), out.end());
    EXPECT_LT(out.size(), 7000u + 184u);
}

TEST_F(SnapshotTest, CaptureMovesToTheNextPictureAndKnowsTheSamePicture) {
    const Bytes data = tsb::BuildRecording(broadcast());
    open(data);
    const std::uint64_t inGop2 = sequenceHeaderPacketEnd(data, 2) / 512 + 10;
    model.m_firstPTS = 0;  // as before the first picture is known
    SnapshotCapture c = CaptureSnapshot(model, inGop2, -1, "");
    ASSERT_TRUE(c.found);
    EXPECT_EQ(c.stamp, 900000 + 3 * kGopTicks);
    EXPECT_EQ(c.sector, sequenceHeaderPacketEnd(data, 3) / 512 - 1);
    EXPECT_EQ(c.width, 720);
    EXPECT_EQ(c.aspect, 3);
    EXPECT_EQ(model.m_firstPTS,
              c.stamp);  // a model without a first stamp takes the first one shown
    EXPECT_EQ(model.m_streams[3].ac3BitRate, 448);  // audio details copied back

    const SnapshotCapture again = CaptureSnapshot(model, c.sector, c.stamp, "");
    EXPECT_TRUE(again.samePicture);
    EXPECT_EQ(again.sector, c.sector);
    EXPECT_FALSE(
        CaptureSnapshot(model, c.sector, c.stamp, "", true).samePicture);  // saving wants it anyway
}

TEST_F(SnapshotTest, StampsKeepRisingAcrossTheWrap) {
    tsb::RecordingPlan plan = broadcast();
    plan.firstPts = kWrap - 2 * kGopTicks;
    const Bytes data = tsb::BuildRecording(plan);
    open(data);
    const SnapshotCapture first = CaptureSnapshot(model, 0, -1, "");
    EXPECT_EQ(first.stamp, plan.firstPts);
    const SnapshotCapture later =
        CaptureSnapshot(model, sequenceHeaderPacketEnd(data, 3) / 512, first.stamp, "");
    ASSERT_TRUE(later.found);
    EXPECT_EQ(later.stamp, plan.firstPts + 4 * kGopTicks);  // beyond 2^33
    EXPECT_GT(later.stamp, kWrap);
    std::int64_t last = 0;
    ASSERT_TRUE(FindLastPictureStamp(model, last));
    EXPECT_EQ(last, plan.firstPts + (plan.gops * 12 - 1) * tsb::kPictureTicks);
}

TEST_F(SnapshotTest, PositionsNearTheEndSearchFromTheLastQuarterMebibyte) {
    tsb::RecordingPlan plan = broadcast();
    plan.gops = 40;
    const Bytes data = tsb::BuildRecording(plan);
    ASSERT_GT(data.size(), 2 * kSnapshotTail);
    open(data);
    const std::uint64_t lastSector = data.size() / 512 - 3;
    const SnapshotCapture c = CaptureSnapshot(model, lastSector, -1, "");
    EXPECT_TRUE(c.limited);
    EXPECT_TRUE(c.pictureFound);
    EXPECT_EQ(c.sector, lastSector);  // the position stays
    EXPECT_GT(c.stamp, 900000 + 30 * kGopTicks);
}

TEST_F(SnapshotTest, ShortRecordingsAreNeverLimitedAndTinyOnesFindNothing) {
    tsb::RecordingPlan plan = broadcast();
    plan.gops = 3;
    plan.pictureBytes = 1000;
    const Bytes data = tsb::BuildRecording(plan);
    ASSERT_LT(data.size(), kSnapshotTail);
    open(data);
    const SnapshotCapture c =
        CaptureSnapshot(model, sequenceHeaderPacketEnd(data, 1) / 512 + 1, -1, "");
    EXPECT_FALSE(c.limited);
    EXPECT_EQ(c.stamp, 900000 + 2 * kGopTicks);

    open(Bytes(data.begin(), data.begin() + 400), "Tiny.ts");
    const SnapshotCapture tiny = CaptureSnapshot(model, 0, 1234, "");
    EXPECT_FALSE(tiny.pictureFound);
    EXPECT_EQ(tiny.sector, 0u);
    EXPECT_EQ(tiny.stamp, 1234);
}

TEST_F(SnapshotTest, NoPictureLeavesPositionAndStampAlone) {
    const Bytes data = tsb::BuildRecording(broadcast());
    open(data);
    const SnapshotCapture seen = CaptureSnapshot(model, 0, -1, "");
    ASSERT_TRUE(seen.found);
    // A radio recording next: no stale picture position from the last search.
    tsb::RecordingPlan radio = broadcast();
    radio.videoPid = 0;
    open(tsb::BuildRecording(radio), "Radio.ts");
    const SnapshotCapture c = CaptureSnapshot(model, 7, 4242, "");
    EXPECT_FALSE(c.pictureFound);
    EXPECT_TRUE(c.audioComplete);
    EXPECT_EQ(c.sector, 7u);
    EXPECT_EQ(c.stamp, 4242);
    EXPECT_EQ(model.m_streams[2].ac3CodingMode, 7);
}

TEST_F(SnapshotTest, SilentAudioStreamDoesNotHideThePicture) {
    tsb::RecordingPlan plan = broadcast();
    Bytes data = tsb::BuildRecording(plan);
    open(data);
    model.m_streams.push_back(sPMTEntry{kStreamMpeg1Audio, 0x1E0, -1, "deu"});
    const SnapshotCapture c = CaptureSnapshot(model, 0, -1, "");
    EXPECT_TRUE(c.pictureFound);
    EXPECT_FALSE(c.found);  // the view's notion: not every audio header was read
    EXPECT_EQ(c.stamp, 900000);
}

sPMTEntry entry(std::int32_t type) {
    return sPMTEntry{type, 0x101, -1, "deu"};
}

Bytes audioPes(const Bytes& frames) {
    return tsb::PesPacket(0xC0, 900000, std::nullopt, frames);
}

TEST(ParseAudioHeader, SkipsWhatIsNoFrameHeader) {
    // Free-format, forbidden and reserved headers before a real one.
    Bytes frames = {0xFF, 0xFD, 0x04, 0x00, 0xFF, 0xFD, 0xF4, 0x00, 0xFF, 0xFC, 0x1C, 0x00};
    const Bytes good = tsb::MpegAudioFrame(256, 44100, true);
    frames.insert(frames.end(), good.begin(), good.begin() + 20);
    Bytes pes = audioPes(frames);
    sPMTEntry e = entry(kStreamMpeg2Audio);
    ASSERT_TRUE(CMpegSnapshot::ParseAudioHeader(pes.data(), static_cast<int>(pes.size()), e));
    EXPECT_EQ(e.mpegBitRate, 256);
    EXPECT_EQ(e.sampleRate, 44100);

    // AC-3: fscod 3 and frmsizecod 38 are no headers.
    Bytes ac3 = {0x0B, 0x77, 0, 0, 0xC0, 0x40, 0xE0, 0x00,
                 0x0B, 0x77, 0, 0, 0x26, 0x40, 0xE0, 0x00};
    const Bytes frame = tsb::Ac3Frame(16, 2, false, 1);  // 44.1 kHz, 128 kbit/s, 2/0
    ac3.insert(ac3.end(), frame.begin(), frame.begin() + 16);
    pes = tsb::PesPacket(0xBD, 900000, std::nullopt, ac3);
    sPMTEntry a = entry(kStreamAC3);
    ASSERT_TRUE(CMpegSnapshot::ParseAudioHeader(pes.data(), static_cast<int>(pes.size()), a));
    EXPECT_EQ(a.sampleRate, 44100);
    EXPECT_EQ(a.ac3BitRate, 128);
    EXPECT_EQ(a.ac3CodingMode, 2);
    EXPECT_EQ(a.ac3Lfe, 0);
}

TEST(ParseAudioHeader, Ac3LowFrequencyFlagFollowsTheMixLevels) {
    for (int acmod = 0; acmod < 8; ++acmod) {
        for (bool lfe : {false, true}) {
            const Bytes pes =
                tsb::PesPacket(0xBD, 0, std::nullopt, tsb::Ac3Frame(4, acmod, lfe, 2));
            sPMTEntry a = entry(kStreamAC3);
            ASSERT_TRUE(CMpegSnapshot::ParseAudioHeader(pes.data(), 184, a));
            EXPECT_EQ(a.ac3CodingMode, acmod);
            EXPECT_EQ(a.ac3Lfe, lfe ? 1 : 0) << acmod;
            EXPECT_EQ(a.sampleRate, 32000);
            EXPECT_EQ(a.ac3BitRate, 48);
        }
    }
}

TEST(ParseAudioHeader, ReadsNothingBeyondThePayload) {
    const Bytes pes = audioPes(tsb::MpegAudioFrame());
    sPMTEntry e = entry(kStreamMpeg1Audio);
    // The header's third byte lies just past the bytes given.
    EXPECT_FALSE(CMpegSnapshot::ParseAudioHeader(pes.data(), 14 + 2, e));
    EXPECT_EQ(e.sampleRate, 0);
    EXPECT_FALSE(CMpegSnapshot::ParseAudioHeader(pes.data(), 8, e));  // header length byte missing
    const Bytes noCode(100, 0xFF);
    EXPECT_FALSE(CMpegSnapshot::ParseAudioHeader(noCode.data(), 100, e));
    EXPECT_TRUE(CMpegSnapshot::ParseAudioHeader(pes.data(), 14 + 3, e));
}

}  // namespace
