#include "shell/preferences.h"

#include "platform/settings_store.h"
#include "shell/settings_keys.h"
#include "shell/text.h"
#include "shell/user_folders.h"

using platform::Settings;

namespace {
std::uint32_t readInt(const char* group, const char* key, std::uint32_t fallback) {
    return Settings().GetInt(group, key).value_or(fallback);
}
}  // namespace

std::string CPreferences::GetOutputPath() {
    return Settings().GetString(keys::kDefaults, keys::kOutputPath).value_or(DefaultOutputPath());
}
bool CPreferences::HasStoredOutputPath() {
    return Settings().GetString(keys::kDefaults, keys::kOutputPath).has_value();
}
std::string CPreferences::DefaultOutputPath() {
    // Not the folder the program happens to be started in: outputs and work
    // files go where the user keeps videos. Without a home folder, ".".
    const std::string videos = UserVideoFolder();
    return videos.empty() ? "." : JoinPath(videos, "Ravelo");
}
void CPreferences::SetOutputPath(const std::string& path) {
    Settings().SetString(keys::kDefaults, keys::kOutputPath, path);
}

bool CPreferences::GetUseSourceAsOutputPath() {
    return readInt(keys::kDefaults, keys::kUseSourceAsOutputPath, 0) != 0;
}
void CPreferences::SetUseSourceAsOutputPath(bool use) {
    Settings().SetInt(keys::kDefaults, keys::kUseSourceAsOutputPath, use ? 1 : 0);
}

std::uint32_t CPreferences::GetLogLevel() {
    return readInt(keys::kDefaults, keys::kLogLevel, 1);
}
std::uint32_t CPreferences::GetLogLevelAtStartup() {
    return readInt(keys::kDefaults, keys::kLogLevel, 0);
}
void CPreferences::SetLogLevel(std::uint32_t level) {
    Settings().SetInt(keys::kDefaults, keys::kLogLevel, level);
}

bool CPreferences::GetShowDirectHelp() {
    return readInt(keys::kDefaults, keys::kShowDirectHelp, 1) != 0;
}
void CPreferences::SetShowDirectHelp(bool show) {
    Settings().SetInt(keys::kDefaults, keys::kShowDirectHelp, show ? 1 : 0);
}

std::uint32_t CPreferences::GetFileExt(bool audio) {
    return audio ? readInt(keys::kDemux, keys::kFileExtAudio, 20)
                 : readInt(keys::kDemux, keys::kFileExtVideo, 10);
}
void CPreferences::SetFileExtVideo(std::uint32_t value) {
    Settings().SetInt(keys::kDemux, keys::kFileExtVideo, value);
}
void CPreferences::SetFileExtAudio(std::uint32_t value) {
    Settings().SetInt(keys::kDemux, keys::kFileExtAudio, value);
}

bool CPreferences::GetCompensateVideoDelay() {
    return readInt(keys::kDemux, keys::kCompensateVideoDelay, 0) != 0;
}
void CPreferences::SetCompensateVideoDelay(bool compensate) {
    Settings().SetInt(keys::kDemux, keys::kCompensateVideoDelay, compensate ? 1 : 0);
}

std::string CPreferences::VideoExtension() {
    return GetFileExt(false) == 10 ? ".m2v" : ".mpv";
}
std::string CPreferences::AudioExtension() {
    return GetFileExt(true) == 20 ? ".mp2" : ".mpa";
}
