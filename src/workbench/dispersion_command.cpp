#include "workbench/dispersion_command.h"

#include "engine/run_size.h"
#include "exchange/dispersion_table.h"
#include "exchange/dispersion_work.h"
#include "model/controls.h"
#include "util/file_listing.h"
#include "util/work_pool.h"
#include "workbench/file_commands.h"
#include "workbench/workbench.h"

#include <chrono>
#include <cstdio>
#include <new>
#include <system_error>

namespace velmora::workbench {

namespace {

// The box that names the results file (without ".dat").
constexpr model::ControlId kResultsName{"Text9", 0};

// Why the grid's results would not fit in the memory or on the disk left; none when they fit.
std::optional<std::string> capacityProblem(const exchange::PreparedDispersion& prepared,
                                           const std::filesystem::path& workingDirectory)
{
    const exchange::DispersionWork work = exchange::estimateDispersionWork(prepared);
    const engine::SystemCapacity capacity = engine::readSystemCapacity(workingDirectory);
    const std::string grid = "The exchange grid of " + std::to_string(prepared.pointCount()) + " points";
    if (const std::optional<std::uint64_t> memory = capacity.memoryLeft();
        memory && work.memoryBytes > static_cast<double>(*memory))
        return grid + " needs " + engine::byteText(work.memoryBytes) +
               " of memory for its results, but only " + engine::byteText(static_cast<double>(*memory)) +
               " are available (" + capacity.memoryLimitName() + "). Lower Ni or Ni2.";
    if (capacity.diskFree && work.tableBytes > static_cast<double>(*capacity.diskFree))
        return grid + " needs " + engine::byteText(work.tableBytes) + " for its results file, but only " +
               engine::byteText(static_cast<double>(*capacity.diskFree)) +
               " are free on the disk of the working directory. Lower Ni or Ni2, or free space on that disk.";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> strongCouplingNote(const Workbench& bench)
{
    if (!bench.controls().checked(model::ctl::StrongCoupling))
        return std::nullopt;
    return "the strong-coupling switch (strong-coupling, Check1(29)) does not apply to the exchange "
           "experiment: it follows one spin jumping between two sites, with no couplings, and ran as "
           "it does with the switch off";
}

exchange::DispersionRequest dispersionRequest(const Workbench& bench)
{
    const model::Controls& controls = bench.controls();
    exchange::DispersionRequest request;
    request.exchange = bench.exchange();
    request.firstMethod = controls.caption(model::ctl::ArrayMethod);
    request.secondMethod = controls.caption(model::ctl::SecondArrayMethod);
    request.t1Relaxation = controls.checked(model::ctl::T1Relaxation);
    request.t2Relaxation = controls.checked(model::ctl::T2Relaxation);
    return request;
}

util::Outcome dispersionTableName(const Workbench& bench)
{
    const std::string& name = bench.controls().text(kResultsName);
    if (!util::isBareFileName(name))
        return util::Outcome::failure("the results name \"" + name +
                                      "\" must be a file name without a folder");
    return util::Outcome::success();
}

std::filesystem::path dispersionTablePath(const Workbench& bench)
{
    return bench.pathOf(bench.controls().text(kResultsName) + ".dat");
}

std::string todayText()
{
    const std::chrono::year_month_day day{
        std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                  static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
    return text;
}

DispersionRun runDispersionCommand(Workbench& bench, const DispersionRunOptions& options,
                                   const DispersionListeners& listeners)
{
    DispersionRun run;
    run.note = strongCouplingNote(bench).value_or("");
    util::RunControl& control = bench.runControl();
    if (!control.tryStart()) {
        run.outcome = DispersionOutcome::Busy;
        return run;
    }
    const std::optional<util::DirectoryLock> held = bench.holdWorkingDirectory();
    if (!held) {
        control.stop();
        return run;
    }
    if (const util::Outcome named = dispersionTableName(bench); !named) {
        bench.messages().show(named.message(), "Error!");
        control.stop();
        return run;
    }
    bool started = false;
    try {
        run.prepared =
            exchange::prepareDispersion(dispersionRequest(bench), bench.workingDirectory(), bench.messages());
        if (!run.prepared) {
            control.stop();
            return run;
        }
        if (const std::optional<std::string> problem =
                capacityProblem(*run.prepared, bench.workingDirectory())) {
            bench.messages().show(*problem, "Error!");
            run.prepared.reset();
            control.stop();
            return run;
        }
        util::WorkPool pool(bench.threads());
        if (!saveSequence(bench, "rem.psq")) {
            run.prepared.reset();
            control.stop();
            return run;
        }
        started = true;
        bench.controls().setItems(model::ctl::ResultList, {});
        run.table = dispersionTablePath(bench);

        const std::string date = options.date.empty() ? todayText() : options.date;
        const exchange::PreparedDispersion& prepared = *run.prepared;
        const int points = prepared.pointCount();
        exchange::DispersionExperiment experiment(prepared, options.seed);
        const bool completed = experiment.run(
            options.gridCount, pool, control,
            [&](const exchange::DispersionResults& results) {
                std::vector<std::string> items{exchange::resultListHeader(prepared)};
                for (std::string& item : exchange::resultListItems(results))
                    items.push_back(std::move(item));
                bench.controls().setItems(model::ctl::ResultList, std::move(items));
                if (const util::Outcome saved =
                        exchange::writeDispersionTable(run.table, prepared, results, date);
                    !saved) {
                    bench.messages().show(saved.message(), "Error!");
                    run.failure = saved.message();
                    control.stop();
                }
                if (listeners.grid)
                    listeners.grid(prepared, results);
            },
            [&](int grid, int pointsDone) {
                if (listeners.points)
                    listeners.points(grid, pointsDone, points);
            });
        run.results = experiment.results();
        run.outcome =
            completed && run.failure.empty() ? DispersionOutcome::Completed : DispersionOutcome::Stopped;
    } catch (const std::bad_alloc&) {
        run.failure = "the exchange experiment ran out of memory";
        bench.messages().show("The exchange experiment ran out of memory and was abandoned" +
                                  std::string(started ? "; the results file holds the grids done before. "
                                                      : "; nothing was written. ") +
                                  "Lower Ni or Ni2, or free memory, and start again.",
                              "Error!");
    } catch (const std::system_error& failure) {
        // Threads the system would not give.
        run.failure = failure.what();
        bench.messages().show("The exchange experiment could not start its " +
                                  std::to_string(bench.threads()) + " threads (" + failure.what() +
                                  "); nothing was written. Use fewer threads.",
                              "Error!");
    }
    if (!run.failure.empty()) {
        run.outcome = started ? DispersionOutcome::Stopped : DispersionOutcome::Refused;
        if (!started)
            run.prepared.reset();
    }
    control.stop();
    return run;
}

}  // namespace velmora::workbench
