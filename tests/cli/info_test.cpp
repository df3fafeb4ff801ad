// ravelo-cli info against ffprobe on our sample and on real captures.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "cli_runner.h"
#include "ravelo_version.h"
#include "res/strings.h"
#include "support/ts_builder.h"

namespace {

using Fields = std::map<std::string, std::string>;

// Each stream of `info --json` stands on a line of its own.
std::map<int, Fields> infoStreams(const std::string& json) {
    std::map<int, Fields> streams;
    static const std::regex field(R"re("(\w+)": ("[^"]*"|[-\w]+))re");
    std::istringstream lines(json);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("{\"pid\"") == std::string::npos) continue;
        Fields f;
        for (std::sregex_iterator it(line.begin(), line.end(), field), end; it != end; ++it) {
            std::string value = (*it)[2];
            if (!value.empty() && value.front() == '"') value = value.substr(1, value.size() - 2);
            f[(*it)[1]] = value;
        }
        streams[std::stoi(f["pid"])] = f;
    }
    return streams;
}

std::map<int, Fields> ffprobeStreams(const std::string& path, const TempDir& dir) {
    const CliResult r = RunShell(
        "ffprobe -v error -show_entries stream=id,codec_type,codec_name,sample_rate,bit_rate:"
        "stream_tags=language -of compact=p=0 " +
            ShellQuote(path),
        dir);
    std::map<int, Fields> streams;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        Fields f;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');) {
            const auto eq = part.find('=');
            if (eq != std::string::npos) f[part.substr(0, eq)] = part.substr(eq + 1);
        }
        if (f.count("id") && !f["id"].empty() && f["id"] != "N/A")
            streams[std::stoi(f["id"], nullptr, 16)] = f;
    }
    return streams;
}

struct Difference {
    int pid;
    std::string field;
    std::string why;
};

// Compares every stream info reports with ffprobe's view of the same PID.
void expectAgreement(const std::string& path, const std::vector<Difference>& allowed,
                     const TempDir& dir) {
    const CliResult r = RunCli("info --json " + ShellQuote(path), dir);
    ASSERT_NE(r.code, 2) << r.err;
    const auto ours = infoStreams(r.out);
    const auto theirs = ffprobeStreams(path, dir);
    ASSERT_FALSE(theirs.empty()) << "ffprobe gave nothing for " << path;
    auto isAllowed = [&](int pid, const std::string& field) {
        for (const Difference& d : allowed)
            if (d.pid == pid && d.field == field) return true;
        return false;
    };
    for (const auto& [pid, f] : ours) {
        SCOPED_TRACE(path + " PID " + std::to_string(pid));
        auto it = theirs.find(pid);
        if (it == theirs.end()) {
            EXPECT_TRUE(isAllowed(pid, "pid")) << "ffprobe knows no such PID";
            continue;
        }
        const Fields& t = it->second;
        const std::string kind = f.at("kind");
        const std::string expectedType = kind == "video" ? "video" : "audio";
        if (!isAllowed(pid, "kind")) {
            EXPECT_EQ(t.at("codec_type"), expectedType);
            if (kind == "mpeg-audio") {
                EXPECT_EQ(t.at("codec_name"), "mp2");
            }
            if (kind == "ac3") {
                EXPECT_EQ(t.at("codec_name"), "ac3");
            }
        }
        const std::string language = f.count("language") ? f.at("language") : "";
        const bool named = !language.empty() && language != "std" && language != "???";
        if (named && t.count("tag:language")) {
            EXPECT_EQ(language, t.at("tag:language"));
        }
        if (kind == "video") continue;
        if (f.at("sample_rate") == "0") {
            EXPECT_TRUE(isAllowed(pid, "sample_rate")) << "no frame header read";
            continue;
        }
        EXPECT_EQ(f.at("sample_rate"), t.at("sample_rate"));
        if (t.count("bit_rate") && t.at("bit_rate") != "N/A") {
            EXPECT_EQ(std::stoi(f.at("bit_rate")) * 1000, std::stoi(t.at("bit_rate")));
        }
    }
}

