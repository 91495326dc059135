#include "workbench/experiment_pipeline.h"

#include "engine/magnetisation_output.h"
#include "processing/synthesis.h"
#include "util/numeric_text.h"
#include "util/rounding.h"
#include "workbench/control_handlers.h"
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

double boxNumber(const Workbench& bench, model::ControlId id, double fallback)
{
    return bench.controls().number(id).value_or(fallback);
}

// The later stages of a run: spectra synthesized from the detection record (or, for an acquisition
// inside the sequence, the sampled record decimated for its processing), the display arrays, the
// 2D map of a Start_2D, and the magnetisation tables.
void processRecords(Workbench& bench, RunRecords& records)
{
    engine::Preparation& prepared = *records.preparation;
    const engine::PreparedRun& run = prepared.run;
    const model::PulseSequence& sequence = bench.sequence();
    const int n = sequence.stepCount();
    const bool sampledInside = sequence.acquisitionStep() < n + 1;
    const double sw = boxNumber(bench, model::ctl::SpectralWidth, 400.0);
    if (sampledInside && !records.driver.stopped) {
        // The processing chain of signals sampled during a pulse comes with a later version; the
        // records stay as sampled.
        engine::decimate(prepared.signal, run.oversampling, run.pointCount);
        return;
    }

    const engine::SpinTables spins = engine::makeSpinTables(bench.spinSystem());
    const int scans = util::parseWholeNumber(bench.controls().text(model::ctl::ScanCount)).value_or(1);
    const processing::SynthesisInput input{
        .spins = spins,
        .acquisitionStep = sequence.step(n + 1),
        .elements = sequence.elements(),
        .recorded = records.driver.recorded,
        .detection = records.driver.detection,
        .messages = bench.messages(),
        .pointCount = run.pointCount,
        .spectralWidthHz = sw,
        .lineBroadeningHz = boxNumber(bench, model::ctl::LineBroadening1D, 0.0),
        .window = bench.controls().text(model::ctl::DirectWindow),
        .t2Decay = bench.controls().checked(model::ctl::T2Relaxation),
        .noise = bench.controls().checked(model::ctl::Noise),
        .noiseAmplitude = boxNumber(bench, model::ctl::NoiseAmplitude, 0.0),
        .noiseDraws = scans,
        .arrayedName = run.settings.arrayedName,
        .arrayedValues = run.arrayedValues,
        .runsPerValue = run.runsPerValue,
        .lastRun = run.lastRun,
        .detectionChannel = detectionChannel(bench),
        .lastSlice = run.settings.lastSlice,
        .random = &bench.random(),
        .runDone =
            [&](int r) {
                bench.controls().setCaption(model::ctl::CurrentRun, std::to_string(r));
                bench.runControl().yield();
            },
    };
    std::optional<processing::SynthesisResult> spectra = processing::synthesizeSpectra(input);
    if (!spectra)
        return;
    prepared.signal = std::move(spectra->signal);
    prepared.timeDomain = std::move(spectra->timeDomain);
    records.spectraComputed = true;

    records.map.reset();
    if (rebuildDisplay(bench))
        buildMap(bench);
    const util::Outcome written =
        engine::writeMagnetisationFiles(bench.workingDirectory(), {prepared.timeDomain, prepared.signal,
                                                                   run.pointCount, sw, run.arrayedValues});
    if (!written)
        bench.messages().show(written.message(), "Error!");
}

}  // namespace

bool rebuildDisplay(Workbench& bench)
{
    RunRecords& records = bench.records();
    if (!records.spectraComputed || !records.preparation)
        return false;
    engine::Preparation& prepared = *records.preparation;
    const engine::PreparedRun& run = prepared.run;
    const processing::DisplayArrays::BuildRequest request{
        .signal = prepared.signal,
        .timeDomain = prepared.timeDomain,
        .acquisitionPulse = prepared.acquisitionPulse ? &*prepared.acquisitionPulse : nullptr,
        .viewMode = viewMode(bench),
        .allRuns = true,
        .currentRun = 0,
        .rp = boxNumber(bench, {"Text2", 5}, 0.0),
        .lp = boxNumber(bench, {"Text2", 6}, 0.0),
        .pointCount = run.pointCount,
        .lastRun = run.lastRun,
        .mapAllowed = true,
        .runsPerValue = run.runsPerValue,
    };
    return records.display.build(request);
}

void buildMap(Workbench& bench)
{
    RunRecords& records = bench.records();
    if (!records.preparation)
        return;
    const engine::PreparedRun& run = records.preparation->run;
    const processing::Map2DInput map{
        .timeDomain = records.preparation->timeDomain,
        .messages = bench.messages(),
        .pointCount = run.pointCount,
        .arraySize = run.arraySize,
        .detectionChannel = detectionChannel(bench),
        .lineBroadeningHz = util::toSingle(boxNumber(bench, model::ctl::LineBroadening2D, 0.0)),
        .incrementMs = boxNumber(bench, model::ctl::ArrayIncrement, 0.0),
        .window = bench.controls().text(model::ctl::IndirectWindow),
    };
    records.map = processing::buildMap2D(map);
}

bool refreshSpectra(Workbench& bench)
{
    RunRecords& records = bench.records();
    if (!records.preparation || bench.runControl().running())
        return false;
    processRecords(bench, records);
    return records.spectraComputed;
}

std::string viewMode(const Workbench& bench)
{
    return bench.controls().caption(model::ctl::SignalOrPulse) +
           bench.controls().caption(model::ctl::SpectrumOrFid);
}

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
        processRecords(bench, records);
    } catch (const std::bad_alloc&) {
        // The size check lets through what should fit; memory taken by others since is refused here.
        records = RunRecords{};
        bench.messages().show("The run ran out of memory and was abandoned; nothing of it is kept. "
                              "Lower \"Ni\" (Text14(11)), \"np\" (Text14(12)), the slice count or the "
                              "number of spins, or free memory, and start again.",
                              "Error!");
        control.stop();
        return StartOutcome::Failed;
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
