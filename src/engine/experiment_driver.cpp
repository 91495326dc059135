#include "engine/experiment_driver.h"

#include "engine/free_evolution.h"
#include "engine/initial_state.h"
#include "engine/operator_basis.h"
#include "engine/relaxation.h"
#include "engine/row_pieces.h"
#include "engine/slice_profile.h"
#include "engine/spin_tables.h"
#include "engine/state_matrix.h"
#include "engine/strong_coupling_step.h"
#include "util/number_format.h"
#include "util/text_compare.h"
#include "util/text_file.h"
#include "util/work_pool.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmora::engine {

namespace {

constexpr double kFullPolarisation = 1e7;  // coefficient of a chosen starting operator
constexpr double kQuarterTurnRad = 3.14159265358979 / 2.0;

std::array<int, kRfChannelCount> contentCodes(const model::SequenceStep& step)
{
    return {step.channels[0].content, step.channels[1].content, step.channels[2].content};
}

bool namesArrayed(double reference, const model::ElementTable& elements, const std::string& arrayedName)
{
    const int m = model::PulseSequence::referencedElement(reference);
    return m >= 0 && util::equalsIgnoreCase(elements.name(m), arrayedName);
}

bool usesArrayed(const model::SequenceStep& step, const model::ElementTable& elements,
                 const std::string& name)
{
    for (const model::ChannelSetting& c : step.channels) {
        if (namesArrayed(c.content, elements, name) || namesArrayed(c.power, elements, name) ||
            namesArrayed(c.offset, elements, name))
            return true;
    }
    return namesArrayed(step.delay, elements, name) || namesArrayed(step.gradient, elements, name);
}

// Arrayed parameters that are no element of a step: the relaxation times and the cycle count.
bool actsInEveryStep(const std::string& arrayedName)
{
    for (const char* name : {"T1", "T2", "Tcr", "Ncycle"})
        if (util::equalsIgnoreCase(arrayedName, name))
            return true;
    return false;
}

bool carriesCycledPhase(const model::SequenceStep& step)
{
    for (const model::ChannelSetting& c : step.channels) {
        if (c.content != 0 && c.content != model::kDecouplingCode && c.phase >= 4)
            return true;
    }
    return false;
}

// Row 0 holds the whole sample; every slice row becomes its weighted copy.
void widenToSlices(StateMatrix& state, const std::vector<double>& weights)
{
    const int rows = static_cast<int>(weights.size());
    state.setRowCount(rows);
    const std::span<const double> whole = state.row(0);
    for (int s = rows - 1; s >= 0; --s) {
        std::span<double> row = state.row(s);
        const double w = weights[static_cast<std::size_t>(s)];
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = whole[i] * w;
    }
}

void sumSlicesIntoRowZero(StateMatrix& state)
{
    std::span<double> total = state.row(0);
    for (int s = 1; s < state.rowCount(); ++s) {
        const std::span<const double> row = state.row(s);
        for (std::size_t i = 0; i < total.size(); ++i)
            total[i] += row[i];
    }
    state.setRowCount(1);
}

// "a_ZdurGrad.dat": per slice, spin 0's gradient factor and its local z magnetisation relative to
// equilibrium (z coefficient / (slice weight x nucleus constant)), before the slices are summed.
void writeSliceMagnetisation(const std::filesystem::path& path, const StateMatrix& state,
                             const SpinTables& spins, RowBasis basis, double gradientValue,
                             const std::vector<double>& weights)
{
    std::vector<double> factors(kSpinSlots, 0.0);
    std::vector<std::string> lines;
    const int lastSlice = state.rowCount() - 1;
    for (int s = 0; s <= lastSlice; ++s) {
        gradientFactors(spins, gradientValue, s, lastSlice, factors);
        const double norm = weights[static_cast<std::size_t>(s)] * spins.nucleusConstant[0];
        const double z = norm != 0.0 ? singleSpinZ(state.row(s), state.spinCount(), basis)[0] / norm : 0.0;
        lines.push_back(util::formatPattern(factors[0], "#0.00") + "\t" + util::formatPattern(z, "0.0000"));
    }
    (void)util::writeTextFile(path, lines);  // a diagnostic table: a failed write does not stop the run
}

// The receiver phase of the acquisition: each channel's quarter turn applied to the (x, y) pair of
// every recorded operator of that channel.
void applyReceiverPhase(std::span<double> row, const RecordedOperators& recorded,
                        const std::array<int, kRfChannelCount>& quarterTurns)
{
    for (const RecordedOperator& e : recorded) {
        if ((e.operatorIndex / kStride[e.spin]) % 4 != 1)
            continue;
        const auto xi = static_cast<std::size_t>(e.operatorIndex);
        const auto yi = static_cast<std::size_t>(e.operatorIndex + kStride[e.spin]);
        const double x = row[xi];
        const double y = row[yi];
        switch (quarterTurns[static_cast<std::size_t>(e.channel)] % 4) {
        case 1:
            row[xi] = y;
            row[yi] = -x;
            break;
        case 2:
            row[xi] = -x;
            row[yi] = -y;
            break;
        case 3:
            row[xi] = -y;
            row[yi] = x;
            break;
        default:
            break;
        }
    }
}

// What run 0 leaves for the later runs of its scan when it first reaches the resume step: its state
// there and what the point step had recorded before it (the point step may lie before the resume
// step, or inside a cycled block that spans it).
// Both are held only once taken, and the point record only when the point step had recorded
// something (empty stands for all zeros): at ten spins each is a row of 8 MiB.
struct ResumePoint {
    std::optional<StateMatrix> state;
    std::vector<double> pointRecord;
    bool taken = false;
};

// Lends a workspace the pool for its large row's passes for as long as it lives (nullptr or a pool
// of one thread: none), so a failing step cannot leave the pool lent while other work starts.
class RowPassSharing {
public:
    RowPassSharing(StepWorkspace& workspace, util::WorkPool* pool) : workspace_(workspace)
    {
        workspace_.shareRowPassesWith(pool != nullptr && pool->threads() > 1 ? pool : nullptr);
    }
    ~RowPassSharing() { workspace_.shareRowPassesWith(nullptr); }
    RowPassSharing(const RowPassSharing&) = delete;
    RowPassSharing& operator=(const RowPassSharing&) = delete;

private:
    StepWorkspace& workspace_;
};

// Where one run executes: on the caller's thread, which shares the slice rows of each step out to
// the pool and lets the window yield, or whole on one worker of the pool, next to other runs.
struct RunLane {
    int worker = 0;  // picks the step workspace and the rows
    bool onCaller = true;
    // The caller's thread also works as worker 0 of the pool, and there it keeps the window
    // answering (Stop included) and tells the progress while the other workers run.
    bool yields = true;
};

// The rows a worker's runs work in, kept from run to run for the whole experiment: a row of ten
// spins is 8 MiB, and a fresh one per run cost more in page faults than its run's arithmetic.
struct LaneRows {
    std::optional<StateMatrix> working;
    // The point-step coefficients of the run in progress, summed over slice rows (as many as the
    // row, made when first needed); they reach the operator record only when the run completes, so
    // a stopped run leaves no partial scan behind.
    std::vector<double> pointRecord;
    // The point step has added to pointRecord in this run; until then it reads as zeros.
    bool pointRecorded = false;
    // The point step is the last step of this run and left its single row alone: the row itself,
    // changed to product operators, is the record (read before the acquisition turns it).
    bool pointInWorkingRow = false;
};

class Driver {
public:
    explicit Driver(const DriverInput& input);
    DriverResult run();

private:
    // The run's first state, in the run's row basis; a pool (idle) may share the change of basis.
    void setInitialState(StateMatrix& state, util::WorkPool* pool) const;
    // Runs steps start..N of one run; false when Stop ended it. `resume` is filled on the way when
    // not null.
    bool runSteps(int run, int start, int phaseCounter, StateMatrix& working, ResumePoint* resume,
                  const RunLane& lane);
    void applyStepToRows(int run, int step, int cyclePass, int phaseCounter, const SpinTables& spins,
                         StateMatrix& working, const RunLane& lane);
    void recordDetection(int run, int phaseCounter, StateMatrix& working, const RunLane& lane);
    void addToPointRecord(const StateMatrix& working, LaneRows& rows) const;
    // Adds a completed run's point-step coefficients (empty: none recorded) to the operator record
    // and counts its scan.
    void completeRun(int run, std::span<const double> pointRecord);
    // Tells the progress from the caller's thread when runs side by side have finished since.
    void tellFinishedRuns(int scan);
    // Runs one run from the start or from the resume point; false when Stop ended it.
    bool runOne(int scan, int run, ResumePoint& resume, const RunLane& lane);
    // Runs 1..lastRun of a scan from the resume point side by side on the pool; false when Stop
    // ended one of them.
    bool runLaterRunsInParallel(int scan, ResumePoint& resume);
    // Divides every run's records by the scans that completed it.
    void averageOverScans();
    bool isAcquisition(int step, int cyclePass, double arrayedValue) const;
    // Strong coupling: the whole state of slice row `slice` of run `run` at the acquisition.
    std::span<double> acquisitionState(int run, int slice);
    // Adds the row, turned by the receiver phase of each channel about z, to the run's state.
    void addAcquisitionState(int run, int slice, std::span<const double> row, const SpinTables& spins,
                             const std::array<int, kRfChannelCount>& quarterTurns);

