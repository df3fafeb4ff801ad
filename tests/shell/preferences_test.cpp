// Preferences: defaults, no cache, and the output-folder check.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/memory_settings_store.h"
#include "res/strings.h"
#include "shell/output_folder.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "support/temp_dir.h"

namespace {

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

class PreferencesTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetSettingsStore(&store); }
    void TearDown() override {
        platform::SetSettingsStore(nullptr);
        SetPrompts(nullptr);
    }
    platform::MemorySettingsStore store;
};

TEST_F(PreferencesTest, DefaultsOfAFreshStore) {
    EXPECT_EQ(CPreferences::GetOutputPath(), CPreferences::DefaultOutputPath());
    EXPECT_FALSE(CPreferences::HasStoredOutputPath());
    EXPECT_FALSE(CPreferences::GetUseSourceAsOutputPath());
    EXPECT_EQ(CPreferences::GetLogLevel(), 1u);
    EXPECT_EQ(CPreferences::GetLogLevelAtStartup(), 0u);
    EXPECT_TRUE(CPreferences::GetShowDirectHelp());
    EXPECT_EQ(CPreferences::GetFileExt(false), 10u);
    EXPECT_EQ(CPreferences::GetFileExt(true), 20u);
    EXPECT_FALSE(CPreferences::GetCompensateVideoDelay());
    EXPECT_EQ(store.ValueCount(), 0u);  // reading writes nothing
}

TEST_F(PreferencesTest, ValuesAreStoredUnderTheirSections) {
    CPreferences::SetOutputPath("/rec");
    CPreferences::SetUseSourceAsOutputPath(true);
    CPreferences::SetLogLevel(3);
    CPreferences::SetShowDirectHelp(false);
    CPreferences::SetFileExtVideo(11);
    CPreferences::SetFileExtAudio(22);
    CPreferences::SetCompensateVideoDelay(true);
    EXPECT_EQ(store.GetString("Defaults", "OutputPath"), "/rec");
    EXPECT_EQ(store.GetInt("Defaults", "UseSourceAsOutputPath"), 1u);
    EXPECT_EQ(store.GetInt("Defaults", "LogLevel"), 3u);
    EXPECT_EQ(store.GetInt("Defaults", "ShowDirectHelp"), 0u);
    EXPECT_EQ(store.GetInt("Demux", "FileExtVideo"), 11u);
    EXPECT_EQ(store.GetInt("Demux", "FileExtAudio"), 22u);
    EXPECT_EQ(store.GetInt("Demux", "CompensateVideoDelay"), 1u);
    // MP3 chosen in the settings still writes ".mpa".
    EXPECT_EQ(CPreferences::AudioExtension(), ".mpa");
    EXPECT_EQ(CPreferences::VideoExtension(), ".mpv");
    // No cache: a value written behind the accessors' back is seen at once.
    store.SetInt("Demux", "FileExtVideo", 10);
    EXPECT_EQ(CPreferences::VideoExtension(), ".m2v");
}

class RecordingPrompts : public IPrompts {
  public:
    PromptAnswer Ask(const std::string& caption, const std::string& text, PromptButtons,
                     PromptIcon icon) override {
        asked.push_back(caption + "|" + text);
        lastIcon = icon;
        return PromptAnswer::Ok;
    }
    std::optional<std::string> InputText(const std::string&, const std::string&,
                                         const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SaveFileName(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    void RunSettingsDialog() override { ++settingsRuns; }
    std::vector<std::string> asked;
    PromptIcon lastIcon = PromptIcon::None;
    int settingsRuns = 0;
};

TEST_F(PreferencesTest, OutputFolderCheckCreatesTheWorkFolders) {
    TempDir dir;
    RecordingPrompts prompts;
    SetPrompts(&prompts);
    CPreferences::SetOutputPath(dir.Path().string());
    CheckOutputFolder();
    EXPECT_TRUE(prompts.asked.empty());
    for (const char* name : {"~log", "~temp", "~demux"})
        EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / name)) << name;
    CheckOutputFolder();  // existing folders are passed over
    EXPECT_TRUE(prompts.asked.empty());
    EXPECT_EQ(WorkFolder("~temp"), (dir.Path() / "~temp").string());
}

