#include "output/mpeg_storage.h"

#include <cerrno>
#include <filesystem>
#include <memory>
#include <set>

#include "output/channel_set.h"
#include "output/output_file.h"
#include "platform/file.h"
#include "res/strings.h"
#include "shell/log.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "shell/text.h"

namespace {
// A rename answer must be a plain file name: nothing that leaves the folder.
bool IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

// Guards against a prompt front end that keeps giving unusable answers.
constexpr int kMaxQuestions = 50;
}  // namespace

CMpegStorage::~CMpegStorage() = default;

std::string CMpegStorage::Extension(std::int32_t streamType) {
    switch (streamType) {
        case 2: return CPreferences::VideoExtension();
        case 3:
        case 4: return CPreferences::AudioExtension();
        case 6: return ".ac3";
        // The streams of H.264/HEVC recordings, named as their elementary
        // streams are commonly named (Annex B video, ADTS AAC).
        case 0x1B: return ".h264";
        case 0x24: return ".hevc";
        case 0x0F:
        case 0x11: return ".aac";
        case 0x87: return ".eac3";
        default: return {};
    }
}

bool CMpegStorage::AskOverwrite(std::string& prefix, const std::string& extension) {
    return AskOverwrite(prefix, std::vector<std::string>{extension});
}

bool CMpegStorage::AskOverwrite(std::string& prefix, const std::vector<std::string>& suffixes) {
    for (int round = 0; round < kMaxQuestions; ++round) {
        std::vector<std::string> existing;
        for (const std::string& suffix : suffixes)
            if (platform::FileExists(prefix + suffix)) existing.push_back(prefix + suffix);
        if (existing.empty()) return true;
        // The prefix has no extension of its own: its whole file name is shown.
        const std::string name = FileNamePart(prefix);
        const std::string folder = DirPart(prefix);
        std::string names;
        for (const std::string& path : existing)
            names += (names.empty() ? "" : ", ") + FileNamePart(path);
        const std::string text = FormatString(LoadResString(ids::kFileExists).c_str(),
                                              names.c_str(), folder.c_str());
        switch (Prompts().Ask(LoadResString(ids::kAttention), text, PromptButtons::YesNoCancel,
                              PromptIcon::Question)) {
            case PromptAnswer::Yes:
                for (const std::string& path : existing)
                    if (!platform::RemoveFile(path) && platform::FileExists(path))
                        throw platform::FileException(errno, path, "Cannot replace");
                break;
            case PromptAnswer::No: {
                auto answer = Prompts().InputText(LoadResString(ids::kRenameFile),
                                                  LoadResString(ids::kNewFilename), name);
                if (!answer) return false;  // the rename dialog cancelled
                if (IsPlainFileName(*answer)) prefix = JoinPath(folder, *answer);
                break;  // an unusable name: the question comes again
            }
            default: return false;
        }
    }
    return false;
}

void CMpegStorage::CreateFile(CMpegChannel& channel, const std::string& path) {
    auto file = std::make_shared<COutputFile>();
    platform::FileError error;
    if (!file->Create(path, &error))
        throw platform::FileException(error.osError, path, "Cannot create");
    // The progress list says where each output goes, with its whole path.
    LogPrint("Writing " + std::filesystem::absolute(path).lexically_normal().string(), 1);
    channel.m_file = std::move(file);
    m_files.push_back(path);
}

std::vector<std::string> CMpegStorage::ChannelSuffixes() const {
    // Streams of one extension: Film.mp2, Film(2).mp2, Film(3).mp2, ...
    std::vector<std::string> suffixes;
    std::set<std::string> used;
    for (CMpegChannel* c : m_channels->Channels()) {
        const std::string ext = Extension(c->m_streamType);
        std::string suffix = ext;
        for (int n = 2; used.count(suffix); ++n) suffix = "(" + std::to_string(n) + ")" + ext;
        used.insert(suffix);
        suffixes.push_back(suffix);
    }
    return suffixes;
}

bool CMpegStorage::Open(CChannelSet* channels, std::string prefix) {
    m_channels = channels;
    const std::vector<std::string> suffixes = ChannelSuffixes();
    // Every file is checked before any is written: nothing is replaced that
    // the user has not agreed to.
    if (!AskOverwrite(prefix, suffixes)) return false;
    m_prefix = std::move(prefix);
    std::size_t index = 0;
    for (CMpegChannel* c : m_channels->Channels()) CreateFile(*c, m_prefix + suffixes[index++]);
    return true;
}

bool CMpegStorage::Write(bool) {
    CMpegChannel* c = nullptr;
    while (CMpegPacket* p = m_channels->NextPacket(&c)) {
        const std::int32_t h = p->m_headerLength;
        if (h >= 0 && h < p->Size() && c->m_file)
            c->m_file->Write(p->Data() + h, static_cast<std::size_t>(p->Size() - h));
        c->RemoveTail();
    }
    return true;
}

void CMpegStorage::CloseAll() {
    if (!m_channels) return;
    // Every file is closed even when one of them fails; the first error is passed on.
    std::exception_ptr first;
    for (CMpegChannel* c : m_channels->Channels()) {
        if (!c->m_file) continue;
        try {
            c->m_file->Close();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
        c->m_file.reset();
    }
    if (first) std::rethrow_exception(first);
}

bool CMpegStorage::Close() {
    CloseAll();
    return true;
}
