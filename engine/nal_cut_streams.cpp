#include "engine/nal_cut_streams.h"

#include "app/random_access_probe.h"
#include "app/recording_model.h"

std::optional<CNalSplicePlanner::Streams> NalCutStreams(CRecordingModel& model) {
    for (sPMTEntry& entry : model.m_streams) {
        if (entry.pid != model.m_videoPid || !IsVideo(entry.streamType)) continue;
        const StreamCodec codec = EntryCodec(entry);
        if (codec != StreamCodec::H264 && codec != StreamCodec::Hevc) return std::nullopt;
        CNalSplicePlanner::Streams streams;
        streams.codec = codec;
        if (codec == StreamCodec::H264 && entry.randomAccessMarks == 0)
            entry.randomAccessMarks = ProbeRandomAccessMarks(model.Recording(), model.m_videoPid);
        // The picture search takes plain I pictures only in a stream that
        // marks no random-access points: the marks land where it does.
        streams.intraIsRandomAccess = entry.randomAccessMarks == 2;
        for (const sPMTEntry& other : model.m_streams) {
            const StreamCodec kind = EntryCodec(other);
            if (IsAudio(other.streamType))
                streams.audioPids.insert(static_cast<std::uint16_t>(other.pid));
            else if (kind == StreamCodec::DvbSubtitle || kind == StreamCodec::Teletext)
                streams.otherPids.insert(static_cast<std::uint16_t>(other.pid));
        }
        streams.audioPids.erase(model.m_videoPid);
        return streams;
    }
    return std::nullopt;
}