TEST_F(PreferencesTest, MissingOutputPathIsReportedAndTheSettingsDialogRuns) {
    TempDir dir;
    RecordingPrompts prompts;
    SetPrompts(&prompts);
    std::string missing = (dir.Path() / "gone").string();
    CPreferences::SetOutputPath(missing);
    CheckOutputFolder();
    ASSERT_EQ(prompts.asked.size(), 1u);
    EXPECT_EQ(prompts.asked[0], "ATTENTION!|" + LoadResString(ids::kOutputPathInvalid) + missing);
    EXPECT_EQ(prompts.lastIcon, PromptIcon::Error);
    EXPECT_EQ(prompts.settingsRuns, 1);
    EXPECT_FALSE(std::filesystem::exists(missing + "/~log"));
}

// HOME and XDG_CONFIG_HOME of a test, put back afterwards.
class HomeFolder {
  public:
    explicit HomeFolder(const std::filesystem::path& home) {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME"})
            if (const char* value = std::getenv(name)) m_saved.emplace_back(name, value);
        ::setenv("HOME", home.c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    ~HomeFolder() {
        ::unsetenv("HOME");
        ::unsetenv("XDG_CONFIG_HOME");
        for (const auto& [name, value] : m_saved)
            ::setenv(name.c_str(), value.c_str(), 1);
    }

  private:
    std::vector<std::pair<std::string, std::string>> m_saved;
};

TEST_F(PreferencesTest, DefaultOutputPathIsTheVideoFolderPlusRavelo) {
    TempDir dir;
    const HomeFolder home(dir.Path());
    EXPECT_EQ(CPreferences::GetOutputPath(), (dir.Path() / "Videos/Ravelo").string());
    // The desktop's own name for the folder, as xdg-user-dirs writes it.
    std::filesystem::create_directories(dir.Path() / ".config");
    WriteText(dir.File(".config/user-dirs.dirs"),
              "# comment\nXDG_MUSIC_DIR=\"$HOME/Musik\"\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    EXPECT_EQ(CPreferences::GetOutputPath(), (dir.Path() / "Filme/Ravelo").string());
    ::setenv("XDG_CONFIG_HOME", (dir.Path() / "elsewhere").c_str(), 1);
    std::filesystem::create_directories(dir.Path() / "elsewhere");
    WriteText(dir.File("elsewhere/user-dirs.dirs"), "XDG_VIDEOS_DIR=\"/srv/video\"\n");
    EXPECT_EQ(CPreferences::GetOutputPath(), "/srv/video/Ravelo");
    // A stored path, "." too, keeps its meaning.
    CPreferences::SetOutputPath(".");
    EXPECT_EQ(CPreferences::GetOutputPath(), ".");
    EXPECT_TRUE(CPreferences::HasStoredOutputPath());
}

TEST_F(PreferencesTest, TheDefaultOutputFolderIsMadeOnFirstUseWithoutAQuestion) {
    TempDir dir;
    const HomeFolder home(dir.Path());
    RecordingPrompts prompts;
    SetPrompts(&prompts);
    CheckOutputFolder();
    EXPECT_TRUE(prompts.asked.empty());
    EXPECT_EQ(prompts.settingsRuns, 0);
    for (const char* name : {"~log", "~temp", "~demux"})
        EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "Videos/Ravelo" / name)) << name;
    EXPECT_EQ(WorkFolder("~demux"), (dir.Path() / "Videos/Ravelo/~demux").string());
    EXPECT_EQ(store.ValueCount(), 0u);  // still nothing stored
}

}  // namespace
