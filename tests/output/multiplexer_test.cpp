// The program-stream multiplexer on made-up streams: pack layout, the VOBU
// structure, and the decoder's view of the timing (the test-side P-STD model
// finds every unit in time and no buffer overflowing).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "output/nav_pack.h"
#include "output/output_file.h"
#include "output/pack_writer.h"
#include "output/picture_scan.h"
#include "output/ps_multiplexer.h"
#include "support/pstd_checker.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes PesHeader(std::uint8_t id, std::uint64_t pts, std::optional<std::uint64_t> dts = {}) {
    Bytes d = {0, 0, 1, id, 0, 0, 0x81, static_cast<std::uint8_t>(dts ? 0xC0 : 0x80),
               static_cast<std::uint8_t>(dts ? 10 : 5)};
    Bytes stamp(5);
    CPackWriter::WriteStamp(pts & CPackWriter::kClockMask, dts ? 3 : 2, stamp.data());
    d.insert(d.end(), stamp.begin(), stamp.end());
    if (dts) {
        CPackWriter::WriteStamp(*dts & CPackWriter::kClockMask, 1, stamp.data());
        d.insert(d.end(), stamp.begin(), stamp.end());
    }
    return d;
}

struct Pic {
    int tref;
    int type;  // 1 I, 2 P, 3 B
    int size;  // bytes from its start code on
    int structure = 3;  // 1, 2 fields, 3 frame
};

// A video unit as the synchroniser hands it on: sequence header, GOP header
// and pictures after one PES header.
Bytes Gop(std::uint64_t pts, std::optional<std::uint64_t> dts, const std::vector<Pic>& pics,
          int rateCode = 3) {
    Bytes d = PesHeader(0xE0, pts, dts);
    const Bytes seq = {0, 0, 1, 0xB3, 0x2D, 0x02, 0x40, static_cast<std::uint8_t>(0x30 | rateCode),
                       0xFF, 0xFF, 0xE0, 0x18};
    const Bytes gop = {0, 0, 1, 0xB8, 0x00, 0x08, 0x00, 0x00};
    d.insert(d.end(), seq.begin(), seq.end());
    d.insert(d.end(), gop.begin(), gop.end());
    for (const Pic& p : pics) {
        const std::size_t start = d.size();
        const Bytes head = {0, 0, 1, 0, static_cast<std::uint8_t>(p.tref >> 2),
                            static_cast<std::uint8_t>(((p.tref & 3) << 6) | (p.type << 3)), 0xFF, 0xF8,
                            0, 0, 1, 0xB5, 0x8F, 0xFF, static_cast<std::uint8_t>(0xF0 | p.structure),
                            0x80, 0x80};
        d.insert(d.end(), head.begin(), head.end());
        d.resize(start + static_cast<std::size_t>(std::max<int>(p.size, 17)), 0x55);
    }
    return d;
}

// Twelve pictures I B B P B B P B B P B B, open GOP; sizes in bytes.
std::vector<Pic> Pictures12(int i, int p, int b) {
    std::vector<Pic> pics = {{2, 1, i}, {0, 3, b}, {1, 3, b}};
    for (int n = 0; n < 3; ++n) {
        const int anchor = 5 + 3 * n;
        pics.push_back({anchor, 2, p});
        pics.push_back({anchor - 2, 3, b});
        pics.push_back({anchor - 1, 3, b});
    }
    return pics;
}

