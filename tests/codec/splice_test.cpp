// Access units of an H.264 stream (made by libx264) gathered from PES
// packets as a demultiplexer hands them on, and the rewrite of their slices
// behind a splice: what is given out, with which stamps, what counts as
// damaged or cut short, and that a rewritten slice differs from its source
// only in the two fields rewritten.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "codec/access_unit_assembler.h"
#include "codec/annexb_nals.h"
#include "codec/h264_access_unit_scanner.h"
#include "codec/h264_slice_header.h"
#include "codec/h264_splice_rewriter.h"
#include "support/hd_media.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes& Stream() {
    static const Bytes es = ReadFileBytes(hdmedia::VideoElementaryStream(hdmedia::H264Interlaced()));
    return es;
}

std::vector<codec::AccessUnit> Units(const Bytes& es) {
    codec::H264AccessUnitScanner scanner;
    scanner.Feed(es.data(), es.size());
    scanner.Finish();
    return scanner.TakeUnits();
}

std::vector<std::uint64_t> UnitOffsets(const Bytes& es) {
    std::vector<std::uint64_t> offsets;
    for (const codec::AccessUnit& u : Units(es)) offsets.push_back(u.offset);
    return offsets;
}

Bytes PesHeader(std::uint64_t pts, int payloadLength = 0) {
    Bytes h = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, 5, 0, 0, 0, 0, 0};
    if (payloadLength > 0) {
        const int length = payloadLength + 8;
        h[4] = static_cast<std::uint8_t>(length >> 8);
        h[5] = static_cast<std::uint8_t>(length);
    }
    h[9] = static_cast<std::uint8_t>(0x21 | ((pts >> 29) & 0x0E));
    h[10] = static_cast<std::uint8_t>(pts >> 22);
    h[11] = static_cast<std::uint8_t>((pts >> 14) | 1);
    h[12] = static_cast<std::uint8_t>(pts >> 7);
    h[13] = static_cast<std::uint8_t>((pts << 1) | 1);
    return h;
}

// Feeds a PES packet (header and data) in pieces of a transport packet's
// payload; each piece's position is 1000 times its number.
class Feeder {
  public:
    explicit Feeder(codec::AccessUnitAssembler& assembler) : m_assembler(assembler) {}
    void Pes(const Bytes& header, const std::uint8_t* data, std::size_t size) {
        Bytes pes = header;
        pes.insert(pes.end(), data, data + size);
        for (std::size_t at = 0; at < pes.size(); at += 184) {
            codec::VideoPayload payload;
            payload.data = pes.data() + at;
            payload.length = static_cast<int>(std::min<std::size_t>(184, pes.size() - at));
            payload.positionAfter = 1000 * ++m_packets;
            m_assembler.Feed(payload, at == 0, std::exchange(m_lost, false));
        }
    }
    // Packets were lost before the next one.
    void LoseNext() { m_lost = true; }

  private:
    codec::AccessUnitAssembler& m_assembler;
    std::uint64_t m_packets = 0;
    bool m_lost = false;
};

