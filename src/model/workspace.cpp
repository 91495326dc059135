#include "model/workspace.h"

#include "util/text_file.h"

#include <cstdlib>
#include <optional>
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

// The working directory a settings file names on its first line; none when the file is missing,
// unreadable or names nothing. A NUL byte names nothing either: the system would cut the name
// there and every file of the session would go to the folder or file the first part names.
std::optional<std::string> settingsDirectory(const std::filesystem::path& settingsFile)
{
    if (!util::fileExists(settingsFile))
        return std::nullopt;
    const util::TextFileContent content = util::readTextLines(settingsFile, 1u << 20);
    if (!content.ok || content.lines.empty())
        return std::nullopt;
    const std::string_view directory = util::withoutUtf8Signature(content.lines.front());
    if (directory.empty() || directory.find('\0') != std::string_view::npos)
        return std::nullopt;
    return withTrailingSeparator(std::string(directory));
}

// Reads the settings file, or creates it with the default working directory as its only line.
util::Outcome settleSettings(Workspace& workspace)
{
    if (const std::optional<std::string> named = settingsDirectory(workspace.settingsFile)) {
        workspace.workingDirectory = *named;
        return util::Outcome::success();
    }
    workspace.workingDirectory = withTrailingSeparator(workspace.defaultWorkingDirectory);
    return util::writeTextFile(workspace.settingsFile, {workspace.workingDirectory});
}

// Copies the example molecules, sequences and shapes into a new working directory; a file that
// cannot be copied is left out (the examples are a convenience, not a condition of the start).
void copyExamples(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::error_code ec;
    if (from.empty() || !std::filesystem::is_directory(from, ec))
        return;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(from, ec)) {
        if (!entry.is_regular_file(ec))
            continue;
        std::filesystem::copy_file(entry.path(), to / entry.path().filename(),
                                   std::filesystem::copy_options::skip_existing, ec);
    }
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
    for (const std::filesystem::path& candidate :
         {roots.programDirectory / "examples", roots.programDirectory.parent_path() / "examples",
          roots.programDirectory.parent_path() / "share" / "velmora" / "examples"}) {
        if (std::filesystem::is_directory(candidate, ec)) {
            roots.examplesDirectory = candidate;
            break;
        }
    }
    return roots;
}

namespace {

// A settings file beside the program (a portable installation) counts only when it exists.
Workspace besideTheProgram(const WorkspaceRoots& roots)
{
    Workspace beside;
    beside.defaultWorkingDirectory = roots.programDirectory / kFolderName / "";
    beside.settingsFile = roots.programDirectory / kFolderName / kSettingsName;
    return beside;
}

Workspace ofTheUser(const WorkspaceRoots& roots)
{
    Workspace personal;
    personal.defaultWorkingDirectory = roots.homeDirectory / kFolderName / "";
    personal.settingsFile = userConfigHome(roots) / kFolderName / kSettingsName;
    return personal;
}

}  // namespace

util::Outcome openWorkspace(const WorkspaceRoots& roots, Workspace& workspace)
{
    Workspace beside = besideTheProgram(roots);
    if (util::fileExists(beside.settingsFile) && settleSettings(beside)) {
        workspace = beside;
        return util::Outcome::success();
    }

    Workspace personal = ofTheUser(roots);
    std::error_code ec;
    const bool firstStart = !std::filesystem::exists(personal.defaultWorkingDirectory, ec);
    if (!ensureDirectory(personal.defaultWorkingDirectory) ||
        !ensureDirectory(personal.settingsFile.parent_path()))
        return util::Outcome::failure("Velmora cannot create its working directory " +
                                      personal.defaultWorkingDirectory.string() + " or its settings folder " +
                                      personal.settingsFile.parent_path().string() + ".");
    if (firstStart)
        copyExamples(roots.examplesDirectory, personal.defaultWorkingDirectory);
    if (util::Outcome settled = settleSettings(personal); !settled)
        return settled;
    workspace = personal;
    return util::Outcome::success();
}

Workspace locateWorkspace(const WorkspaceRoots& roots)
{
    const Workspace beside = besideTheProgram(roots);
    Workspace workspace = util::fileExists(beside.settingsFile) ? beside : ofTheUser(roots);
    workspace.workingDirectory = settingsDirectory(workspace.settingsFile)
                                     .value_or(withTrailingSeparator(workspace.defaultWorkingDirectory));
    return workspace;
}

util::Outcome changeWorkingDirectory(Workspace& workspace, const std::filesystem::path& directory)
{
    const std::string line = withTrailingSeparator(directory);
    // The settings file holds the directory as its only line; a name with a line break in it would
    // come back cut at the break, naming another directory at the next start.
    if (line.find_first_of("\r\n") != std::string::npos)
        return util::Outcome::failure("Velmora cannot work in " + line +
                                      ": the settings file cannot keep a folder name with a line break.");
    if (!ensureDirectory(workspace.settingsFile.parent_path()))
        return util::Outcome::failure("Velmora cannot create its settings folder " +
                                      workspace.settingsFile.parent_path().string() + ".");
    if (util::Outcome written = util::writeTextFile(workspace.settingsFile, {line}); !written)
        return written;
    workspace.workingDirectory = line;
    return util::Outcome::success();
}

}  // namespace velmora::model
