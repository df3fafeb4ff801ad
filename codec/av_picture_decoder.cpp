#include "codec/av_picture_decoder.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "codec/video_format.h"
#include "shell/log.h"

namespace codec {

namespace {
struct ContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ParserFree {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// libavcodec's messages about damaged data go to our log, not to the
// terminal or the window's console.
void logLine(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING) return;
    char line[1024];
    int prefix = 1;
    av_log_format_line(object, level, format, args, line, sizeof line, &prefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    LogWrite("libavcodec: " + text, 3);
}

void routeLogOnce() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(logLine); });
}

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

// One plane, reduced to 8 bits with rounding when the picture has more.
void copyPlane(const AVFrame* f, int plane, int width, int height, int depth,
               std::vector<std::uint8_t>& out) {
    out.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row =
            f->data[plane] + static_cast<std::ptrdiff_t>(y) * f->linesize[plane];
        std::uint8_t* dst =
            out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        if (depth <= 8) {
            std::copy_n(row, width, dst);
            continue;
        }
        const int shift = depth - 8;
        for (int x = 0; x < width; ++x) {
            const int v = row[2 * x] | (row[2 * x + 1] << 8);  // little-endian samples
            dst[x] = static_cast<std::uint8_t>(std::min(255, (v + (1 << (shift - 1))) >> shift));
        }
    }
}

bool toDecodedFrame(const AVFrame* f, mpegsnap::DecodedFrame& out, std::string* error) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    if (d == nullptr || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0 ||
        (d->flags & AV_PIX_FMT_FLAG_PLANAR) == 0 || (d->flags & AV_PIX_FMT_FLAG_BE) != 0)
        return fail(error, "the decoded picture has a sample format that is not planar YUV");
    const int depth = d->comp[0].depth;
    if (depth < 8 || depth > 16) return fail(error, "the decoded picture has an unusual bit depth");
    mpegsnap::DecodedFrame frame;
    frame.width = f->width;
    frame.height = f->height;
    if (d->nb_components < 3)
        frame.chromaFormat = 1;  // monochrome: grey chroma added below
    else if (d->log2_chroma_w == 1 && d->log2_chroma_h == 1)
        frame.chromaFormat = 1;
    else if (d->log2_chroma_w == 1 && d->log2_chroma_h == 0)
        frame.chromaFormat = 2;
    else if (d->log2_chroma_w == 0 && d->log2_chroma_h == 0)
        frame.chromaFormat = 3;
    else
        return fail(error, "the decoded picture has an unusual chroma format");
    frame.matrixCoefficients = static_cast<int>(f->colorspace);
    frame.progressiveFrame = f->interlaced_frame == 0;
    frame.mpeg2 = true;  // chroma sited as in MPEG-2 (left, between the lines)
    frame.pictureType = f->pict_type == AV_PICTURE_TYPE_B   ? 3
                        : f->pict_type == AV_PICTURE_TYPE_P ? 2
                                                            : 1;
    copyPlane(f, 0, frame.width, frame.height, depth, frame.y);
    const int cw = frame.ChromaWidth(), ch = frame.ChromaHeight();
    if (d->nb_components < 3) {
        frame.cb.assign(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch), 128);
        frame.cr = frame.cb;
    } else {
        copyPlane(f, 1, cw, ch, depth, frame.cb);
        copyPlane(f, 2, cw, ch, depth, frame.cr);
    }
    out = std::move(frame);
    return true;
}

using ContextPtr = std::unique_ptr<AVCodecContext, ContextFree>;

// The H.264 or HEVC decoder, opened; null (with the reason) otherwise.
ContextPtr openDecoder(StreamCodec codec, AVCodecID& id, std::string* error) {
    routeLogOnce();
    id = AV_CODEC_ID_NONE;
    if (codec == StreamCodec::H264) id = AV_CODEC_ID_H264;
    if (codec == StreamCodec::Hevc) id = AV_CODEC_ID_HEVC;
    if (id == AV_CODEC_ID_NONE) {
        fail(error, "no decoder for this codec");
        return nullptr;
    }
    const AVCodec* decoder = avcodec_find_decoder(id);
    if (decoder == nullptr) {
        fail(error, "libavcodec has no decoder for this codec");
        return nullptr;
    }
    ContextPtr context(avcodec_alloc_context3(decoder));
    if (!context) {
        fail(error, "out of memory");
        return nullptr;
    }
    // One thread: the picture comes out as soon as it is decoded, and the
    // same way on every machine.
    context->thread_count = 1;
    // A picture decoded from an intra point without a recovery point SEI is
    // still the picture wanted.
    context->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
    if (avcodec_open2(context.get(), decoder, nullptr) < 0) {
        fail(error, "the decoder cannot be opened");
        return nullptr;
    }
    return context;
}

