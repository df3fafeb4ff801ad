// Field pictures, which ffmpeg's encoder does not make: small streams are
// written here bit by bit, with intra DC-only fields and a P field that
// predicts from the first field of its own frame.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "mpegsnap/snapshot_decoder.h"

namespace {

class BitWriter {
  public:
    void Put(std::uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            m_byte = static_cast<std::uint8_t>((m_byte << 1) | ((value >> i) & 1));
            if (++m_bits == 8) Flush();
        }
    }
    void Put(const char* code) {
        for (const char* c = code; *c; ++c)
            Put(*c == '1' ? 1 : 0, 1);
    }
    void StartCode(int code) {
        while (m_bits != 0)
            Put(0, 1);
        m_out.insert(m_out.end(), {0, 0, 1, static_cast<std::uint8_t>(code)});
    }
    std::vector<std::uint8_t> Finish() {
        StartCode(0xB7);
        return m_out;
    }

  private:
    void Flush() {
        m_out.push_back(m_byte);
        m_byte = 0;
        m_bits = 0;
    }
    std::vector<std::uint8_t> m_out;
    std::uint8_t m_byte = 0;
    int m_bits = 0;
};

constexpr int kWidth = 64;
constexpr int kHeight = 64;

void sequence(BitWriter& w) {
    w.StartCode(0xB3);
    w.Put(kWidth, 12);
    w.Put(kHeight, 12);
    w.Put(2, 4);      // 4:3
    w.Put(3, 4);      // 25 Hz
    w.Put(1000, 18);  // bit rate
    w.Put(1, 1);
    w.Put(20, 10);  // vbv buffer
    w.Put(0, 3);    // constrained, no matrices
    w.StartCode(0xB5);
    w.Put(1, 4);     // sequence extension
    w.Put(0x48, 8);  // main profile, main level
    w.Put(0, 1);     // interlaced sequence
    w.Put(1, 2);     // 4:2:0
    w.Put(0, 2 + 2 + 12);
    w.Put(1, 1);
    w.Put(0, 8 + 1 + 2 + 5);
}

void picture(BitWriter& w, int type, int structure) {
    w.StartCode(0x00);
    w.Put(0, 10);
    w.Put(static_cast<std::uint32_t>(type), 3);
    w.Put(0xFFFF, 16);
    if (type == 2) w.Put("0111");  // full_pel_forward 0, forward_f_code 7
    w.Put(0, 1);
    w.StartCode(0xB5);
    w.Put(8, 4);  // picture coding extension
    w.Put(type == 2 ? 1 : 15, 4);
    w.Put(type == 2 ? 1 : 15, 4);
    w.Put(15, 4);
    w.Put(15, 4);
    w.Put(0, 2);  // intra_dc_precision 8 bits
    w.Put(static_cast<std::uint32_t>(structure), 2);
    w.Put(1, 1);  // top_field_first
    w.Put(0, 8);  // frame_pred_frame_dct ... progressive_frame, composite
}

// dct_dc_size_luminance / chrominance codes for sizes 0 to 8.
const char* const kLumaSize[] = {"100",  "00",    "01",     "101",    "110",
                                 "1110", "11110", "111110", "1111110"};
const char* const kChromaSize[] = {"00",    "01",     "10",      "110",     "1110",
                                   "11110", "111110", "1111110", "11111110"};

void dcBlock(BitWriter& w, bool luma, int difference) {
    int size = 0;
    for (int magnitude = difference < 0 ? -difference : difference; magnitude; magnitude >>= 1)
        ++size;
    w.Put(luma ? kLumaSize[size] : kChromaSize[size]);
    if (size > 0)
        w.Put(
            static_cast<std::uint32_t>(difference < 0 ? difference + (1 << size) - 1 : difference),
            size);
    w.Put("10");  // end of block
}

// An intra field of one luma value, chroma neutral: one slice per
// macroblock row; the DC predictor restarts at 128 in each slice.
void intraField(BitWriter& w, int structure, int value) {
    picture(w, 1, structure);
    for (int row = 0; row < kHeight / 32; ++row) {
        w.StartCode(row + 1);
        w.Put(1, 5);  // quantiser_scale_code
        w.Put(0, 1);
        for (int mb = 0; mb < kWidth / 16; ++mb) {
            w.Put("1");  // address increment 1
            w.Put("1");  // intra
            for (int block = 0; block < 4; ++block)
                dcBlock(w, true, mb == 0 && block == 0 ? value - 128 : 0);
            dcBlock(w, false, 0);
            dcBlock(w, false, 0);
        }
    }
}

