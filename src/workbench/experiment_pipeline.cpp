#include "workbench/experiment_pipeline.h"

#include "engine/magnetisation_output.h"
#include "engine/run_size.h"
#include "engine/step_routine.h"
#include "engine/strong_acquisition.h"
#include "processing/post_processing_chain.h"
#include "processing/sampled_record.h"
#include "processing/synthesis.h"
#include "util/numeric_text.h"
#include "util/rounding.h"
#include "util/text_file.h"
#include "workbench/control_handlers.h"
#include "workbench/file_commands.h"
#include "workbench/remembered_options.h"
#include "workbench/result_set.h"
#include "workbench/run_request.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace velmora::workbench {

namespace {

// The request of a run as the boxes, the model and the chosen outputs stand now.
engine::RunRequest runRequest(const Workbench& bench, const std::filesystem::path& outputDirectory,
                              const OutputChoice& outputs)
{
    engine::RunRequest request =
        readRunRequest(bench.controls(), bench.sequence(), bench.spinSystem(), bench.runsPerValue());
    request.workingDirectory = bench.workingDirectory();
    request.outputDirectory = outputDirectory;
    const bool set = outputs.resultSet;
    request.tables = {set && outputs.operators, set && outputs.records, set && outputs.spectra,
                      set && outputs.map, set && outputs.pictures};
    return request;
}

// The automatic copies "rem.mol" and "rem.psq" of the model as it stands before the preparation,
// written beside the working directory's under process-owned temporary names and put in place
// only once the preparation accepts the run: a refused value never reaches the copies that the
// next start-up restores the model from.
class PendingCopies {
public:
    explicit PendingCopies(Workbench& bench)
        : bench_(bench), molecule_(pendingName(kAutomaticMolecule)),
          sequence_(pendingName(kAutomaticSequence)), options_(pendingName(kRememberedOptions)),
          saved_(saveMolecule(bench, molecule_) && saveSequence(bench, sequence_) && saveOptions())
    {
    }
    PendingCopies(const PendingCopies&) = delete;
    PendingCopies& operator=(const PendingCopies&) = delete;
    ~PendingCopies()
    {
        std::error_code ignored;
        std::filesystem::remove(bench_.pathOf(molecule_), ignored);
        std::filesystem::remove(bench_.pathOf(sequence_), ignored);
        std::filesystem::remove(bench_.pathOf(options_), ignored);
    }

    // Moves the copies over "rem.mol" and "rem.psq"; a failure is shown.
    void putInPlace()
    {
        if (!saved_)
            return;
        for (const auto& [pending, name] :
             {std::pair{molecule_, kAutomaticMolecule}, std::pair{sequence_, kAutomaticSequence},
              std::pair{options_, kRememberedOptions}}) {
            std::error_code ec;
            std::filesystem::rename(bench_.pathOf(pending), bench_.pathOf(name), ec);
            if (ec)
                bench_.messages().show("cannot write " + bench_.pathOf(name).string() + ": " + ec.message(),
                                       "Error!");
        }
    }

private:
    // "." NAME "." pid ".tmp0": the form that removeStaleTemporaries clears once the process is gone.
    static std::string pendingName(std::string_view name)
    {
        return "." + std::string(name) + "." + std::to_string(::getpid()) + ".tmp0";
    }

    bool saveOptions()
    {
        const util::Outcome saved = saveRememberedOptions(bench_, bench_.pathOf(options_));
        if (!saved)
            bench_.messages().show(saved.message(), "Error!");
        return saved.ok();
    }

