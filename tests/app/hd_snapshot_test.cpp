// The picture search on H.264 and HEVC recordings: every position leads to
// the next random-access point (as ffmpeg marks key frames), with the
// position and stamp rules of MPEG-2 sequence headers; audio details of the
// new codecs are read on the way; the stored cut list keeps HD marks.

#include <gtest/gtest.h>

#include "app/cut_list.h"
#include "app/mpeg_snapshot.h"
#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "app_test_util.h"
#include "codec/video_codec.h"
#include "support/hd_media.h"
#include "support/temp_dir.h"
#include "support/ts_builder.h"

namespace {

class HdSnapshotTest : public AppTest {
  protected:
    void open(const std::string& path) {
        std::string error;
        ASSERT_TRUE(model.Open(path, &error)) << error;
    }
    // The key packets (random-access points) of the video.
    static std::vector<hdmedia::Packet> keys(const std::string& path) {
        std::vector<hdmedia::Packet> out;
        for (const hdmedia::Packet& p : hdmedia::VideoPackets(path))
            if (p.key) out.push_back(p);
        return out;
    }
    // The sector the view moves to for a picture whose PES starts in the
    // packet at pos: the one before the sector just behind that packet.
    static std::uint64_t sectorOf(const hdmedia::Packet& p) {
        return static_cast<std::uint64_t>(p.pos + 188) / 512 - 1;
    }

