#pragma once
// A horizontal slider that can show a selected stretch (a cut area) as a
// coloured band just below its groove.

#include <QSlider>

class CRangeSlider : public QSlider {
    Q_OBJECT
  public:
    explicit CRangeSlider(QWidget* parent = nullptr);

    // An empty range (end <= start) shows no band.
    void SetSelection(qint64 start, qint64 end);
    void ClearSelection() { SetSelection(0, 0); }
    qint64 SelectionStart() const { return m_start; }
    qint64 SelectionEnd() const { return m_end; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    qint64 m_start = 0;
    qint64 m_end = 0;
};
