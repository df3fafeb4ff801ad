// The cut editor's cut-area operations: list box, marks, selection.
#include <QListWidget>
#include <QSignalBlocker>
#include "app/cut_list.h"

#include "app/qt/ravelo_doc.h"
#include "app/qt/ravelo_view.h"
#include "controls/range_slider.h"
#include "controls/sx_button.h"
#include "res/strings.h"
#include "shell/prompts.h"

void CRaveloView::FillCutListBox() {
    const QSignalBlocker blocker(m_cutList);
    m_cutList->clear();
    const QString label = QString::fromStdString(LoadResString(ids::kCutArea));
    const CCutList& list = m_doc.Model().m_cutList;
    for (std::size_t i = 0; i < list.size(); ++i)
        m_cutList->addItem(QStringLiteral("%1 %2").arg(label).arg(i + 1));
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
    cutlist::RemoveAt(list, static_cast<std::size_t>(row));
    FillCutListBox();
    m_slider->ClearSelection();
    OnSelectArea();
}

void CRaveloView::OnStartCut() {
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
    ShowSelectionRange(row);
    m_endCut->setEnabled(true);
}

void CRaveloView::OnEndCut() {
    const int row = m_cutList->currentRow();
    CCutList& list = m_doc.Model().m_cutList;
    if (row < 0 || static_cast<std::size_t>(row) >= list.size()) return;
    cutlist::SetEndMark(list[static_cast<std::size_t>(row)], m_position, m_stamp);
    ShowSelectionRange(row);
}
