#include "shell/prompts.h"

namespace {
class DeclineEverything : public IPrompts {
  public:
    PromptAnswer Ask(const std::string&, const std::string&, PromptButtons buttons,
                     PromptIcon) override {
        switch (buttons) {
            case PromptButtons::Ok:
                return PromptAnswer::Ok;
            case PromptButtons::YesNo:
                return PromptAnswer::No;
            case PromptButtons::YesNoCancel:
                return PromptAnswer::Cancel;
        }
        return PromptAnswer::Cancel;
    }
    std::optional<std::string> InputText(const std::string&, const std::string&,
                                         const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SaveFileName(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    void RunSettingsDialog() override {}
};

DeclineEverything g_decline;
IPrompts* g_prompts = &g_decline;
}  // namespace

IPrompts& Prompts() {
    return *g_prompts;
}
void SetPrompts(IPrompts* prompts) {
    g_prompts = prompts ? prompts : &g_decline;
}
