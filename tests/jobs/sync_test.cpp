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

// A GOP: PES header with the PTS (and a DTS two pictures earlier), sequence
// header (bit_rate_value given), GOP header (closed_gop set unless open),
// and pictures I(tref 2) B(0) B(1) P(5) B(3) B(4) ...
CMpegPacket Gop(std::uint64_t pts, int pictures = 12, std::uint32_t bitRate = 18000,
                bool open = false) {
    Bytes d = tsb::PesPacket(0xE0, static_cast<std::int64_t>(pts),
                             static_cast<std::int64_t>(pts) - 7200, {}, true);
    const int h = static_cast<int>(d.size());
    Bytes seq = tsb::SequenceHeader(720, 576, 2);
    seq[8] = static_cast<std::uint8_t>(bitRate >> 10);
    seq[9] = static_cast<std::uint8_t>(bitRate >> 2);
    seq[10] = static_cast<std::uint8_t>(((bitRate & 3) << 6) | 0x20);
    d.insert(d.end(), seq.begin(), seq.end());
    Bytes gop = tsb::GopHeader();
    if (open) gop[7] &= static_cast<std::uint8_t>(~0x40);
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

// Where an audio frame carries its source stamp, so that the output tells
// which frame plays where (silence has zeros there).
constexpr int kTagAt = 14 + 8;

CMpegPacket Frame(std::uint64_t pts) {
    Bytes d = tsb::PesPacket(0xC0, static_cast<std::int64_t>(pts), std::nullopt,
                             tsb::MpegAudioFrame());
    for (int i = 0; i < 8; ++i) d[kTagAt + i] = static_cast<std::uint8_t>(pts >> (8 * i));
    CMpegPacket p;
    p.Init(0x101, pts, kKindMpegAudio, 0);
    p.SetData(d.data(), static_cast<std::int32_t>(d.size()));
    p.m_headerLength = 14;
    return p;
}

std::uint64_t SourceOf(const CMpegPacket& frame) {
    std::uint64_t pts = 0;
    for (int i = 0; i < 8; ++i) pts |= std::uint64_t{frame.Data()[kTagAt + i]} << (8 * i);
    return pts;
}

int CountPictures(const CMpegPacket& unit) {
    int pictures = 0;
    for (int i = unit.m_headerLength; i + 3 < unit.Size(); ++i)
        if (unit.Data()[i] == 0 && unit.Data()[i + 1] == 0 && unit.Data()[i + 2] == 1 &&
            unit.Data()[i + 3] == 0)
            ++pictures;
    return pictures;
}

std::uint64_t ReadDts(const CMpegPacket& unit) {
    const std::uint8_t* p = unit.Data() + 14;
    return (std::uint64_t{p[0] & 0x0Eu} << 29) | (std::uint64_t{p[1]} << 22) |
           (std::uint64_t{p[2] & 0xFEu} << 14) | (std::uint64_t{p[3]} << 7) | (p[4] >> 1);
}

bool ReadBrokenLink(const CMpegPacket& unit) {
    for (int i = unit.m_headerLength; i + 7 < unit.Size(); ++i)
        if (unit.Data()[i] == 0 && unit.Data()[i + 1] == 0 && unit.Data()[i + 2] == 1 &&
            unit.Data()[i + 3] == 0xB8)
            return (unit.Data()[i + 7] & 0x20) != 0;
    return false;
}

class SyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetLogListener([this](const std::string& l) { m_lines.push_back(l); });
        Start();
    }
    void TearDown() override { SetLogListener(nullptr); }

    // A new synchroniser on new channels (also for a second round in one test).
    void Start() {
        m_sync.reset();
        m_input = std::make_unique<CChannelSet>();
        m_video = m_input->Add(0x100, std::make_unique<CMpegChannel>(2, 0x100, 16));
        m_audio = m_input->Add(0x101, std::make_unique<CMpegChannel>(3, 0x101, 16));
        m_input->m_videoPid = 0x100;
        m_video->m_startPTS = kSource;
        // Room for all the units a test queues before moving them on.
        m_video->SetRingSize(100);
        m_audio->SetRingSize(2000);
        m_sync = std::make_unique<CMpegSync>(*m_input);
        m_lines.clear();
        m_drained.clear();
    }

    // Frames of ten GOPs' time, every 2160 ticks from kSource, except those
    // starting in [from, to).
    void AddSoundOutside(std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t t = kSource; t < kSource + 10 * 43200; t += 2160)
            if (t < from || t >= to) m_audio->Add(Frame(t));
    }

    // Moves the units on as at the end of the data: nothing more will come,
    // so no unit waits for another stream.
    void Forward() {
        m_video->m_atEnd = m_audio->m_atEnd = 1;
        m_sync->Forward();
    }

    std::vector<std::uint64_t> Drain(std::uint16_t pid) {
        std::vector<std::uint64_t> pts;
        CMpegChannel* out = m_sync->Output().Lookup(pid);
        while (!out->IsEmpty()) {
            pts.push_back(out->GetTail().m_pts);
            m_last[pid] = out->GetTail();
            m_drained[pid].push_back(out->GetTail());
            out->RemoveTail();
        }
        return pts;
    }
    // The source stamp of the audio frame that plays at output stamp t.
    std::uint64_t SoundAt(std::uint64_t t) {
        for (const CMpegPacket& p : m_drained[0x101])
            if (p.m_pts <= t && t < p.m_pts + 2160) return SourceOf(p);
        return 0;
    }
    bool Logged(const std::string& text) const {
        for (const std::string& l : m_lines)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }

    std::unique_ptr<CChannelSet> m_input;
    CMpegChannel* m_video = nullptr;
    CMpegChannel* m_audio = nullptr;
    std::unique_ptr<CMpegSync> m_sync;
    std::vector<std::string> m_lines;
    std::map<int, CMpegPacket> m_last;
    std::map<int, std::vector<CMpegPacket>> m_drained;
};

