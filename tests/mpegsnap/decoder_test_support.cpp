#include "decoder_test_support.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "support/temp_dir.h"

namespace decodertest {

bool HaveFfmpeg() {
    static const bool present = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
    return present;
}

bool RunFfmpeg(const std::string& arguments) {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::uint8_t* b, std::size_t size) {
    if (a.size() != size || size == 0) return 0;
    double error = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        error += d * d;
    }
    if (error == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(size) / error);
}

std::vector<std::uint8_t> DecodeWithFfmpeg(const std::string& input, const std::string& pixelFormat,
                                           int count) {
    TempDir dir;
    const std::string raw = dir.File("frames.yuv");
    if (!RunFfmpeg("-threads 1 -i '" + input + "' -frames:v " + std::to_string(count) +
                   " -fps_mode passthrough -f rawvideo -pix_fmt " + pixelFormat + " '" + raw + "'"))
        return {};
    return ReadFileBytes(raw);
}

double FramePsnr(const mpegsnap::DecodedFrame& frame, const std::vector<std::uint8_t>& raw,
                 int index) {
    const std::size_t luma = frame.y.size();
    const std::size_t chroma = frame.cb.size();
    const std::size_t offset = static_cast<std::size_t>(index) * (luma + 2 * chroma);
    if (raw.size() < offset + luma + 2 * chroma) return 0;
    const double y = Psnr(frame.y, raw.data() + offset, luma);
    const double cb = Psnr(frame.cb, raw.data() + offset + luma, chroma);
    const double cr = Psnr(frame.cr, raw.data() + offset + luma + chroma, chroma);
    return std::min(y, std::min(cb, cr));
}

std::vector<std::uint8_t> CutFirstPicture(const std::vector<std::uint8_t>& stream) {
    std::size_t start = std::string::npos;
    int pictures = 0;
    std::size_t end = stream.size();
    for (std::size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
        const int code = stream[i + 3];
        if (start == std::string::npos) {
            if (code == 0xB3) start = i;
            continue;
        }
        if (code == 0x00 && ++pictures == 2) {
            end = i;
            break;
        }
    }
    if (start == std::string::npos) return {};
    std::vector<std::uint8_t> cut(stream.begin() + static_cast<std::ptrdiff_t>(start),
                                  stream.begin() + static_cast<std::ptrdiff_t>(end));
    cut.insert(cut.end(), {0x00, 0x00, 0x01, 0xB7});
    return cut;
}

}  // namespace decodertest
