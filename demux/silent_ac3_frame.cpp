#include "demux/silent_ac3_frame.h"

#include <utility>

#include "demux/audio_frame.h"
#include "demux/bit_packer.h"

namespace {

// Full-bandwidth channels by acmod; acmod 0 is 1+1 (two mono channels).
constexpr int kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
// chbwcod 0: 73 mantissas, in 6 exponent groups of the D45 strategy, whose
// groups each cover 12 mantissas; the LFE channel has 2 groups.
constexpr int kExponentGroups = 6;
constexpr int kLfeExponentGroups = 2;
// Three exponent differences of 0 in one 7-bit group: 25 * 2 + 5 * 2 + 2.
constexpr std::uint32_t kFlatGroup = 62;
constexpr std::uint32_t kExponent = 15;  // the absolute exponent each channel starts with

// CRC-16 of A/52 (x^16 + x^15 + x^2 + 1), register starting at 0, most
// significant bit first.
std::uint16_t Crc16(const std::uint8_t* p, std::size_t n) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= static_cast<std::uint16_t>(p[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

void WriteBsi(BitPacker& w, int acmod, int lfeon) {
    w.Put(8, 5);  // bsid
    w.Put(0, 3);  // bsmod: complete main service
    w.Put(static_cast<std::uint32_t>(acmod), 3);
    if ((acmod & 1) && acmod != 1) w.Put(0, 2);  // cmixlev
    if (acmod & 4) w.Put(0, 2);                  // surmixlev
    if (acmod == 2) w.Put(0, 2);                 // dsurmod
    w.Put(static_cast<std::uint32_t>(lfeon), 1);
    for (int program = 0; program < (acmod == 0 ? 2 : 1); ++program) {
        w.Put(31, 5);  // dialnorm -31 dB
        w.Put(0, 3);   // compre, langcode, audprodie
    }
    w.Put(0, 2);  // copyrightb, origbs
    w.Put(0, 3);  // timecod1e, timecod2e, addbsie
}

// One audio block whose every mantissa is zero: the first block sends flat
// exponents and a bit allocation whose SNR offsets are all 0 (no bits for any
// mantissa); the other five reuse them. Dither is off, so zero is silence.
void WriteBlock(BitPacker& w, int acmod, int lfeon, bool first) {
    const int channels = kChannels[acmod];
    w.Put(0, channels);  // blksw
    w.Put(0, channels);  // dithflag
    w.Put(0, 1);         // dynrnge
    if (acmod == 0) w.Put(0, 1);  // dynrng2e
    w.Put(first ? 1 : 0, 1);      // cplstre
    if (first) w.Put(0, 1);       // cplinu: no coupling
    if (acmod == 2) {
        w.Put(first ? 1 : 0, 1);  // rematstr
        if (first) w.Put(0, 4);   // rematflg of four bands
    }
    for (int ch = 0; ch < channels; ++ch) w.Put(first ? 3 : 0, 2);  // chexpstr: D45 or reuse
    if (lfeon) w.Put(first ? 1 : 0, 1);                               // lfeexpstr
    if (first) {
        for (int ch = 0; ch < channels; ++ch) w.Put(0, 6);  // chbwcod
        for (int ch = 0; ch < channels; ++ch) {
            w.Put(kExponent, 4);
            for (int g = 0; g < kExponentGroups; ++g) w.Put(kFlatGroup, 7);
            w.Put(0, 2);  // gainrng
        }
        if (lfeon) {
            w.Put(kExponent, 4);
            for (int g = 0; g < kLfeExponentGroups; ++g) w.Put(kFlatGroup, 7);
        }
    }
    w.Put(first ? 1 : 0, 1);  // baie
    if (first) {
        w.Put(2, 2);  // sdcycod
        w.Put(1, 2);  // fdcycod
        w.Put(1, 2);  // sgaincod
        w.Put(2, 2);  // dbpbcod
        w.Put(7, 3);  // floorcod
    }
    w.Put(first ? 1 : 0, 1);  // snroffste
    if (first) {
        w.Put(0, 6);  // csnroffst
        for (int ch = 0; ch < channels + lfeon; ++ch) {
            w.Put(0, 4);  // fsnroffst
            w.Put(4, 3);  // fgaincod
        }
    }
    w.Put(0, 1);  // deltbaie
    w.Put(0, 1);  // skiple
}

// crc1 makes the CRC of the frame's first five eighths (from the crc1 word
// on) zero. The CRC is linear in the two bytes of the field: the value is
// found by solving that 16 x 16 system over GF(2).
void SetCrc1(std::vector<std::uint8_t>& frame, std::size_t end) {
    frame[2] = frame[3] = 0;
    const std::uint16_t target = Crc16(frame.data() + 2, end - 2);
    std::vector<std::uint8_t> unit(end - 2, 0);
    std::uint16_t column[16];
    for (int bit = 0; bit < 16; ++bit) {
        unit[0] = static_cast<std::uint8_t>(bit >= 8 ? 1 << (bit - 8) : 0);
        unit[1] = static_cast<std::uint8_t>(bit < 8 ? 1 << bit : 0);
        column[bit] = Crc16(unit.data(), unit.size());
    }
    // Rows: (equation bits as a mask over the 16 unknowns, right-hand side).
    std::uint32_t rows[16];
    for (int r = 0; r < 16; ++r) {
        std::uint32_t mask = 0;
        for (int bit = 0; bit < 16; ++bit)
            if ((column[bit] >> r) & 1) mask |= 1u << bit;
        rows[r] = mask | (((target >> r) & 1u) << 16);
    }
    for (int col = 0, row = 0; col < 16 && row < 16; ++col) {
        int pivot = row;
        while (pivot < 16 && !((rows[pivot] >> col) & 1)) ++pivot;
        if (pivot == 16) continue;
        std::swap(rows[row], rows[pivot]);
        for (int r = 0; r < 16; ++r)
            if (r != row && ((rows[r] >> col) & 1)) rows[r] ^= rows[row];
        ++row;
    }
    // Reduced to the identity: each row names one bit of the field.
    std::uint16_t value = 0;
    for (int r = 0; r < 16; ++r) {
        const std::uint32_t mask = rows[r] & 0xFFFF;
        if (mask != 0 && (mask & (mask - 1)) == 0 && ((rows[r] >> 16) & 1))
            value |= static_cast<std::uint16_t>(mask);
    }
    frame[2] = static_cast<std::uint8_t>(value >> 8);
    frame[3] = static_cast<std::uint8_t>(value);
}

}  // namespace

std::vector<std::uint8_t> SilentAc3Frame(int fscod, int frmsizecod, int acmod, int lfeon) {
    const std::uint8_t header[6] = {0x0B, 0x77, 0, 0,
                                    static_cast<std::uint8_t>((fscod << 6) | (frmsizecod & 0x3F)), 0};
    AudioFrame like;
    if (acmod < 0 || acmod > 7 || frmsizecod < 0 || frmsizecod > 63 ||
        !AudioFrame::ParseAc3(header, 6, like))
        return {};
    std::vector<std::uint8_t> frame;
    BitPacker w(frame);
    w.Put(0x0B77, 16);
    w.Put(0, 16);  // crc1, set below
    w.Put(static_cast<std::uint32_t>(fscod), 2);
    w.Put(static_cast<std::uint32_t>(frmsizecod), 6);
    WriteBsi(w, acmod, lfeon ? 1 : 0);
    for (int block = 0; block < 6; ++block) WriteBlock(w, acmod, lfeon ? 1 : 0, block == 0);
    // The rest is auxiliary data (zero), then auxdatae, crcrsv and crc2.
    frame.resize(static_cast<std::size_t>(like.bytes), 0);
    const std::size_t size = frame.size();
    const std::size_t fiveEighths = ((size >> 2) + (size >> 4)) << 1;
    SetCrc1(frame, fiveEighths);
    const std::uint16_t crc2 = Crc16(frame.data() + fiveEighths, size - fiveEighths - 2);
    frame[size - 2] = static_cast<std::uint8_t>(crc2 >> 8);
    frame[size - 1] = static_cast<std::uint8_t>(crc2);
    return frame;
}
