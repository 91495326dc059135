// What "velmora-cli run" does: set up the working directory as start-up does (or in --workdir),
// read the named molecule and sequence files, apply the overrides, then Start (or Start_2D), write
// the plots when --png asks for them, and report. Messages go to stderr as "title: text"; the
// summary goes to stdout.
#pragma once

#include "app/cli_options.h"

namespace velmora::app {

// Process exit statuses.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRunFailed = 1;  // refused, stopped, failed, or a named file not read
inline constexpr int kExitUsage = 2;      // the command line was not understood

// Runs `options` (action Run) and returns the exit status.
int runCommand(const CliOptions& options);

}  // namespace velmora::app
