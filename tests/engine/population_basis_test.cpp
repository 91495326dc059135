// The population basis of a large row: the change of basis against the spin-by-spin definition, the
// single-spin coefficients read through it, and relaxation acting on a row held in it against the
// same relaxation on the product-operator row.
#include "engine/operator_basis.h"
#include "engine/population_basis.h"
#include "engine/relaxation.h"
#include "util/work_pool.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace velmora::engine {
namespace {

std::vector<double> randomRow(int nSpins, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> row(static_cast<std::size_t>(operatorCount(nSpins)));
    for (double& c : row)
        c = value(generator);
    return row;
}

// The definition, index by index: each spin's E and z coefficients of every product, spin after spin.
std::vector<double> populationsByDefinition(std::vector<double> row, int nSpins)
{
    for (int k = 0; k < nSpins; ++k) {
        for (std::int32_t i = 0; i < operatorCount(nSpins); ++i) {
            if ((i & kSpinMask[k]) != 0)
                continue;
            const double e = row[static_cast<std::size_t>(i)];
            const double z = row[static_cast<std::size_t>(i + kSpinMask[k])];
            row[static_cast<std::size_t>(i)] = e + z;
            row[static_cast<std::size_t>(i + kSpinMask[k])] = e - z;
        }
    }
    return row;
}

double largestDifference(const std::vector<double>& a, const std::vector<double>& b)
{
    double largest = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

TEST(PopulationBasis, ChangeIsTheDefinitionAndGoesBackWhateverTheThreads)
{
    util::WorkPool pool(2);
    for (const int n : {5, 9, 10}) {
        SCOPED_TRACE(n);
        const std::vector<double> original = randomRow(n, 7U + static_cast<unsigned>(n));
        std::vector<double> row = original;
        toPopulationBasis(row, n);
        EXPECT_EQ(row, populationsByDefinition(original, n));
        std::vector<double> shared = original;
        toPopulationBasis(shared, n, &pool);
        EXPECT_EQ(shared, row);
        fromPopulationBasis(row, n);
        EXPECT_LT(largestDifference(row, original), 1e-15);
        fromPopulationBasis(shared, n, &pool);
        EXPECT_EQ(shared, row);
    }
}

TEST(PopulationBasis, SingleSpinCoefficientsReadAndChangeAsInTheProductOperatorRow)
{
    const int n = 10;
    const std::vector<double> cartesian = randomRow(n, 3U);
    std::vector<double> populations = cartesian;
    toPopulationBasis(populations, n);

    const std::array<double, kSpinSlots> z = singleSpinZ(populations, n, RowBasis::populations);
    std::array<double, kSpinSlots> delta{};
    for (int k = 0; k < n; ++k) {
        EXPECT_NEAR(z[static_cast<std::size_t>(k)], cartesian[static_cast<std::size_t>(kSpinMask[k])], 1e-13);
        for (const int digit : {1, 2})
            EXPECT_NEAR(singleSpinTransverse(populations, n, RowBasis::populations, k, digit),
                        cartesian[static_cast<std::size_t>(digit * kStride[k])], 1e-13);
        delta[static_cast<std::size_t>(k)] = 0.25 * (k + 1);
    }
    // A change of the z terms alone: every other product operator stays as it was.
    std::vector<double> expected = cartesian;
    addToSingleSpinZ(expected, n, RowBasis::productOperators, delta);
    addToSingleSpinZ(populations, n, RowBasis::populations, delta);
    fromPopulationBasis(populations, n);
    EXPECT_LT(largestDifference(populations, expected), 1e-13);
}

TEST(PopulationBasis, RelaxationOfAPopulationRowIsThatOfTheProductOperatorRow)
{
    // Nine spins, one of them inactive (decoupled: it still drives the others by cross-relaxation).
    const int n = 9;
    SpinTables spins;
    spins.count = n;
    Relaxation relaxation;
    for (int k = 0; k < n; ++k) {
        spins.slotState[k] = k == 4 ? 0 : 3;
        spins.nucleusConstant[k] = k < 6 ? kNucleusConstantH1 : kNucleusConstantC13;
        relaxation.t1Ms[static_cast<std::size_t>(k)] = 400.0 + 100.0 * k;
        relaxation.t2Ms[static_cast<std::size_t>(k)] = 50.0 + 5.0 * k;
    }
    relaxation.crossMs = 3000.0;
    relaxation.sliceRowCount = 2;
    for (const bool cross : {false, true}) {
        SCOPED_TRACE(cross);
        relaxation.t1On = relaxation.t2On = true;
        relaxation.crossOn = cross;
        relaxation.longitudinal = longitudinalModes(spins, relaxation);
        std::vector<double> expected = randomRow(n, 11U);
        std::vector<double> row = expected;
        toPopulationBasis(row, n);
        relaxAfterElement(expected, spins, relaxation, 0.2);
        relaxAfterShapedEvolution(expected, spins, relaxation, 0.05);
        relaxAfterElement(row, spins, relaxation, 0.2, nullptr, RowBasis::populations);
        relaxAfterShapedEvolution(row, spins, relaxation, 0.05, nullptr, RowBasis::populations);
        fromPopulationBasis(row, n);
        // To rounding of the largest coefficient: the equilibria are of the order of the nucleus
        // constants, far above the random coefficients.
        const double largest = std::abs(*std::max_element(
            expected.begin(), expected.end(), [](double a, double b) { return std::abs(a) < std::abs(b); }));
        EXPECT_LT(largestDifference(row, expected), 1e-14 * largest);
    }
}

}  // namespace
}  // namespace velmora::engine
