#include "model/workspace.h"

#include "util/text_file.h"

#include <cstdlib>
#include <system_error>

namespace velmora::model {

namespace {

constexpr const char* kFolderName = "Velmora";
constexpr const char* kSettingsName = "Velmora.ini";

bool ensureDirectory(const std::filesystem::path& directory)
{
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    return std::filesystem::is_directory(directory, ec);
}

// Reads the settings file, or creates it with the default working directory as its only line.
util::Outcome settleSettings(Workspace& workspace)
{
    if (util::fileExists(workspace.settingsFile)) {
        const util::TextFileContent content = util::readTextLines(workspace.settingsFile, 1u << 20);
        if (content.ok && !content.lines.empty() && !content.lines.front().empty()) {
            workspace.workingDirectory = withTrailingSeparator(content.lines.front());
            return util::Outcome::success();
        }
    }
    workspace.workingDirectory = withTrailingSeparator(workspace.defaultWorkingDirectory);
    return util::writeTextFile(workspace.settingsFile, {workspace.workingDirectory});
}

std::filesystem::path userConfigHome(const WorkspaceRoots& roots)
{
    return roots.configHome.empty() ? roots.homeDirectory / ".config" : roots.configHome;
}

}  // namespace

std::string withTrailingSeparator(const std::filesystem::path& directory)
{
    std::string text = directory.string();
    if (text.empty() || text.back() != std::filesystem::path::preferred_separator)
        text += std::filesystem::path::preferred_separator;
    return text;
}

WorkspaceRoots currentWorkspaceRoots()
{
    WorkspaceRoots roots;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    roots.programDirectory = ec ? std::filesystem::current_path(ec) : exe.parent_path();
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        roots.homeDirectory = home;
    else
        roots.homeDirectory = std::filesystem::temp_directory_path(ec);
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0')
        roots.configHome = config;
    return roots;
}

util::Outcome openWorkspace(const WorkspaceRoots& roots, Workspace& workspace)
{
    Workspace beside;
    beside.defaultWorkingDirectory = roots.programDirectory / kFolderName / "";
    beside.settingsFile = roots.programDirectory / kFolderName / kSettingsName;
    if (ensureDirectory(beside.defaultWorkingDirectory)) {
        if (settleSettings(beside)) {
            workspace = beside;
            return util::Outcome::success();
        }
    }

    Workspace personal;
    personal.defaultWorkingDirectory = roots.homeDirectory / kFolderName / "";
    personal.settingsFile = userConfigHome(roots) / kFolderName / kSettingsName;
    if (!ensureDirectory(personal.defaultWorkingDirectory) ||
        !ensureDirectory(personal.settingsFile.parent_path()))
        return util::Outcome::failure(
            "Velmora cannot create its working directory, neither beside the program (" +
            beside.defaultWorkingDirectory.string() + ") nor in " +
            personal.defaultWorkingDirectory.string() + ".");
    if (util::Outcome settled = settleSettings(personal); !settled)
        return settled;
    workspace = personal;
    return util::Outcome::success();
}

util::Outcome changeWorkingDirectory(Workspace& workspace, const std::filesystem::path& directory)
{
    const std::string line = withTrailingSeparator(directory);
    if (util::Outcome written = util::writeTextFile(workspace.settingsFile, {line}); !written)
        return written;
    workspace.workingDirectory = line;
    return util::Outcome::success();
}

}  // namespace velmora::model
