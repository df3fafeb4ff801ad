// The cut editor's cut-area operations: list box, marks, selection, and the
// undo history of the edits.
#include <QListWidget>
#include <QSignalBlocker>
#include <QUndoStack>

#include "app/cut_list.h"
#include "app/qt/cut_list_command.h"
#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "app/qt/time_text.h"
#include "controls/range_slider.h"
#include "controls/sx_button.h"
#include "res/strings.h"
#include "shell/prompts.h"

// One user action on the cut list becomes one undo step, however many list
// operations it runs (a start mark may first append an area).
class CRaveloView::CutEdit {
  public:
    CutEdit(CRaveloView& view, const QString& text) : m_view(view), m_text(text) {
        if (m_view.m_editDepth++ == 0) {
            m_before = m_view.m_doc.Model().m_cutList;
            m_row = m_view.m_cutList->currentRow();
        }
    }
    ~CutEdit() {
        if (--m_view.m_editDepth == 0) m_view.RecordEdit(m_text, m_before, m_row);
    }
    CutEdit(const CutEdit&) = delete;
    CutEdit& operator=(const CutEdit&) = delete;

  private:
    CRaveloView& m_view;
    QString m_text;
    CCutList m_before;
    int m_row = -1;
};

void CRaveloView::RecordEdit(const QString& text, const CCutList& before, int rowBefore) {
    const CCutList& after = m_doc.Model().m_cutList;
    if (SameCutList(before, after)) return;
    m_undo->push(
        new CCutListCommand(*this, text, before, rowBefore, after, m_cutList->currentRow()));
    UpdateSplicePreview();
}

void CRaveloView::RestoreCutList(const CCutList& list, int row) {
    m_doc.Model().m_cutList = list;
    FillCutListBox();
    if (row >= 0 && row < m_cutList->count()) {
        const QSignalBlocker blocker(m_cutList);
        m_cutList->setCurrentRow(row);
        ShowSelectionRange(row);
        if (list[static_cast<std::size_t>(row)].IsEnabled) m_endCut->setEnabled(true);
    } else {
        m_slider->ClearSelection();
    }
    UpdateSplicePreview();
}

void CRaveloView::FillCutListBox() {
    const QSignalBlocker blocker(m_cutList);
    m_cutList->clear();
    const std::string label = LoadResString(ids::kCutArea);
    const CRecordingModel& model = m_doc.Model();
    const CCutList& list = model.m_cutList;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const QString row = QString::fromStdString(CutAreaRowText(
            label, i, list[i].PTSStart, list[i].PTSEnd, list[i].IsEnabled, model.m_firstPTS));
        m_cutList->addItem(row);
        m_cutList->item(static_cast<int>(i))->setToolTip(row);
    }
    m_cutList->setCurrentRow(-1);
    m_cutList->clearSelection();
}

void CRaveloView::ShowSelectionRange(int row) {
    const CCutArea& area = m_doc.Model().m_cutList[static_cast<std::size_t>(row)];
    // Low 32 bits, as the slider counts.
    m_slider->SetSelection(static_cast<std::uint32_t>(area.SectorStart),
                           static_cast<std::uint32_t>(area.SectorEnd));
}

void CRaveloView::OnSelectArea() {
    const int row = m_cutList->currentRow();
    CCutList& list = m_doc.Model().m_cutList;
    UpdateSplicePreview();
    if (row < 0 || static_cast<std::size_t>(row) >= list.size()) return;
    ShowSelectionRange(row);
    const CCutArea& area = list[static_cast<std::size_t>(row)];
    if (!area.IsEnabled) return;
    m_endCut->setEnabled(true);
    m_position = m_position == area.SectorStart ? area.SectorEnd : area.SectorStart;
    MoveSlider();
    ShowSnapshot(false);
}

void CRaveloView::OnNewArea() {
    const CutEdit edit(*this, QStringLiteral("New cut-area"));
    cutlist::Append(m_doc.Model().m_cutList);
    FillCutListBox();
    {
        const QSignalBlocker blocker(m_cutList);
        m_cutList->setCurrentRow(m_cutList->count() - 1);
    }
    OnSelectArea();
}

void CRaveloView::OnDeleteArea() {
    const int row = m_cutList->currentRow();
    CCutList& list = m_doc.Model().m_cutList;
    if (row < 0 || static_cast<std::size_t>(row) >= list.size()) return;
    const CutEdit edit(*this, QStringLiteral("Delete cut-area"));
    cutlist::RemoveAt(list, static_cast<std::size_t>(row));
    FillCutListBox();
    m_slider->ClearSelection();
    OnSelectArea();
}

void CRaveloView::OnStartCut() {
    const CutEdit edit(*this, QStringLiteral("Start Cut"));
    if (m_cutList->count() == 0) OnNewArea();
    const int row = m_cutList->currentRow();
    CCutList& list = m_doc.Model().m_cutList;
    if (row < 0 || static_cast<std::size_t>(row) >= list.size()) return;
    const CCutArea& area = list[static_cast<std::size_t>(row)];
    if (area.SectorEnd != 0 && area.SectorEnd < m_position && area.IsEnabled) {
        const PromptAnswer answer =
            Prompts().Ask(LoadResString(ids::kAttention), LoadResString(ids::kStartAfterEnd),
                          PromptButtons::YesNo, PromptIcon::Question);
        if (answer == PromptAnswer::Yes) {
            OnNewArea();
            OnStartCut();
            return;
        }
    }
    cutlist::SetStartMark(list[static_cast<std::size_t>(row)], m_position, m_stamp);
    RefreshRow(row);
    m_endCut->setEnabled(true);
}

void CRaveloView::OnEndCut() {
    const int row = m_cutList->currentRow();
    CCutList& list = m_doc.Model().m_cutList;
    if (row < 0 || static_cast<std::size_t>(row) >= list.size()) return;
    const CutEdit edit(*this, QStringLiteral("End Cut"));
    cutlist::SetEndMark(list[static_cast<std::size_t>(row)], m_position, m_stamp);
    RefreshRow(row);
}

void CRaveloView::RefreshRow(int row) {
    // The row's text follows its marks; the selection stays.
    const CRecordingModel& model = m_doc.Model();
    const CCutArea& area = model.m_cutList[static_cast<std::size_t>(row)];
    const QString text = QString::fromStdString(
        CutAreaRowText(LoadResString(ids::kCutArea), static_cast<std::size_t>(row), area.PTSStart,
                       area.PTSEnd, area.IsEnabled, model.m_firstPTS));
    m_cutList->item(row)->setText(text);
    m_cutList->item(row)->setToolTip(text);
    ShowSelectionRange(row);
}
