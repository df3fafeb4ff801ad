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

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
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
    ASSERT_EQ(s.streams.size(), 5u);
    EXPECT_EQ(byPid(s.streams, 0x102)->language, "eng");
    EXPECT_EQ(byPid(s.streams, 0x103)->streamType, kStreamAC3);
    // Teletext is listed (its PES packets confirm it) as type 5.
    ASSERT_NE(byPid(s.streams, 0x105), nullptr);
    EXPECT_EQ(byPid(s.streams, 0x105)->streamType, kStreamPrivateOther);
    EXPECT_EQ(byPid(s.streams, 0x105)->codec, StreamCodec::Teletext);
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

TEST(StreamScan, IgnoresNotCurrentPmts) {
    tsb::RecordingPlan plan;
    plan.withPmt = false;
    Bytes data = tsb::BuildRecording(plan);
    tsb::TsBuilder b;
    b.Section(0x1000, tsb::PmtSection(1, 0x100,
                                      {{2, 0x100, {}}, {3, 0x101, tsb::LanguageDescriptor("fra")}},
                                      0, false));
    data.insert(data.begin(), b.Data().begin(), b.Data().end());
    const Scan s = scan(data);
    EXPECT_EQ(s.pmt, 0);
    ASSERT_EQ(s.streams.size(), 2u);
    EXPECT_EQ(byPid(s.streams, 0x101)->language, "std");
}

// A PMT with many streams (audio in several languages, a subtitle stream per
// language) is longer than one packet.
std::vector<tsb::PmtStream> manyStreams() {
    std::vector<tsb::PmtStream> streams = {{2, 0x100, {}},
                                           {3, 0x101, tsb::LanguageDescriptor("ita")}};
    for (int i = 0; i < 30; ++i)
        streams.push_back({6, 0x200 + i, tsb::SubtitlingDescriptor("eng")});
    return streams;
}

TEST(StreamScan, GathersPmtsThatSpanPackets) {
    tsb::RecordingPlan plan;
    plan.withPmt = false;
    const Bytes recording = tsb::BuildRecording(plan);
    tsb::TsBuilder b;
    b.Section(0x1001, tsb::PmtSection(2, 0x100, manyStreams()));
    ASSERT_GT(b.PacketCount(), 1u);
    Bytes data = b.Data();
    data.insert(data.end(), recording.begin(), recording.end());
    const Scan s = scan(data);
    EXPECT_EQ(s.pmt, 0x1001);
    EXPECT_EQ(s.audio, 0x101);
    // The subtitle streams carry no PES in the sample: they go.
    ASSERT_EQ(s.streams.size(), 2u);
    EXPECT_EQ(byPid(s.streams, 0x101)->language, "ita");
}

TEST(StreamScan, APmtMissingAPacketWaitsForTheNextRepetition) {
    tsb::RecordingPlan plan;
    plan.withPmt = false;
    const Bytes recording = tsb::BuildRecording(plan);
    tsb::TsBuilder first;
    first.Section(0x1001, tsb::PmtSection(2, 0x100, manyStreams(), 0));
    Bytes data(first.Data().begin(), first.Data().begin() + 188);  // its second packet is lost
    // Another PID's packets between the parts of a section do no harm.
    tsb::TsBuilder second;
    second.SetCc(0x1001, 2);
    second.Section(
        0x1001,
        tsb::PmtSection(2, 0x100, {{2, 0x100, {}}, {3, 0x101, tsb::LanguageDescriptor("fra")}}, 1));
    tsb::TsBuilder third;
    third.SetCc(0x1001, 3);
    third.Section(0x1001, tsb::PmtSection(2, 0x100, manyStreams(), 2));
    data.insert(data.end(), third.Data().begin(), third.Data().begin() + 188);
    data.insert(data.end(), recording.begin(), recording.begin() + 188 * 3);
    data.insert(data.end(), third.Data().begin() + 188, third.Data().end());
    data.insert(data.end(), recording.begin() + 188 * 3, recording.end());
    const Scan s = scan(data);
    EXPECT_EQ(s.pmt, 0x1001);
    EXPECT_EQ(byPid(s.streams, 0x101)->language, "ita");  // the third section, whole
}

// An H.264 access unit's first bytes: delimiter, then a High profile SPS.
Bytes h264Start(std::size_t filler) {
    Bytes es = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x00, 0x01, 0x67, 100, 0x00, 0x28};
    es.resize(es.size() + filler, 0x55);
    return es;
}

// Pictures of one video stream in their own PES packets, 40 ms apart.
Bytes videoPictures(int pid, const Bytes& picture, int count) {
    tsb::TsBuilder b;
    for (int i = 0; i < count; ++i)
        b.Unit(pid, tsb::PesPacket(0xE0, 900000 + i * tsb::kPictureTicks, std::nullopt, picture));
    return b.Data();
}

