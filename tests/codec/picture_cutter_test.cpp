// The H.264/HEVC picture cutter fed transport payloads as the picture search
// feeds them: the cut-out holds the parameter sets and the whole picture
// (both fields of a field-coded frame), its stamp and position are those of
// the packet where the picture begins.

#include <gtest/gtest.h>

#include "codec/h264_access_unit_scanner.h"
#include "codec/nal_picture_cutter.h"
#include "codec/video_codec.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/raw_file.h"
#include "support/hd_media.h"
#include "support/temp_dir.h"

namespace {

struct Cut {
    bool started = false;
    bool done = false;
    codec::CutPicture picture;
};

// Feeds the video PID's payloads of a recording from the start, as the
// picture search does, until the cutter has its picture.
Cut cutFrom(const std::string& path, int videoPid, codec::IPictureCutter& cutter) {
    CRawFile file;
    platform::FileError error;
    file.Open(path, platform::modeRead, &error);
    CMpegTsDemux packets;
    packets.SetRecording(file);
    std::uint8_t packet[kTsReadSize];
    std::uint8_t payload[kTsPayloadSize];
    while (file.GetPosition() + kTsReadSize <= file.GetLength()) {
        if (packets.ReadPacket(packet) == 0) continue;
        int n = 0;
        if (TsPid(packet) != videoPid || !CMpegTsDemux::GetPayload(packet, payload, n)) continue;
        if (!cutter.Feed({payload, n, file.GetPosition(), (packet[3] >> 4) & 3}, true)) break;
    }
    cutter.Finish();
    return {cutter.Started(), cutter.PictureDone(), cutter.Picture()};
}

std::vector<codec::AccessUnit> unitsOf(const std::vector<std::uint8_t>& bytes) {
    codec::H264AccessUnitScanner scanner;
    scanner.Feed(bytes.data(), bytes.size());
    scanner.Finish();
    return scanner.TakeUnits();
}

TEST(NalPictureCutter, FieldCodedFrameOfARealBroadcast) {
    const std::string real =
        std::string(RAVELO_REAL_CAPTURES) + "/sat_h264_damaged_partly_scrambled_bigpmt.ts";
    sPMTEntry video;
    video.streamType = kStreamH264;
    const auto cutter = codec::VideoCodecFor(StreamCodec::H264)->NewPictureCutter(video);
    const Cut cut = cutFrom(real, 0x3D, *cutter);
    ASSERT_TRUE(cut.started);
    EXPECT_TRUE(cut.done);
    // The one I picture with a recovery point SEI (and the only sequence
    // parameter set) of the capture.
    EXPECT_EQ(cut.picture.stamp, 8337146048);
    EXPECT_EQ(cut.picture.position % 188, 0u);
    EXPECT_EQ(cut.picture.format.width, 1920);
    EXPECT_EQ(cut.picture.format.height, 1080);
    EXPECT_EQ(codec::CodecOfCutOut(cut.picture.bytes.data(), cut.picture.bytes.size()),
              StreamCodec::H264);
    // The I field and the P field that completes its frame, nothing more.
    const std::vector<codec::AccessUnit> units = unitsOf(cut.picture.bytes);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].randomAccess, codec::RandomAccess::RecoveryPoint);
    EXPECT_TRUE(units[0].field);
    EXPECT_TRUE(units[1].field);
    EXPECT_NE(units[0].bottomField, units[1].bottomField);
    EXPECT_EQ(units[0].frameNum, units[1].frameNum);
}

TEST(NalPictureCutter, FrameCodedPicturesAndTheCapacity) {
    const std::string recording = hdmedia::H264Interlaced();
    const auto packets = hdmedia::VideoPackets(recording);
    sPMTEntry video;
    const auto cutter = codec::VideoCodecFor(StreamCodec::H264)->NewPictureCutter(video);
    const Cut cut = cutFrom(recording, 0x100, *cutter);
    ASSERT_TRUE(cut.done);
    EXPECT_EQ(cut.picture.stamp, packets[0].pts);
    // Just behind the packet where the picture's PES begins.
    EXPECT_EQ(static_cast<std::int64_t>(cut.picture.position), packets[0].pos + 188);
    const std::vector<codec::AccessUnit> units = unitsOf(cut.picture.bytes);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].randomAccess, codec::RandomAccess::Idr);
    EXPECT_EQ(cut.picture.sequenceHeader[7] >> 4, 3);  // 16:9 for readers of MPEG-2 headers

    // A picture that the cut-out cannot hold is not taken: no half picture.
    codec::NalPictureCutter small(std::make_unique<codec::H264AccessUnitScanner>(), 10000);
    const Cut tooLarge = cutFrom(recording, 0x100, small);
    EXPECT_FALSE(tooLarge.started);
    EXPECT_TRUE(tooLarge.picture.bytes.empty());
}

TEST(NalPictureCutter, NothingWithoutARandomAccessPoint) {
    const std::string recording = hdmedia::H264PlainIntra();
    sPMTEntry marked;
    marked.randomAccessMarks = 1;
    const auto strict = codec::VideoCodecFor(StreamCodec::H264)->NewPictureCutter(marked);
    const Cut none = cutFrom(recording, 0x100, *strict);
    EXPECT_FALSE(none.started);
    EXPECT_TRUE(none.picture.bytes.empty());
    sPMTEntry unmarked;
    unmarked.randomAccessMarks = 2;
    const auto plain = codec::VideoCodecFor(StreamCodec::H264)->NewPictureCutter(unmarked);
    EXPECT_TRUE(cutFrom(recording, 0x100, *plain).done);
}

}  // namespace
