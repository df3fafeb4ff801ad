// ravelo-cli cuts, and the marks that the --add and --cut options share.

#include <gtest/gtest.h>

#include <algorithm>

#include "app/recording_model.h"
#include "cli/recording_args.h"
#include "cli_runner.h"
#include "platform/memory_settings_store.h"
#include "support/ts_builder.h"

namespace {

constexpr std::int64_t kGopTicks = 12 * tsb::kPictureTicks;  // 480 ms

// Position just behind the packet of the n-th sequence header.
std::uint64_t gopPacketEnd(const tsb::Bytes& data, int n) {
    const tsb::Bytes code = {0x00, 0x00, 0x01, 0xB3};
    for (std::size_t at = 0; at + 188 <= data.size(); at += 188) {
        const auto begin = data.begin() + static_cast<std::ptrdiff_t>(at);
        if (std::search(begin, begin + 188, code.begin(), code.end()) != begin + 188 && n-- == 0)
            return at + 188;
    }
    return 0;
}

std::uint64_t gopSector(const tsb::Bytes& data, int n) {
    return gopPacketEnd(data, n) / 512 - 1;
}

TEST(Marks, ParseSectorsAndTimes) {
    cli::Mark m;
    ASSERT_TRUE(cli::ParseMark("12345", m, nullptr));
    EXPECT_FALSE(m.isTime);
    EXPECT_EQ(m.sector, 12345u);
    ASSERT_TRUE(cli::ParseMark("1:02:03", m, nullptr));
    EXPECT_TRUE(m.isTime);
    EXPECT_EQ(m.ms, 3723000);
    ASSERT_TRUE(cli::ParseMark("0:00:07.25", m, nullptr));
    EXPECT_EQ(m.ms, 7250);
    std::string error;
    for (const char* bad :
         {"", "1:2:3", "0:61:00", "12a", "-5", "0:00:01.1234", "99999999999999999999"})
        EXPECT_FALSE(cli::ParseMark(bad, m, &error)) << bad;
    EXPECT_NE(error.find("H:MM:SS"), std::string::npos);
    cli::Mark from, to;
    ASSERT_TRUE(cli::ParseMarkRange("0:00:01-2048", from, to, nullptr));
    EXPECT_TRUE(from.isTime);
    EXPECT_EQ(to.sector, 2048u);
    EXPECT_FALSE(cli::ParseMarkRange("100", from, to, &error));
    EXPECT_FALSE(cli::ParseMarkRange("1-2-3", from, to, &error));
    EXPECT_EQ(cli::FormatMs(3723004), "1:02:03.004");
}

class MarkResolution : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetSettingsStore(&store);
        tsb::RecordingPlan plan;
        plan.gops = 30;  // the marks stay clear of the last 256 KiB
        data = tsb::BuildRecording(plan);
        WriteFileBytes(dir.File("Film.ts"), data);
        ASSERT_TRUE(model.Open(dir.File("Film.ts"), nullptr));
    }
    void TearDown() override {
        model.CloseWithoutSaving();
        platform::SetSettingsStore(nullptr);
    }
    cli::ResolvedMark resolve(const std::string& text) {
        cli::Mark m;
        EXPECT_TRUE(cli::ParseMark(text, m, nullptr)) << text;
        return cli::ResolveMark(model, m);
    }

    platform::MemorySettingsStore store;
    TempDir dir;
    tsb::Bytes data;
    CRecordingModel model;
};

TEST_F(MarkResolution, TimeLandsOnTheFirstPictureAtOrAfterIt) {
    cli::ResolvedMark m = resolve("0:00:02.000");  // pictures at 1.92 and 2.40 s
    EXPECT_EQ(model.m_firstPTS, 900000);
    EXPECT_EQ(m.stamp, 900000 + 5 * kGopTicks);
    EXPECT_EQ(m.sector, gopSector(data, 5));
    m = resolve("0:00:01.920");  // exactly a picture
    EXPECT_EQ(m.stamp, 900000 + 4 * kGopTicks);
    EXPECT_EQ(m.sector, gopSector(data, 4));
    m = resolve("0:00:00");
    EXPECT_EQ(m.stamp, 900000);
    EXPECT_EQ(m.sector, 0u);
    // Beyond the end: the picture the window shows at the end, searched from
    // 256 KiB before it.
    const std::uint64_t sectors = data.size() / 512;
    m = resolve("9:00:00");
    EXPECT_EQ(m.stamp, resolve(std::to_string(sectors)).stamp);
    EXPECT_GT(m.stamp, 900000 + 20 * kGopTicks);
}