    const DriverInput& in_;
    const model::PulseSequence& seq_;
    const PreparedRun& prep_;
    const RunSettings& settings_;
    const int stepCount_;
    const int lastSlice_;
    SpinTables base_;
    // How the run's rows hold their E and z digits between steps: large rows stay in the
    // population basis, in which free evolution needs no change of basis.
    RowBasis rowBasis_;
    SequenceMarkers markers_;
    std::vector<double> weights_;
    util::WorkPool pool_;
    std::vector<StepWorkspace> workspaces_;
    // Strong coupling: the exact path's propagation, one per worker (empty on the weak path).
    std::vector<ExactEvolution> exact_;
    // Per worker of the pool.
    std::vector<LaneRows> lanes_;
    // Runs side by side: those finished so far in the scan, and those told as progress.
    bool sideBySide_ = false;
    int scan_ = 1;  // the scan in progress
    std::atomic<int> finishedSideBySide_{0};
    int toldSideBySide_ = 0;
    DriverResult result_;
};

Driver::Driver(const DriverInput& input)
    : in_(input), seq_(input.sequence), prep_(input.prepared), settings_(input.prepared.settings),
      stepCount_(input.sequence.stepCount()), lastSlice_(input.prepared.settings.lastSlice),
      base_(makeSpinTables(input.spins)),
      rowBasis_(input.prepared.settings.strongCoupling ? RowBasis::productOperators
                                                       : residentBasis(base_.count)),
      markers_(findMarkers(input.sequence, input.prepared.settings.arrayedName)),
      weights_(sliceWeights(input.prepared.settings.objectProfile, input.prepared.settings.lastSlice)),
      pool_(input.threads), workspaces_(static_cast<std::size_t>(pool_.threads())),
      lanes_(static_cast<std::size_t>(pool_.threads()))
{
    // The recorded operators come from the spins that stay active during the acquisition.
    SpinTables acquisition = base_;
    const model::SequenceStep& acquire = seq_.step(stepCount_ + 1);
    for (int k = 0; k < acquisition.count; ++k) {
        if (acquire.channels[static_cast<std::size_t>(acquisition.channel[k])].content ==
            model::kDecouplingCode)
            acquisition.slotState[k] = 0;
    }
    result_.recorded = buildRecordedOperators(acquisition);
    // The synthesis reads every slice of an acquisition that names a gradient, even one of value 0.
    const bool acquisitionGradient = markers_.lastGradientStep == stepCount_ + 1 || acquire.gradient != 0.0;
    const int detectionSlices = acquisitionGradient ? lastSlice_ : 0;
    result_.detection =
        DetectionRecord(detectionSlices, static_cast<int>(result_.recorded.size()), prep_.lastRun);
    result_.operators = OperatorRecord(operatorCount(base_.count), prep_.lastRun, settings_.scans);
    result_.scansDone.assign(static_cast<std::size_t>(prep_.lastRun) + 1, 0);
    if (settings_.strongCoupling) {
        exact_.resize(workspaces_.size());
        result_.acquisitionLastSlice = detectionSlices;
        result_.acquisitionStates.assign(static_cast<std::size_t>(prep_.lastRun + 1) *
                                             static_cast<std::size_t>(detectionSlices + 1) *
                                             static_cast<std::size_t>(operatorCount(base_.count)),
                                         0.0);
    }
}

void Driver::setInitialState(StateMatrix& state, util::WorkPool* pool) const
{
    if (!settings_.nonEquilibrium) {
        setEquilibrium(base_, state);
    } else {
        std::span<double> row = state.row(0);
        std::fill(row.begin(), row.end(), 0.0);
        for (int index : prep_.initialOperators)
            if (index > 0 && index < state.rowLength())
                row[static_cast<std::size_t>(index)] = kFullPolarisation;
    }
    if (rowBasis_ == RowBasis::populations)
        toPopulationBasis(state.row(0), base_.count, pool);
}

std::span<double> Driver::acquisitionState(int run, int slice)
{
    const auto length = static_cast<std::size_t>(operatorCount(base_.count));
    const auto index =
        static_cast<std::size_t>(run) * static_cast<std::size_t>(result_.acquisitionLastSlice + 1) +
        static_cast<std::size_t>(slice);
    return std::span<double>(result_.acquisitionStates).subspan(index * length, length);
}

void Driver::addAcquisitionState(int run, int slice, std::span<const double> row, const SpinTables& spins,
                                 const std::array<int, kRfChannelCount>& quarterTurns)
{
    // The receiver phase of a channel turns every spin of that channel about z by -n quarter turns:
    // on a recorded operator's (x, y) pair that is the weak path's exchange (n = 1: (y, -x)), and on
    // every other coherence the same phase of the channel's signal, which the exact acquisition
    // also reads.
    std::vector<double> turned(row.begin(), row.begin() + operatorCount(base_.count));
    for (int k = 0; k < spins.count; ++k) {
        const int n = quarterTurns[static_cast<std::size_t>(spins.channel[k])] % 4;
        if (spins.active(k) && n != 0)
            rotateSpinAboutZ(turned, spins.count, k, -n * kQuarterTurnRad);
    }
    const std::span<double> state = acquisitionState(run, slice);
    for (std::size_t i = 0; i < state.size(); ++i)
        state[i] += turned[i];
}

bool Driver::isAcquisition(int step, int cyclePass, double arrayedValue) const
{
    if (step != seq_.acquisitionStep())
        return false;
    if (!util::equalsIgnoreCase(settings_.arrayedName, "Ncycle"))
        return true;
    return arrayedValue != 0.0 && step == seq_.cycleEnd() && cyclePass == arrayedValue;
}

void Driver::applyStepToRows(int run, int step, int cyclePass, int phaseCounter, const SpinTables& spins,
                             StateMatrix& working, const RunLane& lane)
{
    const double v = prep_.arrayedValues[static_cast<std::size_t>(run)];
    const model::SequenceStep& s = seq_.step(step);
    const model::ElementTable& elements = seq_.elements();
    const bool acquire = isAcquisition(step, cyclePass, v);
    const double seconds =
        referenceValue(s.delay, elements, settings_.arrayedName, v) / 1000.0;  // ms, literal or not
    const double gradientValue = stepGradientValue(s, elements, settings_.arrayedName, v);
    std::array<double, kSpinSlots> offsets{};
    shiftOffsets(spins, s, elements, settings_.arrayedName, v, offsets);
    const int rows = working.rowCount();
    const StepContext context{seq_, spins, prep_, rows, &in_.signal, in_.observer};

    auto evolveRow = [&](int row, int worker) {
        std::array<double, kSpinSlots> factors{};
        gradientFactors(spins, gradientValue, rows > 1 ? row : 0, rows > 1 ? lastSlice_ : 0, factors);
        const StepInputs inputs{run, acquire, seconds,      factors,          offsets,
                                v,   step,    phaseCounter, working.row(row), rowBasis_};
        if (settings_.strongCoupling)
            applyStrongStep(inputs, context, exact_[static_cast<std::size_t>(worker)]);
        else
            applyStep(inputs, context, workspaces_[static_cast<std::size_t>(worker)]);
    };
    // Sampling adds every row into the same record, so an acquiring step runs its rows in order; a
    // run on a worker already has the pool's other threads busy with other runs.
    if (acquire || rows == 1 || !lane.onCaller) {
        // Rows one at a time on the caller leave the pool idle: a large row's passes take it.
        const RowPassSharing sharing(workspaces_[static_cast<std::size_t>(lane.worker)],
                                     lane.onCaller && spins.count >= kSharedRowFromSpins ? &pool_ : nullptr);
        for (int row = 0; row < rows; ++row)
            evolveRow(row, lane.worker);
    } else {
        pool_.run(rows, evolveRow);
    }
}

void Driver::addToPointRecord(const StateMatrix& working, LaneRows& rows) const
{
    std::vector<double>& record = rows.pointRecord;
    record.resize(static_cast<std::size_t>(working.rowLength()));
    for (int s = 0; s < working.rowCount(); ++s) {
        const std::span<const double> row = working.row(s);
        if (s == 0 && !rows.pointRecorded) {
            // The record reads as zeros: its first row is written without being read (0.0 + x keeps
            // the bits of the sum from zero).
            for (std::size_t i = 0; i < record.size(); ++i)
                record[i] = 0.0 + row[i];
        } else {
            for (std::size_t i = 0; i < record.size(); ++i)
                record[i] += row[i];
        }
    }
    rows.pointRecorded = true;
}

void Driver::completeRun(int run, std::span<const double> pointRecord)
{
    // A run whose point step recorded nothing adds zeros, which the record need not see.
    if (!pointRecord.empty())
        result_.operators.addScan(run, pointRecord);
    ++result_.scansDone[static_cast<std::size_t>(run)];
}

void Driver::averageOverScans()
{
    for (int run = 0; run <= prep_.lastRun; ++run) {
        const int scans = result_.scansDone[static_cast<std::size_t>(run)];
        result_.operators.averageRun(run, scans);
        if (scans <= 1)
            continue;
        const double perScan = 1.0 / scans;
        for (int s = 0; s <= result_.detection.lastSlice(); ++s)
            for (int e = 0; e < result_.detection.entries(); ++e)
                result_.detection.at(s, e, run) *= perScan;
        if (!result_.acquisitionStates.empty())
            for (int s = 0; s <= result_.acquisitionLastSlice; ++s)
                for (double& v : acquisitionState(run, s))
                    v *= perScan;
    }
}

bool Driver::runSteps(int run, int start, int phaseCounter, StateMatrix& working, ResumePoint* resume,
                      const RunLane& lane)
{
    const double v = prep_.arrayedValues[static_cast<std::size_t>(run)];
    const double cycleCount = util::equalsIgnoreCase(settings_.arrayedName, "Ncycle") ? v : seq_.cycleCount();
    int cyclePass = 0;
    for (int step = start; step <= stepCount_; ++step) {
        // The first arrival at the resume step has the cycle-pass counter at 0 whenever it still
        // matters (a block that ends before the resume step is never entered again), so a later run
        // that starts here with the counter at 0 repeats run 0 exactly.
        if (resume != nullptr && step == markers_.resumeStep) {
            resume->state = working;
            const LaneRows& rows = lanes_[static_cast<std::size_t>(lane.worker)];
            if (rows.pointRecorded)
                resume->pointRecord = rows.pointRecord;
            else
                resume->pointRecord = {};
            resume->taken = true;
            resume = nullptr;
        }
        SpinTables spins = base_;  // decoupling switches a spin off for its own step only
        zeroDecoupledSpins(contentCodes(seq_.step(step)), spins, working, rowBasis_);
        if (step == markers_.firstGradientStep && working.rowCount() < lastSlice_ + 1)
            widenToSlices(working, weights_);

        applyStepToRows(run, step, cyclePass, phaseCounter, spins, working, lane);

        if (step == markers_.lastGradientStep && working.rowCount() > 1) {
            // Every run rewrites the slice file; of runs side by side only the last one writes it,
            // so it ends as in runs one after the other.
            if (lane.onCaller || run == prep_.lastRun)
                writeSliceMagnetisation(
                    in_.workingDirectory / "a_ZdurGrad.dat", working, base_, rowBasis_,
                    stepGradientValue(seq_.step(step), seq_.elements(), settings_.arrayedName, v), weights_);
            sumSlicesIntoRowZero(working);
        }
        int next = step;
        if (step == seq_.cycleEnd() && cycleCount != 0.0 && cyclePass < cycleCount) {
            ++cyclePass;
            next = seq_.cycleStart() - 1;
        }
        if (step == seq_.pointStep()) {
            LaneRows& rows = lanes_[static_cast<std::size_t>(lane.worker)];
            // The last step's single row, read later in place of a copy, unless the acquisition
            // widens it into slices.
            if (step == stepCount_ && next == step && !rows.pointRecorded && working.rowCount() == 1 &&
                result_.detection.lastSlice() == 0)
                rows.pointInWorkingRow = true;
            else
                addToPointRecord(working, rows);
        }
        if (lane.yields) {
            in_.runControl.yield();
            tellFinishedRuns(scan_);
        }
        if (!in_.runControl.running())
            return false;
        step = next;
    }
    return true;
}

void Driver::recordDetection(int run, int phaseCounter, StateMatrix& working, const RunLane& lane)
{
    // A gradient that acts only during the acquisition still reads out the whole sample slice by
    // slice: the rows are created here, as at the first gradient step.
    if (result_.detection.lastSlice() > 0 && working.rowCount() == 1)
        widenToSlices(working, weights_);
    // The detection reads product operators: the run's rows end here, so they change basis in place.
    if (rowBasis_ == RowBasis::populations)
        for (int s = 0; s < working.rowCount(); ++s)
            fromPopulationBasis(working.row(s), base_.count, lane.onCaller ? &pool_ : nullptr);
    // A point step that was the last step reads the row now, as product operators and before the
    // acquisition's decoupling and receiver phase; the run is complete from here.
    if (lanes_[static_cast<std::size_t>(lane.worker)].pointInWorkingRow)
        completeRun(run, working.row(0));
    SpinTables spins = base_;
    const model::SequenceStep& acquire = seq_.step(stepCount_ + 1);
    zeroDecoupledSpins(contentCodes(acquire), spins, working);
    std::array<int, kRfChannelCount> quarterTurns{};
    for (int c = 0; c < kRfChannelCount; ++c)
        quarterTurns[static_cast<std::size_t>(c)] = model::phaseQuarterTurns(
            acquire.channels[static_cast<std::size_t>(c)].phase, settings_.phaseRows, phaseCounter);
    const int rows = std::min(working.rowCount(), result_.detection.lastSlice() + 1);
    if (settings_.strongCoupling)
        for (int s = 0; s < rows; ++s)
            addAcquisitionState(run, s, working.row(s), spins, quarterTurns);
    for (int s = 0; s < rows; ++s) {
        std::span<double> row = working.row(s);
        applyReceiverPhase(row, result_.recorded, quarterTurns);
        for (std::size_t e = 0; e < result_.recorded.size(); ++e)
            result_.detection.at(s, static_cast<int>(e), run) +=
                row[static_cast<std::size_t>(result_.recorded[e].operatorIndex)];
    }
    if (seq_.pointStep() == stepCount_ + 1) {
        LaneRows& rows = lanes_[static_cast<std::size_t>(lane.worker)];
        if (working.rowCount() == 1 && !rows.pointRecorded) {
            rows.pointInWorkingRow = true;
            completeRun(run, working.row(0));
        } else {
            addToPointRecord(working, rows);
        }
    }
}

bool Driver::runOne(int scan, int run, ResumePoint& resume, const RunLane& lane)
{
    // Only later runs of the scan resume: a single run does not copy its state (at ten spins and
    // 128 slices the copy is another GiB).
    const bool resumes = markers_.resumeStep >= 1 && markers_.resumeStep <= stepCount_ && prep_.lastRun >= 1;
    const int phaseCounter = (scan - 1) * prep_.runsPerValue + run % prep_.runsPerValue + 1;
    const int start = run > 0 && resume.taken ? markers_.resumeStep : 0;
    LaneRows& rows = lanes_[static_cast<std::size_t>(lane.worker)];
    // The lane's rows keep their room between runs: a copy or a fresh start writes pages already
    // mapped.
    if (start == 0) {
        if (!rows.working)
            rows.working.emplace(base_.count);
        rows.working->setRowCount(1);
        setInitialState(*rows.working, lane.onCaller ? &pool_ : nullptr);
    } else if (!rows.working) {
        rows.working.emplace(*resume.state);
    } else {
        *rows.working = *resume.state;
    }
    StateMatrix& working = *rows.working;
    rows.pointInWorkingRow = false;
    rows.pointRecorded = start != 0 && !resume.pointRecord.empty();
    if (rows.pointRecorded)
        rows.pointRecord = resume.pointRecord;
    if (!runSteps(run, start, phaseCounter, working, run == 0 && resumes ? &resume : nullptr, lane))
        return false;
    recordDetection(run, phaseCounter, working, lane);
    if (rows.pointInWorkingRow)
        return true;  // completed as the detection read the row
    if (!rows.pointRecorded) {
        completeRun(run, {});
        return true;
    }
    // A point step before the acquisition summed rows in the run's basis; the record holds product
    // operators.
    if (rowBasis_ == RowBasis::populations && seq_.pointStep() <= stepCount_)
        fromPopulationBasis(rows.pointRecord, base_.count, lane.onCaller ? &pool_ : nullptr);
    completeRun(run, rows.pointRecord);
    return true;
}

void Driver::tellFinishedRuns(int scan)
{
    if (!sideBySide_ || !in_.progress)
        return;
    const int finished = finishedSideBySide_.load(std::memory_order_relaxed);
    if (finished == toldSideBySide_)
        return;
    toldSideBySide_ = finished;
    // Run 0 and the runs finished since the scan began.
    in_.progress((scan - 1) * (prep_.lastRun + 1) + 1 + finished, settings_.scans * (prep_.lastRun + 1));
}

bool Driver::runLaterRunsInParallel(int scan, ResumePoint& resume)
{
    const int later = prep_.lastRun;
    std::vector<char> completed(static_cast<std::size_t>(later), 0);
    finishedSideBySide_.store(0);
    toldSideBySide_ = 0;
    pool_.run(later, [&](int piece, int worker) {
        const RunLane lane{worker, false, worker == 0};
        // After a Stop the runs not yet begun are not begun: each would copy the resumed state first.
        const bool done = in_.runControl.running() && runOne(scan, piece + 1, resume, lane);
        completed[static_cast<std::size_t>(piece)] = done ? 1 : 0;
        if (done)
            finishedSideBySide_.fetch_add(1, std::memory_order_relaxed);
        // The caller's thread tells the progress, as the window expects (it also tells between the
        // steps of its own runs).
        if (worker == 0)
            tellFinishedRuns(scan);
    });
    // Runs done count those before the first one a stop cut short.
    for (int run = 1; run <= later; ++run) {
        if (!completed[static_cast<std::size_t>(run - 1)])
            return false;
        if (scan == 1)
            ++result_.runsDone;
    }
    tellFinishedRuns(scan);
    in_.runControl.yield();
    return in_.runControl.running();
}

DriverResult Driver::run()
{
    const RunLane caller{0, true, true};
    // Runs after the resume point are independent of each other, and each is done whole by one
    // thread, so their results do not depend on how many threads share them. A step observer sees
    // every run in order, so it keeps them on the caller.
    const bool sideBySide = pool_.threads() > 1 && in_.observer == nullptr && prep_.lastRun >= 1;
    // An acquisition inside the sequence adds its samples into the signal record: its pages are
    // mapped for writing here, once (a synthesized acquisition leaves the record untouched).
    if (seq_.acquisitionStep() <= stepCount_)
        in_.signal.clear();
    // Stop ends the scan loop as well as the run loop.
    for (int scan = 1; scan <= settings_.scans && !result_.stopped; ++scan) {
        ResumePoint resume;
        scan_ = scan;
        for (int run = 0; run <= prep_.lastRun; ++run) {
            if (run == 1 && sideBySide && resume.taken) {
                sideBySide_ = true;
                result_.stopped = !runLaterRunsInParallel(scan, resume);
                sideBySide_ = false;
                break;
            }
            if (!runOne(scan, run, resume, caller)) {
                result_.stopped = true;
                break;
            }
            if (scan == 1)
                ++result_.runsDone;
            if (in_.progress)
                in_.progress((scan - 1) * (prep_.lastRun + 1) + run + 1,
                             settings_.scans * (prep_.lastRun + 1));
        }
    }
    averageOverScans();
    result_.operators.settle();
    // Nothing reads the states of a stopped run's acquisitions.
    if (result_.stopped)
        result_.acquisitionStates = {};
    return std::move(result_);
}

}  // namespace

