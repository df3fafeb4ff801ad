// The two copying jobs of the driver: "Copy edited recording" writes the
// recording without its cut areas into a new file, "Remove cuts in recording"
// does the same in place.

#include <cerrno>
#include <cstring>
#include <optional>
#include <set>

#include "app/job_streams.h"
#include "app/recording_model.h"
#include "demux/raw_file.h"
#include "engine/cut_engine.h"
#include "engine/cut_journal.h"
#include "engine/cut_planner.h"
#include "engine/function_mng.h"
#include "engine/nal_cut_streams.h"
#include "platform/file.h"
#include "platform/settings_store.h"
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
    const std::uint64_t length = recording.GetReadableLength();
    std::uint64_t removed = 0;
    for (const ByteArea& area : CCutPlanner::MergeAreas(cuts, 0, length))
        removed += area.end - area.start;
    return length - removed;
}

// A copy must never be written onto the recording it is made from, nor
// remove one of its segment files.
bool namesSourceFile(const CRawFile& recording, const std::string& path) {
    for (int index = 0; index < recording.GetSegmentCount(); ++index)
        if (recording.HoldsFile(CRawFile::GetSegmentName(path, index))) return true;
    for (const std::string& segment : CRawFile::ExistingLaterSegments(path))
        if (recording.HoldsFile(segment)) return true;
    return false;
}

