// The cut editor's job buttons: each runs one job of the driver on this thread;
// the progress window keeps the window alive meanwhile.
#include <QComboBox>
#include <QListWidget>

#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "controls/range_slider.h"
#include "engine/function_mng.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/progress.h"
#include "shell/prompts.h"

template <typename Job>
void CRaveloView::RunJob(Job job) {
    if (m_jobRunning) return;  // never two jobs at once
    m_jobRunning = true;
    try {
        job();
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
}

void CRaveloView::OnDemux() {
    RunJob([] { FunctionMng().FnCreateOutput(0, OutputEs); });
}

// The audio track chosen in the combo box; 0 when it offers none.
static std::uint16_t ChosenAudio(const QComboBox& combo) {
    const int index = combo.currentIndex();
    return static_cast<std::uint16_t>(index >= 0 ? combo.itemData(index).toInt() : 0);
}

void CRaveloView::OnCreateMpeg() {
    const std::uint16_t pid = ChosenAudio(*m_audioCombo);
    RunJob([pid] { FunctionMng().FnCreateOutput(pid, OutputMpeg); });
}

// The VOB takes the video and the same audio track as the program stream;
// without a track in the combo (AC-3 only, or no sound), every stream.
void CRaveloView::OnCreateVob() {
    const std::uint16_t pid = ChosenAudio(*m_audioCombo);
    RunJob([pid] { FunctionMng().FnCreateOutput(pid, OutputVob); });
}

void CRaveloView::OnCopy() {
    RunJob([] { FunctionMng().FnProcessCopy(); });
}

void CRaveloView::OnRemoveCuts() {
    RunJob([] { FunctionMng().FnProcessSource(); });
    // Whatever the answer was: the recording may be shorter now.
    if (!m_doc.IsOpen()) return;
    ResetSlider();
    m_slider->ClearSelection();
    m_position = 0;
    FillCutListBox();
}
