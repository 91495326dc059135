// Where the image window remembers the folder it last browsed: the folder "imagezv" in the
// program's settings location (beside the main settings file), holding the one-line settings
// file "imagezv.ini". Both are created when missing; a fresh settings file names "imagezv" itself.
#pragma once

#include "util/outcome.h"

#include <filesystem>

namespace velmora::imagefit {

struct ImageFolderSettings {
    std::filesystem::path settingsFile;  // <settings location>/imagezv/imagezv.ini
    std::filesystem::path rememberedFolder;
};

// Creates the folder and the settings file when missing and reads the remembered folder. A named
// folder that no longer exists is kept as it is; the window falls back to "imagezv" to list it.
// When the settings file cannot be read or written, `settings` names "imagezv" and its settings
// file all the same (remembering "imagezv" itself) and the outcome says what failed.
util::Outcome openImageFolderSettings(const std::filesystem::path& settingsLocation,
                                      ImageFolderSettings& settings);

// The remembered folder becomes `folder`; the settings file is rewritten at once.
util::Outcome rememberImageFolder(ImageFolderSettings& settings, const std::filesystem::path& folder);

}  // namespace velmora::imagefit
