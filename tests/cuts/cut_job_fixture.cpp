#include "cut_job_fixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "engine/function_mng.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "shell/log.h"
#include "shell/preferences.h"

PromptAnswer ScriptedPrompts::Ask(const std::string& caption, const std::string& text,
                                  PromptButtons buttons, PromptIcon) {
    questions.push_back(caption + "|" + text);
    return buttons == PromptButtons::Ok ? PromptAnswer::Ok : answer;
}

std::optional<std::string> ScriptedPrompts::SaveFileName(const std::string& proposed,
                                                         const std::string& extension) {
    proposedName = proposed;
    proposedExtension = extension;
    return saveAs;
}

void CutJobTest::SetUp() {
    platform::SetSettingsStore(&m_store);
    CPreferences::SetOutputPath(m_dir.Path().string());
    SetPrompts(&m_prompts);
    SetProgress(&m_progress);
    m_logPath = m_dir.File("test.log");
    LogOpenForTesting(1, m_logPath);
    // Every progress call is a full update: a second passes between calls.
    auto now = std::make_shared<std::uint64_t>(0);
    platform::SetClockForTesting([now] { return *now += 1000; });
}

void CutJobTest::TearDown() {
    m_model.reset();
    SetActiveRecording(nullptr);
    LogClose();
    platform::SetClockForTesting({});
    SetProgress(nullptr);
    SetPrompts(nullptr);
    platform::SetSettingsStore(nullptr);
}

const std::string& CutJobTest::SourceRecording() {
    // Made once per build tree: every test process of this suite reads it.
    static const std::string path = [] {
        const std::string file = RAVELO_BINARY_DIR "/tests/cuts/cut_source.ts";
        if (!std::filesystem::exists(file)) {
            const std::string part = file + "." + std::to_string(getpid());
            MakeTestRecording(part, 8, "720x576");
            std::filesystem::rename(part, file);  // whole or not at all
        }
        return file;
    }();
    return path;
}

const std::vector<VideoPacket>& CutJobTest::SourcePackets() {
    static const std::vector<VideoPacket> packets = VideoPackets(SourceRecording(), "v:0");
    return packets;
}

const std::map<std::int64_t, std::string>& CutJobTest::SourceHashes() {
    static const std::map<std::int64_t, std::string> hashes =
        PictureHashes(SourceRecording(), "v:0");
    return hashes;
}

CRecordingModel& CutJobTest::Open(const std::string& path, const std::vector<TestArea>& areas) {
    m_model = std::make_unique<CRecordingModel>();
    std::string error;
    EXPECT_TRUE(m_model->Open(path, &error)) << error;
    m_model->m_cutList.clear();
    for (const TestArea& area : areas) {
        CCutArea cut;
        cut.SectorStart = area.start / kSectorSize;
        cut.SectorEnd = area.end / kSectorSize;
        cut.IsEnabled = true;
        m_model->m_cutList.push_back(cut);
    }
    SetActiveRecording(m_model.get());
    return *m_model;
}

std::string CutJobTest::CopyTo(const std::string& name) {
    m_prompts.saveAs = m_dir.File(name);
    EXPECT_EQ(FunctionMng().FnProcessCopy(), JobResult::Done);
    return *m_prompts.saveAs;
}

std::string CutJobTest::LogText() const {
    std::ifstream in(m_logPath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void CutJobTest::ExpectSoftCutOutput(const std::string& output, const std::string& source,
                                     const std::vector<TestArea>& areas, std::uint64_t dataStart,
                                     const std::string& stream) {
    const std::uint64_t size = std::filesystem::file_size(output);
    EXPECT_EQ(size % 188, 0u) << "not a whole number of packets";
    // A capture that starts inside a GOP has undecodable pictures of its own.
    const int sourceErrors = DecodeErrorCount(source, stream);
    if (sourceErrors == 0)
        EXPECT_EQ(DecodeErrors(output, stream), "");
    else
        EXPECT_LE(DecodeErrorCount(output, stream), sourceErrors) << DecodeErrors(output, stream);
    const auto sourcePackets =
        source == SourceRecording() ? SourcePackets() : VideoPackets(source, stream);
    const auto sourceHashes =
        source == SourceRecording() ? SourceHashes() : PictureHashes(source, stream);
    std::vector<std::int64_t> expected;
    for (std::int64_t time :
         KeptPictures(sourcePackets, areas, dataStart, std::filesystem::file_size(source)))
        if (sourceHashes.count(time)) expected.push_back(time);
    const std::map<std::int64_t, std::string> hashes = PictureHashes(output, stream);
    std::vector<std::int64_t> shown;
    for (const auto& [time, hash] : hashes) {
        shown.push_back(time);
        auto original = sourceHashes.find(time);
        ASSERT_NE(original, sourceHashes.end()) << "picture at " << time << " not in the source";
        EXPECT_EQ(hash, original->second) << "picture at " << time << " differs from the source";
    }
    EXPECT_EQ(shown, expected);
}
