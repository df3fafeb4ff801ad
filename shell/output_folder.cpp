#include "shell/output_folder.h"

#include <filesystem>
#include <system_error>

#include "platform/file.h"
#include "res/strings.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "shell/text.h"

void CheckOutputFolder() {
    std::string path = CPreferences::GetOutputPath();
    // The default folder is made on first use (its parent, the video
    // folder, may be missing too); a folder the user chose is not.
    if (!CPreferences::HasStoredOutputPath() && !platform::FileExists(path)) {
        std::error_code ignored;
        std::filesystem::create_directories(path, ignored);
    }
    if (!platform::FileExists(path)) {
        Prompts().Ask(LoadResString(ids::kAttention), LoadResString(ids::kOutputPathInvalid) + path,
                      PromptButtons::Ok, PromptIcon::Error);
        Prompts().RunSettingsDialog();
    }
    // Folders that exist already or cannot be made are passed over.
    for (const char* name : {"~log", "~temp", "~demux"})
        platform::MakeDirectory(JoinPath(path, name));
}

std::string WorkFolder(const char* name) {
    return JoinPath(CPreferences::GetOutputPath(), name);
}
