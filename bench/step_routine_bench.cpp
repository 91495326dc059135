// Cost of one call of the step routine on one state row for 4 to 10 coupled protons: a hard pulse
// followed by a 1 ms delay, and a 256-point shaped pulse over 2 ms, with T1, T2 and cross-relaxation
// switched on.
//
// Counter "coefficients": coefficients of the row swept per second, counting one sweep of the 4^N
// row per pulse point (the hard step has one point plus its closing delay).
//
// The row is held in the basis the driver keeps a row of that size in between steps (the population
// basis from nine spins on).
//
// The ...Shared variants lend the workspace a pool of two threads, as the driver does for a single
// large row, and report wall time and row_copies against a row copy shared between two threads;
// the plain ones report the calling thread's CPU time against a one-thread copy.
#include "engine/blocked_pulse_elements.h"
#include "engine/operator_basis.h"
#include "engine/prepared_run.h"
#include "engine/spin_tables.h"
#include "engine/step_routine.h"
#include "model/pulse_sequence.h"
#include "row_copies.h"
#include "util/cache_aligned.h"
#include "util/work_pool.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace {

using velmora::engine::kSpinSlots;
using velmora::engine::operatorCount;

constexpr int kShapedElement = 51;
constexpr int kShapePoints = 256;

velmora::engine::SpinTables coupledProtons(int nSpins)
{
    velmora::engine::SpinTables spins;
    spins.count = nSpins;
    for (int i = 0; i < nSpins; ++i) {
        spins.slotState[i] = 3;
        spins.nucleusConstant[i] = velmora::engine::kNucleusConstantH1;
        spins.channel[i] = velmora::engine::kChannelH1;
        spins.shiftHz[i] = 40.0 + 55.0 * i;
        spins.t1Ms[i] = 1000.0;
        spins.t2Ms[i] = 200.0;
        for (int j = i + 1; j < nSpins; ++j)
            spins.couplingHz[i][j] = spins.couplingHz[j][i] = 3.0 + i + 0.5 * j;
    }
    return spins;
}

struct StepSetup {
    explicit StepSetup(int nSpins) : spins(coupledProtons(nSpins))
    {
        for (int s = 0; s < 2; ++s) {
            velmora::model::SequenceStep& step = sequence.step(s);
            step = velmora::model::SequenceStep{};
            step.channels[0].power = -41;  // r1, 60 dB
            step.channels[0].offset = -31;
        }
        sequence.step(0).channels[0].content = -1;  // p1
        sequence.elements().setValue(1, 5.0);
        sequence.step(1).channels[0].content = -kShapedElement;
        sequence.elements().setValue(kShapedElement, 1000.0);

        velmora::pulses::ShapeTable shape;
        shape.elementName = sequence.elements().name(kShapedElement);
        shape.points.push_back({0.0, 0.0, 0.0});
        for (int p = 1; p <= kShapePoints; ++p) {
            const double x = (p - 0.5 - kShapePoints / 2.0) / (kShapePoints / 8.0);
            const double sinc = x == 0.0 ? 1.0 : std::sin(x) / x;
            shape.points.push_back({sinc < 0.0 ? 180.0 : 0.0, 1023.0 * std::abs(sinc), 1.0});
        }
        prepared.pulseShapes.add(shape);
        prepared.settings.t1Relaxation = true;
        prepared.settings.t2Relaxation = true;
        prepared.settings.crossRelaxation = true;
        prepared.arrayedValues = {0.0};

        std::mt19937 generator(1);
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        row.resize(static_cast<std::size_t>(operatorCount(nSpins)));
        for (double& c : row)
            c = value(generator);
        for (int k = 0; k < nSpins; ++k)
            offsets[static_cast<std::size_t>(k)] = -6.28318530717958 * spins.shiftHz[k];
    }

    void apply(int step, double seconds)
    {
        const velmora::engine::StepInputs inputs{.run = 0,
                                                 .acquisition = false,
                                                 .stepSeconds = seconds,
                                                 .gradientFactors = gradientFactors,
                                                 .shiftOffsetsRadPerS = offsets,
                                                 .arrayedValue = 0.0,
                                                 .step = step,
                                                 .phaseCounter = 1,
                                                 .row = row,
                                                 .basis = velmora::engine::residentBasis(spins.count)};
        const velmora::engine::StepContext context{
            .sequence = sequence, .spins = spins, .prepared = prepared, .sliceRowCount = 1};
        velmora::engine::applyStep(inputs, context, workspace);
    }

