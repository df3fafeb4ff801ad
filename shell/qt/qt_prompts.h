#pragma once
// The window's answers to the engine's questions: message boxes, the
// "Rename file" dialog, the save-as dialog and the settings dialog.

#include "shell/prompts.h"

class QWidget;

class CQtPrompts : public IPrompts {
  public:
    PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons buttons,
                     PromptIcon icon) override;
    std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                         const std::string& value) override;
    std::optional<std::string> SaveFileName(const std::string& proposedPath,
                                            const std::string& defaultExtension) override;
    void RunSettingsDialog() override;

  private:
    static QWidget* Owner();
};