// The aspect code of a decoded picture: its display aspect from its size
// and sample aspect (square when the stream gives none).
int aspectCodeOf(const AVFrame* f) {
    Ratio sar{f->sample_aspect_ratio.num, f->sample_aspect_ratio.den};
    if (!sar.Known()) sar = {1, 1};
    return AspectCodeOf(DisplayAspect(f->width, f->height, sar), sar);
}

// Takes the next frame the decoder has ready: 1 taken, 0 none yet, -1 error.
int receive(AVCodecContext* context, AVFrame* frame) {
    const int result = avcodec_receive_frame(context, frame);
    if (result == 0) return 1;
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return 0;
    return -1;
}
}  // namespace

bool AvPictureDecoder::Decode(StreamCodec codec, const std::uint8_t* data, std::size_t size,
                              mpegsnap::DecodedFrame& out, std::string* error) {
    AVCodecID id = AV_CODEC_ID_NONE;
    std::unique_ptr<AVCodecContext, ContextFree> context = openDecoder(codec, id, error);
    if (!context) return false;
    std::unique_ptr<AVCodecParserContext, ParserFree> parser(av_parser_init(id));
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!parser || !packet || !frame) return fail(error, "out of memory");

    // The parser reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end.
    std::vector<std::uint8_t> input(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::copy_n(data, size, input.begin());
    const std::uint8_t* at = input.data();
    int left = static_cast<int>(std::min<std::size_t>(size, 0x7FFFFFFF));
    bool flushing = false;
    for (;;) {
        std::uint8_t* unit = nullptr;
        int unitSize = 0;
        const int used =
            av_parser_parse2(parser.get(), context.get(), &unit, &unitSize, flushing ? nullptr : at,
                             flushing ? 0 : left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) return fail(error, "the stream cannot be parsed");
        if (!flushing) {
            if (used == 0 && unitSize == 0) flushing = true;  // nothing taken: no progress
            at += used;
            left -= used;
        }
        if (unitSize > 0) {
            packet->data = unit;
            packet->size = unitSize;
            // A damaged unit is skipped; the decoder goes on with the next.
            avcodec_send_packet(context.get(), packet.get());
            const int got = receive(context.get(), frame.get());
            if (got > 0) return toDecodedFrame(frame.get(), out, error);
        }
        if (flushing) break;
        if (left == 0) flushing = true;
    }
    // The end: the decoder gives out what it holds back for reordering.
    avcodec_send_packet(context.get(), nullptr);
    if (receive(context.get(), frame.get()) > 0) return toDecodedFrame(frame.get(), out, error);
    return fail(error, "no picture could be decoded");
}

bool AvPictureDecoder::DecodeRun(StreamCodec codec, const std::vector<CodedUnit>& units,
                                 Shown which, ShownPicture& picture, std::string* error) {
    AVCodecID id = AV_CODEC_ID_NONE;
    ContextPtr context = openDecoder(codec, id, error);
    if (!context) return false;
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVFrame, FrameFree> kept(av_frame_alloc());
    if (!packet || !frame || !kept) return fail(error, "out of memory");
    bool got = false;
    // Takes what the decoder has ready; false once the picture wanted is in `kept`.
    auto drain = [&] {
        while (receive(context.get(), frame.get()) > 0) {
            av_frame_unref(kept.get());
            av_frame_move_ref(kept.get(), frame.get());
            got = true;
            if (which == Shown::First) return false;
        }
        return true;
    };
    bool more = true;
    for (const CodedUnit& unit : units) {
        if (unit.data == nullptr || unit.size == 0 || unit.size > 0x7FFFFFFF) continue;
        // av_new_packet pads the copy as the decoder's bitstream reader needs.
        if (av_new_packet(packet.get(), static_cast<int>(unit.size)) < 0)
            return fail(error, "out of memory");
        std::copy_n(unit.data, unit.size, packet->data);
        packet->pts = unit.hasPts ? unit.pts : AV_NOPTS_VALUE;
        // A damaged unit is skipped; the decoder goes on with the next.
        avcodec_send_packet(context.get(), packet.get());
        av_packet_unref(packet.get());
        more = drain();
        if (!more) break;
    }
    if (more) {
        // The end: the decoder gives out what it holds back for reordering.
        avcodec_send_packet(context.get(), nullptr);
        drain();
    }
    if (!got) return fail(error, "no picture could be decoded");
    ShownPicture shown;
    if (!toDecodedFrame(kept.get(), shown.frame, error)) return false;
    shown.aspectCode = aspectCodeOf(kept.get());
    shown.hasPts = kept->pts != AV_NOPTS_VALUE;
    shown.pts = shown.hasPts ? kept->pts : 0;
    picture = std::move(shown);
    return true;
}

}  // namespace codec
