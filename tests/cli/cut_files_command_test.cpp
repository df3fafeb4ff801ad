// ravelo-cli cuts --import/--export: cut lists of other programs in and out
// of the stored list, and what happens with a bad one.

#include <gtest/gtest.h>

#include "cli_runner.h"
#include "support/ts_builder.h"

namespace {

class CutFilesCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        tsb::RecordingPlan plan;
        plan.gops = 30;
        WriteFileBytes(film, tsb::BuildRecording(plan));
    }
    CliResult cuts(const std::string& args) {
        return RunCli("cuts " + ShellQuote(film) + " " + args, dir);
    }
    void write(const std::string& name, const std::string& text) {
        WriteFileBytes(dir.File(name), std::vector<unsigned char>(text.begin(), text.end()));
    }

    TempDir dir;
    const std::string film = dir.File("Film.ts");
};

TEST_F(CutFilesCommand, ExportedListsImportAsTheSameAreas) {
    CliResult r = cuts("--add 0:00:01-0:00:02 --add 0:00:05-0:00:07");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string listed = r.out;
    for (const char* name : {"cuts.edl", "marks", "cuts.txt"}) {
        SCOPED_TRACE(name);
        r = cuts("--export " + ShellQuote(dir.File(name)));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("Written " + dir.File(name)), std::string::npos) << r.out;
        r = cuts("--clear --import " + ShellQuote(dir.File(name)));
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, listed);
    }
    EXPECT_EQ(ReadText(dir.File("cuts.edl")), "1.440\t2.400\t0\n5.280\t7.200\t0\n");
    // Without --clear the imported areas are added.
    r = cuts("--import " + ShellQuote(dir.File("cuts.edl")));
    EXPECT_NE(r.out.find("Cut-area 4:"), std::string::npos) << r.out;
}

TEST_F(CutFilesCommand, MalformedListsNameTheirLineAndStoreNothing) {
    ASSERT_EQ(cuts("--add 0:00:01-0:00:02").code, 0);
    write("bad.edl", "1 2 0\n3 x 0\n");
    CliResult r = cuts("--clear --import " + ShellQuote(dir.File("bad.edl")));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("bad.edl, line 2: bad time 'x'"), std::string::npos) << r.err;
    r = cuts("");
    EXPECT_NE(r.out.find("Cut-area 1: sectors"), std::string::npos) << r.out;  // kept
    EXPECT_EQ(r.out.find("Cut-area 2"), std::string::npos) << r.out;

    write("comskip.txt", "1 2\n");
    r = cuts("--import " + ShellQuote(dir.File("comskip.txt")));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("line 1: expected the comskip header"), std::string::npos) << r.err;

    // Lines that cut nothing are passed over with a warning.
    write("mute.edl", "1 2 1\n5 6 0\n");
    r = cuts("--clear --import " + ShellQuote(dir.File("mute.edl")));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("mute.edl, line 1: a mute entry"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Cut-area 1: sectors"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Cut-area 2"), std::string::npos) << r.out;
}

TEST_F(CutFilesCommand, FormatsFilesAndOverwriting) {
    CliResult r = cuts("--import " + ShellQuote(dir.File("cuts")));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("give --format edl|vdr|comskip"), std::string::npos) << r.err;
    r = cuts("--import x.edl --format kodi");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("unknown format 'kodi'"), std::string::npos) << r.err;
    r = cuts("--import " + ShellQuote(dir.File("missing.edl")));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
    r = cuts("--export");
    EXPECT_EQ(r.code, 2);

    // An existing file is replaced only with --overwrite.
    write("cuts", "keep me\n");
    r = cuts("--add 0:00:01-0:00:02 --export " + ShellQuote(dir.File("cuts")) + " --format edl");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("--overwrite"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(dir.File("cuts")), "keep me\n");
    r = cuts("--export=" + ShellQuote(dir.File("cuts")) + " --format=edl --overwrite");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadText(dir.File("cuts")), "");  // the failed run stored nothing

    // Never onto the recording itself, not even with --overwrite.
    const auto before = ReadFileBytes(film);
    r = cuts("--add 0:00:01-0:00:02 --export " + ShellQuote(film) + " --format edl --overwrite");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("is the recording itself"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFileBytes(film), before);

    // A file that cannot be written is an error, and nothing is stored.
    r = cuts("--add 0:00:01-0:00:02 --export " + ShellQuote(dir.File("no/such/folder.edl")));
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_NE(cuts("").out.find("No cut areas."), std::string::npos);
}

}  // namespace
