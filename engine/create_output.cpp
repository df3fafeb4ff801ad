// The demultiplexing jobs: elementary streams, one MPEG program stream, VOB.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/job_streams.h"
#include "app/random_access_probe.h"
#include "app/recording_model.h"
#include "demux/mpeg_sync.h"
#include "demux/mpeg_ts_demux.h"
#include "demux/packet_size.h"
#include "demux/raw_file.h"
#include "engine/function_mng.h"
#include "engine/hd_stream_export.h"
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
// The H.264/HEVC export reads this much between two looks at the progress.
constexpr std::uint64_t kSliceBytes = 1u << 20;

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
        if (!IsVideo(c->m_streamType) && !IsAudio(c->m_streamType)) continue;
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

// Opens the writer on the output channels; a result when the job ends here
// (the overwrite question cancelled, a file that cannot be made).
std::optional<JobResult> OpenWriter(CMpegStorage& writer, CChannelSet& channels,
                                    const std::string& prefix) {
    try {
        if (!writer.Open(&channels, prefix)) {
            Progress().Close();
            return JobResult::NotStarted;
        }
    } catch (const platform::FileException& e) {
        try {
            writer.Close();  // the files created before the failing one
        } catch (const platform::FileException&) {
        }
        return Fail(e.what());
    }
    return std::nullopt;
}

// A recording that begins with a cut area (starting within its first
// 256 KiB) is processed from the area's end; the areas passed over are
// disabled for the job and given back to be enabled again.
std::vector<CCutArea*> SkipLeadingCuts(CRawFile& recording, CCutList& areas) {
    std::vector<CCutArea*> leading;
    for (CCutArea& area : areas) {
        if (!area.IsEnabled || area.SectorStart > kLeadingCutSectors) continue;
        recording.Seek(static_cast<std::int64_t>(area.SectorEnd * kSectorSize), CRawFile::begin);
        area.IsEnabled = false;
        leading.push_back(&area);
    }
    return leading;
}

// The end of a job that ran: the files closed, outputs that stayed empty
// and streams that got nothing reported, the Done line.
JobResult EndJob(std::unique_ptr<CMpegStorage>& writer, const CChannelSet& output,
                 std::string failure, bool cancelled, int dataErrors, std::uint64_t start) {
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
    const int missing = cancelled ? 0 : ReportMissingStreams(output);
    const auto seconds = static_cast<std::uint32_t>((platform::TickCount() - start) / 1000);
    LogPrint("Done, " + std::to_string(seconds) + "s", 1);
    LogPrint("", 1);
    IProgress& progress = Progress();
    if (!progress.IsCancelled()) progress.SetPos(1000);
    progress.Finish();
    if (cancelled) return JobResult::Cancelled;
    return dataErrors + missing > 0 || emptyOutput ? JobResult::DoneWithWarnings : JobResult::Done;
}

struct LoopEnd {
    bool cancelled = false;
    std::string failure;
};

// The read-and-write loop of a demultiplexing job: step reads the next slice
// (false at the end), forward hands what is complete to the output channels,
// the writer writes what they hold. A job stopped by Cancel (at a progress
// report, or inside a step: stopped) skips finish, which passes on what still
// waits at the end of the data.
template <class Step, class Forward, class Stopped, class Finish>
LoopEnd RunWriteLoop(CFunctionMng& driver, CRawFile& recording, CMpegStorage& writer, Step step,
                     Forward forward, Stopped stopped, Finish finish) {
    LoopEnd end;
    try {
        while (step()) {
            if (!driver.ReportProgress(recording.GetPosition())) {
                LogPrint("Aborted by user", 1);
                end.cancelled = true;
                break;
            }
            forward();
            writer.Write();
        }
        if (stopped()) {
            LogPrint("Aborted by user", 1);
            end.cancelled = true;
        }
        if (!end.cancelled) finish();
        writer.Write(true);
    } catch (const CMpegChannelException& e) {
        end.failure = e.Message();
    } catch (const platform::FileException& e) {
        end.failure = e.what();
    }
    return end;
}

