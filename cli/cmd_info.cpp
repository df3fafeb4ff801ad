// ravelo-cli info: what the window's information box shows about a recording.

#include <cstdio>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "app/snapshot_capture.h"
#include "cli/command.h"
#include "cli/recording_args.h"
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

const char* kindName(std::int32_t type) {
    switch (type) {
        case kStreamVideo:
            return "video";
        case kStreamMpeg1Audio:
        case kStreamMpeg2Audio:
            return "mpeg-audio";
        case kStreamAC3:
            return "ac3";
        default:
            return "other";
    }
}

// Main channels by acmod (1+1 dual mono counts two), then ".1" with LFE.
std::string ac3Layout(const sPMTEntry& e) {
    static const int channels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
    return std::to_string(channels[e.ac3CodingMode & 7]) + (e.ac3Lfe ? ".1" : ".0");
}

int streamBitRate(const sPMTEntry& e) {
    return e.streamType == kStreamAC3 ? e.ac3BitRate : e.mpegBitRate;
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
        std::printf("  %s  type %d  %-10s", Hex16(static_cast<std::uint16_t>(e.pid)).c_str(),
                    e.streamType, kindName(e.streamType));
        if (!e.language.empty()) std::printf("  %s", e.language.c_str());
        if (IsAudio(e.streamType) && e.sampleRate != 0) {
            std::printf("  %d Hz  %d kbit/s", e.sampleRate, streamBitRate(e));
            if (e.streamType == kStreamAC3) std::printf("  %s", ac3Layout(e).c_str());
        }
        std::printf("\n");
    }
    std::printf("Bit rate:    %d kbit/s (estimate)\n", model.m_bitRate);
    if (info.first.pictureFound)
        std::printf("Picture:     %dx%d, %s\n", info.first.width, info.first.height,
                    aspectName(info.first.aspect));
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
                    FormatMs((a.PTSStart - model.m_firstPTS) / 90).c_str(),
                    FormatMs((a.PTSEnd - model.m_firstPTS) / 90).c_str(),
                    a.IsEnabled ? "" : "  (disabled)");
    }
}

std::string jsonStream(const sPMTEntry& e) {
    std::string out =
        FormatString("{\"pid\": %d, \"type\": %d, \"kind\": \"%s\", \"language\": %s", e.pid,
                     e.streamType, kindName(e.streamType), JsonString(e.language).c_str());
    if (IsAudio(e.streamType)) {
        out +=
            FormatString(", \"sample_rate\": %d, \"bit_rate\": %d", e.sampleRate, streamBitRate(e));
        if (e.streamType == kStreamAC3)
            out += FormatString(", \"ac3_coding_mode\": %d, \"ac3_lfe\": %s, \"ac3_layout\": %s",
                                e.ac3CodingMode, e.ac3Lfe ? "true" : "false",
                                e.sampleRate ? JsonString(ac3Layout(e)).c_str() : "null");
    }
    return out + "}";
}

std::string jsonCutArea(const CRecordingModel& model, const CCutArea& a) {
    return FormatString(
        "{\"sector_start\": %llu, \"sector_end\": %llu, \"pts_start\": %lld, \"pts_end\": %lld, "
        "\"start\": %s, \"end\": %s, \"enabled\": %s}",
        static_cast<unsigned long long>(a.SectorStart),
        static_cast<unsigned long long>(a.SectorEnd), static_cast<long long>(a.PTSStart),
        static_cast<long long>(a.PTSEnd),
        JsonString(FormatMs((a.PTSStart - model.m_firstPTS) / 90)).c_str(),
        JsonString(FormatMs((a.PTSEnd - model.m_firstPTS) / 90)).c_str(),
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
        out += (i ? ",\n    " : "\n    ") + jsonStream(model.m_streams[i]);
    out += model.m_streams.empty() ? "],\n" : "\n  ],\n";
    out += FormatString("  \"bit_rate_estimate\": %d,\n", model.m_bitRate);
    if (info.first.pictureFound)
        out += FormatString(
            "  \"picture\": {\"width\": %d, \"height\": %d, \"aspect_code\": %d, \"aspect\": "
            "\"%s\"},\n",
            info.first.width, info.first.height, info.first.aspect, aspectName(info.first.aspect));
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
            "segments, byte order, PIDs, streams (type, PID, language, sample rate, bit\n"
            "rate, AC-3 layout), the bit-rate estimate, the first picture's size and aspect\n"
            "ratio, the first time stamp, the duration and the stored cut areas.\n\n"
            "  --json   one JSON object instead of text\n\n"
            "Exit codes: 0 ok, 1 no streams or no picture found, 2 error.\n",
            runInfo}};

}  // namespace
}  // namespace cli