    Workbench& bench_;
    std::string molecule_;
    std::string sequence_;
    std::string options_;
    bool saved_;
};

// Prepares, writing the preparation's tables into `outputDirectory` (the working directory when
// empty), and saves the automatic copies of the model when the run is accepted; none when the
// sequence was refused (the copies stay as they were).
std::optional<engine::Preparation> saveAndPrepare(Workbench& bench,
                                                  const std::filesystem::path& outputDirectory,
                                                  const OutputChoice& outputs = {})
{
    bench.spinSystem().rebuild();
    bench.sequence().enforceAcquisitionRule();
    PendingCopies copies(bench);
    std::optional<engine::Preparation> prepared = prepareAndWriteBack(
        runRequest(bench, outputDirectory, outputs), bench.controls(), bench.sequence(), bench.messages());
    if (prepared)
        copies.putInPlace();
    return prepared;
}

// The operator table, the operator list of the window and the header line in the results list.
void writeOperatorOutputs(Workbench& bench, RunRecords& records, const std::filesystem::path& directory,
                          bool writeTable)
{
    std::vector<std::string> labels;
    for (int k = 0; k < bench.spinSystem().spinCount(); ++k)
        labels.push_back(bench.spinSystem().label(k));
    records.operators = engine::significantOperators(records.driver.operators, labels);
    std::string header;
    // Without the table the header line is made alone, into a file that is not kept.
    const std::filesystem::path table = directory / (writeTable ? "prodop.dat" : ".prodop.unwanted");
    // A stopped experiment has lines only for the runs it did, up to the first one no scan completed.
    const std::vector<int>& scansDone = records.driver.scansDone;
    const auto firstNotDone = std::find(scansDone.begin(), scansDone.end(), 0);
    const int runsDone = static_cast<int>(firstNotDone - scansDone.begin());
    const util::Outcome written = engine::writeOperatorTable(
        table, records.operators, records.driver.operators, bench.sequence().arrayedName(),
        records.preparation->run.arrayedValues, header, runsDone);
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

processing::ChainSwitches chainSwitches(const model::Controls& c)
{
    namespace k = model::ctl;
    return {c.checked(k::ModelSpectrum),          c.checked(k::LoadExperimentalData),
            c.checked(k::ContinSwift),            c.checked(k::SweepWaveform),
            c.checked(k::LinearPrediction),       c.checked(k::Noise),
            c.checked(k::PlotVectorEvolution),    c.checked(k::Swift),
            c.checked(k::Correlation),            c.checked(k::RampCorrection),
            c.checked(k::Swift2),                 c.checked(k::ReferenceDeconvolution),
            c.checked(k::BSCompensation),         c.checked(k::MultiBandSwift),
            c.checked(k::ReSort)};
}

// The RF amplitude, in Hz, of the acquisition step's proton channel at full pulse amplitude.
double acquisitionB1Hz(const Workbench& bench, const engine::PreparedRun& run)
{
    const model::PulseSequence& sequence = bench.sequence();
    const double powerDb = engine::referenceValue(
        sequence.step(sequence.acquisitionStep()).channels[0].power, sequence.elements(),
        run.settings.arrayedName, run.arrayedValues.empty() ? 0.0 : run.arrayedValues.front());
    return engine::rfAmplitudeRadPerS(powerDb) / (2.0 * 3.14159265358979);
}

// The share of the acquisition step its longest pulse fills: the pulse's elements then take that
// share of each sample's interval, which sets where the chain puts them in time.
double acquisitionPulseShare(const Workbench& bench, const engine::PreparedRun& run)
{
    const model::PulseSequence& sequence = bench.sequence();
    const model::SequenceStep& step = sequence.step(sequence.acquisitionStep());
    const double arrayed = run.arrayedValues.empty() ? 0.0 : run.arrayedValues.front();
    double longestUs = 0.0;
    for (const model::ChannelSetting& channel : step.channels)
        if (channel.content != model::kDecouplingCode)
            longestUs = std::max(longestUs, engine::referenceValue(channel.content, sequence.elements(),
                                                                   run.settings.arrayedName, arrayed));
    const double stepUs =
        engine::referenceValue(step.delay, sequence.elements(), run.settings.arrayedName, arrayed) * 1000.0;
    return stepUs > 0.0 ? std::min(longestUs / stepUs, 1.0) : 1.0;
}

// Passes every message on and keeps the last one: the reason a chain step refused.
class LastMessage final : public util::Messages {
public:
    explicit LastMessage(util::Messages& shown) : shown_(shown) {}
    void show(std::string_view text, std::string_view title = {}) override
    {
        last = text;
        shown_.show(text, title);
    }
    std::string last;

private:
    util::Messages& shown_;
};

// A message on one line, for the manifest.
std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    std::string joined;
    for (char c : text)
        if (c != ' ' || joined.empty() || joined.back() != ' ')
            joined += c;
    return joined;
}

// A signal sampled during a pulse: decimated and turned to the synthesized sense once, then taken
// through the post-processing chain from that copy (so that a Refresh processes it afresh), and
// shown like synthesized spectra.
void processSampledRecord(Workbench& bench, RunRecords& records, const std::filesystem::path& directory)
{
    engine::Preparation& prepared = *records.preparation;
    engine::PreparedRun& run = prepared.run;
    if (!records.sampled) {
        engine::decimate(prepared.signal, run.oversampling, run.pointCount);
        processing::presentSampledRecord(prepared.signal, run.pointCount);
        records.sampled = prepared.signal;
        records.sampledLastRun = run.lastRun;
        records.sampledArraySize = run.arraySize;
    }
    prepared.signal = *records.sampled;
    records.spectraComputed = false;
    records.chainRefusal.clear();
    LastMessage messages(bench.messages());
    const engine::SpinTables spins = engine::makeSpinTables(bench.spinSystem());
    // sw is the rate of the computed samples; the acquired points are F of them apart.
    const double sw = boxNumber(bench, model::ctl::SpectralWidth, 400.0) / run.oversampling;
    const processing::ChainInput input{
        .signal = prepared.signal,
        .timeDomain = prepared.timeDomain,
        .pulse = prepared.acquisitionPulse ? &*prepared.acquisitionPulse : nullptr,
        .spins = &spins,
        .dwellS = sw > 0.0 ? 1.0 / sw : 0.0,
        .pointCount = run.pointCount,
        .oversampling = run.oversampling,
        .pulseShare = acquisitionPulseShare(bench, run),
        .lastRun = records.sampledLastRun,
        .arraySize = records.sampledArraySize,
        .arrayMode = bench.controls().caption(model::ctl::ArrayMethod),
        .groupSize = run.arrayGroupSize,
        .on = chainSwitches(bench.controls()),
        .deconvolutionFloor = boxNumber(bench, model::ctl::ProcessingBox21, 0.01),
        .referenceWidthHz = boxNumber(bench, model::ctl::LineBroadening1D, 0.0),
        .b1PeakHz = acquisitionB1Hz(bench, run),
        .predictionOrder = bench.controls().text(model::ctl::ProcessingBox18),
        .predictionMissing = bench.controls().text(model::ctl::ProcessingBox20),
        .noiseAmplitude = boxNumber(bench, model::ctl::NoiseAmplitude, 100.0),
        .noiseSeed = util::roundToInt(boxNumber(bench, model::ctl::NoiseSeed, 11.0)),
        .objectProfile = bench.controls().text(model::ctl::ObjectProfile),
        .outputDirectory = directory,
        // A bare file name in the working directory, whatever folders the box names.
        .experimentalData = std::filesystem::path(bench.workingDirectory()) /
                            std::filesystem::path(bench.controls().text({"Text5", 0})).filename(),
        .messages = messages,
        .random = bench.random(),
    };
    processing::ChainResult processed = processing::runPostProcessingChain(input);
    if (!processed.done) {
        records.chainRefusal = messages.last.empty() ? std::string("a step of the processing refused")
                                                     : oneLine(messages.last);
        return;
    }
    run.lastRun = processed.lastRun;
    run.arraySize = processed.arraySize;
    records.spectraComputed = true;
    records.spectraWidthHz = sw;
    records.map.reset();
    if (rebuildDisplay(bench))
        buildMap(bench);
    // The vector-evolution map takes the map's place, except in a 2D run, which keeps its own map.
    if (processed.vectorMap && !records.map)
        records.map = std::move(processed.vectorMap);
}

// The later stages of a run: spectra synthesized from the detection record (or, for an acquisition
// inside the sequence, the sampled record decimated for its processing), the display arrays and
// the 2D map of a Start_2D. The tables a step of the processing writes go into `directory`.
// `runDone` hears every run synthesized.
void processRecords(Workbench& bench, RunRecords& records, const std::filesystem::path& directory,
                    const std::function<void(int run)>& runDone = {})
{
    engine::Preparation& prepared = *records.preparation;
    const engine::PreparedRun& run = prepared.run;
    const model::PulseSequence& sequence = bench.sequence();
    const int n = sequence.stepCount();
    const bool sampledInside = sequence.acquisitionStep() < n + 1;
    const double sw = boxNumber(bench, model::ctl::SpectralWidth, 400.0);
    if (sampledInside && !records.driver.stopped) {
        processSampledRecord(bench, records, directory);
        return;
    }
    records.spectraWidthHz = sw;

    const engine::SpinTables spins = engine::makeSpinTables(bench.spinSystem());
    const int scans = util::parseWholeNumber(bench.controls().text(model::ctl::ScanCount)).value_or(1);
    // Strong coupling: the lines of the exact acquisition replace the recorded operators.
    std::vector<std::vector<engine::TransitionLine>> transitions;
    if (run.settings.strongCoupling)
        transitions = engine::acquisitionLines({sequence, spins, records.driver.acquisitionStates,
                                                run.settings.arrayedName, run.arrayedValues, run.lastRun,
                                                processing::kAmplitudeThreshold * processing::kDetectionScale,
                                                records.driver.acquisitionLastSlice});
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
                if (runDone)
                    runDone(r);
                bench.runControl().yield();
            },
        .keepGoing = [&control = bench.runControl()] { return control.running(); },
        .threads = bench.threads(),
        .transitions = run.settings.strongCoupling ? &transitions : nullptr,
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
}

