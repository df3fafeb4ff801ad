// The cut editor's job buttons: each runs one job of the driver on this thread;
// the progress window keeps the window alive meanwhile.
#include <QComboBox>
#include <QListWidget>
#include <QUndoStack>
#include <filesystem>

#include "app/qt/cut_list_command.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "controls/range_slider.h"
#include "engine/function_mng.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/output_folder.h"
#include "shell/preferences.h"
#include "shell/progress.h"
#include "shell/prompts.h"
#include "shell/text.h"

namespace {
// Passes every question on and notes the file name the user chose, so that
// a finished copy can say where it went.
class NotingPrompts : public IPrompts {
  public:
    explicit NotingPrompts(IPrompts& inner) : m_inner(inner) {}
    PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons buttons,
                     PromptIcon icon) override {
        return m_inner.Ask(caption, text, buttons, icon);
    }
    std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                         const std::string& value) override {
        return m_inner.InputText(caption, prompt, value);
    }
    std::optional<std::string> SaveFileName(const std::string& proposedPath,
                                            const std::string& defaultExtension) override {
        m_chosen = m_inner.SaveFileName(proposedPath, defaultExtension);
        return m_chosen;
    }
    void RunSettingsDialog() override { m_inner.RunSettingsDialog(); }

    const std::optional<std::string>& Chosen() const { return m_chosen; }

  private:
    IPrompts& m_inner;
    std::optional<std::string> m_chosen;
};

bool Succeeded(JobResult result) {
    return result == JobResult::Done || result == JobResult::DoneWithWarnings;
}

std::string AbsolutePath(const std::string& path) {
    return std::filesystem::absolute(path).lexically_normal().string();
}
}  // namespace

template <typename Job>
JobResult CRaveloView::RunJob(Job job) {
    if (m_jobRunning) return JobResult::NotStarted;  // never two jobs at once
    m_jobRunning = true;
    JobResult result = JobResult::Failed;
    try {
        result = job();
    } catch (const std::exception& e) {
        // A job that ends in an exception must still leave a usable window
        // and say what happened.
        Progress().Close();
        LogWrite(std::string("Job ended: ") + e.what(), 1);
        Prompts().Ask(LoadResString(ids::kAttention), e.what(), PromptButtons::Ok,
                      PromptIcon::Error);
    }
    m_jobRunning = false;
    emit JobFinished();
    return result;
}

void CRaveloView::ReportOutputFolder(JobResult result) {
    if (!Succeeded(result)) return;
    // Where the demultiplexing jobs write: as the driver chooses it.
    const std::string folder = CPreferences::GetUseSourceAsOutputPath()
                                   ? DirPart(m_doc.Model().Recording().GetFilePath())
                                   : WorkFolder("~demux");
    emit StatusMessage(
        QStringLiteral("Written to %1")
            .arg(QString::fromStdString(AbsolutePath(folder.empty() ? "." : folder))));
}

void CRaveloView::OnDemux() {
    ReportOutputFolder(RunJob([] { return FunctionMng().FnCreateOutput(0, OutputEs); }));
}

// The audio track chosen in the combo box; 0 when it offers none.
static std::uint16_t ChosenAudio(const QComboBox& combo) {
    const int index = combo.currentIndex();
    return static_cast<std::uint16_t>(index >= 0 ? combo.itemData(index).toInt() : 0);
}

void CRaveloView::OnCreateMpeg() {
    const std::uint16_t pid = ChosenAudio(*m_audioCombo);
    ReportOutputFolder(RunJob([pid] { return FunctionMng().FnCreateOutput(pid, OutputMpeg); }));
}

// The VOB takes the video and the same audio track as the program stream;
// without a track in the combo (AC-3 only, or no sound), every stream.
void CRaveloView::OnCreateVob() {
    const std::uint16_t pid = ChosenAudio(*m_audioCombo);
    ReportOutputFolder(RunJob([pid] { return FunctionMng().FnCreateOutput(pid, OutputVob); }));
}

void CRaveloView::OnCopy() {
    IPrompts& previous = Prompts();
    NotingPrompts prompts(previous);
    SetPrompts(&prompts);
    const JobResult result = RunJob([] { return FunctionMng().FnProcessCopy(); });
    SetPrompts(&previous);
    if (!Succeeded(result) || !prompts.Chosen()) return;
    const std::string path = AbsolutePath(*prompts.Chosen());
    emit StatusMessage(QStringLiteral("Copy written to %1").arg(QString::fromStdString(path)));
    Prompts().Ask(LoadResString(ids::kAppTitle), "The edited recording was written to\r\n" + path,
                  PromptButtons::Ok, PromptIcon::Information);
}

void CRaveloView::OnRemoveCuts() {
    CRecordingModel& model = m_doc.Model();
    const std::uint64_t lengthBefore = model.Recording().GetLength();
    const CCutList areasBefore = model.m_cutList;
    const JobResult result = RunJob([] { return FunctionMng().FnProcessSource(); });
    // Whatever the answer was: the recording may be shorter now.
    if (!m_doc.IsOpen()) return;
    const bool changed =
        model.Recording().GetLength() != lengthBefore || !SameCutList(model.m_cutList, areasBefore);
    // Marks of the history would point into data that has moved.
    if (changed) m_undo->clear();
    ResetSlider();
    m_slider->ClearSelection();
    m_position = 0;
    // Size, length, time base and picture describe the file as it is now.
    m_shownStamp = kNoPicture;
    model.m_firstPTS = 0;
    ShowSnapshot(false);
    model.m_firstPTS = m_stamp;
    FindRecordingLength();
    UpdateTimeLabel();
    FillCutListBox();
    UpdateSplicePreview();
    if (Succeeded(result) && changed)
        emit StatusMessage(QStringLiteral("Cut areas removed from %1")
                               .arg(QString::fromStdString(model.Recording().GetFilePath())));
}
