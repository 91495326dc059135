// Where Velmora keeps its files: the working directory and the one-line settings file that
// remembers it between sessions. The settings file lives in the user's configuration directory
// ("$XDG_CONFIG_HOME/Velmora/Velmora.ini", by default under ~/.config) and the default working
// directory is "~/Velmora/", created with the example experiments on the first start, so that a
// program started from its build or install folder never writes its results there. A settings file
// beside the program ("<program dir>/Velmora/Velmora.ini") is honoured when it already exists:
// that is how a portable copy keeps everything in its own folder.
#pragma once

#include "util/outcome.h"

#include <filesystem>
#include <string>

namespace velmora::model {

struct WorkspaceRoots {
    std::filesystem::path programDirectory;  // the directory of the executable
    std::filesystem::path homeDirectory;     // $HOME
    std::filesystem::path configHome;        // $XDG_CONFIG_HOME, or empty for ~/.config
    // The example experiments copied into a newly created default working directory; empty: none.
    std::filesystem::path examplesDirectory;
};

struct Workspace {
    std::filesystem::path defaultWorkingDirectory;  // ends in the separator
    std::filesystem::path settingsFile;
    std::string workingDirectory;  // full path ending in the separator
    // The working directory was named on the command line: nothing is made in the home folder, so
    // the image window keeps its settings beside the working directory instead.
    bool namedOnCommandLine = false;
};

// The roots of the running program: its own directory, $HOME, $XDG_CONFIG_HOME and the first
// examples folder found beside it ("examples", "../examples" or "../share/velmora/examples").
WorkspaceRoots currentWorkspaceRoots();

// Reads the working directory from the settings file beside the program when that file exists;
// otherwise from the user's settings file, creating it and the default working directory (with the
// examples) when they are missing. A named directory that no longer exists is used unchanged.
// Fails only when the user's directories cannot be created.
util::Outcome openWorkspace(const WorkspaceRoots& roots, Workspace& workspace);

// Where the settings file is, and the working directory it names, as openWorkspace would find them,
// but creating nothing: for a start in a directory the user named (--workdir), which must not make
// the default working directory or the settings file appear. The settings folder is made when a
// changed working directory is first written (changeWorkingDirectory).
Workspace locateWorkspace(const WorkspaceRoots& roots);

// The working directory becomes `directory`; the settings file is rewritten with it at once.
util::Outcome changeWorkingDirectory(Workspace& workspace, const std::filesystem::path& directory);

// A directory as the working directory is written: the path followed by one separator.
std::string withTrailingSeparator(const std::filesystem::path& directory);

}  // namespace velmora::model
