// ravelo-cli snapshot: the picture the window shows at a position, as the
// window's bitmap or as raw planes for comparison with other decoders.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "cli/command.h"
#include "cli/recording_args.h"
#include "codec/snapshot_file.h"
#include "platform/file.h"

namespace cli {
namespace {

// The picture's stamp as the stream carries it (33 bits; the capture's
// stamp counts on past a wrap).
constexpr std::int64_t kPtsMask = (std::int64_t{1} << 33) - 1;

struct SnapshotArgs {
    std::string recording;
    std::string output;
    std::string position;  // the text after --sector or --time
    bool byTime = false;
    bool yuv = false;
    bool json = false;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "ravelo-cli snapshot: %s (see ravelo-cli snapshot --help)\n",
                 message.c_str());
    return kExitError;
}

// Gives an empty string or the complaint.
std::string parseArgs(const std::vector<std::string>& args, SnapshotArgs& parsed) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue =
            arg == "--sector" || arg == "--time" || arg == "-o" || arg == "--format";
        if (takesValue && i + 1 >= args.size()) return "option " + arg + " needs a value";
        if (arg == "--sector" || arg == "--time") {
            if (!parsed.position.empty()) return "give one position, --sector or --time";
            parsed.position = args[++i];
            parsed.byTime = arg == "--time";
        } else if (arg == "--json") {
            parsed.json = true;
        } else if (arg == "-o") {
            parsed.output = args[++i];
        } else if (arg == "--format") {
            const std::string format = args[++i];
            if (format != "bmp" && format != "yuv") return "unknown format '" + format + "'";
            parsed.yuv = format == "yuv";
        } else if (!arg.empty() && arg[0] == '-') {
            return "unknown option '" + arg + "'";
        } else if (parsed.recording.empty()) {
            parsed.recording = arg;
        } else {
            return "more than one recording given";
        }
    }
    if (parsed.recording.empty()) return "no recording given";
    if (parsed.position.empty()) return "no position given (--sector N or --time H:MM:SS[.mmm])";
    if (parsed.output.empty()) return "no output file given (-o FILE)";
    return {};
}

// The decoded frame's planes, Y then Cb then Cr at the stream's own size.
bool writeYuv(const std::string& m2v, const std::string& path, mpegsnap::DecodedFrame& frame) {
    std::string why;
    if (!codec::DecodeCutOutFile(m2v, frame, &why)) {
        std::fprintf(stderr, "ravelo-cli snapshot: %s\n", why.c_str());
        return false;
    }
    std::vector<std::uint8_t> bytes(frame.y);
    bytes.insert(bytes.end(), frame.cb.begin(), frame.cb.end());
    bytes.insert(bytes.end(), frame.cr.begin(), frame.cr.end());
    platform::PlatformFile file;
    platform::FileError error;
    if (!file.Open(path, platform::modeWrite | platform::modeCreate, &error)) return false;
    file.WriteAt(0, bytes.data(), bytes.size());
    return true;
}

int runSnapshot(const std::vector<std::string>& args) {
    SnapshotArgs parsed;
    const std::string complaint = parseArgs(args, parsed);
    if (!complaint.empty()) return usageError(complaint);
    Mark mark;
    std::string error;
    if (!ParseMark(parsed.position, mark, &error)) return usageError(error);
    if (mark.isTime != parsed.byTime)
        return usageError(parsed.byTime ? "--time takes H:MM:SS[.mmm]"
                                        : "--sector takes a sector number");

    CRecordingModel model;
    if (!OpenRecording(model, parsed.recording)) return kExitError;
    // Work files of this run: the cut-out video and the picture being written.
    const std::string work =
        (std::filesystem::temp_directory_path() / ("ravelo-snapshot-" + std::to_string(getpid())))
            .string();
    const std::string m2v = work + ".m2v";
    const std::string part = parsed.output + ".part";
    int code = kExitOk;
    try {
        const ResolvedMark resolved = ResolveMark(model, mark);
        const SnapshotCapture capture = CaptureSnapshot(model, resolved.sector, -1, m2v);
        mpegsnap::DecodedFrame frame;
        bool written = false;
        if (!capture.pictureFound) {
            std::fprintf(stderr, "ravelo-cli snapshot: no picture found at %s in %s\n",
                         parsed.position.c_str(), parsed.recording.c_str());
            code = kExitError;
        } else if (parsed.yuv) {
            written = writeYuv(m2v, part, frame);
        } else {
            codec::WriteSnapshotBitmap(m2v, part);
            written = platform::FileExists(part);
        }
        if (capture.pictureFound && !written) {
            std::fprintf(
                stderr,
                "ravelo-cli snapshot: the picture at sector %llu could not be decoded or written\n",
                static_cast<unsigned long long>(capture.sector));
            code = kExitError;
        } else if (written) {
            std::error_code renameError;
            std::filesystem::rename(part, parsed.output, renameError);
            if (renameError) {
                std::fprintf(stderr, "ravelo-cli snapshot: cannot write %s: %s\n",
                             parsed.output.c_str(), renameError.message().c_str());
                code = kExitError;
            } else {
                const int width = parsed.yuv ? frame.width : capture.width;
                const int height = parsed.yuv ? frame.height : capture.height;
                if (parsed.json)
                    std::printf(
                        "{\"sector\": %llu, \"pts\": %lld, \"width\": %d, \"height\": %d, "
                        "\"codec\": \"%s\"}\n",
                        static_cast<unsigned long long>(capture.sector),
                        static_cast<long long>(capture.stamp & kPtsMask), width, height,
                        CodecName(capture.format.codec));
                else
                    std::printf("Sector: %llu\nTime:   %s\nSize:   %dx%d\n",
                                static_cast<unsigned long long>(capture.sector),
                                FormatMs((capture.stamp - model.m_firstPTS) / 90).c_str(), width,
                                height);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ravelo-cli snapshot: %s\n", e.what());
        code = kExitError;
    }
    platform::RemoveFile(m2v);
    if (code != kExitOk) platform::RemoveFile(part);
    model.CloseWithoutSaving();
    return code;
}

const CommandRegistrar registrar{
    Command{"snapshot", "decode the picture at a position into a bitmap or raw planes",
            "Usage: ravelo-cli snapshot RECORDING (--sector N | --time H:MM:SS[.mmm]) -o FILE\n"
            "                           [--format bmp|yuv] [--json]\n\n"
            "Finds the picture the window shows at sector N or at the time (counted from\n"
            "the recording's first picture), decodes it and writes FILE:\n\n"
            "  --format bmp   the window's 24-bit bitmap (default)\n"
            "  --format yuv   the decoded planes, Y then Cb then Cr, each at the stream's\n"
            "                 own size (for comparison with other decoders)\n\n"
            "The picture is the one at the next random-access point: an MPEG-2 sequence\n"
            "header, an H.264 IDR or recovery point picture, an HEVC IRAP picture.\n"
            "Prints the picture's sector, time and size; with --json one object\n"
            "{sector, pts, width, height, codec} (pts: the picture's 90 kHz time stamp).\n"
            "Exit codes: 0 ok, 2 error (no picture found, not decodable, not written).\n",
            runSnapshot}};

}  // namespace
}  // namespace cli
