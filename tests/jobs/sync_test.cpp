// The synchroniser on hand-made units: output time lines, silence, dropped
// GOPs, GOP time codes and bit-rate limits.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demux/mpeg_sync.h"
#include "output/channel_set.h"
#include "output/pack_writer.h"
#include "shell/log.h"
#include "support/ts_builder.h"

namespace {

using tsb::Bytes;

constexpr std::uint64_t kSource = 900000;

// A GOP: PES header with the PTS, sequence header (bit_rate_value given),
// GOP header, and pictures I(tref 2) B(0) B(1) P(5) B(3) B(4) ...
CMpegPacket Gop(std::uint64_t pts, int pictures = 12, std::uint32_t bitRate = 18000,
                bool closed = false) {
    Bytes d = tsb::PesPacket(0xE0, static_cast<std::int64_t>(pts), std::nullopt, {}, true);
    const int h = static_cast<int>(d.size());
    Bytes seq = tsb::SequenceHeader(720, 576, 2);
    seq[8] = static_cast<std::uint8_t>(bitRate >> 10);
    seq[9] = static_cast<std::uint8_t>(bitRate >> 2);
    seq[10] = static_cast<std::uint8_t>(((bitRate & 3) << 6) | 0x20);
    d.insert(d.end(), seq.begin(), seq.end());
    Bytes gop = tsb::GopHeader();
    if (closed) gop[7] |= 0x40;
    d.insert(d.end(), gop.begin(), gop.end());
    for (int k = 0; k < pictures; ++k) {
        const int type = k == 0 ? 1 : k % 3 == 0 ? 2 : 3;
        const int tref = type == 3 ? k - 1 : k + 2;
        Bytes pic = tsb::PictureHeader(type, tref);
        d.insert(d.end(), pic.begin(), pic.end());
        Bytes body = tsb::Filler(100);
        d.insert(d.end(), body.begin(), body.end());
    }
    CMpegPacket p;
    p.Init(0x100, pts, kKindVideo, 0);
    p.SetData(d.data(), static_cast<std::int32_t>(d.size()));
    p.m_headerLength = h;
    return p;
}

CMpegPacket Frame(std::uint64_t pts) {
    const Bytes d = tsb::PesPacket(0xC0, static_cast<std::int64_t>(pts), std::nullopt,
                                   tsb::MpegAudioFrame());
    CMpegPacket p;
    p.Init(0x101, pts, kKindMpegAudio, 0);
    p.SetData(d.data(), static_cast<std::int32_t>(d.size()));
    p.m_headerLength = 14;
    return p;
}

class SyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLogListener([this](const std::string& l) { m_lines.push_back(l); });
        m_video = m_input.Add(0x100, std::make_unique<CMpegChannel>(2, 0x100, 16));
        m_audio = m_input.Add(0x101, std::make_unique<CMpegChannel>(3, 0x101, 16));
        m_input.m_videoPid = 0x100;
        m_video->m_startPTS = kSource;
        m_sync = std::make_unique<CMpegSync>(m_input);
    }
    void TearDown() override { SetLogListener(nullptr); }

    std::vector<std::uint64_t> Drain(std::uint16_t pid) {
        std::vector<std::uint64_t> pts;
        CMpegChannel* out = m_sync->Output().Lookup(pid);
        while (!out->IsEmpty()) {
            pts.push_back(out->GetTail().m_pts);
            m_last[pid] = out->GetTail();
            out->RemoveTail();
        }
        return pts;
    }
    bool Logged(const std::string& text) const {
        for (const std::string& l : m_lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }

    CChannelSet m_input;
    CMpegChannel* m_video = nullptr;
    CMpegChannel* m_audio = nullptr;
    std::unique_ptr<CMpegSync> m_sync;
    std::vector<std::string> m_lines;
    std::map<int, CMpegPacket> m_last;
};

TEST_F(SyncTest, GopsFollowEachOtherByTheirPicturesAndCarryTheIPicturesStamp) {
    m_video->Add(Gop(kSource));
    m_video->Add(Gop(kSource + 43200));
    m_sync->Forward();
    // Time line 0 and 43200; the unit's PTS is its I picture's (tref 2).
    EXPECT_EQ(Drain(0x100), (std::vector<std::uint64_t>{7200, 43200 + 7200}));
    // The GOP time code of the second unit shows 0:00:00 and picture 12.
    const std::uint8_t* g = m_last[0x100].Data() + m_last[0x100].m_headerLength + 12 + 4;
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(((g[2] & 0x1F) << 1) | (g[3] >> 7), 12);
}

