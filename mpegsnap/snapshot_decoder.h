#pragma once
// The snapshot decoder: decodes the pictures of a short MPEG-1/MPEG-2 video
// elementary stream, or of the video in a program stream, in stream order
// and hands out whole frames, as planes or as a bitmap file image.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mpegsnap/bitmap_converter.h"
#include "mpegsnap/decoded_frame.h"
#include "mpegsnap/frame_buffer.h"
#include "mpegsnap/macroblock_decoder.h"
#include "mpegsnap/picture_header.h"
#include "mpegsnap/sequence_header.h"

namespace mpegsnap {

// Error codes of the decoder (1 is success).
enum DecoderError : int {
    kErrorSetup = -2,      // the stream after the first sequence header cannot be set up
    kErrorState = -3,      // wrong state or bad argument
    kErrorOpen = -4,       // the input cannot be opened or read
    kErrorMemory = -5,     // out of memory
    kErrorNoStart = -6,    // no sequence header, pack header or video PES start code first
    kErrorTruncated = -8,  // the data ends before the header or picture is complete
    kErrorTransport = -9,  // a transport stream, or an unsupported chroma format
};

class SnapshotDecoder {
  public:
    // At most this much of an input file is read: the first frame always
    // lies at the head of the file.
    static constexpr std::size_t kMaxInput = 64u << 20;

    // Takes the input and parses up to the first sequence header: 1 or an
    // error code.
    int Init(std::vector<std::uint8_t> input);
    int InitFile(const std::string& path);

    // Decodes pictures in stream order until a whole frame is complete
    // (a frame picture or the second field of a pair): 1, or an error code.
    int DecodeNextFrame();

    // The frame completed last.
    DecodedFrame CurrentFrame() const;
    FrameView CurrentView() const;
    int ConvertFrame(int kind, std::uint8_t* buffer, std::size_t capacity);

    const SequenceHeader& Sequence() const { return m_sequence; }
    int Error() const { return m_error; }

    // Frees everything; the object can be initialised again.
    void Release();

  private:
    std::size_t NextStartCode(std::size_t from) const;
    std::size_t ParseSequence(std::size_t code, bool first);
    int DecodePicture(std::size_t code);
    bool ReadPictureExtensions(PictureHeader& picture, std::size_t& slice);
    bool FieldCompletesFrame(const PictureHeader& picture) const;
    int DecodeSlices(std::size_t slice, const PictureContext& context);
    int Fail(int error);

    std::vector<std::uint8_t> m_stream;  // the video elementary stream
    std::size_t m_position = 0;
    int m_state = -127;
    int m_error = 0;
    SequenceHeader m_sequence;
    PictureHeader m_picture;
    FrameBuffer m_frames[3];
    int m_forward = 0;   // index of the older reference
    int m_backward = 1;  // index of the newer reference
    int m_target = 2;    // frame being decoded
    // A first field waiting for its second.
    bool m_pendingField = false;
    int m_pendingStructure = 0;
    int m_pendingType = 0;
    int m_output = -1;  // frame completed last
    PictureHeader m_outputPicture;
    bool m_outputProgressive = true;
    MacroblockDecoder m_macroblocks;
    BitmapConverter m_converter;
};

// Decodes the first frame of inputPath into a 24-bit bitmap file named by
// outputPattern (printf-style with one integer argument, 1; a plain name is
// used as it is). Gives 1 when the input cannot be opened or is no video
// stream, 2 when the output buffer cannot be allocated, 0 otherwise; success
// shows in the output file being written.
int DecodeSnapshot(const std::string& inputPath, const std::string& outputPattern);

// Decodes the first count frames in stream order (frame 0 is the snapshot).
// Gives the number of frames decoded, or the decoder's error code when none
// was.
int DecodeFrames(const std::string& path, int count, std::vector<DecodedFrame>& out);
int DecodeFramesFromMemory(const std::uint8_t* data, std::size_t size, int count,
                           std::vector<DecodedFrame>& out);

}  // namespace mpegsnap
