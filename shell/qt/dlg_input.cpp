#include "shell/qt/dlg_input.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CDlgInput::CDlgInput(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlgInput"));
    m_promptLabel = new QLabel(this);
    m_promptLabel->setObjectName(QStringLiteral("ctl152"));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("ctl151"));
    m_edit->setMinimumWidth(280);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_promptLabel);
    layout->addWidget(m_edit);
    layout->addWidget(buttons);
    setSizeGripEnabled(false);
}

int CDlgInput::exec() {
    setWindowTitle(m_caption);
    m_promptLabel->setText(m_prompt);
    m_edit->setText(m_value);
    const int result = QDialog::exec();
    if (result == QDialog::Accepted) m_value = m_edit->text();
    return result;
}

void CDlgInput::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Typing replaces the proposed name at once.
    m_edit->setFocus();
    m_edit->selectAll();
}
