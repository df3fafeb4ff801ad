#include "window_fixture.h"

#include <cstdlib>

#include "app/cut_list.h"
#include "platform/settings_store.h"
#include "shell/progress.h"

void WindowTest::SetUp() {
    GuiTest::SetUp();
    m_progress = std::make_unique<CProgressWnd>();
    SetProgress(m_progress.get());
    m_sample = CopySample("sample.ts");
}

void WindowTest::TearDown() {
    SetProgress(nullptr);
    m_progress.reset();
    GuiTest::TearDown();
}

std::string WindowTest::CopySample(const std::string& name) {
    const std::string path = m_dir.File(name);
    std::filesystem::copy_file(std::string(RAVELO_SOURCE_DIR) + "/samples/sample.ts", path,
                               std::filesystem::copy_options::overwrite_existing);
    return path;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> WindowTest::StoredAreas(
    const std::string& title) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> areas;
    const std::string group = cutlist::GroupName(title);
    for (int i = 0; i < 30; ++i) {
        const std::string sub = group + "/" + std::to_string(i);
        if (platform::Settings().GetInt(sub, "IsEnabled").value_or(0) == 0) continue;
        areas.emplace_back(platform::Settings().GetInt(sub, "SectorStart").value_or(0),
                           platform::Settings().GetInt(sub, "SectorEnd").value_or(0));
    }
    return areas;
}

bool DecodesCleanly(const std::string& path) {
    const std::string command = "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" +
                                path + "' > /dev/null 2> '" + path +
                                ".err' && ffmpeg -v error -i '" + path + "' -f null - 2>> '" +
                                path + ".err'";
    if (std::system(command.c_str()) != 0) return false;
    return std::filesystem::file_size(path + ".err") == 0;
}