TEST_F(SyncTest, GopsFollowEachOtherByTheirPicturesAndCarryTheIPicturesStamp) {
    m_video->Add(Gop(kSource));
    m_video->Add(Gop(kSource + 43200));
    Forward();
    // Time line 0 and 43200; the unit's PTS is its I picture's (tref 2).
    EXPECT_EQ(Drain(0x100), (std::vector<std::uint64_t>{7200, 43200 + 7200}));
    // The GOP time code of the second unit shows 0:00:00 and picture 12.
    const std::uint8_t* g = m_last[0x100].Data() + m_last[0x100].m_headerLength + 12 + 4;
    EXPECT_EQ(g[0], 0);
    EXPECT_EQ(((g[2] & 0x1F) << 1) | (g[3] >> 7), 12);
}

TEST_F(SyncTest, ABitRateAbove8MbitIsCappedInTheSequenceHeader) {
    m_video->Add(Gop(kSource, 12, 37500));
    Forward();
    Drain(0x100);
    const std::uint8_t* s = m_last[0x100].Data() + m_last[0x100].m_headerLength;
    EXPECT_EQ((s[8] << 10) | (s[9] << 2) | (s[10] >> 6), 20000);
}

// A program stream keeps exact stamps: 9000 ticks after the last frame's
// start are 6840 ticks (3.2 frames) of missing sound, made good with the
// nearest whole number of frames.
TEST_F(SyncTest, AudioGapOf100msIsFilledWithTheNearestWholeFrames) {
    m_sync->SetVobMode(true);
    m_video->Add(Gop(kSource));
    for (int i = 0; i < 5; ++i) m_audio->Add(Frame(kSource + 2160 * i));
    m_audio->Add(Frame(kSource + 2160 * 4 + 9000));
    Forward();
    const auto pts = Drain(0x101);
    EXPECT_TRUE(Logged("   Missing sound frame(s) detected 100ms!"));
    // Three silent frames ahead of the first (the I picture is shown at
    // 7200), five frames, three silent ones, the frame after the gap.
    ASSERT_EQ(pts.size(), 12u);
    for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_EQ(pts[i] - pts[i - 1], 2160u);
    // Silence: the header stays, without CRC; the rest of the frame is zero.
    const CMpegPacket& silence = m_drained[0x101][8];
    EXPECT_EQ(SourceOf(silence), 0u);
    EXPECT_EQ(silence.Data()[14], 0xFF);
    EXPECT_EQ(silence.Data()[15], 0xFD);
    EXPECT_EQ(SourceOf(m_drained[0x101][11]), kSource + 2160 * 4 + 9000);
}

