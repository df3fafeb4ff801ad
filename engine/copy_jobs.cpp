// The two copying jobs of the driver: "Copy edited recording" writes the
// recording without its cut areas into a new file, "Remove cuts in recording"
// does the same in place.

#include <cstring>
#include <set>

#include "app/job_streams.h"
#include "app/recording_model.h"
#include "demux/raw_file.h"
#include "engine/cut_engine.h"
#include "engine/cut_planner.h"
#include "engine/function_mng.h"
#include "platform/file.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/output_folder.h"
#include "shell/progress.h"
#include "shell/prompts.h"
#include "shell/text.h"

namespace {

constexpr int kProgressLines = 1;
constexpr int kProgressWidth = 390;
constexpr int kProgressRange = 1000;

void reportError(const std::string& message) {
    LogWrite(message, 1);
    Prompts().Ask(LoadResString(ids::kAttention), message, PromptButtons::Ok, PromptIcon::Error);
}

// The copy's length when every enabled area goes whole; the cut engine sets
// the exact length at its end.
std::uint64_t expectedLength(const CRawFile& recording, const CCutList& cuts) {
    const std::uint64_t length = recording.GetLength();
    std::uint64_t removed = 0;
    for (const ByteArea& area : CCutPlanner::MergeAreas(cuts, 0, length))
        removed += area.end - area.start;
    return length - removed;
}

// A copy must never be written onto the recording it is made from.
bool namesSourceFile(const CRawFile& recording, const std::string& path) {
    for (int index = 0; index < recording.GetSegmentCount(); ++index)
        if (recording.HoldsFile(CRawFile::GetSegmentName(path, index))) return true;
    return false;
}

std::set<std::uint16_t> audioPids(const CRecordingModel& model) {
    std::set<std::uint16_t> pids;
    for (const sPMTEntry& stream : model.m_streams)
        if (IsAudio(stream.streamType)) pids.insert(static_cast<std::uint16_t>(stream.pid));
    for (std::uint16_t pid : {model.m_audioPid, model.m_ac3Pid})
        if (pid != 0) pids.insert(pid);
    pids.erase(model.m_videoPid);
    return pids;
}

}  // namespace

JobResult CFunctionMng::FnProcessCuts(CRawFile& source, CRawFile& destination) {
    LogScope scope("CFunctionMng::FnProcessCuts", 1);
    CheckOutputFolder();
    FindActiveDocument();
    const std::uint16_t videoPid = m_pDoc != nullptr ? m_pDoc->m_videoPid : 0;
    const CCutList cuts = m_pDoc != nullptr ? m_pDoc->m_cutList : CCutList{};
    CCutEngine engine(source, destination, videoPid,
                      [this](std::uint64_t position) { return ReportProgress(position); });
    if (m_pDoc != nullptr) engine.SetAudioPids(audioPids(*m_pDoc));
    IProgress& progress = Progress();
    progress.Open(LoadResString(engine.InPlace() ? ids::kRemoveTitle : ids::kCopyTitle), true);
    progress.SetLayout(kProgressLines, kProgressWidth, false);
    progress.SetRange(0, kProgressRange, 1);
    progress.SetPos(0);
    const JobResult result = engine.Run(cuts);
    m_nPacketStride = engine.PacketStride();
    m_nSyncOffset = engine.SyncOffset();
    progress.Close();
    if (result == JobResult::Failed)
        Prompts().Ask(LoadResString(ids::kAttention), engine.ErrorMessage(), PromptButtons::Ok,
                      PromptIcon::Error);
    return result;
}

JobResult CFunctionMng::FnProcessCopy() {
    LogScope scope("CFunctionMng::FnProcessCopy", 1);
    FindActiveDocument();
    if (m_pDoc == nullptr || !m_pDoc->IsOpen()) {
        reportError("No recording is open.");
        return JobResult::Failed;
    }
    if (const std::string refusal = UnsupportedStreamsMessage(*m_pDoc, JobKind::Copy);
        !refusal.empty()) {
        reportError(refusal);
        return JobResult::Failed;
    }
    CRawFile& recording = m_pDoc->Recording();
    const std::string extension = recording.GetFileExtension();
    const std::string path = recording.GetFilePath();
    const std::string proposed = JoinPath(DirPart(path), BaseName(path) + " (copy)." + extension);
    const std::optional<std::string> chosen = Prompts().SaveFileName(proposed, extension);
    if (!chosen) return JobResult::NotStarted;
    if (namesSourceFile(recording, *chosen)) {
        reportError("The copy cannot be written onto the recording itself:\r\n" + *chosen);
        return JobResult::Failed;
    }

    CRawFile copy;
    copy.CopySegmentLayout(recording);
    copy.SetUnswapped(recording.GetUnswapped());
    platform::FileError error;
    copy.Open(*chosen, platform::modeCreate | platform::modeReadWrite, &error);
    if (error.Failed()) {
        reportError("Cannot create the file " + error.path + ":\r\n" +
                    std::strerror(error.osError));
        return JobResult::Failed;
    }
    try {
        copy.SetLength(expectedLength(recording, m_pDoc->m_cutList));
    } catch (const platform::FileException& failure) {
        reportError(std::string("Cannot set the length of the copy: ") + failure.what() + "\r\n" +
                    *chosen);
        return JobResult::Failed;
    }
    const JobResult result = FnProcessCuts(recording, copy);
    copy.Close();
    return result;
}

JobResult CFunctionMng::FnProcessSource() {
    FindActiveDocument();
    if (m_pDoc != nullptr && m_pDoc->IsOpen()) {
        if (const std::string refusal = UnsupportedStreamsMessage(*m_pDoc, JobKind::CutInPlace);
            !refusal.empty()) {
            reportError(refusal);
            return JobResult::Failed;
        }
    }
    if (Prompts().Ask(LoadResString(ids::kAttention), LoadResString(ids::kIrreversible),
                      PromptButtons::YesNo, PromptIcon::Warning) != PromptAnswer::Yes)
        return JobResult::NotStarted;
    LogScope scope("CFunctionMng::FnProcessSource", 1);
    FindActiveDocument();
    if (m_pDoc == nullptr || !m_pDoc->IsOpen()) {
        reportError("No recording is open.");
        return JobResult::Failed;
    }
    if (m_pDoc->IsReadOnly()) {
        reportError("The recording is open read-only; its cut areas cannot be removed:\r\n" +
                    m_pDoc->Recording().GetFilePath());
        return JobResult::Failed;
    }
    const JobResult result = FnProcessCuts(m_pDoc->Recording(), m_pDoc->Recording());
    // After a failure the areas are still needed: the list stays as it was.
    if (result == JobResult::Done) {
        m_pDoc->m_cutList.clear();
        m_pDoc->SaveCutList();
    }
    return result;
}
