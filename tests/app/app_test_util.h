#pragma once
// A settings store of its own for each test, and a progress window that notes
// the positions it is given.

#include <gtest/gtest.h>

#include <vector>

#include "platform/file.h"
#include "platform/memory_settings_store.h"
#include "shell/progress.h"

class RecordingProgress : public IProgress {
  public:
    bool Open(const std::string&, bool) override { return opened = true; }
    void SetLayout(int, int, bool) override {}
    void SetRange(int, int, int) override {}
    int SetPos(int pos) override {
        positions.push_back(pos);
        return pos;
    }
    void SetText(const std::string&) override {}
    void AddLine(const std::string&) override {}
    bool Pump() override { return true; }
    bool IsCancelled() const override { return false; }
    void Finish() override {}
    void Close() override { closed = true; }

    std::vector<int> positions;
    bool opened = false, closed = false;
};

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetSettingsStore(&store);
        SetProgress(&progress);
    }
    void TearDown() override {
        platform::SetOpenHookForTesting(nullptr);
        SetProgress(nullptr);
        platform::SetSettingsStore(nullptr);
    }

    platform::MemorySettingsStore store;
    RecordingProgress progress;
};
