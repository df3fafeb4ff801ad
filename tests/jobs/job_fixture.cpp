#include "job_fixture.h"

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>

#include "platform/settings_store.h"
#include "shell/log.h"
#include "shell/preferences.h"

namespace jobs {

void MakeRecording(const std::string& path, const RecordingOptions& o) {
    std::ostringstream cmd;
    cmd << "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
           "\"testsrc2=size=352x288:rate=25\"";
    const int freqs[] = {440, 660, 330};
    const int tracks = o.mp2Tracks + (o.ac3 ? 1 : 0);
    for (int i = 0; i < tracks; ++i) {
        if (o.noise)
            cmd << " -f lavfi -i \"anoisesrc=seed=" << i + 1 << ":amplitude=0.3:sample_rate="
                << o.sampleRate << "\"";
        else
            cmd << " -f lavfi -i \"sine=frequency=" << freqs[i % 3] << ":sample_rate=" << o.sampleRate
                << "\"";
    }
    cmd << " -map 0:v";
    for (int i = 0; i < tracks; ++i) cmd << " -map " << i + 1 << ":a";
    cmd << " -t " << o.seconds
        << " -c:v mpeg2video -b:v 1500k -g 12 -bf 2 -pix_fmt yuv420p";
    for (int i = 0; i < o.mp2Tracks; ++i)
        cmd << " -c:a:" << i << " mp2 -b:a:" << i << " " << o.mp2Kbits << "k -ac:a:" << i << " 2";
    if (o.ac3)
        cmd << " -c:a:" << o.mp2Tracks << " ac3 -b:a:" << o.mp2Tracks << " " << o.ac3Kbits
            << "k -ac:a:" << o.mp2Tracks << " " << o.ac3Channels;
    cmd << " -pes_payload_size " << o.pesPayload << " -mpegts_start_pid 0x100 -f mpegts -mpegts_flags system_b -output_ts_offset " << o.offset
        << " " << o.extra << " \"" << path << "\" 2>&1";
    const std::string out = RunShell(cmd.str());
    ASSERT_TRUE(out.empty()) << cmd.str() << "\n" << out;
}

std::vector<double> PacketTimes(const std::string& path, const std::string& stream) {
    std::vector<double> times;
    std::istringstream in(RunShell("ffprobe -v error -select_streams " + stream +
                              " -show_entries packet=pts_time -of csv=p=0 \"" + path + "\""));
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line != "N/A") times.push_back(std::stod(line));
    return times;
}

std::vector<std::string> ProbeRows(const std::string& arguments) {
    std::vector<std::string> rows;
    std::istringstream in(RunShell("ffprobe -v error " + arguments + " -of csv=p=0"));
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && line.back() == ',') line.pop_back();
        if (line.empty() || line.find("side_data") != std::string::npos) continue;
        rows.push_back(line);
    }
    return rows;
}

int FrameCount(const std::string& path, const std::string& stream) {
    const std::string out = RunShell("ffprobe -v error -count_frames -select_streams " + stream +
                                " -show_entries stream=nb_read_frames -of csv=p=0 \"" + path + "\"");
    return out.empty() ? -1 : std::atoi(out.c_str());
}

std::string DecodeErrors(const std::string& path) {
    return RunShell("ffmpeg -hide_banner -v error -i \"" + path + "\" -map 0 -f null - 2>&1");
}

bool RecordingProgress::Open(const std::string& title, bool) {
    titles.push_back(title);
    SetLogListener([this](const std::string& line) { lines.push_back(line); });
    return true;
}

void JobTest::SetUp() {
    platform::SetSettingsStore(&m_settings);
    CPreferences::SetOutputPath(m_dir.File("work"));
    platform::MakeDirectory(m_dir.File("work"));
    SetProgress(&m_progress);
    SetPrompts(&m_prompts);
}

void JobTest::TearDown() {
    SetActiveRecording(nullptr);
    FunctionMng().m_pDoc = nullptr;
    m_model.CloseWithoutSaving();
    SetLogListener(nullptr);
    SetProgress(nullptr);
    SetPrompts(nullptr);
    platform::SetSettingsStore(nullptr);
}

CRecordingModel& JobTest::Open(const std::string& path, const CCutList& areas) {
    std::string error;
    EXPECT_TRUE(m_model.Open(path, &error)) << error;
    m_model.m_cutList = areas;
    SetActiveRecording(&m_model);
    return m_model;
}

JobResult JobTest::RunJob(OutputKind kind, std::uint16_t audioPid) {
    m_progress.lines.clear();
    return FunctionMng().FnCreateOutput(audioPid, kind);
}

bool JobTest::Logged(const std::string& text) const {
    for (const std::string& line : m_progress.lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
}

std::string JobTest::Lines() const {
    std::string all;
    for (const std::string& line : m_progress.lines) all += line + "\n";
    return all;
}

}  // namespace jobs
