#pragma once
// The slice and macroblock layers: macroblock modes, motion vectors, coded
// block patterns, coefficients with inverse scan and inverse quantisation,
// inverse DCT and motion-compensated reconstruction into the current frame.

#include <cstddef>
#include <cstdint>

#include "mpegsnap/bit_reader.h"
#include "mpegsnap/frame_buffer.h"
#include "mpegsnap/picture_header.h"
#include "mpegsnap/sequence_header.h"
#include "mpegsnap/video_vlc.h"

namespace mpegsnap {

struct PictureContext {
    const SequenceHeader* sequence = nullptr;
    const PictureHeader* picture = nullptr;
    FrameBuffer* current = nullptr;
    const FrameBuffer* forward = nullptr;   // the reference of P pictures, the past one of B
    const FrameBuffer* backward = nullptr;  // the future reference of B pictures
    bool secondField = false;               // the second field of a frame
};

class MacroblockDecoder {
  public:
    MacroblockDecoder();

    void StartPicture(const PictureContext& context);

    // Decodes one slice: code is the last byte of its start code (1..0xAF),
    // data the bytes after it up to the next start code. Gives the address of
    // the last macroblock reconstructed, or -1. A coding error ends the slice
    // there; what was reconstructed before it stays.
    int DecodeSlice(int code, const std::uint8_t* data, std::size_t size);

    int MacroblockCount() const { return m_mbWidth * m_mbHeight; }

  private:
    struct Motion {
        int flags = 0;             // kMbMotionForward / kMbMotionBackward
        int motionType = 2;        // frame pictures: 1 field, 2 frame, 3 dual prime;
                                   // field pictures: 1 field, 2 16x8, 3 dual prime
        int vector[2][2][2] = {};  // [first/second][forward/backward][horizontal/vertical]
        int fieldSelect[2][2] = {};
        int dmVector[2] = {};
    };

    bool DecodeMacroblock(int address);
    void ReconstructSkipped(int address);
    int ReadAddressIncrement();
    bool ReadMotionVectors(int s);
    bool ReadMotionVector(int r, int s, bool fieldInFrame, bool dualPrime);
    void ResetMotionPredictors();
    void ResetDcPredictors();
    void FormPrediction(int mbx, int mby, const Motion& motion);
    void PredictDirection(int mbx, int mby, const Motion& motion, int s, bool average);
    void PredictDualPrime(int mbx, int mby, const Motion& motion);
    const FrameBuffer* Reference(int s, int field) const;
    bool DecodeBlocks(int mbx, int mby, int pattern, bool intra, bool fieldDct);
    bool ReadIntraCoefficients(int component);
    bool ReadNonIntraCoefficients(int component);
    bool ReadEscape(BitReader& reader, int& run, int& level) const;
    template <bool kIntra>
    bool ReadCoefficients(BitReader& reader, const VlcTable& table, const std::uint8_t* matrix,
                          int index, int& sum);
    std::uint8_t* BlockDestination(int block, int mbx, int mby, bool fieldDct,
                                   std::ptrdiff_t& stride) const;

    const VideoVlc& m_vlc;
    BitReader m_reader;
    PictureContext m_context;
    const SequenceHeader* m_sequence = nullptr;
    const PictureHeader* m_picture = nullptr;
    PlaneView m_dest[3];
    int m_mbWidth = 0;
    int m_mbHeight = 0;
    int m_parity = -1;  // -1 frame picture, else the field being decoded
    int m_blockCount = 6;
    const std::uint8_t* m_scan = nullptr;  // scan index -> raster position
    std::uint8_t m_store[64] = {};         // scan index -> column-major block index
    // Quantiser matrices in scan order, [luma/chroma][scan index].
    std::uint8_t m_intraMatrix[2][64] = {};
    std::uint8_t m_nonIntraMatrix[2][64] = {};
    int m_dcMultiplier = 8;
    int m_quantiserScale = 0;
    int m_dcPredictor[3] = {};
    int m_pmv[2][2][2] = {};
    Motion m_motion;
    Motion m_previous;  // skipped macroblocks of B pictures repeat it
    const std::uint8_t* m_matrix = nullptr;
    alignas(16) std::int16_t m_block[64] = {};  // column-major, see Idct
};

}  // namespace mpegsnap
