#include "workbench/experiment_pipeline.h"

#include "workbench/file_commands.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <chrono>
#include <new>
#include <stdexcept>

namespace velmora::workbench {

namespace {

engine::PreparationModel preparationModel(Workbench& bench)
{
    return {bench.sequence(),         bench.controls(),     bench.spinSystem(),
            bench.workingDirectory(), bench.runsPerValue(), bench.messages()};
}

// Saves the automatic copies and prepares; none when the sequence was refused.
std::optional<engine::Preparation> saveAndPrepare(Workbench& bench)
{
    bench.spinSystem().rebuild();
    bench.sequence().enforceAcquisitionRule();
    saveSequence(bench, kAutomaticSequence);
    saveMolecule(bench, kAutomaticMolecule);
    return engine::prepareSequence(preparationModel(bench));
}

// The operator table, the operator list of the window and the header line in the results list.
void writeOperatorOutputs(Workbench& bench, RunRecords& records)
{
    std::vector<std::string> labels;
    for (int k = 0; k < bench.spinSystem().spinCount(); ++k)
        labels.push_back(bench.spinSystem().label(k));
    records.operators = engine::significantOperators(records.driver.operators, labels);
    if (records.operators.leftOut > 0)
        bench.messages().show(std::to_string(records.operators.leftOut) +
                              " more operators are significant than the table holds; only the first " +
                              std::to_string(engine::kMostListedOperators) + " are listed.");
    std::string header;
    const util::Outcome written = engine::writeOperatorTable(
        bench.pathOf("prodop.dat"), records.operators, records.driver.operators,
        bench.sequence().arrayedName(), records.preparation->run.arrayedValues, header);
    if (!written)
        bench.messages().show(written.message(), "Error!");
    bench.controls().setItems(model::ctl::OperatorList, records.operators.names);
    std::vector<std::string> results = bench.controls().at(model::ctl::ResultList).items;
    results.push_back(header);
    bench.controls().setItems(model::ctl::ResultList, results);
}

}  // namespace

int errorNumber(const std::exception& failure)
{
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr)
        return 7;
    if (dynamic_cast<const std::out_of_range*>(&failure) != nullptr)
        return 9;
    if (dynamic_cast<const std::overflow_error*>(&failure) != nullptr ||
        dynamic_cast<const std::range_error*>(&failure) != nullptr)
        return 6;
    return 5;
}

bool prepareOnly(Workbench& bench)
{
    return saveAndPrepare(bench).has_value();
}

StartOutcome startExperiment(Workbench& bench, bool twoD)
{
    util::RunControl& control = bench.runControl();
    if (!control.tryStart())
        return StartOutcome::Busy;
    bench.setRunsPerValue(twoD ? 2 : 1);
    if (twoD) {
        bench.controls().setItems(model::ctl::OperatorList, {});
        bench.controls().setItems(model::ctl::ResultList, {});
    }
    const auto started = std::chrono::steady_clock::now();
    RunRecords& records = bench.records();
    try {
        std::optional<engine::Preparation> prepared = saveAndPrepare(bench);
        if (!prepared) {
            control.stop();
            return StartOutcome::Refused;
        }
        records = RunRecords{};
        records.twoD = twoD;
        records.preparation = std::move(prepared);
        const engine::DriverInput input{bench.sequence(),         bench.spinSystem(),
                                        records.preparation->run, records.preparation->signal,
                                        bench.workingDirectory(), control,
                                        bench.threads(),          nullptr,
                                        bench.progressListener()};
        records.driver = engine::runExperiment(input);
        writeOperatorOutputs(bench, records);
    } catch (const std::exception& failure) {
        bench.messages().show("? error " + std::to_string(errorNumber(failure)) + "\r\n" + failure.what());
        control.stop();
        return StartOutcome::Failed;
    }
    records.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool stopped = records.driver.stopped;
    control.stop();
    return stopped ? StartOutcome::Stopped : StartOutcome::Completed;
}

}  // namespace velmora::workbench
