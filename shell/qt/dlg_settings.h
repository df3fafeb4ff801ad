#pragma once
// The settings dialog: output path (browsed, never typed), "Use source
// directory for output", the preferred file extensions, the VBV-delay flag,
// the log level and the direct-help tool tips. OK stores everything and runs
// the output-folder check; Cancel stores nothing.

#include <QDialog>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CDlgSettings : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgSettings(QWidget* parent = nullptr);

    // The folder browser: given the initial folder, returns the chosen one or
    // an empty string when cancelled. Tests replace it.
    using FolderBrowser = std::function<QString(QWidget* parent, const QString& initial)>;
    static void SetFolderBrowser(FolderBrowser browser);

    // With the separator appended, as the edit shows it: "/rec" -> "/rec/";
    // "" and "." stay as they are.
    static QString WithTrailingSeparator(const QString& path);

    QString PathText() const { return m_pathText; }

  public slots:
    void accept() override;
    void OnBrowse();

  private:
    void ApplyUseSourceRule();

    QString m_pathText;
    QLineEdit* m_path;
    QPushButton* m_browse;
    QCheckBox* m_useSource;
    QRadioButton* m_m2v;
    QRadioButton* m_mpv;
    QRadioButton* m_mp2;
    QRadioButton* m_mp3;
    QRadioButton* m_mpa;
    QCheckBox* m_compensate;
    QComboBox* m_logLevel;
    QCheckBox* m_directHelp;
};
