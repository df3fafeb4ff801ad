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
    const bool nalVideo =
        video != nullptr && IsVideo(video->streamType) && video->streamType != kStreamVideo;
    // A program stream for DVD carries MPEG-2 video; the cutting jobs and
    // the elementary streams take any video.
    if (nalVideo && (kind == JobKind::Mpeg || kind == JobKind::Vob))
        return std::string(jobName(kind)) + " cannot write " +
               CodecDisplayName(EntryCodec(*video)) + " (PID " + Hex16(model.m_videoPid) +
               "): MPEG-2 program streams for DVD need MPEG-2 video. \"Demux to MPEG\" writes "
               "the recording's streams as elementary-stream files.";
    if (kind == JobKind::Mpeg && audioPid != 0) {
        const sPMTEntry* audio = streamOf(model, audioPid);
        if (audio != nullptr && !IsEngineStream(audio->streamType))
            return std::string(jobName(kind)) + " cannot write " +
                   CodecDisplayName(EntryCodec(*audio)) + " (PID " + Hex16(audioPid) +
                   ") into an MPEG program stream: choose an MPEG audio or AC-3 track.";
    }
    return {};
}
