// The NAL payload reader and the SEI and slice-header parsers on hand-made
// units: emulation prevention, Exp-Golomb limits, damage.

#include <gtest/gtest.h>

#include <map>

#include "bit_writer.h"
#include "codec/h264_sei.h"
#include "codec/h264_slice_header.h"
#include "codec/rbsp_reader.h"

using codec::ParseResult;
using codec::RbspReader;

namespace {

TEST(RbspReader, SkipsEmulationPreventionAndReadsExpGolomb) {
    // 00 00 03 01 in the stream is 00 00 01 in the payload.
    const std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x03, 0x01, 0xA6, 0x80};
    RbspReader r(bytes.data(), bytes.size());
    EXPECT_EQ(r.Bits(24), 0x000001u);
    // 1 | 010 | 011 | 0: ue 0, ue 1, se -1 and a zero bit before the stop bit
    EXPECT_EQ(r.Ue(), 0u);
    EXPECT_EQ(r.Ue(), 1u);
    EXPECT_EQ(r.Se(), -1);
    EXPECT_TRUE(r.MoreRbspData());
    EXPECT_FALSE(r.Flag());
    EXPECT_FALSE(r.MoreRbspData());
    EXPECT_FALSE(r.Failed());

    BitWriter w;
    w.Ue(0).Ue(7).Ue(65534).Se(5).Se(-17).Se(0).Bits(0, 20).Ue(300).Trailing();
    const auto escaped = w.Escaped();
    ASSERT_GT(escaped.size(), w.Raw().size());  // the run of zeros needed escaping
    RbspReader e(escaped.data(), escaped.size());
    EXPECT_EQ(e.Ue(), 0u);
    EXPECT_EQ(e.Ue(), 7u);
    EXPECT_EQ(e.Ue(), 65534u);
    EXPECT_EQ(e.Se(), 5);
    EXPECT_EQ(e.Se(), -17);
    EXPECT_EQ(e.Se(), 0);
    EXPECT_EQ(e.Bits(20), 0u);
    EXPECT_TRUE(e.MoreRbspData());
    EXPECT_EQ(e.Ue(), 300u);
    EXPECT_FALSE(e.MoreRbspData());
    EXPECT_FALSE(e.Failed());
}

TEST(RbspReader, ReadingPastTheEndOrOverlongCodesFails) {
    const std::vector<std::uint8_t> one = {0xFF};
    RbspReader r(one.data(), one.size());
    EXPECT_EQ(r.Bits(8), 0xFFu);
    EXPECT_FALSE(r.Failed());
    EXPECT_EQ(r.Bits(1), 0u);
    EXPECT_TRUE(r.Failed());

    // 40 zero bits then a one: an Exp-Golomb code beyond 32 bits.
    BitWriter w;
    w.Bits(0, 40).Bits(1, 1).Bits(0, 40).Trailing();
    RbspReader z(w.Raw().data(), w.Raw().size());
    EXPECT_EQ(z.Ue(), 0u);
    EXPECT_TRUE(z.Failed());

    BitWriter limit;
    limit.Ue(40).Trailing();
    RbspReader l(limit.Raw().data(), limit.Raw().size());
    EXPECT_EQ(l.UeMax(31), 31u);
    EXPECT_TRUE(l.Failed());

    // Only the first bytes are taken when a limit is given.
    const std::vector<std::uint8_t> four = {1, 2, 3, 4};
    RbspReader cut(four.data(), four.size(), 2);
    EXPECT_EQ(cut.BitsLeft(), 16u);
    const std::vector<std::uint8_t> zeros(8, 0);
    EXPECT_FALSE(RbspReader(zeros.data(), zeros.size()).MoreRbspData());
}

// An SEI NAL payload of messages (type, payload bytes).
std::vector<std::uint8_t> sei(
    const std::vector<std::pair<int, std::vector<std::uint8_t>>>& messages) {
    BitWriter w;
    for (const auto& [type, payload] : messages) {
        int t = type;
        for (; t >= 255; t -= 255)
            w.Byte(0xFF);
        w.Byte(static_cast<std::uint8_t>(t));
        int size = static_cast<int>(payload.size());
        for (; size >= 255; size -= 255)
            w.Byte(0xFF);
        w.Byte(static_cast<std::uint8_t>(size));
        for (std::uint8_t b : payload)
            w.Byte(b);
    }
    w.Trailing();
    return w.Escaped();
}

std::vector<std::uint8_t> recoveryPoint(int frames, bool exact, bool broken) {
    BitWriter w;
    w.Ue(static_cast<std::uint32_t>(frames)).Flag(exact).Flag(broken).Bits(0, 2).Align();
    return w.Raw();
}

