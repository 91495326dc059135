// The fused evolution after a point's pulse elements against the step-by-step reference on random
// rows: 5, 6 and 10 spins, dense and sparse couplings, each combination of T1, T2 and
// cross-relaxation, both relaxation orders, to 1e-12 of the largest coefficient. The point with its
// elements inside the interval's passes against the elements applied first, at 7, 9 and 10 spins,
// and the same bits on one, two and three threads. A row kept in the population basis against the
// same point on product operators.
#include "engine/kernel_variant.h"
#include "engine/operator_basis.h"
#include "engine/point_evolution.h"
#include "engine/population_basis.h"
#include "engine/spin_tables.h"
#include "support/largest_difference.h"
#include "util/uniform_random.h"
#include "util/work_pool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <vector>

namespace velmora::engine {
namespace {

TEST(PointEvolution, AgreesWithTheStepByStepReferenceOnRandomRows)
{
    for (const KernelVariant variant : runnableKernelVariants()) {
        SCOPED_TRACE(kernelVariantName(variant));
        util::UniformRandom random(11);
        BlockedFreeEvolution freeEvolution(variant);
        for (int c = 0; c < 16; ++c) {
            SpinTables spins;
            spins.count = c % 8 < 2 ? 5 : (c % 8 < 6 ? 6 : 10);
            const RestRelaxation order =
                c < 8 ? RestRelaxation::afterShapedEvolution : RestRelaxation::afterElement;
            const double couplingChance = c % 2 == 0 ? 1.0 : 0.3;
            std::array<double, kSpinSlots> offsetRadPerS{};
            Relaxation relaxation;
            relaxation.t1On = (c & 1) != 0;
            relaxation.t2On = (c & 2) != 0;
            relaxation.crossOn = (c & 4) != 0;
            relaxation.crossMs = 800.0;
            for (int i = 0; i < spins.count; ++i) {
                const auto k = static_cast<std::size_t>(i);
                spins.slotState[k] = i == 3 && c % 2 == 1 ? 0 : 1;
                spins.nucleusConstant[k] = i % 3 == 2 ? kNucleusConstantC13 : kNucleusConstantH1;
                offsetRadPerS[k] = 20000.0 * (random.next() - 0.5);
                relaxation.t1Ms[k] = 50.0 + 500.0 * random.next();
                relaxation.t2Ms[k] = 5.0 + 50.0 * random.next();
                for (int j = 0; j < i; ++j) {
                    const double jHz = random.next() < couplingChance ? 1.0 + 140.0 * random.next() : 0.0;
                    spins.couplingHz[i][j] = jHz;
                    spins.couplingHz[j][i] = jHz;
                }
            }
            std::vector<double> reference(static_cast<std::size_t>(operatorCount(spins.count)));
            for (double& v : reference)
                v = random.next() - 0.5;
            // Single-spin z coefficients far from equilibrium, so T1 and cross-relaxation move them.
            for (int i = 0; i < spins.count; ++i)
                reference[static_cast<std::size_t>(kSpinMask[i])] = 3.0 * (random.next() - 0.5);
            std::vector<double> fused = reference;
            const double pulsedSeconds = 3.1e-5;
            const double restSeconds = 4.7e-4;
            evolveAfterElementsReference(reference, spins, relaxation, offsetRadPerS, pulsedSeconds,
                                         restSeconds, order, freeEvolution);
            evolveAfterElements(fused, spins, relaxation, offsetRadPerS, pulsedSeconds, restSeconds, order,
                                freeEvolution);

            const testing::Deviation d = testing::deviationFrom(reference, fused);
            EXPECT_LT(d.difference, 1e-12 * d.largest) << "case " << c;
        }
    }
}

// A point of a shaped pulse on nSpins coupled spins with T2 on: spin 2 switched off, elements on
// every spin but 1 and 7 (spins 3 and 9 precess without RF).
struct PulsedPoint {
    SpinTables spins;
    Relaxation relaxation;
    std::array<double, kSpinSlots> offsetRadPerS{};
    std::vector<PulseElement> elements;
    std::vector<double> row;
};

PulsedPoint pulsedPoint(util::UniformRandom& random, int nSpins)
{
    PulsedPoint point;
    point.spins.count = nSpins;
    point.relaxation.t1On = true;
    point.relaxation.t2On = true;
    for (int i = 0; i < nSpins; ++i) {
        const auto k = static_cast<std::size_t>(i);
        point.spins.slotState[k] = i == 2 ? 0 : 1;
        point.spins.nucleusConstant[k] = kNucleusConstantH1;
        point.offsetRadPerS[k] = 20000.0 * (random.next() - 0.5);
        point.relaxation.t1Ms[k] = 50.0 + 500.0 * random.next();
        point.relaxation.t2Ms[k] = 1.0 + 5.0 * random.next();
        for (int j = 0; j < i; ++j) {
            const double jHz = 1.0 + 140.0 * random.next();
            point.spins.couplingHz[i][j] = jHz;
            point.spins.couplingHz[j][i] = jHz;
        }
        if (i == 1 || i == 7)
            continue;
        const double amplitude = (i == 3 || i == 9) ? 0.0 : 2.0e5 * (0.5 + random.next());
        point.elements.push_back({i, amplitude, 6.28 * random.next(), point.offsetRadPerS[k], 3.1e-5});
    }
    point.row.resize(static_cast<std::size_t>(operatorCount(nSpins)));
    for (double& v : point.row)
        v = random.next() - 0.5;
    return point;
}

TEST(PointEvolution, TakesThePulseElementsIntoTheIntervalAsAppliedBeforeIt)
{
    for (const KernelVariant variant : runnableKernelVariants()) {
        SCOPED_TRACE(kernelVariantName(variant));
        util::UniformRandom random(17);
        BlockedFreeEvolution freeEvolution(variant);
        for (const int nSpins : {7, 9, 10}) {
            const PulsedPoint point = pulsedPoint(random, nSpins);
            std::vector<double> reference = point.row;
            std::vector<double> fused = point.row;
            const double pulsedSeconds = 3.1e-5;
            const double restSeconds = 4.7e-4;
            applyPulseElements(reference, nSpins, point.elements);
            evolveAfterElements(reference, point.spins, point.relaxation, point.offsetRadPerS, pulsedSeconds,
                                restSeconds, RestRelaxation::afterShapedEvolution, freeEvolution);
            applyElementsAndEvolve(fused, point.spins, point.relaxation, point.elements, point.offsetRadPerS,
                                   pulsedSeconds, restSeconds, RestRelaxation::afterShapedEvolution,
                                   freeEvolution);

            const testing::Deviation d = testing::deviationFrom(reference, fused);
            EXPECT_LT(d.difference, 1e-12 * d.largest) << nSpins << " spins";
            // The elements and T2 moved the row well away from where it started.
            EXPECT_GT(testing::deviationFrom(point.row, reference).difference, 0.1 * d.largest)
                << nSpins << " spins";
        }
    }
}

// The variants differ in how many spins' elements one sweep takes, not in the operations each
// coefficient sees.
TEST(PointEvolution, EveryKernelVariantGivesTheSameBits)
{
    util::UniformRandom random(23);
    const PulsedPoint point = pulsedPoint(random, 10);
    std::vector<std::vector<double>> rows;
    for (const KernelVariant variant : runnableKernelVariants()) {
        BlockedFreeEvolution freeEvolution(variant);
        std::vector<double> row = point.row;
        applyElementsAndEvolve(row, point.spins, point.relaxation, point.elements, point.offsetRadPerS,
                               3.1e-5, 4.7e-4, RestRelaxation::afterElement, freeEvolution);
        rows.push_back(std::move(row));
    }
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], rows[1]);
    EXPECT_NE(rows[0], point.row);
}