// An MPEG-1 Layer II frame at 48 kHz (24 ms) of kbits kbit/s.
Bytes Mp2Frame(std::uint64_t pts, int kbits = 192) {
    static constexpr int kIndex[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    int index = 0;
    while (kIndex[index] != kbits) ++index;
    Bytes d = PesHeader(0xC0, pts);
    const std::size_t start = d.size();
    d.push_back(0xFF);
    d.push_back(0xFD);
    d.push_back(static_cast<std::uint8_t>((index << 4) | (1 << 2)));
    d.push_back(0x44);
    d.resize(start + static_cast<std::size_t>(144 * kbits * 1000 / 48000), 0x11);
    return d;
}

// An AC-3 frame at 48 kHz (32 ms); frmsizecod 28: 448 kbit/s, 1792 bytes;
// 36: 640 kbit/s, 2560 bytes; 20: 192 kbit/s, 768 bytes.
Bytes Ac3Frame(std::uint64_t pts, int code = 28) {
    static constexpr int kWords[] = {64,  64,  80,  80,  96,  96,  112, 112, 128, 128, 160, 160, 192,
                                     192, 224, 224, 256, 256, 320, 320, 384, 384, 448, 448, 512, 512,
                                     640, 640, 768, 768, 896, 896, 1024, 1024, 1152, 1152, 1280, 1280};
    Bytes d = PesHeader(0xBD, pts);
    const std::size_t start = d.size();
    const Bytes head = {0x0B, 0x77, 0x12, 0x34, static_cast<std::uint8_t>(code), 0x40};
    d.insert(d.end(), head.begin(), head.end());
    d.resize(start + static_cast<std::size_t>(2 * kWords[code]), 0x22);
    return d;
}

struct Unit {
    CMuxStream* stream;
    Bytes bytes;
    std::uint64_t pts;
};

// Runs the multiplexer on units, in the order given, pumping after each;
// returns the file.
class MuxRun {
public:
    explicit MuxRun(bool ac3MuxRate = false) {
        platform::FileError err;
        EXPECT_TRUE(m_file.Create(m_dir.File("o.mpg"), &err));
        m_mux = std::make_unique<CPsMultiplexer>(m_file, ac3MuxRate);
    }
    CPsMultiplexer& Mux() { return *m_mux; }
    void Queue(CMuxStream& s, Bytes bytes, std::uint64_t pts, bool pump = true) {
        const auto h = static_cast<std::int32_t>(9 + bytes[8]);
        m_mux->Queue(s, std::move(bytes), h, pts);
        if (pump) m_mux->Pump(false);
    }
    Bytes Finish() {
        m_mux->Pump(true);
        m_file.Close();
        return ReadFileBytes(m_dir.File("o.mpg"));
    }

private:
    TempDir m_dir;
    COutputFile m_file;
    std::unique_ptr<CPsMultiplexer> m_mux;
};

// GOPs of 12 pictures (0.48 s) and 24 ms audio frames in time order, the way
// the synchroniser hands them on; the video's DTS three pictures before its PTS.
void FeedAv(MuxRun& run, CMuxStream& video, CMuxStream* audio, int gops,
            const std::function<Bytes(int)>& gop, int audioFrames = -1,
            const std::function<Bytes(std::uint64_t)>& frame = [](std::uint64_t t) { return Mp2Frame(t); },
            std::uint64_t frameTicks = 2160, std::uint64_t base = 900000) {
    if (audioFrames < 0) audioFrames = static_cast<int>(gops * 43200 / frameTicks);
    int a = 0;
    for (int g = 0; g < gops; ++g) {
        const std::uint64_t start = base + g * 43200ull;
        while (audio && a < audioFrames && base + a * frameTicks < start + 43200) {
            run.Queue(*audio, frame(base + a * frameTicks), base + a * frameTicks);
            ++a;
        }
        run.Queue(video, gop(g), start + 7200);
    }
}

TEST(Multiplexer, PiecesOfAGopFillWholePacksAfterItsNavigationPack) {
    MuxRun run;
    CMuxStream& video = run.Mux().AddStream(MuxKind::Video, 0xE0);
    // A 5,000-byte unit with a 14-byte header (one access unit, no pictures).
    Bytes unit = PesHeader(0xE0, 90000);
    unit.resize(5000, 0x55);
    run.Queue(video, unit, 90000);
    const Bytes file = run.Finish();
    ASSERT_EQ(file.size(), 4u * 2048);
    // Pack 0: the navigation pack with the system header.
    EXPECT_EQ(Bytes(file.begin() + 14, file.begin() + 18), (Bytes{0, 0, 1, 0xBB}));
    // Pieces: 2034 bytes (17-byte header: PTS and the P-STD buffer size, then
    // 2017 bytes), 2034 bytes (9 + 2025), and 953 bytes (9 + 944) followed by
    // a 1077-byte padding packet and the program end code.
    const int sizes[3] = {2034, 2034, 953};
    const int headers[3] = {17, 9, 9};
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t* p = file.data() + 2048 * (i + 1);
        EXPECT_EQ(p[13], 0xF8);
        EXPECT_EQ(p[17], 0xE0);
        EXPECT_EQ(6 + ((p[18] << 8) | p[19]), sizes[i]) << i;
        EXPECT_EQ(9 + p[22], headers[i]) << i;
        EXPECT_EQ(p[21], i == 0 ? 0x81 : 0x00) << i;  // PTS and extension only in the first
    }
    const std::uint8_t* last = file.data() + 3 * 2048;
    EXPECT_EQ(last[14 + 953 + 3], 0xBE);
    EXPECT_EQ(6 + ((last[14 + 953 + 4] << 8) | last[14 + 953 + 5]), 1077);
    EXPECT_EQ(Bytes(file.end() - 4, file.end()), (Bytes{0, 0, 1, 0xB9}));
    // The payload is the unit's, in order.
    Bytes payload;
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t* p = file.data() + 2048 * (i + 1) + 14;
        payload.insert(payload.end(), p + headers[i], p + sizes[i]);
    }
    EXPECT_EQ(payload, Bytes(unit.begin() + 14, unit.end()));
    EXPECT_EQ(run.Mux().NavPacks(), 1);
}