TEST(StreamScan, HdStreamsAreListedAndTheBitRateMayExceedSdRates) {
    tsb::TsBuilder b;
    b.Section(0x1000,
              tsb::PmtSection(1, 0x100,
                              {{0x1B, 0x100, {}},
                               {0x0F, 0x101, tsb::LanguageDescriptor("deu")},
                               {6, 0x102, cat(tsb::LanguageDescriptor("eng"), {0x7A, 0x01, 0x00})},
                               {6, 0x103, tsb::SubtitlingDescriptor("deu")}}));
    b.Unit(0x101, tsb::PesPacket(0xC0, 900000, std::nullopt, {0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F}));
    b.Unit(0x102, tsb::PesPacket(0xBD, 900000, std::nullopt, {0x0B, 0x77, 0x01, 0xBF, 0x34, 0x86}));
    b.Unit(0x103, tsb::PesPacket(0xBD, 900000, std::nullopt, {0x20, 0x00, 0x0F}));
    Bytes data = b.Data();
    // 60 KB pictures at 25 per second: 12 Mbit/s.
    const Bytes video = videoPictures(0x100, h264Start(60000), 40);
    data.insert(data.end(), video.begin(), video.end());
    const Scan s = scan(data);
    EXPECT_EQ(s.video, 0x100);
    EXPECT_EQ(s.audio, 0);  // no MPEG audio
    EXPECT_EQ(s.ac3, 0);    // E-AC-3 is no AC-3 for the jobs
    ASSERT_EQ(s.streams.size(), 4u);
    EXPECT_EQ(byPid(s.streams, 0x100)->codec, StreamCodec::H264);
    EXPECT_EQ(byPid(s.streams, 0x102)->codec, StreamCodec::Eac3);
    EXPECT_EQ(byPid(s.streams, 0x103)->codec, StreamCodec::DvbSubtitle);
    // The sample (its first 2 MiB) holds about 34 pictures.
    const double expected = 60000.0 * 8 / 40.0;
    EXPECT_NEAR(EstimatedBitRate(), expected, expected * 0.05);
    EXPECT_EQ(EstimateBitRate(0, 900000, 0, 20000000, 80000), 16000);
    EXPECT_EQ(EstimateBitRate(0, 90000, 0, 20000000, 80000), 80000);  // 160 Mbit/s limited

    // None of them gets a channel.
    OpenedRecording rec(data);
    CMpegTsDemux demux;
    std::uint16_t pmt = 0, videoPid = 0, audioPid = 0, ac3 = 0;
    ASSERT_TRUE(demux.Init(rec.file, pmt, videoPid, audioPid, ac3));
    EXPECT_EQ(demux.Channels().Count(), 0);
}

TEST(StreamScan, CodecsOfStreamsFoundWithoutAPmt) {
    tsb::TsBuilder b;
    const Bytes hevcAud = {0x00, 0x00, 0x00, 0x01, 0x46, 0x01, 0x10, 0x00, 0x00, 0x01, 0x40, 0x01};
    const Bytes mpeg2 = tsb::SequenceHeader(720, 576, 2);
    b.Unit(0x100, tsb::PesPacket(0xE0, 900000, std::nullopt, h264Start(100)));
    b.Unit(0x110, tsb::PesPacket(0xE1, 900000, std::nullopt, hevcAud));
    b.Unit(0x120, tsb::PesPacket(0xE2, 900000, std::nullopt, mpeg2));
    b.Unit(0x101, tsb::PesPacket(0xC0, 900000, std::nullopt, {0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F}));
    b.Unit(0x102, tsb::PesPacket(0xC1, 900000, std::nullopt, {0x56, 0xE1, 0x5B, 0x20, 0x00}));
    b.Unit(0x103, tsb::PesPacket(0xC2, 900000, std::nullopt, tsb::MpegAudioFrame()));
    b.Unit(0x104, tsb::PesPacket(0xBD, 900000, std::nullopt, {0x0B, 0x77, 0x01, 0xBF, 0x34, 0x86}));
    b.Unit(0x105, tsb::PesPacket(0xBD, 900000, std::nullopt, tsb::Ac3Frame()));
    const Scan s = scan(b.Data());
    ASSERT_EQ(s.streams.size(), 8u);
    EXPECT_EQ(byPid(s.streams, 0x100)->streamType, kStreamH264);
    EXPECT_EQ(byPid(s.streams, 0x110)->streamType, kStreamHevc);
    EXPECT_EQ(byPid(s.streams, 0x120)->streamType, kStreamVideo);
    EXPECT_EQ(byPid(s.streams, 0x101)->streamType, kStreamAacAdts);
    EXPECT_EQ(byPid(s.streams, 0x102)->streamType, kStreamAacLatm);
    EXPECT_EQ(byPid(s.streams, 0x103)->streamType, kStreamMpeg2Audio);
    EXPECT_EQ(byPid(s.streams, 0x104)->streamType, kStreamEac3);
    EXPECT_EQ(byPid(s.streams, 0x105)->streamType, kStreamAC3);
    EXPECT_EQ(byPid(s.streams, 0x105)->codec, StreamCodec::Ac3);
    // The engine's PIDs name only what the jobs take.
    EXPECT_EQ(s.audio, 0x103);
    EXPECT_EQ(s.ac3, 0x105);
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
