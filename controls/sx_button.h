#pragma once
// The styled push button of the cut editor: text with an optional 16 x 16
// icon at its left, flat until hovered, with a clear pressed look.

#include <QPushButton>

class CSXButton : public QPushButton {
    Q_OBJECT
  public:
    explicit CSXButton(const QString& text, int controlId, QWidget* parent = nullptr);

    int ControlId() const { return m_controlId; }
    // Loads the 16 x 16 icon of a resource id (":/icons/<id>.svg").
    void SetIconResource(int resourceId);

  protected:
    // Enter and Return press a focused button too, as Space does.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    int m_controlId;
};