TEST(H264Sei, FindsTheRecoveryPointAmongOtherMessages) {
    // Buffering period, user data of 300 bytes (sizes beyond 255), then the
    // recovery point.
    const auto payload = sei({{0, {0x80}},
                              {5, std::vector<std::uint8_t>(300, 0x00)},
                              {6, recoveryPoint(3, true, false)}});
    codec::h264::SeiMessages messages;
    EXPECT_EQ(codec::h264::ParseSei(payload.data(), payload.size(), messages), ParseResult::Ok);
    EXPECT_EQ(messages.payloadTypes, (std::vector<int>{0, 5, 6}));
    ASSERT_TRUE(messages.hasRecoveryPoint);
    EXPECT_EQ(messages.recoveryPoint.recoveryFrameCount, 3);
    EXPECT_TRUE(messages.recoveryPoint.exactMatch);
    EXPECT_FALSE(messages.recoveryPoint.brokenLink);

    // Type numbers beyond 255 are summed.
    const auto large = sei({{300, {1, 2}}});
    ASSERT_EQ(codec::h264::ParseSei(large.data(), large.size(), messages), ParseResult::Ok);
    EXPECT_EQ(messages.payloadTypes, (std::vector<int>{300}));
    EXPECT_FALSE(messages.hasRecoveryPoint);
}

TEST(H264Sei, DamagedMessagesAreBrokenButKeepWhatCameBefore) {
    // A message that claims more bytes than the unit holds.
    auto payload =
        sei({{6, recoveryPoint(0, false, false)}, {4, std::vector<std::uint8_t>(20, 7)}});
    payload.resize(payload.size() - 10);
    codec::h264::SeiMessages messages;
    EXPECT_EQ(codec::h264::ParseSei(payload.data(), payload.size(), messages), ParseResult::Broken);
    EXPECT_TRUE(messages.hasRecoveryPoint);

    // A recovery point whose fields do not fit its payload size.
    BitWriter w;
    w.Byte(6).Byte(1).Bits(0, 20).Bits(1, 1).Bits(0, 19).Trailing();
    const auto bad = w.Escaped();
    EXPECT_EQ(codec::h264::ParseSei(bad.data(), bad.size(), messages), ParseResult::Broken);
    EXPECT_FALSE(messages.hasRecoveryPoint);

    // A run of 0xFF bytes with nothing behind it.
    const std::vector<std::uint8_t> run(64, 0xFF);
    EXPECT_EQ(codec::h264::ParseSei(run.data(), run.size(), messages), ParseResult::Broken);
    const std::vector<std::uint8_t> empty;
    EXPECT_EQ(codec::h264::ParseSei(empty.data(), 0, messages), ParseResult::Ok);
}

TEST(H264SliceHeader, ReadsTheFieldsUpToThePictureOrderCount) {
    codec::h264::Sps sps;
    sps.id = 2;
    sps.log2MaxFrameNum = 5;
    sps.pocType = 0;
    sps.log2MaxPocLsb = 6;
    sps.frameMbsOnly = false;
    const std::map<int, codec::h264::Sps> spsById = {{2, sps}};
    const std::map<int, codec::h264::Pps> ppsById = {{1, {1, 2}}};
    // An IDR bottom field: first_mb 0, slice_type 7 (I), pps 1, frame_num
    // 17, field, bottom, idr_pic_id 3, POC lsb 41.
    BitWriter w;
    w.Byte(0x65).Ue(0).Ue(7).Ue(1).Bits(17, 5).Flag(true).Flag(true).Ue(3).Bits(41, 6).Trailing();
    codec::h264::SliceHeader slice;
    ASSERT_EQ(
        codec::h264::ParseSliceHeader(w.Raw().data(), w.Raw().size(), ppsById, spsById, slice),
        ParseResult::Ok);
    EXPECT_TRUE(slice.IsIdr());
    EXPECT_TRUE(slice.IsIntra());
    EXPECT_EQ(slice.PictureType(), 1);
    EXPECT_EQ(slice.frameNum, 17);
    EXPECT_TRUE(slice.fieldPic);
    EXPECT_TRUE(slice.bottomField);
    EXPECT_EQ(slice.idrPicId, 3);
    EXPECT_EQ(slice.pocLsb, 41);
    EXPECT_EQ(slice.spsId, 2);

    // A B slice referring to a PPS not seen: it cannot be read.
    BitWriter b;
    b.Byte(0x01).Ue(0).Ue(1).Ue(9).Trailing();
    EXPECT_EQ(
        codec::h264::ParseSliceHeader(b.Raw().data(), b.Raw().size(), ppsById, spsById, slice),
        ParseResult::Unsupported);
    // Cut short before the frame number.
    EXPECT_EQ(codec::h264::ParseSliceHeader(w.Raw().data(), 2, ppsById, spsById, slice),
              ParseResult::Broken);
}

}  // namespace
