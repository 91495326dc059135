// The fused evolution after a point's pulse elements against the step-by-step reference on random
// rows: 5, 6 and 10 spins, dense and sparse couplings, each combination of T1, T2 and
// cross-relaxation, both relaxation orders, to 1e-12 of the largest coefficient.
#include "engine/operator_basis.h"
#include "engine/point_evolution.h"
#include "engine/spin_tables.h"
#include "support/largest_difference.h"
#include "util/uniform_random.h"

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
    util::UniformRandom random(11);
    BlockedFreeEvolution freeEvolution;
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
        evolveAfterElementsReference(reference, spins, relaxation, offsetRadPerS, pulsedSeconds, restSeconds,
                                     order, freeEvolution);
        evolveAfterElements(fused, spins, relaxation, offsetRadPerS, pulsedSeconds, restSeconds, order,
                            freeEvolution);

        const testing::Deviation d = testing::deviationFrom(reference, fused);
        EXPECT_LT(d.difference, 1e-12 * d.largest) << "case " << c;
    }
}

}  // namespace
}  // namespace velmora::engine
