// Opening a recording the same way for the window and the command-line tool.

#include "app/recording_model.h"

#include <cstring>
#include <vector>

#include "app/byte_order_probe.h"
#include "app/cut_list.h"
#include "app/snapshot_capture.h"
#include "demux/mpeg_ts_demux.h"
#include "platform/file.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/progress.h"

namespace {
CRecordingModel* g_active = nullptr;

// Topfield .tts/.rec headers: PMT, video and audio PID as 13 bits,
// big-endian, at bytes 20, 24 and 26 of the first 512.
constexpr std::size_t kHeaderSize = 512;
std::uint16_t headerPid(const std::uint8_t* header, int at) {
    return static_cast<std::uint16_t>(((header[at] & 0x1F) << 8) | header[at + 1]);
}

std::string openFailure(const std::string& path, int osError) {
    std::string text = LoadResString(ids::kFailedToOpenDocument) + " " + path;
    if (osError > 0) text += ": " + std::string(std::strerror(osError));
    return text;
}

// Eight sync bytes in a row at the packet distance (188 bytes, or 192 with
// the 4-byte time-code prefix some receivers write) in the first MiB: random
// bytes show that by chance about once in 2^56 places.
bool holdsPacketRun(CRawFile& recording) {
    constexpr std::size_t kProbeSize = 1 << 20;
    constexpr std::size_t kRun = 8;
    std::vector<std::uint8_t> head(kProbeSize);
    recording.SeekToStart();
    head.resize(recording.Read(head.data(), head.size()));
    for (std::size_t stride : {std::size_t{188}, std::size_t{192}}) {
        for (std::size_t at = 0; at + (kRun - 1) * stride < head.size(); ++at) {
            std::size_t run = 0;
            while (run < kRun && head[at + run * stride] == 0x47)
                ++run;
            if (run == kRun) return true;
        }
    }
    return false;
}

void setProgress(int position) {
    Progress().SetPos(position);
    Progress().Pump();
}
}  // namespace

CRecordingModel* ActiveRecording() {
    return g_active;
}
void SetActiveRecording(CRecordingModel* model) {
    g_active = model;
}

CRecordingModel::~CRecordingModel() {
    Close();
    if (g_active == this) g_active = nullptr;
}

bool CRecordingModel::Open(const std::string& path, std::string* error) {
    // The file must be there and readable before the open recording goes.
    platform::PlatformFile probe;
    platform::FileError probeError;
    if (platform::IsDirectory(path) || !probe.Open(path, platform::modeRead, &probeError)) {
        if (error)
            *error = openFailure(path, platform::IsDirectory(path) ? EISDIR : probeError.osError);
        return false;
    }
    probe.Close();
    Close();  // stores the cut list of the recording open until now
    m_readOnly = false;
    platform::FileError openError;
    m_recording.Open(
        path, platform::modeReadWrite | platform::shareExclusive | platform::osSequentialScan,
        &openError);
    if (openError.Failed()) {
        // Write access refused (read-only file, locked by another program):
        // the recording can still be read, demultiplexed and copied.
        LogWrite("Opening read-only: " + path, 1);
        openError.Reset();
        m_readOnly = true;
        if (!m_recording.Open(
                path, platform::modeRead | platform::shareDenyNone | platform::osSequentialScan,
                &openError) ||
            openError.Failed()) {
            if (error) *error = openFailure(path, openError.osError);
            Close();
            return false;
        }
    }
    try {
        m_recording.SetUnswapped(1);
        scan();
        readRecordingHeader();
        findFirstPicture();
        m_recording.SeekToStart();  // the probe read on past the remembered position
        LoadCutList();
    } catch (const platform::FileException& e) {
        // The exception names the file and the reason already.
        if (error) *error = LoadResString(ids::kFailedToOpenDocument) + " " + e.what();
        m_cutList.clear();  // nothing loaded must be stored back over the user's list
        m_recording.Close();
        return false;
    }
    return true;
}

void CRecordingModel::scan() {
    Progress().Open("", false);
    Progress().SetRange(0, 100, 1);
    setProgress(15);
    m_byteOrder = ProbeByteOrder(m_recording);
    m_pmtPid = m_videoPid = m_audioPid = m_ac3Pid = 0;
    const std::uint64_t position = m_recording.GetPosition();
    CMpegTsDemux demux;
    demux.ScanStreams(m_recording, m_pmtPid, m_videoPid, m_audioPid, m_ac3Pid);
    setProgress(75);
    m_streams = demux.Streams();
    m_bitRate = EstimatedBitRate();
    m_holdsPackets =
        !m_streams.empty() || m_pmtPid != 0 || m_videoPid != 0 || holdsPacketRun(m_recording);
    m_recording.Seek(static_cast<std::int64_t>(position), CRawFile::begin);
    setProgress(95);
    Progress().Close();
}

