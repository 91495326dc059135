// The blocked free evolution against the plain per-spin and per-pair kernels on random rows of 5
// to 10 spins (dense and sparse couplings, a switched-off spin, spins without offset), to 1e-12 of
// the largest coefficient; a zero interval changes no bit; and the same bits whatever the number of
// threads sharing its passes; two positions of a tile change basis in one sweep exactly as one
// after the other; a tile read in runs where they lie changes basis exactly as its contiguous copy.
#include "engine/blocked_free_evolution.h"
#include "engine/free_evolution.h"
#include "engine/mixed_basis_tile.h"
#include "engine/operator_basis.h"
#include "engine/spin_tables.h"
#include "support/largest_difference.h"
#include "util/uniform_random.h"
#include "util/work_pool.h"

#include <array>
#include <cstddef>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::engine {
namespace {

struct RandomSystem {
    SpinTables spins;
    std::array<double, kSpinSlots> offsetRadPerS{};
};

// nSpins spins coupled with the given chance; spin `inactive` (if any) switched off and every
// spin of `onResonance` without offset.
RandomSystem randomSystem(util::UniformRandom& random, int nSpins, double couplingChance, int inactive,
                          unsigned onResonance)
{
    RandomSystem s;
    s.spins.count = nSpins;
    for (int i = 0; i < nSpins; ++i) {
        const auto k = static_cast<std::size_t>(i);
        s.spins.slotState[k] = i == inactive ? 0 : 1;
        s.offsetRadPerS[k] = (onResonance >> i & 1U) != 0 ? 0.0 : 2000.0 * (random.next() - 0.5);
        for (int j = 0; j < i; ++j) {
            const double jHz = random.next() < couplingChance ? 1.0 + 14.0 * random.next() : 0.0;
            s.spins.couplingHz[i][j] = jHz;
            s.spins.couplingHz[j][i] = jHz;
        }
    }
    return s;
}

std::vector<double> randomRow(util::UniformRandom& random, int nSpins)
{
    std::vector<double> row(static_cast<std::size_t>(operatorCount(nSpins)));
    for (double& v : row)
        v = random.next() - 0.5;
    return row;
}

TEST(BlockedFreeEvolution, AgreesWithThePlainKernelsOnRandomRows)
{
    struct Case {
        int spins;
        double couplingChance;
        int inactive;
        unsigned onResonance;
    };
    // Below the mixed basis, one tile, three passes (nine and ten spins); sparse couplings with a
    // spin switched off in every layout of the passes (low, in the middle, among the high spins).
    const std::array<Case, 8> cases{{{5, 1.0, -1, 0U},
                                     {8, 1.0, -1, 0x5U},
                                     {8, 0.3, 4, 0U},
                                     {9, 1.0, -1, 0U},
                                     {9, 0.3, 7, 0x100U},
                                     {10, 1.0, -1, 0x201U},
                                     {10, 0.3, 9, 0U},
                                     {10, 0.15, 1, 0x3f0U}}};
    util::UniformRandom random(7);
    BlockedFreeEvolution blocked;
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const Case& k = cases[c];
        const RandomSystem s = randomSystem(random, k.spins, k.couplingChance, k.inactive, k.onResonance);
        std::vector<double> plain = randomRow(random, k.spins);
        std::vector<double> fast = plain;
        const double seconds = 0.0123;
        evolveOffsets(plain, s.spins, s.offsetRadPerS, seconds);
        evolveCouplings(plain, s.spins, seconds);
        blocked.evolve(fast, s.spins, s.offsetRadPerS, seconds);

        const testing::Deviation d = testing::deviationFrom(plain, fast);
        EXPECT_LT(d.difference, 1e-12 * d.largest) << "case " << c;
    }
}

TEST(BlockedFreeEvolution, LeavesTheRowExactlyAsItWasOverAZeroInterval)
{
    util::UniformRandom random(5);
    const RandomSystem s = randomSystem(random, 10, 1.0, -1, 0U);
    const std::vector<double> start = randomRow(random, 10);
    std::vector<double> row = start;
    BlockedFreeEvolution().evolve(row, s.spins, s.offsetRadPerS, 0.0);
    EXPECT_EQ(row, start);
}

