// Start-up of a velmora-cli subcommand: in the folder --workdir names, or in the working directory
// the settings file names, as the window starts. One routine for every subcommand, so that they
// agree on what a missing folder is (a command-line error) and what a failed start-up is.
#pragma once

#include "util/messages.h"
#include "workbench/workbench.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace velmora::app {

// A subcommand's workbench after its start-up, or no workbench and the exit code to end with.
struct CommandBench {
    std::unique_ptr<workbench::Workbench> bench;
    int exitCode = 0;
};

// Makes the workbench and starts it up in the folder --workdir names (`workdir`), otherwise in the
// working directory of the settings file. No workbench (after a message) when --workdir names no
// folder (kExitUsage), when the start-up fails or when the settings name a folder that does not
// exist (kExitRunFailed).
CommandBench startCommandBench(const std::optional<std::filesystem::path>& workdir, util::Messages& messages);

}  // namespace velmora::app
