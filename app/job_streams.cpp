#include "app/job_streams.h"

#include "app/recording_model.h"
#include "shell/text.h"

namespace {
const char* jobName(JobKind kind) {
    switch (kind) {
        case JobKind::Copy:
            return "\"Copy edited recording\"";
        case JobKind::CutInPlace:
            return "\"Remove cuts in recording\"";
        case JobKind::Demux:
            return "\"Demux to MPEG\"";
        case JobKind::Mpeg:
            return "\"Create MPEG File\"";
        default:
            return "\"Create VOB File\"";
    }
}

const sPMTEntry* streamOf(const CRecordingModel& model, std::uint16_t pid) {
    for (const sPMTEntry& entry : model.m_streams)
        if (entry.pid == pid) return &entry;
    return nullptr;
}
}  // namespace

std::string UnsupportedStreamsMessage(const CRecordingModel& model, JobKind kind,
                                      std::uint16_t audioPid) {
    const sPMTEntry* video = streamOf(model, model.m_videoPid);
    // The cutting jobs cut H.264 and HEVC video at its random-access points.
    const bool cutting = kind == JobKind::Copy || kind == JobKind::CutInPlace;
    if (video != nullptr && IsVideo(video->streamType) && video->streamType != kStreamVideo &&
        !cutting)
        return std::string(jobName(kind)) + " cannot handle " +
               CodecDisplayName(EntryCodec(*video)) + " yet (PID " + Hex16(model.m_videoPid) +
               "): for now only recordings with MPEG-2 video can be cut, copied with cut areas "
               "and converted.";
    if (kind == JobKind::Mpeg && audioPid != 0) {
        const sPMTEntry* audio = streamOf(model, audioPid);
        if (audio != nullptr && !IsEngineStream(audio->streamType))
            return std::string(jobName(kind)) + " cannot write " +
                   CodecDisplayName(EntryCodec(*audio)) + " (PID " + Hex16(audioPid) +
                   ") into an MPEG program stream: choose an MPEG audio or AC-3 track.";
    }
    return {};
}
