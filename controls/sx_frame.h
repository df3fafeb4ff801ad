#pragma once
// A titled group frame: a thin rounded rim with the title set into its top edge.

#include <QGroupBox>

class CSxFrame : public QGroupBox {
    Q_OBJECT
  public:
    CSxFrame(const QString& title, int controlId, QWidget* parent = nullptr);
};