void CRecordingModel::readRecordingHeader() {
    const std::string extension = m_recording.GetFileExtension();
    if (extension != "tts" && extension != "rec") return;
    // These receivers never swap: the header's decision replaces the probe's.
    m_recording.SeekToStart();
    m_recording.SetUnswapped(1);
    std::uint8_t header[kHeaderSize] = {};
    const std::size_t got = m_recording.Read(header, kHeaderSize);
    m_recording.SeekToStart();
    if (got < 28) return;
    const std::uint16_t pmtPid = headerPid(header, 20);
    if (pmtPid == 0) return;
    m_pmtPid = pmtPid;
    m_videoPid = headerPid(header, 24);
    m_audioPid = headerPid(header, 26);
    m_streams.clear();
    CMpegTsDemux demux;
    demux.ScanStreams(m_recording, m_pmtPid, m_videoPid, m_audioPid, m_ac3Pid);
    m_streams = demux.Streams();
    m_bitRate = EstimatedBitRate();
    m_recording.SeekToStart();
}

void CRecordingModel::findFirstPicture() {
    // Never the stored "FirstPTS": that may be another recording's.
    m_firstPTS = 0;
    CaptureSnapshot(*this, 0, -1, std::string());
    m_recording.SeekToStart();
}

void CRecordingModel::Close() {
    SaveCutList();
    CloseWithoutSaving();
}

void CRecordingModel::CloseWithoutSaving() {
    if (m_recording.IsOpen()) m_recording.Close();
    m_cutList.clear();
    m_streams.clear();
    m_pmtPid = m_videoPid = m_audioPid = m_ac3Pid = 0;
    m_firstPTS = 0;
    m_readOnly = false;
    m_foreignCutList.reset();
    m_holdsPackets = false;
}

void CRecordingModel::SaveCutList() {
    if (!m_recording.IsOpen()) return;
    if (m_foreignCutList && m_cutList.empty()) return;
    cutlist::Save(m_cutList, m_firstPTS, m_recording.GetFileTitle());
    // Areas marked on this recording replace the other one's under the title.
    if (!m_cutList.empty()) m_foreignCutList.reset();
}

void CRecordingModel::LoadCutList() {
    if (!m_recording.IsOpen()) return;
    CCutList stored;
    std::optional<std::int64_t> storedFirst;
    cutlist::Load(stored, storedFirst, m_recording.GetFileTitle());
    m_foreignCutList.reset();
    // An interrupted run in place has changed the recording's start: its
    // journal, beside this very file, binds the areas to it.
    if (!HasUnfinishedRun() && belongsElsewhere(stored, storedFirst)) {
        LogWrite("The stored cut areas of " + m_recording.GetFileTitle() +
                     " belong to another recording of the same name: not applied",
                 1);
        m_foreignCutList = std::move(stored);
        m_cutList.clear();
        return;
    }
    m_cutList = std::move(stored);
}

bool CRecordingModel::belongsElsewhere(const CCutList& stored,
                                       std::optional<std::int64_t> storedFirst) const {
    if (stored.empty()) return false;
    const std::uint64_t sectors = (m_recording.GetLength() + kSectorSize - 1) / kSectorSize;
    for (const CCutArea& area : stored)
        if (area.IsEnabled && area.SectorStart >= sectors) return true;
    // A stamp of 0 was stored without a picture to take it from.
    return storedFirst && *storedFirst != 0 && m_firstPTS != 0 && *storedFirst != m_firstPTS;
}

const CCutList& CRecordingModel::ForeignCutList() const {
    static const CCutList kNone;
    return m_foreignCutList ? *m_foreignCutList : kNone;
}

void CRecordingModel::DiscardForeignCutList() {
    if (!m_foreignCutList || !m_recording.IsOpen()) return;
    m_foreignCutList.reset();
    cutlist::Save(m_cutList, m_firstPTS, m_recording.GetFileTitle());
}

bool CRecordingModel::HasUnfinishedRun() const {
    return m_recording.IsOpen() && platform::FileExists(CutJournalPath(m_recording.GetFilePath()));
}

std::string CutJournalPath(const std::string& recordingPath) {
    return recordingPath + ".cutjournal";
}
