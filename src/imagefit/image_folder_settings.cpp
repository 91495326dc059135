// The image window's settings file.
#include "imagefit/image_folder_settings.h"

#include "util/text_file.h"

#include <system_error>

namespace velmora::imagefit {

util::Outcome openImageFolderSettings(const std::filesystem::path& settingsLocation,
                                      ImageFolderSettings& settings)
{
    const std::filesystem::path folder = settingsLocation / "imagezv";
    // Whatever fails below is reported, and the window still works in its own folder: empty paths
    // would put the maps and model files into the process's current directory.
    settings = {folder / "imagezv.ini", folder};
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error))
        return util::Outcome::failure("cannot create the folder " + folder.string());
    if (!std::filesystem::exists(settings.settingsFile, error))
        return util::writeTextFile(settings.settingsFile, {folder.string()});
    const util::TextFileContent content = util::readTextLines(settings.settingsFile, 1u << 16, 1);
    if (!content.ok)
        return util::Outcome::failure(content.error);
    if (!content.lines.empty() && !content.lines.front().empty())
        settings.rememberedFolder = content.lines.front();
    return util::Outcome::success();
}

util::Outcome rememberImageFolder(ImageFolderSettings& settings, const std::filesystem::path& folder)
{
    if (util::Outcome written = util::writeTextFile(settings.settingsFile, {folder.string()}); !written)
        return written;
    settings.rememberedFolder = folder;
    return util::Outcome::success();
}

}  // namespace velmora::imagefit