// A P field whose every macroblock copies the field of the given parity
// with a zero vector, without residual.
void copyingField(BitWriter& w, int structure, int sourceField) {
    picture(w, 2, structure);
    for (int row = 0; row < kHeight / 32; ++row) {
        w.StartCode(row + 1);
        w.Put(1, 5);
        w.Put(0, 1);
        for (int mb = 0; mb < kWidth / 16; ++mb) {
            w.Put("1");    // address increment 1
            w.Put("001");  // motion compensated, not coded
            w.Put("01");   // field prediction
            w.Put(static_cast<std::uint32_t>(sourceField), 1);
            w.Put("11");  // motion codes 0, 0
        }
    }
}

// A P frame picture whose every macroblock uses dual-prime prediction with
// zero vectors and zero differential vectors.
void dualPrimeFrame(BitWriter& w) {
    picture(w, 2, 3);
    for (int row = 0; row < kHeight / 16; ++row) {
        w.StartCode(row + 1);
        w.Put(1, 5);
        w.Put(0, 1);
        for (int mb = 0; mb < kWidth / 16; ++mb) {
            w.Put("1");    // address increment 1
            w.Put("001");  // motion compensated, not coded
            w.Put("11");   // dual prime
            w.Put("10");   // horizontal: motion code 0, dmvector 0
            w.Put("10");   // vertical: motion code 0, dmvector 0
        }
    }
}

TEST(FieldPictures, TwoIntraFieldsMakeOneFrame) {
    BitWriter w;
    sequence(w);
    intraField(w, 1, 60);   // top field
    intraField(w, 2, 200);  // bottom field, one line down
    const std::vector<std::uint8_t> stream = w.Finish();
    std::vector<mpegsnap::DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFramesFromMemory(stream.data(), stream.size(), 2, frames), 1);
    const mpegsnap::DecodedFrame& frame = frames[0];
    EXPECT_FALSE(frame.progressiveFrame);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; x += 7)
            ASSERT_EQ(frame.y[static_cast<std::size_t>(y * kWidth + x)], y % 2 ? 200 : 60)
                << x << "," << y;
    for (std::uint8_t c : frame.cb)
        ASSERT_EQ(c, 128);
}

TEST(FieldPictures, SecondFieldPredictsFromTheFirstFieldOfItsFrame) {
    BitWriter w;
    sequence(w);
    intraField(w, 1, 60);
    intraField(w, 2, 200);
    // Next frame: an I top field, then a P bottom field copying that top
    // field (field select 0 = the first field of the same frame).
    intraField(w, 1, 90);
    copyingField(w, 2, 0);
    // Third frame: a P bottom field first, copying the bottom field of the
    // reference frame (90 copied from the top), then a P top field copying
    // the reference's top field.
    copyingField(w, 2, 1);
    copyingField(w, 1, 0);
    const std::vector<std::uint8_t> stream = w.Finish();
    std::vector<mpegsnap::DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFramesFromMemory(stream.data(), stream.size(), 3, frames), 3);
    for (int y = 0; y < kHeight; ++y) {
        ASSERT_EQ(frames[1].y[static_cast<std::size_t>(y * kWidth + 5)], 90) << y;
        ASSERT_EQ(frames[2].y[static_cast<std::size_t>(y * kWidth + 5)], 90) << y;
    }
    EXPECT_EQ(frames[1].pictureType, 1);
    EXPECT_EQ(frames[2].pictureType, 2);
}

TEST(FieldPictures, LoneFieldsMakeNoFrame) {
    // Two top fields in a row: the first never gets its second field, the
    // pair is the second and a following bottom field.
    BitWriter w;
    sequence(w);
    intraField(w, 1, 60);
    intraField(w, 1, 100);
    intraField(w, 2, 150);
    const std::vector<std::uint8_t> stream = w.Finish();
    std::vector<mpegsnap::DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFramesFromMemory(stream.data(), stream.size(), 2, frames), 1);
    EXPECT_EQ(frames[0].y[0], 100);
    EXPECT_EQ(frames[0].y[kWidth], 150);
}

}  // namespace

namespace {

TEST(FieldPictures, DualPrimeAveragesBothFieldsOfTheReference) {
    // Reference: top field 60, bottom field 200. Each field of the dual-prime
    // frame averages its own parity (vector 0) with the other parity (the
    // derived vector, half a line toward it): (60 + 200 + 1) / 2 everywhere.
    BitWriter w;
    sequence(w);
    intraField(w, 1, 60);
    intraField(w, 2, 200);
    dualPrimeFrame(w);
    const std::vector<std::uint8_t> stream = w.Finish();
    std::vector<mpegsnap::DecodedFrame> frames;
    ASSERT_EQ(mpegsnap::DecodeFramesFromMemory(stream.data(), stream.size(), 2, frames), 2);
    for (int y = 0; y < kHeight; ++y)
        ASSERT_EQ(frames[1].y[static_cast<std::size_t>(y * kWidth + 9)], 130) << y;
}

}  // namespace
