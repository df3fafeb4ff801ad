#include <gtest/gtest.h>

#include <algorithm>

#include "demux/mpeg_ts_demux.h"
#include "demux_test_util.h"
#include "output/channel_set.h"

using tsb::Bytes;

namespace {

struct Scan {
    std::uint16_t pmt = 0, video = 0, audio = 0, ac3 = 0;
    CPMT streams;
};

Scan scan(const Bytes& data, std::uint16_t audioStart = 0) {
    OpenedRecording rec(data);
    CMpegTsDemux demux;
    Scan s;
    s.audio = audioStart;
    demux.ScanStreams(rec.file, s.pmt, s.video, s.audio, s.ac3);
    s.streams = demux.Streams();
    return s;
}

const sPMTEntry* byPid(const CPMT& pmt, int pid) {
    auto it =
        std::find_if(pmt.begin(), pmt.end(), [&](const sPMTEntry& e) { return e.pid == pid; });
    return it == pmt.end() ? nullptr : &*it;
}

tsb::RecordingPlan fullSpec() {
    tsb::RecordingPlan plan;
    plan.audio = {{0x101, false, "deu", 0}, {0x102, false, "eng", 0}, {0x103, true, "deu", 0}};
    plan.teletext = true;
    return plan;
}

TEST(StreamScan, TakesThePmtAndTheFirstMpegAudio) {
    const Scan s = scan(tsb::BuildRecording(fullSpec()));
    EXPECT_EQ(s.pmt, 0x1000);
    EXPECT_EQ(s.video, 0x100);
    EXPECT_EQ(s.audio, 0x101);
    EXPECT_EQ(s.ac3, 0x103);
    ASSERT_EQ(s.streams.size(), 4u);  // teletext becomes type 5 and is left out
    EXPECT_EQ(byPid(s.streams, 0x102)->language, "eng");
    EXPECT_EQ(byPid(s.streams, 0x103)->streamType, kStreamAC3);
    EXPECT_EQ(byPid(s.streams, 0x105), nullptr);
}

TEST(StreamScan, CallersAudioPidStaysWithAPmt) {
    const Scan s = scan(tsb::BuildRecording(fullSpec()), 0x102);
    EXPECT_EQ(s.audio, 0x102);
}

TEST(StreamScan, RemovesPmtStreamsWithoutPesInTheSample) {
    tsb::RecordingPlan plan;
    plan.audio = {{0x101, false, "deu", 0}};
    Bytes data = tsb::BuildRecording(plan);
    // A PMT that also lists 0x1F0, which carries nothing, goes first.
    tsb::TsBuilder b;
    b.Section(0x1000, tsb::PmtSection(1, 0x100, {{2, 0x100, {}}, {3, 0x1F0, {}}, {3, 0x101, {}}}));
    data.insert(data.begin(), b.Data().begin(), b.Data().end());
    const Scan s = scan(data);
    ASSERT_EQ(s.streams.size(), 2u);
    EXPECT_EQ(byPid(s.streams, 0x1F0), nullptr);
    EXPECT_EQ(s.audio, 0x101);  // not the removed stream
}

TEST(StreamScan, FallsBackToPesStreamsWhenNoPmtStreamIsPresent) {
    tsb::RecordingPlan plan;
    plan.withPmt = false;
    plan.audio = {{0x101, false, "deu", 0}, {0x103, true, "deu", 0}};
    Bytes data = tsb::BuildRecording(plan);
    tsb::TsBuilder b;
    b.Section(0x1000, tsb::PmtSection(1, 0x300, {{2, 0x300, {}}, {3, 0x301, {}}}));
    data.insert(data.begin(), b.Data().begin(), b.Data().end());
    const Scan s = scan(data);
    ASSERT_EQ(s.streams.size(), 3u);
    EXPECT_EQ(s.video, 0x100);
    EXPECT_EQ(s.audio, 0x101);
    EXPECT_EQ(s.ac3, 0x103);
    EXPECT_EQ(byPid(s.streams, 0x100)->language, "");
    EXPECT_EQ(byPid(s.streams, 0x101)->streamType, kStreamMpeg2Audio);
    EXPECT_EQ(byPid(s.streams, 0x101)->language, "std");
    EXPECT_EQ(byPid(s.streams, 0x103)->streamType, kStreamAC3);
}

TEST(StreamScan, IgnoresNotCurrentAndMultiPacketPmts) {
    tsb::RecordingPlan plan;
    plan.withPmt = false;
    Bytes data = tsb::BuildRecording(plan);
    tsb::TsBuilder b;
    b.Section(0x1000, tsb::PmtSection(1, 0x100,
                                      {{2, 0x100, {}}, {3, 0x101, tsb::LanguageDescriptor("fra")}},
                                      0, false));
    std::vector<tsb::PmtStream> many;
    for (int i = 0; i < 40; ++i)
        many.push_back({3, 0x101, tsb::LanguageDescriptor("ita")});
    b.Section(0x1001, tsb::PmtSection(2, 0x100, many));  // spans two packets
    data.insert(data.begin(), b.Data().begin(), b.Data().end());
    const Scan s = scan(data);
    EXPECT_EQ(s.pmt, 0);
    ASSERT_EQ(s.streams.size(), 2u);
    EXPECT_EQ(byPid(s.streams, 0x101)->language, "std");
}

TEST(StreamScan, EmptyOrForeignDataGivesNoStreams) {
    EXPECT_TRUE(scan({}).streams.empty());
    EXPECT_TRUE(scan(Bytes(100000, 0x47)).streams.empty());
    // Tables only: a start code inside the PAT/SDT PIDs is no stream.
    tsb::TsBuilder b;
    for (int i = 0; i < 50; ++i)
        b.Packet(0x11, {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x80, 0x05});
    EXPECT_TRUE(scan(b.Data()).streams.empty());
}

TEST(StreamScan, BitRateFromTheSample) {
    tsb::RecordingPlan plan;
    plan.gops = 6;
    const Bytes data = tsb::BuildRecording(plan);
    scan(data);
    // About (bytes * 8) / (pictures * 40 ms), within the clamp.
    const double expected =
        static_cast<double>(data.size()) * 8.0 / (plan.gops * plan.gopLength * 40.0);
    EXPECT_NEAR(EstimatedBitRate(), std::clamp(expected, 2000.0, 8000.0), expected * 0.05 + 1);
    tsb::RecordingPlan still = plan;
    still.gops = 1;
    still.gopLength = 1;  // one picture: no time passes
    still.audio.clear();
    scan(tsb::BuildRecording(still));
    EXPECT_EQ(EstimatedBitRate(), 4000);
}

TEST(StreamScan, SamplesNearTheEndOfLongRecordings) {
    tsb::RecordingPlan head;
    head.withPmt = false;
    head.audio = {};
    head.gops = 100;  // well past 4 MiB
    head.pictureBytes = 5000;
    Bytes data = tsb::BuildRecording(head);
    ASSERT_GT(data.size(), 6u << 20);
    // An audio stream that lasts 230 KB about 3.7 MiB before the end: the
    // second part of the sample starts 4 MiB before the end.
    tsb::RecordingPlan tail;
    tail.withPmt = false;
    tail.videoPid = 0;
    tail.audio = {{0x1A0, false, "deu", 0}};
    tail.gops = 20;
    const Bytes late = tsb::BuildRecording(tail);
    data.insert(data.begin() + static_cast<std::ptrdiff_t>(data.size() - 3700 * 1024 / 188 * 188),
                late.begin(), late.end());
    const Scan s = scan(data);
    EXPECT_NE(byPid(s.streams, 0x100), nullptr);
    EXPECT_NE(byPid(s.streams, 0x1A0), nullptr);
    EXPECT_EQ(s.audio, 0x1A0);
    // The same stream only in the middle is outside the sample.
    Bytes middle = tsb::BuildRecording(head);
    middle.insert(middle.begin() + 12000 * 188, late.begin(), late.end());
    middle.insert(middle.end(), data.begin(), data.begin() + 3000000);
    EXPECT_EQ(byPid(scan(middle).streams, 0x1A0), nullptr);
}

TEST(StreamScan, InitCreatesOneChannelPerStreamAndRewinds) {
    OpenedRecording rec(tsb::BuildRecording(fullSpec()));
    CMpegTsDemux demux;
    std::uint16_t pmt = 0, video = 0, audio = 0, ac3 = 0;
    ASSERT_TRUE(demux.Init(rec.file, pmt, video, audio, ac3));
    EXPECT_EQ(rec.file.GetPosition(), 0u);
    EXPECT_EQ(demux.Channels().Count(), 4);
    EXPECT_EQ(demux.Channels().m_videoPid, 0x100);
    ASSERT_NE(demux.Channels().Lookup(0x103), nullptr);
    EXPECT_EQ(demux.Channels().Lookup(0x105), nullptr);
}

}  // namespace

namespace {

TEST(StreamScan, CutAreaLookupUsesTheVideoChannelsFirstStamp) {
    OpenedRecording rec(tsb::BuildRecording(fullSpec()));
    CMpegTsDemux demux;
    std::uint16_t pmt = 0, video = 0, audio = 0, ac3 = 0;
    CCutArea area;
    area.SectorStart = 1;
    area.SectorEnd = 2;
    area.PTSStart = (std::int64_t{1} << 33) + 100;
    area.PTSEnd = (std::int64_t{1} << 33) + 200;
    area.IsEnabled = true;
    demux.SetCutList({area});
    EXPECT_EQ(demux.FindCutArea(150), nullptr);  // no channels yet
    ASSERT_TRUE(demux.Init(rec.file, pmt, video, audio, ac3));
    demux.Channels().m_videoChannel->m_startPTS = (std::uint64_t{1} << 33) - 1000;
    EXPECT_EQ(demux.FindCutArea(150), &demux.CutList()[0]);  // wrapped since the start
    demux.Channels().m_videoChannel->m_startPTS = 100;
    EXPECT_EQ(demux.FindCutArea(150), nullptr);
}

}  // namespace
