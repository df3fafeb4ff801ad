#pragma once
// The program's string table: message and caption texts by numeric id.

#include <string>

namespace ids {
constexpr int kAboutMenuPrompt = 57664;
constexpr int kAppTitle = 57344;
constexpr int kAllFilesFilter = 61442;
constexpr int kFailedToOpenDocument = 61697;
constexpr int kVersion = 102;
constexpr int kUsageNotice = 105;
constexpr int kInstalledDecoders = 124;
constexpr int kStartAfterEnd = 200;
constexpr int kProgressTitle = 1056;
constexpr int kCancel = 1057;
constexpr int kCopyTitle = 1058;
constexpr int kRemoveTitle = 1059;
constexpr int kLogOff = 2008;
constexpr int kLogCalls = 2009;
constexpr int kLogImportant = 2010;
constexpr int kLogAll = 2011;
constexpr int kReadOnly = 2013;
constexpr int kAttention = 2014;
constexpr int kFileSize = 2015;
constexpr int kResolution = 2016;
constexpr int kAudioTracks = 2017;
constexpr int kAspectRatio = 2018;
constexpr int kFileExists = 2019;
constexpr int kRenameFile = 2020;
constexpr int kNewFilename = 2021;
constexpr int kCutArea = 2022;
constexpr int kIrreversible = 2024;
constexpr int kOutputPathInvalid = 2025;
constexpr int kNoDecoders = 4002;
constexpr int kHelpDemux = 5000;
constexpr int kHelpMpeg = 5001;
constexpr int kHelpRemoveCuts = 5002;
constexpr int kHelpAudioCombo = 5003;
constexpr int kHelpSavePicture = 5004;
constexpr int kHelpStartCut = 5005;
constexpr int kHelpEndCut = 5006;
constexpr int kHelpDeleteArea = 5007;
constexpr int kHelpNewArea = 5008;
constexpr int kHelpCopy = 5009;
constexpr int kBitrate = 5011;
}  // namespace ids

// The text of a string resource; an empty string for an unknown id.
std::string LoadResString(int id);
