#pragma once
// File -> "Import cut areas..." and "Export cut areas...": cut lists of other
// programs (MPlayer/Kodi EDL, VDR marks, comskip) in and out of the open
// recording's cut list. Imported areas are placed on pictures as marks set
// in the window and stored with the list like them.

#include <QObject>
#include <QString>

#include "app/cut_interchange.h"

class CMainFrame;
class CRaveloDoc;
class CRaveloView;
class QAction;

class CCutListFileCommands : public QObject {
    Q_OBJECT
  public:
    // Adds the two entries to the frame's File menu, below "Open...".
    CCutListFileCommands(CMainFrame& frame, CRaveloDoc& doc, CRaveloView& view);

    // The commands after their file dialogs. Import asks whether the areas
    // already set are replaced or kept; a malformed file is refused with its
    // line and changes nothing. False when nothing was imported or written.
    bool ImportFrom(const QString& path, CutFileFormat format);
    bool ExportTo(const QString& path, CutFileFormat format);

    QAction* ActionImport() const { return m_import; }
    QAction* ActionExport() const { return m_export; }

  private:
    void OnImport();
    void OnExport();
    void UpdateActions();

    CMainFrame& m_frame;
    CRaveloDoc& m_doc;
    CRaveloView& m_view;
    QAction* m_import;
    QAction* m_export;
};
