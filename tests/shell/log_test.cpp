// The log file's exact bytes: indentation, scope lines, CR LF, admission.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/memory_settings_store.h"
#include "shell/log.h"
#include "shell/preferences.h"
#include "support/temp_dir.h"

namespace {

std::string fileText(const std::string& path) {
    auto bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

class LogTest : public ::testing::Test {
  protected:
    void TearDown() override {
        LogClose();
        SetLogListener(nullptr);
        platform::SetSettingsStore(nullptr);
    }
    TempDir dir;
};

TEST_F(LogTest, ScopesIndentByFourSpacesAndLinesEndInCrLf) {
    LogOpenForTesting(1, dir.File("a.log"));
    LogWrite("Ravelo Version 0.96 (Beta)", 1);
    LogEnter("CFunctionMng::FnCreateOutput", 1);
    LogWrite("Demultiplexing recording to separate MPEG ES: ", 1);
    LogLeave(1);
    LogClose();
    EXPECT_EQ(fileText(dir.File("a.log")),
              "Ravelo Version 0.96 (Beta)\r\n"
              "\\ CFunctionMng::FnCreateOutput\r\n"
              "    Demultiplexing recording to separate MPEG ES: \r\n"
              "/ \r\n");
}

TEST_F(LogTest, LinesAboveTheLevelAreNeitherWrittenNorIndent) {
    LogOpenForTesting(1, dir.File("a.log"));
    LogEnter("Detail", 3);
    LogWrite("hidden", 3);
    LogWrite("shown", 1);
    LogLeave(3);
    LogClose();
    EXPECT_EQ(fileText(dir.File("a.log")), "shown\r\n");
}

TEST_F(LogTest, IndentationStopsAtFiftyFiveSpaces) {
    LogOpenForTesting(1, dir.File("a.log"));
    for (int i = 0; i < 14; ++i)
        LogEnter("S", 1);
    LogWrite("deep", 1);
    LogClose();
    std::string text = fileText(dir.File("a.log"));
    std::string last = text.substr(text.rfind("\r\n", text.size() - 3) + 2);
    EXPECT_EQ(last, std::string(55, ' ') + "deep\r\n");
    // 13 scopes give 52 spaces before the 14th scope line.
    EXPECT_NE(text.find("\r\n" + std::string(52, ' ') + "\\ S\r\n"), std::string::npos);
}

TEST_F(LogTest, PrintReachesTheListenerWhateverTheLevel) {
    std::vector<std::string> lines;
    SetLogListener([&](const std::string& text) { lines.push_back(text); });
    LogOpenForTesting(1, dir.File("a.log"));
    LogPrint("level three", 3);
    LogPrintf("Done, %us", 7u);
    LogClose();
    EXPECT_EQ(lines, (std::vector<std::string>{"level three", "Done, 7s"}));
    EXPECT_EQ(fileText(dir.File("a.log")), "Done, 7s\r\n");
}

TEST_F(LogTest, PrintfCutsLongTextsAt511Bytes) {
    std::string seen;
    SetLogListener([&](const std::string& text) { seen = text; });
    std::string longText(2000, 'x');
    LogPrintf("%s", longText.c_str());
    EXPECT_EQ(seen.size(), 511u);
}

TEST_F(LogTest, LevelZeroCreatesNoFile) {
    platform::MemorySettingsStore store;
    platform::SetSettingsStore(&store);
    CPreferences::SetOutputPath(dir.Path().string());
    std::filesystem::create_directory(dir.Path() / "~log");
    LogOpen();  // "LogLevel" missing: 0 at start-up
    LogWrite("nothing", 1);
    EXPECT_EQ(LogLevel(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "~log"));
    EXPECT_EQ(CPreferences::GetLogLevel(), 1u);  // what the settings dialog shows
}

TEST_F(LogTest, OpenNamesTheFileByStartTimeInTheLogFolder) {
    platform::MemorySettingsStore store;
    platform::SetSettingsStore(&store);
    CPreferences::SetOutputPath(dir.Path().string());
    CPreferences::SetLogLevel(2);
    std::filesystem::create_directory(dir.Path() / "~log");
    LogOpen();
    LogWrite("hello", 2);
    std::string path = LogFilePath();
    LogClose();
    ASSERT_FALSE(path.empty());
    std::string name = std::filesystem::path(path).filename().string();
    ASSERT_EQ(name.size(), std::string("Debug14-05-09.log").size());
    EXPECT_EQ(name.substr(0, 5), "Debug");
    EXPECT_EQ(name[7], '-');
    EXPECT_EQ(name[10], '-');
    EXPECT_EQ(std::filesystem::path(path).parent_path(), dir.Path() / "~log");
    EXPECT_EQ(fileText(path), "hello\r\n");
}

TEST_F(LogTest, AFileAnotherInstanceHoldsIsNeitherSharedNorEmptied) {
    platform::MemorySettingsStore store;
    platform::SetSettingsStore(&store);
    CPreferences::SetOutputPath(dir.Path().string());
    CPreferences::SetLogLevel(1);
    std::filesystem::create_directory(dir.Path() / "~log");
    LogOpen();
    const std::string first = LogFilePath();
    ASSERT_FALSE(first.empty());
    LogClose();
    // Another instance started in this second holds the file.
    const int held = ::open(first.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::write(held, "first\r\n", 7), 7);
    // A second start in the same second writes a file of its own.
    LogOpen();
    const std::string second = LogFilePath();
    LogWrite("second", 1);
    LogClose();
    ::close(held);
    if (std::filesystem::path(second).stem().string() ==
        std::filesystem::path(first).stem().string() + "(2)") {
        EXPECT_EQ(fileText(first), "first\r\n");
        EXPECT_EQ(fileText(second), "second\r\n");
    } else {
        // The clock moved on to the next second between the two starts.
        EXPECT_NE(second, first);
    }
    // The command-line tool's --log refuses a file in use.
    const int again = ::open(first.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(again, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(LogOpenFile(1, first));
    ::close(again);
    EXPECT_EQ(fileText(first), "first\r\n");
    EXPECT_TRUE(LogOpenFile(3, first));
    LogWrite("detail", 3);
    LogClose();
    EXPECT_EQ(fileText(first), "detail\r\n");
}

TEST_F(LogTest, MissingLogFolderIsSwallowedAndWritesDropped) {
    platform::MemorySettingsStore store;
    platform::SetSettingsStore(&store);
    CPreferences::SetOutputPath((dir.Path() / "absent").string());
    CPreferences::SetLogLevel(3);
    LogOpen();
    LogWrite("dropped", 1);
    LogEnter("Scope", 1);
    LogLeave(1);
    EXPECT_TRUE(LogFilePath().empty());
}

}  // namespace
