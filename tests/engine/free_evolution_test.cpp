// Offset and scalar-coupling evolution of product-operator coefficients, checked against closed-form
// rotations and against an independent propagation of the density matrix in the Zeeman basis.
#include "engine/free_evolution.h"
#include "engine/operator_basis.h"

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <ostream>
#include <random>
#include <vector>

namespace velmora::engine {
namespace {

using Complex = std::complex<double>;

constexpr double kTwoPi = 2.0 * std::numbers::pi;

SpinTables protons(int count)
{
    SpinTables spins;
    spins.count = count;
    for (int k = 0; k < count; ++k) {
        spins.slotState[k] = 3;
        spins.nucleusConstant[k] = kNucleusConstantH1;
        spins.channel[k] = kChannelH1;
    }
    return spins;
}

void setCoupling(SpinTables& spins, int i, int j, double hz)
{
    spins.couplingHz[i][j] = hz;
    spins.couplingHz[j][i] = hz;
}

std::vector<double> randomRow(int nSpins, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> row(static_cast<std::size_t>(operatorCount(nSpins)));
    for (double& c : row) {
        c = value(generator);
    }
    row[0] = 0.0;
    return row;
}

std::size_t at(std::int32_t idx)
{
    return static_cast<std::size_t>(idx);
}

double sumOfSquares(const std::vector<double>& row)
{
    double sum = 0.0;
    for (const double c : row) {
        sum += c * c;
    }
    return sum;
}

// ---------------------------------------------------------------------------------------------
// Independent reference: the density matrix of n spins 1/2 in the Zeeman basis (bit k of a basis
// index is 0 for alpha, 1 for beta of spin k). The Hamiltonian sum w_k Iz_k + 2 pi J_ij Iz_i Iz_j is
// diagonal there, so rho_ab evolves by exp(-i (E_a - E_b) t). Coefficient c of product operator P
// with m factors multiplies Q = 2^(m-1) P; the Q are orthogonal with Tr(Q Q) = 2^(n-2).

Complex factorElement(int digit, int a, int b)
{
    switch (digit) {
    case 0:
        return a == b ? 1.0 : 0.0;
    case 1:
        return a != b ? 0.5 : 0.0;
    case 2:
        if (a == b) {
            return 0.0;
        }
        return a == 0 ? Complex(0.0, -0.5) : Complex(0.0, 0.5);
    default:
        if (a != b) {
            return 0.0;
        }
        return a == 0 ? 0.5 : -0.5;
    }
}

class DensityMatrix {
public:
    DensityMatrix(int nSpins, const std::vector<double>& coefficients)
        : nSpins_(nSpins), dim_(1 << nSpins), rho_(static_cast<std::size_t>(dim_ * dim_))
    {
        for (std::int32_t idx = 0; idx < operatorCount(nSpins); ++idx) {
            for (int a = 0; a < dim_; ++a) {
                for (int b = 0; b < dim_; ++b) {
                    element(a, b) += coefficients[at(idx)] * operatorElement(idx, a, b);
                }
            }
        }
    }

    void evolve(const std::array<double, kSpinSlots>& offsetRadPerS, const SpinTables& spins, double seconds)
    {
        for (int a = 0; a < dim_; ++a) {
            for (int b = 0; b < dim_; ++b) {
                const double phase =
                    (energy(a, offsetRadPerS, spins) - energy(b, offsetRadPerS, spins)) * seconds;
                element(a, b) *= std::polar(1.0, -phase);
            }
        }
    }

    std::vector<double> coefficients() const
    {
        std::vector<double> result(static_cast<std::size_t>(operatorCount(nSpins_)));
        const double norm = std::pow(2.0, nSpins_ - 2);
        for (std::int32_t idx = 0; idx < operatorCount(nSpins_); ++idx) {
            Complex trace = 0.0;
            for (int a = 0; a < dim_; ++a) {
                for (int b = 0; b < dim_; ++b) {
                    trace += rho_[static_cast<std::size_t>(a * dim_ + b)] * operatorElement(idx, b, a);
                }
            }
            result[at(idx)] = trace.real() / norm;
        }
        return result;
    }

private:
    Complex& element(int a, int b) { return rho_[static_cast<std::size_t>(a * dim_ + b)]; }

