#pragma once
// The one-line text-input dialog ("Rename file"): caption, prompt and value are
// set by the caller; the edit opens with its whole text selected.

#include <QDialog>

class QLabel;
class QLineEdit;

class CDlgInput : public QDialog {
    Q_OBJECT
  public:
    explicit CDlgInput(QWidget* parent = nullptr);

    QString m_value;
    QString m_prompt;
    QString m_caption;

    int exec() override;
    QLineEdit* Edit() const { return m_edit; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QLabel* m_promptLabel;
    QLineEdit* m_edit;
};
