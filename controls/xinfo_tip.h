#pragma once
// Balloon tool tips for the "direct help" texts: a rounded balloon with an
// information mark and a pointer towards the control under the mouse.

#include <QHash>
#include <QPointer>
#include <QWidget>

class CXInfoTip : public QWidget {
    Q_OBJECT
  public:
    explicit CXInfoTip(QWidget* owner);
    ~CXInfoTip() override;

    // Shows text as the balloon of tool; "\r\n" and "\n" break lines.
    void AddTool(QWidget* tool, const QString& text);
    QString ToolText(const QWidget* tool) const;
    int ToolCount() const { return static_cast<int>(m_tools.size()); }
    // Pops the balloon of tool up at a global position (also used by tests).
    void ShowTip(QWidget* tool, const QPoint& globalPos);
    void HideTip();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QHash<const QWidget*, QString> m_tools;
    QList<QPointer<QWidget>> m_watched;
    QString m_text;
};
