#include "cli/terminal_progress.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "shell/log.h"

namespace cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void onInterrupt(int) { g_interrupted = 1; }

constexpr int kBarWidth = 30;

}  // namespace

TerminalProgress::TerminalProgress(bool quiet) : m_quiet(quiet), m_terminal(isatty(2) != 0) {
    g_interrupted = 0;
    std::signal(SIGINT, onInterrupt);
    SetLogListener([this](const std::string& line) { AddLine(line); });
}

TerminalProgress::~TerminalProgress() {
    SetLogListener(nullptr);
    std::signal(SIGINT, SIG_DFL);
    clearBar();
}

bool TerminalProgress::Open(const std::string& title, bool) {
    m_title = title;
    m_pos = m_lower;
    if (!m_quiet && !m_terminal) std::fprintf(stderr, "%s\n", title.c_str());
    return true;
}

void TerminalProgress::SetRange(int lower, int upper, int) {
    m_lower = lower;
    m_upper = upper > lower ? upper : lower + 1;
}

int TerminalProgress::SetPos(int pos) {
    const int previous = m_pos;
    m_pos = pos;
    drawBar();
    return previous;
}

void TerminalProgress::SetText(const std::string& text) {
    m_text = text;
    drawBar();
}

void TerminalProgress::AddLine(const std::string& text) {
    m_lines.push_back(text);
    // Quiet keeps what the user must hear of: warnings and failures.
    if (m_quiet && text.rfind("Warning", 0) != 0 && text.rfind("Failed", 0) != 0) return;
    clearBar();
    std::fprintf(stderr, "%s\n", text.c_str());
    drawBar();
}

bool TerminalProgress::IsCancelled() const { return g_interrupted != 0; }

void TerminalProgress::Finish() {
    drawBar();
    clearBar();
}

void TerminalProgress::Close() { clearBar(); }

void TerminalProgress::drawBar() {
    if (m_quiet || !m_terminal) return;
    const double part = static_cast<double>(m_pos - m_lower) / (m_upper - m_lower);
    const int filled = static_cast<int>(part * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled < 0 ? 0 : filled > kBarWidth ? kBarWidth : filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r\033[K%s [%s] %5.1f%%  %s", m_title.c_str(), bar.c_str(), part * 100.0,
                 m_text.c_str());
    std::fflush(stderr);
    m_barShown = true;
}

void TerminalProgress::clearBar() {
    if (!m_barShown) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_barShown = false;
}

}  // namespace cli
