#include "cli/terminal_prompts.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <iostream>

#include "shell/text.h"

namespace cli {
namespace {

std::string Plain(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

}  // namespace

TerminalPrompts::TerminalPrompts(std::optional<bool> overwrite, bool quiet)
    : m_overwrite(overwrite), m_quiet(quiet), m_interactive(isatty(0) != 0 && isatty(2) != 0) {}

std::optional<std::string> TerminalPrompts::readLine() {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
}

PromptAnswer TerminalPrompts::Ask(const std::string& caption, const std::string& text,
                                  PromptButtons buttons, PromptIcon) {
    if (buttons == PromptButtons::YesNoCancel && m_overwrite) {
        // A refusal is the reason the job does not start: it is always shown.
        if (!m_quiet || !*m_overwrite)
            std::fprintf(stderr, "%s: %s\n%s\n", caption.c_str(), Plain(text).c_str(),
                         *m_overwrite ? "Yes (--overwrite)" : "Cancel (--no-overwrite)");
        return *m_overwrite ? PromptAnswer::Yes : PromptAnswer::Cancel;
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), Plain(text).c_str());
    if (buttons == PromptButtons::Ok) return PromptAnswer::Ok;
    const bool withCancel = buttons == PromptButtons::YesNoCancel;
    if (!m_interactive) {
        std::fprintf(stderr, "%s (no terminal to ask on)\n", withCancel ? "Cancel" : "No");
        return withCancel ? PromptAnswer::Cancel : PromptAnswer::No;
    }
    for (;;) {
        std::fprintf(stderr, withCancel ? "[y]es, [n]o (rename), [c]ancel? " : "[y]es, [n]o? ");
        std::fflush(stderr);
        auto line = readLine();
        if (!line) return withCancel ? PromptAnswer::Cancel : PromptAnswer::No;
        const char c = line->empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>((*line)[0])));
        if (c == 'y') return PromptAnswer::Yes;
        if (c == 'n') return PromptAnswer::No;
        if (c == 'c' && withCancel) return PromptAnswer::Cancel;
    }
}

std::optional<std::string> TerminalPrompts::InputText(const std::string& caption,
                                                      const std::string& prompt,
                                                      const std::string& value) {
    if (!m_interactive) return std::nullopt;
    std::fprintf(stderr, "%s - %s [%s]: ", caption.c_str(), prompt.c_str(), value.c_str());
    std::fflush(stderr);
    auto line = readLine();
    if (!line) return std::nullopt;
    return line->empty() ? value : *line;
}

std::optional<std::string> TerminalPrompts::SaveFileName(const std::string& proposedPath,
                                                         const std::string&) {
    if (m_saveFileName) return m_saveFileName;
    if (!m_interactive) return std::nullopt;
    std::fprintf(stderr, "Save as [%s]: ", proposedPath.c_str());
    std::fflush(stderr);
    auto line = readLine();
    if (!line) return std::nullopt;
    return line->empty() ? proposedPath : *line;
}

void TerminalPrompts::RunSettingsDialog() {
    std::fprintf(stderr, "Set the output folder in the settings (key \"OutputPath\").\n");
}

}  // namespace cli