TEST(KernelVariantNames, NameEachVariantAndNothingElse)
{
    for (const KernelVariant variant : runnableKernelVariants())
        EXPECT_EQ(kernelVariantNamed(kernelVariantName(variant)), variant);
    EXPECT_FALSE(kernelVariantNamed("wide").has_value());
}

TEST(PointEvolution, TakesThePulseElementsIntoTheIntervalWithTheSameBitsOnAnyThreadCount)
{
    util::UniformRandom random(31);
    for (const int nSpins : {9, 10}) {
        const PulsedPoint point = pulsedPoint(random, nSpins);
        std::vector<double> alone = point.row;
        BlockedFreeEvolution single;
        applyElementsAndEvolve(alone, point.spins, point.relaxation, point.elements, point.offsetRadPerS,
                               3.1e-5, 4.7e-4, RestRelaxation::afterElement, single);
        for (const int threads : {2, 3}) {
            util::WorkPool pool(threads);
            BlockedFreeEvolution shared;
            shared.sharePassesWith(&pool);
            std::vector<double> row = point.row;
            applyElementsAndEvolve(row, point.spins, point.relaxation, point.elements, point.offsetRadPerS,
                                   3.1e-5, 4.7e-4, RestRelaxation::afterElement, shared);
            EXPECT_EQ(row, alone) << nSpins << " spins, " << threads << " threads";
        }
    }
}

TEST(PointEvolution, KeepsARowInThePopulationBasisAsOnProductOperators)
{
    util::UniformRandom random(43);
    util::WorkPool pool(2);
    for (const int nSpins : {9, 10}) {
        PulsedPoint point = pulsedPoint(random, nSpins);
        point.relaxation.crossOn = true;
        point.relaxation.crossMs = 30000.0;
        // Elements on spins 8 and 9 too (three passes), on the first tile's spins only (two), none.
        const std::vector<PulseElement> lowElements(point.elements.begin(), point.elements.end() - 2);
        for (const std::vector<PulseElement>& elements :
             {point.elements, lowElements, std::vector<PulseElement>{}}) {
            std::vector<double> expected = point.row;
            BlockedFreeEvolution freeEvolution;
            applyElementsAndEvolve(expected, point.spins, point.relaxation, elements, point.offsetRadPerS,
                                   3.1e-5, 4.7e-4, RestRelaxation::afterElement, freeEvolution);
            std::vector<double> alone = point.row;
            toPopulationBasis(alone, nSpins);
            std::vector<double> shared = alone;
            applyElementsAndEvolve(alone, point.spins, point.relaxation, elements, point.offsetRadPerS,
                                   3.1e-5, 4.7e-4, RestRelaxation::afterElement, freeEvolution,
                                   RowBasis::populations);
            BlockedFreeEvolution onTwoThreads;
            onTwoThreads.sharePassesWith(&pool);
            applyElementsAndEvolve(shared, point.spins, point.relaxation, elements, point.offsetRadPerS,
                                   3.1e-5, 4.7e-4, RestRelaxation::afterElement, onTwoThreads,
                                   RowBasis::populations);
            EXPECT_EQ(shared, alone) << nSpins << " spins, " << elements.size() << " elements";
            fromPopulationBasis(alone, nSpins);
            const testing::Deviation d = testing::deviationFrom(expected, alone);
            EXPECT_LT(d.difference, 1e-12 * d.largest)
                << nSpins << " spins, " << elements.size() << " elements";
        }
    }
}

}  // namespace
}  // namespace velmora::engine
