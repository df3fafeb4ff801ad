// The parts of the cut engine on exact, hand-made packets: start codes in the
// video PID's payloads only, area merging, the fallback cut where no GOP start
// exists, and a failed write.

#include <gtest/gtest.h>

#include <filesystem>

#include "demux/raw_file.h"
#include "engine/cut_engine.h"
#include "engine/cut_planner.h"
#include "demux/start_code.h"
#include "engine/video_payload_window.h"
#include "support/temp_dir.h"

namespace {
using Bytes = std::vector<unsigned char>;

// One transport packet; a short payload is pushed to the packet's end by an
// adaptation field of stuffing.
Bytes packet(std::uint16_t pid, bool unitStart, const Bytes& payload) {
    Bytes out = {0x47, static_cast<unsigned char>((unitStart ? 0x40 : 0) | (pid >> 8)),
                 static_cast<unsigned char>(pid & 0xFF), 0x10};
    if (payload.size() < 184) {
        out[3] = 0x30;
        const std::size_t field = 183 - payload.size();
        out.push_back(static_cast<unsigned char>(field));
        if (field > 0) {
            out.push_back(0x00);
            out.insert(out.end(), field - 1, 0xFF);
        }
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes pesHeader() {
    return {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x80, 0x00, 0x00};
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

struct OpenFile {
    explicit OpenFile(const std::string& path) {
        platform::FileError error;
        file.Open(path, platform::modeRead, &error);
    }
    CRawFile file;
};
}  // namespace

TEST(FindStartCodeTest, FindsOnlyWholeCodesFromTheGivenIndex) {
    const Bytes data = {0x00, 0x00, 0x01, 0xB3, 0x12, 0x00, 0x00, 0x01, 0xB3, 0x00, 0x00, 0x01};
    EXPECT_EQ(FindStartCode(data.data(), data.size(), 0, 0xB3), 0u);
    EXPECT_EQ(FindStartCode(data.data(), data.size(), 1, 0xB3), 5u);
    EXPECT_EQ(FindStartCode(data.data(), data.size(), 0, 0x00),
              mpeg::kNotFound);  // code byte missing
    EXPECT_EQ(FindStartCode(data.data(), data.size(), 20, 0xB3), mpeg::kNotFound);
    EXPECT_EQ(FindStartCode(data.data(), 3, 0, 0xB3), mpeg::kNotFound);
}

TEST(VideoPayloadWindowTest, SearchesOnlyVideoPayloadsAcrossPacketBounds) {
    TempDir dir;
    Bytes ts;
    // Another programme's sequence header, then ours split over two packets
    // with a foreign packet and a stray 0x47 burst (lost sync) between them.
    append(ts, packet(0x300, true, {0x00, 0x00, 0x01, 0xB3, 1, 2, 3}));
    Bytes first = pesHeader();
    append(first, {0x11, 0x22, 0x00, 0x00});
    append(ts, packet(0x100, true, first));
    append(ts, packet(0x300, false, {0x00, 0x00, 0x01, 0xB3}));
    append(ts, {0x47, 0x47, 0x00});
    append(ts, packet(0x100, false, {0x01, 0xB3, 0x00, 0x00, 0x01, 0x00, 0x00, 0x18}));
    append(ts, packet(0x100, false, {0x55}));
    WriteFileBytes(dir.File("a.ts"), ts);
    OpenFile in(dir.File("a.ts"));
    CVideoPayloadWindow window(in.file, 0x100, 0);
    window.Load(0, ts.size());
    const std::size_t header = window.FindStartCode(0, mpeg::kSequenceHeaderCode);
    ASSERT_NE(header, mpeg::kNotFound);
    EXPECT_EQ(window.Data()[header - 1], 0x22);  // the PES header is no video data
    EXPECT_EQ(window.FindVideoPacketBack(header),
              188u);  // the packet holding the code's first byte
    const std::size_t picture = window.FindStartCode(header, mpeg::kPictureStartCode);
    ASSERT_NE(picture, mpeg::kNotFound);
    EXPECT_EQ(window.PictureCodingType(picture), 3);
    EXPECT_EQ(window.FindVideoPacketBack(picture), 3u * 188 + 3);
}

TEST(VideoPayloadWindowTest, StretchesOfManyChunksKeepEveryPacketAndResyncAcrossTheirBounds) {
    // Some MB of numbered packets, sound among the video, with stray bytes
    // (lost sync) just before and after the places where the stretch is read
    // on in pieces; plain and with the 4-byte prefix of 192-byte packets.
    for (const std::size_t size : {std::size_t{188}, std::size_t{192}}) {
        TempDir dir;
        Bytes ts, video;
        std::vector<std::uint64_t> videoPositions;
        std::size_t strays = 0;
        for (std::size_t i = 0; ts.size() < (std::size_t{3} << 20); ++i) {
            const std::uint64_t mb = ts.size() >> 20;
            if (strays < 4 && ts.size() > (mb << 20) + (strays % 2 == 0 ? 0 : 300) - 200 &&
                mb * 2 > strays) {
                // Its first and fifth bytes confirm the packet before it,
                // whatever the packet size.
                append(ts, {0x47, 0x00, 0x00, 0x00, 0x47});
                ++strays;
            }
            const bool sound = i % 5 == 4;
            Bytes payload(184);
            for (std::size_t k = 0; k < payload.size(); ++k)
                payload[k] = static_cast<unsigned char>((i * 7 + k) % 0x40);  // never 0x47
            ts.insert(ts.end(), size - 188, 0x00);
            if (!sound) {
                videoPositions.push_back(ts.size() - (size - 188));
                append(video, payload);
            }
            append(ts, packet(sound ? 0x101 : 0x100, false, payload));
        }
        ASSERT_EQ(strays, 4u);
        WriteFileBytes(dir.File("a.ts"), ts);
        OpenFile in(dir.File("a.ts"));
        CVideoPayloadWindow window(in.file, 0x100, 0, size);
        window.Load(0, ts.size() + 1000);  // past the end: read as far as there is
        ASSERT_EQ(Bytes(window.Data(), window.Data() + window.Size()), video) << size;
        for (const std::size_t n : {std::size_t{0}, videoPositions.size() / 2, videoPositions.size() - 1})
            EXPECT_EQ(window.FindVideoPacketBack(n * 184 + 5), videoPositions[n]) << size;
        const std::uint64_t last = videoPositions.back();
        ASSERT_NE(window.PacketAt(last), nullptr);
        EXPECT_EQ(Bytes(window.PacketAt(last), window.PacketAt(last) + size),
                  Bytes(ts.end() - static_cast<long>(size), ts.end()));
        EXPECT_EQ(window.PacketAt(last + 1), nullptr);  // runs past what the file holds

        // A stretch that ends inside the file: its next packet confirms the
        // last one's sync, and is no part of it.
        window.Load(videoPositions[10], videoPositions[4000]);
        EXPECT_EQ(window.Size(), (4000u - 10) * 184);
        EXPECT_EQ(window.FindVideoPacketBack(0), videoPositions[10]);
        ASSERT_NE(window.PacketAt(videoPositions[4000]), nullptr);
        EXPECT_EQ(window.PacketAt(videoPositions[4000])[size - 188 + 2], 0x00);  // PID 0x100
        EXPECT_EQ(window.PacketAt(videoPositions[4000] + size), nullptr);
    }
}

TEST(CutPlannerTest, MergesSortsAndClipsTheEnabledAreas) {
    auto area = [](std::uint64_t from, std::uint64_t to, bool enabled) {
        CCutArea cut;
        cut.SectorStart = from, cut.SectorEnd = to, cut.IsEnabled = enabled;
        return cut;
    };
    const CCutList cuts = {area(30, 40, true),   area(10, 20, true), area(15, 25, true),
                           area(50, 60, false),  area(70, 65, true), area(0, 1, true),
                           area(90, ~0ull, true)};
    const auto merged = CCutPlanner::MergeAreas(cuts, 1024, 100 * 512);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].start, 10u * 512);
    EXPECT_EQ(merged[0].end, 25u * 512);
    EXPECT_EQ(merged[1].start, 30u * 512);
    EXPECT_EQ(merged[2].start, 90u * 512);
    EXPECT_EQ(merged[2].end, 100u * 512);
}

TEST(CutEngineTest, WithoutVideoAnAreaIsCutAtItsPacketsAndNothingElseGoes) {
    TempDir dir;
    Bytes radio;
    for (int i = 0; i < 4000; ++i)
        append(radio, packet(0x101, i % 8 == 0, Bytes(184, static_cast<unsigned char>(i))));
    WriteFileBytes(dir.File("radio.ts"), radio);
    OpenFile in(dir.File("radio.ts"));
    CRawFile out;
    platform::FileError error;
    out.Open(dir.File("out.ts"), platform::modeCreate | platform::modeReadWrite, &error);
    CCutArea cut;
    cut.SectorStart = 600, cut.SectorEnd = 900, cut.IsEnabled = true;
    CCutEngine engine(in.file, out, 0x100, [](std::uint64_t) { return true; });
    EXPECT_EQ(engine.Run({cut}), JobResult::Done);
    out.Close();
    const std::size_t from = (600 * 512 + 187) / 188 * 188, to = (900 * 512 + 187) / 188 * 188;
    Bytes expected = radio;
    expected.erase(expected.begin() + static_cast<long>(from),
                   expected.begin() + static_cast<long>(to));
    EXPECT_EQ(ReadFileBytes(dir.File("out.ts")), expected);
}

TEST(CutEngineTest, AFailedWriteEndsTheCopyWithAMessage) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP();
    TempDir dir;
    Bytes radio;
    for (int i = 0; i < 8000; ++i)
        append(radio, packet(0x101, false, Bytes(184, 1)));
    WriteFileBytes(dir.File("radio.ts"), radio);
    OpenFile in(dir.File("radio.ts"));
    CRawFile out;
    platform::FileError error;
    out.Open("/dev/full", platform::modeReadWrite, &error);
    ASSERT_FALSE(error.Failed());
    CCutEngine engine(in.file, out, 0x100, [](std::uint64_t) { return true; });
    EXPECT_EQ(engine.Run({}), JobResult::Failed);
    EXPECT_NE(engine.ErrorMessage().find("Copying the recording failed at byte"), std::string::npos)
        << engine.ErrorMessage();
}
