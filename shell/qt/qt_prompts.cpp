#include "shell/qt/qt_prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "shell/qt/dlg_input.h"
#include "shell/qt/dlg_settings.h"
#include "shell/text.h"

QWidget* CQtPrompts::Owner() {
    // The progress window is the active window during a job: the question
    // belongs in front of it.
    return QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                             : QApplication::activeWindow();
}

PromptAnswer CQtPrompts::Ask(const std::string& caption, const std::string& text,
                             PromptButtons buttons, PromptIcon icon) {
    QMessageBox box(Owner());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(ToWidgetText(text)));
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
        case PromptIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case PromptIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case PromptIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case PromptIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case PromptIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    switch (buttons) {
        case PromptButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case PromptButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setEscapeButton(QMessageBox::No);
            // A warning asks before something that cannot be taken back
            // (shortening the recording): Enter must not be the way to it.
            box.setDefaultButton(icon == PromptIcon::Warning ? QMessageBox::No : QMessageBox::Yes);
            break;
        case PromptButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return PromptAnswer::Yes;
        case QMessageBox::No:
            return PromptAnswer::No;
        case QMessageBox::Ok:
            return PromptAnswer::Ok;
        default:
            return buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
    }
}

std::optional<std::string> CQtPrompts::InputText(const std::string& caption,
                                                 const std::string& prompt,
                                                 const std::string& value) {
    CDlgInput dialog(Owner());
    dialog.m_caption = QString::fromStdString(caption);
    dialog.m_prompt = QString::fromStdString(prompt);
    dialog.m_value = QString::fromStdString(value);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.m_value.toStdString();
}

std::optional<std::string> CQtPrompts::SaveFileName(const std::string& proposedPath,
                                                    const std::string& defaultExtension) {
    QFileDialog dialog(Owner());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (!defaultExtension.empty()) {
        const QString ext = QString::fromStdString(defaultExtension);
        dialog.setDefaultSuffix(ext);
        dialog.setNameFilters({QStringLiteral("*.%1").arg(ext), QStringLiteral("*")});
    }
    dialog.selectFile(QString::fromStdString(proposedPath));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

void CQtPrompts::RunSettingsDialog() {
    CDlgSettings dialog(Owner());
    dialog.exec();
}
