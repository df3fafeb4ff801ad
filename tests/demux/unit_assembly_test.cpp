// Unit assembly on synthetic recordings: what becomes a unit, and that
// damaged or hostile stream data is answered without a crash.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "demux_test_util.h"

namespace {

using tsb::Bytes;

using Result = DemuxResult;

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
    EXPECT_FALSE(r.Logged("invalid")) << r.lines.size();
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
    EXPECT_TRUE(r.Logged("Found invalid audio frame @ PTS"));
    EXPECT_TRUE(r.Logged("Found invalid AC3 frame @ PTS"));

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
    EXPECT_TRUE(r.Logged("Lost TS sync: skipped "));
    // The GOP torn by the garbage is lost, the ones after it are not.
    EXPECT_GE(r.units.at(0x100).size(), 4u);
}

// Layer II at 44.1 kHz: 144 * rate / 44.1 bytes, of which the fraction is
// made up by a padding byte now and then (as an encoder keeps its rate).
std::vector<Bytes> Frames44k(int kbits, int count) {
    static const int rates[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
    const int index = static_cast<int>(std::find(rates + 1, rates + 15, kbits) - rates);
    std::vector<Bytes> frames;
    long long owed = 0;  // in 1/44100 bytes
    for (int i = 0; i < count; ++i) {
        owed += 144LL * kbits * 1000 % 44100;
        const bool padded = owed >= 44100;
        if (padded) owed -= 44100;
        Bytes frame(static_cast<std::size_t>(144 * kbits * 1000 / 44100 + (padded ? 1 : 0)), 0x55);
        frame[0] = 0xFF;
        frame[1] = 0xFD;
        frame[2] = static_cast<std::uint8_t>((index << 4) | (padded ? 2 : 0));
        frame[3] = 0x04;
        frames.push_back(frame);
    }
    return frames;
}

// A recording of 8 GOPs with a 44.1 kHz MP2 track of framesPerPes frames in
// each PES; headerSplits counts the frames whose header lies across two
// packets.
Bytes Recording44k(int kbits, int framesPerPes, int& headerSplits) {
    tsb::TsBuilder b;
    b.Section(0, tsb::PatSection(1, {{1, 0x1000}}));
    b.Section(0x1000, tsb::PmtSection(1, 0x100, {{2, 0x100, {}}, {3, 0x101, {}}}));
    tsb::RecordingPlan plan;
    plan.withPmt = false;
    plan.audio = {};
    plan.gops = 8;
    const Bytes video = tsb::BuildRecording(plan);
    const std::vector<Bytes> frames = Frames44k(kbits, plan.gops * 12 * 3600 / 2351);
    headerSplits = 0;
    std::size_t next = 0;
    for (std::size_t at = 0; at + 188 <= video.size(); at += 188) {
        b.Raw(Bytes(video.begin() + static_cast<long>(at), video.begin() + static_cast<long>(at + 188)));
        if (at % (188 * 2) != 0 || next >= frames.size()) continue;
        Bytes data;
        std::vector<std::size_t> starts;
        for (int k = 0; k < framesPerPes && next < frames.size(); ++k, ++next) {
            starts.push_back(data.size());
            data.insert(data.end(), frames[next].begin(), frames[next].end());
        }
        const std::int64_t pts = plan.firstPts + static_cast<std::int64_t>(next - starts.size()) * 1152 * 90000 / 44100;
        Bytes pes = tsb::PesPacket(0xC0, pts, std::nullopt, data);
        // Stuffing in the PES header (0 to 12 bytes) moves the frames against
        // the packet bounds.
        const std::size_t stuffing = next * 7 % 13;
        pes.insert(pes.begin() + 14, stuffing, 0xFF);
        pes[8] = static_cast<std::uint8_t>(pes[8] + stuffing);
        for (std::size_t start : starts) {
            const std::size_t in = (start + 14 + stuffing) % 184;  // where in its packet's payload
            if (in > 184 - 4) ++headerSplits;
        }
        b.Unit(0x101, pes);
    }
    return b.Data();
}

// Every bit rate at 44.1 kHz, one frame and five frames in each PES: every
// frame becomes a unit of its own length (padding byte included), none is
// found invalid, and the stamps step by one frame.
TEST(UnitAssembly, Mp2At44kHzCutsEveryFrameAtEveryBitRate) {
    int splits = 0;
    for (int kbits : {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}) {
        for (int perPes : {1, 5}) {
            SCOPED_TRACE(std::to_string(kbits) + " kbit/s, " + std::to_string(perPes) + " per PES");
            int headerSplits = 0;
            const Result r = DemuxAll(Recording44k(kbits, perPes, headerSplits));
            splits += headerSplits;
            EXPECT_FALSE(r.Logged("invalid"));
            const auto& audio = r.units.at(0x101);
            const std::vector<Bytes> frames = Frames44k(kbits, static_cast<int>(audio.size()));
            ASSERT_GT(audio.size(), 100u);
            for (std::size_t i = 0; i < audio.size(); ++i) {
                const CMpegPacket& u = audio[i];
                ASSERT_EQ(u.Size() - u.m_headerLength, static_cast<int>(frames[i].size())) << i;
                if (i > 0 && i % perPes != 0) {
                    EXPECT_EQ(u.m_pts - audio[i - 1].m_pts, 2351u) << i;
                }
            }
        }
    }
    EXPECT_GT(splits, 10);  // the sweep did cut headers split over two packets
}

// Video PES that begin in the middle of a picture, and sequence headers in
// the middle of a packet (the elementary stream is cut into PES packets every
// 5000 bytes): every byte of the stream from its first sequence header on is
// in the units, in order.
TEST(UnitAssembly, EveryVideoByteOfAPesIsKept) {
    tsb::RecordingPlan plan;
    plan.gops = 4;
    Bytes es;
    for (int k = 0; k < plan.gops * plan.gopLength; ++k) {
        const int inGop = k % plan.gopLength;
        auto add = [&](const Bytes& b) { es.insert(es.end(), b.begin(), b.end()); };
        if (inGop == 0) {
            add(tsb::SequenceHeader(720, 576, 2));
            add(tsb::GopHeader());
        }
        add(tsb::PictureHeader(inGop == 0 ? 1 : inGop % 3 == 0 ? 2 : 3, inGop));
        add(tsb::Filler(2000));
    }
    tsb::TsBuilder b;
    b.Section(0, tsb::PatSection(1, {{1, 0x1000}}));
    b.Section(0x1000, tsb::PmtSection(1, 0x100, {{2, 0x100, {}}}));
    for (std::size_t at = 0, n = 0; at < es.size(); at += 5000, ++n) {
        const Bytes chunk(es.begin() + static_cast<long>(at),
                          es.begin() + static_cast<long>(std::min(es.size(), at + 5000)));
        b.Unit(0x100, tsb::PesPacket(0xE0, plan.firstPts + static_cast<std::int64_t>(n) * 3600,
                                     std::nullopt, chunk, true));
    }
    const Result r = DemuxAll(b.Data());
    Bytes out;
    for (const CMpegPacket& u : r.units.at(0x100))
        out.insert(out.end(), u.Data() + u.m_headerLength, u.Data() + u.Size());
    // The last GOP ends at its last whole I or P picture.
    ASSERT_GT(out.size(), es.size() * 3 / 4);
    const auto diverge = std::mismatch(out.begin(), out.end(), es.begin());
    EXPECT_EQ(diverge.first, out.end()) << "at " << (diverge.first - out.begin()) << " of " << out.size();
}

// The packet that starts the PES of one frame is lost (one frame per PES):
// the rest of that frame is dropped, the next PES starts the stream again,
// and the stamps show the one frame lost.
TEST(UnitAssembly, LostStartOfAnAudioPesCostsOnlyItsFrame) {
    tsb::RecordingPlan plan;
    plan.gops = 3;
    plan.audio = {{0x101, false, "deu", 192}};
    Bytes ts = tsb::BuildRecording(plan);
    int seen = 0;
    for (std::size_t at = 0; at + 188 <= ts.size(); at += 188) {
        const bool start = (((ts[at + 1] & 0x1F) << 8) | ts[at + 2]) == 0x101 && (ts[at + 1] & 0x40);
        if (start && ++seen == 20) {
            ts.erase(ts.begin() + static_cast<long>(at), ts.begin() + static_cast<long>(at + 188));
            break;
        }
    }
    const Result r = DemuxAll(ts);
    EXPECT_FALSE(r.Logged("Found invalid audio frame"));
    EXPECT_TRUE(r.Logged("Detected TS packet sequence error"));
    const auto& audio = r.units.at(0x101);
    int gaps = 0;
    for (std::size_t i = 1; i < audio.size(); ++i) {
        const std::uint64_t step = audio[i].m_pts - audio[i - 1].m_pts;
        if (step != 2160u) {
            EXPECT_EQ(step, 2u * 2160) << i;
            ++gaps;
        }
    }
    EXPECT_EQ(gaps, 1);
}

// GOPs of 2.6 MB in a stream whose sequence header states 7.5 Mbit/s: more
// than 2,048,000 bytes, less than four seconds of its rate. They are whole
// units, not scrambled video; a GOP of more than four seconds is.
TEST(UnitAssembly, LargeGopsOfAHighRateStreamAreNotScrambled) {
    tsb::RecordingPlan plan;
    plan.gops = 3;
    plan.audio = {};
    plan.pictureBytes = 200000;
    const Result r = DemuxAll(tsb::BuildRecording(plan));
    EXPECT_FALSE(r.Logged("scrambled")) << r.lines.size();
    ASSERT_EQ(r.units.at(0x100).size(), 3u);
    EXPECT_GT(r.units.at(0x100)[0].Size(), 2048000);

    plan.gopLength = 24;
    plan.gops = 2;
    EXPECT_TRUE(DemuxAll(tsb::BuildRecording(plan)).Logged("MPEG video stream seems to be (partly) scrambled!!! PID=0x0100"));
}

}  // namespace
