// The pulse elements of a point applied in a block pass and a gathered pass against the plain
// element kernel applied one spin after the other, on random rows of eight to ten spins, and the
// same passes shared between two or three threads.
#include "engine/blocked_pulse_elements.h"
#include "engine/operator_basis.h"
#include "engine/step_routine.h"
#include "util/uniform_random.h"
#include "util/work_pool.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace velmora::engine {
namespace {

TEST(BlockedPulseElements, AgreeWithThePlainKernelOnRandomRows)
{
    util::UniformRandom random(11);
    for (const int nSpins : {8, 9, 10}) {
        // Every spin pulsed except spin 3; spin 6 and spin 9 (when present) precess without RF, so
        // the gathered pass sees both kinds of element at nine and ten spins.
        std::vector<PulseElement> elements;
        for (int k = 0; k < nSpins; ++k) {
            if (k == 3)
                continue;
            const double amplitude = (k == 6 || k == 9) ? 0.0 : 2.0e5 * (0.5 + random.next());
            elements.push_back({k, amplitude, 6.28 * random.next(), 4000.0 * (random.next() - 0.5),
                                (2.0 + 8.0 * random.next()) * 1.0e-6});
        }
        std::vector<double> plain(static_cast<std::size_t>(operatorCount(nSpins)));
        for (double& v : plain)
            v = random.next() - 0.5;
        const std::vector<double> before = plain;
        std::vector<double> blocked = plain;
        std::vector<double> shared2 = plain;
        std::vector<double> shared3 = plain;
        util::WorkPool two(2);
        util::WorkPool three(3);

        for (const PulseElement& e : elements)
            applyPulseElement(plain, nSpins, e.spin, e.amplitudeRadPerS, e.phaseRad, e.offsetRadPerS, e.seconds);
        applyPulseElements(blocked, nSpins, elements);
        applyPulseElements(shared2, nSpins, elements, &two);
        applyPulseElements(shared3, nSpins, elements, &three);
        // Each coefficient sees the same operations whichever thread does its piece.
        EXPECT_TRUE(shared2 == blocked) << nSpins << " spins, two threads";
        EXPECT_TRUE(shared3 == blocked) << nSpins << " spins, three threads";

        double largest = 0.0, worst = 0.0, moved = 0.0;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            largest = std::max(largest, std::fabs(plain[i]));
            worst = std::max(worst, std::fabs(plain[i] - blocked[i]));
            moved = std::max(moved, std::fabs(plain[i] - before[i]));
        }
        EXPECT_LE(worst, 1e-12 * largest) << nSpins << " spins";
        // The pulses turned the row well away from where it started.
        EXPECT_GT(moved, 0.1 * largest) << nSpins << " spins";
    }
}

TEST(BlockedPulseElements, RefuseASpinOutsideTheRowAndLeaveTheRowAsItWas)
{
    // A valid element first, the bad one last: nothing may act before the refusal.
    constexpr int kSpins = 8;
    std::vector<double> row(static_cast<std::size_t>(operatorCount(kSpins)));
    util::UniformRandom random(5);
    for (double& v : row)
        v = random.next() - 0.5;
    const std::vector<double> before = row;
    for (const int bad : {-1, kSpins}) {
        const std::vector<PulseElement> elements{{0, 2.0e5, 0.0, 0.0, 5.0e-6}, {bad, 2.0e5, 0.0, 0.0, 5.0e-6}};
        EXPECT_THROW(applyPulseElements(row, kSpins, elements), std::invalid_argument) << bad;
        EXPECT_THROW(applyPulseElement(row, kSpins, bad, 2.0e5, 0.0, 0.0, 5.0e-6), std::invalid_argument);
        EXPECT_THROW(applyPulseElementInRuns(row, kSpins, bad, 2.0e5, 0.0, 0.0, 5.0e-6), std::invalid_argument);
        EXPECT_TRUE(row == before) << bad;
    }
    // A row too short for its spins.
    std::vector<double> shortRow(16);
    EXPECT_THROW(applyPulseElement(shortRow, 3, 0, 2.0e5, 0.0, 0.0, 5.0e-6), std::invalid_argument);
}

}  // namespace
}  // namespace velmora::engine