TEST(Multiplexer, DecoderFindsEveryUnitInTimeAndNoBufferOverflowing) {
    MuxRun run;
    CMuxStream& video = run.Mux().AddStream(MuxKind::Video, 0xE0);
    CMuxStream& audio = run.Mux().AddStream(MuxKind::MpegAudio, 0xC0);
    CMuxStream& ac3 = run.Mux().AddStream(MuxKind::Ac3, 0xBD, 0x80);
    // About 8 Mbit/s of video: I pictures of 150 kB, far above the average,
    // so the buffer has to be filled ahead of them; two audio streams.
    const auto gop = [](int g) { return Gop(900000 + g * 43200ull + 7200, 900000 + g * 43200ull - 3600, Pictures12(150000, 40000, 20000)); };
    int ac3Frames = 0;
    FeedAv(run, video, &audio, 20, [&](int g) {
        // The AC-3 frames up to this GOP, too.
        while (ac3Frames * 2880ull < (g + 1) * 43200ull) {
            run.Queue(ac3, Ac3Frame(900000 + ac3Frames * 2880ull), 900000 + ac3Frames * 2880ull);
            ++ac3Frames;
        }
        return gop(g);
    });
    const Bytes file = run.Finish();
    const pstd::Report r = pstd::Check(file);
    SCOPED_TRACE(pstd::Describe(r));
    EXPECT_TRUE(r.problems.empty());
    EXPECT_EQ(r.badPacks, 0);
    EXPECT_EQ(r.scrBackwards, 0);
    EXPECT_EQ(r.rateViolations, 0);
    EXPECT_EQ(r.LateUnits(), 0);
    EXPECT_EQ(r.Overflows(), 0);
    EXPECT_LE(r.MaxLead(), 90000);
    EXPECT_EQ(r.firstScr, 0);
    EXPECT_EQ(r.StartDelay(), CPsMultiplexer::kStartDelay);
    EXPECT_TRUE(r.systemHeaderFirst);
    EXPECT_EQ(r.rateBound, 25200u);
    EXPECT_EQ(r.muxRates, std::set<std::uint32_t>{25200});
    EXPECT_TRUE(r.endCode);
    EXPECT_EQ(r.gops, 20);
    EXPECT_EQ(r.navPacks, 20);
    EXPECT_EQ(r.gopsWithoutNav, 0);
    ASSERT_NE(r.Stream(0xE0), nullptr);
    EXPECT_EQ(r.Stream(0xE0)->units, 240);
    EXPECT_EQ(r.Stream(0xE0)->bufferSize, 232 * 1024);
    // The buffer is used: filled ahead of the large pictures.
    EXPECT_GT(r.Stream(0xE0)->peak, 200000);
    ASSERT_NE(r.Stream(0xC0), nullptr);
    EXPECT_EQ(r.Stream(0xC0)->units, 400);
    EXPECT_EQ(r.Stream(0xC0)->bufferSize, 4096);
    ASSERT_NE(r.Stream(0xBD, 0x80), nullptr);
    EXPECT_EQ(r.Stream(0xBD, 0x80)->units, 300);
    EXPECT_EQ(run.Mux().LateUnits(), 0);
}

