#include "mpegsnap/snapshot_decoder.h"

#include <algorithm>
#include <new>
#include <utility>

#include "mpegsnap/program_stream_reader.h"
#include "platform/file.h"

namespace mpegsnap {

namespace {
constexpr std::size_t kNoStartCode = static_cast<std::size_t>(-1);
constexpr int kPictureStart = 0x00;
constexpr int kLastSliceCode = 0xAF;
constexpr int kUserData = 0xB2;
constexpr int kSequenceHeader = 0xB3;
constexpr int kExtension = 0xB5;
constexpr int kPackHeader = 0xBA;
constexpr int kVideoStream = 0xE0;
constexpr std::uint8_t kTransportSync = 0x47;

enum ExtensionId : int {
    kSequenceExtension = 1,
    kSequenceDisplayExtension = 2,
    kQuantMatrixExtension = 3,
    kPictureCodingExtension = 8,
};

bool isSlice(int code) {
    return code >= 1 && code <= kLastSliceCode;
}
}  // namespace

std::size_t SnapshotDecoder::NextStartCode(std::size_t from) const {
    // Gives the index of the code byte after a 00 00 01 prefix.
    const std::uint8_t* data = m_stream.data();
    const std::size_t size = m_stream.size();
    for (std::size_t i = from; i + 3 < size; ++i) {
        if (data[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
    }
    return kNoStartCode;
}

int SnapshotDecoder::Fail(int error) {
    m_error = error;
    return error;
}

int SnapshotDecoder::InitFile(const std::string& path) {
    if (m_state != -127) return Fail(kErrorState);
    std::vector<std::uint8_t> input;
    try {
        platform::PlatformFile file;
        platform::FileError error;
        if (!file.Open(path, platform::modeRead, &error)) return Fail(kErrorOpen);
        const std::uint64_t length = std::min<std::uint64_t>(file.Length(), kMaxInput);
        input.resize(static_cast<std::size_t>(length));
        input.resize(file.ReadAt(0, input.data(), input.size()));
    } catch (const platform::FileException&) {
        return Fail(kErrorOpen);
    } catch (const std::bad_alloc&) {
        return Fail(kErrorMemory);
    }
    return Init(std::move(input));
}

int SnapshotDecoder::Init(std::vector<std::uint8_t> input) {
    if (m_state != -127) return Fail(kErrorState);
    if (input.empty()) return Fail(kErrorTruncated);
    if (input[0] == kTransportSync) return Fail(kErrorTransport);
    m_stream = std::move(input);
    const std::size_t first = NextStartCode(0);
    if (first == kNoStartCode) return Fail(kErrorTruncated);
    const int code = m_stream[first];
    if (code == kPackHeader || code == kVideoStream) {
        std::vector<std::uint8_t> video;
        try {
            ProgramStreamReader(kVideoStream).Extract(m_stream.data(), m_stream.size(), video);
        } catch (const std::bad_alloc&) {
            return Fail(kErrorMemory);
        }
        m_stream = std::move(video);
    } else if (code != kSequenceHeader) {
        return Fail(kErrorNoStart);
    }

    std::size_t header = NextStartCode(0);
    while (header != kNoStartCode && m_stream[header] != kSequenceHeader)
        header = NextStartCode(header + 1);
    if (header == kNoStartCode) return Fail(kErrorTruncated);
    m_position = ParseSequence(header, true);
    if (m_sequence.horizontalSize == 0 || m_position == kNoStartCode) return Fail(kErrorTruncated);
    if (m_sequence.chromaFormat < kChroma420 || m_sequence.chromaFormat > kChroma444)
        return Fail(kErrorTransport);
    if (!m_sequence.IsSupported()) return Fail(kErrorSetup);
    try {
        for (FrameBuffer& frame : m_frames)
            frame.Allocate(m_sequence.MacroblockWidth(), m_sequence.MacroblockHeight(),
                           m_sequence.chromaFormat);
    } catch (const std::bad_alloc&) {
        return Fail(kErrorMemory);
    }
    m_state = 1;
    return 1;
}

std::size_t SnapshotDecoder::ParseSequence(std::size_t code, bool first) {
    // The header with the extensions and user data that follow it; gives
    // the start code after them.
    SequenceHeader parsed = m_sequence;
    std::size_t next = NextStartCode(code + 1);
    const std::size_t end = next == kNoStartCode ? m_stream.size() : next - 3;
    BitReader reader(m_stream.data() + code + 1, end - code - 1);
    bool valid = parsed.ParseHeader(reader);
    while (valid && next != kNoStartCode) {
        const int nextCode = m_stream[next];
        if (nextCode != kExtension && nextCode != kUserData) break;
        const std::size_t after = NextStartCode(next + 1);
        const std::size_t stop = after == kNoStartCode ? m_stream.size() : after - 3;
        if (nextCode == kExtension) {
            BitReader extension(m_stream.data() + next + 1, stop - next - 1);
            const int id = static_cast<int>(extension.Get(4));
            if (id == kSequenceExtension)
                valid = parsed.ParseSequenceExtension(extension);
            else if (id == kSequenceDisplayExtension)
                parsed.ParseDisplayExtension(extension);
            else if (id == kQuantMatrixExtension)
                parsed.ParseQuantMatrixExtension(extension);
        }
        next = after;
    }
    if (!valid) return next == kNoStartCode ? kNoStartCode : next - 3;
    // The frame buffers are laid out for the first sequence: a later header
    // that changes the picture size or format is ignored.
    if (first ||
        (parsed.horizontalSize == m_sequence.horizontalSize &&
         parsed.verticalSize == m_sequence.verticalSize &&
         parsed.chromaFormat == m_sequence.chromaFormat && parsed.mpeg2 == m_sequence.mpeg2 &&
         parsed.progressiveSequence == m_sequence.progressiveSequence))
        m_sequence = parsed;
    return next == kNoStartCode ? kNoStartCode : next - 3;
}

int SnapshotDecoder::DecodeNextFrame() {
    if (m_state != 1) return Fail(kErrorState);
    for (;;) {
        const std::size_t code =
            m_position == kNoStartCode ? kNoStartCode : NextStartCode(m_position);
        if (code == kNoStartCode) return Fail(kErrorTruncated);
        const int value = m_stream[code];
        if (value == kSequenceHeader) {
            m_position = ParseSequence(code, false);
            continue;
        }
        if (value != kPictureStart) {
            m_position = code + 1;
            continue;
        }
        const int result = DecodePicture(code);
        if (result != 0) return result;
    }
}

bool SnapshotDecoder::ReadPictureExtensions(PictureHeader& picture, std::size_t& slice) {
    // Picture coding and quant matrix extensions, user data; stops at the
    // first slice (true) or at any other start code (false).
    std::size_t code = NextStartCode(m_position);
    while (code != kNoStartCode) {
        const int value = m_stream[code];
        if (isSlice(value)) {
            slice = code;
            return true;
        }
        if (value != kExtension && value != kUserData) break;
        const std::size_t next = NextStartCode(code + 1);
        if (value == kExtension) {
            const std::size_t stop = next == kNoStartCode ? m_stream.size() : next - 3;
            BitReader reader(m_stream.data() + code + 1, stop - code - 1);
            const int id = static_cast<int>(reader.Get(4));
            if (id == kPictureCodingExtension && m_sequence.mpeg2) {
                if (!picture.ParseCodingExtension(reader)) picture.codingType = 0;
            } else if (id == kQuantMatrixExtension) {
                m_sequence.ParseQuantMatrixExtension(reader);
            }
        }
        code = next;
    }
    slice = code;
    return false;
}

bool SnapshotDecoder::FieldCompletesFrame(const PictureHeader& picture) const {
    // The second field has the other parity; after an I field comes an I or
    // P field, else one of the same type.
    if (!m_pendingField || picture.structure == m_pendingStructure) return false;
    if (m_pendingType == kPictureI)
        return picture.codingType == kPictureI || picture.codingType == kPictureP;
    return picture.codingType == m_pendingType;
}

int SnapshotDecoder::DecodePicture(std::size_t code) {
    const std::size_t next = NextStartCode(code + 1);
    if (next == kNoStartCode) return Fail(kErrorTruncated);
    BitReader reader(m_stream.data() + code + 1, next - 3 - code - 1);
    PictureHeader picture;
    const bool headerValid = picture.ParseHeader(reader);
    m_position = next - 3;
    std::size_t slice = kNoStartCode;
    const bool hasSlices = ReadPictureExtensions(picture, slice);
    if (slice == kNoStartCode) return Fail(kErrorTruncated);
    m_position = slice - 3;
    // A damaged header, a D picture (MPEG-1 DC-only previews) or a picture
    // without slices is passed over.
    if (!headerValid || !hasSlices || picture.codingType < kPictureI ||
        picture.codingType > kPictureB)
        return 0;

    const bool secondField = picture.IsField() && FieldCompletesFrame(picture);
    if (!secondField) {
        if (picture.codingType == kPictureB) {
            m_target = 2;
        } else {
            std::swap(m_forward, m_backward);
            m_target = m_backward;
        }
    }
    m_picture = picture;
    PictureContext context;
    context.sequence = &m_sequence;
    context.picture = &m_picture;
    context.current = &m_frames[m_target];
    context.forward = &m_frames[m_forward];
    context.backward = &m_frames[m_backward];
    context.secondField = secondField;
    const int result = DecodeSlices(slice, context);
    if (result < 0) return result;

    if (picture.IsField() && !secondField) {
        m_pendingField = true;
        m_pendingStructure = picture.structure;
        m_pendingType = picture.codingType;
        m_outputPicture = picture;
        return 0;
    }
    if (!picture.IsField()) m_outputPicture = picture;
    m_pendingField = false;
    m_output = m_target;
    m_outputProgressive = !picture.IsField() && picture.progressiveFrame;
    return 1;
}

int SnapshotDecoder::DecodeSlices(std::size_t slice, const PictureContext& context) {
    m_macroblocks.StartPicture(context);
    const int lastMacroblock = m_macroblocks.MacroblockCount() - 1;
    bool complete = false;
    std::size_t code = slice;
    for (;;) {
        const std::size_t next = NextStartCode(code + 1);
        const std::size_t end = next == kNoStartCode ? m_stream.size() : next - 3;
        const int last =
            m_macroblocks.DecodeSlice(m_stream[code], m_stream.data() + code + 1, end - code - 1);
        if (last == lastMacroblock) complete = true;
        if (next == kNoStartCode) {
            // The data ended inside the picture: it is whole only if its last
            // macroblock was reached.
            m_position = kNoStartCode;
            return complete ? 1 : Fail(kErrorTruncated);
        }
        m_position = next - 3;
        if (!isSlice(m_stream[next])) return 1;
        code = next;
    }
}

DecodedFrame SnapshotDecoder::CurrentFrame() const {
    DecodedFrame frame;
    if (m_output < 0) return frame;
    frame.width = m_sequence.horizontalSize;
    frame.height = m_sequence.verticalSize;
    frame.chromaFormat = m_sequence.chromaFormat;
    frame.matrixCoefficients = m_sequence.matrixCoefficients;
    frame.progressiveFrame = m_outputProgressive;
    frame.mpeg2 = m_sequence.mpeg2;
    frame.pictureType = m_outputPicture.codingType;
    frame.temporalReference = m_outputPicture.temporalReference;
    std::vector<std::uint8_t>* planes[3] = {&frame.y, &frame.cb, &frame.cr};
    for (int plane = 0; plane < 3; ++plane) {
        const PlaneView view = m_frames[m_output].Plane(plane);
        const int width = plane == 0 ? frame.width : frame.ChromaWidth();
        const int height = plane == 0 ? frame.height : frame.ChromaHeight();
        planes[plane]->resize(static_cast<std::size_t>(width) * height);
        for (int row = 0; row < height; ++row)
            std::copy_n(view.data + row * view.stride, width,
                        planes[plane]->data() + static_cast<std::size_t>(row) * width);
    }
    return frame;
}

FrameView SnapshotDecoder::CurrentView() const {
    FrameView view;
    if (m_output < 0) return view;
    const PlaneView luma = m_frames[m_output].Plane(0);
    const PlaneView cb = m_frames[m_output].Plane(1);
    const PlaneView cr = m_frames[m_output].Plane(2);
    view.y = luma.data;
    view.cb = cb.data;
    view.cr = cr.data;
    view.lumaStride = luma.stride;
    view.chromaStride = cb.stride;
    view.width = m_sequence.horizontalSize;
    view.height = m_sequence.verticalSize;
    view.chromaFormat = m_sequence.chromaFormat;
    view.matrixCoefficients = m_sequence.matrixCoefficients;
    view.progressiveFrame = m_outputProgressive;
    view.mpeg2 = m_sequence.mpeg2;
    return view;
}

int SnapshotDecoder::ConvertFrame(int kind, std::uint8_t* buffer, std::size_t capacity) {
    if (m_state != 1 || m_output < 0) {
        m_error = kErrorState;
        return 0;
    }
    const int bytes = m_converter.ConvertFrame(kind, CurrentView(), buffer, capacity);
    if (bytes <= 0) m_error = m_converter.Error();
    return bytes;
}

void SnapshotDecoder::Release() {
    m_stream.clear();
    m_stream.shrink_to_fit();
    for (FrameBuffer& frame : m_frames)
        frame = FrameBuffer{};
    m_converter = BitmapConverter{};
    m_sequence = SequenceHeader{};
    m_position = 0;
    m_forward = 0;
    m_backward = 1;
    m_target = 2;
    m_pendingField = false;
    m_output = -1;
    m_state = -127;
}

}  // namespace mpegsnap
