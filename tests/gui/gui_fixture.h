#pragma once
// Shared set-up of the window tests: settings in a temporary INI file, the
// output path in a temporary folder, and scripted answers to every question.

#include <gtest/gtest.h>
#include <QString>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "shell/prompts.h"
#include "shell/qt/qsettings_store.h"
#include "support/temp_dir.h"

struct AskedQuestion {
    std::string caption;
    std::string text;
    PromptButtons buttons;
};

// Answers from a script; every question is recorded.
class ScriptedPrompts : public IPrompts {
  public:
    PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons buttons,
                     PromptIcon icon) override;
    std::optional<std::string> InputText(const std::string& caption, const std::string& prompt,
                                         const std::string& value) override;
    std::optional<std::string> SaveFileName(const std::string& proposedPath,
                                            const std::string& defaultExtension) override;
    void RunSettingsDialog() override { ++settingsDialogs; }

    std::deque<PromptAnswer> answers;  // for Ask; when empty: Ok / No / Cancel
    std::deque<std::optional<std::string>> inputs;
    std::deque<std::optional<std::string>> saveNames;
    std::vector<AskedQuestion> asked;
    std::vector<std::string> proposedSaveNames;
    int settingsDialogs = 0;
};

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    TempDir m_dir;
    std::unique_ptr<QSettingsStore> m_store;
    ScriptedPrompts m_prompts;
    std::string m_output;  // the output path, a folder of m_dir
};

// Processes events for a while (timers, queued calls).
void PumpFor(int ms);

// Readable QString values in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE
