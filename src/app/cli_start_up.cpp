#include "app/cli_start_up.h"

#include "app/cli_run.h"
#include "model/workspace.h"
#include "workbench/start_up.h"

#include <iostream>
#include <system_error>

namespace velmora::app {

namespace {

// The folder a workbench is made in before its start-up: --workdir made absolute, or the temporary
// folder until the settings name the working directory. Empty (after a line on stderr) when
// --workdir names no folder.
std::optional<std::filesystem::path> commandDirectory(const std::optional<std::filesystem::path>& workdir)
{
    std::error_code ec;
    if (!workdir)
        return std::filesystem::temp_directory_path(ec);
    std::filesystem::path directory = std::filesystem::absolute(*workdir, ec);
    if (ec || !std::filesystem::is_directory(directory, ec)) {
        std::cerr << "velmora-cli: the working directory " << workdir->string() << " does not exist\n";
        return std::nullopt;
    }
    return directory;
}

// Starts `bench` up in `directory` when --workdir named it, otherwise in the working directory of the
// settings file; false after a message when that fails or names a folder that does not exist.
bool startUpForCommand(workbench::Workbench& bench, const std::filesystem::path& directory, bool workdirNamed,
                       util::Messages& messages)
{
    if (workdirNamed) {
        workbench::startUpIn(bench, directory);
        return true;
    }
    model::Workspace workspace;
    if (const util::Outcome started = workbench::startUp(bench, model::currentWorkspaceRoots(), workspace);
        !started) {
        messages.show(started.message(), "Error!");
        return false;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(bench.workingDirectory(), ec)) {
        messages.show("the working directory " + bench.workingDirectory() + " named by " +
                          workspace.settingsFile.string() + " does not exist",
                      "Error!");
        return false;
    }
    return true;
}

}  // namespace

CommandBench startCommandBench(const std::optional<std::filesystem::path>& workdir, util::Messages& messages)
{
    const std::optional<std::filesystem::path> directory = commandDirectory(workdir);
    if (!directory)
        return {nullptr, kExitUsage};
    auto bench = std::make_unique<workbench::Workbench>(messages, *directory);
    if (!startUpForCommand(*bench, *directory, workdir.has_value(), messages))
        return {nullptr, kExitRunFailed};
    return {std::move(bench), kExitSuccess};
}

}  // namespace velmora::app