TEST_F(SyncTest, ABitRateAbove8MbitIsCappedInTheSequenceHeader) {
    m_video->Add(Gop(kSource, 12, 37500));
    m_sync->Forward();
    Drain(0x100);
    const std::uint8_t* s = m_last[0x100].Data() + m_last[0x100].m_headerLength;
    EXPECT_EQ((s[8] << 10) | (s[9] << 2) | (s[10] >> 6), 20000);
}

TEST_F(SyncTest, AudioGapOf100msIsFilledWithFourSilentFrames) {
    m_audio->m_syncTime = 2160;  // the sound starts one frame after the picture
    m_video->Add(Gop(kSource));
    for (int i = 0; i < 5; ++i) m_audio->Add(Frame(kSource + 2160 * (i + 1)));
    m_sync->Forward();
    Drain(0x101);
    m_audio->Add(Frame(kSource + 2160 * 5 + 9000));  // 9000 ticks after the last frame
    m_sync->Forward();
    const auto pts = Drain(0x101);
    EXPECT_TRUE(Logged("   Missing sound frame(s) detected 100ms!"));
    ASSERT_EQ(pts.size(), 5u);  // four silent frames, then the frame itself
    for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_EQ(pts[i] - pts[i - 1], 2160u);
    // Silence: the header stays, the rest of the frame is zero.
    EXPECT_EQ(m_last[0x101].Data()[14], 0xFF);
}

TEST_F(SyncTest, AudioGapOf1sDropsTheFollowingGops) {
    m_video->Add(Gop(kSource));
    for (int i = 0; i < 5; ++i) m_audio->Add(Frame(kSource + 2160 * i));
    m_sync->Forward();
    m_audio->Add(Frame(kSource + 2160 * 4 + 90000));
    m_sync->Forward();
    EXPECT_TRUE(Logged("   Too many missing sound frame(s) detected! 1000ms"));
    EXPECT_EQ(m_video->m_missingSound, 90000);
    Drain(0x100);
    for (int g = 1; g <= 4; ++g) m_video->Add(Gop(kSource + 43200 * g));
    m_sync->Forward();
    // 90000 ticks of sound are missing: two GOPs (86400) go, the third one
    // that uses it up comes through with "Dropped GOPs!".
    EXPECT_EQ(Drain(0x100).size(), 2u);
    EXPECT_TRUE(Logged("   Dropped GOPs!"));
}

TEST_F(SyncTest, SoundStarting200msLateGetsSilenceAheadOfIt) {
    m_audio->m_syncTime = 18000;
    m_video->Add(Gop(kSource));
    m_audio->Add(Frame(kSource + 18000));
    m_sync->Forward();
    const auto pts = Drain(0x101);
    ASSERT_FALSE(pts.empty());
    // Silence from the start up to the first frame, in time order.
    EXPECT_LT(pts.front(), 2160u);
    for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_EQ(pts[i] - pts[i - 1], 2160u);
    EXPECT_EQ(pts.back(), 18000u + 7200);  // the tref of the first I picture moves it too
}

TEST_F(SyncTest, SoundStartingASecondLateIsPrecededBySilenceNotByDroppedGops) {
    m_audio->m_syncTime = 90000;
    for (int g = 0; g < 3; ++g) m_video->Add(Gop(kSource + 43200 * g));
    m_audio->Add(Frame(kSource + 90000));
    m_video->Add(Gop(kSource + 43200 * 3));
    m_sync->Forward();
    EXPECT_EQ(Drain(0x100).size(), 4u);
    const auto pts = Drain(0x101);
    ASSERT_GT(pts.size(), 40u);
    EXPECT_LT(pts.front(), 2160u);
    EXPECT_EQ(pts.back(), 90000u + 7200);
}

TEST_F(SyncTest, LongGapIsFilledOnlyAsFarAsTheRingHolds) {
    m_video->Add(Gop(kSource));
    m_audio->Add(Frame(kSource));
    m_sync->Forward();
    Drain(0x101);
    // 30 s of sound missing (and the video went on): no ring overflow.
    m_video->m_syncTime = 30 * 90000;
    m_audio->Add(Frame(kSource + 30 * 90000));
    EXPECT_NO_THROW(m_sync->Forward());
    EXPECT_LT(Drain(0x101).size(), 1000u);
}

}  // namespace
