// Start-up of a velmora-cli subcommand: in the folder --workdir names, or in the working directory
// the settings file names, as the window starts. One routine for every subcommand, so that they
// agree on what a missing folder is (a command-line error) and what a failed start-up is.
#pragma once

#include "util/messages.h"
#include "workbench/workbench.h"

#include <filesystem>
#include <optional>

namespace velmora::app {

// The folder a workbench is made in before its start-up: --workdir made absolute, or the temporary
// folder until the settings name the working directory. Empty (after a line on stderr) when
// --workdir names no folder; the caller ends with kExitUsage.
std::optional<std::filesystem::path> commandDirectory(const std::optional<std::filesystem::path>& workdir);

// Starts `bench` (made in `directory`, from commandDirectory) up in that folder when --workdir named
// it, otherwise in the working directory of the settings file. False after a message when the
// start-up fails or the settings name a folder that does not exist; the caller ends with
// kExitRunFailed.
bool startUpForCommand(workbench::Workbench& bench, const std::filesystem::path& directory, bool workdirNamed,
                       util::Messages& messages);

}  // namespace velmora::app