// The magnetisation tables of the spectra made ("a_X.dat", "aFT_sum.dat", ...), into `directory`.
util::Outcome writeRecordTables(const Workbench& bench, const RunRecords& records,
                                const std::filesystem::path& directory)
{
    if (!records.spectraComputed || !records.preparation)
        return util::Outcome::success();
    const engine::Preparation& prepared = *records.preparation;
    const engine::PreparedRun& run = prepared.run;
    // A synthesized record keeps the sum of the runs in the last run's place in 1D. A signal sampled
    // during a pulse in several runs has the profile-weighted sum of the other runs (divided by
    // 1000) written over its last run, whose own samples are gone: the tables leave that run out
    // rather than take the earlier runs off a sum they are not in at that scale.
    const bool sampled = records.sampled.has_value();
    const bool sumInLastRun = !sampled && run.runsPerValue == 1;
    const bool lastRunReplaced = sampled && run.lastRun > 0;
    return engine::writeMagnetisationFiles(directory, {prepared.timeDomain, prepared.signal, run.pointCount,
                                                       records.spectraWidthHz, run.arrayedValues,
                                                       sumInLastRun, bench.threads(), lastRunReplaced});
}

}  // namespace

bool rebuildDisplay(Workbench& bench)
{
    RunRecords& records = bench.records();
    if (!records.spectraComputed || !records.preparation)
        return false;
    engine::Preparation& prepared = *records.preparation;
    const engine::PreparedRun& run = prepared.run;
    // The request holds a view of the mode text: the text must outlive the build.
    const std::string mode = viewMode(bench);
    const processing::DisplayArrays::BuildRequest request{
        .signal = prepared.signal,
        .timeDomain = prepared.timeDomain,
        .acquisitionPulse = prepared.acquisitionPulse ? &*prepared.acquisitionPulse : nullptr,
        .viewMode = mode,
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
    // No map of another channel or broadening is left standing when this build refuses.
    records.map.reset();
    const processing::Map2DInput map{
        .timeDomain = records.preparation->timeDomain,
        .messages = bench.messages(),
        .pointCount = run.pointCount,
        .arraySize = run.arraySize,
        .detectionChannel = detectionChannel(bench),
        .lineBroadeningHz = boxNumber(bench, model::ctl::LineBroadening2D, 0.0),
        .incrementMs = records.incrementMs,
        .window = bench.controls().text(model::ctl::IndirectWindow),
        .threads = bench.threads(),
    };
    records.map = processing::buildMap2D(map);
}

namespace {

// Runs a later stage again outside a Start, with the boxes as they are now, which the run's
// preparation never checked (a T2 switch ticked over a spin of T2 0, an sw whose dwell time has
// no single-precision value, a broadening beyond it). A refusal is reported as a Start reports it
// and the records stay those of the run. False when it refused.
template <class Stage>
bool reportingRefusals(Workbench& bench, Stage stage)
{
    try {
        stage();
        return true;
    } catch (const std::bad_alloc&) {
        bench.messages().show("The spectra could not be recomputed: out of memory.", "Error!");
    } catch (const std::exception& failed) {
        bench.messages().show("? error " + std::to_string(errorNumber(failed)) + "\r\n" + failed.what());
    }
    return false;
}

}  // namespace

bool refreshSpectra(Workbench& bench)
{
    RunRecords& records = bench.records();
    util::RunControl& control = bench.runControl();
    if (!records.preparation || !control.claim())
        return false;
    // The synthesis goes on only while the running flag is set (a Stop ends it): the refresh holds
    // the flag as a run does, or it would end before its first run and leave the old spectra.
    (void)control.tryStart();
    const bool processed =
        reportingRefusals(bench, [&] { processRecords(bench, records, bench.workingDirectory()); });
    control.stop();
    if (!processed)
        return false;
    if (const util::Outcome written = writeRecordTables(bench, records, bench.workingDirectory()); !written)
        bench.messages().show(written.message(), "Error!");
    return records.spectraComputed;
}

void showDetectionChannel(Workbench& bench)
{
    // A one-dimensional run synthesizes the detection channel alone: another channel is synthesized
    // from the run's recorded operators, as Refresh does, so that the plot shows the channel it names.
    const RunRecords& records = bench.records();
    if (records.preparation && records.spectraComputed && !records.twoD && !records.sampled) {
        (void)refreshSpectra(bench);
        return;
    }
    (void)reportingRefusals(bench, [&] {
        if (rebuildDisplay(bench))
            buildMap(bench);
    });
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
    return saveAndPrepare(bench, {}).has_value();
}

namespace {

// The view of spin 0's vector when "plot vector evolution" is ticked and the acquisition step
// samples a shaped pulse point by point, ready for the first run; none otherwise (an acquisition
// after the last step, or one without a shaped pulse, leaves the option without effect).
engine::StepObserver* vectorObserver(Workbench& bench, const engine::Preparation& prepared)
{
    VectorEvolutionView* view = bench.vectorEvolutionView();
    const engine::PreparedRun& run = prepared.run;
    const bool sampledInside = bench.sequence().acquisitionStep() < bench.sequence().stepCount() + 1;
    if (view == nullptr || !run.settings.plotVectorEvolution || !sampledInside ||
        run.acquisitionShapeSlot == engine::kNoAcquisitionShape)
        return nullptr;
    const int pulsePoints = run.pulseShapes.slot(run.acquisitionShapeSlot).pointCount();
    if (pulsePoints < 1)
        return nullptr;
    view->begin(bench.pathOf("ttt"), pulsePoints);
    return view;
}

// The phases of a run as one fraction: the runs take the first 60 %, the spectra the next 20 %,
// the writing of the files the rest; 1 only once the run has ended complete. Told from the
// writing threads too, so every call takes the lock; the writing tells only every 0.2 %.
class PhaseProgress {
public:
    explicit PhaseProgress(const Workbench::PhaseListener& listener) : listener_(listener) {}

    void runs(int done, int total) { tell("runs", kRunsShare * share(done, total)); }
    void spectra(int done, int total) { tell("spectra", kRunsShare + kSpectraShare * share(done, total)); }
    // The bytes the writing is expected to take, from the size check's sizes.
    void expectWriting(double bytes) { expectedBytes_ = std::max(bytes, 1.0); }
    void wrote(std::size_t bytes)
    {
        // The automatic copies and the tables of the runs are written before the writing phase.
        if (!listener_ || !writing_.load())
            return;
        const double done = static_cast<double>(writtenBytes_.fetch_add(bytes) + bytes);
        const double fraction = kWritingStart + (1.0 - kWritingStart) * std::min(done / expectedBytes_, 0.99);
        if (fraction >= toldWriting_.load() + 0.002) {
            toldWriting_.store(fraction);
            tell("writing", fraction);
        }
    }
    void writing()
    {
        writing_.store(true);
        tell("writing", kWritingStart);
    }
    void completed() { tell("writing", 1.0, true); }

private:
    static constexpr double kRunsShare = 0.6;
    static constexpr double kSpectraShare = 0.2;
    static constexpr double kWritingStart = kRunsShare + kSpectraShare;
    static double share(int done, int total)
    {
        return total > 0 ? std::clamp(double(done) / total, 0.0, 1.0) : 1.0;
    }

    void tell(const char* phase, double fraction, bool end = false)
    {
        if (!listener_)
            return;
        const std::lock_guard lock(mutex_);
        // Never back, and 1 only at the end.
        fraction = std::max(fraction, last_);
        if (!end)
            fraction = std::min(fraction, 0.999);
        last_ = fraction;
        listener_(phase, fraction);
    }

    const Workbench::PhaseListener& listener_;
    std::mutex mutex_;
    double last_ = 0.0;
    double expectedBytes_ = 1.0;
    std::atomic<std::size_t> writtenBytes_{0};
    std::atomic<double> toldWriting_{0.0};
    std::atomic<bool> writing_{false};
};

// Watches the files of a run: the first one that could not be written, the progress of the
// writing, and, once the final files are being written, a Stop between their pieces.
class RunWatch final : public util::WriteWatch {
public:
    RunWatch(const util::RunControl& control, PhaseProgress& progress)
        : control_(control), progress_(progress)
    {
    }

    // From here on a Stop abandons the file being written (false: no longer, for the manifest).
    void stopBetweenPieces(bool stop) { stopBetweenPieces_.store(stop); }
    bool abandonedAFile() const { return abandoned_.load(); }
    std::optional<std::string> failure() const
    {
        const std::lock_guard lock(mutex_);
        return failure_;
    }

    bool keepWriting(std::size_t bytes) override
    {
        if (stopBetweenPieces_.load() && !control_.running()) {
            abandoned_.store(true);
            return false;
        }
        progress_.wrote(bytes);
        return true;
    }
    void fileEnded(const std::filesystem::path& path, const util::Outcome& outcome) override
    {
        if (outcome || (stopBetweenPieces_.load() && !control_.running()))
            return;
        const std::lock_guard lock(mutex_);
        if (failure_)
            return;
        // "cannot write <path>: <reason>" becomes "<file>: <reason>".
        const std::string prefix = "cannot write " + path.string() + ": ";
        const std::string& message = outcome.message();
        const std::string reason = message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
        failure_ = shownName(path.filename().string()) + ": " + reason;
    }

private:
    // The automatic copies are written under temporary names first (".rem.mol.<pid>.tmp0").
    static std::string shownName(const std::string& name)
    {
        if (!util::temporaryFileOwner(name))
            return name;
        const std::string inner = name.substr(1, name.rfind(".tmp") - 1);
        return inner.substr(0, inner.rfind('.'));
    }

    const util::RunControl& control_;
    PhaseProgress& progress_;
    std::atomic<bool> stopBetweenPieces_{false};
    std::atomic<bool> abandoned_{false};
    mutable std::mutex mutex_;
    std::optional<std::string> failure_;
};

// Where a Stop ended a run that started.
enum class StoppedIn { Nothing, Runs, Spectra, Writing };

std::string howItEnded(const RunRecords& records, StartOutcome outcome, StoppedIn stopped)
{
    if (outcome == StartOutcome::StepRefused)
        return "refused: " + records.chainRefusal;
    const int runs = records.preparation->run.lastRun + 1;
    if (stopped == StoppedIn::Runs)
        return "stopped after " + std::to_string(records.driver.runsDone) + " of " + std::to_string(runs) +
               " runs";
    if (stopped == StoppedIn::Spectra)
        return "stopped during the spectra, after all " + std::to_string(runs) + " runs";
    return "completed";
}

// Why a run that started has no spectra; empty when it has them.
std::string whyWithoutSpectra(const Workbench& bench, const RunRecords& records, StartOutcome outcome)
{
    if (outcome == StartOutcome::Stopped)
        return records.ended;
    if (records.spectraComputed)
        return {};
    if (outcome == StartOutcome::StepRefused)
        return "a step of the processing refused (see the ended line)";
    if (outcome != StartOutcome::Completed)
        return records.ended;
    if (bench.sequence().acquisitionStep() < bench.sequence().stepCount() + 1)
        return "the processing of the signal sampled during a pulse refused a step (see the message shown)";
    return "the spectrum synthesis refused the records (see the message shown)";
}

RunManifest manifestOf(const Workbench& bench, const RunRecords& records, StartOutcome outcome,
                       const RunRequestNote& note, std::string started)
{
    RunManifest manifest;
    manifest.program = note.program;
    manifest.call = note.call;
    manifest.mode = records.twoD ? "Start_2D" : "Start";
    manifest.inputs = {std::string(kAutomaticMolecule), std::string(kAutomaticSequence)};
    const std::string& arrayMethod = bench.controls().caption(model::ctl::ArrayMethod);
    if (arrayMethod != "Add" && arrayMethod != "Mult")
        manifest.inputs.push_back(arrayMethod);
    for (const FileList document : {FileList::Molecules, FileList::Sequences}) {
        const std::string& name = bench.documents().name(document);
        if (!name.empty())
            manifest.opened.push_back(name + "\t" + fileHash(bench.pathOf(name)));
    }
    manifest.overrides = note.overrides;
    manifest.threads = bench.threads();
    manifest.coupling = bench.controls().checked(model::ctl::StrongCoupling) ? "strong" : "weak";
    manifest.started = std::move(started);
    manifest.ended = records.ended;
    manifest.withoutSpectra = whyWithoutSpectra(bench, records, outcome);
    manifest.missing = records.missingFiles;
    return manifest;
}

// The bytes the chosen result files of the prepared run take, as the size check sizes them.
double expectedFileBytes(const Workbench& bench, const engine::PreparedRun& run, const OutputChoice& outputs,
                         bool spectraTables)
{
    engine::RunShape shape;
    shape.spinCount = bench.spinSystem().spinCount();
    shape.runs = run.lastRun + 1;
    shape.pointCount = std::max(run.pointCount, 1);
    shape.twoD = run.runsPerValue == 2;
    shape.operatorTable = false;  // written before the writing phase
    shape.magnetisationFiles = outputs.records;
    shape.spectraTable = spectraTables && outputs.spectra;
    shape.mapTable = spectraTables && outputs.map;
    shape.pictures = false;
    return engine::estimateRunSize(shape).diskBytes;
}

}  // namespace

double spectraWidthHz(const Workbench& bench)
{
    const double width = bench.records().spectraWidthHz;
    return width > 0.0 ? width : boxNumber(bench, model::ctl::SpectralWidth, 0.0);
}

double indirectSpectraWidthHz(const Workbench& bench)
{
    const double width = bench.records().indirectWidthHz;
    return width > 0.0 ? width : boxNumber(bench, model::ctl::IndirectSpectralWidth, 0.0);
}

std::string operatorListNote(const RunRecords& records)
{
    if (records.operators.leftOut <= 0)
        return {};
    return std::to_string(records.operators.leftOut) +
           " more operators are significant than the table holds; only the first " +
           std::to_string(engine::kMostListedOperators) + " are listed in prodop.dat";
}

std::string missingSpectraReason(const RunRecords& records)
{
    if (records.spectraComputed)
        return {};
    if (records.driver.stopped)
        return "the run was stopped before they were computed";
    if (!records.chainRefusal.empty())
        return records.chainRefusal;
    if (records.sampled)
        return "a step of the processing of the signal sampled during a pulse was refused (see the message)";
    return "their computation was refused (see the message)";
}

bool OutputChoice::keeps(std::string_view fileName) const
{
    if (fileName.starts_with('.'))
        return false;
    if (fileName == "prodop.dat")
        return operators;
    if (fileName == "spectra.tsv")
        return spectra;
    if (fileName == "map2d.tsv")
        return map;
    if (fileName.ends_with(".png"))
        return pictures;
    if (fileName.ends_with(".jdx"))
        return jcamp;
    return records;
}

std::optional<OutputChoice> parseOutputChoice(std::string_view list, std::string& error)
{
    OutputChoice choice = OutputChoice::nothing();
    bool any = false;
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view word = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        bool* wanted = word == "spectra"     ? &choice.spectra
                       : word == "map"       ? &choice.map
                       : word == "operators" ? &choice.operators
                       : word == "records"   ? &choice.records
                                             : nullptr;
        if (wanted == nullptr) {
            error = "\"" + std::string(word) + "\" is not an output (spectra, map, operators, records)";
            return std::nullopt;
        }
        *wanted = true;
        any = true;
    }
    if (!any) {
        error = "name at least one output (spectra, map, operators, records)";
        return std::nullopt;
    }
    return choice;
}