TEST(Multiplexer, StreamsBeyondTheMuxRateAreWrittenCompletelyAndReportedLate) {
    MuxRun run;
    CMuxStream& video = run.Mux().AddStream(MuxKind::Video, 0xE0);
    // 15 Mbit/s: more than a DVD carries.
    FeedAv(run, video, nullptr, 6, [](int g) {
        return Gop(900000 + g * 43200ull + 7200, {}, Pictures12(90000, 90000, 90000));
    });
    const Bytes file = run.Finish();
    const pstd::Report r = pstd::Check(file);
    EXPECT_GT(r.LateUnits(), 0);
    EXPECT_EQ(r.LateUnits(), run.Mux().LateUnits());
    EXPECT_EQ(r.Stream(0xE0)->units, 72);
    EXPECT_EQ(r.Stream(0xE0)->bytes, 72 * 90000 + 6 * 20);
    EXPECT_EQ(r.scrBackwards + r.rateViolations + r.Overflows(), 0);
}

// The audio ends 16 s before the video, and the demultiplexer hands its last
// frame on only at the end of the recording: the video is held back for it
// instead of that frame reaching the decoder 16 s late.
TEST(Multiplexer, AStreamThatEndsEarlyHoldsTheOthersBackUntilItsLastUnit) {
    MuxRun run;
    CMuxStream& video = run.Mux().AddStream(MuxKind::Video, 0xE0);
    CMuxStream& audio = run.Mux().AddStream(MuxKind::MpegAudio, 0xC0);
    const int gops = 60;  // 28.8 s
    const int frames = (gops * 43200 - 16 * 90000) / 2160;
    const auto gop = [](int g) { return Gop(900000 + g * 43200ull + 7200, {}, Pictures12(20000, 6000, 3000)); };
    FeedAv(run, video, &audio, gops, gop, frames - 1);
    const std::int64_t before = run.Mux().Packs();
    const std::uint64_t last = 900000 + (frames - 1) * 2160ull;
    run.Queue(audio, Mp2Frame(last), last, false);
    const Bytes file = run.Finish();
    // Nothing was written for a time after that frame's before it came.
    ASSERT_GT(before, 0);
    const std::uint64_t origin = 900000 - 3600 - CPsMultiplexer::kStartDelay;  // first DTS - delay
    EXPECT_LT(CPackWriter::ReadScr(file.data() + (before - 1) * 2048 + 4), last - origin);
    const pstd::Report r = pstd::Check(file);
    SCOPED_TRACE(pstd::Describe(r));
    EXPECT_EQ(r.LateUnits(), 0);
    EXPECT_EQ(r.scrBackwards, 0);
    EXPECT_EQ(r.Stream(0xC0)->units, frames);
    EXPECT_EQ(r.Stream(0xE0)->units, gops * 12);
}

// A stream that never sends anything does not hold the others back for good.
TEST(Multiplexer, AStreamThatNeverStartsHoldsBackOnlyUntilTheStartLimit) {
    MuxRun run;
    CMuxStream& video = run.Mux().AddStream(MuxKind::Video, 0xE0);
    run.Mux().AddStream(MuxKind::MpegAudio, 0xC0);
    FeedAv(run, video, nullptr, 2, [](int g) { return Gop(900000 + g * 43200ull + 7200, {}, Pictures12(20000, 6000, 3000)); });
    EXPECT_EQ(run.Mux().Packs(), 0);
    FeedAv(run, video, nullptr, 110, [](int g) { return Gop(900000 + g * 43200ull + 7200, {}, Pictures12(60000, 30000, 20000)); });
    EXPECT_GT(run.Mux().Packs(), 0);
    run.Finish();
}

