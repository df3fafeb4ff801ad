#include "app/snapshot_capture.h"

#include "app/mpeg_snapshot.h"
#include "app/random_access_probe.h"
#include "app/recording_model.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/raw_file.h"
#include "shell/output_folder.h"
#include "shell/text.h"

namespace {
constexpr std::int64_t kPtsWrap = std::int64_t{1} << 33;

// Learns once per recording whether its H.264 video marks random-access
// points; the answer stays with the stream.
void learnRandomAccessMarks(CRecordingModel& model) {
    for (sPMTEntry& entry : model.m_streams) {
        if (entry.pid != model.m_videoPid || EntryCodec(entry) != StreamCodec::H264 ||
            entry.randomAccessMarks != 0)
            continue;
        entry.randomAccessMarks = ProbeRandomAccessMarks(model.Recording(), model.m_videoPid);
        // Nothing to tell: take the stream for one that marks them, so that
        // no plain I picture is taken for a point to cut at.
        if (entry.randomAccessMarks == 0) entry.randomAccessMarks = 1;
    }
}
}  // namespace

std::string SnapshotPicturePath() {
    return JoinPath(WorkFolder("~temp"), "pic.m2v");
}

SnapshotCapture CaptureSnapshot(CRecordingModel& model, std::uint64_t sector,
                                std::int64_t currentStamp, const std::string& m2vPath, bool save) {
    SnapshotCapture result;
    result.sector = sector;
    result.stamp = currentStamp;
    if (!model.IsOpen()) return result;
    learnRandomAccessMarks(model);
    CMpegSnapshot& snapshot = MpegSnapshot();
    snapshot.Init(model.Recording(), model.m_pmtPid, model.m_videoPid, model.m_audioPid);
    // Positions in the last 256 KiB are searched from 256 KiB before the end;
    // a recording shorter than that is never limited.
    const std::uint64_t length = model.Recording().GetLength();
    std::uint64_t position = sector * 512;
    if (length > kSnapshotTail && position > length - kSnapshotTail) {
        position = length - kSnapshotTail;
        result.limited = true;
    }
    snapshot.m_streams = model.m_streams;
    result.found = snapshot.ExtractPicture(position, m2vPath);
    model.m_streams = snapshot.m_streams;
    result.pictureFound = snapshot.m_pictureFound;
    result.audioComplete = snapshot.m_audioDone;
    if (!result.pictureFound) return result;  // position and stamp stay

    std::int64_t stamp = snapshot.m_pictureStamp;
    if (stamp < model.m_firstPTS) stamp += kPtsWrap;
    if (stamp == currentStamp && result.found && !save) {
        result.samePicture = true;
        return result;
    }
    result.picturePosition = snapshot.m_picturePosition;
    if (!result.limited) {
        const std::uint64_t pictureSector = snapshot.m_picturePosition / 512;
        result.sector = pictureSector > 0 ? pictureSector - 1 : 0;
    }
    result.stamp = stamp;
    result.sequenceHeader = snapshot.m_sequenceHeader;
    result.format = snapshot.m_format;
    if (result.format.codec == StreamCodec::Mpeg2Video || !result.format.Known()) {
        result.width = SequenceWidth(result.sequenceHeader);
        result.height = SequenceHeight(result.sequenceHeader);
        result.aspect = SequenceAspect(result.sequenceHeader);
    } else {
        result.width = result.format.width;
        result.height = result.format.height;
        result.aspect = result.format.aspectCode;
    }
    if (model.m_firstPTS == 0) model.m_firstPTS = result.stamp;
    if (result.stamp < model.m_firstPTS) result.stamp += kPtsWrap;
    return result;
}

bool FindLastPictureStamp(CRecordingModel& model, std::int64_t& stamp) {
    constexpr std::uint64_t kTail = 4194304;
    if (!model.IsOpen() || model.m_videoPid == 0) return false;
    CRawFile& recording = model.Recording();
    const std::uint64_t length = recording.GetLength();
    CMpegTsDemux packets;
    packets.SetRecording(recording);
    recording.Seek(static_cast<std::int64_t>(length > kTail ? length - kTail : 0), CRawFile::begin);
    std::uint8_t packet[kTsReadSize];
    std::uint8_t payload[kTsPayloadSize];
    bool found = false;
    std::int64_t latest = 0;
    while (recording.GetPosition() + kTsReadSize <= length) {
        if (packets.ReadPacket(packet) == 0) continue;
        int n = 0;
        if (TsPid(packet) != model.m_videoPid || !TsUnitStart(packet) ||
            !CMpegTsDemux::GetPayload(packet, payload, n))
            continue;
        std::int64_t pts = 0;
        if (n < 4 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1 ||
            !ReadPesPts(payload, n, pts))
            continue;
        const std::int64_t relative = PtsDifference(model.m_firstPTS, pts);
        // Pictures shown before the first one (the B pictures of an open
        // first group) come out as a difference near 2^33.
        if (relative >= (std::int64_t{1} << 32)) continue;
        if (!found || relative > latest) latest = relative;
        found = true;
    }
    recording.SeekToStart();
    if (found) stamp = model.m_firstPTS + latest;
    return found;
}