StartOutcome startExperiment(Workbench& bench, bool twoD, const ExtraResults& alsoWrite,
                             const OutputChoice& outputs, const RunRequestNote& note)
{
    util::RunControl& control = bench.runControl();
    if (!control.tryStart())
        return StartOutcome::Busy;
    PhaseProgress progress(bench.phaseListener());
    RunWatch watch(control, progress);
    const util::WriteWatchScope watching(watch);
    const std::string startedUtc = utcNow();
    const std::optional<util::DirectoryLock> held = bench.holdWorkingDirectory();
    if (!held) {
        control.stop();
        return StartOutcome::Refused;
    }
    bench.setRunsPerValue(twoD ? 2 : 1);
    removeStaleTemporaries(bench.workingDirectory());
    std::string stagingError;
    std::optional<ResultSet> results = ResultSet::open(bench.workingDirectory(), stagingError);
    if (!results) {
        bench.messages().show(stagingError, "Error!");
        control.stop();
        return StartOutcome::Refused;
    }
    const std::filesystem::path& staging = results->staging();
    const auto started = std::chrono::steady_clock::now();
    RunRecords& records = bench.records();
    StartOutcome outcome = StartOutcome::Completed;
    StoppedIn stoppedIn = StoppedIn::Nothing;
    std::string failure;
    try {
        std::optional<engine::Preparation> prepared = saveAndPrepare(bench, staging, outputs);
        if (const std::optional<std::string> failed = watch.failure()) {
            // The automatic copies could not be saved: nothing runs, the copies stay as they were.
            records.ended = "failed: " + *failed;
            control.stop();
            return StartOutcome::Failed;
        }
        if (!prepared) {
            control.stop();
            return StartOutcome::Refused;  // the staging folder goes with `results`
        }
        const double indirectWidthHz = boxNumber(bench, model::ctl::IndirectSpectralWidth, 0.0);
        const double incrementMs = boxNumber(bench, model::ctl::ArrayIncrement, 0.0);
        // Only a run that starts replaces what the lists show.
        if (twoD) {
            bench.controls().setItems(model::ctl::OperatorList, {});
            bench.controls().setItems(model::ctl::ResultList, {});
        }
        records = RunRecords{};
        records.twoD = twoD;
        records.preparation = std::move(prepared);
        records.indirectWidthHz = indirectWidthHz;
        records.incrementMs = incrementMs;
        // The front end writes spectra.tsv and map2d.tsv when it adds files of its own.
        progress.expectWriting(expectedFileBytes(bench, records.preparation->run, outputs, bool(alsoWrite)));
        const engine::DriverInput input{bench.sequence(),
                                        bench.spinSystem(),
                                        records.preparation->run,
                                        records.preparation->signal,
                                        staging,
                                        control,
                                        bench.threads(),
                                        vectorObserver(bench, *records.preparation),
                                        [&bench, &progress](int runsDone, int runs) {
                                            if (bench.progressListener())
                                                bench.progressListener()(runsDone, runs);
                                            progress.runs(runsDone, runs);
                                        }};
        records.driver = engine::runExperiment(input);
        writeOperatorOutputs(bench, records, staging, outputs.operators);
        if (records.driver.stopped) {
            stoppedIn = StoppedIn::Runs;
        } else {
            const int runs = records.preparation->run.lastRun + 1;
            processRecords(bench, records, staging,
                           [&progress, runs](int r) { progress.spectra(r + 1, runs); });
            // A Stop during the display arrays or the map is seen here, before any table is made.
            if (records.chainRefusal.empty() && !control.running())
                stoppedIn = StoppedIn::Spectra;
        }
        if (stoppedIn != StoppedIn::Nothing)
            outcome = StartOutcome::Stopped;
        else if (!records.chainRefusal.empty())
            outcome = StartOutcome::StepRefused;
        // The final files: from here a Stop abandons the file being written and keeps the
        // previous result set.
        if (outcome == StartOutcome::Completed)
            watch.stopBetweenPieces(true);
        progress.writing();
        if (outcome == StartOutcome::Completed && outputs.records && !watch.failure()) {
            if (const util::Outcome written = writeRecordTables(bench, records, staging);
                !written && !watch.abandonedAFile())
                bench.messages().show(written.message(), "Error!");
        }
    } catch (const std::bad_alloc&) {
        // The size check lets through what should fit; memory taken by others since is refused here.
        records = RunRecords{};
        bench.messages().show("The run ran out of memory and was abandoned; nothing of it is kept. "
                              "Lower \"Ni\" (Text14(11)), \"np\" (Text14(12)), the slice count or the "
                              "number of spins, or free memory, and start again.",
                              "Error!");
        outcome = StartOutcome::Failed;
        failure = "out of memory";
    } catch (const std::exception& failed) {
        bench.messages().show("? error " + std::to_string(errorNumber(failed)) + "\r\n" + failed.what());
        outcome = StartOutcome::Failed;
        failure = "? error " + std::to_string(errorNumber(failed)) + ": " + oneLine(failed.what());
    }
    records.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (alsoWrite && outcome != StartOutcome::Failed && !watch.abandonedAFile() && !watch.failure())
        alsoWrite(outcome, staging);
    if (const std::optional<std::string> failed = watch.failure();
        failed && outcome != StartOutcome::Failed) {
        outcome = StartOutcome::Failed;
        failure = *failed;
    }
    if (outcome == StartOutcome::Failed) {
        // Nothing of a failed run is kept: the previous result set stays whole.
        results->discard();
        records.ended = "failed: " + failure;
        control.stop();
        return outcome;
    }
    // The manifest and the moves that follow are not stopped: they make the set whole.
    watch.stopBetweenPieces(false);
    if (watch.abandonedAFile()) {
        results->discard();
        records.ended = "stopped while its files were written; the previous result set is kept";
        control.stop();
        return StartOutcome::Stopped;
    }
    records.ended = howItEnded(records, outcome, stoppedIn);
    if (!outputs.resultSet) {
        results->discard();
        if (outcome == StartOutcome::Completed)
            progress.completed();
        control.stop();
        return outcome;
    }
    results->removeStaged([&outputs](std::string_view name) { return outputs.keeps(name); });
    if (const util::Outcome committed =
            results->commit(manifestOf(bench, records, outcome, note, startedUtc));
        !committed) {
        bench.messages().show(committed.message(), "Error!");
        records.ended = "failed: " + watch.failure().value_or(committed.message());
        control.stop();
        return StartOutcome::Failed;
    }
    if (outcome == StartOutcome::Completed)
        progress.completed();
    control.stop();
    return outcome;
}

}  // namespace velmora::workbench
