#pragma once
// Questions the engine asks the user: the window answers with dialogs, the
// command-line tool with its flags or the terminal, tests with scripted answers.

#include <optional>
#include <string>

enum class PromptButtons { Ok, YesNo, YesNoCancel };
enum class PromptIcon { None, Information, Question, Warning, Error };
enum class PromptAnswer { Ok, Yes, No, Cancel };

class IPrompts {
  public:
    virtual ~IPrompts() = default;
    // A message box; texts may hold "\r\n".
    virtual PromptAnswer Ask(const std::string& caption, const std::string& text,
                             PromptButtons buttons, PromptIcon icon) = 0;
    // The one-line text-input dialog; nullopt when cancelled.
    virtual std::optional<std::string> InputText(const std::string& caption,
                                                 const std::string& prompt,
                                                 const std::string& value) = 0;
    // The save-as file dialog (asking before it overwrites); nullopt when cancelled.
    virtual std::optional<std::string> SaveFileName(const std::string& proposedPath,
                                                    const std::string& defaultExtension) = 0;
    // Runs the settings dialog modally (the output-folder check asks for it).
    virtual void RunSettingsDialog() = 0;
};

// Answers Cancel/No to everything, until a front end installs its own.
IPrompts& Prompts();
void SetPrompts(IPrompts* prompts);  // nullptr restores the default
