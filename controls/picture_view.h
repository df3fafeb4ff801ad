#pragma once
// A still picture that scales with its widget: the decoded image is kept at
// its coded size and drawn into the largest rectangle of its display aspect
// ratio that fits, centred on a dark background. Drawing at paint time keeps
// it sharp on high-density screens. Instead of an image it can show one of
// the program's placeholder pictures (an SVG resource, drawn the same way).

#include <QImage>
#include <QWidget>

class CPictureView : public QWidget {
    Q_OBJECT
  public:
    explicit CPictureView(QWidget* parent = nullptr);

    // displayAspect: width / height on screen (4:3, 16:9, ...), not the
    // ratio of the coded size.
    void SetPicture(const QImage& image, double displayAspect);
    void SetPlaceholder(int resourceId, double displayAspect);
    void Clear();
    // The preferred and the smallest size of the widget (the splice preview
    // shows small pictures).
    void SetSizes(const QSize& hint, const QSize& minimum);

    const QImage& Picture() const { return m_image; }
    int PlaceholderId() const { return m_placeholder; }  // 0: none
    double DisplayAspect() const { return m_aspect; }
    bool IsEmpty() const { return m_image.isNull() && m_placeholder == 0; }
    // Where the picture is drawn, in widget coordinates.
    QRect PictureRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage m_image;
    int m_placeholder = 0;
    double m_aspect = 16.0 / 9.0;
    QSize m_hint{512, 288};
    QSize m_minimum{192, 108};
};