    CRecordingModel model;
};

TEST_F(HdSnapshotTest, EveryPositionLeadsToTheNextRandomAccessPoint) {
    for (const std::string& path : {hdmedia::H264Interlaced(), hdmedia::HevcOpenGop()}) {
        SCOPED_TRACE(path);
        open(path);
        const auto points = keys(path);
        ASSERT_EQ(points.size(), 4u);
        // From the start, from just behind each point's packet and from the
        // middle between two points: the next point.
        for (std::size_t k = 0; k < points.size(); ++k) {
            std::vector<std::uint64_t> from = {static_cast<std::uint64_t>(points[k].pos) / 512};
            if (k > 0) {
                from.push_back(static_cast<std::uint64_t>(points[k - 1].pos + 188) / 512 + 1);
                from.push_back(static_cast<std::uint64_t>(points[k - 1].pos + points[k].pos) /
                               1024);
            }
            for (std::uint64_t sector : from) {
                const SnapshotCapture c = CaptureSnapshot(model, sector, -1, "");
                ASSERT_TRUE(c.pictureFound) << sector;
                EXPECT_TRUE(c.found) << "every audio header read";
                EXPECT_EQ(c.stamp, points[k].pts) << "from sector " << sector;
                EXPECT_EQ(c.sector, sectorOf(points[k])) << "from sector " << sector;
            }
        }
        // Within the last 256 KiB the position stays where it was.
        const std::uint64_t length = model.Recording().GetLength();
        if (length > 2 * kSnapshotTail) {
            const SnapshotCapture end = CaptureSnapshot(model, length / 512 - 2, -1, "");
            EXPECT_TRUE(end.limited);
            EXPECT_EQ(end.sector, length / 512 - 2);
        }
    }
}

TEST_F(HdSnapshotTest, TheSamePictureIsNoNewPicture) {
    const std::string path = hdmedia::H264Interlaced();
    open(path);
    const auto points = keys(path);
    const SnapshotCapture first = CaptureSnapshot(model, 0, -1, "");
    ASSERT_TRUE(first.found);
    EXPECT_EQ(model.m_firstPTS, points[0].pts);
    // Searching from the picture's own sector finds it again: no new
    // picture; from behind its first packet, the next point.
    const SnapshotCapture again = CaptureSnapshot(model, first.sector, first.stamp, "");
    EXPECT_TRUE(again.samePicture);
    const SnapshotCapture next = CaptureSnapshot(
        model, static_cast<std::uint64_t>(points[0].pos + 188) / 512 + 1, first.stamp, "");
    EXPECT_FALSE(next.samePicture);
    EXPECT_EQ(next.stamp, points[1].pts);
    std::int64_t last = 0;
    ASSERT_TRUE(FindLastPictureStamp(model, last));
    EXPECT_EQ(last, hdmedia::Pictures(path).back().pts);
}

TEST_F(HdSnapshotTest, FormatAndAudioOfTheNewCodecs) {
    open(hdmedia::H264Interlaced());
    const SnapshotCapture c = CaptureSnapshot(model, 0, -1, "");
    ASSERT_TRUE(c.found);
    EXPECT_EQ(c.format.codec, StreamCodec::H264);
    EXPECT_EQ(c.width, 1920);
    EXPECT_EQ(c.height, 1080);
    EXPECT_EQ(c.aspect, 3);
    // The view's information box reads the MPEG-2 header fields.
    EXPECT_EQ(SequenceWidth(c.sequenceHeader), 1920);
    EXPECT_EQ(SequenceHeight(c.sequenceHeader), 1080);
    EXPECT_EQ(SequenceAspect(c.sequenceHeader), 3);
    ASSERT_EQ(model.m_streams.size(), 3u);
    EXPECT_EQ(model.m_streams[1].sampleRate, 48000);
    EXPECT_EQ(model.m_streams[1].layout, "1.0");
    EXPECT_EQ(model.m_streams[2].ac3BitRate, 384);
    EXPECT_EQ(model.m_streams[2].layout, "5.1");
    // The stream marks its random-access points: learnt once, kept.
    EXPECT_EQ(model.m_streams[0].randomAccessMarks, 1);
}

TEST_F(HdSnapshotTest, PlainIntraPicturesServeWhereNothingIsMarked) {
    const std::string path = hdmedia::H264PlainIntra();
    open(path);
    const SnapshotCapture c = CaptureSnapshot(model, 0, -1, "");
    ASSERT_TRUE(c.pictureFound);
    EXPECT_EQ(model.m_streams[0].randomAccessMarks, 2);
    std::int64_t firstIntra = -1;
    for (const hdmedia::Picture& p : hdmedia::Pictures(path))
        if (p.type == 'I' && firstIntra < 0) firstIntra = p.pts;
    EXPECT_EQ(c.stamp, firstIntra);
}

TEST_F(HdSnapshotTest, MarksOnHdPicturesAreStoredAndReadBack) {
    const std::string path = hdmedia::HevcOpenGop();
    open(path);
    const auto points = keys(path);
    const SnapshotCapture start = CaptureSnapshot(model, 0, -1, "");
    const SnapshotCapture end =
        CaptureSnapshot(model, static_cast<std::uint64_t>(points[2].pos) / 512, start.stamp, "");
    ASSERT_TRUE(start.found && end.found);
    CCutArea area;
    cutlist::SetStartMark(area, start.sector, start.stamp);
    cutlist::SetEndMark(area, end.sector, end.stamp);
    model.m_cutList = {area};
    const std::int64_t first = model.m_firstPTS;
    model.Close();
    open(path);
    ASSERT_EQ(model.m_cutList.size(), 1u);
    EXPECT_EQ(model.m_cutList[0].SectorStart, sectorOf(points[0]));
    EXPECT_EQ(model.m_cutList[0].SectorEnd, sectorOf(points[2]));
    EXPECT_EQ(model.m_cutList[0].PTSStart, points[0].pts);
    EXPECT_EQ(model.m_cutList[0].PTSEnd, points[2].pts);
    EXPECT_EQ(model.m_firstPTS, first);
}

// The first access unit of an elementary stream, parameter sets included.
std::vector<unsigned char> firstAccessUnit(const std::vector<unsigned char>& es) {
    auto scanner = codec::VideoCodecFor(StreamCodec::H264)->NewScanner();
    scanner->Feed(es.data(), std::min<std::size_t>(es.size(), 4u << 20));
    const auto units = scanner->TakeUnits();
    return {es.begin(), es.begin() + static_cast<std::ptrdiff_t>(units.at(1).offset)};
}

TEST_F(HdSnapshotTest, ASearchWithoutAnyPointEndsAfterItsLimit) {
    // 66 MiB of H.264 video without a single start code (as a scrambled
    // stream looks), then an IDR picture.
    tsb::TsBuilder b;
    b.Section(0x1000, tsb::PmtSection(1, 0x100, {{0x1B, 0x100, {}}}));
    const tsb::Bytes noise(65536, 0x55);
    std::int64_t pts = 900000;
    while (b.Data().size() < (66u << 20)) {
        b.Unit(0x100, tsb::PesPacket(0xE0, pts, std::nullopt, noise));
        pts += tsb::kPictureTicks;
    }
    const std::uint64_t pointAt = b.Data().size();
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(hdmedia::H264Interlaced()));
    b.Unit(0x100, tsb::PesPacket(0xE0, pts, std::nullopt, firstAccessUnit(es)));
    b.Unit(0x100, tsb::PesPacket(0xE0, pts + 3600, std::nullopt, {0, 0, 0, 1, 0x09, 0xF0}));
    b.Unit(0x100, tsb::PesPacket(0xE0, pts + 7200, std::nullopt, noise));
    TempDir dir;
    WriteFileBytes(dir.File("noise.ts"), b.Data());
    open(dir.File("noise.ts"));
    const SnapshotCapture none = CaptureSnapshot(model, 0, -1, "");
    EXPECT_FALSE(none.pictureFound);
    const SnapshotCapture near = CaptureSnapshot(model, pointAt / 512 - 100, -1, "");
    ASSERT_TRUE(near.pictureFound);
    EXPECT_EQ(near.stamp, pts);
}

}  // namespace
