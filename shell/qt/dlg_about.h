#pragma once
// The about box: version line, usage notice, the decoders the program can
// use, and "I Agree" / "I don't agree" (Escape counts as not agreeing).

#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;

class CDlgAbout : public QDialog {
    Q_OBJECT
  public:
    // decoders: the names ListMpeg2Decoders() gives (tests pass their own).
    CDlgAbout(const QStringList& decoders, QWidget* parent = nullptr);

    // "Installed ... Filters:" with the first two names and "..." for more.
    static QString DecoderSummary(const QStringList& decoders);
    // The text of the "..." button's message box.
    static QString DecoderListText(const QStringList& decoders);

    QString NoticeText() const;

  private slots:
    void OnShowAll();

  protected:
    void timerEvent(QTimerEvent* event) override;

  private:
    QStringList m_decoders;
    QLabel* m_notice;
    int m_noticeTimer = 0;
};
