#include "workbench/workbench.h"

#include "util/work_pool.h"
#include "model/workspace.h"
#include "util/file_listing.h"

#include <vector>

namespace velmora::workbench {

namespace {

std::string firstOr(const std::vector<std::string>& names, const char* fallback)
{
    return names.empty() ? std::string(fallback) : names.front();
}

}  // namespace

Workbench::Workbench(util::Messages& messages, const std::filesystem::path& workingDirectory)
    : messages_(messages), threads_(util::WorkPool::hardwareThreads())
{
    setWorkingDirectory(workingDirectory);
    // Every sequence read ends in the preparation-only call of the driver.
    setPreparationOnlyRun([](Workbench& bench) { prepareOnly(bench); });
    resetToDefaults();
}

void Workbench::setWorkingDirectory(const std::filesystem::path& directory)
{
    workingDirectory_ = model::withTrailingSeparator(directory);
}

std::filesystem::path Workbench::pathOf(std::string_view fileName) const
{
    return std::filesystem::path(workingDirectory_ + std::string(fileName));
}

std::optional<util::DirectoryLock> Workbench::holdWorkingDirectory()
{
    std::string error;
    std::optional<util::DirectoryLock> held = util::DirectoryLock::acquire(workingDirectory_, error);
    if (!held)
        messages_.show(error, "Error!");
    return held;
}

void Workbench::resetToDefaults()
{
    spinSystem_.resetToDefaults();
    const std::string firstPulse = firstOr(util::listFilesWithExtension(workingDirectory_, ".rf"), "ttt.RF");
    const std::string firstGradient =
        firstOr(util::listFilesWithExtension(workingDirectory_, ".GRD"), "ttt.GRD");
    sequence_.resetToDefaults(firstPulse, firstGradient);
    controls_.resetToDefaults();
    exchange_ = model::ExchangeSettings{};
    runsPerValue_ = 1;
    exchangeMode_ = false;
}

}  // namespace velmora::workbench
