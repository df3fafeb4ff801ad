#pragma once
// The progress interface on a terminal: a bar with percentage and the status
// text (title and MB/s) on stderr when stderr is a terminal, every LogPrint
// message as a line of its own. Ctrl+C cancels the job as the window's Cancel
// button does.

#include <string>
#include <vector>

#include "shell/progress.h"

namespace cli {

class TerminalProgress : public IProgress {
public:
    explicit TerminalProgress(bool quiet);
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    bool Open(const std::string& title, bool smooth) override;
    void SetLayout(int, int, bool) override {}
    void SetRange(int lower, int upper, int step) override;
    int SetPos(int pos) override;
    void SetText(const std::string& text) override;
    void AddLine(const std::string& text) override;
    bool Pump() override { return true; }
    bool IsCancelled() const override;
    void Finish() override;
    void Close() override;

    // Every message line of the job, also in quiet mode (the command reports
    // the failure reason from them).
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    bool m_quiet;
    bool m_terminal;
    bool m_barShown = false;
    int m_lower = 0;
    int m_upper = 1000;
    int m_pos = 0;
    std::string m_title;
    std::string m_text;
    std::vector<std::string> m_lines;

    void drawBar();
    void clearBar();
};

}  // namespace cli
