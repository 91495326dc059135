// Where Velmora keeps its files: the working directory and the one-line settings file that
// remembers it between sessions. The settings file sits in the default working directory beside
// the program ("<program dir>/Velmora/Velmora.ini"); when that place cannot be created or written,
// the user's configuration directory holds it and "~/Velmora/" is the default working directory.
#pragma once

#include "util/outcome.h"

#include <filesystem>
#include <string>

namespace velmora::model {

struct WorkspaceRoots {
    std::filesystem::path programDirectory;  // the directory of the executable
    std::filesystem::path homeDirectory;     // $HOME
    std::filesystem::path configHome;        // $XDG_CONFIG_HOME, or empty for ~/.config
};

struct Workspace {
    std::filesystem::path defaultWorkingDirectory;  // ends in the separator
    std::filesystem::path settingsFile;
    std::string workingDirectory;  // full path ending in the separator
};

// The roots of the running program: its own directory, $HOME and $XDG_CONFIG_HOME.
WorkspaceRoots currentWorkspaceRoots();

// Creates the default working directory and the settings file when they are missing (falling back
// to the user's directories when the program directory is not writable) and reads the working
// directory from the settings file. A named directory that no longer exists is used unchanged.
// Fails only when neither place can hold the settings file.
util::Outcome openWorkspace(const WorkspaceRoots& roots, Workspace& workspace);

// The working directory becomes `directory`; the settings file is rewritten with it at once.
util::Outcome changeWorkingDirectory(Workspace& workspace, const std::filesystem::path& directory);

// A directory as the working directory is written: the path followed by one separator.
std::string withTrailingSeparator(const std::filesystem::path& directory);

}  // namespace velmora::model
