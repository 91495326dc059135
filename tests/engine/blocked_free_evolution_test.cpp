// The blocked free evolution against the plain per-spin and per-pair kernels on random rows of 10
// spins: dense and sparse couplings, a switched-off spin, to 1e-12 of the largest coefficient.
#include "engine/blocked_free_evolution.h"
#include "engine/free_evolution.h"
#include "engine/operator_basis.h"
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

TEST(BlockedFreeEvolution, AgreesWithThePlainKernelsOnRandomRows)
{
    util::UniformRandom random(7);
    BlockedFreeEvolution blocked;
    for (int c = 0; c < 4; ++c) {
        SpinTables spins;
        spins.count = c < 2 ? 8 : 10;
        const double couplingChance = c % 2 == 0 ? 1.0 : 0.3;
        std::array<double, kSpinSlots> offsetRadPerS{};
        for (int i = 0; i < spins.count; ++i) {
            // One spin decoupled in the sparse cases.
            spins.slotState[static_cast<std::size_t>(i)] = (c % 2 == 1 && i == 4) ? 0 : 1;
            offsetRadPerS[static_cast<std::size_t>(i)] = 2000.0 * (random.next() - 0.5);
            for (int j = 0; j < i; ++j) {
                const double jHz = random.next() < couplingChance ? 1.0 + 14.0 * random.next() : 0.0;
                spins.couplingHz[i][j] = jHz;
                spins.couplingHz[j][i] = jHz;
            }
        }
        std::vector<double> plain(static_cast<std::size_t>(operatorCount(spins.count)));
        for (double& v : plain)
            v = random.next() - 0.5;
        std::vector<double> fast = plain;
        const double seconds = 0.0123;
        evolveOffsets(plain, spins, offsetRadPerS, seconds);
        evolveCouplings(plain, spins, seconds);
        blocked.evolve(fast, spins, offsetRadPerS, seconds);

        const testing::Deviation d = testing::deviationFrom(plain, fast);
        EXPECT_LT(d.difference, 1e-12 * d.largest) << "case " << c;
    }
}

}  // namespace
}  // namespace velmora::engine