// Segment files of an earlier output under the chosen name would be read as
// part of the new copy: they are replaced only when the user agrees.
bool replaceEarlierSegments(const std::string& path) {
    const std::vector<std::string> segments = CRawFile::ExistingLaterSegments(path);
    if (segments.empty()) return true;
    const std::string name = FileNamePart(path);
    std::string files = platform::FileExists(path)
                            ? name + " and " + std::to_string(segments.size()) + " segment files"
                            : std::to_string(segments.size()) + " segment files of " + name;
    files += " (" + FileNamePart(segments.front());
    if (segments.size() > 1) files += " to " + FileNamePart(segments.back());
    files += ")";
    const std::string text = "The files " + files + "\r\nin path [" + DirPart(path) +
                             "]\r\nalready exist. Replace them?";
    if (Prompts().Ask(LoadResString(ids::kAttention), text, PromptButtons::YesNo,
                      PromptIcon::Warning) != PromptAnswer::Yes)
        return false;
    for (const std::string& segment : segments)
        if (!platform::RemoveFile(segment))
            throw platform::FileException(errno, segment, "Cannot remove");
    return true;
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

bool CFunctionMng::RefuseUnfinishedRun(const CRawFile& recording) {
    if (CCutJournal::Read(recording, nullptr, nullptr) == CCutJournal::Found::None) return false;
    const std::string message =
        "Removing the cut areas of " + recording.GetFilePath() +
        " was interrupted, so the recording holds a stretch that is already moved forward.\r\n"
        "Run \"Remove cuts in recording\" again to complete it first.";
    LogPrint(message, 1);
    Prompts().Ask(LoadResString(ids::kAttention), message, PromptButtons::Ok, PromptIcon::Error);
    return true;
}

JobResult CFunctionMng::FnProcessCuts(CRawFile& source, CRawFile& destination) {
    LogScope scope("CFunctionMng::FnProcessCuts", 1);
    if (m_workFolders) CheckOutputFolder();
    FindActiveDocument();
    const std::uint16_t videoPid = m_pDoc != nullptr ? m_pDoc->m_videoPid : 0;
    const CCutList cuts = m_pDoc != nullptr ? m_pDoc->m_cutList : CCutList{};
    CCutEngine engine(source, destination, videoPid,
                      [this](std::uint64_t position) { return ReportProgress(position); });
    if (m_pDoc != nullptr) engine.SetAudioPids(audioPids(*m_pDoc));
    if (m_pDoc != nullptr)
        if (const auto streams = NalCutStreams(*m_pDoc)) engine.SetStreams(*streams);
    if (m_pDoc != nullptr && engine.InPlace()) {
        engine.SetOnComplete([this] {
            // The stored areas described the recording before the cut: they
            // go before the journal does.
            m_pDoc->m_cutList.clear();
            m_pDoc->SaveCutList();
            platform::Settings().Sync();
        });
    }
    IProgress& progress = Progress();
    progress.Open(LoadResString(engine.InPlace() ? ids::kRemoveTitle : ids::kCopyTitle), true);
    progress.SetLayout(kProgressLines, kProgressWidth, false);
    progress.SetRange(0, kProgressRange, 1);
    progress.SetPos(0);
    const JobResult result = engine.Run(cuts);
    m_nPacketStride = engine.PacketStride();
    m_nSyncOffset = engine.SyncOffset();
    progress.Close();
    if (engine.Interrupted() && m_pDoc != nullptr) {
        // The stored areas must describe the recording as it now is: a
        // retry removes exactly what is left to remove.
        m_pDoc->m_cutList = engine.RemainingAreas();
        m_pDoc->SaveCutList();
    }
    if (result == JobResult::Failed) {
        Prompts().Ask(LoadResString(ids::kAttention), engine.ErrorMessage(), PromptButtons::Ok,
                      PromptIcon::Error);
    }
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
    if (RefuseUnfinishedRun(recording)) return JobResult::Failed;
    const std::optional<std::string> chosen = Prompts().SaveFileName(proposed, extension);
    if (!chosen) return JobResult::NotStarted;
    if (namesSourceFile(recording, *chosen)) {
        reportError("The copy cannot be written onto the recording itself:\r\n" + *chosen);
        return JobResult::Failed;
    }
    try {
        if (!replaceEarlierSegments(*chosen)) return JobResult::NotStarted;
    } catch (const platform::FileException& failure) {
        reportError(failure.what());
        return JobResult::Failed;
    }

    CRawFile copy;
    copy.CopySegmentLayout(recording);
    copy.SetUnswapped(recording.GetUnswapped());
    platform::FileError error;
    copy.Open(*chosen, platform::modeCreate | platform::modeReadWrite, &error);
    if (error.Failed()) {
        reportError("Cannot create " + error.path + ": " + std::strerror(error.osError));
        return JobResult::Failed;
    }
    try {
        copy.SetLength(expectedLength(recording, m_pDoc->m_cutList));
    } catch (const platform::FileException& failure) {
        reportError(failure.what());
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
    CutJournalRecord interrupted;
    if (CCutJournal::Read(m_pDoc->Recording(), &interrupted, nullptr) ==
            CCutJournal::Found::Record &&
        !SameAreas(m_pDoc->m_cutList, CCutJournal::Describe(interrupted)) &&
        !SameAreas(m_pDoc->m_cutList, interrupted.plan.areas)) {
        // The retry finishes what was planned, from the areas as they were
        // marked or as the failure left them; areas changed since would be
        // silently dropped with it.
        reportError("Removing the cut areas of " + m_pDoc->Recording().GetFilePath() +
                    " was interrupted, and its cut areas were changed since.\r\nOpen the "
                    "recording again and run \"Remove cuts in recording\" with the cut areas "
                    "shown to complete the interrupted run first.");
        return JobResult::Failed;
    }
    const JobResult result = FnProcessCuts(m_pDoc->Recording(), m_pDoc->Recording());
    // After a failure the areas are still needed: the list stays as it was.
    if (result == JobResult::Done || result == JobResult::DoneWithWarnings) {
        m_pDoc->m_cutList.clear();
        m_pDoc->SaveCutList();
    }
    return result;
}

bool SameAreas(const CCutList& a, const CCutList& b) {
    auto enabled = [](const CCutList& list) {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> sectors;
        for (const CCutArea& area : list)
            if (area.IsEnabled) sectors.emplace_back(area.SectorStart, area.SectorEnd);
        return sectors;
    };
    return enabled(a) == enabled(b);
}