TEST(Multiplexer, Ac3MuxRateHoldsFromTheFirstAc3PackWhileTheStreamsFitIntoIt) {
    struct Case {
        bool ac3Switch;
        int iSize;
        bool expectLow;
    };
    // 1.3 Mbit/s of video fits into the AC-3 rate; 8 Mbit/s does not; a VOB never switches.
    for (const Case c : {Case{true, 20000, true}, Case{true, 150000, false}, Case{false, 20000, false}}) {
        SCOPED_TRACE(c.iSize);
        MuxRun run(c.ac3Switch);
        CMuxStream& video = run.Mux().AddStream(MuxKind::Video, 0xE0);
        CMuxStream& ac3 = run.Mux().AddStream(MuxKind::Ac3, 0xBD, 0x80);
        const int p = c.iSize / 4, b = c.iSize / 8;
        FeedAv(
            run, video, &ac3, 25,
            [&](int g) { return Gop(900000 + g * 43200ull + 7200, {}, Pictures12(c.iSize, p, b)); }, -1,
            [](std::uint64_t t) { return Ac3Frame(t); }, 2880);
        const Bytes file = run.Finish();
        const pstd::Report r = pstd::Check(file);
        SCOPED_TRACE(pstd::Describe(r));
        EXPECT_EQ(r.LateUnits(), 0);
        EXPECT_EQ(r.rateViolations, 0);
        EXPECT_EQ(r.rateBound, 25200u);
        EXPECT_EQ(r.muxRates.count(10750) == 1, run.Mux().Ac3RateUsed());
        if (c.expectLow) {
            // 25200 until the first AC-3 pack, 10750 from it on.
            std::size_t firstAc3 = 0;
            for (std::size_t at = 0; at < file.size(); at += 2048)
                if (file[at + 17] == 0xBD) {
                    firstAc3 = at / 2048;
                    break;
                }
            ASSERT_GT(firstAc3, 0u);
            for (std::size_t i = 0; i < r.packRates.size(); ++i)
                ASSERT_EQ(r.packRates[i], i < firstAc3 ? 25200u : 10750u) << i;
            EXPECT_TRUE(run.Mux().Ac3RateUsed());
            EXPECT_FALSE(run.Mux().Ac3RateGivenUp());
        } else if (c.ac3Switch) {
            EXPECT_TRUE(run.Mux().Ac3RateGivenUp());
            EXPECT_EQ(r.packRates.back(), 25200u);
        } else {
            EXPECT_FALSE(run.Mux().Ac3RateUsed());
            EXPECT_EQ(r.muxRates, std::set<std::uint32_t>{25200});
        }
    }
}

// AC-3 packets hold whole frames after the sub-stream header (id, frames
// that begin, pointer to the first); a frame larger than a packet goes on
// in packets of its own without a frame start.
TEST(Multiplexer, Ac3PacketsHoldWholeFramesBehindTheSubStreamHeader) {
    for (int code : {20, 28, 36}) {
        SCOPED_TRACE(code);
        MuxRun run;
        CMuxStream& ac3 = run.Mux().AddStream(MuxKind::Ac3, 0xBD, 0x81);
        for (int i = 0; i < 40; ++i) run.Queue(ac3, Ac3Frame(90000 + i * 2880ull, code), 90000 + i * 2880ull);
        const Bytes file = run.Finish();
        const pstd::Report r = pstd::Check(file);
        SCOPED_TRACE(pstd::Describe(r));
        EXPECT_TRUE(r.problems.empty());  // frame counts and pointers match
        EXPECT_EQ(r.Stream(0xBD, 0x81)->units, 40);
        const int frames = code == 20 ? 2 : 1;  // whole frames per packet
        EXPECT_EQ(r.Stream(0xBD, 0x81)->stamped, 40 / frames);
        EXPECT_EQ(r.LateUnits(), 0);
        // The first data pack (after the navigation pack).
        const std::uint8_t* p = file.data() + 2048 + 14 + (file[2048 + 13] & 7);
        EXPECT_EQ(p[3], 0xBD);
        EXPECT_EQ(p[7], 0x81);  // PTS and the P-STD extension, as in every AC-3 packet
        const std::uint8_t* sub = p + 9 + p[8];
        EXPECT_EQ(Bytes(sub, sub + 4), (Bytes{0x81, static_cast<std::uint8_t>(frames), 0, 1}));
        if (code == 36) {
            const std::uint8_t* q = file.data() + 2 * 2048 + 14 + (file[2 * 2048 + 13] & 7);
            EXPECT_EQ(q[7], 0x01);  // no PTS: the rest of the frame
            const std::uint8_t* sub2 = q + 9 + q[8];
            EXPECT_EQ(Bytes(sub2, sub2 + 4), (Bytes{0x81, 0, 0, 0}));
        }
    }
}

