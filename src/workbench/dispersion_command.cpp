#include "workbench/dispersion_command.h"

#include "exchange/dispersion_table.h"
#include "model/controls.h"
#include "util/work_pool.h"
#include "workbench/file_commands.h"
#include "workbench/workbench.h"

#include <chrono>
#include <cstdio>

namespace velmora::workbench {

namespace {

// The box that names the results file (without ".dat").
constexpr model::ControlId kResultsName{"Text9", 0};

exchange::DispersionRequest requestFrom(const Workbench& bench)
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

// The results file must stay in the working directory: a bare name, no folder.
bool isBareName(const std::string& name)
{
    return !name.empty() && name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
           name != "." && name != "..";
}

}  // namespace

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
    util::RunControl& control = bench.runControl();
    if (!control.tryStart()) {
        run.outcome = DispersionOutcome::Busy;
        return run;
    }
    const std::string outputName = bench.controls().text(kResultsName);
    if (!isBareName(outputName)) {
        bench.messages().show("the results name \"" + outputName + "\" must be a file name without a folder",
                              "Error!");
        control.stop();
        return run;
    }
    run.prepared =
        exchange::prepareDispersion(requestFrom(bench), bench.workingDirectory(), bench.messages());
    if (!run.prepared || !saveSequence(bench, "rem.psq")) {
        control.stop();
        return run;
    }
    bench.controls().setItems(model::ctl::ResultList, {});
    run.table = bench.pathOf(outputName + ".dat");

    const std::string date = options.date.empty() ? todayText() : options.date;
    const exchange::PreparedDispersion& prepared = *run.prepared;
    const int points = prepared.pointCount();
    exchange::DispersionExperiment experiment(prepared, options.seed);
    util::WorkPool pool(bench.threads());
    bool written = true;
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
                written = false;
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
    run.outcome = completed && written ? DispersionOutcome::Completed : DispersionOutcome::Stopped;
    return run;
}

}  // namespace velmora::workbench