// Whether the recording's video is H.264 or HEVC.
bool HasNalVideo(const CRecordingModel& model) {
    for (const sPMTEntry& entry : model.m_streams)
        if (entry.pid == model.m_videoPid)
            return entry.streamType == kStreamH264 || entry.streamType == kStreamHevc;
    return false;
}

// The streams as the export needs them: an H.264 stream's random-access
// marks are known (a stream without IDR pictures and recovery points is cut
// at its I pictures).
CPMT StreamsForExport(CRecordingModel& model) {
    CPMT streams = model.m_streams;
    for (sPMTEntry& entry : streams) {
        if (entry.pid != model.m_videoPid || entry.streamType != kStreamH264 ||
            entry.randomAccessMarks != 0)
            continue;
        entry.randomAccessMarks = ProbeRandomAccessMarks(model.Recording(), model.m_videoPid);
    }
    return streams;
}

// Where a demultiplexing job writes: the folder (-o, the source's folder or
// ~demux) and the recording's base name.
std::string OutputPrefix(const CFunctionMng& driver, const CRawFile& recording) {
    const std::string base = BaseName(recording.GetFileTitle());
    const std::string folder = !driver.m_outputFolder.empty() ? driver.m_outputFolder
                               : CPreferences::GetUseSourceAsOutputPath()
                                   ? DirPart(recording.GetFilePath())
                                   : WorkFolder("~demux");
    return JoinPath(folder.empty() ? "." : folder, base);
}

// "Demux to MPEG" of an H.264 or HEVC recording: the elementary streams of
// its video and sound, in step, without the cut areas (CHdStreamExport).
JobResult CreateNalStreams(CFunctionMng& driver, std::uint64_t start) {
    LogPrint("Demultiplexing recording to separate MPEG ES: ", 1);
    CRecordingModel& model = *driver.m_pDoc;
    CRawFile& recording = model.Recording();
    const bool useCuts = !platform::KeyState().IsCtrlDown();
    const CPMT streams = StreamsForExport(model);
    CHdStreamExport exporter(recording, streams, model.m_videoPid,
                             useCuts ? model.m_cutList : CCutList{});
    exporter.SetProgressHook([&driver](std::uint64_t position) { return driver.ReportProgress(position); });
    auto writer = std::make_unique<CMpegStorage>();
    if (auto ended = OpenWriter(*writer, exporter.Output(), OutputPrefix(driver, recording)))
        return *ended;

    recording.SeekToStart();
    std::vector<CCutArea*> leading;
    if (useCuts) leading = SkipLeadingCuts(recording, model.m_cutList);
    const LoopEnd end = RunWriteLoop(
        driver, recording, *writer, [&] { return exporter.Step(kSliceBytes); }, [] {},
        [&] { return exporter.Cancelled(); }, [&] { exporter.Finish(); });
    for (CCutArea* area : leading) area->IsEnabled = true;
    return EndJob(writer, exporter.Output(), end.failure, end.cancelled, exporter.DataErrors(),
                  start);
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
    if (kind == OutputEs && HasNalVideo(*m_pDoc)) return CreateNalStreams(*this, start);
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
    std::unique_ptr<CMpegStorage> writer = MakeWriter(kind, sync);
    if (auto ended = OpenWriter(*writer, sync.Output(), OutputPrefix(*this, recording)))
        return *ended;

    recording.SeekToStart();
    std::vector<CCutArea*> leading;
    if (useCuts) leading = SkipLeadingCuts(recording, m_pDoc->m_cutList);

    const LoopEnd end = RunWriteLoop(
        *this, recording, *writer, [&] { return demux.Demux(); }, [&] { sync.Forward(); },
        [&] { return demux.Cancelled(); }, [&] { sync.Forward(); });
    for (CCutArea* area : leading) area->IsEnabled = true;
    return EndJob(writer, sync.Output(), end.failure, end.cancelled,
                  demux.DataErrors() + sync.Repairs(), start);
}