// A frame whose time does not follow on from the one before begins a packet
// of its own, so that the decoder reads its time instead of inferring it.
TEST(Multiplexer, AudioAfterAGapBeginsAPacketWithItsOwnTimeStamp) {
    MuxRun run;
    CMuxStream& audio = run.Mux().AddStream(MuxKind::MpegAudio, 0xC0);
    std::vector<std::uint64_t> times;
    for (int i = 0; i < 10; ++i) times.push_back(90000 + i * 2160ull);
    for (int i = 0; i < 10; ++i) times.push_back(90000 + 30000 + i * 2160ull);
    for (std::uint64_t t : times) run.Queue(audio, Mp2Frame(t), t);
    const Bytes file = run.Finish();
    std::vector<std::uint64_t> stamps;
    for (std::size_t at = 2048; at < file.size(); at += 2048) {
        const std::uint8_t* p = file.data() + at + 14 + (file[at + 13] & 7);
        if (p[3] == 0xC0 && (p[7] & 0x80)) stamps.push_back(CPackWriter::ReadStamp(p + 9));
    }
    const auto origin = static_cast<std::uint64_t>(90000 - CPsMultiplexer::kStartDelay);
    EXPECT_NE(std::find(stamps.begin(), stamps.end(), 90000 + 30000 - origin), stamps.end());
    const pstd::Report r = pstd::Check(file);
    EXPECT_EQ(r.LateUnits(), 0);
    EXPECT_EQ(r.Stream(0xC0)->units, 20);
    EXPECT_EQ(r.Stream(0xC0)->stamped, static_cast<int>(stamps.size()));
}

// 48 kbit/s frames of 144 bytes: a packet holds 0.3 s of them, so a packet
// waits until its last frame, not only its first, is due within the lead.
TEST(Multiplexer, NoUnitEntersItsBufferMoreThanTheLeadBeforeItsTime) {
    MuxRun run;
    CMuxStream& audio = run.Mux().AddStream(MuxKind::MpegAudio, 0xC0);
    for (int i = 0; i < 200; ++i) run.Queue(audio, Mp2Frame(90000 + i * 2160ull, 48), 90000 + i * 2160ull);
    const pstd::Report r = pstd::Check(run.Finish());
    SCOPED_TRACE(pstd::Describe(r));
    EXPECT_EQ(r.Stream(0xC0)->units, 200);
    EXPECT_LE(r.Stream(0xC0)->maxLead, CPsMultiplexer::kMaxLead);
    EXPECT_GT(r.Stream(0xC0)->maxLead, CPsMultiplexer::kMaxLead - 3000);
    EXPECT_EQ(r.LateUnits(), 0);
}

TEST(Multiplexer, TimeStampsAcrossTheClockWrapKeepTheirOrder) {
    MuxRun run;
    CMuxStream& video = run.Mux().AddStream(MuxKind::Video, 0xE0);
    CMuxStream& audio = run.Mux().AddStream(MuxKind::MpegAudio, 0xC0);
    const std::uint64_t base = (1ull << 33) - 3 * 43200;
    FeedAv(
        run, video, &audio, 8,
        [&](int g) { return Gop(base + g * 43200ull + 7200, {}, Pictures12(30000, 10000, 5000)); }, -1,
        [](std::uint64_t t) { return Mp2Frame(t); }, 2160, base);
    const Bytes file = run.Finish();
    const pstd::Report r = pstd::Check(file);
    SCOPED_TRACE(pstd::Describe(r));
    EXPECT_EQ(r.LateUnits(), 0);
    EXPECT_EQ(r.scrBackwards, 0);
    EXPECT_EQ(r.Stream(0xE0)->units, 96);
    EXPECT_EQ(r.StartDelay(), CPsMultiplexer::kStartDelay);
}

// Field pictures: two per frame, each half a frame period apart in decoding
// time; frame rate from the sequence header (29.97 Hz here).
TEST(Multiplexer, FieldPicturesAndOtherFrameRatesKeepTheDecodingTimes) {
    MuxRun run;
    CMuxStream& video = run.Mux().AddStream(MuxKind::Video, 0xE0);
    std::vector<Pic> fields;
    for (const Pic& p : Pictures12(60000, 30000, 20000)) {
        fields.push_back({p.tref, p.type, p.size / 2, 1});
        fields.push_back({p.tref, p.type, p.size / 2, 2});
    }
    for (int g = 0; g < 10; ++g) run.Queue(video, Gop(900000 + g * 36036ull + 6006, {}, fields, 4), 900000 + g * 36036ull + 6006);
    const Bytes file = run.Finish();
    const pstd::Report r = pstd::Check(file);
    SCOPED_TRACE(pstd::Describe(r));
    EXPECT_EQ(r.Stream(0xE0)->units, 240);
    EXPECT_EQ(r.LateUnits(), 0);
    EXPECT_EQ(r.Overflows(), 0);
}

