// ravelo-cli copy and cut as a script would run them.

#include <gtest/gtest.h>

#include <filesystem>

#include "media_oracle.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {
struct Cli {
    TempDir dir;
    std::string run(const std::string& args, int* code) {
        const std::string command =
            "cd '" + dir.Path().string() + "' && RAVELO_SETTINGS='" + dir.File("settings.ini") +
            "' " RAVELO_BINARY_DIR "/cli/ravelo-cli " + args + " </dev/null 2>&1; echo \"exit=$?\"";
        std::string out = RunCommand(command);
        const auto at = out.rfind("exit=");
        *code = std::stoi(out.substr(at + 5));
        return out.substr(0, at);
    }
};
}  // namespace

TEST(CliCopyCutTest, CopyAndCutInPlaceAgreeAndRefuseWhatTheyMust) {
    Cli cli;
    const std::string film = cli.dir.File("film.ts");
    MakeTestRecording(film, 3, "352x288");
    fs::copy_file(film, cli.dir.File("inplace.ts"));
    int code = -1;

    cli.run("copy film.ts --cut 400-900 --cut 1100-1400", &code);
    EXPECT_EQ(code, 0);
    const std::string copy = cli.dir.File("film (copy).ts");
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_LT(fs::file_size(copy), fs::file_size(film));
    EXPECT_EQ(DecodeErrors(copy, "v:0"), "");

    std::string out = cli.run("copy film.ts --cut 400-900", &code);  // the copy exists
    EXPECT_EQ(code, 2);
    EXPECT_NE(out.find("--overwrite"), std::string::npos) << out;
    cli.run("copy film.ts -o film.ts --overwrite --cut 400-900", &code);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(ReadFileBytes(film), ReadFileBytes(cli.dir.File("inplace.ts")));

    // Without --yes and without a terminal to ask on, nothing happens.
    out = cli.run("cut inplace.ts --cut 400-900 --cut 1100-1400", &code);
    EXPECT_EQ(code, 2);
    EXPECT_NE(out.find("This operation is irreversible!!!"), std::string::npos) << out;
    EXPECT_EQ(ReadFileBytes(film), ReadFileBytes(cli.dir.File("inplace.ts")));
    cli.run("cut inplace.ts --yes --cut 400-900 --cut 1100-1400", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFileBytes(cli.dir.File("inplace.ts")), ReadFileBytes(copy));
}
