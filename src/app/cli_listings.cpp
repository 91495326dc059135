#include "app/cli_listings.h"

#include "app/cli_start_up.h"

#include "app/cli_run.h"
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

namespace {

class StderrMessages final : public util::Messages {
public:
    void show(std::string_view text, std::string_view title = {}) override
    {
        std::cerr << (title.empty() ? std::string() : std::string(title) + ": ") << text << "\n";
    }
};

}  // namespace

int listingCommand(const CliOptions& options)
{
    StderrMessages messages;
    const std::optional<std::filesystem::path> directory = commandDirectory(options.workingDirectory);
    if (!directory)
        return kExitUsage;
    workbench::Workbench bench(messages, *directory);
    if (!startUpForCommand(bench, *directory, options.workingDirectory.has_value(), messages))
        return kExitRunFailed;
    std::cout << (options.command == CliOptions::Command::Controls
                      ? workbench::controlListing(bench.controls())
                      : workbench::elementListing(bench.sequence().elements()));
    return kExitSuccess;
}

}  // namespace velmora::app
