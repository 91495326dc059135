// What "velmora-cli make-pulse" does: set up the working directory as start-up does (or in
// --workdir), set the generator's boxes, make the pulse as the window's "make pulse" does, write
// its preview when --png asks for it, and report the file on stdout.
#pragma once

#include "app/cli_options.h"

namespace velmora::app {

// Runs `options` (command MakePulse) and returns the exit status (as for run: 0, 1 or 2).
int makePulseCommand(const CliOptions& options);

}  // namespace velmora::app