// PES packets that do not follow the access units: a stamp goes to the unit
// that begins in its PES first; every unit gets the stamp of the last PES
// before its first byte; the bytes are the stream's own.
TEST(AccessUnitAssembler, GivesUnitsWholeWithTheStampsOfTheirPes) {
    const Bytes& es = Stream();
    const std::vector<std::uint64_t> at = UnitOffsets(es);
    ASSERT_GE(at.size(), 8u);
    codec::AccessUnitAssembler assembler(std::make_unique<codec::H264AccessUnitScanner>());
    Feeder feed(assembler);
    // PES 1: units 0 and the first 100 bytes of 1; PES 2: the rest of 1 and
    // unit 2; PES 3: units 3 to 5, one packet lost inside unit 4's; PES 4:
    // units 6 and 7, its length said.
    const std::size_t split = static_cast<std::size_t>(at[1]) + 100;
    feed.Pes(PesHeader(1000), es.data(), split);
    feed.Pes(PesHeader(2000), es.data() + split, static_cast<std::size_t>(at[3]) - split);
    const std::size_t unit4 = static_cast<std::size_t>(at[4]);
    feed.Pes(PesHeader(3000), es.data() + at[3], unit4 + 200 - static_cast<std::size_t>(at[3]));
    feed.LoseNext();
    feed.Pes(PesHeader(3500), es.data() + unit4 + 300, static_cast<std::size_t>(at[6]) - unit4 - 300);
    const auto lastSize = static_cast<int>(at[7] - at[6]) + static_cast<int>(at.size() > 8 ? at[8] - at[7] : 0);
    feed.Pes(PesHeader(4000, lastSize), es.data() + at[6], static_cast<std::size_t>(lastSize));
    assembler.Finish();
    const std::vector<codec::AssembledUnit> units = assembler.TakeUnits();
    ASSERT_EQ(units.size(), 8u);
    for (std::size_t i = 0; i < units.size(); ++i) {
        SCOPED_TRACE(i);
        if (i != 4) {
            const std::size_t end = i + 1 < at.size() ? static_cast<std::size_t>(at[i + 1]) : es.size();
            EXPECT_EQ(units[i].bytes, Bytes(es.begin() + static_cast<std::ptrdiff_t>(at[i]),
                                            es.begin() + static_cast<std::ptrdiff_t>(end)));
        }
        EXPECT_EQ(units[i].damaged, i == 4);
        EXPECT_FALSE(units[i].cutShort);  // the last PES said how long it is
    }
    EXPECT_TRUE(units[0].hasPts && units[0].pts == 1000);
    EXPECT_FALSE(units[1].hasPts);
    EXPECT_EQ(units[1].stamp, 1000u);
    EXPECT_TRUE(units[2].hasPts && units[2].pts == 2000);
    EXPECT_TRUE(units[3].hasPts && units[3].pts == 3000);
    EXPECT_TRUE(units[5].hasPts && units[5].pts == 3500);
    EXPECT_TRUE(units[6].hasPts && units[6].pts == 4000);
    EXPECT_FALSE(units[7].hasPts);
    EXPECT_EQ(units[7].stamp, 4000u);
    // Unit 2 begins in the first packet of PES 2 (each PES begins a packet).
    EXPECT_EQ(units[0].position, 1000u);
}

// Without a length the last PES may have been cut by the end of the data:
// its last unit is given cut short.
TEST(AccessUnitAssembler, TheLastUnitOfAnOpenEndedPesIsCutShort) {
    const Bytes& es = Stream();
    const std::vector<std::uint64_t> at = UnitOffsets(es);
    codec::AccessUnitAssembler assembler(std::make_unique<codec::H264AccessUnitScanner>());
    Feeder feed(assembler);
    feed.Pes(PesHeader(1000), es.data(), static_cast<std::size_t>(at[3]));
    assembler.Finish();
    const std::vector<codec::AssembledUnit> units = assembler.TakeUnits();
    ASSERT_EQ(units.size(), 3u);
    EXPECT_FALSE(units[1].cutShort);
    EXPECT_TRUE(units[2].cutShort);
}

