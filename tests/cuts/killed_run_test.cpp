// ravelo-cli cut killed in the middle of a write (half of it on the disk, as
// after a crash or a power cut), then run again: the recording must hold the
// bytes of one clean run. Plain, segmented and byte-swapped recordings.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "../cli/cli_runner.h"
#include "demux/raw_file.h"
#include "hd_cut_media.h"
#include "media_oracle.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

const char* const kAreas = "--add 2343-4882 --add 8007-9570";

struct Folder {
    TempDir dir;
    Layout layout;
    std::string film() const { return dir.File("film.ts"); }

    CliResult cli(const std::string& args, const std::string& environment = "") const {
        return RunShell("cd " + ShellQuote(dir.Path().string()) + " && " + environment +
                            " RAVELO_SETTINGS=" + ShellQuote(dir.File("settings.ini")) + " " +
                            ShellQuote(std::string(RAVELO_BINARY_DIR) + "/cli/ravelo-cli") + " " +
                            args + " </dev/null",
                        dir);
    }
    // A fresh recording with the areas stored for it.
    void prepare(const Bytes& plain, const std::string& areas = kAreas) {
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            if (entry.path().filename().string().rfind("film.ts", 0) == 0) fs::remove(entry.path());
        if (layout == Layout::Segmented) {
            WriteFileBytes(film(), {plain.begin(), plain.begin() + 3000000});
            WriteFileBytes(film() + ".001", {plain.begin() + 3000000, plain.end()});
        } else {
            WriteFileBytes(film(), layout == Layout::Swapped ? SwapPairs(plain) : plain);
        }
        const CliResult added = cli("cuts film.ts --clear " + areas);
        ASSERT_EQ(added.code, 0) << added.err;
    }
    Bytes result() const {
        const Bytes all = JoinedSegments(film());
        return layout == Layout::Swapped ? SwapPairs(all) : all;
    }
};

class KilledRunTest : public ::testing::TestWithParam<Layout> {};

}  // namespace

TEST_P(KilledRunTest, RunAgainAfterAKillGivesTheCleanResult) {
    const std::string source = std::string(RAVELO_BINARY_DIR) + "/tests/cuts/killed_source.ts";
    if (!fs::exists(source)) {
        // The test processes of the three layouts may make it at once.
        const std::string part = source + "." + std::to_string(::getpid());
        MakeTestRecording(part, 8, "720x576");
        fs::rename(part, source);
    }
    const Bytes plain = ReadFileBytes(source);

    Folder clean{TempDir(), GetParam()};
    clean.prepare(plain);
    const CliResult cleanRun = clean.cli("cut film.ts --yes");
    ASSERT_EQ(cleanRun.code, 0) << cleanRun.err;
    const Bytes expected = clean.result();
    ASSERT_LT(expected.size(), plain.size() - 1000000);

    Folder killed{TempDir(), GetParam()};
    const std::string preload = "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" +
                                ShellQuote(std::string(RAVELO_BINARY_DIR) +
                                           "/tests/cuts/libkill_after_writes.so") +
                                " RAVELO_KILL_PATH=" + ShellQuote(killed.dir.Path().string());
    int kills = 0;
    for (int writes : {1, 2, 3, 4, 6, 9, 13, 19, 28, 40}) {
        SCOPED_TRACE("killed in write " + std::to_string(writes));
        killed.prepare(plain);
        const CliResult run =
            killed.cli("cut film.ts --yes", preload + " RAVELO_KILL_AFTER_WRITES=" + std::to_string(writes));
        if (run.code == 0) break;  // the run has fewer writes
        ++kills;
        const CliResult retry = killed.cli("cut film.ts --yes");
        EXPECT_EQ(retry.code, 0) << retry.err;
        EXPECT_FALSE(fs::exists(killed.film() + ".cutjournal"));
        EXPECT_EQ(killed.result(), expected);
    }
    EXPECT_GE(kills, 5);

    // Killed right after the journal went: the stored areas are gone too,
    // so running again changes nothing.
    killed.prepare(plain);
    const CliResult run = killed.cli(
        "cut film.ts --yes", preload + " RAVELO_KILL_AFTER_UNLINK=film.ts.cutjournal");
    EXPECT_NE(run.code, 0) << "the process was not killed";
    const CliResult retry = killed.cli("cut film.ts --yes");
    EXPECT_EQ(retry.code, 0) << retry.err;
    EXPECT_EQ(killed.result(), expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, KilledRunTest,
                         ::testing::Values(Layout::Plain, Layout::Segmented, Layout::Swapped),
                         [](const auto& info) { return LayoutName(info.param); });

// An H.264 recording: the journal holds the packets written anew and the
// renumbering of the pictures under way, so a killed run finishes exactly.
TEST(KilledHdRunTest, RunAgainAfterAKillGivesTheCleanResult) {
    const std::string source = hdcut::H264Recording();
    std::string areas;
    for (const TestArea& area : hdcut::TwoAreas(VideoPackets(source, "v:0")))
        areas += " --add " + std::to_string(area.start / 512) + "-" + std::to_string(area.end / 512);
    ASSERT_FALSE(areas.empty());
    const Bytes plain = ReadFileBytes(source);
    Folder clean{TempDir(), Layout::Plain};
    clean.prepare(plain, areas);
    const CliResult cleanRun = clean.cli("cut film.ts --yes");
    ASSERT_EQ(cleanRun.code, 0) << cleanRun.err;
    const Bytes expected = clean.result();
    ASSERT_LT(expected.size(), plain.size() - 1000000);

    Folder killed{TempDir(), Layout::Plain};
    const std::string preload = "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" +
                                ShellQuote(std::string(RAVELO_BINARY_DIR) +
                                           "/tests/cuts/libkill_after_writes.so") +
                                " RAVELO_KILL_PATH=" + ShellQuote(killed.dir.Path().string());
    int kills = 0;
    for (int writes : {1, 2, 3, 5, 8, 12}) {
        SCOPED_TRACE("killed in write " + std::to_string(writes));
        killed.prepare(plain, areas);
        const CliResult run = killed.cli(
            "cut film.ts --yes", preload + " RAVELO_KILL_AFTER_WRITES=" + std::to_string(writes));
        if (run.code == 0) break;
        ++kills;
        const CliResult retry = killed.cli("cut film.ts --yes");
        EXPECT_EQ(retry.code, 0) << retry.err;
        EXPECT_TRUE(killed.result() == expected) << "the retry differs from a clean run";
    }
    EXPECT_GE(kills, 3);
}
