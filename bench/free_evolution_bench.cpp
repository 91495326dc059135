// Throughput of the free-evolution passes on one state row for 4 to 10 spins.
//
// Counter "updates": coefficient updates per second, where one update is one coefficient rewritten
// by a rotation. An offset pass rewrites the x and y coefficient of every (x, y) partner pair of a
// spin, half of the 4^N row, for each of the N spins: N * 4^N / 2 updates. A coupling pass rewrites
// eight coefficients per configuration of the other 4^(N-2) spins, again half of the row, for each
// of the N (N - 1) / 2 coupled pairs: N (N - 1) / 2 * 4^N / 2 updates.
#include "engine/blocked_free_evolution.h"
#include "engine/free_evolution.h"
#include "engine/operator_basis.h"
#include "engine/spin_tables.h"
#include "row_copies.h"
#include "util/cache_aligned.h"
#include "util/work_pool.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cstddef>
#include <random>
#include <vector>

namespace {

using velmora::engine::kSpinSlots;
using velmora::engine::operatorCount;
using velmora::engine::SpinTables;

// N protons, every one off resonance and every pair coupled, so no spin or pair is skipped.
SpinTables coupledProtons(int nSpins)
{
    SpinTables spins;
    spins.count = nSpins;
    for (int i = 0; i < nSpins; ++i) {
        spins.slotState[i] = 3;
        spins.nucleusConstant[i] = velmora::engine::kNucleusConstantH1;
        for (int j = i + 1; j < nSpins; ++j) {
            spins.couplingHz[i][j] = spins.couplingHz[j][i] = 3.0 + i + 0.5 * j;
        }
    }
    return spins;
}

// Offsets of 2000 rad/s and up, 350 rad/s apart, so no spin is skipped.
std::array<double, kSpinSlots> spreadOffsets(int nSpins)
{
    std::array<double, kSpinSlots> offsetRadPerS{};
    for (int k = 0; k < nSpins; ++k)
        offsetRadPerS[static_cast<std::size_t>(k)] = 2000.0 + 350.0 * k;
    return offsetRadPerS;
}

// Rows on a cache line, as the engine keeps them (StateMatrix).
using Row = velmora::util::CacheAlignedVector<double>;

Row randomRow(int nSpins)
{
    std::mt19937 generator(1);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Row row(static_cast<std::size_t>(operatorCount(nSpins)));
    for (double& c : row) {
        c = value(generator);
    }
    return row;
}

void offsetEvolution(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    const SpinTables spins = coupledProtons(nSpins);
    const std::array<double, kSpinSlots> offsetRadPerS = spreadOffsets(nSpins);
    Row row = randomRow(nSpins);
    const double secondsPerInterval = 1.0e-4;

    for (auto _ : state) {
        velmora::engine::evolveOffsets(row, spins, offsetRadPerS, secondsPerInterval);
        benchmark::DoNotOptimize(row.data());
        benchmark::ClobberMemory();
    }
    const double updatesPerPass = nSpins * (operatorCount(nSpins) / 2.0);
    state.counters["updates"] =
        benchmark::Counter(updatesPerPass, benchmark::Counter::kIsIterationInvariantRate);
}

void couplingEvolution(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    const SpinTables spins = coupledProtons(nSpins);
    Row row = randomRow(nSpins);
    const double secondsPerInterval = 1.0e-4;

    for (auto _ : state) {
        velmora::engine::evolveCouplings(row, spins, secondsPerInterval);
        benchmark::DoNotOptimize(row.data());
        benchmark::ClobberMemory();
    }
    const double pairs = nSpins * (nSpins - 1) / 2.0;
    const double updatesPerPass = pairs * (operatorCount(nSpins) / 2.0);
    state.counters["updates"] =
        benchmark::Counter(updatesPerPass, benchmark::Counter::kIsIterationInvariantRate);
}

// One whole interval (every offset and every coupled pair), plain kernels one after the other.
void plainInterval(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    const SpinTables spins = coupledProtons(nSpins);
    const std::array<double, kSpinSlots> offsetRadPerS = spreadOffsets(nSpins);
    Row row = randomRow(nSpins);
    const velmora::bench::KernelClock clock;
    for (auto _ : state) {
        velmora::engine::evolveOffsets(row, spins, offsetRadPerS, 1.0e-4);
        velmora::engine::evolveCouplings(row, spins, 1.0e-4);
        benchmark::DoNotOptimize(row.data());
        benchmark::ClobberMemory();
    }
    clock.report(state, nSpins);
}

// The same interval in cache-sized tiles, on a row held in the basis the driver keeps a row of that
// size in between steps (the population basis from nine spins on).
void blockedInterval(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    const SpinTables spins = coupledProtons(nSpins);
    const std::array<double, kSpinSlots> offsetRadPerS = spreadOffsets(nSpins);
    Row row = randomRow(nSpins);
    velmora::engine::BlockedFreeEvolution blocked;
    const velmora::bench::KernelClock clock;
    for (auto _ : state) {
        blocked.evolve(row, spins, offsetRadPerS, 1.0e-4, {}, {}, velmora::engine::residentBasis(nSpins));
        benchmark::DoNotOptimize(row.data());
        benchmark::ClobberMemory();
    }
    clock.report(state, nSpins);
}

// The blocked interval with its passes shared between two threads, in wall time against a row copy
// shared by the same two threads (counter row_copies).
void blockedIntervalTwoThreads(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    const SpinTables spins = coupledProtons(nSpins);
    const std::array<double, kSpinSlots> offsetRadPerS = spreadOffsets(nSpins);
    Row row = randomRow(nSpins);
    velmora::util::WorkPool pool(2);
    velmora::engine::BlockedFreeEvolution blocked;
    blocked.sharePassesWith(&pool);
    const velmora::bench::SharedKernelClock clock;
    for (auto _ : state) {
        blocked.evolve(row, spins, offsetRadPerS, 1.0e-4, {}, {}, velmora::engine::residentBasis(nSpins));
        benchmark::DoNotOptimize(row.data());
        benchmark::ClobberMemory();
    }
    clock.report(state, nSpins, pool);
}

// One read and one write of a row of the same size: the unit the intervals above are read in.
void rowCopy(benchmark::State& state)
{
    const int nSpins = static_cast<int>(state.range(0));
    const Row from = randomRow(nSpins);
    Row to(from.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < from.size(); ++i)
            to[i] = from[i];
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(rowCopy)->ArgName("spins")->DenseRange(8, 10, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(plainInterval)->ArgName("spins")->DenseRange(5, 10, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(blockedInterval)->ArgName("spins")->DenseRange(5, 10, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(blockedIntervalTwoThreads)
    ->ArgName("spins")
    ->DenseRange(9, 10, 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(offsetEvolution)->ArgName("spins")->DenseRange(4, 10, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(couplingEvolution)->ArgName("spins")->DenseRange(4, 10, 2)->Unit(benchmark::kMicrosecond);

}  // namespace