TEST(Multiplexer, DamagedUnitsAreLeftOut) {
    MuxRun run;
    CMuxStream& audio = run.Mux().AddStream(MuxKind::MpegAudio, 0xC0);
    Bytes noStart = Mp2Frame(90000);
    noStart[2] = 0;
    EXPECT_FALSE(run.Mux().Queue(audio, std::move(noStart), 14, 90000));
    EXPECT_FALSE(run.Mux().Queue(audio, Mp2Frame(90000), 600, 90000));  // header beyond the unit
    EXPECT_FALSE(run.Mux().Queue(audio, PesHeader(0xC0, 90000), 14, 90000));  // no payload
    EXPECT_TRUE(run.Finish().empty());
}

TEST(PictureScan, AccessUnitsBeginAtTheirHeadersAndKnowTheirFields) {
    const Bytes gop = Gop(0, {}, {{2, 1, 100}, {0, 3, 50, 1}, {0, 3, 50, 2}});
    const std::uint8_t* es = gop.data() + 14;
    const std::size_t n = gop.size() - 14;
    const std::vector<sPictureInfo> pics = CPictureScan::Pictures(es, n);
    ASSERT_EQ(pics.size(), 3u);
    EXPECT_EQ(pics[0].offset, 0);  // with the sequence and GOP headers
    EXPECT_EQ(pics[1].offset, 20 + 100);
    EXPECT_EQ(pics[2].offset, 20 + 150);
    EXPECT_EQ(pics[0].tref, 2);
    EXPECT_EQ(pics[0].type, 1);
    EXPECT_FALSE(pics[0].field);
    EXPECT_EQ(pics[1].type, 3);
    EXPECT_TRUE(pics[1].field);
    EXPECT_TRUE(pics[2].field);
    std::int64_t num = 0, den = 0;
    ASSERT_TRUE(CPictureScan::FramePeriod(es, n, num, den));
    EXPECT_EQ(num / den, 3600);
    // Bytes without any picture give one unit; a truncated header no rate.
    EXPECT_EQ(CPictureScan::Pictures(es, 10).size(), 1u);
    EXPECT_FALSE(CPictureScan::FramePeriod(es, 7, num, den));
    const Bytes codes = {9, 0, 0, 1, 0xB3, 0, 0, 0, 1};
    EXPECT_EQ(CPictureScan::NextStartCode(codes.data(), codes.size(), 0), 1u);
    EXPECT_EQ(CPictureScan::NextStartCode(codes.data(), codes.size(), 2), codes.size());
}

TEST(NavPack, SystemHeaderPciAndDsiFillOnePack) {
    TempDir dir;
    COutputFile f;
    platform::FileError err;
    ASSERT_TRUE(f.Create(dir.File("n.vob"), &err));
    CNavPack::sInfo info;
    info.scr = 123456;
    info.muxRate = CPackWriter::kMuxRate;
    info.sector = 77;
    info.startPtm = 45000;
    info.endPtm = 88200;
    info.audioStreams = 3;
    info.videoStreams = 1;
    ASSERT_TRUE(CNavPack::Write(f, info));
    f.Close();
    const Bytes p = ReadFileBytes(dir.File("n.vob"));
    ASSERT_EQ(p.size(), 2048u);
    EXPECT_EQ(CPackWriter::ReadScr(p.data() + 4), 123456u);
    EXPECT_EQ(p[13], 0xF8);
    EXPECT_EQ(Bytes(p.begin() + 14, p.begin() + 38),
              (Bytes{0, 0, 1, 0xBB, 0, 18, 0x80, 0xC4, 0xE1, 0x0C, 0xE1, 0x7F, 0xB9, 0xE0, 0xE8,
                     0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02}));
    EXPECT_EQ(Bytes(p.begin() + 38, p.begin() + 45), (Bytes{0, 0, 1, 0xBF, 0x03, 0xD4, 0x00}));
    EXPECT_EQ(Bytes(p.begin() + 1024, p.begin() + 1031), (Bytes{0, 0, 1, 0xBF, 0x03, 0xFA, 0x01}));
    // PCI: sector, start and end of the pictures shown; DSI: SCR and sector.
    EXPECT_EQ(Bytes(p.begin() + 45, p.begin() + 49), (Bytes{0, 0, 0, 77}));
    EXPECT_EQ(Bytes(p.begin() + 57, p.begin() + 65), (Bytes{0, 0, 0xAF, 0xC8, 0, 1, 0x58, 0x88}));
    EXPECT_EQ(Bytes(p.begin() + 1031, p.begin() + 1039), (Bytes{0, 1, 0xE2, 0x40, 0, 0, 0, 77}));
}

}  // namespace
