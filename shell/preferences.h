#pragma once
// Accessors of the user's settings. No cache: every read goes to the store, so
// a value written is seen by the next read everywhere.

#include <cstdint>
#include <string>

class CPreferences {
  public:
    virtual ~CPreferences() = default;

    // "Defaults"
    // The stored path ("." is the current folder); when none is stored, the
    // user's video folder + "/Ravelo" (created on first use).
    static std::string GetOutputPath();
    static void SetOutputPath(const std::string& path);
    static bool HasStoredOutputPath();
    static std::string DefaultOutputPath();
    static bool GetUseSourceAsOutputPath();
    static void SetUseSourceAsOutputPath(bool use);
    static std::uint32_t GetLogLevel();           // default 1 (what the settings dialog shows)
    static std::uint32_t GetLogLevelAtStartup();  // default 0 (the log's own read)
    static void SetLogLevel(std::uint32_t level);
    static bool GetShowDirectHelp();
    static void SetShowDirectHelp(bool show);

    // "Demux"
    static std::uint32_t GetFileExt(
        bool audio);  // video 10 .m2v / 11 .mpv; audio 20 .mp2 / 21, 22 .mpa
    static void SetFileExtVideo(std::uint32_t value);
    static void SetFileExtAudio(std::uint32_t value);
    static bool GetCompensateVideoDelay();
    static void SetCompensateVideoDelay(bool compensate);

    // The file extensions the demultiplexer writes, by the settings above.
    static std::string VideoExtension();
    static std::string AudioExtension();
};
