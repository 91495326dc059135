// "velmora-cli controls" and "velmora-cli elements": the boxes a run reads, with their readable
// names, units, current texts and accepted values, and the sequence's elements with their values
// and units, as the working directory's last model (rem.mol, rem.psq) holds them.
#pragma once

#include "app/cli_options.h"

namespace velmora::app {

// Prints the listing the options' command names on stdout; the exit status.
int listingCommand(const CliOptions& options);

}  // namespace velmora::app
