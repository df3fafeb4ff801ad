#pragma once
// The engine's questions on a terminal. A flag answers the overwrite
// question in advance; otherwise it is asked on stderr and read from stdin
// when both are a terminal. Without a terminal and without a flag the safe
// answer is given (nothing is overwritten, nothing renamed), never a hang.

#include <optional>
#include <string>

#include "shell/prompts.h"

namespace cli {

class TerminalPrompts : public IPrompts {
public:
    // overwrite: true answers Yes to overwrite questions, false Cancel;
    // empty asks (or declines without a terminal). quiet: questions answered
    // by a flag are not shown.
    explicit TerminalPrompts(std::optional<bool> overwrite = std::nullopt, bool quiet = false);

    PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons buttons,
                     PromptIcon icon) override;
    std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                         const std::string& value) override;
    std::optional<std::string> SaveFileName(const std::string& proposedPath,
                                            const std::string& defaultExtension) override;
    void RunSettingsDialog() override;

    // The answer to a save-as dialog, given on the command line.
    void SetSaveFileName(const std::string& path) { m_saveFileName = path; }

private:
    std::optional<bool> m_overwrite;
    bool m_quiet;
    std::optional<std::string> m_saveFileName;
    bool m_interactive;

    std::optional<std::string> readLine();
};

}  // namespace cli