// Only frame_num and pic_order_cnt_lsb of a rewritten slice differ from the
// source slice's: every other bit is as it was (the emulation prevention
// done anew is taken off again to compare).
TEST(H264SpliceRewriter, ChangesOnlyTheCountsOfEachSlice) {
    const Bytes& es = Stream();
    const std::vector<std::uint64_t> at = UnitOffsets(es);
    auto unit = [&](std::size_t i) {
        const std::size_t end = i + 1 < at.size() ? static_cast<std::size_t>(at[i + 1]) : es.size();
        return Bytes(es.begin() + static_cast<std::ptrdiff_t>(at[i]), es.begin() + static_cast<std::ptrdiff_t>(end));
    };
    codec::H264SpliceRewriter rewriter;
    // The first group of pictures, then a splice to the I picture of a later
    // group (a recovery point, no IDR picture).
    for (std::size_t i = 0; i < 10; ++i) {
        Bytes au = unit(i);
        rewriter.Write(au, rewriter.Inspect(au));
    }
    const std::vector<codec::AccessUnit> units = Units(es);
    std::size_t point = 30;
    while (point < units.size() && units[point].randomAccess != codec::RandomAccess::RecoveryPoint) ++point;
    ASSERT_LT(point + 4, at.size());
    rewriter.Splice();
    for (std::size_t i = point; i < point + 4; ++i) {
        const Bytes source = unit(i);
        Bytes au = source;
        const auto picture = rewriter.Inspect(au);
        rewriter.Write(au, picture);
        EXPECT_TRUE(rewriter.Shifting());
        const auto before = codec::SplitNals(source.data(), source.size());
        const auto after = codec::SplitNals(au.data(), au.size());
        ASSERT_EQ(before.size(), after.size());
        for (std::size_t n = 0; n < before.size(); ++n) {
            const std::uint8_t* b = source.data() + before[n].begin;
            const std::uint8_t* a = au.data() + after[n].begin;
            if (!codec::h264::IsSlice(codec::h264::NalType(b[0]))) {
                EXPECT_EQ(Bytes(b, source.data() + before[n].end), Bytes(a, a + (after[n].end - after[n].begin)));
                continue;
            }
            codec::h264::SliceHeader old, now;
            std::map<int, codec::h264::Sps> sps;
            std::map<int, codec::h264::Pps> pps;
            for (const auto& nal : codec::SplitNals(es.data(), static_cast<std::size_t>(at[1]))) {
                const std::uint8_t* p = es.data() + nal.begin;
                if (codec::h264::NalType(p[0]) == codec::h264::kSps) {
                    codec::h264::Sps s;
                    ASSERT_EQ(ParseSps(p + 1, nal.end - nal.begin - 1, s), codec::ParseResult::Ok);
                    sps[s.id] = s;
                }
                if (codec::h264::NalType(p[0]) == codec::h264::kPps) {
                    codec::h264::Pps s;
                    ASSERT_EQ(ParsePps(p + 1, nal.end - nal.begin - 1, s), codec::ParseResult::Ok);
                    pps[s.id] = s;
                }
            }
            ASSERT_EQ(ParseSliceHeader(b, before[n].end - before[n].begin, pps, sps, old), codec::ParseResult::Ok);
            ASSERT_EQ(ParseSliceHeader(a, after[n].end - after[n].begin, pps, sps, now), codec::ParseResult::Ok);
            Bytes rbspOld = codec::Unescape(b + 1, before[n].end - before[n].begin - 1);
            Bytes rbspNew = codec::Unescape(a + 1, after[n].end - after[n].begin - 1);
            ASSERT_EQ(rbspOld.size(), rbspNew.size());
            // Both fields as in the source: the rest must be the same.
            codec::PutBits(rbspNew, now.frameNumBit, now.frameNumBits, static_cast<std::uint32_t>(old.frameNum));
            codec::PutBits(rbspNew, now.pocLsbBit, now.pocLsbBits, static_cast<std::uint32_t>(old.pocLsb));
            EXPECT_TRUE(rbspOld == rbspNew);
        }
    }
}

// Emulation prevention done anew: a 00 00 0x the new bits make gets its 03,
// one they break loses it, and cabac_zero_words at the end keep a final 03.
TEST(AnnexBNals, EscapeUndoesUnescapeAndGuardsEveryZeroRun) {
    const Bytes rbsp = {0x25, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0x7F, 0x00, 0x00};
    const Bytes escaped = codec::Escape(rbsp);
    EXPECT_EQ(escaped, (Bytes{0x25, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x03,
                              0x7F, 0x00, 0x00, 0x03}));
    EXPECT_EQ(codec::Unescape(escaped.data(), escaped.size()), rbsp);
    Bytes changed = rbsp;
    ASSERT_TRUE(codec::PutBits(changed, 24, 8, 0x80));
    EXPECT_EQ(codec::Escape(changed)[3], 0x80);
    EXPECT_FALSE(codec::PutBits(changed, 90, 8, 0));
}

}  // namespace
