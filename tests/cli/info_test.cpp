// ravelo-cli info against ffprobe on our sample and on real captures.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

#include "cli_runner.h"
#include "ravelo_version.h"
#include "res/strings.h"
#include "support/hd_media.h"
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
        "ffprobe -v error -show_entries stream=id,codec_type,codec_name,sample_rate,bit_rate,"
        "channels,width,height,display_aspect_ratio,r_frame_rate,field_order,profile,level:"
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

// ffprobe's names of our codecs.
const std::map<std::string, std::string> kFfprobeCodec = {{"mpeg2", "mpeg2video"},
                                                          {"h264", "h264"},
                                                          {"hevc", "hevc"},
                                                          {"mp2", "mp2"},
                                                          {"ac3", "ac3"},
                                                          {"eac3", "eac3"},
                                                          {"aac", "aac"},
                                                          {"aac-latm", "aac_latm"},
                                                          {"dvb-subtitle", "dvb_subtitle"},
                                                          {"teletext", "dvb_teletext"}};

std::string codecType(const std::string& kind) {
    if (kind == "video") return "video";
    if (kind == "subtitle" || kind == "teletext") return "subtitle";
    return "audio";
}

// "5.1" is six channels, "2.0" two.
int layoutChannels(const std::string& layout) {
    const auto dot = layout.find('.');
    if (dot == std::string::npos) return -1;
    return std::stoi(layout.substr(0, dot)) + std::stoi(layout.substr(dot + 1));
}

using Allowed = std::function<bool(int pid, const std::string& field)>;

void expectVideoAgreement(const Fields& f, const Fields& t, const Allowed& isAllowed, int pid) {
    if (f.at("width") == "null") {
        EXPECT_TRUE(isAllowed(pid, "picture")) << "no picture read";
        return;
    }
    EXPECT_EQ(f.at("width"), t.at("width"));
    EXPECT_EQ(f.at("height"), t.at("height"));
    if (!isAllowed(pid, "display_aspect")) {
        EXPECT_EQ(f.at("display_aspect"), t.at("display_aspect_ratio"));
    }
    if (!isAllowed(pid, "frame_rate")) {
        EXPECT_EQ(f.at("frame_rate"), t.at("r_frame_rate"));
    }
    EXPECT_EQ(f.at("profile"), t.at("profile"));
    EXPECT_EQ(f.at("level"), t.at("level"));
    const std::string order = t.at("field_order");
    if (order != "unknown") {
        EXPECT_EQ(f.at("interlaced"), order == "progressive" ? "false" : "true") << order;
    }
}

void expectAudioAgreement(const Fields& f, const Fields& t, const Allowed& isAllowed, int pid) {
    if (f.at("sample_rate") == "0") {
        EXPECT_TRUE(isAllowed(pid, "sample_rate")) << "no frame header read";
        return;
    }
    EXPECT_EQ(f.at("sample_rate"), t.at("sample_rate"));
    if (f.at("bit_rate") != "null" && t.count("bit_rate") && t.at("bit_rate") != "N/A") {
        EXPECT_EQ(std::stoi(f.at("bit_rate")) * 1000, std::stoi(t.at("bit_rate")));
    }
    if (f.at("layout") != "null" && !isAllowed(pid, "layout")) {
        EXPECT_EQ(std::to_string(layoutChannels(f.at("layout"))), t.at("channels"));
    }
}

