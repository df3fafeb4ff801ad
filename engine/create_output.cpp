// The demultiplexing jobs: elementary streams, one MPEG program stream, VOB.

#include <memory>
#include <string>
#include <vector>

#include "app/job_streams.h"
#include "app/recording_model.h"
#include "demux/mpeg_sync.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/packet_size.h"
#include "demux/raw_file.h"
#include "engine/function_mng.h"
#include "output/channel_set.h"
#include "output/mpeg_channel_exception.h"
#include "output/mpeg_storage.h"
#include "output/mpeg_storage_mpg.h"
#include "output/mpeg_storage_vob.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/key_state.h"
#include "shell/log.h"
#include "shell/output_folder.h"
#include "shell/preferences.h"
#include "shell/progress.h"
#include "shell/text.h"

namespace {

constexpr std::uint64_t kLeadingCutSectors = 512;  // a cut starting in the first 256 KiB

const char* Title(OutputKind kind) {
    switch (kind) {
        case OutputVob: return "Create VOB";
        case OutputMpeg: return "Create MPEG";
        default: return "Demuxing";
    }
}

// The MPEG program stream keeps the video and the one chosen audio stream.
void KeepVideoAndAudio(CMpegTsDemux& demux, std::uint16_t videoPid, std::uint16_t audioPid) {
    CChannelSet& channels = demux.Channels();
    for (bool removed = true; removed;) {
        removed = false;
        for (CMpegChannel* c : channels.Channels()) {
            if (c->m_pid == videoPid || c->m_pid == audioPid) continue;
            const std::uint16_t pid = c->m_pid;
            channels.Remove(pid);
            std::erase_if(demux.Streams(), [pid](const sPMTEntry& e) { return e.pid == pid; });
            removed = true;
            break;
        }
    }
}

std::unique_ptr<CMpegStorage> MakeWriter(OutputKind kind, CMpegSync& sync) {
    switch (kind) {
        case OutputVob:
            LogPrint("Re-memuxing recording to VOB: ", 1);
            sync.SetVobMode(true);
            return std::make_unique<CMpegStorageVOB>();
        case OutputMpeg:
            LogPrint("Re-memuxing recording to one single MPEG PS: ", 1);
            sync.SetVobMode(true);
            return std::make_unique<CMpegStorageMPG>();
        default:
            LogPrint("Demultiplexing recording to separate MPEG ES: ", 1);
            sync.SetVobMode(false);
            return std::make_unique<CMpegStorage>();
    }
}

std::uint64_t FileLength(const std::string& path) {
    platform::PlatformFile file;
    platform::FileError error;
    return file.Open(path, platform::modeRead, &error) ? file.Length() : 0;
}

// Streams the output should hold but got nothing of (video that never
// started, sound that never found a frame): each is reported; their number.
// An output without any stream to hold is reported too.
int ReportMissingStreams(const CChannelSet& output) {
    int missing = 0, written = 0;
    for (const CMpegChannel* c : output.Channels()) {
        if (c->m_streamType != 2 && !IsAudio(c->m_streamType)) continue;
        ++written;
        if (c->Added() > 0) continue;
        LogPrint("No data for stream PID=" + Hex16(c->m_pid) + ": it is missing from the output", 1);
        ++missing;
    }
    if (written == 0) {
        LogPrint("No video or audio stream to write: the output is empty", 1);
        ++missing;
    }
    return missing;
}

// Ends a job that could not run or failed on its way.
JobResult Fail(const std::string& reason) {
    LogPrint("Failed: " + reason, 1);
    LogPrint("", 1);
    Progress().Finish();
    return JobResult::Failed;
}

}  // namespace

