#include "shell/output_folder.h"

#include "platform/file.h"
#include "res/strings.h"
#include "shell/preferences.h"
#include "shell/prompts.h"
#include "shell/text.h"

void CheckOutputFolder() {
    std::string path = CPreferences::GetOutputPath();
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