    velmora::model::PulseSequence sequence;
    velmora::engine::SpinTables spins;
    velmora::engine::PreparedRun prepared;
    velmora::engine::StepWorkspace workspace;
    std::array<double, kSpinSlots> gradientFactors{};
    std::array<double, kSpinSlots> offsets{};
    // On a cache line, as the engine keeps a row (StateMatrix).
    velmora::util::CacheAlignedVector<double> row;
};

constexpr int kSharingThreads = 2;

void hardPulseStep(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    StepSetup setup(nSpins);
    const velmora::bench::KernelClock clock;
    for (auto _ : state) {
        setup.apply(0, 1.0e-3);
        benchmark::DoNotOptimize(setup.row.data());
        benchmark::ClobberMemory();
    }
    state.counters["coefficients"] =
        benchmark::Counter(2.0 * operatorCount(nSpins), benchmark::Counter::kIsIterationInvariantRate);
    clock.report(state, nSpins);
}

// Step `step` of `seconds` with the row's passes shared between kSharingThreads threads, in wall
// time against the shared row copy.
void timeSharedStep(benchmark::State& state, int step, double seconds)
{
    const int nSpins = static_cast<int>(state.range(0));
    StepSetup setup(nSpins);
    velmora::util::WorkPool pool(kSharingThreads);
    setup.workspace.shareRowPassesWith(&pool);
    const velmora::bench::SharedKernelClock clock;
    for (auto _ : state) {
        setup.apply(step, seconds);
        benchmark::DoNotOptimize(setup.row.data());
        benchmark::ClobberMemory();
    }
    clock.report(state, nSpins, pool);
}

void hardPulseStepShared(benchmark::State& state)
{
    timeSharedStep(state, 0, 1.0e-3);
}

void shapedPulseStep(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    StepSetup setup(nSpins);
    const velmora::bench::KernelClock clock;
    for (auto _ : state) {
        setup.apply(1, 2.0e-3);
        benchmark::DoNotOptimize(setup.row.data());
        benchmark::ClobberMemory();
    }
    state.counters["coefficients"] =
        benchmark::Counter(static_cast<double>(kShapePoints) * operatorCount(nSpins),
                           benchmark::Counter::kIsIterationInvariantRate);
    clock.report(state, nSpins);
}

void shapedPulseStepShared(benchmark::State& state)
{
    timeSharedStep(state, 1, 2.0e-3);
}

// The pulse elements of one hard-pulse point alone, every proton pulsed: range(1) threads share
// the passes (1: CPU time against the one-thread copy; 2: wall time against the shared copy).
void pulseElements(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    StepSetup setup(nSpins);
    std::vector<velmora::engine::PulseElement> elements;
    for (int k = 0; k < nSpins; ++k)
        elements.push_back({k, 2.0e5, 0.3 * k, setup.offsets[static_cast<std::size_t>(k)], 5.0e-6});
    velmora::util::WorkPool pool(threads);
    velmora::util::WorkPool* shared = threads > 1 ? &pool : nullptr;
    const velmora::bench::KernelClock cpuClock;
    const velmora::bench::SharedKernelClock wallClock;
    for (auto _ : state) {
        velmora::engine::applyPulseElements(setup.row, nSpins, elements, shared);
        benchmark::DoNotOptimize(setup.row.data());
        benchmark::ClobberMemory();
    }
    if (shared != nullptr)
        wallClock.report(state, nSpins, pool);
    else
        cpuClock.report(state, nSpins);
}

// A row copy shared between two threads, wall time: the unit of the ...Shared counters.
void sharedRowCopy(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    velmora::util::WorkPool pool(kSharingThreads);
    for (auto _ : state)
        state.SetIterationTime(velmora::bench::sharedRowCopySeconds(nSpins, pool));
}

BENCHMARK(hardPulseStep)->ArgName("spins")->DenseRange(4, 10, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(hardPulseStepShared)
    ->ArgName("spins")
    ->DenseRange(8, 10, 1)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(shapedPulseStep)->ArgName("spins")->DenseRange(4, 10, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(shapedPulseStepShared)
    ->ArgName("spins")
    ->DenseRange(8, 10, 2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(pulseElements)
    ->ArgNames({"spins", "threads"})
    ->ArgsProduct({{8, 9, 10}, {1, 2}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(sharedRowCopy)
    ->ArgName("spins")
    ->DenseRange(8, 10, 1)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
