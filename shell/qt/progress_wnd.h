#pragma once
// The one progress window of the process: caption "<title> [42.5%]", a text
// line, a bar, Cancel/OK and an optional message list. While it is open its
// owner is disabled and it is application-modal, so no second command can
// start while a job or the opening scan pumps events.

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>

#include "shell/progress.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

class CProgressWnd : public IProgress {
  public:
    CProgressWnd();
    ~CProgressWnd() override;

    bool Open(const std::string& title, bool smooth) override;
    void SetLayout(int lines, int width, bool showList) override;
    void SetRange(int lower, int upper, int step) override;
    int SetPos(int pos) override;
    void SetText(const std::string& text) override;
    void AddLine(const std::string& text) override;
    bool Pump() override;
    bool IsCancelled() const override { return m_cancelled; }
    void Finish() override;
    void Close() override;

    // The Cancel/OK button (also the window's close box).
    void OnButton();
    // Closing the main window during a job: the job is asked to stop.
    void RequestCancel() { m_cancelled = true; }
    // A job (or scan) is under way: the window is open and not finished.
    bool IsRunning() const { return m_window && !m_finished; }
    // Set once the application is on its way out; Pump() then says so.
    static void SetQuitting(bool quitting);

    QWidget* Window() const { return m_window.get(); }
    QString Caption() const;
    QString ButtonText() const;
    QStringList Lines() const;
    int BarValue() const;
    bool IsFinished() const { return m_finished; }

  private:
    bool Create(QWidget* owner, const std::string& title, bool smooth);
    void ShowCaption(const QString& caption);
    void FitLine(const QString& line);

    std::unique_ptr<QWidget> m_window;
    QLabel* m_text = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_button = nullptr;
    QListWidget* m_list = nullptr;
    QString m_title;
    int m_lower = 0, m_upper = 100, m_step = 1;
    int m_pos = 0;
    int m_shownTenths = -1;
    bool m_cancelled = false;
    bool m_finished = false;
    bool m_modal = false;
    bool m_showList = false;
    int m_lines = 1;
    int m_width = 390;
    bool m_visible = false;
    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_ownerFocus;  // the owner's focus widget before it was disabled
};
