// What ravelo-cli refuses and how it says so: stored areas of another
// recording of the same name, files it was told not to replace, 192-byte
// packets for the demultiplexing jobs, an audio PID that is none; and what it
// reports: a kept area, its log file, no work folders of its own.

#include <gtest/gtest.h>

#include <filesystem>

#include "cli_runner.h"
#include "support/ts_builder.h"

namespace fs = std::filesystem;

namespace {

// GOPs of 12 pictures, 25 per second: a GOP every 0.48 s.
tsb::Bytes recording(std::int64_t firstPts, int gops = 20) {
    tsb::RecordingPlan plan;
    plan.gops = gops;
    plan.firstPts = firstPts;
    plan.audio = {{0x101, false, "deu", 0}, {0x102, true, "eng", 0}};
    return tsb::BuildRecording(plan);
}

// The commands run in the test's folder, with its settings file.
CliResult run(const TempDir& dir, const std::string& args) {
    return RunShell("cd " + ShellQuote(dir.Path().string()) + " && RAVELO_SETTINGS=" +
                        ShellQuote(dir.File("settings.ini")) + " " +
                        ShellQuote(std::string(RAVELO_BINARY_DIR) + "/cli/ravelo-cli") + " " +
                        args + " </dev/null",
                    dir);
}

TEST(JobRefusals, StoredAreasOfAnotherRecordingOfTheSameNameAreNotApplied) {
    TempDir dir;
    fs::create_directories(dir.Path() / "a");
    fs::create_directories(dir.Path() / "b");
    const tsb::Bytes a = recording(900000);
    const tsb::Bytes b = recording(5400000);
    WriteFileBytes(dir.File("a/News.ts"), a);
    WriteFileBytes(dir.File("b/News.ts"), b);
    CliResult r = run(dir, "cuts a/News.ts --add 0:00:02-0:00:06");
    ASSERT_EQ(r.code, 0) << r.err;

    // The time base is b's own first picture, whatever is stored under the title.
    r = run(dir, "info b/News.ts --json");
    EXPECT_NE(r.out.find("\"first_pts\": 5400000"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"duration\": null"), std::string::npos) << r.out;

    for (const char* job : {"cut b/News.ts --yes", "copy b/News.ts", "demux b/News.ts -o ."}) {
        r = run(dir, job);
        EXPECT_EQ(r.code, 2) << job;
        EXPECT_NE(r.err.find("belong to another recording of the same name"), std::string::npos)
            << job << ": " << r.err;
    }
    EXPECT_EQ(ReadFileBytes(dir.File("b/News.ts")), std::vector<unsigned char>(b.begin(), b.end()));
    EXPECT_FALSE(fs::exists(dir.File("b/News (copy).ts")));
    // The areas stay stored for a, which they were made for.
    r = run(dir, "cuts a/News.ts");
    EXPECT_NE(r.out.find("Cut-area 1:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("another recording"), std::string::npos) << r.out;

    // With --cut the job runs; the areas are printed before it, with --yes too.
    r = run(dir, "cut b/News.ts --yes --cut 0:00:03-0:00:05");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Cut-area 1: sectors "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(", 0:00:03."), std::string::npos) << r.err;
    EXPECT_LT(fs::file_size(dir.File("b/News.ts")), b.size());
    r = run(dir, "cut a/News.ts --yes");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_LT(fs::file_size(dir.File("a/News.ts")), a.size());
}

TEST(JobRefusals, NothingIsReplacedAgainstTheUsersWord) {
    TempDir dir;
    const tsb::Bytes film = recording(900000, 6);
    WriteFileBytes(dir.File("Film.ts"), film);
    fs::create_directories(dir.Path() / "out");
    // Only the sound files exist: they are asked about all the same.
    WriteFileBytes(dir.File("out/Film.mp2"), {1, 2, 3});
    WriteFileBytes(dir.File("out/Film.ac3"), {4, 5});
    for (const char* flag : {"--no-overwrite", "", "--no-overwrite --quiet"}) {
        const CliResult r = run(dir, std::string("demux Film.ts -o out ") + flag);
        EXPECT_EQ(r.code, 2) << flag;
        EXPECT_NE(r.err.find("Film.mp2, Film.ac3"), std::string::npos) << flag << ": " << r.err;
        EXPECT_EQ(ReadFileBytes(dir.File("out/Film.mp2")), (std::vector<unsigned char>{1, 2, 3}));
        EXPECT_EQ(ReadFileBytes(dir.File("out/Film.ac3")), (std::vector<unsigned char>{4, 5}));
        EXPECT_FALSE(fs::exists(dir.File("out/Film.m2v"))) << flag;
    }
    CliResult r = run(dir, "demux Film.ts -o out --overwrite --quiet");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_GT(fs::file_size(dir.File("out/Film.mp2")), 3u);

    WriteFileBytes(dir.File("out/Film.vob"), {7});
    r = run(dir, "vob Film.ts -o out --no-overwrite");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(ReadFileBytes(dir.File("out/Film.vob")), (std::vector<unsigned char>{7}));
    r = run(dir, "vob Film.ts -o out --overwrite");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_GT(fs::file_size(dir.File("out/Film.vob")), 2048u);
}

TEST(JobRefusals, WhatTheDemultiplexingJobsCannotTake) {
    TempDir dir;
    const tsb::Bytes film = recording(900000, 6);
    WriteFileBytes(dir.File("Film.mts"), tsb::To192(film));
    WriteFileBytes(dir.File("Film.ts"), film);
    CliResult r = run(dir, "demux Film.mts -o .");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("192-byte packets"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.File("Film.m2v")));
    r = run(dir, "copy Film.mts --cut 0:00:01-0:00:02");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fs::file_size(dir.File("Film (copy).mts")) % 192, 0u);

    r = run(dir, "mpeg Film.ts -o . --audio 0x200");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("audio PIDs: 257, 258"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.File("Film.mpg")));
    r = run(dir, "vob Film.ts -o . --audio 0x200");
    EXPECT_EQ(r.code, 2);
    EXPECT_FALSE(fs::exists(dir.File("Film.vob")));
}

