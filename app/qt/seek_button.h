#pragma once
// The seek buttons of the cut editor: a press sends one step request at once;
// held down, the button sends further requests, the first after 500 ms and
// then one 10 ms after the previous step has finished, with a repeat count
// that grows by one each time. Moving the mouse more than 2 pixels from the
// press point or releasing the button stops the repetition.

#include <QPoint>
#include <QTimer>

#include "controls/sx_button.h"

class CSeekButton : public CSXButton {
    Q_OBJECT
  public:
    static constexpr int kFirstDelayMs = 500;
    static constexpr int kRepeatMs = 10;
    static constexpr int kMoveTolerance = 2;

    CSeekButton(const QString& text, int controlId, int repeatCount, int reserved, int increment,
                int lowerBound, int upperBound, QWidget* parent = nullptr);

    // Shorter (or longer) delays for tests.
    void SetTimings(int firstDelayMs, int repeatMs);
    bool IsRepeating() const { return m_pressed; }

  signals:
    // Delivered synchronously: the step has run when the emit returns.
    void SeekRequest(int controlId, int repeatCount);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // Space and Enter step like a click; a held key steps again with each
    // of its repeats, the count growing as with a held mouse button.
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void OnTimer();
    void Stop();

    int m_repeatCount;
    int m_reserved;
    int m_increment;
    int m_lowerBound;
    int m_upperBound;
    bool m_pressed = false;
    QPoint m_pressPoint;
    QTimer m_timer;
    int m_keyRepeatCount = 0;
    int m_firstDelayMs = kFirstDelayMs;
    int m_repeatMs = kRepeatMs;
};