// A gap of exactly two frames is one frame lost (one PES of one frame, as
// many receivers write them): each gets its silent frame, so ten of them do
// not add up.
TEST_F(SyncTest, EveryLostFrameIsMadeGoodOne) {
    m_sync->SetVobMode(true);
    for (int g = 0; g < 5; ++g) m_video->Add(Gop(kSource + 43200 * g));
    std::uint64_t last = 0;
    for (int i = 0; i < 100; ++i) {
        if (i % 10 == 5) continue;  // ten frames lost
        m_audio->Add(Frame(kSource + 2160 * i));
        last = kSource + 2160 * i;
    }
    Forward();
    const auto pts = Drain(0x101);
    ASSERT_EQ(pts.size(), 3u + 100u);  // after three silent ones ahead of the first picture
    for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_EQ(pts[i] - pts[i - 1], 2160u) << i;
    // The last frame keeps its distance from the first picture (the GOP's
    // output stamp is that of its I picture, tref 2).
    EXPECT_EQ(pts.back() - 7200, last - kSource);
    EXPECT_EQ(SoundAt(pts.back()), last);
}

// About a second of sound missing while GOPs 2 and 3 are shown (from
// 79,200 to 165,600, each GOP shown from two pictures before its I picture):
// those GOPs go, the time line closes over them, and the sound after the gap
// comes with the pictures after it.
TEST_F(SyncTest, GopsShownWhileTheSoundIsMissingGo) {
    m_sync->SetVobMode(true);
    for (int g = 0; g < 10; ++g) m_video->Add(Gop(kSource + 43200 * g));
    const std::uint64_t from = kSource + 77760, to = kSource + 166320;
    AddSoundOutside(from, to);
    Forward();
    EXPECT_TRUE(Logged("   Too many missing sound frame(s) detected! "));
    EXPECT_TRUE(Logged("   Dropping corresponding GOP"));
    EXPECT_TRUE(Logged("   Dropped GOPs!"));
    const auto video = Drain(0x100);
    ASSERT_EQ(video.size(), 8u);  // GOPs 2 and 3 went
    EXPECT_EQ(video[2], 2 * 43200u + 7200);  // GOP 4 follows GOP 1
    // GOP 4's I picture plays with the sound of its source time, within a
    // frame.
    Drain(0x101);
    const double shown = static_cast<double>(kSource + 4 * 43200);
    EXPECT_NEAR(static_cast<double>(SoundAt(video[2])), shown, 2160);
}

// Every stream lost the same second: that is no missing sound. No GOP goes
// beyond those lost, and the sound after the gap comes with the pictures.
// (The GOP after the gap carries the drop mark, as the assembly sets it
// after a loss.)
TEST_F(SyncTest, ADropoutOfEveryStreamDropsNothingMore) {
    m_sync->SetVobMode(true);
    for (int g = 0; g < 10; ++g) {
        CMpegPacket gop = Gop(kSource + 43200 * g);
        gop.m_flag = g == 4;
        if (g < 2 || g > 3) m_video->Add(std::move(gop));
    }
    // The pictures of GOPs 2 and 3 (shown from 79,200 to 165,600) are gone,
    // and the sound of that time.
    const std::uint64_t from = kSource + 79200, to = kSource + 165600;
    AddSoundOutside(from, to);
    Forward();
    EXPECT_FALSE(Logged("Too many missing sound"));
    EXPECT_TRUE(Logged("   Missing GOP detected! "));
    const auto video = Drain(0x100);
    ASSERT_EQ(video.size(), 8u);
    EXPECT_EQ(video[2], 2 * 43200u + 7200);
    const auto audio = Drain(0x101);
    // Continuous: the gap took no silence.
    for (std::size_t i = 1; i < audio.size(); ++i) EXPECT_EQ(audio[i] - audio[i - 1], 2160u) << i;
    // Only the three frames ahead of the first picture are silent.
    for (std::size_t i = 3; i < m_drained[0x101].size(); ++i)
        EXPECT_NE(SourceOf(m_drained[0x101][i]), 0u) << i;
    // GOP 4's I picture and the sound of its source time play together.
    EXPECT_NEAR(static_cast<double>(SoundAt(video[2])), static_cast<double>(kSource + 4 * 43200),
                2160);
}