// The VOB takes every audio stream, or the one --audio names (as the window
// passes the track of its combo box).
TEST(JobRefusals, VobKeepsTheAudioStreamAskedFor) {
    TempDir dir;
    WriteFileBytes(dir.File("Film.ts"), recording(900000, 6));
    auto audioStreams = [&] {
        return RunShell("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " +
                            ShellQuote(dir.File("Film.vob")) + " | grep -c audio",
                        dir)
            .out;
    };
    CliResult r = run(dir, "vob Film.ts -o .");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(audioStreams(), "2\n");
    r = run(dir, "vob Film.ts -o . --overwrite --audio 0x102");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(audioStreams(), "1\n");
}

TEST(JobRefusals, KeptAreasLogsAndWorkFolders) {
    TempDir dir;
    const tsb::Bytes film = recording(900000, 10);
    WriteFileBytes(dir.File("Film.ts"), film);
    // A stored area well inside one GOP (marks set on the command line land
    // on GOP starts) holds no GOP start: it is kept, and said so.
    const std::size_t gop = film.size() / 10;
    const std::string ini = "[CutList]\nFilm.ts\\0\\IsEnabled=1\nFilm.ts\\0\\SectorStart=" +
                            std::to_string((3 * gop + gop / 4) / 512) +
                            "\nFilm.ts\\0\\SectorEnd=" + std::to_string((3 * gop + gop / 2) / 512) +
                            "\n";
    WriteFileBytes(dir.File("settings.ini"), std::vector<unsigned char>(ini.begin(), ini.end()));
    CliResult r = run(dir, "cuts Film.ts");
    ASSERT_NE(r.out.find("Cut-area 1: sectors "), std::string::npos) << r.out << r.err;
    r = run(dir, "copy Film.ts --quiet --log job.log --log-level 2");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("holds no GOP start: it is kept"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
    const std::string log = ReadText(dir.File("job.log"));
    EXPECT_NE(log.find("\\ CFunctionMng::FnProcessCopy\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("holds no GOP start"), std::string::npos) << log;
    for (const char* folder : {"~log", "~temp", "~demux"})
        EXPECT_FALSE(fs::exists(dir.File(folder))) << folder;
    r = run(dir, "cut Film.ts --yes --quiet");
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(ReadFileBytes(dir.File("Film.ts")), std::vector<unsigned char>(film.begin(), film.end()));
    for (const char* folder : {"~log", "~temp", "~demux"})
        EXPECT_FALSE(fs::exists(dir.File(folder))) << folder;
}

}  // namespace