TEST(InfoCommand, AgreesWithFfprobeOnTheSample) {
    TempDir dir;
    const std::string sample = std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts";
    expectAgreement(sample, {}, dir);
    const CliResult r = RunCli("info --json " + ShellQuote(sample), dir);
    EXPECT_EQ(r.code, 0) << r.err;
    const auto ours = infoStreams(r.out);
    ASSERT_EQ(ours.size(), 4u);
    EXPECT_NE(r.out.find("\"pids\": {\"pmt\": 4096, \"video\": 256, \"audio\": 257, \"ac3\": 259}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(ours.at(259).at("ac3_layout"), "5.1");
    EXPECT_EQ(ours.at(258).at("language"), "eng");
    EXPECT_NE(r.out.find("\"picture\": {\"width\": 720, \"height\": 576"), std::string::npos);
    // 10 s of pictures: the last picture's stamp is one picture short of that.
    EXPECT_NE(r.out.find("\"duration_ms\": 99"), std::string::npos) << r.out;
}

TEST(InfoCommand, AgreesWithFfprobeOnRealCaptures) {
    TempDir dir;
    const std::string real = std::string(RAVELO_REAL_CAPTURES) + "/";
    expectAgreement(real + "bbc_news_dvbt_uk_mpeg2_704x576_dvbsub.ts", {}, dir);
    expectAgreement(real + "p1_mpeg2_720x576_mp2_separate_pcr_pid.ts", {}, dir);
    // LATM audio (type 0x11) and teletext are no streams of ours: they are
    // simply not listed.
    expectAgreement(real + "abc_news_dvbt_au_mpeg2_mp2_latm_ttx.ts", {}, dir);
    expectAgreement(real + "atsc_ac3_audio_only_video_pid_declared.ts", {}, dir);
    // The audio headers are read from the first packet of a PES only; this
    // track's PES packets start in the middle of a frame.
    expectAgreement(real + "rai_mux_dvbt_it_mpeg2_mp2_ttx.ts",
                    {{0x2B8, "sample_rate", "frame not in first packet"}}, dir);
    // The PMT names 0x65 a video stream (type 2); ffprobe looks at the data.
    expectAgreement(real + "radio_mux_sync_loss_cc_errors.ts", {{0x65, "kind", "PMT says video"}},
                    dir);
    // H.264 video comes through the PES fallback (the PMT spans three
    // packets) as a video stream; its bit error makes ffprobe show 0x33D.
    expectAgreement(real + "sat_h264_damaged_partly_scrambled_bigpmt.ts",
                    {{0x3D, "pid", "bit error in a PMT"}}, dir);
}

TEST(InfoCommand, ReportsTheRealCapturesLikeTheWindowWould) {
    TempDir dir;
    const std::string real = std::string(RAVELO_REAL_CAPTURES) + "/";
    CliResult r = RunCli(
        "info --json " + ShellQuote(real + "atsc_ac3_audio_only_video_pid_declared.ts"), dir);
    EXPECT_EQ(r.code, 0) << r.err;
    // The declared video PID carries nothing: it is dropped.
    EXPECT_NE(r.out.find("\"pids\": {\"pmt\": 48, \"video\": 0, \"audio\": 0, \"ac3\": 52}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"ac3_layout\": \"2.0\""), std::string::npos);

    r = RunCli("info " + ShellQuote(real + "mediaset_psi_only_ca_descriptors.ts"), dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no streams found"), std::string::npos);

    r = RunCli("info " + ShellQuote(real + "sat_h264_damaged_partly_scrambled_bigpmt.ts"), dir);
    EXPECT_EQ(r.code, 1);  // no MPEG-2 picture in H.264 video
    EXPECT_NE(r.err.find("no picture found"), std::string::npos);
}

TEST(InfoCommand, BadInputGetsAMessageAndAnErrorCode) {
    TempDir dir;
    CliResult r = RunCli("info " + ShellQuote(dir.File("missing.ts")), dir);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("Failed to open document."), std::string::npos) << r.err;
    r = RunCli("info " + ShellQuote(dir.Path().string()), dir);
    EXPECT_EQ(r.code, 2);
    r = RunCli("info", dir);
    EXPECT_EQ(r.code, 2);
    r = RunCli("info --bogus x.ts", dir);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("unknown option"), std::string::npos);

    WriteFileBytes(dir.File("empty.ts"), {});
    r = RunCli("info " + ShellQuote(dir.File("empty.ts")), dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no streams found"), std::string::npos);

    // A truncated packet and a PMT whose lengths point outside its packet.
    tsb::TsBuilder b;
    tsb::Bytes pmt = tsb::PmtSection(1, 0x100, {{2, 0x100, {}}});
    pmt[1] |= 0x0F;  // section_length far beyond the packet
    b.Section(0x1000, pmt);
    tsb::Bytes data = b.Data();
    data.resize(data.size() + 100, 0x47);
    WriteFileBytes(dir.File("broken.ts"), data);
    r = RunCli("info --json " + ShellQuote(dir.File("broken.ts")), dir);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("\"streams\": []"), std::string::npos) << r.out;
}

TEST(InfoCommand, HelpAndVersion) {
    TempDir dir;
    CliResult r = RunCli("info --help", dir);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Usage: ravelo-cli info RECORDING [--json]"), std::string::npos);
    // The tool, the about box and the log take the version from one
    // generated header.
    r = RunCli("--version", dir);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, std::string("ravelo-cli ") + RAVELO_VERSION + "\n");
    EXPECT_EQ(LoadResString(ids::kVersion), std::string("Ravelo Version ") + RAVELO_VERSION + " (Beta)");
}

}  // namespace
