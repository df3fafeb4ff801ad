#include "shell/progress.h"

namespace {
class NoProgress : public IProgress {
  public:
    bool Open(const std::string&, bool) override { return true; }
    void SetLayout(int, int, bool) override {}
    void SetRange(int, int, int) override {}
    int SetPos(int pos) override { return pos; }
    void SetText(const std::string&) override {}
    void AddLine(const std::string&) override {}
    bool Pump() override { return true; }
    bool IsCancelled() const override { return false; }
    void Finish() override {}
    void Close() override {}
};

NoProgress g_none;
IProgress* g_progress = &g_none;
}  // namespace

IProgress& Progress() {
    return *g_progress;
}
void SetProgress(IProgress* progress) {
    g_progress = progress ? progress : &g_none;
}
