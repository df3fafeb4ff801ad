#pragma once
// The window's document: the one opened recording (the engine-side model),
// reused for every recording the user opens. Opening another recording or
// closing stores the cut list of the one it replaces.

#include <QObject>
#include <QString>

#include "app/recording_model.h"

class CRaveloDoc : public QObject {
    Q_OBJECT
  public:
    CRaveloDoc();
    ~CRaveloDoc() override;

    // An empty document (start-up without a file): any open recording is
    // closed, its cut list stored.
    bool OnNewDocument();
    // Opens and scans a recording. A file that cannot be read leaves the
    // previous recording as it was and says "Failed to open document.",
    // the file's name and why.
    bool OnOpenDocument(const QString& path);
    // Stores the cut list and closes the recording.
    void OnCloseDocument();

    bool IsReadOnly() const { return m_model.IsReadOnly(); }
    bool IsOpen() const { return m_model.IsOpen(); }
    CRecordingModel& Model() { return m_model; }
    QString Title() const { return m_title; }
    QString PathName() const { return m_path; }

  signals:
    void DocumentChanged();  // after every open and new: the view's initial update

  private:
    // After opening: an interrupted run in place is pointed out, and stored
    // areas of another recording of the same name may be discarded.
    void AskAboutStoredCutList();

    CRecordingModel m_model;
    QString m_title;
    QString m_path;
};