// Compares every stream info reports with ffprobe's view of the same PID:
// its kind and codec, language, and the fields of its video or audio.
void expectAgreement(const std::string& path, const std::vector<Difference>& allowed,
                     const TempDir& dir) {
    const CliResult r = RunCli("info --json " + ShellQuote(path), dir);
    ASSERT_NE(r.code, 2) << r.err;
    const auto ours = infoStreams(r.out);
    const auto theirs = ffprobeStreams(path, dir);
    ASSERT_FALSE(theirs.empty()) << "ffprobe gave nothing for " << path;
    const Allowed isAllowed = [&](int pid, const std::string& field) {
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
        if (!isAllowed(pid, "kind")) {
            EXPECT_EQ(t.at("codec_type"), codecType(kind));
            EXPECT_EQ(t.at("codec_name"), kFfprobeCodec.at(f.at("codec")));
        }
        const std::string language = f.count("language") ? f.at("language") : "";
        const bool named = !language.empty() && language != "std" && language != "???";
        // ffprobe lists every language of a teletext stream; ours is the first.
        if (named && t.count("tag:language") && !isAllowed(pid, "language")) {
            const std::string theirs = t.at("tag:language");
            EXPECT_EQ(language, theirs.substr(0, theirs.find(',')));
        }
        if (isAllowed(pid, "kind")) continue;
        if (kind == "video") expectVideoAgreement(f, t, isAllowed, pid);
        if (codecType(kind) == "audio") expectAudioAgreement(f, t, isAllowed, pid);
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
    // A bit error in a later repetition of the PMT makes ffprobe show the
    // video as 0x33D and garble the teletext language; ours come from the
    // first, whole one (three packets long).
    expectAgreement(real + "sat_h264_damaged_partly_scrambled_bigpmt.ts",
                    {{0x3D, "pid", "bit error in a PMT"},
                     {0x3E, "language", "bit error in a PMT"},
                     {0x3D, "frame_rate", "field pictures: ffprobe counts fields"}},
                    dir);
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

    // The H.264 capture: its one I picture with a recovery point SEI.
    r = RunCli("info --json " + ShellQuote(real + "sat_h264_damaged_partly_scrambled_bigpmt.ts"),
               dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("\"picture\": {\"width\": 1920, \"height\": 1080, \"aspect_code\": 3, "
                         "\"aspect\": \"16:9\", \"codec\": \"h264\"}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"first_pts\": 8337146048"), std::string::npos);
    const auto streams = infoStreams(r.out);
    EXPECT_EQ(streams.at(0x3D).at("codec"), "h264");
    EXPECT_EQ(streams.at(0x3E).at("codec"), "teletext");
    EXPECT_EQ(streams.at(0x4B).at("language"), "rum");
}

TEST(InfoCommand, HdRecordingsAgreeWithFfprobe) {
    TempDir dir;
    for (const std::string& recording :
         {hdmedia::H264Interlaced(), hdmedia::HevcOpenGop(), hdmedia::HevcClosedGop10Bit()}) {
        SCOPED_TRACE(recording);
        expectAgreement(recording, {}, dir);
    }
    const CliResult r = RunCli("info --json " + ShellQuote(hdmedia::H264Interlaced()), dir);
    EXPECT_EQ(r.code, 0) << r.err;
    const auto streams = infoStreams(r.out);
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams.at(0x100).at("codec"), "h264");
    EXPECT_EQ(streams.at(0x100).at("interlaced"), "true");
    EXPECT_EQ(streams.at(0x101).at("codec"), "aac");
    EXPECT_EQ(streams.at(0x101).at("language"), "deu");
    EXPECT_EQ(streams.at(0x101).at("bit_rate"), "null");  // ADTS headers carry none
    EXPECT_EQ(streams.at(0x102).at("codec"), "eac3");
    EXPECT_EQ(streams.at(0x102).at("layout"), "5.1");
    EXPECT_NE(r.out.find("\"aspect\": \"16:9\", \"codec\": \"h264\"}"), std::string::npos);
    // The first picture is the IDR picture; the duration runs to the last
    // picture shown.
    const auto packets = hdmedia::VideoPackets(hdmedia::H264Interlaced());
    EXPECT_NE(r.out.find("\"first_pts\": " + std::to_string(packets.front().pts)),
              std::string::npos);
    EXPECT_NE(r.out.find("\"duration_ms\": 2960"), std::string::npos) << r.out;
    // More than the 8 Mbit/s an MPEG-2 recording is allowed (10 Mbit/s of
    // video, measured over the sample).
    std::smatch rate;
    ASSERT_TRUE(std::regex_search(r.out, rate, std::regex(R"("bit_rate_estimate": (\d+))")));
    EXPECT_GT(std::stoi(rate[1]), 8000);
}

TEST(InfoCommand, JobsThatCannotHandleTheVideoRefuseIt) {
    TempDir dir;
    const std::string recording = hdmedia::H264Interlaced();
    const std::string out = dir.File("out");
    std::filesystem::create_directories(out);
    // Program streams for DVD carry MPEG-2 video only.
    for (const char* command : {"mpeg", "vob"}) {
        const CliResult r = RunCli(
            std::string(command) + " " + ShellQuote(recording) + " -o " + ShellQuote(out), dir);
        EXPECT_EQ(r.code, 2) << command;
        EXPECT_NE(r.err.find("cannot write H.264 video (PID 0x0100): MPEG-2 program streams for "
                             "DVD need MPEG-2 video"),
                  std::string::npos)
            << command << r.err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));  // nothing written, not even an empty file
    // The cutting jobs take H.264 and HEVC (see the cut tests); the cached
    // recording itself is never cut in place here.
    CliResult r =
        RunCli("copy " + ShellQuote(recording) + " -o " + ShellQuote(dir.File("c.ts")), dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir.File("c.ts")));
    r = RunCli("vob " + ShellQuote(hdmedia::HevcOpenGop()) + " -o " + ShellQuote(out), dir);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("\"Create VOB File\" cannot write HEVC video"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(out));
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
