#pragma once
// Runs the copying jobs as the window does: a recording opened as the active
// one, its cut list, scripted answers to the prompts, a progress window that
// can be made to cancel, settings in memory and the log in a temporary folder.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "media_oracle.h"
#include "platform/memory_settings_store.h"
#include "shell/progress.h"
#include "shell/prompts.h"
#include "support/temp_dir.h"

class ScriptedPrompts : public IPrompts {
  public:
    PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons,
                     PromptIcon) override;
    std::optional<std::string> InputText(const std::string&, const std::string&,
                                         const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SaveFileName(const std::string& proposed,
                                            const std::string& extension) override;
    void RunSettingsDialog() override {}

    PromptAnswer answer = PromptAnswer::Yes;
    std::optional<std::string> saveAs;
    std::string proposedName;
    std::string proposedExtension;
    std::vector<std::string> questions;  // caption + "|" + text
};

class CancellingProgress : public IProgress {
  public:
    bool Open(const std::string& title, bool) override {
        titles.push_back(title);
        return true;
    }
    void SetLayout(int, int, bool) override {}
    void SetRange(int, int, int) override {}
    int SetPos(int pos) override { return pos; }
    void SetText(const std::string&) override {}
    void AddLine(const std::string&) override {}
    bool Pump() override {
        ++pumps;
        return true;
    }
    bool IsCancelled() const override { return cancelAfterPumps >= 0 && pumps > cancelAfterPumps; }
    void Finish() override {}
    void Close() override {}

    int pumps = 0;
    int cancelAfterPumps = -1;  // never
    std::vector<std::string> titles;
};

class CutJobTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The shared test recording of this suite (made once).
    static const std::string& SourceRecording();
    static const std::vector<VideoPacket>& SourcePackets();
    static const std::map<std::int64_t, std::string>& SourceHashes();

    // Opens a recording as the active one with the given areas in bytes.
    CRecordingModel& Open(const std::string& path, const std::vector<TestArea>& areas);
    std::string CopyTo(const std::string& name);  // runs the copy job; the output's path
    std::string LogText() const;

    // Whole packets, clean video, and exactly the pictures a soft cut keeps,
    // each identical to the source's picture at the same time.
    void ExpectSoftCutOutput(const std::string& output, const std::string& source,
                             const std::vector<TestArea>& areas, std::uint64_t dataStart,
                             const std::string& stream = "v:0");

    TempDir m_dir;
    platform::MemorySettingsStore m_store;
    ScriptedPrompts m_prompts;
    CancellingProgress m_progress;
    std::unique_ptr<CRecordingModel> m_model;
    std::string m_logPath;
};
