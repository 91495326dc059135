// Start-up without the window: find or create the working directory and its settings file, reset
// the model to its defaults, reload the automatic copies "rem.mol" and "rem.psq" of the last
// session, and rebuild the spin system. Velmora never changes the process's current directory:
// every file is the working directory followed by a bare name.
#pragma once

#include "model/workspace.h"
#include "util/outcome.h"

#include <filesystem>

namespace velmora::workbench {

class Workbench;

inline constexpr const char* kAutomaticMolecule = "rem.mol";
inline constexpr const char* kAutomaticSequence = "rem.psq";

// Runs the start-up order on `bench`. `workspace` receives the settings location for later
// directory changes. Fails only when no working directory can be set up.
util::Outcome startUp(Workbench& bench, const model::WorkspaceRoots& roots, model::Workspace& workspace);

// The start-up order in a given, existing directory, without the settings file: the workbench works
// there, the model returns to its defaults, "rem.mol" and "rem.psq" of that directory are read
// (missing ones ignored) and the spin system is rebuilt. startUp ends with it; the command line's
// --workdir uses it alone.
void startUpIn(Workbench& bench, const std::filesystem::path& directory);

// The directory list's change: the workbench works there from now on, the settings file remembers it.
util::Outcome changeDirectory(Workbench& bench, model::Workspace& workspace,
                              const std::filesystem::path& directory);

}  // namespace velmora::workbench