// Sound from a second of lost video has no pictures: it goes with them.
TEST_F(SyncTest, SoundWithoutItsPicturesGoes) {
    m_sync->SetVobMode(true);
    for (int g = 0; g < 10; ++g)
        if (g < 2 || g > 3) m_video->Add(Gop(kSource + 43200 * g));
    for (std::uint64_t t = kSource; t < kSource + 10 * 43200; t += 2160) m_audio->Add(Frame(t));
    Forward();
    const auto video = Drain(0x100);
    const auto audio = Drain(0x101);
    ASSERT_EQ(video.size(), 8u);
    for (std::size_t i = 1; i < audio.size(); ++i) EXPECT_EQ(audio[i] - audio[i - 1], 2160u) << i;
    // The pictures before and after the gap play with their own sound.
    EXPECT_NEAR(static_cast<double>(SoundAt(video[1])), static_cast<double>(kSource + 43200), 2160);
    EXPECT_NEAR(static_cast<double>(SoundAt(video[2])), static_cast<double>(kSource + 4 * 43200),
                2160);
}

// After a gap, an open GOP's leading B pictures (they refer to the GOP that
// is gone) are removed, the time line steps back by them and the I picture's
// DTS moves to one picture before its PTS. A closed GOP keeps them all.
TEST_F(SyncTest, LeadingBPicturesGoOnlyFromAnOpenGopAfterAGap) {
    for (bool open : {true, false}) {
        SCOPED_TRACE(open);
        Start();
        m_video->Add(Gop(kSource));
        m_video->Add(Gop(kSource + 4 * 43200, 12, 18000, open));  // three GOPs lost
        Forward();
        const auto pts = Drain(0x100);
        ASSERT_EQ(pts.size(), 2u);
        const CMpegPacket& unit = m_last[0x100];
        EXPECT_EQ(CountPictures(unit), open ? 10 : 12);
        // Time line 43200 (one GOP on); without its B pictures the I picture
        // (tref 2) is shown first, right after the last GOP.
        EXPECT_EQ(pts[1], open ? 43200u : 43200u + 7200);
        const std::uint64_t dts = ReadDts(unit);
        const std::uint64_t sourcePts = kSource + 4 * 43200;
        EXPECT_EQ(dts, open ? sourcePts - 3600 : sourcePts - 7200);
        EXPECT_EQ(ReadBrokenLink(unit), open);
    }
}

// 44.1 kHz frames last 2351.02 ticks: over two minutes the time line keeps
// that pace to the tick, not 2351 ticks a frame.
TEST_F(SyncTest, Mp2At44kHzKeepsItsOwnPace) {
    m_sync->SetVobMode(true);
    m_audio->m_sampleRate = 44100;
    m_audio->m_frameSamples = 1152;
    m_audio->SetRingSize(6000);
    m_video->SetRingSize(300);
    for (int g = 0; g < 260; ++g) m_video->Add(Gop(kSource + 43200 * g));
    constexpr int kFrames = 5000;
    for (int i = 0; i < kFrames; ++i) {
        CMpegPacket frame = Frame(kSource + static_cast<std::uint64_t>(i) * 1152 * 90000 / 44100);
        m_audio->Add(frame);
    }
    m_audio->m_frameDuration = 2351;  // as the assembly sets it from the first frame
    Forward();
    const auto pts = Drain(0x101);
    ASSERT_EQ(pts.size(), 3u + kFrames);  // after three silent frames before the first picture
    const double exact = (kFrames - 1) * 1152 * 90000.0 / 44100;
    EXPECT_NEAR(static_cast<double>(pts.back() - pts[3]), exact, 1.0);
}