JobResult CFunctionMng::FnCreateOutput(std::uint16_t audioPid, OutputKind kind) {
    LogScope scope("CFunctionMng::FnCreateOutput", 1);
    if (m_workFolders) CheckOutputFolder();
    FindActiveDocument();

    IProgress& progress = Progress();
    progress.Open(Title(kind), true);
    progress.SetLayout(1, 390, true);
    progress.SetRange(0, 1000, 1);
    progress.SetPos(0);
    if (!m_pDoc || !m_pDoc->IsOpen()) return Fail("no recording is open");
    const JobKind job = kind == OutputMpeg  ? JobKind::Mpeg
                        : kind == OutputVob ? JobKind::Vob
                                            : JobKind::Demux;
    if (const std::string refusal = UnsupportedStreamsMessage(*m_pDoc, job, audioPid); !refusal.empty())
        return Fail(refusal);

    const std::uint64_t start = platform::TickCount();
    CRawFile& recording = m_pDoc->Recording();
    if (RefuseUnfinishedRun(recording)) return Fail("an interrupted removal of cut areas");
    // The packet reader takes 188-byte packets: a recording of prefixed
    // 192-byte packets would come out empty or damaged.
    const PacketLayout layout = DetectPacketLayout(recording, 0);
    if (layout.found && layout.size != 188)
        return Fail(recording.GetFileTitle() +
                    " holds 192-byte packets (a 4-byte prefix before each), which the "
                    "demultiplexing jobs do not read; copy and cut take them");
    recording.SeekToStart();
    CMpegTsDemux demux;
    std::uint16_t pmtPid = m_pDoc->m_pmtPid, videoPid = m_pDoc->m_videoPid;
    std::uint16_t docAudio = m_pDoc->m_audioPid, ac3Pid = m_pDoc->m_ac3Pid;
    if (!demux.Init(recording, pmtPid, videoPid, docAudio, ac3Pid) || demux.Channels().Count() == 0)
        return Fail("no video or audio stream found in " + recording.GetFileTitle());

    // With Ctrl held (--ignore-cuts) the whole recording is processed.
    const bool useCuts = !platform::KeyState().IsCtrlDown();
    if (useCuts) demux.SetCutList(m_pDoc->m_cutList);
    // A VOB keeps every stream, or, with the window's audio choice, the
    // video and that one as the MPEG program stream does.
    if (kind == OutputMpeg || (kind == OutputVob && audioPid != 0))
        KeepVideoAndAudio(demux, demux.Channels().m_videoPid, audioPid);

    CMpegSync sync(demux.Channels());
    // A long search for the packet sync reports where it is and sees Cancel.
    demux.SetProgressHook([this](std::uint64_t position) { return ReportProgress(position); });
    const std::string base = BaseName(recording.GetFileTitle());
    const std::string folder = !m_outputFolder.empty() ? m_outputFolder
                               : CPreferences::GetUseSourceAsOutputPath()
                                   ? DirPart(recording.GetFilePath())
                                   : WorkFolder("~demux");
    std::unique_ptr<CMpegStorage> writer = MakeWriter(kind, sync);
    try {
        if (!writer->Open(&sync.Output(), JoinPath(folder.empty() ? "." : folder, base))) {
            progress.Close();
            return JobResult::NotStarted;
        }
    } catch (const platform::FileException& e) {
        try {
            writer->Close();  // the files created before the failing one
        } catch (const platform::FileException&) {
        }
        return Fail(e.what());
    }

    recording.SeekToStart();
    std::vector<CCutArea*> leading;
    if (useCuts) {
        for (CCutArea& area : m_pDoc->m_cutList) {
            if (!area.IsEnabled || area.SectorStart > kLeadingCutSectors) continue;
            recording.Seek(static_cast<std::int64_t>(area.SectorEnd * kSectorSize), CRawFile::begin);
            area.IsEnabled = false;
            leading.push_back(&area);
        }
    }

    bool cancelled = false;
    std::string failure;
    try {
        while (demux.Demux()) {
            if (!ReportProgress(recording.GetPosition())) {
                LogPrint("Aborted by user", 1);
                cancelled = true;
                break;
            }
            sync.Forward();
            writer->Write();
        }
        if (demux.Cancelled()) {
            LogPrint("Aborted by user", 1);
            cancelled = true;
        }
        if (!cancelled) sync.Forward();
        writer->Write(true);
    } catch (const CMpegChannelException& e) {
        failure = e.Message();
    } catch (const platform::FileException& e) {
        failure = e.what();
    }
    for (CCutArea* area : leading) area->IsEnabled = true;
    try {
        writer->Close();
    } catch (const platform::FileException& e) {
        if (failure.empty()) failure = e.what();
    }
    const std::vector<std::string> writtenFiles = writer->Files();
    writer.reset();
    if (!failure.empty()) return Fail(failure);

    // An output that stayed empty is no success the user should take for one.
    bool emptyOutput = false;
    for (const std::string& file : writtenFiles) {
        if (!platform::FileExists(file) || FileLength(file) != 0) continue;
        LogPrint("Warning: " + file + " is empty: no data of its stream was written", 1);
        emptyOutput = true;
    }
    const int missing = cancelled ? 0 : ReportMissingStreams(sync.Output());
    const auto seconds = static_cast<std::uint32_t>((platform::TickCount() - start) / 1000);
    LogPrint("Done, " + std::to_string(seconds) + "s", 1);
    LogPrint("", 1);
    if (!progress.IsCancelled()) progress.SetPos(1000);
    progress.Finish();
    if (cancelled) return JobResult::Cancelled;
    return demux.DataErrors() + sync.Repairs() + missing > 0 || emptyOutput
               ? JobResult::DoneWithWarnings
               : JobResult::Done;
}
