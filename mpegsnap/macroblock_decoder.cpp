#include "mpegsnap/macroblock_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "mpegsnap/idct.h"
#include "mpegsnap/motion_compensation.h"
#include "mpegsnap/scan_tables.h"

namespace mpegsnap {

namespace {
// Derived vector of dual-prime prediction: the field vector scaled to the
// temporal distance of the opposite-parity field, rounded away from zero.
int dualPrimeScale(int vector, int multiplier) {
    return (vector * multiplier + (vector > 0)) >> 1;
}
}  // namespace

MacroblockDecoder::MacroblockDecoder() : m_vlc(VideoVlc::Get()) {}

void MacroblockDecoder::StartPicture(const PictureContext& context) {
    m_context = context;
    m_sequence = context.sequence;
    m_picture = context.picture;
    m_mbWidth = m_sequence->MacroblockWidth();
    m_mbHeight = m_sequence->MacroblockHeight();
    m_parity = -1;
    if (m_picture->IsField()) {
        m_mbHeight /= 2;
        m_parity = m_picture->structure == kTopField ? 0 : 1;
    }
    for (int plane = 0; plane < 3; ++plane)
        m_dest[plane] = context.current->Plane(plane, m_parity);
    switch (m_sequence->chromaFormat) {
        case kChroma422:
            m_blockCount = 8;
            break;
        case kChroma444:
            m_blockCount = 12;
            break;
        default:
            m_blockCount = 6;
            break;
    }
    m_scan = m_picture->alternateScan ? kAlternateScan : kZigZagScan;
    for (int i = 0; i < 64; ++i) {
        m_store[i] = static_cast<std::uint8_t>(Idct::ColumnMajor(m_scan[i]));
        m_intraMatrix[0][i] = m_sequence->intraMatrix[m_scan[i]];
        m_intraMatrix[1][i] = m_sequence->chromaIntraMatrix[m_scan[i]];
        m_nonIntraMatrix[0][i] = m_sequence->nonIntraMatrix[m_scan[i]];
        m_nonIntraMatrix[1][i] = m_sequence->chromaNonIntraMatrix[m_scan[i]];
    }
    m_dcMultiplier = 8 >> m_picture->intraDcPrecision;
}

void MacroblockDecoder::ResetDcPredictors() {
    const int reset = 1 << (7 + m_picture->intraDcPrecision);
    m_dcPredictor[0] = m_dcPredictor[1] = m_dcPredictor[2] = reset;
}

void MacroblockDecoder::ResetMotionPredictors() {
    std::memset(m_pmv, 0, sizeof(m_pmv));
}

int MacroblockDecoder::DecodeSlice(int code, const std::uint8_t* data, std::size_t size) {
    m_reader.Reset(data, size);
    int row = code - 1;
    if (m_sequence->verticalSize > 2800) row += static_cast<int>(m_reader.Get(3)) << 7;
    if (row < 0 || row >= m_mbHeight) return -1;
    const int scaleCode = static_cast<int>(m_reader.Get(5));
    if (scaleCode == 0) return -1;
    m_quantiserScale = (m_sequence->mpeg2 && m_picture->qScaleType)
                           ? kNonLinearQuantiserScale[scaleCode]
                           : 2 * scaleCode;
    // intra_slice and extra_information_slice bytes.
    while (m_reader.GetBit()) {
        m_reader.Skip(8);
        if (m_reader.Overrun()) return -1;
    }
    ResetDcPredictors();
    ResetMotionPredictors();
    m_previous = Motion{};
    m_previous.flags = 0;
    m_previous.motionType = m_parity < 0 ? 2 : 1;
    m_previous.fieldSelect[0][0] = m_previous.fieldSelect[0][1] = m_parity < 0 ? 0 : m_parity;

    const int count = MacroblockCount();
    int increment = ReadAddressIncrement();
    if (increment <= 0) return -1;
    int address = row * m_mbWidth + increment - 1;
    int last = -1;
    for (;;) {
        if (address >= count || !DecodeMacroblock(address)) return last;
        last = address;
        // The slice ends where only the zero bits before the next start
        // code are left.
        if (m_reader.Overrun() || m_reader.Peek(23) == 0) return last;
        increment = ReadAddressIncrement();
        if (increment <= 0 || address + increment >= count) return last;
        for (int skipped = 1; skipped < increment; ++skipped)
            ReconstructSkipped(address + skipped);
        address += increment;
        last = address - 1;
    }
}

int MacroblockDecoder::ReadAddressIncrement() {
    int total = 0;
    for (;;) {
        const int value = m_vlc.macroblockAddressIncrement.Decode(m_reader);
        if (m_reader.Overrun() || value == VlcTable::kInvalid) return -1;
        if (value == kMbaStuffing) continue;
        if (value == kMbaEscape) {
            total += 33;
            if (total > MacroblockCount()) return -1;
            continue;
        }
        return total + value;
    }
}

bool MacroblockDecoder::DecodeMacroblock(int address) {
    const int mbx = address % m_mbWidth;
    const int mby = address / m_mbWidth;
    const int type = m_picture->codingType;
    const VlcTable& table = type == kPictureP   ? m_vlc.macroblockTypeP
                            : type == kPictureB ? m_vlc.macroblockTypeB
                                                : m_vlc.macroblockTypeI;
    const int flags = table.Decode(m_reader);
    if (flags == VlcTable::kInvalid) return false;
    const bool frame = m_parity < 0;

    m_motion = Motion{};
    m_motion.flags = flags & (kMbMotionForward | kMbMotionBackward);
    m_motion.motionType = frame ? 2 : 1;
    if (m_motion.flags != 0 && !(frame && m_picture->framePredFrameDct)) {
        m_motion.motionType = static_cast<int>(m_reader.Get(2));
        if (m_motion.motionType == 0) return false;
        // Dual prime only predicts P pictures.
        if (m_motion.motionType == 3 && type != kPictureP) return false;
    }
    bool fieldDct = false;
    if (frame && !m_picture->framePredFrameDct && (flags & (kMbIntra | kMbPattern)))
        fieldDct = m_reader.GetBit();
    if (flags & kMbQuant) {
        const int scaleCode = static_cast<int>(m_reader.Get(5));
        if (scaleCode == 0) return false;
        m_quantiserScale = (m_sequence->mpeg2 && m_picture->qScaleType)
                               ? kNonLinearQuantiserScale[scaleCode]
                               : 2 * scaleCode;
    }

    if (flags & kMbIntra) {
        if (m_picture->concealmentMotionVectors) {
            // Kept for the predictors only: the pictures decoded here are
            // intact or not concealed.
            if (!ReadMotionVectors(0)) return false;
            m_reader.Skip(1);  // marker
        } else {
            ResetMotionPredictors();
        }
        m_previous.flags = 0;
        return DecodeBlocks(mbx, mby, 0, true, fieldDct);
    }

    ResetDcPredictors();
    if ((flags & kMbMotionForward) && !ReadMotionVectors(0)) return false;
    if ((flags & kMbMotionBackward) && !ReadMotionVectors(1)) return false;
    if (type == kPictureP && !(flags & kMbMotionForward)) {
        // "No motion compensation": zero vector from the same-parity field.
        ResetMotionPredictors();
        m_motion.flags = kMbMotionForward;
        m_motion.motionType = frame ? 2 : 1;
        m_motion.fieldSelect[0][0] = frame ? 0 : m_parity;
    }
    int pattern = 0;
    if (flags & kMbPattern) {
        pattern = m_vlc.codedBlockPattern.Decode(m_reader);
        if (pattern == VlcTable::kInvalid) return false;
        if (m_sequence->chromaFormat == kChroma422)
            pattern = (pattern << 2) | static_cast<int>(m_reader.Get(2));
        else if (m_sequence->chromaFormat == kChroma444)
            pattern = (pattern << 6) | static_cast<int>(m_reader.Get(6));
    }
    if (m_reader.Overrun()) return false;
    FormPrediction(mbx, mby, m_motion);
    m_previous = m_motion;
    return DecodeBlocks(mbx, mby, pattern, false, fieldDct);
}

void MacroblockDecoder::ReconstructSkipped(int address) {
    const int mbx = address % m_mbWidth;
    const int mby = address / m_mbWidth;
    ResetDcPredictors();
    const int type = m_picture->codingType;
    if (type == kPictureP) {
        // Zero vector from the same-parity field or the frame.
        ResetMotionPredictors();
        Motion motion;
        motion.flags = kMbMotionForward;
        motion.motionType = m_parity < 0 ? 2 : 1;
        motion.fieldSelect[0][0] = m_parity < 0 ? 0 : m_parity;
        FormPrediction(mbx, mby, motion);
    } else if (type == kPictureB) {
        // The prediction of the macroblock before, with its vectors.
        Motion motion = m_previous;
        if (motion.flags == 0) motion.flags = kMbMotionForward;
        FormPrediction(mbx, mby, motion);
    }
}

bool MacroblockDecoder::ReadMotionVectors(int s) {
    const bool frame = m_parity < 0;
    const int type = m_motion.motionType;
    const bool dualPrime = type == 3;
    const bool fieldFormat = !frame || type != 2;
    const int count = frame ? (type == 1 ? 2 : 1) : (type == 2 ? 2 : 1);
    if (count == 1) {
        if (fieldFormat && !dualPrime) m_motion.fieldSelect[0][s] = m_reader.GetBit();
        if (!ReadMotionVector(0, s, frame && fieldFormat, dualPrime)) return false;
        m_pmv[1][s][0] = m_pmv[0][s][0];
        m_pmv[1][s][1] = m_pmv[0][s][1];
    } else {
        for (int r = 0; r < 2; ++r) {
            m_motion.fieldSelect[r][s] = m_reader.GetBit();
            if (!ReadMotionVector(r, s, frame, false)) return false;
        }
    }
    return !m_reader.Overrun();
}

bool MacroblockDecoder::ReadMotionVector(int r, int s, bool fieldInFrame, bool dualPrime) {
    for (int t = 0; t < 2; ++t) {
        const int code = m_vlc.motionCode.Decode(m_reader);
        if (code == VlcTable::kInvalid) return false;
        const int fCode = m_picture->fCode[s][t];
        if (fCode < 1 || fCode > 9) return false;
        const int rSize = fCode - 1;
        const int f = 1 << rSize;
        int delta = code;
        if (f != 1 && code != 0) {
            const int residual = static_cast<int>(m_reader.Get(rSize));
            delta = (std::abs(code) - 1) * f + residual + 1;
            if (code < 0) delta = -delta;
        }
        if (dualPrime) {
            const int dm = m_vlc.dmVector.Decode(m_reader);
            if (dm == VlcTable::kInvalid) return false;
            m_motion.dmVector[t] = dm;
        }
        const bool halved = fieldInFrame && t == 1;
        int vector = (halved ? m_pmv[r][s][t] >> 1 : m_pmv[r][s][t]) + delta;
        // Vectors wrap around within their range.
        if (vector < -16 * f) vector += 32 * f;
        if (vector > 16 * f - 1) vector -= 32 * f;
        m_pmv[r][s][t] = halved ? vector * 2 : vector;
        m_motion.vector[r][s][t] = vector;
    }
    return true;
}

const FrameBuffer* MacroblockDecoder::Reference(int s, int field) const {
    // The second field of a P frame may predict from the first field of the
    // same frame.
    if (s == 0 && m_parity >= 0 && m_context.secondField && m_picture->codingType == kPictureP &&
        field != m_parity)
        return m_context.current;
    return s == 0 ? m_context.forward : m_context.backward;
}

void MacroblockDecoder::FormPrediction(int mbx, int mby, const Motion& motion) {
    if (motion.motionType == 3 && m_picture->codingType == kPictureP) {
        PredictDualPrime(mbx, mby, motion);
        return;
    }
    bool average = false;
    for (int s = 0; s < 2; ++s) {
        if (!(motion.flags & (s == 0 ? kMbMotionForward : kMbMotionBackward))) continue;
        PredictDirection(mbx, mby, motion, s, average);
        average = true;
    }
}

void MacroblockDecoder::PredictDirection(int mbx, int mby, const Motion& motion, int s,
                                         bool average) {
    const FrameBuffer& current = *m_context.current;
    const int chroma = m_sequence->chromaFormat;
    const int x = 16 * mbx;
    if (m_parity < 0) {
        if (motion.motionType == 1) {
            for (int r = 0; r < 2; ++r) {
                const int field = motion.fieldSelect[r][s];
                MotionCompensation::Predict(*Reference(s, field), field, current, r, chroma, x,
                                            8 * mby, 16, 8, motion.vector[r][s][0],
                                            motion.vector[r][s][1], average);
            }
            return;
        }
        // MPEG-1 full-sample vectors count whole samples.
        const bool fullPel = s == 0 ? m_picture->fullPelForward : m_picture->fullPelBackward;
        const int scale = fullPel ? 2 : 1;
        MotionCompensation::Predict(*Reference(s, -1), -1, current, -1, chroma, x, 16 * mby, 16, 16,
                                    motion.vector[0][s][0] * scale, motion.vector[0][s][1] * scale,
                                    average);
        return;
    }
    const int parts = motion.motionType == 2 ? 2 : 1;
    const int height = 16 / parts;
    for (int r = 0; r < parts; ++r) {
        const int field = motion.fieldSelect[r][s];
        MotionCompensation::Predict(*Reference(s, field), field, current, m_parity, chroma, x,
                                    16 * mby + height * r, 16, height, motion.vector[r][s][0],
                                    motion.vector[r][s][1], average);
    }
}

void MacroblockDecoder::PredictDualPrime(int mbx, int mby, const Motion& motion) {
    const FrameBuffer& current = *m_context.current;
    const FrameBuffer& forward = *m_context.forward;
    const int chroma = m_sequence->chromaFormat;
    const int mvx = motion.vector[0][0][0];
    const int mvy = motion.vector[0][0][1];
    const int dmx = motion.dmVector[0];
    const int dmy = motion.dmVector[1];
    const int x = 16 * mbx;
    if (m_parity < 0) {
        // Opposite-parity vectors, per predicted field; the field one field
        // period away gets multiplier 1, the one three periods away 3.
        const int near = m_picture->topFieldFirst ? 0 : 1;
        int ox[2], oy[2];
        for (int p = 0; p < 2; ++p) {
            const int multiplier = p == near ? 1 : 3;
            ox[p] = dualPrimeScale(mvx, multiplier) + dmx;
            oy[p] = dualPrimeScale(mvy, multiplier) + dmy + (p == 0 ? -1 : 1);
        }
        for (int p = 0; p < 2; ++p) {
            MotionCompensation::Predict(forward, p, current, p, chroma, x, 8 * mby, 16, 8, mvx, mvy,
                                        false);
            MotionCompensation::Predict(forward, 1 - p, current, p, chroma, x, 8 * mby, 16, 8,
                                        ox[p], oy[p], true);
        }
        return;
    }
    const int ox = dualPrimeScale(mvx, 1) + dmx;
    const int oy = dualPrimeScale(mvy, 1) + dmy + (m_parity == 0 ? -1 : 1);
    MotionCompensation::Predict(forward, m_parity, current, m_parity, chroma, x, 16 * mby, 16, 16,
                                mvx, mvy, false);
    MotionCompensation::Predict(*Reference(0, 1 - m_parity), 1 - m_parity, current, m_parity,
                                chroma, x, 16 * mby, 16, 16, ox, oy, true);
}

std::uint8_t* MacroblockDecoder::BlockDestination(int block, int mbx, int mby, bool fieldDct,
                                                  std::ptrdiff_t& stride) const {
    if (block < 4) {
        const PlaneView& view = m_dest[0];
        const int x = 16 * mbx + 8 * (block & 1);
        const int y = 16 * mby + (fieldDct ? (block >> 1) : 8 * (block >> 1));
        stride = fieldDct ? 2 * view.stride : view.stride;
        return view.data + y * view.stride + x;
    }
    const PlaneView& view = m_dest[1 + (block & 1)];
    const int chroma = m_sequence->chromaFormat;
    if (chroma == kChroma420) {
        stride = view.stride;
        return view.data + 8 * mby * view.stride + 8 * mbx;
    }
    // 4:2:2 and 4:4:4 chroma macroblocks are 16 lines high, coded like
    // luma: ordinal j runs down, then across.
    const int j = (block - 4) >> 1;
    const int width = chroma == kChroma444 ? 16 : 8;
    const int x = width * mbx + 8 * (j >> 1);
    const int y = 16 * mby + (fieldDct ? (j & 1) : 8 * (j & 1));
    stride = fieldDct ? 2 * view.stride : view.stride;
    return view.data + y * view.stride + x;
}

bool MacroblockDecoder::DecodeBlocks(int mbx, int mby, int pattern, bool intra, bool fieldDct) {
    for (int block = 0; block < m_blockCount; ++block) {
        if (!intra && !(pattern & (1 << (m_blockCount - 1 - block)))) continue;
        const int component = block < 4 ? 0 : 1 + (block & 1);
        const bool ok =
            intra ? ReadIntraCoefficients(component) : ReadNonIntraCoefficients(component);
        if (!ok || m_reader.Overrun()) {
            std::memset(m_block, 0, sizeof(m_block));
            return false;
        }
        std::ptrdiff_t stride = 0;
        std::uint8_t* dest = BlockDestination(block, mbx, mby, fieldDct, stride);
        if (intra)
            Idct::Put(m_block, dest, stride);
        else
            Idct::Add(m_block, dest, stride);
        std::memset(m_block, 0, sizeof(m_block));
    }
    return true;
}

bool MacroblockDecoder::ReadEscape(BitReader& reader, int& run, int& level) const {
    // After Need(32): the escape's fields take at most 28 bits.
    run = static_cast<int>(reader.Show(6));
    reader.Drop(6);
    if (m_sequence->mpeg2) {
        const int coded = static_cast<int>(reader.Show(12));
        reader.Drop(12);
        if ((coded & 0x7FF) == 0) return false;  // 0 and -2048 are forbidden
        level = coded >= 2048 ? coded - 4096 : coded;
        return true;
    }
    // MPEG-1: 8 bits, extended by 8 more for magnitudes of 128 and above.
    const int coded = static_cast<int>(reader.Show(8));
    reader.Drop(8);
    if (coded == 0 || coded == 128) {
        level = static_cast<int>(reader.Show(8)) - (coded == 128 ? 256 : 0);
        reader.Drop(8);
    } else {
        level = coded > 128 ? coded - 256 : coded;
    }
    return level != 0;
}

// The coefficient loop shared by intra and non-intra blocks: reads
// run/level pairs up to the end of block, dequantises them with
// magnitude = ((2 * |level| + bias) * W * scale) >> shift and stores them,
// saturated, in column-major order. Gives false on a coding error.
template <bool kIntra>
bool MacroblockDecoder::ReadCoefficients(BitReader& reader, const VlcTable& table,
                                         const std::uint8_t* matrix, int index, int& sum) {
    const int scale = m_quantiserScale;
    const bool oddify = !m_sequence->mpeg2;  // MPEG-1 makes every level odd
    std::int16_t* block = m_block;
    bool first = !kIntra;
    for (;;) {
        reader.Need(32);
        int run, absolute, negative;  // negative: 0 or -1
        if (!kIntra && first && reader.Show(1)) {
            // The first coefficient of a non-intra block codes run 0,
            // level 1 as "1s".
            run = 0;
            absolute = 1;
            negative = -static_cast<int>(reader.Show(2) & 1);
            reader.Drop(2);
        } else {
            const int value = table.DecodeNeeded(reader);
            if (value >= 0) {
                run = DctRun(value);
                absolute = DctLevel(value);
                negative = -static_cast<int>(reader.Show(1));
                reader.Drop(1);
            } else if (value == kDctEndOfBlock) {
                return !first;
            } else {
                int level = 0;
                if (value != kDctEscape || !ReadEscape(reader, run, level)) return false;
                negative = level < 0 ? -1 : 0;
                absolute = level < 0 ? -level : level;
            }
        }
        first = false;
        index += run + 1;
        if (index > 63) return false;
        int magnitude = kIntra ? (absolute * matrix[index] * scale) >> 4
                               : ((2 * absolute + 1) * matrix[index] * scale) >> 5;
        if (oddify && magnitude != 0 && (magnitude & 1) == 0) --magnitude;
        // Saturation to -2048..2047 and the sign, without branches: the sign
        // is as good as random.
        magnitude = std::min(magnitude, 2047 - negative);
        const int coefficient = (magnitude ^ negative) - negative;
        block[m_store[index]] = static_cast<std::int16_t>(coefficient);
        sum += coefficient;
    }
}

bool MacroblockDecoder::ReadIntraCoefficients(int component) {
    const VlcTable& sizes = component == 0 ? m_vlc.dcSizeLuma : m_vlc.dcSizeChroma;
    const int size = sizes.Decode(m_reader);
    if (size == VlcTable::kInvalid) return false;
    int difference = 0;
    if (size > 0) {
        const int bits = static_cast<int>(m_reader.Get(size));
        difference = bits < (1 << (size - 1)) ? bits - (1 << size) + 1 : bits;
    }
    // A damaged stream may drive the predictor anywhere; keep it in the range
    // the DC can take.
    int& predictor = m_dcPredictor[component];
    predictor = std::clamp(predictor + difference, 0, 2047);
    int dc = predictor * m_dcMultiplier;
    if (dc > 2047) dc = 2047;
    m_block[0] = static_cast<std::int16_t>(dc);
    int sum = dc;

    const VlcTable& table = m_picture->intraVlcFormat ? m_vlc.dctTableOne : m_vlc.dctTableZero;
    BitReader reader = m_reader;  // kept in registers through the loop
    const bool ok =
        ReadCoefficients<true>(reader, table, m_intraMatrix[component == 0 ? 0 : 1], 0, sum);
    m_reader = reader;
    // Mismatch control on the last coefficient (63 in either order).
    if (m_sequence->mpeg2 && (sum & 1) == 0) m_block[63] ^= 1;
    return ok;
}

bool MacroblockDecoder::ReadNonIntraCoefficients(int component) {
    int sum = 0;
    BitReader reader = m_reader;
    const bool ok = ReadCoefficients<false>(reader, m_vlc.dctTableZero,
                                            m_nonIntraMatrix[component == 0 ? 0 : 1], -1, sum);
    m_reader = reader;
    if (m_sequence->mpeg2 && (sum & 1) == 0) m_block[63] ^= 1;
    return ok;
}

}  // namespace mpegsnap
