#include "app/qt/cut_list_command.h"

#include "app/qt/ravelo_view.h"

bool SameCutList(const CCutList& a, const CCutList& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const CCutArea& x = a[i];
        const CCutArea& y = b[i];
        if (x.SectorStart != y.SectorStart || x.SectorEnd != y.SectorEnd ||
            x.PTSStart != y.PTSStart || x.PTSEnd != y.PTSEnd || x.IsEnabled != y.IsEnabled)
            return false;
    }
    return true;
}

CCutListCommand::CCutListCommand(CRaveloView& view, const QString& text, CCutList before,
                                 int rowBefore, CCutList after, int rowAfter)
    : QUndoCommand(text),
      m_view(view),
      m_before(std::move(before)),
      m_after(std::move(after)),
      m_rowBefore(rowBefore),
      m_rowAfter(rowAfter) {}

void CCutListCommand::undo() {
    m_view.RestoreCutList(m_before, m_rowBefore);
    m_done = false;
}

void CCutListCommand::redo() {
    if (m_done) return;  // pushed after the edit was made
    m_view.RestoreCutList(m_after, m_rowAfter);
    m_done = true;
}
