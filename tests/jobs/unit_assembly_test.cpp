// Unit assembly on synthetic recordings: what becomes a unit, and that
// damaged or hostile stream data is answered without a crash.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "demux/mpeg_ts_demux.h"
#include "demux/raw_file.h"
#include "output/channel_set.h"
#include "output/mpeg_channel_exception.h"
#include "shell/log.h"
#include "support/temp_dir.h"
#include "support/ts_builder.h"

namespace {

using tsb::Bytes;

struct Result {
    std::map<int, std::vector<CMpegPacket>> units;
    std::vector<std::string> lines;
};

// Demultiplexes a whole recording, draining the rings after every slice.
Result DemuxAll(const Bytes& ts) {
    Result r;
    SetLogListener([&r](const std::string& line) { r.lines.push_back(line); });
    TempDir dir;
    WriteFileBytes(dir.File("rec.ts"), ts);
    CRawFile file;
    platform::FileError error;
    EXPECT_TRUE(file.Open(dir.File("rec.ts"), platform::modeRead, &error));
    CMpegTsDemux demux;
    std::uint16_t pmt = 0, video = 0, audio = 0, ac3 = 0;
    if (demux.Init(file, pmt, video, audio, ac3)) {
        auto drain = [&] {
            for (CMpegChannel* c : demux.Channels().Channels())
                while (!c->IsEmpty()) {
                    r.units[c->m_pid].push_back(c->GetTail());
                    c->RemoveTail();
                }
        };
        try {
            for (int guard = 0; demux.Demux() && guard < 100000; ++guard) drain();
            drain();
        } catch (const CMpegChannelException& e) {
            r.lines.push_back(std::string("exception: ") + e.what());
        }
    }
    SetLogListener(nullptr);
    return r;
}

bool AnyLine(const Result& r, const std::string& text) {
    for (const std::string& l : r.lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

TEST(UnitAssembly, VideoUnitsRunFromSequenceHeaderToSequenceHeader) {
    tsb::RecordingPlan plan;
    plan.gops = 6;
    const Result r = DemuxAll(tsb::BuildRecording(plan));
    const auto& video = r.units.at(0x100);
    ASSERT_EQ(video.size(), 6u);  // the last GOP too, at the end of the data
    for (std::size_t i = 0; i < video.size(); ++i) {
        const CMpegPacket& u = video[i];
        const std::uint8_t* d = u.Data() + u.m_headerLength;
        EXPECT_EQ(Bytes(d, d + 4), (Bytes{0, 0, 1, 0xB3})) << i;
        EXPECT_EQ(u.m_pts, static_cast<std::uint64_t>(plan.firstPts + 12 * 3600 * i)) << i;
        EXPECT_EQ(u.Data()[3], 0xE0);
    }
}

TEST(UnitAssembly, ShortAudioFramesAreCutOneByOne) {
    // 32 kbit/s at 48 kHz: 96-byte frames, two or more in one packet payload.
    tsb::RecordingPlan plan;
    plan.gops = 3;
    plan.audio = {{0x101, false, "deu", 32}};
    const Result r = DemuxAll(tsb::BuildRecording(plan));
    EXPECT_FALSE(AnyLine(r, "invalid")) << r.lines.size();
    const auto& audio = r.units.at(0x101);
    const std::size_t frames = 3 * 12 * 3600 / 2160;
    EXPECT_GE(audio.size(), frames - 2);
    for (std::size_t i = 0; i < audio.size(); ++i) {
        const CMpegPacket& u = audio[i];
        ASSERT_EQ(u.Size() - u.m_headerLength, 96) << i;
        EXPECT_EQ(u.Data()[u.m_headerLength], 0xFF) << i;
        if (i > 0) {
            EXPECT_EQ(u.m_pts - audio[i - 1].m_pts, 2160u) << i;
        }
    }
}

TEST(UnitAssembly, Ac3FramesBecomeUnitsOfTheirTableSize) {
    tsb::RecordingPlan plan;
    plan.gops = 2;
    plan.audio = {{0x102, true, "deu", 448}};
    const Result r = DemuxAll(tsb::BuildRecording(plan));
    const auto& ac3 = r.units.at(0x102);
    ASSERT_GE(ac3.size(), 25u);
    for (const CMpegPacket& u : ac3) {
        EXPECT_EQ(u.Size() - u.m_headerLength, 1792);
        EXPECT_EQ(u.m_kind, kKindAC3);
    }
}

TEST(UnitAssembly, AudioBeforeTheFirstPictureIsIgnored) {
    tsb::TsBuilder b;
    const Bytes pat = tsb::PatSection(1, {{1, 0x1000}});
    const Bytes pmt = tsb::PmtSection(1, 0x100, {{2, 0x100, {}}, {3, 0x101, {}}});
    b.Section(0, pat);
    b.Section(0x1000, pmt);
    const std::int64_t first = 900000;
    for (int i = 0; i < 40; ++i)  // almost a second of sound ahead of the picture
        b.Unit(0x101, tsb::PesPacket(0xC0, first - 90000 + 2160 * i, std::nullopt, tsb::MpegAudioFrame()));
    tsb::RecordingPlan plan;
    plan.withPmt = false;
    plan.gops = 3;
    plan.firstPts = first;
    Bytes ts = b.Data();
    const Bytes rest = tsb::BuildRecording(plan);
    ts.insert(ts.end(), rest.begin(), rest.end());
    const Result r = DemuxAll(ts);
    ASSERT_FALSE(r.units.at(0x101).empty());
    EXPECT_GE(r.units.at(0x101).front().m_pts, static_cast<std::uint64_t>(first));
}

// Header lengths beyond the packet, free-format and reserved rates, AC-3
// table indices out of range, and random damage: answered, never a crash.
TEST(UnitAssembly, HostileStreamDataIsSurvived) {
    tsb::RecordingPlan plan;
    plan.gops = 4;
    plan.audio = {{0x101, false, "deu", 0}, {0x102, true, "deu", 0}};
    const Bytes clean = tsb::BuildRecording(plan);
    Bytes ts = clean;
    int headers = 0, rates = 0, ac3 = 0;
    for (std::size_t at = 0; at + 188 <= ts.size(); at += 188) {
        std::uint8_t* p = ts.data() + at;
        const int pid = ((p[1] & 0x1F) << 8) | p[2];
        if (!(p[1] & 0x40) || (p[3] & 0x30) != 0x10) continue;
        std::uint8_t* pes = p + 4;
        if (pid == 0x100 && ++headers == 15) pes[8] = 0xFF;  // 9 + 255 > what the packet holds
        const int h = 9 + pes[8];
        if (pid == 0x101 && h + 3 < 184 && ++rates % 3 == 0)
            pes[h + 2] = static_cast<std::uint8_t>(rates % 2 ? 0x04 : 0xF4);  // index 0 / 15
        if (pid == 0x102 && h + 5 < 184 && ++ac3 % 3 == 0) pes[h + 4] = 0xFF;  // fscod 3, code 63
    }
    Result r = DemuxAll(ts);
    std::string all;
    for (const std::string& l : r.lines) all += l + "\n";
    // The GOP with the damaged header is not passed on, the others are.
    EXPECT_EQ(r.units[0x100].size(), 3u) << all;
    EXPECT_TRUE(AnyLine(r, "Found invalid audio frame @ PTS"));
    EXPECT_TRUE(AnyLine(r, "Found invalid AC3 frame @ PTS"));

    std::mt19937 random(4);
    for (int round = 0; round < 20; ++round) {
        Bytes damaged = clean;
        for (int i = 0; i < 200; ++i)
            damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        damaged.resize(damaged.size() - random() % 5000);
        DemuxAll(damaged);
    }
}

TEST(UnitAssembly, LostSyncIsFoundAgainAndTheRestIsProcessed) {
    tsb::RecordingPlan plan;
    plan.gops = 6;
    Bytes ts = tsb::BuildRecording(plan);
    const std::size_t middle = ts.size() / 2 / 188 * 188;
    Bytes garbage(20000, 0x11);
    ts.insert(ts.begin() + static_cast<long>(middle), garbage.begin(), garbage.end());
    const Result r = DemuxAll(ts);
    EXPECT_TRUE(AnyLine(r, "Lost TS sync: skipped "));
    // The GOP torn by the garbage is lost, the ones after it are not.
    EXPECT_GE(r.units.at(0x100).size(), 4u);
}

}  // namespace
