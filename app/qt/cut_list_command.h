#pragma once
// One undoable edit of the cut list: the whole list (a few areas) before and
// after it, with the row selected at each time.

#include <QUndoCommand>

#include "demux/cut_area.h"

class CRaveloView;

// Equal marks, stamps and states, area by area.
bool SameCutList(const CCutList& a, const CCutList& b);

class CCutListCommand : public QUndoCommand {
  public:
    // The edit has been made already: the first redo does nothing.
    CCutListCommand(CRaveloView& view, const QString& text, CCutList before, int rowBefore,
                    CCutList after, int rowAfter);

    void undo() override;
    void redo() override;

  private:
    CRaveloView& m_view;
    CCutList m_before;
    CCutList m_after;
    int m_rowBefore;
    int m_rowAfter;
    bool m_done = true;
};
