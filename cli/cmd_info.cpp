// ravelo-cli info: what the window's information box shows about a recording.

#include <cstdio>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "cli/command.h"
#include "cli/recording_args.h"
#include "codec/audio_frame_header.h"
#include "codec/video_format.h"
#include "demux/mpeg_ts_demux.h"
#include "shell/text.h"

namespace cli {
namespace {

struct RecordingInfo {
    SnapshotCapture first;
    bool haveLast = false;
    std::int64_t durationMs = 0;
};

const char* aspectName(int code) {
    switch (code) {
        case 1:
            return "1:1";
        case 2:
            return "4:3";
        case 3:
            return "16:9";
        case 4:
            return "2.21:1";
        default:
            return "unknown";
    }
}

const char* kindName(const sPMTEntry& e) {
    switch (EntryCodec(e)) {
        case StreamCodec::Mpeg2Video:
        case StreamCodec::H264:
        case StreamCodec::Hevc:
            return "video";
        case StreamCodec::MpegAudio:
            return "mpeg-audio";
        case StreamCodec::Ac3:
            return "ac3";
        case StreamCodec::Eac3:
        case StreamCodec::Aac:
        case StreamCodec::AacLatm:
            return "audio";
        case StreamCodec::DvbSubtitle:
            return "subtitle";
        case StreamCodec::Teletext:
            return "teletext";
        default:
            return "other";
    }
}

// Main channels by acmod (1+1 dual mono counts two), then ".1" with LFE.
std::string ac3Layout(const sPMTEntry& e) {
    return codec::Ac3ChannelLayout(e.ac3CodingMode, e.ac3Lfe != 0);
}

// kbit/s from the frame header; AAC headers carry none (-1).
int streamBitRate(const sPMTEntry& e) {
    switch (EntryCodec(e)) {
        case StreamCodec::Ac3:
        case StreamCodec::Eac3:
            return e.ac3BitRate;
        case StreamCodec::Aac:
        case StreamCodec::AacLatm:
            return -1;
        default:
            return e.mpegBitRate;
    }
}

// The video stream's format, when its picture was found.
const codec::VideoFormat* videoFormat(const CRecordingModel& model, const RecordingInfo& info,
                                      const sPMTEntry& e) {
    if (e.pid != model.m_videoPid || !info.first.pictureFound || !info.first.format.Known())
        return nullptr;
    return &info.first.format;
}

std::string formatText(const codec::VideoFormat& f) {
    std::string text = FormatString("%dx%d", f.width, f.height);
    if (f.displayAspect.Known()) text += " " + codec::RatioText(f.displayAspect, ':');
    if (f.frameRate.Known())
        text += FormatString(" %.3g fps", static_cast<double>(f.frameRate.num) / f.frameRate.den);
    text += f.interlaced ? " interlaced" : " progressive";
    if (!f.profile.empty()) text += ", " + f.profile;
    if (f.level > 0) text += FormatString(" level %d", f.level);
    return text;
}

std::string pidText(int pid) {
    return pid ? Hex16(static_cast<std::uint16_t>(pid)) : std::string("none");
}

void printText(CRecordingModel& model, const RecordingInfo& info) {
    CRawFile& file = model.Recording();
    std::printf("File:        %s\n", file.GetFilePath().c_str());
    std::printf("Size:        %llu bytes in %d segment%s\n",
                static_cast<unsigned long long>(file.GetLength()), file.GetSegmentCount(),
                file.GetSegmentCount() == 1 ? "" : "s");
    for (int i = 1; i < file.GetSegmentCount(); ++i)
        std::printf("             %s (%llu bytes)\n", file.GetSegmentPath(i).c_str(),
                    static_cast<unsigned long long>(file.GetSegmentLength(i)));
    std::printf("Byte order:  %s\n", file.IsSwapped() ? "swapped" : "plain");
    std::printf("Read-only:   %s\n", model.IsReadOnly() ? "yes" : "no");
    std::printf("PIDs:        PMT %s, video %s, audio %s, AC-3 %s\n",
                pidText(model.m_pmtPid).c_str(), pidText(model.m_videoPid).c_str(),
                pidText(model.m_audioPid).c_str(), pidText(model.m_ac3Pid).c_str());
    std::printf("Streams:     %zu\n", model.m_streams.size());
    for (const sPMTEntry& e : model.m_streams) {
        std::printf("  %s  type %d  %-10s %-12s", Hex16(static_cast<std::uint16_t>(e.pid)).c_str(),
                    e.streamType, kindName(e), CodecName(EntryCodec(e)));
        if (!e.language.empty()) std::printf("  %s", e.language.c_str());
        if (IsAudio(e.streamType) && e.sampleRate != 0) {
            std::printf("  %d Hz", e.sampleRate);
            if (streamBitRate(e) >= 0) std::printf("  %d kbit/s", streamBitRate(e));
            if (!e.layout.empty()) std::printf("  %s", e.layout.c_str());
        }
        if (const codec::VideoFormat* f = videoFormat(model, info, e))
            std::printf("  %s", formatText(*f).c_str());
        std::printf("\n");
    }
    std::printf("Bit rate:    %d kbit/s (estimate)\n", model.m_bitRate);
    if (info.first.pictureFound)
        std::printf("Picture:     %dx%d, %s, %s\n", info.first.width, info.first.height,
                    aspectName(info.first.aspect), CodecName(info.first.format.codec));
    else
        std::printf("Picture:     none found\n");
    std::printf("First PTS:   %lld\n", static_cast<long long>(model.m_firstPTS));
    if (info.haveLast) std::printf("Duration:    %s\n", FormatMs(info.durationMs).c_str());
    std::printf("Cut areas:   %zu\n", model.m_cutList.size());
    if (model.CutListForeign())
        std::printf("             (%zu stored under this name belong to another recording: not "
                    "used)\n",
                    model.ForeignCutList().size());
    for (std::size_t i = 0; i < model.m_cutList.size(); ++i) {
        const CCutArea& a = model.m_cutList[i];
        std::printf("  %zu: sectors %llu-%llu  %s-%s%s\n", i + 1,
                    static_cast<unsigned long long>(a.SectorStart),
                    static_cast<unsigned long long>(a.SectorEnd),
                    AreaStartText(model, a).c_str(), AreaEndText(model, a).c_str(),
                    a.IsEnabled ? "" : "  (disabled)");
    }
}

std::string jsonRatio(codec::Ratio ratio, char separator) {
    return ratio.Known() ? JsonString(codec::RatioText(ratio, separator)) : std::string("null");
}

std::string jsonVideo(const codec::VideoFormat* f) {
    if (f == nullptr)
        return ", \"width\": null, \"height\": null, \"display_aspect\": null, \"frame_rate\": "
               "null, \"interlaced\": null, \"profile\": null, \"level\": null";
    return FormatString(
        ", \"width\": %d, \"height\": %d, \"display_aspect\": %s, \"frame_rate\": %s, "
        "\"interlaced\": %s, \"profile\": %s, \"level\": %s",
        f->width, f->height, jsonRatio(f->displayAspect, ':').c_str(),
        jsonRatio(f->frameRate, '/').c_str(), f->interlaced ? "true" : "false",
        f->profile.empty() ? "null" : JsonString(f->profile).c_str(),
        f->level > 0 ? std::to_string(f->level).c_str() : "null");
}

std::string jsonStream(const CRecordingModel& model, const RecordingInfo& info,
                       const sPMTEntry& e) {
    std::string out = FormatString(
        "{\"pid\": %d, \"type\": %d, \"kind\": \"%s\", \"codec\": \"%s\", \"language\": %s", e.pid,
        e.streamType, kindName(e), CodecName(EntryCodec(e)), JsonString(e.language).c_str());
    if (IsAudio(e.streamType)) {
        const int bitRate = streamBitRate(e);
        out += FormatString(", \"sample_rate\": %d, \"bit_rate\": %s", e.sampleRate,
                            bitRate >= 0 ? std::to_string(bitRate).c_str() : "null");
        out += ", \"layout\": " + (e.layout.empty() ? std::string("null") : JsonString(e.layout));
        if (e.streamType == kStreamAC3)
            out += FormatString(", \"ac3_coding_mode\": %d, \"ac3_lfe\": %s, \"ac3_layout\": %s",
                                e.ac3CodingMode, e.ac3Lfe ? "true" : "false",
                                e.sampleRate ? JsonString(ac3Layout(e)).c_str() : "null");
    }
    if (IsVideo(e.streamType)) out += jsonVideo(videoFormat(model, info, e));
    return out + "}";
}

std::string jsonCutArea(const CRecordingModel& model, const CCutArea& a) {
    return FormatString(
        "{\"sector_start\": %llu, \"sector_end\": %llu, \"pts_start\": %lld, \"pts_end\": %lld, "
        "\"start\": %s, \"end\": %s, \"enabled\": %s}",
        static_cast<unsigned long long>(a.SectorStart),
        static_cast<unsigned long long>(a.SectorEnd), static_cast<long long>(a.PTSStart),
        static_cast<long long>(a.PTSEnd),
        JsonString(AreaStartText(model, a)).c_str(),
        AreaRunsToTheEnd(a) ? "null" : JsonString(AreaEndText(model, a)).c_str(),
        a.IsEnabled ? "true" : "false");
}

void printJson(CRecordingModel& model, const RecordingInfo& info) {
    CRawFile& file = model.Recording();
    std::string out = "{\n";
    out += "  \"file\": " + JsonString(file.GetFilePath()) + ",\n";
    out += FormatString("  \"size\": %llu,\n", static_cast<unsigned long long>(file.GetLength()));
    out += "  \"segments\": [";
    for (int i = 0; i < file.GetSegmentCount(); ++i)
        out += FormatString("%s{\"path\": %s, \"size\": %llu}", i ? ", " : "",
                            JsonString(file.GetSegmentPath(i)).c_str(),
                            static_cast<unsigned long long>(file.GetSegmentLength(i)));
    out += "],\n";
    out += FormatString("  \"byte_order\": \"%s\",\n", file.IsSwapped() ? "swapped" : "plain");
    out += FormatString("  \"read_only\": %s,\n", model.IsReadOnly() ? "true" : "false");
    out += FormatString("  \"pids\": {\"pmt\": %d, \"video\": %d, \"audio\": %d, \"ac3\": %d},\n",
                        model.m_pmtPid, model.m_videoPid, model.m_audioPid, model.m_ac3Pid);
    out += "  \"streams\": [";
    for (std::size_t i = 0; i < model.m_streams.size(); ++i)
        out += (i ? ",\n    " : "\n    ") + jsonStream(model, info, model.m_streams[i]);
    out += model.m_streams.empty() ? "],\n" : "\n  ],\n";
    out += FormatString("  \"bit_rate_estimate\": %d,\n", model.m_bitRate);
    if (info.first.pictureFound)
        out += FormatString(
            "  \"picture\": {\"width\": %d, \"height\": %d, \"aspect_code\": %d, \"aspect\": "
            "\"%s\", \"codec\": \"%s\"},\n",
            info.first.width, info.first.height, info.first.aspect, aspectName(info.first.aspect),
            CodecName(info.first.format.codec));
    else
        out += "  \"picture\": null,\n";
    out += info.first.pictureFound
               ? FormatString("  \"first_pts\": %lld,\n", static_cast<long long>(model.m_firstPTS))
               : std::string("  \"first_pts\": null,\n");
    if (info.haveLast)
        out += FormatString("  \"duration_ms\": %lld,\n  \"duration\": %s,\n",
                            static_cast<long long>(info.durationMs),
                            JsonString(FormatMs(info.durationMs)).c_str());
    else
        out += "  \"duration_ms\": null,\n  \"duration\": null,\n";
    out += "  \"cut_areas\": [";
    for (std::size_t i = 0; i < model.m_cutList.size(); ++i)
        out += (i ? ",\n    " : "\n    ") + jsonCutArea(model, model.m_cutList[i]);
    out += model.m_cutList.empty() ? "]\n" : "\n  ]\n";
    out += "}\n";
    std::fputs(out.c_str(), stdout);
}

int runInfo(const std::vector<std::string>& args) {
    std::string path;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "ravelo-cli info: unknown option '%s'\n", arg.c_str());
            return kExitError;
        } else if (path.empty()) {
            path = arg;
        } else {
            std::fprintf(stderr, "ravelo-cli info: more than one recording given\n");
            return kExitError;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "ravelo-cli info: no recording given (see ravelo-cli info --help)\n");
        return kExitError;
    }
    CRecordingModel model;
    if (!OpenRecording(model, path)) return kExitError;
    RecordingInfo info;
    try {
        info.first = CaptureSnapshot(model, 0, -1, std::string());
        std::int64_t last = 0;
        if (info.first.pictureFound && FindLastPictureStamp(model, last)) {
            info.haveLast = true;
            info.durationMs = (last - model.m_firstPTS) / 90;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ravelo-cli info: %s\n", e.what());
        model.CloseWithoutSaving();
        return kExitError;
    }
    if (json)
        printJson(model, info);
    else
        printText(model, info);
    int code = kExitOk;
    if (model.m_streams.empty()) {
        std::fprintf(stderr, "ravelo-cli info: no streams found in %s\n", path.c_str());
        code = kExitWarnings;
    } else if (model.m_videoPid != 0 && !info.first.pictureFound) {
        std::fprintf(stderr, "ravelo-cli info: no picture found in %s\n", path.c_str());
        code = kExitWarnings;
    }
    model.CloseWithoutSaving();  // a look at the recording changes nothing in the store
    return code;
}

const CommandRegistrar registrar{
    Command{"info", "show a recording's streams, PIDs, picture, duration and cut areas",
            "Usage: ravelo-cli info RECORDING [--json]\n\n"
            "Opens RECORDING (.ts, .tts, .raw, .rec, .vid, .mts, .trp; segment chains and\n"
            "byte-swapped files included) the way the window does and prints its file size,\n"
            "segments, byte order, PIDs, streams (type, codec, PID, language; audio: sample\n"
            "rate, bit rate, channel layout; video: size, display aspect, frame rate,\n"
            "interlacing, profile and level), the bit-rate estimate, the first picture's size\n"
            "and aspect ratio, the first time stamp, the duration and the stored cut areas.\n\n"
            "  --json   one JSON object instead of text\n\n"
            "Exit codes: 0 ok, 1 no streams or no picture found, 2 error.\n",
            runInfo}};

}  // namespace
}  // namespace cli
