// The access-unit scanners on encoder output: every picture found in stream
// order, random-access points where the encoder put them, leading pictures
// as ffprobe's stamps show them, whatever the size of the pieces fed.

#include <gtest/gtest.h>

#include <memory>

#include "codec/h264_access_unit_scanner.h"
#include "codec/hevc_access_unit_scanner.h"
#include "codec/mpeg2_access_unit_scanner.h"
#include "codec/video_codec.h"
#include "support/hd_media.h"
#include "support/temp_dir.h"

using codec::AccessUnit;
using codec::RandomAccess;

namespace {

std::vector<AccessUnit> scan(codec::IAccessUnitScanner& scanner,
                             const std::vector<unsigned char>& es, std::size_t piece) {
    std::vector<AccessUnit> units;
    for (std::size_t at = 0; at < es.size(); at += piece) {
        scanner.Feed(es.data() + at, std::min(piece, es.size() - at));
        for (const AccessUnit& unit : scanner.TakeUnits())
            units.push_back(unit);
    }
    scanner.Finish();
    for (const AccessUnit& unit : scanner.TakeUnits())
        units.push_back(unit);
    return units;
}

std::vector<AccessUnit> scanWith(StreamCodec id, const std::vector<unsigned char>& es,
                                 std::size_t piece) {
    auto scanner = codec::VideoCodecFor(id)->NewScanner();
    return scan(*scanner, es, piece);
}

// The leading pictures by the stamps: behind a random-access point in
// stream order, shown before it, up to the first one shown after it.
std::vector<bool> leadingByStamps(const std::vector<hdmedia::Packet>& packets,
                                  const std::vector<AccessUnit>& units) {
    std::vector<bool> leading(packets.size(), false);
    std::int64_t rapPts = 0;
    bool inRun = false;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (units[i].IsRandomAccess()) {
            rapPts = packets[i].pts;
            inRun = true;
        } else if (inRun && packets[i].pts < rapPts) {
            leading[i] = true;
        } else {
            inRun = false;
        }
    }
    return leading;
}

void expectUnitsMatchPackets(const std::vector<AccessUnit>& units,
                             const std::vector<hdmedia::Packet>& packets) {
    ASSERT_EQ(units.size(), packets.size());
    const std::vector<bool> leading = leadingByStamps(packets, units);
    int leadingCount = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_TRUE(units[i].decodable) << i;
        EXPECT_EQ(units[i].leading, leading[i]) << "picture " << i;
        leadingCount += leading[i];
        if (i > 0) {
            EXPECT_GT(units[i].offset, units[i - 1].offset);
        }
    }
    EXPECT_GT(leadingCount, 0);  // the streams have open GOPs or RADL pictures
}

TEST(AccessUnitScanner, H264PicturesRandomAccessPointsAndLeadingPictures) {
    const std::string recording = hdmedia::H264Interlaced();
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(recording));
    const auto packets = hdmedia::VideoPackets(recording);
    const std::vector<AccessUnit> units = scanWith(StreamCodec::H264, es, es.size());
    expectUnitsMatchPackets(units, packets);
    // An IDR picture first, then an I picture with a recovery point every
    // 25 pictures: where ffmpeg sees key frames.
    std::vector<RandomAccess> points;
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i].IsRandomAccess(), packets[i].key) << i;
        if (units[i].IsRandomAccess()) {
            points.push_back(units[i].randomAccess);
        }
    }
    EXPECT_EQ(points, (std::vector<RandomAccess>{RandomAccess::Idr, RandomAccess::RecoveryPoint,
                                                 RandomAccess::RecoveryPoint,
                                                 RandomAccess::RecoveryPoint}));
    EXPECT_EQ(units[0].offset, 1u);  // 00 00 00 01: the prefix behind the zero_byte
    EXPECT_FALSE(units[0].field);    // MBAFF: whole frames

    // Fed in pieces of any size, the same units come out.
    for (std::size_t piece : {1u, 3u, 184u, 4096u}) {
        const std::vector<AccessUnit> again = scanWith(StreamCodec::H264, es, piece);
        ASSERT_EQ(again.size(), units.size()) << piece;
        for (std::size_t i = 0; i < units.size(); ++i) {
            EXPECT_EQ(again[i].offset, units[i].offset) << piece << " " << i;
            EXPECT_EQ(again[i].randomAccess, units[i].randomAccess);
            EXPECT_EQ(again[i].leading, units[i].leading);
        }
    }
}

