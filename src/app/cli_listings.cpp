#include "app/cli_listings.h"

#include "app/cli_messages.h"
#include "app/cli_run.h"
#include "app/cli_start_up.h"
#include "model/workspace.h"
#include "util/messages.h"
#include "workbench/control_names.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

namespace velmora::app {

int listingCommand(const CliOptions& options)
{
    StderrMessages messages;
    const CommandBench started = startCommandBench(options.workingDirectory, messages);
    if (!started.bench)
        return started.exitCode;
    workbench::Workbench& bench = *started.bench;
    std::cout << (options.command == CliOptions::Command::Controls
                      ? workbench::controlListing(bench.controls())
                      : workbench::elementListing(bench.sequence().elements()));
    return kExitSuccess;
}

}  // namespace velmora::app