TEST_F(MarkResolution, SectorLandsOnTheNextPicture) {
    const cli::ResolvedMark m = resolve(std::to_string(gopSector(data, 2) + 3));
    EXPECT_EQ(m.sector, gopSector(data, 3));
    EXPECT_EQ(m.stamp, 900000 + 3 * kGopTicks);
}

TEST_F(MarkResolution, CutAreasFollowTheEditingRules) {
    CCutArea area;
    std::string error;
    ASSERT_TRUE(cli::MakeCutArea(model, "0:00:01-0:00:03", area, &error)) << error;
    EXPECT_TRUE(area.IsEnabled);
    EXPECT_EQ(area.SectorStart, gopSector(data, 3));  // 1.44 s
    EXPECT_EQ(area.SectorEnd, gopSector(data, 7));    // 3.36 s
    EXPECT_EQ(area.PTSEnd - area.PTSStart, 4 * kGopTicks);
    // Each wrong range says what is wrong with it.
    EXPECT_FALSE(cli::MakeCutArea(model, "0:00:03-0:00:01", area, &error));
    EXPECT_NE(error.find("FROM 0:00:03.000 is after TO 0:00:01.000"), std::string::npos) << error;
    EXPECT_FALSE(cli::MakeCutArea(model, "0:00:01-9:00:00", area, &error));
    EXPECT_NE(error.find("TO is beyond the end (0:00:"), std::string::npos) << error;
    const std::string past = std::to_string(data.size() / 512 + 1);
    EXPECT_FALSE(cli::MakeCutArea(model, past + "-" + past, area, &error));
    EXPECT_NE(error.find("FROM is beyond the end (sector " + std::to_string(data.size() / 512)),
              std::string::npos)
        << error;
    EXPECT_FALSE(cli::MakeCutArea(model, "0:00:01.1-0:00:01.2", area, &error));
    EXPECT_NE(error.find("FROM and TO land on the same picture"), std::string::npos) << error;
}

TEST(CutsCommand, AddsListsAndClearsTheStoredList) {
    TempDir dir;
    tsb::RecordingPlan plan;
    plan.gops = 30;
    const tsb::Bytes data = tsb::BuildRecording(plan);
    const std::string film = dir.File("Film.ts");
    WriteFileBytes(film, data);

    CliResult r = RunCli("cuts " + ShellQuote(film), dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("No cut areas."), std::string::npos);

    r = RunCli("cuts " + ShellQuote(film) + " --add 0:00:01-0:00:02 --add " +
                   std::to_string(gopSector(data, 8)) + "-" + std::to_string(gopSector(data, 9)),
               dir);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string first = "Cut-area 1: sectors " + std::to_string(gopSector(data, 3)) + "-" +
                              std::to_string(gopSector(data, 5)) + ", 0:00:01.440-0:00:02.400";
    EXPECT_NE(r.out.find(first), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Cut-area 2:"), std::string::npos);
    const std::string ini = ReadText(dir.File("settings.ini"));
    EXPECT_NE(ini.find("CutList"), std::string::npos) << ini;

    r = RunCli("cuts " + ShellQuote(film), dir);  // read back from the store
    EXPECT_NE(r.out.find(first), std::string::npos) << r.out;
    r = RunCli("info " + ShellQuote(film), dir);
    EXPECT_NE(r.out.find("Cut areas:   2"), std::string::npos) << r.out;

    // A bad range stores nothing, not even the other, good one.
    r = RunCli("cuts " + ShellQuote(film) + " --clear --add 0:00:03-0:00:01", dir);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("FROM 0:00:03.000 is after TO 0:00:01.000"), std::string::npos) << r.err;
    r = RunCli("cuts " + ShellQuote(film) + " --add nonsense", dir);
    EXPECT_EQ(r.code, 2);
    r = RunCli("cuts " + ShellQuote(film), dir);
    EXPECT_NE(r.out.find("Cut-area 2:"), std::string::npos);

    r = RunCli("cuts " + ShellQuote(film) + " --clear", dir);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("No cut areas."), std::string::npos);
    EXPECT_EQ(ReadText(dir.File("settings.ini")).find("Film.ts"), std::string::npos);

    r = RunCli("cuts " + ShellQuote(dir.File("missing.ts")), dir);
    EXPECT_EQ(r.code, 2);
    r = RunCli("cuts " + ShellQuote(film) + " --add", dir);
    EXPECT_EQ(r.code, 2);
}

}  // namespace