TEST(AccessUnitScanner, H264PlainIntraPicturesServeOnlyWhenAsked) {
    const std::string recording = hdmedia::H264PlainIntra();
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(recording));
    codec::H264AccessUnitScanner marked;
    const std::vector<AccessUnit> strict = scan(marked, es, 188);
    EXPECT_FALSE(marked.SawRandomAccessMarks());
    int intra = 0;
    for (const AccessUnit& unit : strict) {
        EXPECT_FALSE(unit.IsRandomAccess());
        intra += unit.pictureType == 1;
    }
    EXPECT_EQ(intra, 3);
    codec::H264AccessUnitScanner plain;
    plain.SetIntraIsRandomAccess(true);
    int points = 0;
    for (const AccessUnit& unit : scan(plain, es, 188)) {
        points += unit.IsRandomAccess();
        if (unit.IsRandomAccess()) {
            EXPECT_EQ(unit.randomAccess, RandomAccess::Intra);
        }
    }
    EXPECT_EQ(points, 3);
}

TEST(AccessUnitScanner, HevcCraWithRaslAndIdrWithRadl) {
    for (const std::string& recording : {hdmedia::HevcOpenGop(), hdmedia::HevcClosedGop10Bit()}) {
        SCOPED_TRACE(recording);
        const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(recording));
        const auto packets = hdmedia::VideoPackets(recording);
        const std::vector<AccessUnit> units = scanWith(StreamCodec::Hevc, es, 184);
        expectUnitsMatchPackets(units, packets);
        const bool open = recording == hdmedia::HevcOpenGop();
        int points = 0;
        for (std::size_t i = 0; i < units.size(); ++i) {
            points += units[i].IsRandomAccess();
            if (i > 0 && units[i].IsRandomAccess()) {
                EXPECT_EQ(units[i].randomAccess, open ? RandomAccess::Cra : RandomAccess::Idr);
            }
            // RASL pictures refer to pictures before their CRA; RADL
            // pictures do not.
            if (units[i].leading) {
                EXPECT_EQ(units[i].leadingDecodable, !open) << i;
            }
        }
        EXPECT_EQ(points, 4);
    }
}

TEST(AccessUnitScanner, Mpeg2SequenceHeadersWithIPictures) {
    const std::string sample = std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts";
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(sample));
    const auto packets = hdmedia::VideoPackets(sample);
    codec::Mpeg2AccessUnitScanner scanner;
    const std::vector<AccessUnit> units = scan(scanner, es, 500);
    expectUnitsMatchPackets(units, packets);
    for (std::size_t i = 0; i < units.size(); ++i)
        EXPECT_EQ(units[i].IsRandomAccess(), packets[i].key) << i;
    const auto format = scanner.Format();
    ASSERT_TRUE(format.has_value());
    auto probe = hdmedia::StreamFields(sample, "v:0");
    EXPECT_EQ(std::to_string(format->width), probe["width"]);
    EXPECT_EQ(std::to_string(format->height), probe["height"]);
    EXPECT_EQ(codec::RatioText(format->displayAspect, ':'), probe["display_aspect_ratio"]);
    EXPECT_EQ(codec::RatioText(format->frameRate, '/'), probe["r_frame_rate"]);
    EXPECT_EQ(format->profile, probe["profile"]);
    EXPECT_EQ(std::to_string(format->level), probe["level"]);
}

TEST(AccessUnitScanner, DataThatStartsInsideAPictureOrIsNoVideo) {
    const auto es = ReadFileBytes(hdmedia::VideoElementaryStream(hdmedia::H264Interlaced()));
    // Starting in the middle of the first picture: that part is no picture
    // to start from; the next ones are.
    const std::vector<unsigned char> late(es.begin() + 5000, es.end());
    const std::vector<AccessUnit> units = scanWith(StreamCodec::H264, late, 4096);
    ASSERT_FALSE(units.empty());
    EXPECT_FALSE(units.front().IsRandomAccess() && units.front().offset == 0);
    int points = 0;
    for (const AccessUnit& unit : units)
        points += unit.IsRandomAccess();
    EXPECT_EQ(points, 3);
    // Noise, zeros and a lone start code give no decodable picture.
    std::vector<unsigned char> noise(100000);
    std::uint32_t seed = 5;
    for (unsigned char& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    for (StreamCodec id : {StreamCodec::H264, StreamCodec::Hevc}) {
        for (const auto& data :
             {noise, std::vector<unsigned char>(5000, 0), std::vector<unsigned char>{0, 0, 1}}) {
            for (const AccessUnit& unit : scanWith(id, data, 97))
                EXPECT_FALSE(unit.IsRandomAccess() && unit.decodable);
        }
    }
}

}  // namespace
