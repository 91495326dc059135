#include "app/cli_listings.h"

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
    std::error_code ec;
    workbench::Workbench bench(messages, std::filesystem::temp_directory_path(ec));
    if (options.workingDirectory) {
        const std::filesystem::path directory = std::filesystem::absolute(*options.workingDirectory, ec);
        if (ec || !std::filesystem::is_directory(directory, ec)) {
            std::cerr << "velmora-cli: the working directory " << options.workingDirectory->string()
                      << " does not exist\n";
            return kExitUsage;
        }
        workbench::startUpIn(bench, directory);
    } else {
        model::Workspace workspace;
        if (const util::Outcome started =
                workbench::startUp(bench, model::currentWorkspaceRoots(), workspace);
            !started) {
            messages.show(started.message(), "Error!");
            return kExitRunFailed;
        }
    }
    std::cout << (options.command == CliOptions::Command::Controls
                      ? workbench::controlListing(bench.controls())
                      : workbench::elementListing(bench.sequence().elements()));
    return kExitSuccess;
}

}  // namespace velmora::app
