// What "cmake --install" puts in place, as a desktop sees it: the validators
// accept the desktop entry and the metainfo, a receiver recording opens in
// Ravelo, and the manual page names every command and option of the tool.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "cli/cli_runner.h"

namespace {

const std::string kAppId = "com.korvane.Ravelo";

class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        const CliResult r =
            RunShell("DESTDIR=" + ShellQuote(root()) + " " + ShellQuote(RAVELO_CMAKE_COMMAND) +
                         " --install " + ShellQuote(RAVELO_BINARY_DIR) + " --prefix /usr",
                     dir);
        ASSERT_EQ(r.code, 0) << r.out << r.err;
    }
    std::string root() const { return dir.File("root"); }
    std::string share() const { return root() + "/usr/share"; }
    CliResult run(const std::string& command) { return RunShell(command, dir); }

    TempDir dir;
};

TEST_F(Installed, EveryFileIsInPlaceAndTheValidatorsAcceptThem) {
    for (const std::string& file : std::vector<std::string>{
             "/usr/bin/ravelo", "/usr/bin/ravelo-cli", "/usr/share/man/man1/ravelo.1",
             "/usr/share/man/man1/ravelo-cli.1", "/usr/share/mime/packages/" + kAppId + ".xml",
             "/usr/share/icons/hicolor/scalable/apps/" + kAppId + ".svg",
             "/usr/share/icons/hicolor/48x48/apps/" + kAppId + ".png",
             "/usr/share/icons/hicolor/256x256/apps/" + kAppId + ".png"})
        EXPECT_TRUE(std::filesystem::is_regular_file(root() + file)) << file;
    const std::string desktop = share() + "/applications/" + kAppId + ".desktop";
    CliResult r = run("desktop-file-validate " + ShellQuote(desktop));
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(r.out + r.err, "");
    const std::string entry = ReadText(desktop);
    EXPECT_NE(entry.find("\nExec=ravelo %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nCategories=AudioVideo;Video;AudioVideoEditing;\n"), std::string::npos);
    r = run("appstreamcli validate --no-net " +
            ShellQuote(share() + "/metainfo/" + kAppId + ".metainfo.xml"));
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    // The release named there is the program's version.
    const std::string version = RunShell(root() + "/usr/bin/ravelo-cli --version", dir).out;
    EXPECT_NE(ReadText(share() + "/metainfo/" + kAppId + ".metainfo.xml")
                  .find("<release version=\"" + version.substr(11, version.size() - 12) + "\""),
              std::string::npos)
        << version;
}

TEST_F(Installed, ReceiverRecordingsOpenInRavelo) {
    ASSERT_EQ(run("update-mime-database " + ShellQuote(share() + "/mime")).code, 0);
    ASSERT_EQ(run("update-desktop-database " + ShellQuote(share() + "/applications")).code, 0);
    const auto head = ReadFileBytes(std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts");
    const std::string env = "XDG_DATA_HOME=" + ShellQuote(dir.File("home")) +
                            " XDG_CONFIG_HOME=" + ShellQuote(dir.File("config")) +
                            " XDG_DATA_DIRS=" + ShellQuote(share()) + ":/usr/share ";
    const std::pair<const char*, const char*> files[] = {{"Film.rec", "video/x-topfield-rec"},
                                                         {"FILM.TTS", "video/x-topfield-tts"},
                                                         {"Film~1.vid", "video/x-humax-vid"},
                                                         {"Film.trp", "video/x-skybox-trp"},
                                                         {"Film.ts", "video/mp2t"},
                                                         {"Film.mts", "video/mp2t"}};
    for (const auto& [name, type] : files) {
        SCOPED_TRACE(name);
        WriteFileBytes(dir.File(name),
                       std::vector<unsigned char>(head.begin(), head.begin() + 8192));
        CliResult r = run(env + "gio info -a standard::content-type " + ShellQuote(dir.File(name)));
        EXPECT_NE(r.out.find(std::string("standard::content-type: ") + type), std::string::npos)
            << r.out << r.err;
        r = run(env + "xdg-mime query default " + type);
        EXPECT_EQ(r.out, kAppId + ".desktop\n") << r.err;
    }
}

// The options of a command's "Usage:" lines.
std::set<std::string> usageOptions(const std::string& help) {
    std::set<std::string> options;
    const std::string usage = help.substr(0, help.find("\n\n"));
    static const std::regex option(R"(--[a-z][a-z-]*)");
    for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option);
         it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    return options;
}

TEST_F(Installed, TheManualPageShowsEveryCommandAndItsOptions) {
    const std::string cli = root() + "/usr/bin/ravelo-cli";
    const CliResult page =
        run("LC_ALL=C MANWIDTH=200 man -l " + ShellQuote(share() + "/man/man1/ravelo-cli.1"));
    ASSERT_EQ(page.code, 0) << page.err;
    const CliResult list = run(ShellQuote(cli) + " --help");
    const std::string commands = list.out.substr(list.out.find("Commands:"));
    static const std::regex line(R"(\n  ([a-z]+) )");
    int seen = 0;
    for (auto it = std::sregex_iterator(commands.begin(), commands.end(), line);
         it != std::sregex_iterator(); ++it, ++seen) {
        const std::string command = (*it)[1].str();
        EXPECT_NE(page.out.find("\n   " + command + "\n"), std::string::npos) << command;
        for (const std::string& option :
             usageOptions(run(ShellQuote(cli) + " " + command + " --help").out))
            EXPECT_NE(page.out.find(option), std::string::npos) << command << " " << option;
    }
    EXPECT_GE(seen, 8);
    const CliResult window =
        run("LC_ALL=C MANWIDTH=200 man -l " + ShellQuote(share() + "/man/man1/ravelo.1"));
    EXPECT_EQ(window.code, 0) << window.err;
    EXPECT_NE(window.out.find("Import cut areas"), std::string::npos);
}

}  // namespace