// Sound waits until the video has been read 0.2 s past it (the unit that
// shows it is then complete), unless the video has gone quiet for a minute.
TEST_F(SyncTest, SoundWaitsUntilThePicturesForItHaveBeenRead) {
    m_sync->SetVobMode(true);
    m_video->m_seenPTS = m_audio->m_seenPTS = 1;
    m_video->m_unitPTSValid = 1;
    m_video->m_unitPTS = m_video->m_latestPTS = kSource + 43200;  // GOP 1 is being assembled
    m_video->Add(Gop(kSource));
    for (int i = 0; i < 40; ++i) m_audio->Add(Frame(kSource + 2160 * i));
    m_audio->m_latestPTS = kSource + 2160 * 39;
    m_sync->Forward();
    EXPECT_TRUE(m_audio->IsEmpty()) << "the input rings are always emptied";
    Drain(0x101);
    // The last frame 0.2 s before GOP 1 or earlier: 11 * 2160 <= 43200 - 18000.
    ASSERT_FALSE(m_drained[0x101].empty());
    EXPECT_EQ(SourceOf(m_drained[0x101].back()), kSource + 2160 * 11);

    m_video->Add(Gop(kSource + 43200));
    m_video->Add(Gop(kSource + 2 * 43200));
    m_video->m_unitPTS = m_video->m_latestPTS = kSource + 3 * 43200;
    m_sync->Forward();
    Drain(0x101);
    // GOP 2, shown from 79,200, waits for sound a picture past its end, and
    // the sound that plays with it waits for it: the last frame out ends
    // before 79,200.
    EXPECT_EQ(SourceOf(m_drained[0x101].back()), kSource + 2160 * 35);
    EXPECT_EQ(Drain(0x100).size(), 2u);

    // A minute without video while the sound goes on: it is not waited for.
    for (int i = 40; i < 80; ++i) m_audio->Add(Frame(kSource + 2160 * i));
    m_audio->m_latestPTS = kSource + 65 * 90000;
    m_sync->Forward();
    Drain(0x101);
    EXPECT_EQ(SourceOf(m_drained[0x101].back()), kSource + 2160 * 79);
}

// 200 ms after the picture: silence from the start up to the first frame.
// A program stream has it at its exact stamp; elementary streams, which
// carry none, at the nearest whole frame.
TEST_F(SyncTest, SoundStarting200msLateGetsSilenceAheadOfIt) {
    for (bool vob : {true, false}) {
        SCOPED_TRACE(vob);
        Start();
        m_sync->SetVobMode(vob);
        m_audio->m_syncTime = 18000;
        m_video->Add(Gop(kSource));
        m_audio->Add(Frame(kSource + 18000));
        Forward();
        const auto pts = Drain(0x101);
        ASSERT_FALSE(pts.empty());
        EXPECT_LT(pts.front(), 2160u);
        for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_EQ(pts[i] - pts[i - 1], 2160u);
        // The delay counts from the I picture, shown at 7200 (tref 2).
        EXPECT_EQ(pts.back(), vob ? 18000u + 7200 : 12 * 2160u);
    }
}

TEST_F(SyncTest, SoundStartingASecondLateIsPrecededBySilenceNotByDroppedGops) {
    m_sync->SetVobMode(true);
    m_audio->m_syncTime = 90000;
    for (int g = 0; g < 3; ++g) m_video->Add(Gop(kSource + 43200 * g));
    m_audio->Add(Frame(kSource + 90000));
    m_video->Add(Gop(kSource + 43200 * 3));
    Forward();
    EXPECT_EQ(Drain(0x100).size(), 4u);
    const auto pts = Drain(0x101);
    ASSERT_GT(pts.size(), 40u);
    EXPECT_LT(pts.front(), 2160u);
    EXPECT_EQ(pts.back(), 90000u + 7200);
}

// 30 s of sound missing while the pictures go on: 30 s of silence, however
// many frames the output ring was made for.
TEST_F(SyncTest, ThirtySecondsOfMissingSoundAreFilled) {
    m_sync->SetVobMode(true);
    for (int g = 0; g < 70; ++g) m_video->Add(Gop(kSource + 43200 * g));
    m_audio->Add(Frame(kSource));
    m_audio->Add(Frame(kSource + 30 * 90000));
    EXPECT_NO_THROW(Forward());
    const auto pts = Drain(0x101);
    ASSERT_EQ(pts.size(), 3u + 2u + 30 * 90000 / 2160 - 1);  // after three ahead of the first picture
    for (std::size_t i = 1; i < pts.size(); ++i) EXPECT_EQ(pts[i] - pts[i - 1], 2160u) << i;
}

}  // namespace
