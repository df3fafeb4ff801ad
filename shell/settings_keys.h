#pragma once
// Every key of the settings store, with its group.

namespace keys {
constexpr const char* kCompany = "Korvane";
constexpr const char* kApplication = "Ravelo";

constexpr const char* kDefaults = "Defaults";
constexpr const char* kOutputPath = "OutputPath";  // string; none stored: <videos>/Ravelo
constexpr const char* kUseSourceAsOutputPath = "UseSourceAsOutputPath";  // 0/1, 0
constexpr const char* kLogLevel = "LogLevel";                            // 0..3
constexpr const char* kShowDirectHelp = "ShowDirectHelp";                // 0/1, 1

constexpr const char* kDemux = "Demux";
constexpr const char* kFileExtVideo = "FileExtVideo";                  // 10 .m2v, 11 .mpv
constexpr const char* kFileExtAudio = "FileExtAudio";                  // 20 .mp2, 21/22 .mpa
constexpr const char* kCompensateVideoDelay = "CompensateVideoDelay";  // 0/1, 0

constexpr const char* kWindow = "Window";
constexpr const char* kGeometry = "Geometry";  // string, the main window's place and size (base64)

constexpr const char* kRecentFileList = "Recent File List";  // File1 .. File5
constexpr int kRecentFileCount = 5;

constexpr const char* kCutList = "CutList";  // CutList/<title>, see the cut list
constexpr const char* kFirstPTS = "FirstPTS";
constexpr const char* kSectorStart = "SectorStart";
constexpr const char* kSectorEnd = "SectorEnd";
constexpr const char* kPTSStart = "PTSStart";
constexpr const char* kPTSEnd = "PTSEnd";
constexpr const char* kIsEnabled = "IsEnabled";
}  // namespace keys