    Complex operatorElement(std::int32_t idx, int a, int b) const
    {
        Complex value = 0.5;
        for (int k = 0; k < nSpins_; ++k) {
            const int digit = (idx >> (2 * k)) & 3;
            if (digit != 0) {
                value *= 2.0;
            }
            value *= factorElement(digit, (a >> k) & 1, (b >> k) & 1);
        }
        return value;
    }

    double energy(int a, const std::array<double, kSpinSlots>& offsetRadPerS, const SpinTables& spins) const
    {
        auto m = [a](int k) { return ((a >> k) & 1) == 0 ? 0.5 : -0.5; };
        double e = 0.0;
        for (int k = 0; k < nSpins_; ++k) {
            e += offsetRadPerS[static_cast<std::size_t>(k)] * m(k);
            for (int j = k + 1; j < nSpins_; ++j) {
                e += kTwoPi * spins.couplingHz[k][j] * m(k) * m(j);
            }
        }
        return e;
    }

    int nSpins_;
    int dim_;
    std::vector<Complex> rho_;
};

// ---------------------------------------------------------------------------------------------

TEST(OffsetEvolution, QuarterTurnTurnsIxIntoPlusIy)
{
    const SpinTables spins = protons(1);
    std::vector<double> row(4, 0.0);
    row[at(kStride[0])] = 1.0;
    const std::array<double, 1> offsetRadPerS = {std::numbers::pi / 2.0};

    evolveOffsets(row, spins, offsetRadPerS, 1.0);

    EXPECT_NEAR(row[at(kStride[0])], 0.0, 1e-15);
    EXPECT_NEAR(row[at(kYDigit[0])], 1.0, 1e-15);
    EXPECT_EQ(row[at(kSpinMask[0])], 0.0);
}

TEST(OffsetEvolution, ZeroOffsetOrZeroIntervalLeavesTheRowBitForBit)
{
    const SpinTables spins = protons(3);
    const std::vector<double> before = randomRow(3, 11);

    std::vector<double> row = before;
    const std::array<double, 3> zeroOffsets = {0.0, 0.0, -0.0};
    evolveOffsets(row, spins, zeroOffsets, 0.25);
    EXPECT_EQ(row, before);

    const std::array<double, 3> offsetRadPerS = {1200.0, -800.0, 3.0e4};
    evolveOffsets(row, spins, offsetRadPerS, 0.0);
    EXPECT_EQ(row, before);
}

TEST(OffsetEvolution, SpinWithZeroOffsetKeepsItsTransverseTerms)
{
    // Spins 0 and 2 precess, spin 1 does not: products in which spins 0 and 2 are E or z keep their
    // values exactly, whatever spin 1 carries.
    const SpinTables spins = protons(3);
    const std::vector<double> before = randomRow(3, 12);
    std::vector<double> row = before;
    const std::array<double, 3> offsetRadPerS = {900.0, 0.0, -450.0};

    evolveOffsets(row, spins, offsetRadPerS, 0.003);

    int untouched = 0;
    for (std::int32_t idx = 0; idx < operatorCount(3); ++idx) {
        if (!isTransverse(idx, 0) && !isTransverse(idx, 2)) {
            EXPECT_EQ(row[at(idx)], before[at(idx)]) << "operator " << idx;
            ++untouched;
        } else {
            EXPECT_NE(row[at(idx)], before[at(idx)]) << "operator " << idx;
        }
    }
    EXPECT_EQ(untouched, 16);
}

TEST(OffsetEvolution, ProductsWithOtherFactorsRotateLikeTheSingleSpin)
{
    // 4 I0x I1z I2y (digits x, z, y) under a rotation of spin 0 only.
    const SpinTables spins = protons(3);
    const std::int32_t xzy = kStride[0] + kSpinMask[1] + kYDigit[2];
    const std::int32_t yzy = kYDigit[0] + kSpinMask[1] + kYDigit[2];
    std::vector<double> row(64, 0.0);
    row[at(xzy)] = 0.8;
    row[at(yzy)] = -0.3;
    row[at(kSpinMask[0])] = 5.0;
    const double thetaRad = 0.7;
    const std::array<double, 3> offsetRadPerS = {thetaRad / 0.002, 0.0, 0.0};

    evolveOffsets(row, spins, offsetRadPerS, 0.002);

    const double c = std::cos(thetaRad);
    const double s = std::sin(thetaRad);
    EXPECT_NEAR(row[at(xzy)], 0.8 * c + 0.3 * s, 1e-14);
    EXPECT_NEAR(row[at(yzy)], 0.8 * s - 0.3 * c, 1e-14);
    EXPECT_EQ(row[at(kSpinMask[0])], 5.0);
}

TEST(OffsetEvolution, InactiveSpinDoesNotPrecess)
{
    SpinTables spins = protons(2);
    spins.slotState[0] = 0;
    const std::vector<double> before = randomRow(2, 13);
    std::vector<double> row = before;
    const std::array<double, 2> offsetRadPerS = {700.0, 0.0};

    evolveOffsets(row, spins, offsetRadPerS, 0.01);

    EXPECT_EQ(row, before);
}

TEST(CouplingEvolution, HundredHertzForFiveMsTurnsIxIntoTwoIySz)
{
    SpinTables spins = protons(2);
    setCoupling(spins, 0, 1, 100.0);
    std::vector<double> row(16, 0.0);
    row[at(kStride[0])] = 1.0;

    evolveCouplings(row, spins, 0.005);

    EXPECT_NEAR(row[at(kStride[0])], 0.0, 1e-14);
    EXPECT_NEAR(row[at(kYDigit[0] + kSpinMask[1])], 1.0, 1e-14);
    EXPECT_NEAR(sumOfSquares(row), 1.0, 1e-14);
}

TEST(CouplingEvolution, QuarterTurnMovesEveryInPhaseTermToItsAntiphasePartner)
{
    // Iy -> -2IxSz, Sx -> 2IzSy, Sy -> -2IzSx at theta = pi/2.
    SpinTables spins = protons(2);
    setCoupling(spins, 0, 1, 100.0);
    const std::int32_t iy = kYDigit[0];
    const std::int32_t sx = kStride[1];
    const std::int32_t sy = kYDigit[1];
    std::vector<double> row(16, 0.0);
    row[at(iy)] = 1.0;
    row[at(sx)] = 2.0;
    row[at(sy)] = 3.0;

    evolveCouplings(row, spins, 0.005);

    EXPECT_NEAR(row[at(kStride[0] + kSpinMask[1])], -1.0, 1e-14);
    EXPECT_NEAR(row[at(kSpinMask[0] + kYDigit[1])], 2.0, 1e-14);
    EXPECT_NEAR(row[at(kSpinMask[0] + kStride[1])], -3.0, 1e-14);
    EXPECT_NEAR(row[at(iy)], 0.0, 1e-14);
    EXPECT_NEAR(row[at(sx)], 0.0, 1e-14);
    EXPECT_NEAR(row[at(sy)], 0.0, 1e-14);
}

TEST(CouplingEvolution, TermsTransverseAtBothSpinsOrLongitudinalDoNotChange)
{
    SpinTables spins = protons(2);
    setCoupling(spins, 0, 1, 37.0);
    const std::vector<double> before = randomRow(2, 14);
    std::vector<double> row = before;

    evolveCouplings(row, spins, 0.0071);

    for (std::int32_t idx = 1; idx < 16; ++idx) {
        const bool bothTransverse = isTransverse(idx, 0) && isTransverse(idx, 1);
        const bool noTransverse = !isTransverse(idx, 0) && !isTransverse(idx, 1);
        if (bothTransverse || noTransverse) {
            EXPECT_EQ(row[at(idx)], before[at(idx)]) << "operator " << idx;  // 2IxSy among them
        } else {
            EXPECT_NE(row[at(idx)], before[at(idx)]) << "operator " << idx;
        }
    }
}

TEST(CouplingEvolution, PairWithAnInactivePartnerOrZeroCouplingIsSkipped)
{
    SpinTables spins = protons(3);
    setCoupling(spins, 0, 1, 50.0);
    setCoupling(spins, 1, 2, 12.0);
    spins.slotState[1] = 0;  // decoupled: both of its pairs drop out, and J(0, 2) is 0
    const std::vector<double> before = randomRow(3, 15);
    std::vector<double> row = before;

    evolveCouplings(row, spins, 0.004);
    EXPECT_EQ(row, before);

    evolveCouplings(row, protons(3), 0.004);  // no couplings at all
    EXPECT_EQ(row, before);
}

TEST(CouplingEvolution, NonNeighbouringPairCarriesTheOtherSpinsAlong)
{
    // Spins 1 and 3 of four, coupled; the product 4 I0z I1x I2y (spin 3 E) gains 8 I0z I1y I2y I3z.
    SpinTables spins = protons(4);
    setCoupling(spins, 1, 3, 80.0);
    const std::int32_t from = kSpinMask[0] + kStride[1] + kYDigit[2];
    const std::int32_t to = kSpinMask[0] + kYDigit[1] + kYDigit[2] + kSpinMask[3];
    std::vector<double> row(256, 0.0);
    row[at(from)] = 1.0;
    const double seconds = 0.0021;

    evolveCouplings(row, spins, seconds);

    const double thetaRad = std::numbers::pi * 80.0 * seconds;
    EXPECT_NEAR(row[at(from)], std::cos(thetaRad), 1e-14);
    EXPECT_NEAR(row[at(to)], std::sin(thetaRad), 1e-14);
    EXPECT_NEAR(sumOfSquares(row), 1.0, 1e-14);
}

TEST(CoupledSpinsAnalytic, TwoProtonsIxFollowsTheClosedFormOverSuccessiveIntervals)
{
    // Ix -> Ix cos(pi J t) cos(w t) + Iy cos(pi J t) sin(w t) + 2IySz sin(pi J t) cos(w t)
    //       - 2IxSz sin(pi J t) sin(w t), with t the total time of all intervals.
    SpinTables spins = protons(2);
    const double couplingHz = 7.3;
    setCoupling(spins, 0, 1, couplingHz);
    const std::array<double, 2> offsetRadPerS = {kTwoPi * 41.0, kTwoPi * -63.5};
    std::vector<double> row(16, 0.0);
    row[at(kStride[0])] = 1.0;

    double totalSeconds = 0.0;
    for (const double seconds : {0.0013, 0.021, 0.0005, 0.047, 0.0102}) {
        evolveOffsets(row, spins, offsetRadPerS, seconds);
        evolveCouplings(row, spins, seconds);
        totalSeconds += seconds;

        const double cj = std::cos(std::numbers::pi * couplingHz * totalSeconds);
        const double sj = std::sin(std::numbers::pi * couplingHz * totalSeconds);
        const double cw = std::cos(offsetRadPerS[0] * totalSeconds);
        const double sw = std::sin(offsetRadPerS[0] * totalSeconds);
        EXPECT_NEAR(row[at(kStride[0])], cj * cw, 1e-12) << "after " << totalSeconds << " s";
        EXPECT_NEAR(row[at(kYDigit[0])], cj * sw, 1e-12) << "after " << totalSeconds << " s";
        EXPECT_NEAR(row[at(kYDigit[0] + kSpinMask[1])], sj * cw, 1e-12) << "after " << totalSeconds << " s";
        EXPECT_NEAR(row[at(kStride[0] + kSpinMask[1])], -sj * sw, 1e-12) << "after " << totalSeconds << " s";
        EXPECT_NEAR(sumOfSquares(row), 1.0, 1e-12);
    }
}

struct DensityMatrixCase {
    const char* name;
    int nSpins;
    std::array<double, 3> offsetHz;
    double j01Hz;
    double j02Hz;
    double j12Hz;
};

void PrintTo(const DensityMatrixCase& param, std::ostream* os)
{
    *os << param.name;
}

class CoupledSpinsAgainstDensityMatrix : public ::testing::TestWithParam<DensityMatrixCase> {};

TEST_P(CoupledSpinsAgainstDensityMatrix, EveryCoefficientMatchesAfterSuccessiveIntervals)
{
    const DensityMatrixCase& param = GetParam();
    SpinTables spins = protons(param.nSpins);
    setCoupling(spins, 0, 1, param.j01Hz);
    if (param.nSpins > 2) {
        setCoupling(spins, 0, 2, param.j02Hz);
        setCoupling(spins, 1, 2, param.j12Hz);
    }
    std::array<double, kSpinSlots> offsetRadPerS{};
    for (int k = 0; k < param.nSpins; ++k) {
        offsetRadPerS[static_cast<std::size_t>(k)] = kTwoPi * param.offsetHz[static_cast<std::size_t>(k)];
    }

    std::vector<double> row = randomRow(param.nSpins, 21);
    DensityMatrix reference(param.nSpins, row);
    const std::vector<double> roundTrip = reference.coefficients();
    ASSERT_EQ(roundTrip.size(), row.size());
    for (std::size_t i = 1; i < row.size(); ++i) {
        ASSERT_NEAR(roundTrip[i], row[i], 1e-14) << "basis round trip, operator " << i;
    }

    for (const double seconds : {0.0007, 0.0123, 0.05, 0.0031, 0.2}) {
        evolveOffsets(row, spins, offsetRadPerS, seconds);
        evolveCouplings(row, spins, seconds);
        reference.evolve(offsetRadPerS, spins, seconds);

        const std::vector<double> expected = reference.coefficients();
        for (std::size_t i = 1; i < row.size(); ++i) {
            EXPECT_NEAR(row[i], expected[i], 1e-11)
                << "operator " << i << " after interval " << seconds << " s";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ProtonSystems, CoupledSpinsAgainstDensityMatrix,
    ::testing::Values(DensityMatrixCase{"TwoProtons", 2, {-85.0, 68.0, 0.0}, 30.0, 0.0, 0.0},
                      DensityMatrixCase{"TwoProtonsOneOnResonance", 2, {0.0, 212.5, 0.0}, -11.0, 0.0, 0.0},
                      DensityMatrixCase{
                          "ThreeProtonsAllCoupled", 3, {-120.0, 15.0, 333.0}, 7.0, 140.0, -5.0}),
    [](const ::testing::TestParamInfo<DensityMatrixCase>& info) { return std::string(info.param.name); });

TEST(FreeEvolutionNorm, RotationsPreserveTheSumOfSquares)
{
    const int nSpins = 5;
    SpinTables spins = protons(nSpins);
    std::mt19937 generator(31);
    std::uniform_real_distribution<double> hz(-400.0, 400.0);
    std::array<double, kSpinSlots> offsetRadPerS{};
    for (int i = 0; i < nSpins; ++i) {
        offsetRadPerS[static_cast<std::size_t>(i)] = kTwoPi * hz(generator);
        for (int j = i + 1; j < nSpins; ++j) {
            setCoupling(spins, i, j, hz(generator) / 4.0);
        }
    }
    std::vector<double> row = randomRow(nSpins, 32);
    const double normBefore = sumOfSquares(row);

    for (int interval = 0; interval < 20; ++interval) {
        evolveOffsets(row, spins, offsetRadPerS, 0.0017 * (interval + 1));
        evolveCouplings(row, spins, 0.0017 * (interval + 1));
    }

    EXPECT_NEAR(sumOfSquares(row) / normBefore, 1.0, 1e-13);
}

}  // namespace
}  // namespace velmora::engine