TEST(BlockedFreeEvolution, GivesTheSameBitsOnOneTwoAndThreeThreads)
{
    util::UniformRandom random(19);
    for (const int nSpins : {9, 10}) {
        const RandomSystem s = randomSystem(random, nSpins, 0.8, 3, 0U);
        const std::vector<double> start = randomRow(random, nSpins);
        std::vector<double> alone = start;
        BlockedFreeEvolution(/*no pool*/).evolve(alone, s.spins, s.offsetRadPerS, 0.0071);
        for (const int threads : {1, 2, 3}) {
            util::WorkPool pool(threads);
            BlockedFreeEvolution shared;
            shared.sharePassesWith(&pool);
            std::vector<double> row = start;
            shared.evolve(row, s.spins, s.offsetRadPerS, 0.0071);
            EXPECT_EQ(row, alone) << nSpins << " spins, " << threads << " threads";
        }
    }
}

TEST(MixedBasisTile, ChangesTheBasisOfTwoPositionsInOneSweepAsOneAfterTheOther)
{
    util::UniformRandom random(23);
    const std::vector<double> start = randomRow(random, 8);
    for (const int p : {1, 4, 6}) {
        for (const bool toMixed : {true, false}) {
            std::vector<double> swept = start;
            changeBasisOfTwo(swept.data(), 8, p, toMixed);
            std::vector<double> inTurn = start;
            for (const int q : {p, p + 1}) {
                if (toMixed)
                    toMixedBasis(inTurn.data(), 8, q);
                else
                    fromMixedBasis(inTurn.data(), 8, q);
            }
            EXPECT_EQ(swept, inTurn) << "positions " << p << " and " << p + 1 << (toMixed ? " to" : " back");
        }
    }
}

TEST(MixedBasisTile, ChangesTheBasisOfATileReadInRunsAsOfItsContiguousCopy)
{
    // A tile of eight positions in runs of 4^4 laid out in reverse order with gaps between them.
    constexpr int kPositions = 8;
    constexpr int kRunDigits = 4;
    const std::int32_t run = kStride[kRunDigits];
    const std::int32_t runs = kStride[kPositions - kRunDigits];
    std::vector<std::int32_t> runStart(static_cast<std::size_t>(runs));
    for (std::int32_t r = 0; r < runs; ++r)
        runStart[static_cast<std::size_t>(r)] = (runs - 1 - r) * 2 * run;
    util::UniformRandom random(29);
    const std::vector<double> start = randomRow(random, kPositions + 1);
    const auto gather = [&](const std::vector<double>& row) {
        std::vector<double> tile;
        for (std::int32_t r = 0; r < runs; ++r) {
            const auto first = row.begin() + runStart[static_cast<std::size_t>(r)];
            tile.insert(tile.end(), first, first + run);
        }
        return tile;
    };
    // Positions inside the runs and above them, one at a time and two in one sweep, both ways.
    for (const int p : {2, 3, 4, 6}) {
        for (const bool toMixed : {true, false}) {
            std::vector<double> row = start;
            const TileRuns inRuns{row.data(), runStart.data(), kRunDigits};
            std::vector<double> copy = gather(start);
            if (toMixed)
                toMixedBasis(inRuns, kPositions, p);
            else
                fromMixedBasis(inRuns, kPositions, p);
            changeBasisOfTwo(inRuns, kPositions, p, toMixed);
            if (toMixed)
                toMixedBasis(copy.data(), kPositions, p);
            else
                fromMixedBasis(copy.data(), kPositions, p);
            changeBasisOfTwo(copy.data(), kPositions, p, toMixed);
            EXPECT_EQ(gather(row), copy) << "position " << p << (toMixed ? " to" : " back");
        }
    }
}

}  // namespace
}  // namespace velmora::engine
