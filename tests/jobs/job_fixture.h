#pragma once
// Runs the demultiplexing jobs as the window does on recordings made by
// ffmpeg in a temporary folder, and measures their outputs with ffprobe.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/recording_model.h"
#include "engine/function_mng.h"
#include "platform/memory_settings_store.h"
#include "shell/progress.h"
#include "shell/prompts.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/ts_damage.h"

namespace jobs {

// stdout (and stderr with 2>&1)
inline std::string RunShell(const std::string& command) {
    return RunCommand(command);
}

struct RecordingOptions {
    double seconds = 4;
    bool ac3 = true;           // an AC-3 5.1 track after the two MP2 tracks
    int mp2Tracks = 2;
    double offset = 80000;     // -output_ts_offset in seconds
    int mp2Kbits = 192;
    int sampleRate = 48000;
    std::string extra;         // more ffmpeg output options
    // Noise instead of tones: no two audio frames alike, so that the sync
    // meter can tell each one's source time.
    bool noise = false;
    int ac3Kbits = 448;
    int ac3Channels = 6;
    int pesPayload = 0;        // -pes_payload_size: 0 one audio frame per PES
};
// MPEG-2 video 352x288, GOP 12 with two B pictures (open GOPs), MP2 tracks
// on PIDs 0x101, 0x102..., AC-3 last; every audio frame in a PES of its own
// unless pesPayload gathers several.
void MakeRecording(const std::string& path, const RecordingOptions& options);

// Packet times of one stream of a file as ffprobe reports them (seconds).
std::vector<double> PacketTimes(const std::string& path, const std::string& stream);
// ffprobe's csv rows (p=0) without the empty and side-data lines.
std::vector<std::string> ProbeRows(const std::string& arguments);
int FrameCount(const std::string& path, const std::string& stream);
// ffmpeg's messages while decoding every stream of a file (empty: clean).
std::string DecodeErrors(const std::string& path);

using damage::FirstPts;
using damage::RemovePackets;

class RecordingProgress : public IProgress {
public:
    bool Open(const std::string& title, bool) override;
    void SetLayout(int, int, bool) override {}
    void SetRange(int, int, int) override {}
    int SetPos(int pos) override {
        last = pos;
        return pos;
    }
    void SetText(const std::string&) override {}
    void AddLine(const std::string& text) override { lines.push_back(text); }
    bool Pump() override { return true; }
    bool IsCancelled() const override { return cancel; }
    void Finish() override { finished = true; }
    void Close() override { closed = true; }

    std::vector<std::string> lines;
    std::vector<std::string> titles;
    int last = -1;
    bool cancel = false;
    bool finished = false;
    bool closed = false;
};

class ScriptedPrompts : public IPrompts {
public:
    PromptAnswer Ask(const std::string&, const std::string& text, PromptButtons,
                     PromptIcon) override {
        questions.push_back(text);
        if (answers.empty()) return PromptAnswer::Cancel;
        PromptAnswer a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    std::optional<std::string> InputText(const std::string&, const std::string&,
                                         const std::string& value) override {
        defaults.push_back(value);
        if (names.empty()) return std::nullopt;
        std::string n = names.front();
        names.erase(names.begin());
        return n;
    }
    std::optional<std::string> SaveFileName(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    void RunSettingsDialog() override {}

    std::vector<PromptAnswer> answers;
    std::vector<std::string> names;
    std::vector<std::string> questions;
    std::vector<std::string> defaults;
};

class JobTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the recording as the active one; areas as they are stored.
    CRecordingModel& Open(const std::string& path, const CCutList& areas = {});
    // Runs a job; the outputs go to <temp>/work/~demux by the preferences.
    JobResult RunJob(OutputKind kind, std::uint16_t audioPid = 0);
    std::string Output(const std::string& name) const { return m_dir.File("work/~demux/" + name); }
    bool Logged(const std::string& text) const;  // a progress line containing text
    std::string Lines() const;

    TempDir m_dir;
    platform::MemorySettingsStore m_settings;
    RecordingProgress m_progress;
    ScriptedPrompts m_prompts;
    CRecordingModel m_model;
};

}  // namespace jobs
