#include "gui_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>

#include "platform/settings_store.h"
#include "shell/preferences.h"

PromptAnswer ScriptedPrompts::Ask(const std::string& caption, const std::string& text,
                                  PromptButtons buttons, PromptIcon) {
    asked.push_back({caption, text, buttons});
    if (!answers.empty()) {
        PromptAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    switch (buttons) {
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::YesNo:
            return PromptAnswer::No;
        default:
            return PromptAnswer::Cancel;
    }
}

std::optional<std::string> ScriptedPrompts::InputText(const std::string& caption,
                                                      const std::string& prompt,
                                                      const std::string& value) {
    asked.push_back({caption, prompt + "|" + value, PromptButtons::Ok});
    if (inputs.empty()) return std::nullopt;
    auto answer = inputs.front();
    inputs.pop_front();
    return answer;
}

std::optional<std::string> ScriptedPrompts::SaveFileName(const std::string& proposedPath,
                                                         const std::string&) {
    proposedSaveNames.push_back(proposedPath);
    if (saveNames.empty()) return std::nullopt;
    auto answer = saveNames.front();
    saveNames.pop_front();
    return answer;
}

void GuiTest::SetUp() {
    m_store = std::make_unique<QSettingsStore>(QString::fromStdString(m_dir.File("ravelo.ini")));
    platform::SetSettingsStore(m_store.get());
    SetPrompts(&m_prompts);
    m_output = m_dir.File("out");
    std::filesystem::create_directories(m_output);
    CPreferences::SetOutputPath(m_output);
}

void GuiTest::TearDown() {
    SetPrompts(nullptr);
    platform::SetSettingsStore(nullptr);
}

void PumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