SequenceMarkers findMarkers(const model::PulseSequence& sequence, const std::string& arrayedName)
{
    SequenceMarkers m;
    const int n = sequence.stepCount();
    int firstCycledPhase = 3333;
    for (int s = 0; s <= n + 1; ++s) {
        const model::SequenceStep& step = sequence.step(s);
        const int g = model::PulseSequence::referencedElement(step.gradient);
        const double gradientValue = g >= 0 ? sequence.elements().value(g) : step.gradient;
        const bool gradientStep =
            step.gradient != 0.0 &&
            (gradientValue != 0.0 || namesArrayed(step.gradient, sequence.elements(), arrayedName));
        if (gradientStep) {
            m.firstGradientStep = std::min(m.firstGradientStep, s);
            m.lastGradientStep = s;
        }
        if (m.firstArrayedStep == 3333 && usesArrayed(step, sequence.elements(), arrayedName))
            m.firstArrayedStep = s;
        if (firstCycledPhase == 3333 && s <= n && carriesCycledPhase(step))
            firstCycledPhase = s;
    }
    // A cycled phase before the arrayed step would be frozen at run 0's value in every later run, and
    // an acquisition before it would leave the later runs' sampled columns empty. A relaxation time
    // or the cycle count acts in every step, so such an array recomputes every run from step 0.
    const int acquisition = sequence.acquisitionStep() <= n ? sequence.acquisitionStep() : 3333;
    const int resume = std::min({m.firstArrayedStep, firstCycledPhase, acquisition});
    if (actsInEveryStep(arrayedName))
        return m;
    m.resumeStep = resume > n ? 0 : resume;
    return m;
}

DriverResult runExperiment(const DriverInput& input)
{
    DriverResult result;
    {
        Driver driver(input);
        result = driver.run();
    }
#if defined(__GLIBC__)
    // The runs' rows (8 MiB each at ten spins, a GiB at 128 slices) are free now, however the runs
    // ended; rows freed inside malloc's heap would stay with the process until the next run.
    malloc_trim(0);
#endif
    return result;
}

}  // namespace velmora::engine
